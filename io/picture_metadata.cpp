#include "io/picture_metadata.h"

#include "io/jpeg_xmp.h"

#include <QFile>

#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>

#include <cstring>
#include <mutex>
#include <new>
#include <set>

struct CPictureMetadata::Tags
{
    Exiv2::ExifData exif;
    Exiv2::XmpData xmp;
    Exiv2::IptcData iptc;
};

namespace {

void LockXmpToolkit(void* mutex, bool lock)
{
    auto* m = static_cast<std::recursive_mutex*>(mutex);
    if (lock) m->lock();
    else m->unlock();
}

// The library's XMP toolkit must be set up once before any thread uses it, with a lock, since files
// opened and saved on different threads register the namespaces they bring. Its warnings about
// odd files are not ours to print.
void InitialiseExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        static std::recursive_mutex xmpLock;
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(LockXmpToolkit, &xmpLock);
        Exiv2::XmpProperties::registerNs("http://ns.adobe.com/xmp/note/", "xmpNote");
    });
}

const QString kDamagedProfile = QStringLiteral("colour profile (damaged)");

// A profile whose header contradicts its length or lacks the signature every ICC profile carries.
// Written into a JPEG it makes the metadata library refuse the whole file, other blocks and all.
bool SoundIccProfile(const std::vector<std::uint8_t>& icc)
{
    if (icc.size() < 132) return false;
    const std::size_t declared = std::size_t(icc[0]) << 24 | std::size_t(icc[1]) << 16 | std::size_t(icc[2]) << 8 | icc[3];
    return declared == icc.size() && std::memcmp(icc.data() + 36, "acsp", 4) == 0;
}

// The JPEG at `data` without its colour profile segments, so that the other blocks can be read
// when the profile is damaged. False for anything but a JPEG whose segments can be walked.
bool JpegWithoutProfile(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out)
{
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    out.assign(data, data + 2);
    std::size_t at = 2;
    while (at + 4 <= size && data[at] == 0xFF && data[at + 1] != 0xDA && data[at + 1] != 0xD9) {
        const std::size_t length = std::size_t(data[at + 2]) << 8 | data[at + 3];
        if (length < 2 || at + 2 + length > size) return false;
        const bool profile = data[at + 1] == 0xE2 && length >= 14 && std::memcmp(data + at + 4, "ICC_PROFILE", 12) == 0;
        if (!profile) out.insert(out.end(), data + at, data + at + 2 + length);
        at += 2 + length;
    }
    out.insert(out.end(), data + at, data + size);
    return true;
}

// XMP in a JPEG's extension segments joins the main packet: from here on it is one packet, and the
// save decides afresh what goes where.
void JoinExtendedXmp(const std::uint8_t* data, std::size_t size, Exiv2::XmpData& xmp)
{
    const auto marker = xmp.findKey(Exiv2::XmpKey(kHasExtendedXmpKey));
    if (marker == xmp.end()) return;
    const std::string packet = ReadExtendedXmp(data, size, marker->toString());
    Exiv2::XmpData extended;
    if (packet.empty() || Exiv2::XmpParser::decode(extended, packet) != 0) return;
    xmp.erase(marker);
    std::set<std::string> present;
    for (const Exiv2::Xmpdatum& datum : xmp) present.insert(datum.key());
    for (const Exiv2::Xmpdatum& datum : extended)
        if (!present.count(datum.key())) xmp.add(datum);
}

void EraseXmp(Exiv2::XmpData& xmp, const char* key)
{
    for (auto it = xmp.findKey(Exiv2::XmpKey(key)); it != xmp.end(); it = xmp.findKey(Exiv2::XmpKey(key))) xmp.erase(it);
}

// The most a JPEG's EXIF segment holds, after its "Exif\0\0" header.
constexpr std::size_t kJpegExifMax = 65527;

// Tags a JPEG's EXIF never holds, whatever its size: copies of the XMP and IPTC blocks (written in
// their own segments) and the directories of other images in a TIFF.
bool NeverInJpegExif(const Exiv2::Exifdatum& datum)
{
    const std::string group = datum.groupName();
    return datum.key() == "Exif.Image.XMLPacket" || datum.key() == "Exif.Image.IPTCNAA" || group.rfind("SubImage", 0) == 0 ||
           group == "Image2" || group == "Image3" || group == "Thumbnail";
}

// What EXIF tags a JPEG's segment can take. The metadata library drops the largest tags one by one
// until the block fits, or writes a block no JPEG can hold; either way the user hears of it.
void FitExifIntoJpeg(Exiv2::ExifData& exif, QStringList* leftOut)
{
    if (exif.empty()) return;
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    if (blob.size() > kJpegExifMax) {
        exif.clear();
        if (leftOut) leftOut->append(QLatin1String(kExifTooLarge));
        return;
    }
    std::size_t stored = 8;
    for (const Exiv2::Exifdatum& datum : exif) stored += 12 + (datum.size() > 4 ? std::size_t(datum.size()) : 0);
    if (stored <= kJpegExifMax || blob.empty()) return;
    Exiv2::ExifData written;
    Exiv2::ExifParser::decode(written, blob.data(), static_cast<std::uint32_t>(blob.size()));
    QStringList lost;
    for (const Exiv2::Exifdatum& datum : exif)
        if (!NeverInJpegExif(datum) && written.findKey(Exiv2::ExifKey(datum.key())) == written.end())
            lost.append(QString::fromStdString(datum.key()));
    lost.removeDuplicates();
    if (!lost.isEmpty() && leftOut)
        leftOut->append(QStringLiteral("EXIF %1 %2 (larger than a JPEG segment holds)")
                            .arg(lost.size() == 1 ? QStringLiteral("tag") : QStringLiteral("tags"), lost.join(QStringLiteral(", "))));
}

// Tags that describe how the pixels are stored in the file they came from. The encoder of the new
// file writes its own; carried over they would describe strips and samples that no longer exist.
const char* const kStructureTags[] = {
    "Exif.Image.NewSubfileType",  "Exif.Image.SubfileType",     "Exif.Image.ImageWidth",
    "Exif.Image.ImageLength",     "Exif.Image.BitsPerSample",   "Exif.Image.Compression",
    "Exif.Image.PhotometricInterpretation", "Exif.Image.FillOrder", "Exif.Image.StripOffsets",
    "Exif.Image.SamplesPerPixel", "Exif.Image.RowsPerStrip",    "Exif.Image.StripByteCounts",
    "Exif.Image.PlanarConfiguration", "Exif.Image.Predictor",   "Exif.Image.TileWidth",
    "Exif.Image.TileLength",      "Exif.Image.TileOffsets",     "Exif.Image.TileByteCounts",
    "Exif.Image.ExtraSamples",    "Exif.Image.SampleFormat",    "Exif.Image.InterColorProfile",
    "Exif.Image.JPEGTables",      "Exif.Image.YCbCrSubSampling", "Exif.Image.YCbCrPositioning",
};

void EraseExif(Exiv2::ExifData& exif, const char* key)
{
    for (auto it = exif.findKey(Exiv2::ExifKey(key)); it != exif.end(); it = exif.findKey(Exiv2::ExifKey(key)))
        exif.erase(it);
}

void SetExifIfPresent(Exiv2::ExifData& exif, const char* key, std::uint32_t value, bool asShort)
{
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end()) return;
    if (asShort) it->setValue(std::to_string(value));
    else {
        Exiv2::ULongValue v;
        v.value_.push_back(value);
        it->setValue(&v);
    }
}

void SetXmpIfPresent(Exiv2::XmpData& xmp, const char* key, std::uint32_t value)
{
    const auto it = xmp.findKey(Exiv2::XmpKey(key));
    if (it != xmp.end()) it->setValue(std::to_string(value));
}

bool Fail(std::string* reason, const std::string& text)
{
    if (reason) *reason = text;
    return false;
}

// The tags as they describe the upright `width` x `height` picture being saved: no structure of the
// file they came from, no thumbnail of the old pixels, orientation 1 and the new pixel size.
void DescribeUpright(const Exiv2::ExifData& fromExif, const Exiv2::XmpData& fromXmp, int width, int height,
                     Exiv2::ExifData& exif, Exiv2::XmpData& xmp)
{
    exif = fromExif;
    for (const char* key : kStructureTags) EraseExif(exif, key);
    Exiv2::ExifThumb(exif).erase();
    const auto w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
    SetExifIfPresent(exif, "Exif.Image.Orientation", 1, true);
    SetExifIfPresent(exif, "Exif.Photo.PixelXDimension", w, false);
    SetExifIfPresent(exif, "Exif.Photo.PixelYDimension", h, false);
    xmp = fromXmp;
    SetXmpIfPresent(xmp, "Xmp.tiff.Orientation", 1);
    SetXmpIfPresent(xmp, "Xmp.tiff.ImageWidth", w);
    SetXmpIfPresent(xmp, "Xmp.tiff.ImageLength", h);
    SetXmpIfPresent(xmp, "Xmp.exif.PixelXDimension", w);
    SetXmpIfPresent(xmp, "Xmp.exif.PixelYDimension", h);
    // A digest of a packet that is about to be rewritten names nothing.
    EraseXmp(xmp, kHasExtendedXmpKey);
}

} // namespace

CPictureMetadata::CPictureMetadata() = default;
CPictureMetadata::~CPictureMetadata() = default;
CPictureMetadata::CPictureMetadata(CPictureMetadata&&) noexcept = default;
CPictureMetadata& CPictureMetadata::operator=(CPictureMetadata&&) noexcept = default;

CPictureMetadata::CPictureMetadata(const CPictureMetadata& other)
    : m_tags(other.m_tags ? std::make_unique<Tags>(*other.m_tags) : nullptr), m_icc(other.m_icc), m_damaged(other.m_damaged)
{
}

CPictureMetadata& CPictureMetadata::operator=(const CPictureMetadata& other)
{
    if (this != &other) {
        CPictureMetadata copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CPictureMetadata CPictureMetadata::Read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const qint64 size = file.size();
    if (size <= 0) return {};
    QByteArray owned;
    const uchar* data = file.map(0, size);
    if (!data) {
        owned = file.readAll();
        if (owned.size() != size) return {};
        data = reinterpret_cast<const uchar*>(owned.constData());
    }
    return ReadFromMemory(data, static_cast<std::size_t>(size));
}

CPictureMetadata CPictureMetadata::ReadFromMemory(const std::uint8_t* data, std::size_t size)
{
    InitialiseExiv2();
    CPictureMetadata result;
    try {
        auto image = Exiv2::ImageFactory::open(data, static_cast<long>(size));
        if (!image.get()) return result;
        std::vector<std::uint8_t> withoutProfile;
        try {
            image->readMetadata();
        } catch (const Exiv2::AnyError& e) {
            // The library gives up on the whole file over a profile it cannot trust; the other
            // blocks are read again without it.
            if (e.code() != Exiv2::kerInvalidIccProfile || !JpegWithoutProfile(data, size, withoutProfile)) throw;
            result.m_damaged.append(kDamagedProfile);
            image = Exiv2::ImageFactory::open(withoutProfile.data(), static_cast<long>(withoutProfile.size()));
            if (!image.get()) return result;
            image->readMetadata();
        }
        if (!image->exifData().empty() || !image->xmpData().empty() || !image->iptcData().empty()) {
            auto tags = std::make_unique<Tags>();
            tags->exif = image->exifData();
            tags->xmp = image->xmpData();
            tags->iptc = image->iptcData();
            if (image->imageType() == Exiv2::ImageType::jpeg) JoinExtendedXmp(data, size, tags->xmp);
            result.m_tags = std::move(tags);
        }
        if (image->iccProfileDefined()) {
            const Exiv2::DataBuf* icc = image->iccProfile();
            result.m_icc.assign(icc->pData_, icc->pData_ + icc->size_);
        } else if (result.m_tags) {
            // Readers that leave a TIFF's profile among the tags.
            const auto it = result.m_tags->exif.findKey(Exiv2::ExifKey("Exif.Image.InterColorProfile"));
            if (it != result.m_tags->exif.end() && it->size() > 0) {
                result.m_icc.resize(it->size());
                it->copy(result.m_icc.data(), Exiv2::invalidByteOrder);
            }
        }
        if (!result.m_icc.empty() && !SoundIccProfile(result.m_icc)) {
            result.m_icc.clear();
            result.m_damaged.append(kDamagedProfile);
        }
    } catch (const Exiv2::AnyError&) {
        return {};
    } catch (const std::exception&) {
        return {};
    }
    return result;
}

bool CPictureMetadata::HasNoTags() const
{
    return !m_tags || (m_tags->exif.empty() && m_tags->xmp.empty() && m_tags->iptc.empty());
}

int CPictureMetadata::orientation() const
{
    if (!m_tags) return 1;
    const auto it = m_tags->exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (it == m_tags->exif.end() || it->count() == 0) return 1;
    const long value = it->toLong();
    return value >= 1 && value <= 8 ? int(value) : 1;
}

void CPictureMetadata::StripTags()
{
    m_tags.reset();
}

bool CPictureMetadata::WriteInto(std::vector<std::uint8_t>& file, int width, int height, bool withIcc,
                                 std::string* reason, QStringList* leftOut) const
{
    InitialiseExiv2();
    try {
        auto image = Exiv2::ImageFactory::open(file.data(), static_cast<long>(file.size()));
        if (!image.get()) return Fail(reason, "the file's format cannot carry metadata");
        image->readMetadata(); // what the encoder itself wrote (dimensions of a TIFF, say)
        const bool jpeg = image->imageType() == Exiv2::ImageType::jpeg;
        CJpegXmp jpegXmp;
        if (m_tags) {
            Exiv2::ExifData exif;
            Exiv2::XmpData xmp;
            DescribeUpright(m_tags->exif, m_tags->xmp, width, height, exif, xmp);
            // A TIFF's own structure tags (written by its encoder) come from the file just read.
            for (const auto& datum : image->exifData()) {
                if (exif.findKey(Exiv2::ExifKey(datum.key())) == exif.end()) exif.add(datum);
            }
            if (jpeg) {
                FitExifIntoJpeg(exif, leftOut);
                // Written here rather than by the library, which refuses a packet over one segment.
                if (!SplitXmpForJpeg(xmp, jpegXmp)) {
                    jpegXmp = {};
                    if (leftOut) leftOut->append(QLatin1String(kXmpNotEncoded));
                }
                xmp.clear();
            }
            image->setExifData(exif);
            image->setXmpData(xmp);
            image->setIptcData(m_tags->iptc);
        }
        if (withIcc && !m_icc.empty()) {
            Exiv2::DataBuf icc(m_icc.data(), static_cast<long>(m_icc.size()));
            image->setIccProfile(icc, false);
        }
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        if (io.open() != 0) return Fail(reason, "the metadata could not be written");
        const long size = io.size();
        std::vector<std::uint8_t> rewritten(static_cast<std::size_t>(size));
        io.seek(0, Exiv2::BasicIo::beg);
        const long got = size > 0 ? io.read(rewritten.data(), size) : 0;
        io.close();
        if (got != size || size <= 0) return Fail(reason, "the metadata could not be written");
        if (jpeg && !InsertJpegXmp(rewritten, jpegXmp)) return Fail(reason, "the metadata could not be written");
        file = std::move(rewritten);
        return true;
    } catch (const Exiv2::AnyError& e) {
        return Fail(reason, std::string("the metadata could not be written: ") + e.what());
    } catch (const std::bad_alloc&) {
        return Fail(reason, "not enough memory");
    } catch (const std::exception& e) {
        return Fail(reason, std::string("the metadata could not be written: ") + e.what());
    }
}

bool CPictureMetadata::EncodeBlocks(int width, int height, Blocks& blocks, std::string* reason) const
{
    blocks = {};
    if (HasNoTags()) return true;
    InitialiseExiv2();
    try {
        Exiv2::ExifData exif;
        Exiv2::XmpData xmp;
        DescribeUpright(m_tags->exif, m_tags->xmp, width, height, exif, xmp);
        // Pointers to sub-directories are laid out anew by the encoder.
        for (const char* key : {"Exif.Image.ExifTag", "Exif.Image.GPSTag", "Exif.Photo.InteroperabilityTag"})
            EraseExif(exif, key);
        if (!exif.empty()) {
            Exiv2::Blob blob;
            Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
            blocks.exif.assign(blob.begin(), blob.end());
        }
        if (!xmp.empty() && Exiv2::XmpParser::encode(blocks.xmp, xmp, Exiv2::XmpParser::useCompactFormat) != 0)
            return Fail(reason, "the XMP tags could not be encoded");
        if (!m_tags->iptc.empty()) {
            const Exiv2::DataBuf iptc = Exiv2::IptcParser::encode(m_tags->iptc);
            blocks.iptc.assign(iptc.pData_, iptc.pData_ + iptc.size_);
        }
        return true;
    } catch (const Exiv2::AnyError& e) {
        blocks = {};
        return Fail(reason, std::string("the metadata could not be written: ") + e.what());
    } catch (const std::bad_alloc&) {
        blocks = {};
        return Fail(reason, "not enough memory");
    } catch (const std::exception& e) {
        blocks = {};
        return Fail(reason, std::string("the metadata could not be written: ") + e.what());
    }
}

bool ApplyOrientation(CImage& picture, int orientation)
{
    if (orientation < 2 || orientation > 8 || picture.IsNull() || picture.bitsPerPixel() != 24) return true;
    const int w = picture.width(), h = picture.height();
    // Orientations 5..8 store the picture transposed.
    const bool transposed = orientation >= 5;
    const int ow = transposed ? h : w, oh = transposed ? w : h;
    CImage upright;
    if (!upright.Create(ow, oh, 24)) return false;
    const std::uint8_t* src = picture.bits();
    const int sp = picture.pitch();
    std::uint8_t* dst = upright.bits();
    const int dp = upright.pitch();
    for (int y = 0; y < oh; ++y) {
        std::uint8_t* out = dst + std::ptrdiff_t(y) * dp;
        for (int x = 0; x < ow; ++x, out += 3) {
            // (sx, sy): where the upright pixel (x, y) is stored.
            int sx = x, sy = y;
            switch (orientation) {
            case 2: sx = w - 1 - x; break;
            case 3: sx = w - 1 - x; sy = h - 1 - y; break;
            case 4: sy = h - 1 - y; break;
            case 5: sx = y; sy = x; break;
            case 6: sx = y; sy = h - 1 - x; break;
            case 7: sx = w - 1 - y; sy = h - 1 - x; break;
            case 8: sx = w - 1 - y; sy = x; break;
            default: break;
            }
            std::memcpy(out, src + std::ptrdiff_t(sy) * sp + 3 * sx, 3);
        }
    }
    picture = std::move(upright);
    return true;
}
