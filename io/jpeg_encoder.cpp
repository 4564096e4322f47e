#include "io/jpeg_encoder.h"

#include "core/parallel.h"

#include <algorithm>
#include <initializer_list>
#include <thread>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

namespace {

struct JpegErrors
{
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void JpegFail(j_common_ptr cinfo)
{
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

void JpegQuiet(j_common_ptr) {}

// Writes the compressed stream into a growing vector; libjpeg's own memory destination would
// realloc a malloc block we would then have to copy again.
struct VectorDestination
{
    jpeg_destination_mgr manager;
    std::vector<std::uint8_t>* out;
    std::size_t used;
};

constexpr std::size_t kChunk = std::size_t(1) << 20;

// No exception may cross libjpeg's C frames: failure is reported and turned into its error exit.
bool Grow(std::vector<std::uint8_t>* out, std::size_t size)
{
    try {
        out->resize(size);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void InitDestination(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    dest->used = 0;
    if (!Grow(dest->out, kChunk)) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    dest->manager.next_output_byte = dest->out->data();
    dest->manager.free_in_buffer = dest->out->size();
}

boolean EmptyOutput(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    // Called with the whole buffer full (free_in_buffer is not to be trusted here).
    dest->used = dest->out->size();
    if (!Grow(dest->out, dest->out->size() * 2)) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    dest->manager.next_output_byte = dest->out->data() + dest->used;
    dest->manager.free_in_buffer = dest->out->size() - dest->used;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    dest->out->resize(dest->out->size() - dest->manager.free_in_buffer);
}

// The libjpeg calls live in their own function so that nothing with a destructor sits between the
// setjmp and the longjmp.
bool Compress(jpeg_compress_struct* cinfo, JpegErrors* errors, const CImage& picture, const CJpegOptions& options,
              const std::vector<std::uint8_t>& icc, int firstRow, int rowCount, VectorDestination* dest,
              const std::function<void(double)>* progress)
{
    if (setjmp(errors->jump)) return false;
    cinfo->dest = &dest->manager;
    cinfo->image_width = JDIMENSION(picture.width());
    cinfo->image_height = JDIMENSION(rowCount);
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, std::clamp(options.quality, 1, 100), TRUE);
    int h = 2, v = 2;
    switch (EffectiveSubsampling(options)) {
    case ChromaSubsampling::Full444: h = v = 1; break;
    case ChromaSubsampling::Half422: h = 2; v = 1; break;
    default: break;
    }
    cinfo->comp_info[0].h_samp_factor = h;
    cinfo->comp_info[0].v_samp_factor = v;
    for (int c = 1; c < 3; ++c) cinfo->comp_info[c].h_samp_factor = cinfo->comp_info[c].v_samp_factor = 1;
    cinfo->dct_method = JDCT_ISLOW;
    if (options.progressive) jpeg_simple_progression(cinfo);
    else cinfo->restart_in_rows = 1; // lets strips encoded apart join into one scan (see EncodeJpeg)

    jpeg_start_compress(cinfo, TRUE);
    if (!icc.empty()) jpeg_write_icc_profile(cinfo, icc.data(), static_cast<unsigned>(icc.size()));
    const std::uint8_t* top = picture.bits() + std::ptrdiff_t(firstRow) * picture.pitch();
    const int pitch = picture.pitch();
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW rows[16];
        JDIMENSION count = 0;
        for (; count < 16 && cinfo->next_scanline + count < cinfo->image_height; ++count)
            rows[count] = const_cast<JSAMPROW>(top + std::ptrdiff_t(cinfo->next_scanline + count) * pitch);
        jpeg_write_scanlines(cinfo, rows, count);
        if (progress && *progress && (cinfo->next_scanline & 255) < 16) (*progress)(double(cinfo->next_scanline) / rowCount);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

// Encodes rows [firstRow, firstRow + rowCount) as a JPEG of their own.
bool EncodeStrip(const CImage& picture, const CJpegOptions& options, const std::vector<std::uint8_t>& icc, int firstRow,
                 int rowCount, std::vector<std::uint8_t>& out, std::string* reason,
                 const std::function<void(double)>* progress = nullptr)
{
    jpeg_compress_struct cinfo{};
    JpegErrors errors{};
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JpegFail;
    errors.manager.output_message = JpegQuiet;
    jpeg_create_compress(&cinfo);
    VectorDestination dest{};
    dest.manager.init_destination = InitDestination;
    dest.manager.empty_output_buffer = EmptyOutput;
    dest.manager.term_destination = TermDestination;
    dest.out = &out;
    const bool ok = Compress(&cinfo, &errors, picture, options, icc, firstRow, rowCount, &dest, progress);
    jpeg_destroy_compress(&cinfo);
    if (!ok && reason) *reason = errors.message[0] ? errors.message : "the JPEG encoder failed";
    return ok;
}

// Offset of the first byte after the segment of the first of `markers` (SOF or SOS), walking the
// marker segments from the start of a file libjpeg wrote; 0 when not found.
std::size_t FindSegment(const std::vector<std::uint8_t>& file, std::initializer_list<std::uint8_t> markers,
                        std::size_t* segmentStart = nullptr)
{
    std::size_t at = 2;
    while (at + 4 <= file.size() && file[at] == 0xFF) {
        const std::uint8_t marker = file[at + 1];
        const std::size_t length = std::size_t(file[at + 2]) << 8 | file[at + 3];
        for (std::uint8_t m : markers) {
            if (m == marker) {
                if (segmentStart) *segmentStart = at;
                return at + 2 + length;
            }
        }
        at += 2 + length;
    }
    return 0;
}

} // namespace

ChromaSubsampling EffectiveSubsampling(const CJpegOptions& options)
{
    if (options.subsampling != ChromaSubsampling::Automatic) return options.subsampling;
    const ChromaSubsampling byQuality = options.quality >= 90 ? ChromaSubsampling::Full444 : ChromaSubsampling::Quarter420;
    // The coarser of the two: the enum runs from full to quarter chroma.
    return std::max(byQuality, options.original);
}

ChromaSubsampling JpegFrameSubsampling(const std::uint8_t* header, std::size_t size)
{
    if (size < 4 || header[0] != 0xFF || header[1] != 0xD8) return ChromaSubsampling::Automatic;
    std::size_t at = 2;
    while (at + 4 <= size) {
        if (header[at] != 0xFF) return ChromaSubsampling::Automatic;
        const std::uint8_t marker = header[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        const std::size_t length = std::size_t(header[at + 2]) << 8 | header[at + 3];
        if (length < 2) return ChromaSubsampling::Automatic;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            // Precision, height, width, component count, then three bytes per component: its id,
            // its sampling factors (horizontal high nibble), its quantisation table.
            const std::size_t body = at + 4;
            if (length < 8 || body + length - 2 > size || header[body + 5] != 3 || length < 8 + 3 * 3)
                return ChromaSubsampling::Automatic;
            const auto factors = [&](int c) { return header[body + 6 + 3 * c + 1]; };
            if (factors(1) != 0x11 || factors(2) != 0x11) return ChromaSubsampling::Automatic;
            switch (factors(0)) {
            case 0x11: return ChromaSubsampling::Full444;
            case 0x21: return ChromaSubsampling::Half422;
            case 0x22: return ChromaSubsampling::Quarter420;
            default: return ChromaSubsampling::Automatic;
            }
        }
        if (marker == 0xDA || marker == 0xD9) return ChromaSubsampling::Automatic; // scan before any frame
        at += 2 + length;
    }
    return ChromaSubsampling::Automatic;
}

bool EncodeJpeg(const CImage& picture, const CJpegOptions& options, const std::vector<std::uint8_t>& icc,
                std::vector<std::uint8_t>& out, std::string* reason, const std::function<void(double)>& progress)
{
    const auto fail = [reason](const char* text) {
        if (reason) *reason = text;
        return false;
    };
    if (picture.IsNull() || picture.bitsPerPixel() != 24) return fail("there is no picture to save");
    // A baseline scan restarts its entropy coding after every row of blocks, so rows of blocks can
    // be encoded apart, one strip per core, and joined: the first strip gives the headers, the
    // others their scan data with the restart numbers carried on. The file is the same whatever
    // the number of strips.
    const int mcuHeight = EffectiveSubsampling(options) == ChromaSubsampling::Quarter420 ? 16 : 8;
    const int mcuRows = (picture.height() + mcuHeight - 1) / mcuHeight;
    const int wanted = options.strips > 0 ? options.strips : std::min(ParallelThreadCount(), mcuRows / 16);
    const int strips = options.progressive ? 1 : std::clamp(std::min(wanted, mcuRows), 1, 64);
    if (strips == 1) return EncodeStrip(picture, options, icc, 0, picture.height(), out, reason, &progress);

    std::vector<std::vector<std::uint8_t>> parts;
    std::vector<int> firstMcuRow;
    std::vector<std::string> why;
    std::vector<char> ok;
    try {
        parts.resize(std::size_t(strips));
        firstMcuRow.resize(std::size_t(strips) + 1);
        why.resize(std::size_t(strips));
        ok.assign(std::size_t(strips), 0);
    } catch (const std::bad_alloc&) {
        return fail("not enough memory");
    }
    for (int k = 0; k <= strips; ++k) firstMcuRow[std::size_t(k)] = int(std::int64_t(mcuRows) * k / strips);
    const std::vector<std::uint8_t> noProfile;
    // Only the first strip reports, and only on the calling thread: saves split into strips are
    // quick enough that the status bar shows them no bar anyway.
    const std::thread::id caller = std::this_thread::get_id();
    ParallelFor(0, strips, [&](int b, int e) {
        for (int k = b; k < e; ++k) {
            const bool reports = k == 0 && std::this_thread::get_id() == caller;
            const int first = firstMcuRow[std::size_t(k)] * mcuHeight;
            const int end = std::min(picture.height(), firstMcuRow[std::size_t(k) + 1] * mcuHeight);
            ok[std::size_t(k)] = EncodeStrip(picture, options, k == 0 ? icc : noProfile, first, end - first,
                                             parts[std::size_t(k)], &why[std::size_t(k)], reports ? &progress : nullptr);
        }
    });
    for (int k = 0; k < strips; ++k)
        if (!ok[std::size_t(k)]) return fail(why[std::size_t(k)].c_str());

    std::vector<std::uint8_t>& head = parts[0];
    std::size_t sofStart = 0;
    if (FindSegment(head, {0xC0, 0xC1}, &sofStart) == 0) return fail("the JPEG encoder wrote an unexpected stream");
    head[sofStart + 5] = std::uint8_t(picture.height() >> 8);
    head[sofStart + 6] = std::uint8_t(picture.height());
    try {
        std::size_t total = 0;
        for (const auto& part : parts) total += part.size() + 2;
        out.clear();
        out.reserve(total);
        out.insert(out.end(), head.begin(), head.end() - 2); // all but its end-of-image marker
        std::vector<std::uint8_t>().swap(head);
        for (int k = 1; k < strips; ++k) {
            std::vector<std::uint8_t>& part = parts[std::size_t(k)];
            const std::size_t scan = FindSegment(part, {0xDA});
            if (scan == 0 || part.size() < scan + 2) return fail("the JPEG encoder wrote an unexpected stream");
            const int before = firstMcuRow[std::size_t(k)];
            out.push_back(0xFF);
            out.push_back(std::uint8_t(0xD0 + (before - 1) % 8));
            const std::size_t from = out.size();
            out.insert(out.end(), part.begin() + std::ptrdiff_t(scan), part.end() - 2);
            // Inside scan data 0xFF is followed by a stuffed 0 or a restart marker, nothing else.
            for (std::size_t i = from; i + 1 < out.size(); ++i) {
                if (out[i] != 0xFF) continue;
                if (out[i + 1] >= 0xD0 && out[i + 1] <= 0xD7)
                    out[i + 1] = std::uint8_t(0xD0 + (out[i + 1] - 0xD0 + before) % 8);
                ++i;
            }
            std::vector<std::uint8_t>().swap(part);
        }
        out.push_back(0xFF);
        out.push_back(0xD9);
    } catch (const std::bad_alloc&) {
        return fail("not enough memory");
    }
    return true;
}
