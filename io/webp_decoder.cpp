#include "io/webp_decoder.h"

#include "io/file_guards.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

DirectResult Refuse(std::string* reason, std::string text)
{
    if (reason) *reason = std::move(text);
    return DirectResult::Refused;
}

DirectResult RefuseStatus(std::string* reason, VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_NOT_ENOUGH_DATA: return Refuse(reason, "the file is truncated (its picture data ends early)");
    case VP8_STATUS_OUT_OF_MEMORY: return Refuse(reason, "not enough memory");
    case VP8_STATUS_UNSUPPORTED_FEATURE: return Refuse(reason, "the WebP file uses a feature that cannot be decoded");
    default: return Refuse(reason, "the WebP picture data is corrupt");
    }
}

// Over white: c * a + 255 * (1 - a), rounded, from non-premultiplied blue-green-red-alpha.
void CompositeRow(const std::uint8_t* in, std::uint8_t* out, int width, bool alpha)
{
    for (int x = 0; x < width; ++x, in += 4, out += 3) {
        const int a = alpha ? in[3] : 255;
        for (int k = 0; k < 3; ++k) out[k] = static_cast<std::uint8_t>((in[k] * a + 255 * (255 - a) + 127) / 255);
    }
}

// Decodes a whole bitstream (a still file, or one frame's chunks) as blue-green-red-alpha rows.
VP8StatusCode DecodeBgra(const std::uint8_t* data, std::size_t size, int width, int height, std::vector<std::uint8_t>& bgra)
{
    try {
        bgra.assign(std::size_t(width) * std::size_t(height) * 4, 0);
    } catch (const std::bad_alloc&) {
        return VP8_STATUS_OUT_OF_MEMORY;
    }
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return VP8_STATUS_INVALID_PARAM;
    config.output.colorspace = MODE_BGRA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = bgra.data();
    config.output.u.RGBA.stride = width * 4;
    config.output.u.RGBA.size = bgra.size();
    const VP8StatusCode status = WebPDecode(data, size, &config);
    WebPFreeDecBuffer(&config.output);
    return status;
}

// An opaque still picture goes straight into the picture's rows: libwebp writes them bottom-up
// when asked to flip, which is the picture's own memory order.
VP8StatusCode DecodeOpaqueInto(const std::uint8_t* data, std::size_t size, CImage& picture)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return VP8_STATUS_INVALID_PARAM;
    config.options.flip = 1;
    config.output.colorspace = MODE_BGR;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = picture.bits() + std::ptrdiff_t(picture.height() - 1) * picture.pitch();
    config.output.u.RGBA.stride = static_cast<int>(picture.rowBytes());
    config.output.u.RGBA.size = picture.bufferBytes();
    const VP8StatusCode status = WebPDecode(data, size, &config);
    WebPFreeDecBuffer(&config.output);
    return status;
}

DirectResult DecodeStill(const std::uint8_t* data, std::size_t size, const WebPBitstreamFeatures& features,
                         CImage& picture, std::string* reason)
{
    CImage decoded;
    if (!decoded.Create(features.width, features.height, 24)) return Refuse(reason, "not enough memory");
    if (!features.has_alpha) {
        const VP8StatusCode status = DecodeOpaqueInto(data, size, decoded);
        if (status != VP8_STATUS_OK) return RefuseStatus(reason, status);
    } else {
        std::vector<std::uint8_t> bgra;
        const VP8StatusCode status = DecodeBgra(data, size, features.width, features.height, bgra);
        if (status != VP8_STATUS_OK) return RefuseStatus(reason, status);
        for (int y = 0; y < decoded.height(); ++y)
            CompositeRow(bgra.data() + std::size_t(y) * std::size_t(decoded.width()) * 4,
                         decoded.bits() + std::ptrdiff_t(y) * decoded.pitch(), decoded.width(), true);
    }
    picture = std::move(decoded);
    return DirectResult::Decoded;
}

struct DemuxDeleter
{
    void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};

// The first frame on a transparent canvas, as an animation starts: whatever the frame leaves
// uncovered shows white. Later frames, the background colour and the disposal rules do not
// concern the first picture.
DirectResult DecodeFirstFrame(const std::uint8_t* data, std::size_t size, const WebPBitstreamFeatures& features,
                              CImage& picture, std::string* reason)
{
    const WebPData whole{data, size};
    const std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&whole));
    if (!demux) return Refuse(reason, "the WebP animation's structure is damaged");
    const auto canvasWidth = static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH));
    const auto canvasHeight = static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT));
    WebPIterator frame;
    if (!WebPDemuxGetFrame(demux.get(), 1, &frame)) return Refuse(reason, "the WebP animation has no frames");
    const int x0 = frame.x_offset, y0 = frame.y_offset, w = frame.width, h = frame.height;
    const std::uint8_t* const fragment = frame.fragment.bytes;
    const std::size_t fragmentSize = frame.fragment.size;
    WebPDemuxReleaseIterator(&frame);
    if (canvasWidth != features.width || canvasHeight != features.height || x0 < 0 || y0 < 0 || w <= 0 || h <= 0 ||
        x0 > canvasWidth - w || y0 > canvasHeight - h)
        return Refuse(reason, "a WebP animation frame lies outside its canvas");
    const std::string problem = DeclaredSizeProblem(w, h, static_cast<std::int64_t>(size));
    if (!problem.empty()) return Refuse(reason, problem);

    CImage canvas;
    if (!canvas.Create(canvasWidth, canvasHeight, 24)) return Refuse(reason, "not enough memory");
    for (int y = 0; y < canvasHeight; ++y) std::memset(canvas.bits() + std::ptrdiff_t(y) * canvas.pitch(), 255, std::size_t(canvasWidth) * 3);
    std::vector<std::uint8_t> bgra;
    const VP8StatusCode status = DecodeBgra(fragment, fragmentSize, w, h, bgra);
    if (status != VP8_STATUS_OK) return RefuseStatus(reason, status);
    for (int y = 0; y < h; ++y)
        CompositeRow(bgra.data() + std::size_t(y) * std::size_t(w) * 4,
                     canvas.bits() + std::ptrdiff_t(y0 + y) * canvas.pitch() + 3 * std::ptrdiff_t(x0), w, features.has_alpha != 0);
    picture = std::move(canvas);
    return DirectResult::Decoded;
}

} // namespace

DirectResult DecodeWebp(const std::uint8_t* data, std::size_t size, CImage& picture, std::string* reason)
{
    QString why;
    if (!CheckWebpStructure(data, size, &why)) return Refuse(reason, why.toStdString());
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(data, size, &features);
    if (status != VP8_STATUS_OK) return RefuseStatus(reason, status);
    const std::string problem = DeclaredSizeProblem(features.width, features.height, static_cast<std::int64_t>(size));
    if (!problem.empty()) return Refuse(reason, problem);
    try {
        return features.has_animation ? DecodeFirstFrame(data, size, features, picture, reason)
                                      : DecodeStill(data, size, features, picture, reason);
    } catch (const std::bad_alloc&) {
        return Refuse(reason, "not enough memory");
    }
}
