#include "core/picture_metadata.h"

#include "core/picture_codec.h"

#include <QFile>
#include <QImageReader>

#include <exiv2/exiv2.hpp>

#include <cstring>
#include <mutex>
#include <new>

struct CPictureMetadata::Tags
{
    Exiv2::ExifData exif;
    Exiv2::XmpData xmp;
    Exiv2::IptcData iptc;
};

namespace {

// The library's XMP toolkit must be set up once before any thread uses it, and its warnings about
// odd files are not ours to print.
void InitialiseExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
    });
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

} // namespace

CPictureMetadata::CPictureMetadata() = default;
CPictureMetadata::~CPictureMetadata() = default;
CPictureMetadata::CPictureMetadata(CPictureMetadata&&) noexcept = default;
CPictureMetadata& CPictureMetadata::operator=(CPictureMetadata&&) noexcept = default;

CPictureMetadata::CPictureMetadata(const CPictureMetadata& other)
    : m_tags(other.m_tags ? std::make_unique<Tags>(*other.m_tags) : nullptr), m_icc(other.m_icc)
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
    InitialiseExiv2();
    CPictureMetadata result;
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        if (!image.get()) return result;
        image->readMetadata();
        if (!image->exifData().empty() || !image->xmpData().empty() || !image->iptcData().empty()) {
            auto tags = std::make_unique<Tags>();
            tags->exif = image->exifData();
            tags->xmp = image->xmpData();
            tags->iptc = image->iptcData();
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
                                 std::string* reason) const
{
    InitialiseExiv2();
    try {
        auto image = Exiv2::ImageFactory::open(file.data(), static_cast<long>(file.size()));
        if (!image.get()) return Fail(reason, "the file's format cannot carry metadata");
        image->readMetadata(); // what the encoder itself wrote (dimensions of a TIFF, say)
        if (m_tags) {
            Exiv2::ExifData exif = m_tags->exif;
            for (const char* key : kStructureTags) EraseExif(exif, key);
            Exiv2::ExifThumb(exif).erase();
            const auto w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
            SetExifIfPresent(exif, "Exif.Image.Orientation", 1, true);
            SetExifIfPresent(exif, "Exif.Photo.PixelXDimension", w, false);
            SetExifIfPresent(exif, "Exif.Photo.PixelYDimension", h, false);
            Exiv2::XmpData xmp = m_tags->xmp;
            SetXmpIfPresent(xmp, "Xmp.tiff.Orientation", 1);
            SetXmpIfPresent(xmp, "Xmp.tiff.ImageWidth", w);
            SetXmpIfPresent(xmp, "Xmp.tiff.ImageLength", h);
            SetXmpIfPresent(xmp, "Xmp.exif.PixelXDimension", w);
            SetXmpIfPresent(xmp, "Xmp.exif.PixelYDimension", h);
            // A TIFF's own structure tags (written by its encoder) come from the file just read.
            for (const auto& datum : image->exifData()) {
                if (exif.findKey(Exiv2::ExifKey(datum.key())) == exif.end()) exif.add(datum);
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
        Exiv2::ExifData exif = m_tags->exif;
        for (const char* key : kStructureTags) EraseExif(exif, key);
        Exiv2::ExifThumb(exif).erase();
        // Pointers to sub-directories are laid out anew by the encoder.
        for (const char* key : {"Exif.Image.ExifTag", "Exif.Image.GPSTag", "Exif.Photo.InteroperabilityTag"})
            EraseExif(exif, key);
        const auto w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
        SetExifIfPresent(exif, "Exif.Image.Orientation", 1, true);
        SetExifIfPresent(exif, "Exif.Photo.PixelXDimension", w, false);
        SetExifIfPresent(exif, "Exif.Photo.PixelYDimension", h, false);
        Exiv2::XmpData xmp = m_tags->xmp;
        SetXmpIfPresent(xmp, "Xmp.tiff.Orientation", 1);
        SetXmpIfPresent(xmp, "Xmp.tiff.ImageWidth", w);
        SetXmpIfPresent(xmp, "Xmp.tiff.ImageLength", h);
        SetXmpIfPresent(xmp, "Xmp.exif.PixelXDimension", w);
        SetXmpIfPresent(xmp, "Xmp.exif.PixelYDimension", h);
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

bool LoadPictureAndMetadata(const QString& path, CImage& picture, CPictureMetadata& metadata, QString* reason)
{
    CImage loaded;
    if (!LoadPicture(path, loaded, reason)) return false;
    CPictureMetadata read = CPictureMetadata::Read(path);
    if (read.orientation() > 1) {
        QImageReader reader(path);
        if (!reader.supportsOption(QImageIOHandler::ImageTransformation) && !ApplyOrientation(loaded, read.orientation())) {
            if (reason) *reason = QStringLiteral("not enough memory");
            return false;
        }
    }
    picture = std::move(loaded);
    metadata = std::move(read);
    return true;
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
