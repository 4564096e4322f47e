#include "core/huge_pages.h"
#include "core/image_processor.h"
#include "core/operation_table.h"
#include "filters/rank_diffusion/bilateral.h"
#include "filters/rank_diffusion/despeckle.h"
#include "filters/rank_diffusion/rank_diffusion.h"

#include <algorithm>
#include <atomic>
#include <new>

namespace {

std::atomic<int> g_allocationsBeforeFailure{-1};

// Diffusion buffers of a photo weigh over half a gigabyte each: mapped for huge pages, they cost a
// few hundred page faults instead of a quarter of a million where the kernel has huge pages free.
constexpr std::size_t kMapThreshold = std::size_t(8) << 20;

bool AllowedByTests()
{
    int left = g_allocationsBeforeFailure.load();
    while (left >= 0) {
        if (left == 0) return false;
        if (g_allocationsBeforeFailure.compare_exchange_weak(left, left - 1)) break;
    }
    return true;
}

// A step moves each pixel by the four 2 x 2 blocks around it, so N steps reach N pixels; the
// frame's copies of the edge cells then affect nothing further in.
COpReach DiffusionReach(int iterations)
{
    return COpReach::Within(iterations > 0 ? iterations : 0);
}

} // namespace

void orvex_testing::FailRankDiffusionAllocationsAfter(int allocations)
{
    g_allocationsBeforeFailure.store(allocations < 0 ? -1 : allocations);
}

orvex_rank_diffusion::CWorkBuffer::CWorkBuffer(std::size_t bytes)
{
    if (bytes == 0 || !AllowedByTests()) return;
    if (bytes >= kMapThreshold) {
        m_data = orvex_memory::MapHugeAligned(bytes);
    } else {
        m_data = ::operator new(bytes, std::align_val_t{64}, std::nothrow);
    }
    if (m_data) m_bytes = bytes;
}

orvex_rank_diffusion::CWorkBuffer::~CWorkBuffer()
{
    if (!m_data) return;
    if (m_bytes >= kMapThreshold) orvex_memory::Unmap(m_data);
    else ::operator delete(m_data, std::align_val_t{64});
}

// Radius and iteration ranges are the dialogs'.
void AddRankDiffusionOperations(std::vector<COperation>& table)
{
    table.push_back(
        {.name = "RankFilter",
         .summary = "median (mode 0), maximum (1) or minimum (-1) of each channel over the (2r+1)-square "
                    "around each pixel, the picture mirrored beyond its edges",
         .params = {CParam::Int("radius", 1, 100, 5), CParam::Int("mode", -1, 1, 0)},
         .call =
             [](CImageProcessor& e, const COpArgs& a) {
                 e.RankFilter(a.Int(0), a.Int(1));
                 return true;
             },
         .inPlaceOnly = true,
         // The mirrored border repeats only pixels within the radius of the edge pixel.
         .reach = [](const COpArgs& a) { return COpReach::Within(a.Int(0) >= 1 && a.Int(0) <= 100 ? a.Int(0) : 0); }});
    table.push_back({.name = "TotalVariationDiffusion",
                     .summary = "edge-preserving smoothing, N explicit steps: each 2x2 block pulls a pixel toward "
                                "its mean unless its contrast is high (total-variation shrink)",
                     .params = {CParam::Int("iterations", 0, 100, 10)},
                     .call =
                         [](CImageProcessor& e, const COpArgs& a) {
                             e.TotalVariationDiffusion(a.Int(0));
                             return true;
                         },
                     .inPlaceOnly = true,
                     .reach = [](const COpArgs& a) { return DiffusionReach(a.Int(0)); }});
    table.push_back({.name = "BalancedDiffusion",
                     .summary = "balanced forward-backward diffusion, N steps: flattens low-contrast blocks and keeps "
                                "strong edges sharper than total variation",
                     .params = {CParam::Int("iterations", 0, 100, 10)},
                     .call =
                         [](CImageProcessor& e, const COpArgs& a) {
                             e.BalancedDiffusion(a.Int(0));
                             return true;
                         },
                     .inPlaceOnly = true,
                     .reach = [](const COpArgs& a) { return DiffusionReach(a.Int(0)); }});
    // Specks of salt and pepper stand out from their median by a hundred levels and more, while grain
    // and fine texture mostly stay within twenty of it: 20 removes the first and leaves the second.
    table.push_back({.name = "Despeckle",
                     .summary = "per channel, a value further than threshold from the median of the (2r+1)-square "
                                "around it becomes that median; edge pixels repeated beyond the edges",
                     .params = {CParam::Int("radius", 1, 2, 2), CParam::Int("threshold", 0, 255, 20)},
                     .call =
                         [](CImageProcessor& e, const COpArgs& a) {
                             Despeckle(e, a.Int(0), a.Int(1));
                             return true;
                         },
                     .reach = [](const COpArgs& a) { return COpReach::Within(std::clamp(a.Int(0), 1, 2)); }});
    table.push_back({.name = "Bilateral",
                     .summary = "mean of the disc of the radius weighted by exp(-dist^2/(2(r/2)^2)) * "
                                "exp(-d^2/(2 sigma^2)), d = |dB|+|dG|+|dR|; edge pixels repeated beyond the edges",
                     .params = {CParam::Int("radius", 0, 20, 5), CParam::Float("sigma", 1, 150, 30)},
                     .call =
                         [](CImageProcessor& e, const COpArgs& a) {
                             Bilateral(e, a.Int(0), a.Float(1));
                             return true;
                         },
                     .reach = [](const COpArgs& a) { return COpReach::Within(std::clamp(a.Int(0), 0, 20)); }});
}
