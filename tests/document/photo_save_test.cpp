#include "document/orvex_doc.h"
#include "io/colour_profile.h"
#include "io/device_write.h"
#include "io/jpeg_encoder.h"
#include "io/picture_codec.h"
#include "io/picture_file.h"
#include "io/picture_metadata.h"
#include "io/picture_save.h"
#include "io/png_encoder.h"
#include "io/saved_file_check.h"
#include "io/tiff_writer.h"
#include "tests/test_pictures.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QIODevice>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <new>

using namespace test_pictures;

namespace {

// Smooth shading with some fine texture: what a photograph looks like to an encoder.
CImage PhotoLike(int width, int height)
{
    CImage image;
    image.Create(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height;
            const double texture = 12 * std::sin(x * 0.9) * std::cos(y * 0.7);
            std::uint8_t* p = Pixel(image, x, y);
            p[0] = static_cast<std::uint8_t>(std::clamp(60 + 120 * v + texture, 0.0, 255.0));
            p[1] = static_cast<std::uint8_t>(std::clamp(40 + 150 * u * v + texture, 0.0, 255.0));
            p[2] = static_cast<std::uint8_t>(std::clamp(200 - 140 * u + texture, 0.0, 255.0));
        }
    return image;
}

double Psnr(const CImage& a, const CImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int i = 0; i < a.width() * 3; ++i) {
            const double d = double(Pixel(a, 0, y)[i]) - Pixel(b, 0, y)[i];
            sum += d * d;
        }
    const double mse = sum / (double(a.width()) * a.height() * 3);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

std::vector<std::uint8_t> ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    return {bytes.begin(), bytes.end()};
}

void WriteAll(const QString& path, const std::vector<std::uint8_t>& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
}

// The horizontal and vertical sampling factors of the first component, from the frame header.
std::pair<int, int> LumaSampling(const std::vector<std::uint8_t>& jpeg)
{
    for (std::size_t i = 2; i + 12 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) return {jpeg[i + 11] >> 4, jpeg[i + 11] & 15};
    return {0, 0};
}

// A matrix/curve profile with the Display P3 primaries, made as a colour-managed application would.
std::vector<std::uint8_t> DisplayP3Profile()
{
    const cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE p3 = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
    const double params[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, params);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&d65, &p3, curves);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(curve);
    return bytes;
}

using TagMap = std::map<std::string, std::string>;

// Every EXIF, XMP and IPTC tag of a file by name, with its value as text.
TagMap Tags(const QString& path)
{
    TagMap tags;
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    for (const auto& d : image->exifData()) tags["exif " + d.key()] = d.toString();
    for (const auto& d : image->xmpData()) tags["xmp " + d.key()] = d.toString();
    for (const auto& d : image->iptcData()) tags["iptc " + d.key()] += d.toString() + ";";
    return tags;
}

// Writes a camera's worth of tags into an existing file, as a camera or photo manager would.
void WriteCameraTags(const QString& path, int orientation, const std::vector<std::uint8_t>& icc)
{
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    Exiv2::ExifData& exif = image->exifData();
    exif["Exif.Image.Make"] = "Orvex Test Camera";
    exif["Exif.Image.Model"] = "OT-1";
    exif["Exif.Image.Orientation"] = std::uint16_t(orientation);
    exif["Exif.Image.Artist"] = "Ann Example";
    exif["Exif.Image.Copyright"] = "(c) 2024 Ann Example";
    exif["Exif.Image.Software"] = "Firmware 1.02";
    exif["Exif.Image.DateTime"] = "2024:05:06 07:08:09";
    exif["Exif.Photo.DateTimeOriginal"] = "2024:05:06 07:08:09";
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 250);
    exif["Exif.Photo.FNumber"] = Exiv2::URational(28, 10);
    exif["Exif.Photo.ISOSpeedRatings"] = std::uint16_t(400);
    exif["Exif.Photo.FocalLength"] = Exiv2::URational(35, 1);
    exif["Exif.Photo.LensModel"] = "35mm F2.8";
    exif["Exif.Photo.PixelXDimension"] = std::uint32_t(9999);
    exif["Exif.Photo.PixelYDimension"] = std::uint32_t(8888);
    exif["Exif.Photo.UserComment"] = "charset=Ascii Harbour at dawn";
    exif["Exif.GPSInfo.GPSVersionID"] = "2 3 0 0";
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    exif["Exif.GPSInfo.GPSLatitude"] = "59/1 54/1 3000/100";
    exif["Exif.GPSInfo.GPSLongitudeRef"] = "E";
    exif["Exif.GPSInfo.GPSLongitude"] = "10/1 45/1 0/1";
    Exiv2::XmpData& xmp = image->xmpData();
    xmp["Xmp.dc.title"] = "lang=x-default Harbour";
    xmp["Xmp.dc.creator"] = "Ann Example";
    xmp["Xmp.xmp.Rating"] = "4";
    xmp["Xmp.tiff.Orientation"] = std::to_string(orientation);
    xmp["Xmp.photoshop.City"] = "Oslo";
    Exiv2::IptcData& iptc = image->iptcData();
    iptc["Iptc.Application2.City"] = "Oslo";
    iptc["Iptc.Application2.Headline"] = "Harbour at dawn";
    iptc["Iptc.Application2.Byline"] = "Ann Example";
    if (!icc.empty()) {
        Exiv2::DataBuf buf(icc.data(), long(icc.size()));
        image->setIccProfile(buf, false);
    }
    image->writeMetadata();
}

// Tags whose value the save changes on purpose: orientation, pixel size, and the offsets at which
// the sub-directories happen to lie in a file.
bool IsOrientationOrSize(const std::string& key)
{
    return key == "exif Exif.Image.ExifTag" || key == "exif Exif.Image.GPSTag" ||
           key == "exif Exif.Photo.InteroperabilityTag" || key.find("Orientation") != std::string::npos || key.find("PixelXDimension") != std::string::npos ||
           key.find("PixelYDimension") != std::string::npos;
}

class PhotoSave : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }
};

} // namespace

TEST_F(PhotoSave, JpegDefaultsToQuality92WithFullChromaAndKeepsThePixels)
{
    const CImage picture = PhotoLike(320, 200);
    ASSERT_TRUE(SavePicture(picture, Path("q92.jpg")));
    const std::vector<std::uint8_t> q92 = ReadAll(Path("q92.jpg"));
    EXPECT_EQ(LumaSampling(q92), std::make_pair(1, 1));

    CImage decoded;
    ASSERT_TRUE(LoadPicture(Path("q92.jpg"), decoded));
    EXPECT_GT(Psnr(picture, decoded), 40.0);

    // Below 90 the chroma is halved both ways and the file shrinks; the writer's old default (75)
    // is well below what the default now keeps.
    CSaveOptions low;
    low.jpeg.quality = 75;
    ASSERT_TRUE(SavePictureWith(picture, Path("q75.jpg"), low, nullptr));
    const std::vector<std::uint8_t> q75 = ReadAll(Path("q75.jpg"));
    EXPECT_EQ(LumaSampling(q75), std::make_pair(2, 2));
    EXPECT_LT(q75.size() * 3, q92.size() * 2);

    // Decoding and saving again at the same quality does not drift.
    CImage again;
    ASSERT_TRUE(SavePicture(decoded, Path("again.jpg")));
    ASSERT_TRUE(LoadPicture(Path("again.jpg"), again));
    EXPECT_GT(Psnr(decoded, again), 40.0);
}

TEST_F(PhotoSave, AJpegIsSavedAgainWithTheChromaSamplingItWasOpenedWith)
{
    // A camera's 4:2:0 file, with an EXIF block (and its tags) before the frame header.
    const CImage picture = PhotoLike(160, 120);
    const std::pair<ChromaSubsampling, std::pair<int, int>> samplings[] = {
        {ChromaSubsampling::Quarter420, {2, 2}}, {ChromaSubsampling::Half422, {2, 1}}, {ChromaSubsampling::Full444, {1, 1}}};
    for (const auto& [sampling, factors] : samplings) {
        CSaveOptions camera;
        camera.jpeg.quality = 95;
        camera.jpeg.subsampling = sampling;
        ASSERT_TRUE(SavePictureWith(picture, Path("camera.jpg"), camera, nullptr));
        WriteCameraTags(Path("camera.jpg"), 1, {});
        EXPECT_EQ(JpegFileSubsampling(Path("camera.jpg")), sampling);

        COrvexDoc doc;
        ASSERT_TRUE(doc.Open(Path("camera.jpg")));
        doc.engine().Invert();
        ASSERT_TRUE(doc.CommitChange());
        ASSERT_TRUE(doc.Save(Path("saved.jpg")));
        EXPECT_EQ(LumaSampling(ReadAll(Path("saved.jpg"))), factors);
    }

    // Pictures from other formats keep the quality rule; a chosen sampling beats the original.
    COrvexDoc png;
    ASSERT_TRUE(SavePicture(picture, Path("p.png")));
    ASSERT_TRUE(png.Open(Path("p.png")));
    ASSERT_TRUE(png.Save(Path("from-png.jpg")));
    EXPECT_EQ(LumaSampling(ReadAll(Path("from-png.jpg"))), std::make_pair(1, 1));
    CJpegOptions chosen;
    chosen.original = ChromaSubsampling::Quarter420;
    chosen.subsampling = ChromaSubsampling::Full444;
    EXPECT_EQ(EffectiveSubsampling(chosen), ChromaSubsampling::Full444);
    // Below quality 90 a 4:4:4 or 4:2:2 original still gets the smaller 4:2:0.
    CJpegOptions low;
    low.quality = 80;
    low.original = ChromaSubsampling::Half422;
    EXPECT_EQ(EffectiveSubsampling(low), ChromaSubsampling::Quarter420);

    // Files that are not JPEGs, greyscale frames, unusual samplings and cut headers say nothing.
    EXPECT_EQ(JpegFileSubsampling(Path("p.png")), ChromaSubsampling::Automatic);
    EXPECT_EQ(JpegFileSubsampling(Path("missing.jpg")), ChromaSubsampling::Automatic);
    const std::vector<std::uint8_t> whole = ReadAll(Path("saved.jpg"));
    std::size_t frame = 0;
    for (std::size_t i = 2; i + 1 < whole.size() && !frame; ++i)
        if (whole[i] == 0xFF && whole[i + 1] == 0xC0) frame = i;
    ASSERT_GT(frame, 0u);
    for (std::size_t cut : {std::size_t(0), std::size_t(3), frame + 2, frame + 12})
        EXPECT_EQ(JpegFrameSubsampling(whole.data(), cut), ChromaSubsampling::Automatic) << cut;
    EXPECT_EQ(JpegFrameSubsampling(whole.data(), whole.size()), ChromaSubsampling::Full444);
    std::vector<std::uint8_t> odd = whole;
    odd[frame + 11] = 0x12; // 4:4:0
    EXPECT_EQ(JpegFrameSubsampling(odd.data(), odd.size()), ChromaSubsampling::Automatic);
    odd[frame + 9] = 1; // one component
    EXPECT_EQ(JpegFrameSubsampling(odd.data(), odd.size()), ChromaSubsampling::Automatic);
}

TEST_F(PhotoSave, JpegStripsJoinIntoTheSameFileWhateverTheirNumber)
{
    const std::vector<std::uint8_t> none;
    for (ChromaSubsampling sampling : {ChromaSubsampling::Full444, ChromaSubsampling::Quarter420, ChromaSubsampling::Half422}) {
        for (const auto& [w, h] : {std::pair{1, 1}, std::pair{37, 129}, std::pair{64, 300}, std::pair{5, 17}}) {
            const CImage picture = Noise(w, h, std::uint32_t(w * 131 + h));
            CJpegOptions options;
            options.subsampling = sampling;
            options.strips = 1;
            std::vector<std::uint8_t> single, split;
            ASSERT_TRUE(EncodeJpeg(picture, options, none, single, nullptr));
            for (int strips : {2, 3, 7}) {
                options.strips = strips;
                ASSERT_TRUE(EncodeJpeg(picture, options, none, split, nullptr));
                EXPECT_EQ(split, single) << w << "x" << h << " in " << strips << " strips";
            }
            QImage decoded;
            ASSERT_TRUE(decoded.loadFromData(split.data(), int(split.size()), "JPEG")) << w << "x" << h;
            EXPECT_EQ(decoded.size(), QSize(w, h));
        }
    }
    // Progressive files are one encode.
    CJpegOptions progressive;
    progressive.progressive = true;
    std::vector<std::uint8_t> file;
    ASSERT_TRUE(EncodeJpeg(PhotoLike(40, 300), progressive, none, file, nullptr));
    QImage decoded;
    ASSERT_TRUE(decoded.loadFromData(file.data(), int(file.size()), "JPEG"));
}

TEST_F(PhotoSave, PngPiecesDecodeToTheExactPixels)
{
    const std::vector<std::uint8_t> none;
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{2, 3}, std::pair{6, 1}, std::pair{17, 5}, std::pair{67, 401}}) {
        for (int kind = 0; kind < 2; ++kind) {
            const CImage picture = kind ? Noise(w, h, std::uint32_t(w + 7 * h)) : PhotoLike(w, h);
            for (int pieces : {1, 2, 5}) {
                for (int strategy : {-1, 0, 3}) {
                    CPngOptions options;
                    options.pieces = pieces;
                    options.strategy = strategy;
                    std::vector<std::uint8_t> file;
                    ASSERT_TRUE(EncodePng(picture, options, none, file, nullptr));
                    QImage image;
                    ASSERT_TRUE(image.loadFromData(file.data(), int(file.size()), "PNG"));
                    CImage decoded;
                    ASSERT_TRUE(PictureFromQImage(image, decoded));
                    EXPECT_TRUE(SamePixels(decoded, picture)) << w << "x" << h << " pieces " << pieces << " strategy " << strategy;
                }
            }
        }
    }
}

TEST_F(PhotoSave, TagsAndProfileSurviveOpenFilterSaveInEveryFormatThatCarriesThem)
{
    const std::vector<std::uint8_t> p3 = DisplayP3Profile();
    ASSERT_TRUE(SavePicture(PhotoLike(96, 64), Path("camera.jpg")));
    WriteCameraTags(Path("camera.jpg"), 1, p3);
    const TagMap original = Tags(Path("camera.jpg"));
    ASSERT_GT(original.size(), 25u);

    COrvexDoc doc;
    ASSERT_TRUE(doc.Open(Path("camera.jpg")));
    EXPECT_EQ(doc.metadata().iccProfile(), p3);
    doc.engine().Invert();
    ASSERT_TRUE(doc.CommitChange());

    for (const char* name : {"out.jpg", "out.png", "out.tif", "out.webp"}) {
        ASSERT_TRUE(doc.Save(Path(name))) << name << ": " << doc.lastError().toStdString();
        const TagMap saved = Tags(Path(name));
        const bool webp = QString::fromLatin1(name).endsWith(".webp");
        for (const auto& [key, value] : original) {
            if (IsOrientationOrSize(key) || key.rfind("exif Exif.Thumbnail", 0) == 0) continue;
            if (webp && key.rfind("iptc", 0) == 0) continue; // WebP has no place for IPTC
            const auto it = saved.find(key);
            ASSERT_NE(it, saved.end()) << name << " lost " << key;
            EXPECT_EQ(it->second, value) << name << " changed " << key;
        }
        EXPECT_EQ(saved.at("exif Exif.Photo.PixelXDimension"), "96") << name;
        EXPECT_EQ(saved.at("exif Exif.Photo.PixelYDimension"), "64") << name;
        CPictureMetadata back = CPictureMetadata::Read(Path(name));
        EXPECT_EQ(back.iccProfile(), p3) << name << ": profile not carried byte for byte";
        CImage pixels;
        ASSERT_TRUE(LoadPicture(Path(name), pixels)) << name;
        EXPECT_EQ(pixels.width(), 96);
    }

    // Remove metadata: nothing that names a person, place or camera stays; the profile does.
    CSaveOptions strip;
    strip.removeMetadata = true;
    doc.SetSaveOptions(strip);
    for (const char* name : {"private.jpg", "private.png", "private.tif", "private.webp"}) {
        ASSERT_TRUE(doc.Save(Path(name))) << name;
        const TagMap saved = Tags(Path(name));
        for (const auto& [key, value] : saved) {
            EXPECT_EQ(key.find("GPS"), std::string::npos) << name << " " << key;
            EXPECT_EQ(value.find("Ann Example"), std::string::npos) << name << " " << key;
            EXPECT_EQ(value.find("Orvex Test Camera"), std::string::npos) << name << " " << key;
        }
        EXPECT_EQ(CPictureMetadata::Read(Path(name)).iccProfile(), p3) << name;
    }
    // BMP and GIF carry nothing and still save.
    EXPECT_TRUE(doc.Save(Path("plain.bmp")));
    EXPECT_TRUE(doc.Save(Path("plain.gif")));
}

TEST_F(PhotoSave, EveryOrientationOpensUprightAndIsSavedAsOne)
{
    // Six solid 16 x 16 tiles in 3 columns and 2 rows: every orientation moves them differently,
    // and solid tiles come through JPEG unchanged but for rounding.
    const std::uint8_t colours[6][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {0, 255, 255}, {255, 0, 255}, {255, 255, 0}};
    CImage upright;
    upright.Create(48, 32, 24);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x) std::memcpy(Pixel(upright, x, y), colours[(y / 16) * 3 + x / 16], 3);

    for (const char* ext : {"jpg", "png", "tif", "webp"}) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            // What a camera stores for this orientation: the upright picture transformed back.
            CImage stored;
            const bool transposed = orientation >= 5;
            stored.Create(transposed ? 32 : 48, transposed ? 48 : 32, 24);
            for (int y = 0; y < 32; ++y)
                for (int x = 0; x < 48; ++x) {
                    int sx = x, sy = y;
                    switch (orientation) {
                    case 2: sx = 47 - x; break;
                    case 3: sx = 47 - x; sy = 31 - y; break;
                    case 4: sy = 31 - y; break;
                    case 5: sx = y; sy = x; break;
                    case 6: sx = y; sy = 47 - x; break;
                    case 7: sx = 31 - y; sy = 47 - x; break;
                    case 8: sx = 31 - y; sy = x; break;
                    default: break;
                    }
                    std::memcpy(Pixel(stored, sx, sy), Pixel(upright, x, y), 3);
                }
            CSaveOptions best;
            best.jpeg.quality = 100;
            const QString path = Path(QStringLiteral("o%1.%2").arg(orientation).arg(QLatin1String(ext)));
            ASSERT_TRUE(SavePictureWith(stored, path, best, nullptr));
            WriteCameraTags(path, orientation, {});

            CImage opened;
            CPictureMetadata metadata;
            ASSERT_TRUE(LoadPictureAndMetadata(path, opened, metadata)) << ext << " " << orientation;
            ASSERT_EQ(opened.width(), 48) << ext << " " << orientation;
            ASSERT_EQ(opened.height(), 32) << ext << " " << orientation;
            for (int tile = 0; tile < 6; ++tile) {
                const std::uint8_t* p = Pixel(opened, (tile % 3) * 16 + 8, (tile / 3) * 16 + 8);
                for (int c = 0; c < 3; ++c)
                    EXPECT_NEAR(p[c], colours[tile][c], 24) << ext << " orientation " << orientation << " tile " << tile;
            }
            const QString saved = Path(QStringLiteral("s%1.%2").arg(orientation).arg(QLatin1String(ext)));
            ASSERT_TRUE(SavePictureWith(opened, saved, best, &metadata));
            EXPECT_EQ(CPictureMetadata::Read(saved).orientation(), 1);
            EXPECT_EQ(Tags(saved).at("xmp Xmp.tiff.Orientation"), "1");
        }
    }
}

TEST_F(PhotoSave, FailedSaveWithMetadataKeepsTheExistingFile)
{
    ASSERT_TRUE(SavePicture(PhotoLike(16, 16), Path("keep.jpg")));
    WriteCameraTags(Path("keep.jpg"), 1, {});
    const std::vector<std::uint8_t> before = ReadAll(Path("keep.jpg"));
    const CPictureMetadata metadata = CPictureMetadata::Read(Path("keep.jpg"));
    EXPECT_FALSE(SavePictureWith(CImage(), Path("keep.jpg"), CSaveOptions{}, &metadata));
    EXPECT_FALSE(SavePictureWith(PhotoLike(16, 16), Path("missing/dir/x.jpg"), CSaveOptions{}, &metadata));
    EXPECT_EQ(ReadAll(Path("keep.jpg")), before);
    // Metadata that cannot be read never stops a picture from opening.
    WriteAll(Path("odd.png"), ReadAll(Path("keep.jpg")));
    CImage picture;
    CPictureMetadata none;
    EXPECT_TRUE(LoadPictureAndMetadata(Path("odd.png"), picture, none));
}

namespace {

// The APP1 segments of a JPEG before its first scan, each payload whole.
std::vector<QByteArray> App1Segments(const std::vector<std::uint8_t>& jpeg)
{
    std::vector<QByteArray> segments;
    for (std::size_t at = 2; at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA;) {
        const std::size_t length = std::size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (jpeg[at + 1] == 0xE1)
            segments.push_back(QByteArray(reinterpret_cast<const char*>(jpeg.data() + at + 4), qsizetype(length - 2)));
        at += 2 + length;
    }
    return segments;
}

quint32 BigEndian32(const QByteArray& bytes, qsizetype at)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.constData() + at);
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}

// A document interface that remembers the messages it was asked to show.
class CMessageLog : public IDocumentUi
{
public:
    QStringList messages;
    void ShowMessage(const QString& caption, const QString& text, Icon) override { messages << caption + ": " + text; }
    Answer AskYesNoCancel(const QString&, const QString&) override { return Answer::No; }
    QString AskSavePath(const QString&) override { return {}; }
};

} // namespace

TEST_F(PhotoSave, XmpBeyondOneJpegSegmentIsKeptWholeInExtensionSegments)
{
    // What photo software writes: a few small properties and an edit history far beyond 64 KB.
    ASSERT_TRUE(SavePicture(PhotoLike(40, 30), Path("large-xmp.png")));
    {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(Path("large-xmp.png")).toStdString());
        image->readMetadata();
        image->exifData()["Exif.Image.Make"] = "Orvex Test Camera";
        Exiv2::XmpData& xmp = image->xmpData();
        xmp["Xmp.dc.creator"] = "Ann Example";
        xmp["Xmp.xmp.Rating"] = "4";
        xmp["Xmp.photoshop.City"] = "Oslo";
        xmp["Xmp.photoshop.Instructions"] = std::string(50000, 'i');
        xmp["Xmp.dc.description"] = "lang=x-default " + std::string(40000, 'd');
        Exiv2::XmpArrayValue keywords(Exiv2::xmpBag);
        for (int i = 0; i < 3000; ++i) keywords.read("keyword" + std::to_string(i));
        xmp.add(Exiv2::XmpKey("Xmp.dc.subject"), &keywords);
        image->writeMetadata();
    }
    const TagMap original = Tags(Path("large-xmp.png"));

    COrvexDoc doc;
    ASSERT_TRUE(doc.Open(Path("large-xmp.png")));
    ASSERT_TRUE(doc.Save(Path("large-xmp.jpg"))) << doc.lastError().toStdString();

    // The main packet fits its segment and names the digest of the extended packet, which the
    // extension segments carry in order with its full length and their offsets.
    const std::vector<QByteArray> app1 = App1Segments(ReadAll(Path("large-xmp.jpg")));
    const QByteArray main("http://ns.adobe.com/xap/1.0/\0", 29), extension("http://ns.adobe.com/xmp/extension/\0", 35);
    QByteArray packet, extended, guid;
    for (const QByteArray& segment : app1) {
        if (segment.startsWith(main)) packet = segment.mid(29);
        if (!segment.startsWith(extension)) continue;
        if (guid.isEmpty()) guid = segment.mid(35, 32);
        EXPECT_EQ(segment.mid(35, 32), guid);
        EXPECT_EQ(BigEndian32(segment, 71), quint32(extended.size()));
        extended += segment.mid(75);
        EXPECT_GT(BigEndian32(segment, 67), 65535u); // the whole, not this piece
    }
    ASSERT_FALSE(packet.isEmpty());
    ASSERT_GT(extended.size(), 65535);
    EXPECT_EQ(guid, QCryptographicHash::hash(extended, QCryptographicHash::Md5).toHex().toUpper());
    EXPECT_TRUE(packet.contains("HasExtendedXMP") && packet.contains(guid));
    EXPECT_TRUE(packet.contains("Ann Example")); // small properties stay where every reader looks

    // Opened again, the two packets are one; saving once more (to JPEG, then to PNG, which holds
    // the packet whole) keeps every property.
    COrvexDoc again;
    ASSERT_TRUE(again.Open(Path("large-xmp.jpg")));
    ASSERT_TRUE(again.Save(Path("again.jpg")));
    COrvexDoc third;
    ASSERT_TRUE(third.Open(Path("again.jpg")));
    ASSERT_TRUE(third.Save(Path("again.png")));
    const TagMap saved = Tags(Path("again.png"));
    for (const auto& [key, value] : original) {
        if (key.rfind("xmp ", 0) != 0) continue;
        const auto it = saved.find(key);
        ASSERT_NE(it, saved.end()) << "lost " << key;
        EXPECT_EQ(it->second, value) << "changed " << key;
    }
    EXPECT_EQ(saved.count("xmp Xmp.xmpNote.HasExtendedXMP"), 0u);
    EXPECT_EQ(saved.at("exif Exif.Image.Make"), "Orvex Test Camera");
}

TEST_F(PhotoSave, ExifTooLargeForAJpegIsNamedAndTheRestIsKept)
{
    // TIFF holds EXIF of any size in its own directory: the source of the too-large blocks.
    const auto tagged = [&](const QString& name, const std::vector<std::pair<std::string, int>>& texts) {
        ASSERT_TRUE(SavePicture(PhotoLike(24, 16), Path(name)));
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(Path(name)).toStdString());
        image->readMetadata();
        image->exifData()["Exif.Image.Make"] = "Orvex Test Camera";
        for (const auto& [key, length] : texts) image->exifData()[key] = std::string(std::size_t(length), 'x');
        image->xmpData()["Xmp.dc.creator"] = "Ann Example";
        image->iptcData()["Iptc.Application2.City"] = "Oslo";
        image->writeMetadata();
    };

    // One tag over 64 KB: the library drops it to make the block fit, and the save names it.
    tagged(QStringLiteral("one.tif"), {{"Exif.Image.ImageDescription", 70000}});
    CImage picture;
    CPictureMetadata metadata;
    ASSERT_TRUE(LoadPictureAndMetadata(Path("one.tif"), picture, metadata));
    QStringList leftOut{QStringLiteral("stale")};
    ASSERT_TRUE(SavePictureWith(picture, Path("one.jpg"), CSaveOptions{}, &metadata, nullptr, nullptr, &leftOut));
    EXPECT_EQ(leftOut.join('|').toStdString(), "EXIF tag Exif.Image.ImageDescription (larger than a JPEG segment holds)");
    EXPECT_EQ(Tags(Path("one.jpg")).at("exif Exif.Image.Make"), "Orvex Test Camera");

    // Many small tags of no known meaning that no rule may drop: the block stays too large, so it
    // goes, and the save succeeds with the other blocks. The editor says so after saving.
    std::vector<std::pair<std::string, int>> many;
    for (int tag = 0xD000; tag < 0xD014; ++tag) many.push_back({"Exif.Image.0x" + QString::number(tag, 16).toStdString(), 4000});
    tagged(QStringLiteral("many.tif"), many);
    CMessageLog ui;
    COrvexDoc doc(&ui);
    ASSERT_TRUE(doc.Open(Path("many.tif")));
    ASSERT_TRUE(doc.Save(Path("many.jpg"))) << doc.lastError().toStdString();
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages[0].contains(QStringLiteral("EXIF (larger than a JPEG segment holds)"))) << ui.messages[0].toStdString();
    const TagMap saved = Tags(Path("many.jpg"));
    EXPECT_EQ(saved.count("exif Exif.Image.Make"), 0u);
    EXPECT_EQ(saved.at("xmp Xmp.dc.creator"), "Ann Example");
    EXPECT_EQ(saved.at("iptc Iptc.Application2.City"), "Oslo;");

    // A TIFF holds it all and says nothing; an ordinary JPEG save says nothing either.
    ui.messages.clear();
    ASSERT_TRUE(doc.Save(Path("many-again.tif"))) << doc.lastError().toStdString();
    COrvexDoc plain(&ui);
    ASSERT_TRUE(plain.Open(Path("one.jpg")));
    ASSERT_TRUE(plain.Save(Path("one-again.jpg")));
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join('|').toStdString();
    EXPECT_EQ(Tags(Path("many-again.tif")).at("exif Exif.Image.0xd013"), std::string(4000, 'x'));
}

TEST_F(PhotoSave, ADamagedProfileIsLeftOutAndEveryOtherBlockKept)
{
    // A profile whose size field claims more than it holds, in a JPEG and in a PNG.
    std::vector<std::uint8_t> damaged = DisplayP3Profile();
    damaged[2] = static_cast<std::uint8_t>(damaged[2] + 1);
    for (const char* name : {"damaged.jpg", "damaged.png"}) {
        ASSERT_TRUE(SavePicture(PhotoLike(32, 24), Path(name)));
        WriteCameraTags(Path(name), 1, DisplayP3Profile());
        const TagMap original = Tags(Path(name));
        ASSERT_GT(original.size(), 25u) << name;
        std::vector<std::uint8_t> bytes = ReadAll(Path(name));
        if (QString::fromLatin1(name).endsWith(".png")) {
            // Written again with the damaged profile: PNG compresses it, so it cannot be patched.
            auto image = Exiv2::ImageFactory::open(QFile::encodeName(Path(name)).toStdString());
            image->readMetadata();
            Exiv2::DataBuf buf(damaged.data(), long(damaged.size()));
            image->setIccProfile(buf, false);
            image->writeMetadata();
        } else {
            const std::string marker("ICC_PROFILE", 12);
            const auto at = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
            ASSERT_NE(at, bytes.end());
            std::copy(damaged.begin(), damaged.begin() + 4, at + 14);
            WriteAll(Path(name), bytes);
        }

        CMessageLog ui;
        COrvexDoc doc(&ui);
        ASSERT_TRUE(doc.Open(Path(name))) << name;
        EXPECT_TRUE(doc.metadata().iccProfile().empty()) << name;
        EXPECT_EQ(doc.metadata().damaged(), QStringList{QStringLiteral("colour profile (damaged)")}) << name;
        for (const char* out : {"out.jpg", "out.png"}) {
            ui.messages.clear();
            ASSERT_TRUE(doc.Save(Path(out))) << name << " as " << out << ": " << doc.lastError().toStdString();
            ASSERT_EQ(ui.messages.size(), 1) << name << " as " << out;
            EXPECT_TRUE(ui.messages[0].contains(QStringLiteral("colour profile (damaged)"))) << ui.messages[0].toStdString();
            const TagMap saved = Tags(Path(out));
            for (const auto& [key, value] : original) {
                if (IsOrientationOrSize(key) || key.rfind("exif Exif.Thumbnail", 0) == 0) continue;
                const auto it = saved.find(key);
                ASSERT_NE(it, saved.end()) << name << " as " << out << " lost " << key;
                EXPECT_EQ(it->second, value) << name << " as " << out << " changed " << key;
            }
            EXPECT_TRUE(CPictureMetadata::Read(Path(out)).iccProfile().empty()) << name << " as " << out;
        }
    }
}

TEST_F(PhotoSave, AnOrientationStoredAsABigEndianLongIsShownAndSavedAlike)
{
    // Stored 32 x 16 with a red left half; orientation 6 shows it 16 x 32 with red on top. Written by the
    // metadata library in big-endian order with the orientation as a LONG, as some cameras do.
    CImage stored;
    stored.Create(32, 16, 24);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            std::uint8_t* p = Pixel(stored, x, y);
            p[0] = x < 16 ? 0 : 255;
            p[1] = x < 16 ? 0 : 255;
            p[2] = 255;
        }
    for (const char* ext : {"jpg", "png", "tif", "webp"}) {
        const QString path = Path(QStringLiteral("long.%1").arg(QLatin1String(ext)));
        CSaveOptions best;
        best.jpeg.quality = 100;
        ASSERT_TRUE(SavePictureWith(stored, path, best, nullptr));
        {
            auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
            image->readMetadata();
            image->setByteOrder(Exiv2::bigEndian);
            image->exifData()["Exif.Image.Make"] = "Orvex Test Camera";
            image->exifData()["Exif.Image.Orientation"] = std::uint32_t(6);
            image->writeMetadata();
        }
        CImage shown;
        CPictureMetadata metadata;
        ASSERT_TRUE(LoadPictureAndMetadata(path, shown, metadata)) << ext;
        ASSERT_EQ(shown.width(), 16) << ext;
        ASSERT_EQ(shown.height(), 32) << ext;
        EXPECT_LT(Pixel(shown, 8, 4)[0] + 0, 60) << ext << ": the red half belongs at the top";
        EXPECT_GT(Pixel(shown, 8, 28)[0] + 0, 200) << ext;
        CImage plain;
        ASSERT_TRUE(LoadPicture(path, plain)) << ext;
        EXPECT_TRUE(SamePixels(plain, shown)) << ext;

        // Saved upright with orientation 1: the saved file shows what the editor showed.
        const QString saved = Path(QStringLiteral("long-saved.%1").arg(QLatin1String(ext)));
        QString why;
        ASSERT_TRUE(SavePictureWith(shown, saved, best, &metadata, &why)) << ext << ": " << why.toStdString();
        EXPECT_EQ(CPictureMetadata::Read(saved).orientation(), 1) << ext;
        CImage reopened;
        CPictureMetadata again;
        ASSERT_TRUE(LoadPictureAndMetadata(saved, reopened, again)) << ext;
        EXPECT_EQ(reopened.width(), 16) << ext;
        EXPECT_GT(Psnr(reopened, shown), 30.0) << ext;
    }
}

namespace {

// Save As answered from a script: a path, then the options step.
class COptionsUi : public IDocumentUi
{
public:
    QString path;
    bool accept = true;
    int quality = 50;
    int asked = 0;
    void ShowMessage(const QString&, const QString&, Icon) override {}
    Answer AskYesNoCancel(const QString&, const QString&) override { return Answer::No; }
    QString AskSavePath(const QString&) override { return path; }
    bool AskSaveOptions(const QString&, const CImage&, const CPictureMetadata&, CSaveOptions& options) override
    {
        ++asked;
        options.jpeg.quality = quality;
        return accept;
    }
};

} // namespace

TEST_F(PhotoSave, SaveAsOptionsStayWithTheDocumentForLaterSaves)
{
    ASSERT_TRUE(SavePicture(PhotoLike(64, 64), Path("start.jpg")));
    COptionsUi ui;
    COrvexDoc doc(&ui);
    ASSERT_TRUE(doc.Open(Path("start.jpg")));
    ui.path = Path("cancelled.jpg");
    ui.accept = false;
    EXPECT_FALSE(doc.SaveAs());
    EXPECT_FALSE(QFile::exists(Path("cancelled.jpg")));
    EXPECT_EQ(doc.saveOptions().jpeg.quality, 92);

    ui.path = Path("chosen.jpg");
    ui.accept = true;
    ASSERT_TRUE(doc.SaveAs());
    EXPECT_EQ(LumaSampling(ReadAll(Path("chosen.jpg"))), std::make_pair(2, 2));
    // File > Save asks nothing and keeps quality 50.
    doc.engine().Invert();
    ASSERT_TRUE(doc.CommitChange());
    ASSERT_TRUE(doc.SaveToCurrentPath());
    EXPECT_EQ(ui.asked, 2);
    EXPECT_EQ(LumaSampling(ReadAll(Path("chosen.jpg"))), std::make_pair(2, 2));
}

TEST_F(PhotoSave, DisplayP3PixelsAreShownAsTheirSrgbEquivalent)
{
    // A patch chart: greys, skin and sky tones, and the saturated corners of the P3 gamut.
    std::vector<std::array<int, 3>> patches;
    for (int v : {0, 30, 60, 90, 128, 160, 200, 230, 255}) patches.push_back({v, v, v});
    for (const auto& c : {std::array{226, 170, 140}, std::array{90, 140, 200}, std::array{60, 120, 60},
                          std::array{200, 60, 50}, std::array{240, 220, 80}, std::array{120, 80, 160},
                          std::array{255, 0, 0}, std::array{0, 255, 0}, std::array{0, 0, 255},
                          std::array{255, 255, 0}, std::array{0, 255, 255}, std::array{255, 0, 255}})
        patches.push_back(c);
    QImage shown(int(patches.size()), 1, QImage::Format_RGB32);
    for (std::size_t i = 0; i < patches.size(); ++i)
        shown.setPixel(int(i), 0, qRgb(patches[i][0], patches[i][1], patches[i][2]));
    const std::vector<std::uint8_t> p3 = DisplayP3Profile();
    ConvertToSrgb(shown, p3);

    // Reference: the same conversion in double precision, clipped to the sRGB cube as a display
    // clips it, compared in CIELAB with the CIEDE2000 difference.
    cmsHPROFILE in = cmsOpenProfileFromMem(p3.data(), cmsUInt32Number(p3.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM reference = cmsCreateTransform(in, TYPE_RGB_DBL, srgb, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
    cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
    for (std::size_t i = 0; i < patches.size(); ++i) {
        double rgb[3] = {patches[i][0] / 255.0, patches[i][1] / 255.0, patches[i][2] / 255.0}, expected[3];
        cmsDoTransform(reference, rgb, expected, 1);
        for (double& v : expected) v = std::clamp(v, 0.0, 1.0);
        const QRgb got = shown.pixel(int(i), 0);
        const double actual[3] = {qRed(got) / 255.0, qGreen(got) / 255.0, qBlue(got) / 255.0};
        cmsCIELab a, b;
        cmsDoTransform(toLab, expected, &a, 1);
        cmsDoTransform(toLab, actual, &b, 1);
        EXPECT_LT(cmsCIE2000DeltaE(&a, &b, 1, 1, 1), 1.0) << "patch " << i;
        EXPECT_EQ(qAlpha(got), 255);
    }
    // P3's (200, 60, 50) is a redder red than sRGB's: the conversion did something.
    EXPECT_GT(qRed(shown.pixel(12, 0)), 200);
    cmsDeleteTransform(reference);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(in);
    cmsCloseProfile(srgb);
    cmsCloseProfile(lab);

    // Untagged pictures and profiles that are not RGB are shown as they are.
    QImage untouched(3, 1, QImage::Format_RGB32);
    untouched.fill(qRgb(200, 60, 50));
    const QImage before = untouched;
    ConvertToSrgb(untouched, {});
    ConvertToSrgb(untouched, std::vector<std::uint8_t>(200, 7));
    EXPECT_EQ(untouched, before);
}

TEST_F(PhotoSave, BmpRowsGoStraightInAndOutAndAgreeWithTheGeneralReader)
{
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{3, 5}, std::pair{6, 2}, std::pair{33, 17}}) {
        const CImage picture = Noise(w, h, std::uint32_t(w * 3 + h));
        const QString path = Path(QStringLiteral("n%1x%2.bmp").arg(w).arg(h));
        ASSERT_TRUE(SavePicture(picture, path));
        CImage viaToolkit;
        ASSERT_TRUE(PictureFromQImage(QImage(path), viaToolkit)) << w << "x" << h;
        EXPECT_TRUE(SamePixels(viaToolkit, picture)) << w << "x" << h;
        CImage direct;
        ASSERT_TRUE(LoadPicture(path, direct));
        EXPECT_TRUE(SamePixels(direct, picture)) << w << "x" << h;
    }
    // Every BMP of the corpus that opens gives the pixels the toolkit's reader gives.
    int compared = 0;
    QFileInfoList files;
    for (const char* kind : {"g", "q"})
        files += QDir(QString::fromStdString(TestDataDir() + "/bmp/bmpsuite/" + kind)).entryInfoList({"*.bmp"}, QDir::Files);
    // The toolkit leaves pixels it never writes as the memory held them in these (runs cut short or
    // skipped over, indices past a short palette); ours are black there, compared in io's tests.
    const QStringList undefinedThere = {"pal4rlecut.bmp", "pal4rletrns.bmp", "pal8os2sp.bmp", "pal8rlecut.bmp",
                                        "pal8rletrns.bmp"};
    for (const QFileInfo& file : files) {
        if (undefinedThere.contains(file.fileName())) continue;
        CImage ours;
        if (!LoadPicture(file.filePath(), ours)) continue;
        QImageReader reader(file.filePath());
        const QImage theirs = reader.read();
        if (theirs.isNull()) continue;
        CImage expected;
        ASSERT_TRUE(PictureFromQImage(theirs, expected));
        EXPECT_TRUE(SamePixels(ours, expected)) << file.fileName().toStdString();
        ++compared;
    }
    EXPECT_GT(compared, 5);
}

TEST_F(PhotoSave, MetadataOfEveryCorpusFileReadsWithoutHarm)
{
    // Broken, truncated and hostile files included: reading what they carry never crashes, and a
    // file that opens can be saved again with whatever was read.
    int files = 0;
    for (const QString& format : {QStringLiteral("jpeg"), QStringLiteral("png"), QStringLiteral("gif"), QStringLiteral("bmp")}) {
        QDirIterator it(QString::fromStdString(TestDataDir()) + "/" + format, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            CImage picture;
            CPictureMetadata metadata = CPictureMetadata::Read(path);
            if (LoadPictureAndMetadata(path, picture, metadata) && picture.width() * picture.height() < 4000000 && !metadata.IsEmpty())
                SavePictureWith(picture, Path("again.jpg"), CSaveOptions{}, &metadata);
            ++files;
        }
    }
    EXPECT_GT(files, 400);
}

namespace {

class CRecordedProgress : public IProgress
{
public:
    std::vector<std::string> labels;
    std::vector<int> positions;
    int ends = 0;
    void Begin(std::string_view label, int range) override
    {
        labels.emplace_back(label);
        EXPECT_EQ(range, 100);
    }
    void SetPosition(int position) override { positions.push_back(position); }
    void End() override { ++ends; }
};

} // namespace

TEST_F(PhotoSave, LargeSlowSavesShowProgressSmallOnesDoNot)
{
    const CImage large = Filled(3000, 2700, 10, 200, 90);
    CRecordedProgress progress;
    ASSERT_TRUE(SavePictureWith(large, Path("large.png"), CSaveOptions{}, nullptr, nullptr, &progress));
    EXPECT_EQ(progress.labels, std::vector<std::string>{" Saving:"});
    EXPECT_EQ(progress.ends, 1);
    ASSERT_FALSE(progress.positions.empty());
    EXPECT_TRUE(std::is_sorted(progress.positions.begin(), progress.positions.end()));
    EXPECT_LE(progress.positions.back(), 100);

    CRecordedProgress quiet;
    ASSERT_TRUE(SavePictureWith(PhotoLike(64, 64), Path("small.png"), CSaveOptions{}, nullptr, nullptr, &quiet));
    ASSERT_TRUE(SavePictureWith(large, Path("large.jpg"), CSaveOptions{}, nullptr, nullptr, &quiet));
    EXPECT_TRUE(quiet.labels.empty());
    EXPECT_EQ(quiet.ends, 0);
}

namespace {

// A device standing in for a file on a disk that fills up: the write that crosses the capacity is
// taken in part (a short count, no error), the next one is refused with the system's reason. With
// `throwing`, a write beyond the capacity throws instead, as a memory buffer that cannot grow does.
class CFillingDevice : public QIODevice
{
public:
    explicit CFillingDevice(qint64 capacity, bool throwing = false) : m_capacity(capacity), m_throwing(throwing)
    {
        open(QIODevice::ReadWrite);
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return qint64(m_bytes.size()); }
    bool seek(qint64 pos) override
    {
        QIODevice::seek(pos);
        m_pos = pos;
        return true;
    }
    QByteArray m_bytes;

protected:
    qint64 readData(char* data, qint64 max) override
    {
        const qint64 n = std::max<qint64>(0, std::min<qint64>(max, m_bytes.size() - m_pos));
        std::memcpy(data, m_bytes.constData() + m_pos, std::size_t(n));
        m_pos += n;
        return n;
    }
    qint64 writeData(const char* data, qint64 length) override
    {
        if (m_throwing && m_pos + length > m_capacity) throw std::bad_alloc();
        const qint64 room = m_capacity - m_pos;
        if (room <= 0) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        const qint64 n = std::min(room, length);
        if (m_bytes.size() < m_pos + n) m_bytes.resize(m_pos + n);
        std::memcpy(m_bytes.data() + m_pos, data, std::size_t(n));
        m_pos += n;
        return n;
    }

private:
    qint64 m_capacity;
    bool m_throwing;
    qint64 m_pos = 0;
};

std::vector<std::uint8_t> LabProfile()
{
    cmsHPROFILE profile = cmsCreateLab4Profile(nullptr);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

} // namespace

TEST_F(PhotoSave, AWebpWithAProfileOtherWritersRefuseOpensAgainWithProfileAndTags)
{
    // A Lab profile is what Qt's writer dropped; the profile then went in as a second VP8X chunk
    // and the file could not be opened by anyone.
    const std::vector<std::uint8_t> lab = LabProfile();
    ASSERT_TRUE(SavePicture(PhotoLike(97, 61), Path("lab.jpg")));
    WriteCameraTags(Path("lab.jpg"), 1, lab);
    const CPictureMetadata metadata = CPictureMetadata::Read(Path("lab.jpg"));
    ASSERT_EQ(metadata.iccProfile(), lab);
    for (int quality : {90, 100}) {
        CSaveOptions options;
        options.webp = {quality == 100, quality};
        QString reason;
        ASSERT_TRUE(SavePictureWith(PhotoLike(97, 61), Path("lab.webp"), options, &metadata, &reason)) << reason.toStdString();
        CImage back;
        ASSERT_TRUE(LoadPicture(Path("lab.webp"), back, &reason)) << quality << ": " << reason.toStdString();
        EXPECT_EQ(back.width(), 97);
        EXPECT_EQ(CPictureMetadata::Read(Path("lab.webp")).iccProfile(), lab);
        const TagMap tags = Tags(Path("lab.webp"));
        EXPECT_EQ(tags.at("exif Exif.Image.Make"), "Orvex Test Camera");
        EXPECT_EQ(tags.at("xmp Xmp.photoshop.City"), "Oslo");
        // One VP8X header, then the profile, in the order the container defines.
        const std::vector<std::uint8_t> file = ReadAll(Path("lab.webp"));
        ASSERT_GT(file.size(), 30u);
        EXPECT_EQ(std::string(file.begin() + 12, file.begin() + 16), "VP8X");
        const std::size_t second = 12 + 8 + 10;
        EXPECT_EQ(std::string(file.begin() + std::ptrdiff_t(second), file.begin() + std::ptrdiff_t(second) + 4), "ICCP");
    }
}

TEST_F(PhotoSave, WrittenFilesThatDoNotParseAgainAreCaught)
{
    const CImage picture = PhotoLike(40, 30);
    ASSERT_TRUE(SavePicture(picture, Path("c.jpg")));
    WriteCameraTags(Path("c.jpg"), 1, DisplayP3Profile());
    const CPictureMetadata metadata = CPictureMetadata::Read(Path("c.jpg"));
    const CWrittenContent everything{40, 30, true, true, true, true};
    for (const char* ext : {"jpg", "png", "tif", "webp", "bmp", "gif"}) {
        const QString path = Path(QStringLiteral("c.%1").arg(QLatin1String(ext)));
        QString reason;
        ASSERT_TRUE(SavePictureWith(picture, path, CSaveOptions{}, &metadata, &reason)) << ext << ": " << reason.toStdString();
        const QByteArray format = EncoderForPath(path)->format;
        const std::vector<std::uint8_t> good = ReadAll(path);
        CWrittenContent expected = everything;
        if (format == "bmp" || format == "gif") expected = {40, 30, false, false, false, false};
        EXPECT_TRUE(CheckWrittenFile(good.data(), good.size(), format, expected, &reason)) << ext << ": " << reason.toStdString();

        // Cut short, or claiming another size: refused.
        std::vector<std::uint8_t> cut(good.begin(), good.end() - 7);
        EXPECT_FALSE(CheckWrittenFile(cut.data(), cut.size(), format, expected, nullptr)) << ext << " cut short";
        CWrittenContent otherSize = expected;
        otherSize.width = 41;
        EXPECT_FALSE(CheckWrittenFile(good.data(), good.size(), format, otherSize, nullptr)) << ext;
    }
    // The header-only check used when a BMP cannot be mapped agrees.
    const std::vector<std::uint8_t> bmp = ReadAll(Path("c.bmp"));
    const CWrittenContent size{40, 30, false, false, false, false};
    EXPECT_TRUE(CheckWrittenBmpHeader(bmp.data(), 64, qint64(bmp.size()), size, nullptr));
    EXPECT_FALSE(CheckWrittenBmpHeader(bmp.data(), 64, qint64(bmp.size()) - 1, size, nullptr));
    EXPECT_FALSE(CheckWrittenBmpHeader(bmp.data(), 64, qint64(bmp.size()), {30, 40, false, false, false, false}, nullptr));

    // A block that was written but is not in the file: refused.
    ASSERT_TRUE(SavePictureWith(picture, Path("bare.webp"), CSaveOptions{}, nullptr));
    const std::vector<std::uint8_t> bare = ReadAll(Path("bare.webp"));
    QString reason;
    EXPECT_FALSE(CheckWrittenFile(bare.data(), bare.size(), "webp", {40, 30, true, false, false, false}, &reason));
    EXPECT_TRUE(reason.contains(QLatin1String("colour profile"))) << reason.toStdString();

    // The shape of the old fault: the profile appended as a second VP8X chunk.
    std::vector<std::uint8_t> twice = ReadAll(Path("c.webp"));
    const std::vector<std::uint8_t> vp8x(twice.begin() + 12, twice.begin() + 30);
    twice.insert(twice.end(), vp8x.begin(), vp8x.end());
    const auto riff = std::uint32_t(twice.size() - 8);
    for (int i = 0; i < 4; ++i) twice[std::size_t(4 + i)] = std::uint8_t(riff >> (8 * i));
    EXPECT_FALSE(CheckWrittenFile(twice.data(), twice.size(), "webp", {40, 30, true, true, true, false}, nullptr));
}

TEST_F(PhotoSave, TiffCompressionsAllKeepThePixelsAndTheDefaultDeflates)
{
    const CImage picture = PhotoLike(301, 203);
    std::map<TiffCompression, std::size_t> sizes;
    for (TiffCompression compression : {TiffCompression::None, TiffCompression::Lzw, TiffCompression::Deflate}) {
        CSaveOptions options;
        options.tiff.compression = compression;
        QString reason;
        ASSERT_TRUE(SavePictureWith(picture, Path("t.tif"), options, nullptr, &reason)) << reason.toStdString();
        CImage back;
        ASSERT_TRUE(LoadPicture(Path("t.tif"), back, &reason)) << reason.toStdString();
        EXPECT_TRUE(SamePixels(back, picture)) << int(compression);
        sizes[compression] = ReadAll(Path("t.tif")).size();
    }
    EXPECT_EQ(CSaveOptions{}.tiff.compression, TiffCompression::Deflate);
    EXPECT_LT(sizes[TiffCompression::Deflate], sizes[TiffCompression::None]);
    EXPECT_LT(sizes[TiffCompression::Lzw], sizes[TiffCompression::None]);
}

TEST_F(PhotoSave, AFillingDiskOrAFailingBufferIsReportedWithItsCause)
{
    const CImage picture = PhotoLike(640, 480);
    for (const char* format : {"bmp", "gif", "tiff", "webp", "png", "jpeg"}) {
        // Room for about half the file: one write is taken in part, the next is refused.
        CFillingDevice unlimited(qint64(1) << 40);
        QString reason;
        ASSERT_TRUE(EncodePicture(picture, format, unlimited, &reason)) << format << ": " << reason.toStdString();
        CFillingDevice full(unlimited.m_bytes.size() / 2);
        EXPECT_FALSE(EncodePicture(picture, format, full, &reason)) << format;
        EXPECT_EQ(reason, QStringLiteral("No space left on device")) << format;

        // A buffer that cannot grow throws from inside the library's write; it must come back as
        // a failed save, not end the program.
        CFillingDevice throwing(unlimited.m_bytes.size() / 2, true);
        EXPECT_FALSE(EncodePicture(picture, format, throwing, &reason)) << format;
        EXPECT_EQ(reason, QStringLiteral("not enough memory")) << format;
    }
    // The writes of the formats encoded in memory.
    std::vector<char> bytes(3'000'000, 'x');
    CFillingDevice full(2'097'152);
    QString reason;
    EXPECT_FALSE(WriteFully(full, bytes.data(), qint64(bytes.size()), &reason));
    EXPECT_EQ(reason, QStringLiteral("No space left on device"));
}

TEST_F(PhotoSave, WebpSizeLimitIsNamedBeforeEncoding)
{
    CImage wide;
    ASSERT_TRUE(wide.Create(16384, 2, 24));
    QString reason;
    EXPECT_FALSE(CheckEncodableSize(wide, "webp", &reason));
    EXPECT_TRUE(reason.startsWith(QLatin1String("WebP pictures are at most 16383 x 16383 pixels"))) << reason.toStdString();
    EXPECT_FALSE(SavePictureWith(wide, Path("wide.webp"), CSaveOptions{}, nullptr, &reason));
    EXPECT_TRUE(reason.startsWith(QLatin1String("WebP pictures are at most 16383 x 16383 pixels"))) << reason.toStdString();
    CImage edge;
    ASSERT_TRUE(edge.Create(16383, 2, 24));
    EXPECT_TRUE(CheckEncodableSize(edge, "webp", &reason));
}

TEST_F(PhotoSave, TiffKeepsFirstDirectoryTagsTheLibraryKnowsAndThoseItDoesNot)
{
    ASSERT_TRUE(SavePicture(PhotoLike(24, 16), Path("d.jpg")));
    {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(Path("d.jpg")).toStdString());
        image->readMetadata();
        Exiv2::ExifData& exif = image->exifData();
        exif["Exif.Image.ImageDescription"] = "Harbour";
        exif["Exif.Image.XResolution"] = Exiv2::URational(300, 1);
        exif["Exif.Image.YResolution"] = Exiv2::URational(300, 1);
        exif["Exif.Image.ResolutionUnit"] = std::uint16_t(2);
        exif["Exif.Image.Rating"] = std::uint16_t(4);          // unknown to the TIFF library
        exif["Exif.Image.RatingPercent"] = std::uint16_t(75);  // likewise
        exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 250);
        image->writeMetadata();
    }
    const CPictureMetadata metadata = CPictureMetadata::Read(Path("d.jpg"));
    QString reason;
    ASSERT_TRUE(SavePictureWith(PhotoLike(24, 16), Path("d.tif"), CSaveOptions{}, &metadata, &reason)) << reason.toStdString();
    const TagMap tags = Tags(Path("d.tif"));
    EXPECT_EQ(tags.at("exif Exif.Image.ImageDescription"), "Harbour");
    EXPECT_EQ(tags.at("exif Exif.Image.XResolution"), "300/1");
    EXPECT_EQ(tags.at("exif Exif.Image.ResolutionUnit"), "2");
    EXPECT_EQ(tags.at("exif Exif.Image.Rating"), "4");
    EXPECT_EQ(tags.at("exif Exif.Image.RatingPercent"), "75");
    EXPECT_EQ(tags.at("exif Exif.Photo.ExposureTime"), "1/250");
    CImage back;
    ASSERT_TRUE(LoadPicture(Path("d.tif"), back, &reason)) << reason.toStdString();
    EXPECT_EQ(back.width(), 24);
}
