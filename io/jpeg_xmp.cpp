#include "io/jpeg_xmp.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <algorithm>
#include <cstring>
#include <map>

namespace {

constexpr char kXmpSignature[] = "http://ns.adobe.com/xap/1.0/";            // with its terminating zero: 29 bytes
constexpr char kExtensionSignature[] = "http://ns.adobe.com/xmp/extension/"; // with its terminating zero: 35 bytes
constexpr std::size_t kXmpHeader = sizeof kXmpSignature;
constexpr std::size_t kExtensionHeader = sizeof kExtensionSignature + 32 + 4 + 4; // digest, full length, offset
constexpr std::size_t kSegmentPayload = 65533;                                     // 65535 less the length field
constexpr std::size_t kStandardMax = kSegmentPayload - kXmpHeader;
constexpr std::size_t kPieceMax = kSegmentPayload - kExtensionHeader;

// The top-level property an XMP key belongs to ("Xmp.xmpMM.History[2]/stEvt:action" belongs to
// "Xmp.xmpMM.History"): the unit that goes whole into one packet or the other.
std::string TopLevelProperty(const std::string& key)
{
    const std::size_t prefixEnd = key.find('.', 4);
    if (prefixEnd == std::string::npos) return key;
    return key.substr(0, key.find_first_of("[/?", prefixEnd + 1));
}

bool Encode(std::string& packet, const Exiv2::XmpData& xmp, bool wrapper)
{
    const std::uint16_t flags = Exiv2::XmpParser::useCompactFormat | (wrapper ? 0 : Exiv2::XmpParser::omitPacketWrapper);
    return Exiv2::XmpParser::encode(packet, xmp, flags) == 0;
}

std::string Md5Hex(const std::string& bytes)
{
    const QByteArray digest = QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                                       QCryptographicHash::Md5);
    return digest.toHex().toUpper().toStdString();
}

void PutBE16(std::vector<std::uint8_t>& out, std::size_t v)
{
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void PutBE32(std::vector<std::uint8_t>& out, std::size_t v)
{
    PutBE16(out, v >> 16 & 0xFFFF);
    PutBE16(out, v & 0xFFFF);
}

std::uint32_t BE32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

struct Segment
{
    std::size_t start;   // of the marker
    std::uint8_t marker;
    const std::uint8_t* payload;
    std::size_t length;  // of the payload
};

// The marker segments before the first scan. Stops quietly at anything malformed: what was found
// up to there is all a reader can trust.
std::vector<Segment> SegmentsBeforeScan(const std::uint8_t* data, std::size_t size)
{
    std::vector<Segment> segments;
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return segments;
    std::size_t at = 2;
    while (at + 4 <= size && data[at] == 0xFF) {
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) break;
        const std::size_t length = std::size_t(data[at + 2]) << 8 | data[at + 3];
        if (length < 2 || at + 2 + length > size) break;
        segments.push_back({at, marker, data + at + 4, length - 2});
        at += 2 + length;
    }
    return segments;
}

bool StartsWith(const Segment& s, const char* signature, std::size_t bytes)
{
    return s.marker == 0xE1 && s.length >= bytes && std::memcmp(s.payload, signature, bytes) == 0;
}

} // namespace

bool SplitXmpForJpeg(const Exiv2::XmpData& xmp, CJpegXmp& out)
{
    out = {};
    if (xmp.empty()) return true;
    if (!Encode(out.standard, xmp, true)) return false;
    if (out.standard.size() <= kStandardMax) return true;

    std::vector<std::string> order;
    std::map<std::string, Exiv2::XmpData> groups;
    for (const Exiv2::Xmpdatum& datum : xmp) {
        const std::string top = TopLevelProperty(datum.key());
        if (top == kHasExtendedXmpKey) continue;
        auto [it, added] = groups.try_emplace(top);
        if (added) order.push_back(top);
        it->second.add(datum);
    }

    // Each property's share of the main packet, measured against a packet holding only the
    // marker; shared namespace declarations make the sum an overestimate, which errs on the side
    // of fitting.
    Exiv2::XmpData marker;
    marker[kHasExtendedXmpKey] = std::string(32, '0');
    std::string base;
    if (!Encode(base, marker, true)) return false;
    std::vector<std::string> inStandard, inExtended;
    std::size_t total = base.size();
    for (const std::string& top : order) {
        Exiv2::XmpData alone = marker;
        for (const Exiv2::Xmpdatum& datum : groups[top]) alone.add(datum);
        std::string packet;
        if (!Encode(packet, alone, true)) return false;
        const std::size_t cost = packet.size() - std::min(packet.size(), base.size());
        if (total + cost <= kStandardMax) {
            total += cost;
            inStandard.push_back(top);
        } else {
            inExtended.push_back(top);
        }
    }

    // Should the estimate still be short, properties move over from the end until the packet fits.
    for (;;) {
        Exiv2::XmpData standard, extended;
        for (const std::string& top : order) {
            const bool main = std::find(inStandard.begin(), inStandard.end(), top) != inStandard.end();
            for (const Exiv2::Xmpdatum& datum : groups[top]) (main ? standard : extended).add(datum);
        }
        if (!Encode(out.extended, extended, false)) return false;
        out.digest = Md5Hex(out.extended);
        standard[kHasExtendedXmpKey] = out.digest;
        if (!Encode(out.standard, standard, true)) return false;
        if (out.standard.size() <= kStandardMax) return true;
        if (inStandard.empty()) return false;
        inExtended.push_back(inStandard.back());
        inStandard.pop_back();
    }
}

bool InsertJpegXmp(std::vector<std::uint8_t>& file, const CJpegXmp& xmp)
{
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) return false;
    if (xmp.standard.empty()) return true;
    std::size_t insertAt = 2;
    for (const Segment& s : SegmentsBeforeScan(file.data(), file.size())) {
        if (s.marker != 0xE0 && !StartsWith(s, "Exif\0", 6)) break;
        insertAt = s.start + 4 + s.length;
    }

    std::vector<std::uint8_t> segments;
    segments.reserve(xmp.standard.size() + xmp.extended.size() * 101 / 100 + 1024);
    segments.push_back(0xFF);
    segments.push_back(0xE1);
    PutBE16(segments, 2 + kXmpHeader + xmp.standard.size());
    segments.insert(segments.end(), kXmpSignature, kXmpSignature + kXmpHeader);
    segments.insert(segments.end(), xmp.standard.begin(), xmp.standard.end());
    for (std::size_t offset = 0; offset < xmp.extended.size(); offset += kPieceMax) {
        const std::size_t piece = std::min(kPieceMax, xmp.extended.size() - offset);
        segments.push_back(0xFF);
        segments.push_back(0xE1);
        PutBE16(segments, 2 + kExtensionHeader + piece);
        segments.insert(segments.end(), kExtensionSignature, kExtensionSignature + sizeof kExtensionSignature);
        segments.insert(segments.end(), xmp.digest.begin(), xmp.digest.end());
        PutBE32(segments, xmp.extended.size());
        PutBE32(segments, offset);
        segments.insert(segments.end(), xmp.extended.begin() + std::ptrdiff_t(offset),
                        xmp.extended.begin() + std::ptrdiff_t(offset + piece));
    }
    file.insert(file.begin() + std::ptrdiff_t(insertAt), segments.begin(), segments.end());
    return true;
}

std::string ReadExtendedXmp(const std::uint8_t* data, std::size_t size, const std::string& digest)
{
    if (digest.size() != 32) return {};
    std::map<std::uint32_t, std::pair<const std::uint8_t*, std::size_t>> pieces; // by offset
    std::uint32_t fullLength = 0;
    for (const Segment& s : SegmentsBeforeScan(data, size)) {
        if (!StartsWith(s, kExtensionSignature, sizeof kExtensionSignature) || s.length < kExtensionHeader) continue;
        const std::uint8_t* p = s.payload + sizeof kExtensionSignature;
        if (std::memcmp(p, digest.data(), 32) != 0) continue;
        const std::uint32_t length = BE32(p + 32), offset = BE32(p + 36);
        if (fullLength != 0 && length != fullLength) return {};
        fullLength = length;
        pieces.emplace(offset, std::make_pair(p + 40, s.length - kExtensionHeader));
    }
    // The pieces lie in this very file, so a length beyond it is a lie.
    if (fullLength == 0 || fullLength > size) return {};
    std::string packet;
    packet.reserve(fullLength);
    for (const auto& [offset, piece] : pieces) {
        if (offset != packet.size() || piece.second > fullLength - packet.size()) return {};
        packet.append(reinterpret_cast<const char*>(piece.first), piece.second);
    }
    return packet.size() == fullLength ? packet : std::string();
}
