// The user's 5 x 5 integer filter over a mirrored border, and its ".ocf" files.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/convolution/convolution.h"
#include "filters/convolution/fft_plans.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <vector>

namespace {

// Image coordinate that the padded border at `v` (-2 .. n + 1) copies. Left and top mirror about
// the edge pixel, right and bottom about the edge line. Pictures under 3 pixels would reach past
// the far side; the index is then held within the picture.
int Mirror(int v, int n)
{
    if (v < 0) v = -v;
    else if (v >= n) v = 2 * n - 1 - v;
    return std::clamp(v, 0, n - 1);
}

// One output row from the padded copy's rows y - 2 .. y + 2 (`rows[0]` .. `rows[4]`, each pointing
// at the copy's column 0): sums in `Sum`, which the caller has chosen wide enough for the weights.
template <class Sum>
void FilterRow(const std::uint8_t* const (&rows)[5], const std::int64_t (&weights)[25], int bytes, Sum* sums)
{
    std::fill(sums, sums + bytes, Sum(0));
    for (int dy = 0; dy < 5; ++dy)
        for (int dx = 0; dx < 5; ++dx) {
            const Sum k = static_cast<Sum>(weights[5 * dy + dx]);
            if (k == 0) continue;
            const std::uint8_t* row = rows[dy] + 3 * dx;
            for (int i = 0; i < bytes; ++i) sums[i] += k * static_cast<Sum>(row[i]);
        }
}

template <class Sum>
void FinishRow(const Sum* sums, int bytes, std::int64_t divisor, std::int64_t add, std::uint8_t* out)
{
    for (int i = 0; i < bytes; ++i) {
        const std::int64_t v = (divisor == 1 ? static_cast<std::int64_t>(sums[i]) : static_cast<std::int64_t>(sums[i]) / divisor) + add;
        out[i] = v >= 255 ? 255 : v <= 0 ? 0 : static_cast<std::uint8_t>(v);
    }
}

} // namespace

void CImageProcessor::CustomFilter(const int* kernel, int scale, int offset)
{
    CImage* source = image();
    if (!kernel || !source || source->IsNull()) return;
    const CImage& picture = *source;
    const int w = picture.width();
    const int h = picture.height();
    std::uint8_t* const target = OutputBits();
    if (!target) return;
    // The dialog never lets the scale be 0 (it stores 1 instead); callers that bypass it get the
    // same rather than a division by zero.
    if (scale == 0) scale = 1;

    // A preview rendering made stale by a newer one stops early; the scope exists only to ask.
    std::optional<ProgressScope> staleness;
    if (preview.load()) staleness.emplace(*this, "", h);

    // The mirrored border is made a band of rows at a time: a padded copy of the whole picture
    // would be a second picture a little larger than the first, which a picture near the size cap
    // cannot have. In place, a band overwrites rows that the next band still reads: those (the two
    // above it) travel in the window, and the two bottom rows that the lower border mirrors are
    // kept padded from the start.
    const int bytes = 3 * w;
    const std::size_t rowBytes = static_cast<std::size_t>(w + 4) * 3;
    constexpr int kRowsPerRun = 64;
    const int band = std::min(h, kRowsPerRun);
    const std::int64_t divisor = scale;
    const std::int64_t add = offset;
    std::int64_t weights[25];
    std::int64_t reach = 0; // largest possible |sum|
    for (int i = 0; i < 25; ++i) {
        weights[i] = kernel[i];
        reach += (weights[i] < 0 ? -weights[i] : weights[i]) * 255;
    }
    // The sums are those of signed 64-bit arithmetic (a 32-bit sum could overflow, which is
    // undefined); when the weights cannot take a sum past 32 bits, 32-bit lanes give the same
    // numbers twice as fast.
    const bool narrow = reach <= std::numeric_limits<std::int32_t>::max();
    const std::size_t threads = static_cast<std::size_t>(ParallelThreadCount());
    const auto window = orvex_fft::AllocateArray<std::uint8_t>(rowBytes * static_cast<std::size_t>(band + 4));
    const auto lastRows = orvex_fft::AllocateArray<std::uint8_t>(rowBytes * 2);
    const auto sumsBuffer = orvex_fft::AllocateArray<std::int64_t>(static_cast<std::size_t>(bytes) * threads);
    if (!window || !lastRows || !sumsBuffer) {
        ReportFailure();
        return;
    }
    const auto pictureRow = [&](int y) {
        return picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch();
    };
    const auto padRow = [&](const std::uint8_t* src, std::uint8_t* dst) {
        std::memcpy(dst + 6, src, static_cast<std::size_t>(bytes));
        for (int x : {-2, -1, w, w + 1}) std::memcpy(dst + 3 * (x + 2), src + 3 * Mirror(x, w), 3);
    };
    // lastRows row i is picture row h - 2 + i (row 0 twice for a one-row picture).
    for (int i = 0; i < 2; ++i) padRow(pictureRow(std::max(0, h - 2 + i)), lastRows.get() + rowBytes * static_cast<std::size_t>(i));
    const auto windowRow = [&](int i) { return window.get() + rowBytes * static_cast<std::size_t>(i); };

    const int pitch = picture.pitch();
    for (int y0 = 0; y0 < h; y0 += band) {
        if (staleness && staleness->StopRequested()) return;
        const int y1 = std::min(h, y0 + band);
        // Window row i holds padded row y0 - 2 + i. A full band came before this one: its last
        // four rows are this band's first four.
        int i = 0;
        if (y0 > 0) {
            std::memmove(windowRow(0), windowRow(band), rowBytes * 4);
            i = 4;
        }
        for (; i < y1 - y0 + 4; ++i) {
            const int y = y0 - 2 + i;
            if (y >= h) std::memcpy(windowRow(i), lastRows.get() + rowBytes * static_cast<std::size_t>(Mirror(y, h) - (h - 2)), rowBytes);
            else padRow(pictureRow(Mirror(y, h)), windowRow(i));
        }
        ParallelFor(y0, y1, [&](int from, int to) {
            std::int64_t* const wide = sumsBuffer.get() + static_cast<std::size_t>(bytes) * static_cast<std::size_t>(ParallelSlot());
            auto* const sums = reinterpret_cast<std::int32_t*>(wide);
            for (int y = from; y < to; ++y) {
                std::uint8_t* out = target + static_cast<std::ptrdiff_t>(y) * pitch;
                const int at = y - y0;
                const std::uint8_t* const rows[5] = {windowRow(at), windowRow(at + 1), windowRow(at + 2), windowRow(at + 3),
                                                     windowRow(at + 4)};
                if (narrow) {
                    FilterRow(rows, weights, bytes, sums);
                    FinishRow(sums, bytes, divisor, add, out);
                } else {
                    FilterRow(rows, weights, bytes, wide);
                    FinishRow(wide, bytes, divisor, add, out);
                }
            }
        });
    }
}

namespace orvex_convolution {
namespace {

void PutLittleEndian(std::uint8_t* at, std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(u >> (8 * i));
}

std::int32_t GetLittleEndian(const std::uint8_t* at)
{
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u |= static_cast<std::uint32_t>(at[i]) << (8 * i);
    return static_cast<std::int32_t>(u);
}

} // namespace

std::array<std::uint8_t, kFilterFileBytes> EncodeFilterFile(const CCustomFilterSettings& settings)
{
    std::array<std::uint8_t, kFilterFileBytes> record{};
    PutLittleEndian(record.data(), settings.offset);
    PutLittleEndian(record.data() + 4, settings.scale);
    for (std::size_t i = 0; i < settings.kernel.size(); ++i) PutLittleEndian(record.data() + 8 + 4 * i, settings.kernel[i]);
    return record;
}

bool DecodeFilterFile(std::span<const std::uint8_t> bytes, CCustomFilterSettings& settings, std::string& error)
{
    if (bytes.size() < kFilterFileBytes) {
        error = "Not a custom filter file: it holds " + std::to_string(bytes.size()) + " bytes instead of " +
                std::to_string(kFilterFileBytes) + ".";
        return false;
    }
    CCustomFilterSettings read;
    read.offset = GetLittleEndian(bytes.data());
    read.scale = GetLittleEndian(bytes.data() + 4);
    for (std::size_t i = 0; i < read.kernel.size(); ++i) read.kernel[i] = GetLittleEndian(bytes.data() + 8 + 4 * i);
    settings = read;
    return true;
}

bool ReadFilterFile(const std::filesystem::path& path, CCustomFilterSettings& settings, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "Can not open " + path.string();
        return false;
    }
    std::vector<std::uint8_t> bytes(kFilterFileBytes);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    if (file.bad()) {
        error = "Can not read " + path.string();
        return false;
    }
    std::string why;
    if (!DecodeFilterFile(bytes, settings, why)) {
        error = path.string() + ": " + why;
        return false;
    }
    return true;
}

bool WriteFilterFile(const std::filesystem::path& path, const CCustomFilterSettings& settings, std::string& error)
{
    const auto record = EncodeFilterFile(settings);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file) file.write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
    if (file) file.close();
    if (!file) {
        error = "Can not save " + path.string();
        return false;
    }
    return true;
}

} // namespace orvex_convolution
