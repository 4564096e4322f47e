// Average, Sharpen, Find Edges, Unsharp Mask and High Pass.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/convolution/convolution_internal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace {

std::uint8_t* RowOf(CImage& picture, int y)
{
    return picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch();
}

std::uint8_t ClampByte(int v)
{
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

__attribute__((target_clones("avx2", "default"))) void SharpenRow(const std::uint8_t* __restrict above,
                                                                  const std::uint8_t* __restrict here,
                                                                  const std::uint8_t* __restrict below,
                                                                  std::uint8_t* __restrict out, int bytes)
{
    for (int i = 3; i < bytes - 3; ++i) {
        const int v = 5 * here[i] - here[i - 3] - here[i + 3] - above[i] - below[i];
        out[i] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
}

// Largest squared difference so far at each byte position of a row (channel = position mod 3).
__attribute__((target_clones("avx2", "default"))) void EdgeMaximaRow(const std::uint8_t* __restrict here,
                                                                     const std::uint8_t* __restrict below,
                                                                     int* __restrict largest, int count)
{
    for (int i = 0; i < count; ++i) {
        const int dx = here[i + 3] - here[i];
        const int dy = below[i] - here[i];
        const int s = dx * dx + dy * dy;
        largest[i] = largest[i] > s ? largest[i] : s;
    }
}

// Edge bytes of a row, stretched: low 8 bits of trunc(min(trunc(sqrt(dx^2 + dy^2)), 255) * factor),
// the factor of each byte's channel repeated along the row.
__attribute__((target_clones("avx2", "default"))) void EdgeRow(const std::uint8_t* __restrict here,
                                                               const std::uint8_t* __restrict below,
                                                               const float* __restrict factors,
                                                               std::uint8_t* __restrict out, int count)
{
    for (int i = 0; i < count; ++i) {
        const int dx = here[i + 3] - here[i];
        const int dy = below[i] - here[i];
        const float fx = static_cast<float>(dx);
        const float fy = static_cast<float>(dy);
        const int magnitude = static_cast<int>(std::sqrt(fx * fx + fy * fy));
        const int stored = magnitude < 255 ? magnitude : 255;
        out[i] = static_cast<std::uint8_t>(static_cast<int>(static_cast<float>(stored) * factors[i]));
    }
}

// The blurred copy that Unsharp Mask and High Pass compare the picture with; false when memory or
// an FFT plan could not be had.
bool BlurredCopy(const CImageProcessor& engine, const CImage& picture, float radius, CImage& copy)
{
    if (!copy.CopyFrom(picture)) return false;
    // GaussianBlur's range: a radius of 0 leaves the copy as it is.
    if (!(radius > 0.0f) || radius > 250.0f) return true;
    return orvex_convolution::BlurPicture(engine, copy, radius, true);
}

template <class Combine>
void CombineWithCopy(CImage& picture, const CImage& copy, const Combine& combine)
{
    const int bytes = picture.width() * 3;
    ParallelFor(0, picture.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            std::uint8_t* row = RowOf(picture, y);
            const std::uint8_t* blurred = copy.bits() + static_cast<std::ptrdiff_t>(y) * copy.pitch();
            for (int i = 0; i < bytes; ++i) row[i] = combine(row[i], blurred[i]);
        }
    });
}

} // namespace

void CImageProcessor::Average()
{
    CImage* target = image();
    if (!target || target->IsNull()) return;
    CImage& picture = *target;
    const int w = picture.width();
    const int h = picture.height();
    std::array<std::uint64_t, 3> total{};
    std::mutex totalMutex;
    ParallelFor(0, h, [&](int y0, int y1) {
        std::array<std::uint64_t, 3> sums{};
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* row = RowOf(picture, y);
            std::array<std::uint64_t, 3> rowSums{}; // a picture may be one very long row
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) rowSums[static_cast<std::size_t>(c)] += row[3 * x + c];
            for (int c = 0; c < 3; ++c) sums[static_cast<std::size_t>(c)] += rowSums[static_cast<std::size_t>(c)];
        }
        std::lock_guard lock(totalMutex);
        for (int c = 0; c < 3; ++c) total[static_cast<std::size_t>(c)] += sums[static_cast<std::size_t>(c)];
    });
    const std::uint64_t count = static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h);
    std::uint8_t mean[3];
    for (int c = 0; c < 3; ++c) mean[c] = static_cast<std::uint8_t>(total[static_cast<std::size_t>(c)] / count);
    ParallelFor(0, h, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            std::uint8_t* row = RowOf(picture, y);
            for (int x = 0; x < w; ++x) {
                row[3 * x] = mean[0];
                row[3 * x + 1] = mean[1];
                row[3 * x + 2] = mean[2];
            }
        }
    });
}

void CImageProcessor::Sharpen()
{
    CImage* target = image();
    if (!target || target->IsNull() || target->width() < 3) return;
    const int bytes = target->width() * 3;
    const bool done = orvex_convolution::ForEachInteriorRow(
        *target, [bytes](int, const std::uint8_t* above, const std::uint8_t* here, const std::uint8_t* below, std::uint8_t* out) {
            SharpenRow(above, here, below, out, bytes);
        });
    if (!done) ReportFailure();
}

void CImageProcessor::FindEdges()
{
    CImage* target = image();
    if (!target || target->IsNull()) return;
    CImage& picture = *target;
    const int w = picture.width();
    const int h = picture.height();
    const int bytes = 3 * w;

    // A stored edge value is min(trunc(sqrt(dx^2 + dy^2)), 255), which grows with dx^2 + dy^2: the
    // channel maxima come from the largest squared differences, found in a first pass that only
    // reads, so that the second pass can compute, stretch and write each byte once.
    const std::size_t count = static_cast<std::size_t>(bytes - 3); // every byte but the last column's
    const int rows = h - 1;
    const int parts = std::max(1, std::min(ParallelThreadCount(), rows));
    // All scratch is had before the picture is touched: per-thread maxima, the stretch factors
    // and, for the writing pass, each core's kept rows (below).
    const std::size_t threads = static_cast<std::size_t>(ParallelThreadCount());
    const std::size_t perThread = (count + 15) / 16 * 16; // whole cache lines: no line shared by two threads
    const auto maxima = orvex_fft::AllocateArray<int>(perThread * threads);
    const auto factors = orvex_fft::AllocateArray<float>(count);
    const auto keep = orvex_fft::AllocateArray<std::uint8_t>(static_cast<std::size_t>(bytes) * 2 * static_cast<std::size_t>(parts));
    if (!maxima || !factors || !keep) {
        ReportFailure();
        return;
    }

    std::array<int, 3> largest{};
    std::mutex largestMutex;
    ParallelFor(0, h - 1, [&](int y0, int y1) {
        int* const local = maxima.get() + perThread * std::min(static_cast<std::size_t>(ParallelSlot()), threads - 1);
        std::fill(local, local + count, 0);
        for (int y = y0; y < y1; ++y) EdgeMaximaRow(RowOf(picture, y), RowOf(picture, y + 1), local, static_cast<int>(count));
        std::lock_guard lock(largestMutex);
        for (std::size_t i = 0; i < count; ++i) largest[i % 3] = std::max(largest[i % 3], local[i]);
    });

    // A channel without edges keeps its zeros: 255 / 0 is never taken.
    std::fill(factors.get(), factors.get() + count, 0.0f);
    for (std::size_t c = 0; c < 3; ++c) {
        const float maximum = static_cast<float>(std::min(static_cast<int>(std::sqrt(static_cast<float>(largest[c]))), 255));
        if (maximum == 0.0f) continue;
        const float factor = 255.0f / maximum;
        for (std::size_t i = c; i < count; i += 3) factors[i] = factor;
    }

    // Row y reads rows y and y + 1 as they were: each core's run of rows keeps the unmodified row
    // below its run, and a copy of the row it is writing.
    const auto bound = [&](int part) { return static_cast<int>(static_cast<long long>(rows) * part / parts); };
    for (int part = 0; part < parts && rows > 0; ++part)
        std::memcpy(keep.get() + static_cast<std::size_t>(bytes) * (2 * static_cast<std::size_t>(part)), RowOf(picture, bound(part + 1)),
                    static_cast<std::size_t>(bytes));
    if (rows > 0) {
        ParallelFor(0, parts, [&](int p0, int p1) {
            for (int part = p0; part < p1; ++part) {
                const std::uint8_t* kept = keep.get() + static_cast<std::size_t>(bytes) * (2 * static_cast<std::size_t>(part));
                std::uint8_t* here = keep.get() + static_cast<std::size_t>(bytes) * (2 * static_cast<std::size_t>(part) + 1);
                const int y1 = bound(part + 1);
                for (int y = bound(part); y < y1; ++y) {
                    std::uint8_t* out = RowOf(picture, y);
                    const std::uint8_t* below = y + 1 < y1 ? RowOf(picture, y + 1) : kept;
                    std::memcpy(here, out, static_cast<std::size_t>(bytes));
                    EdgeRow(here, below, factors.get(), out, static_cast<int>(count));
                    out[bytes - 3] = out[bytes - 2] = out[bytes - 1] = 0;
                }
            }
        });
    }
    std::memset(RowOf(picture, h - 1), 0, static_cast<std::size_t>(bytes));
}

void CImageProcessor::UnsharpMask(float radius, float amount)
{
    CImage* target = image();
    if (!target || target->IsNull()) return;
    CImage blurred;
    if (!BlurredCopy(*this, *target, radius, blurred)) {
        ReportFailure();
        return;
    }
    const double factor = std::isnan(amount) ? 0.0 : static_cast<double>(amount);
    CombineWithCopy(*target, blurred, [factor](std::uint8_t o, std::uint8_t b) {
        const int d = o - b;
        // float * int is exact in double. Beyond +-4096 the clamp decides anyway; bounding first
        // keeps the conversion defined for any amount.
        const double product = std::clamp(factor * d, -4096.0, 4096.0);
        return ClampByte(o + static_cast<int>(product));
    });
}

void CImageProcessor::HighPass(float radius)
{
    CImage* target = image();
    if (!target || target->IsNull()) return;
    CImage blurred;
    if (!BlurredCopy(*this, *target, radius, blurred)) {
        ReportFailure();
        return;
    }
    CombineWithCopy(*target, blurred, [](std::uint8_t o, std::uint8_t b) { return ClampByte(o - b + 128); });
}
