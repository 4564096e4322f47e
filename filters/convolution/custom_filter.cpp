// The user's 5 x 5 integer filter over a mirrored border, and its ".ocf" files.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/convolution/convolution.h"

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

    CImage padded;
    if (!padded.Create(w + 4, h + 4, 24)) {
        ReportFailure();
        return;
    }
    const auto paddedRow = [&](int y) { return padded.bits() + static_cast<std::ptrdiff_t>(y + 2) * padded.pitch(); };
    const auto pictureRow = [&](int y) {
        return picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch();
    };
    // Every padded pixel is the picture pixel its mirrored coordinates name; filling rows through
    // the mapping gives the same copy as filling the sides, then the top and bottom, then corners.
    for (int y = -2; y < h + 2; ++y) {
        const std::uint8_t* src = pictureRow(Mirror(y, h));
        std::uint8_t* dst = paddedRow(y);
        std::memcpy(dst + 6, src, static_cast<std::size_t>(w) * 3);
        for (int x : {-2, -1, w, w + 1}) std::memcpy(dst + 3 * (x + 2), src + 3 * Mirror(x, w), 3);
    }

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
    const int bytes = 3 * w;
    const int pitch = picture.pitch();
    constexpr int kRowsPerRun = 64;
    for (int first = 0; first < h; first += kRowsPerRun) {
        if (staleness && staleness->StopRequested()) return;
        ParallelFor(first, std::min(h, first + kRowsPerRun), [&](int y0, int y1) {
            std::vector<std::int64_t> wide(narrow ? 0 : static_cast<std::size_t>(bytes));
            std::vector<std::int32_t> sums(narrow ? static_cast<std::size_t>(bytes) : 0);
            for (int y = y0; y < y1; ++y) {
                std::uint8_t* out = target + static_cast<std::ptrdiff_t>(y) * pitch;
                const std::uint8_t* const rows[5] = {paddedRow(y - 2), paddedRow(y - 1), paddedRow(y), paddedRow(y + 1),
                                                     paddedRow(y + 2)};
                if (narrow) {
                    FilterRow(rows, weights, bytes, sums.data());
                    FinishRow(sums.data(), bytes, divisor, add, out);
                } else {
                    FilterRow(rows, weights, bytes, wide.data());
                    FinishRow(wide.data(), bytes, divisor, add, out);
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
