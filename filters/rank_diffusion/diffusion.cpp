// Total-variation and balanced forward-backward diffusion: N explicit steps over two double-precision
// buffers with a one-cell frame, then the picture written back by truncation.
//
// The frame holds a copy of the nearest edge cell, refreshed before every step, so that border pixels
// see a flat continuation of the picture rather than black. Each thread streams its own run of
// columns: the blocks between a column and the next are evaluated once (mean and shrink factor) and
// shared by the four pixels whose windows contain them.
//
// Worker protocol: the run checks the cancel flag at every column start; the picture is written only
// after the last step, just after `committed` is raised, so a cancelled or failed run leaves it as it
// was.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/rank_diffusion/diffusion_kernel.h"
#include "filters/rank_diffusion/rank_diffusion.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string_view>
#include <thread>

namespace ord = orvex_rank_diffusion;

#if defined(ORVEX_HAVE_WIDE_DIFFUSION)
void DiffusionBlockColumnAvx2(const double* left, const double* right, double* mean, double* shrink, int lanes,
                              ord::CShrink rule);
void DiffusionFusedColumnAvx2(const double* centre, const double* right, const double* meanLeft,
                              const double* shrinkLeft, double* meanRight, double* shrinkRight, double* out,
                              int pixelLanes, ord::CShrink rule);
void DiffusionBlockColumnAvx512(const double* left, const double* right, double* mean, double* shrink, int lanes,
                                ord::CShrink rule);
void DiffusionFusedColumnAvx512(const double* centre, const double* right, const double* meanLeft,
                                const double* shrinkLeft, double* meanRight, double* shrinkRight, double* out,
                                int pixelLanes, ord::CShrink rule);
#endif

namespace {

bool Has(ord::CDiffusionKernel kernel)
{
#if defined(ORVEX_HAVE_WIDE_DIFFUSION)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    static const bool avx512 = __builtin_cpu_supports("avx512f");
    if (kernel == ord::CDiffusionKernel::Avx2) return avx2;
    if (kernel == ord::CDiffusionKernel::Avx512) return avx512;
#endif
    return kernel == ord::CDiffusionKernel::Scalar;
}

ord::CDiffusionKernel Resolve(ord::CDiffusionKernel kernel)
{
    if (kernel != ord::CDiffusionKernel::Best) return kernel;
    for (ord::CDiffusionKernel widest : {ord::CDiffusionKernel::Avx512, ord::CDiffusionKernel::Avx2})
        if (Has(widest)) return widest;
    return ord::CDiffusionKernel::Scalar;
}

std::size_t ColumnStride(int height)
{
    return 3 * static_cast<std::size_t>(height + 2);
}

// Copies of the picture's columns into the buffer's interior, top and bottom frame cells included,
// a band of columns at a time so that every picture row read is used for all of them.
constexpr int kColumnBand = 16;

void FillColumns(const CImage& picture, double* buffer, int x0, int x1)
{
    const int height = picture.height();
    const std::size_t stride = ColumnStride(height);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch();
        for (int x = x0; x < x1; ++x) {
            double* cell = buffer + static_cast<std::size_t>(x + 1) * stride + 3 * static_cast<std::size_t>(y + 1);
            for (int ch = 0; ch < 3; ++ch) cell[ch] = row[3 * x + ch];
        }
    }
    for (int x = x0; x < x1; ++x) {
        double* column = buffer + static_cast<std::size_t>(x + 1) * stride;
        std::memcpy(column, column + 3, 3 * sizeof(double));
        std::memcpy(column + 3 * static_cast<std::size_t>(height + 1), column + 3 * static_cast<std::size_t>(height),
                    3 * sizeof(double));
    }
}

// Each value truncated toward zero; its low 8 bits become the channel byte.
void WriteColumns(const double* buffer, CImage& picture, int x0, int x1)
{
    const int height = picture.height();
    const std::size_t stride = ColumnStride(height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch();
        for (int x = x0; x < x1; ++x) {
            const double* cell = buffer + static_cast<std::size_t>(x + 1) * stride + 3 * static_cast<std::size_t>(y + 1);
            for (int ch = 0; ch < 3; ++ch) row[3 * x + ch] = static_cast<std::uint8_t>(static_cast<int>(cell[ch]) & 0xFF);
        }
    }
}

// Bands of columns spread over the cores; false as soon as `stop` says so.
template <class Body>
bool ForColumnBands(int width, const std::function<bool()>& stop, const Body& body)
{
    std::atomic<bool> stopped{false};
    const int bands = (width + kColumnBand - 1) / kColumnBand;
    ParallelFor(0, bands, [&](int b0, int b1) {
        for (int b = b0; b < b1; ++b) {
            if (stopped.load() || stop()) {
                stopped.store(true);
                return;
            }
            body(b * kColumnBand, std::min(width, (b + 1) * kColumnBand));
        }
    });
    return !stopped.load();
}

} // namespace

bool ord::DiffusionKernelAvailable(CDiffusionKernel kernel)
{
    return kernel == CDiffusionKernel::Best || Has(kernel);
}

std::size_t ord::DiffusionScratch(int height)
{
    return 4 * 3 * static_cast<std::size_t>(height + 1);
}

void ord::FillSideFrame(double* buffer, int width, int height)
{
    const std::size_t stride = ColumnStride(height);
    std::memcpy(buffer, buffer + stride, stride * sizeof(double));
    std::memcpy(buffer + static_cast<std::size_t>(width + 1) * stride, buffer + static_cast<std::size_t>(width) * stride,
                stride * sizeof(double));
}

bool ord::DiffusionColumns(const double* src, double* dst, int width, int height, int x0, int x1, CShrink shrink,
                           double* scratch, const std::function<bool()>& columnStart, CDiffusionKernel kernel)
{
    (void)width;
    const CDiffusionKernel use = Resolve(kernel);
    const std::size_t stride = ColumnStride(height);
    const int blockLanes = 3 * (height + 1);
    const int pixelLanes = 3 * height;
    double* meanLeft = scratch;
    double* shrinkLeft = meanLeft + blockLanes;
    double* meanRight = shrinkLeft + blockLanes;
    double* shrinkRight = meanRight + blockLanes;

    auto blocks = [&](int x, double* mean, double* factor) {
        const double* left = src + static_cast<std::size_t>(x) * stride;
#if defined(ORVEX_HAVE_WIDE_DIFFUSION)
        if (use == CDiffusionKernel::Avx512)
            return DiffusionBlockColumnAvx512(left, left + stride, mean, factor, blockLanes, shrink);
        if (use == CDiffusionKernel::Avx2) return DiffusionBlockColumnAvx2(left, left + stride, mean, factor, blockLanes, shrink);
#endif
        BlockColumn<CScalarLanes>(left, left + stride, mean, factor, blockLanes, shrink);
    };
    blocks(x0 - 1, meanLeft, shrinkLeft);
    for (int x = x0; x < x1; ++x) {
        if (!columnStart()) return false;
        const double* centre = src + static_cast<std::size_t>(x) * stride;
        double* out = dst + static_cast<std::size_t>(x) * stride;
#if defined(ORVEX_HAVE_WIDE_DIFFUSION)
        if (use == CDiffusionKernel::Avx512)
            DiffusionFusedColumnAvx512(centre, centre + stride, meanLeft, shrinkLeft, meanRight, shrinkRight, out + 3,
                                       pixelLanes, shrink);
        else if (use == CDiffusionKernel::Avx2)
            DiffusionFusedColumnAvx2(centre, centre + stride, meanLeft, shrinkLeft, meanRight, shrinkRight, out + 3,
                                     pixelLanes, shrink);
        else
#endif
            FusedColumn<CScalarLanes>(centre, centre + stride, meanLeft, shrinkLeft, meanRight, shrinkRight, out + 3,
                                      pixelLanes, shrink);
        std::memcpy(out, out + 3, 3 * sizeof(double));
        std::memcpy(out + 3 * static_cast<std::size_t>(height + 1), out + 3 * static_cast<std::size_t>(height),
                    3 * sizeof(double));
        std::swap(meanLeft, meanRight);
        std::swap(shrinkLeft, shrinkRight);
    }
    return true;
}

namespace {

void Diffuse(CImageProcessor& engine, CImage* target, int iterations, ord::CShrink shrink, std::string_view label,
             const std::function<void()>& fail)
{
    if (!target || target->IsNull() || target->bitsPerPixel() != 24 || iterations < 1) return;
    CImage& picture = *target;
    const int width = picture.width();
    const int height = picture.height();
    const std::size_t doubles = 3 * ord::DiffusionCells(width, height);

    ord::CWorkBuffer first(doubles * sizeof(double));
    ord::CWorkBuffer second(first ? doubles * sizeof(double) : 0);
    if (!first || !second) return fail();

    CImageProcessor::ProgressScope bar(engine, label, iterations * width);
    const std::thread::id owner = std::this_thread::get_id();
    std::atomic<bool> stopped{false};
    auto stop = [&] {
        if (stopped.load(std::memory_order_relaxed)) return true;
        bool now = engine.cancel.load() != 0;
        if (!now && std::this_thread::get_id() == owner) now = bar.StopRequested();
        if (now) stopped.store(true);
        return now;
    };

    double* a = first.as<double>();
    double* b = second.as<double>();
    if (!ForColumnBands(width, stop, [&](int x0, int x1) { FillColumns(picture, a, x0, x1); })) return;
    ord::FillSideFrame(a, width, height);

    // Progress moves by 100 / (N W) at every column start, as a single-precision value.
    const float step = static_cast<float>(100.0 / (static_cast<double>(iterations) * width));
    std::atomic<int> columnsStarted{0};
    std::atomic<bool> outOfMemory{false};
    auto columnStart = [&] {
        const int started = columnsStarted.fetch_add(1) + 1;
        engine.progress.store(static_cast<float>(started) * step);
        if (std::this_thread::get_id() == owner) bar.Set(started);
        return !stop();
    };

    for (int pass = 0; pass < iterations; ++pass) {
        const double* src = pass % 2 == 0 ? a : b;
        double* dst = pass % 2 == 0 ? b : a;
        ParallelFor(1, width + 1, [&](int x0, int x1) {
            ord::CWorkBuffer scratch(ord::DiffusionScratch(height) * sizeof(double));
            if (!scratch) {
                outOfMemory.store(true);
                stopped.store(true);
                return;
            }
            ord::DiffusionColumns(src, dst, width, height, x0, x1, shrink, scratch.as<double>(), columnStart);
        });
        if (outOfMemory.load()) return fail();
        // The other core may have taken every column of the pass, so the owner catches up with the
        // progress and the stop request here rather than trusting its own column starts alone.
        bar.Set(columnsStarted.load());
        if (stop()) return;
        ord::FillSideFrame(dst, width, height);
    }

    // From here on the run counts as done, whatever Escape says.
    engine.committed.store(1);
    const double* result = iterations % 2 == 0 ? a : b;
    ForColumnBands(width, [] { return false; }, [&](int x0, int x1) { WriteColumns(result, picture, x0, x1); });
}

} // namespace

void CImageProcessor::TotalVariationDiffusion(int iterations)
{
    WorkerScope worker(*this);
    Diffuse(*this, image(), iterations, ord::CShrink::TotalVariation, " Total variation:", [this] { ReportFailure(); });
}

void CImageProcessor::BalancedDiffusion(int iterations)
{
    WorkerScope worker(*this);
    Diffuse(*this, image(), iterations, ord::CShrink::Balanced, " Balanced Forward-Backward:",
            [this] { ReportFailure(); });
}
