#include "core/gif_writer.h"

#include <gif_lib.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

int WriteToDevice(GifFileType* gif, const GifByteType* bytes, int length)
{
    auto* device = static_cast<QIODevice*>(gif->UserData);
    return static_cast<int>(device->write(reinterpret_cast<const char*>(bytes), length));
}

// Indexes the picture against its own colours when it has at most 256 of them.
bool ExactPalette(const CImage& picture, std::vector<GifColorType>& colours, std::vector<GifByteType>& indexes)
{
    const int w = picture.width();
    const int h = picture.height();
    std::vector<std::int16_t> slot(std::size_t(1) << 24, -1); // 0xRRGGBB -> palette index
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = picture.bits() + std::ptrdiff_t(y) * picture.pitch();
        GifByteType* out = indexes.data() + std::size_t(y) * std::size_t(w);
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* p = row + 3 * x;
            const std::uint32_t key = (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
            std::int16_t& s = slot[key];
            if (s < 0) {
                if (colours.size() == 256) return false;
                s = static_cast<std::int16_t>(colours.size());
                colours.push_back({p[2], p[1], p[0]});
            }
            out[x] = static_cast<GifByteType>(s);
        }
    }
    return true;
}

bool MedianCutPalette(const CImage& picture, std::vector<GifColorType>& colours, std::vector<GifByteType>& indexes)
{
    const int w = picture.width();
    const int h = picture.height();
    const std::size_t n = std::size_t(w) * std::size_t(h);
    std::vector<GifByteType> r(n), g(n), b(n);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = picture.bits() + std::ptrdiff_t(y) * picture.pitch();
        for (int x = 0; x < w; ++x) {
            const std::size_t i = std::size_t(y) * std::size_t(w) + std::size_t(x);
            b[i] = row[3 * x];
            g[i] = row[3 * x + 1];
            r[i] = row[3 * x + 2];
        }
    }
    int size = 256;
    colours.assign(256, GifColorType{0, 0, 0});
    if (GifQuantizeBuffer(static_cast<unsigned>(w), static_cast<unsigned>(h), &size, r.data(), g.data(), b.data(),
                          indexes.data(), colours.data()) != GIF_OK)
        return false;
    colours.resize(static_cast<std::size_t>(std::max(size, 1)));
    return true;
}

struct GifCloser
{
    void operator()(GifFileType* gif) const
    {
        int error = 0;
        EGifCloseFile(gif, &error);
    }
};

} // namespace

bool WriteGif(const CImage& picture, QIODevice& device, QString* reason)
{
    const auto fail = [&](const QString& text) {
        if (reason) *reason = text;
        return false;
    };
    if (picture.IsNull() || picture.bitsPerPixel() != 24) return fail(QStringLiteral("no picture to write"));
    if (picture.width() > 65535 || picture.height() > 65535)
        return fail(QStringLiteral("GIF pictures are limited to 65535 x 65535 pixels"));

    std::vector<GifColorType> colours;
    std::vector<GifByteType> indexes(std::size_t(picture.width()) * std::size_t(picture.height()));
    if (!ExactPalette(picture, colours, indexes)) {
        colours.clear();
        if (!MedianCutPalette(picture, colours, indexes)) return fail(QStringLiteral("colour reduction failed"));
    }
    // A colour map holds a power of two entries, at least 2.
    int bits = 1;
    while ((1 << bits) < static_cast<int>(colours.size())) ++bits;
    colours.resize(std::size_t(1) << bits, GifColorType{0, 0, 0});

    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(EGifOpen(&device, WriteToDevice, &error));
    if (!gif) return fail(QString::fromUtf8(GifErrorString(error)));
    ColorMapObject* map = GifMakeMapObject(1 << bits, colours.data());
    if (!map) return fail(QStringLiteral("out of memory"));
    EGifSetGifVersion(gif.get(), false);
    bool ok = EGifPutScreenDesc(gif.get(), picture.width(), picture.height(), bits, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif.get(), 0, 0, picture.width(), picture.height(), false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < picture.height(); ++y)
        ok = EGifPutLine(gif.get(), indexes.data() + std::size_t(y) * std::size_t(picture.width()), picture.width()) == GIF_OK;
    GifFreeMapObject(map);
    if (!ok) return fail(QString::fromUtf8(GifErrorString(gif->Error)));
    GifFileType* raw = gif.release();
    if (EGifCloseFile(raw, &error) != GIF_OK) return fail(QString::fromUtf8(GifErrorString(error)));
    return true;
}
