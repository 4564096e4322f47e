#include "io/webp_writer.h"

#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr float kLosslessEffort = 75;

bool Fail(std::string* reason, const std::string& text)
{
    if (reason) *reason = text;
    return false;
}

std::string EncoderError(WebPEncodingError error)
{
    switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: return "not enough memory";
    case VP8_ENC_ERROR_BAD_DIMENSION:
        return "WebP pictures are at most " + std::to_string(kWebpMaxSide) + " x " + std::to_string(kWebpMaxSide) + " pixels";
    case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
    case VP8_ENC_ERROR_PARTITION_OVERFLOW: return "the picture is too large for one WebP bitstream at this quality";
    case VP8_ENC_ERROR_FILE_TOO_BIG: return "the WebP file would exceed 4 GB";
    default: return "the WebP encoder failed (error " + std::to_string(int(error)) + ")";
    }
}

struct CEncodeState
{
    const std::function<void(double)>* progress;
};

int OnProgress(int percent, const WebPPicture* picture)
{
    const auto* state = static_cast<const CEncodeState*>(picture->user_data);
    try {
        if (state && state->progress && *state->progress) (*state->progress)(percent / 100.0);
    } catch (...) {
        return 0; // stops the encoder; nothing may unwind through it
    }
    return 1;
}

std::uint32_t LE24(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16);
}

std::uint32_t LE32(const std::uint8_t* p)
{
    return LE24(p) | (std::uint32_t(p[3]) << 24);
}

} // namespace

bool EncodeWebp(const CImage& picture, const CWebpOptions& options, const std::vector<std::uint8_t>& icc,
                const CPictureMetadata::Blocks& blocks, std::vector<std::uint8_t>& file, std::string* reason,
                const std::function<void(double)>& progress)
{
    if (picture.IsNull() || picture.bitsPerPixel() != 24) return Fail(reason, "there is no picture to save");
    if (picture.width() > kWebpMaxSide || picture.height() > kWebpMaxSide) return Fail(reason, EncoderError(VP8_ENC_ERROR_BAD_DIMENSION));

    WebPConfig config;
    if (!WebPConfigInit(&config)) return Fail(reason, "the WebP library does not match its headers");
    config.lossless = options.lossless ? 1 : 0;
    // For lossless files the quality is the effort spent. The library's usual middle one keeps a
    // large picture's save (and the sample its size is predicted from) to seconds, not minutes.
    config.quality = options.lossless ? kLosslessEffort : static_cast<float>(std::clamp(options.quality, 1, 100));
    WebPPicture pic;
    if (!WebPPictureInit(&pic)) return Fail(reason, "the WebP library does not match its headers");
    pic.width = picture.width();
    pic.height = picture.height();
    pic.use_argb = config.lossless;
    WebPMemoryWriter memory;
    WebPMemoryWriterInit(&memory);
    pic.writer = WebPMemoryWrite;
    pic.custom_ptr = &memory;
    CEncodeState state{&progress};
    pic.user_data = &state;
    pic.progress_hook = OnProgress;

    struct CCleanup
    {
        WebPPicture* pic;
        WebPMemoryWriter* memory;
        ~CCleanup()
        {
            WebPPictureFree(pic);
            WebPMemoryWriterClear(memory);
        }
    } cleanup{&pic, &memory};

    // Rows run from the top row down by the picture's own (negative) pitch.
    if (!WebPPictureImportBGR(&pic, picture.bits(), picture.pitch())) return Fail(reason, EncoderError(pic.error_code));
    if (!WebPEncode(&config, &pic)) return Fail(reason, EncoderError(pic.error_code));

    try {
        if (icc.empty() && blocks.exif.empty() && blocks.xmp.empty()) {
            file.assign(memory.mem, memory.mem + memory.size);
            return true;
        }
        WebPMux* mux = WebPMuxNew();
        if (!mux) return Fail(reason, "not enough memory");
        struct CMuxCleanup
        {
            WebPMux* mux;
            WebPData assembled{};
            ~CMuxCleanup()
            {
                WebPDataClear(&assembled);
                WebPMuxDelete(mux);
            }
        } muxCleanup{mux};
        const WebPData image = {memory.mem, memory.size};
        const WebPData iccData = {icc.data(), icc.size()};
        const WebPData exifData = {blocks.exif.data(), blocks.exif.size()};
        const WebPData xmpData = {reinterpret_cast<const std::uint8_t*>(blocks.xmp.data()), blocks.xmp.size()};
        WebPMuxError error = WebPMuxSetImage(mux, &image, 0);
        if (error == WEBP_MUX_OK && !icc.empty()) error = WebPMuxSetChunk(mux, "ICCP", &iccData, 0);
        if (error == WEBP_MUX_OK && !blocks.exif.empty()) error = WebPMuxSetChunk(mux, "EXIF", &exifData, 0);
        if (error == WEBP_MUX_OK && !blocks.xmp.empty()) error = WebPMuxSetChunk(mux, "XMP ", &xmpData, 0);
        if (error == WEBP_MUX_OK) error = WebPMuxAssemble(mux, &muxCleanup.assembled);
        if (error == WEBP_MUX_MEMORY_ERROR) return Fail(reason, "not enough memory");
        if (error != WEBP_MUX_OK) return Fail(reason, "the WebP container could not be assembled (error " + std::to_string(int(error)) + ")");
        file.assign(muxCleanup.assembled.bytes, muxCleanup.assembled.bytes + muxCleanup.assembled.size);
        return true;
    } catch (const std::bad_alloc&) {
        return Fail(reason, "not enough memory");
    }
}

bool ReadWebpSummary(const std::uint8_t* data, std::size_t size, CWebpSummary& summary, std::string* reason)
{
    summary = {};
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WEBP", 4) != 0)
        return Fail(reason, "not a WebP file");
    if (std::uint64_t(LE32(data + 4)) + 8 != size) return Fail(reason, "the WebP file's RIFF size does not match its length");

    std::uint32_t flags = 0;
    bool extended = false, pictures = false, beforePicture = true;
    int canvasW = 0, canvasH = 0, chunks = 0;
    const std::uint8_t* bitstream = nullptr;
    std::size_t bitstreamBytes = 0;
    for (std::size_t at = 12; at < size; ++chunks) {
        if (size - at < 8) return Fail(reason, "the WebP file ends inside a chunk header");
        const std::uint8_t* chunk = data + at;
        const std::uint64_t length = LE32(chunk + 4);
        const std::uint64_t padded = length + (length & 1);
        if (padded > size - at - 8) return Fail(reason, "a WebP chunk runs past the end of the file");
        const std::string fourcc(reinterpret_cast<const char*>(chunk), 4);
        const std::uint8_t* body = chunk + 8;
        if (fourcc == "VP8X") {
            if (chunks != 0 || length < 10) return Fail(reason, "the WebP VP8X chunk is misplaced or short");
            extended = true;
            flags = body[0];
            canvasW = int(LE24(body + 4)) + 1;
            canvasH = int(LE24(body + 7)) + 1;
        } else if (fourcc == "ICCP") {
            if (!extended || !beforePicture || summary.icc) return Fail(reason, "the WebP ICCP chunk is misplaced");
            summary.icc = true;
        } else if (fourcc == "EXIF") {
            if (!extended) return Fail(reason, "a simple WebP file holds an EXIF chunk");
            summary.exif = true;
        } else if (fourcc == "XMP ") {
            if (!extended) return Fail(reason, "a simple WebP file holds an XMP chunk");
            summary.xmp = true;
        } else if (fourcc == "VP8 " || fourcc == "VP8L") {
            if (pictures) return Fail(reason, "the WebP file holds more than one picture");
            if (!extended && chunks != 0) return Fail(reason, "the WebP picture chunk is misplaced");
            pictures = true;
            beforePicture = false;
            bitstream = chunk;
            bitstreamBytes = static_cast<std::size_t>(length + 8);
        } else if (fourcc == "ALPH") {
            if (!extended) return Fail(reason, "a simple WebP file holds an ALPH chunk");
        } else if (!extended) {
            return Fail(reason, "a simple WebP file holds an unknown chunk");
        }
        at += 8 + padded;
    }
    if (!pictures) return Fail(reason, "the WebP file holds no picture");
    int w = 0, h = 0;
    if (!WebPGetInfo(bitstream, bitstreamBytes, &w, &h)) return Fail(reason, "the WebP bitstream header cannot be read");
    if (extended) {
        // VP8X flag bits: ICC 0x20, EXIF 0x08, XMP 0x04.
        if (bool(flags & 0x20) != summary.icc || bool(flags & 0x08) != summary.exif || bool(flags & 0x04) != summary.xmp)
            return Fail(reason, "the WebP VP8X flags do not match the chunks present");
        if (canvasW != w || canvasH != h) return Fail(reason, "the WebP canvas size does not match its picture");
    }
    summary.width = w;
    summary.height = h;
    return true;
}
