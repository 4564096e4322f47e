#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// Internals of the rank and diffusion filters shared with their tests and benchmarks.
namespace orvex_rank_diffusion {

// Work memory of the rank and diffusion filters: 64-byte aligned, uninitialised, large blocks
// mapped for huge pages as far as the kernel has them free (core/huge_pages.h). Empty (null) when
// the memory cannot be had; the filters then leave the picture alone and report failure.
class CWorkBuffer
{
public:
    CWorkBuffer() = default;
    explicit CWorkBuffer(std::size_t bytes);
    ~CWorkBuffer();
    CWorkBuffer(CWorkBuffer&& other) noexcept : m_data(other.m_data), m_bytes(other.m_bytes)
    {
        other.m_data = nullptr;
        other.m_bytes = 0;
    }
    CWorkBuffer& operator=(CWorkBuffer&&) = delete;
    CWorkBuffer(const CWorkBuffer&) = delete;
    CWorkBuffer& operator=(const CWorkBuffer&) = delete;

    template <class T>
    T* as() const { return static_cast<T*>(m_data); }
    explicit operator bool() const { return m_data != nullptr; }

private:
    void* m_data = nullptr;
    std::size_t m_bytes = 0;
};

// ---- rank filters ------------------------------------------------------------------------------

// Where padded index i (-r .. n - 1 + r) of a row or column of n samples reads: the low side mirrors
// about the edge sample (-j takes j), the high side about the outer edge of the last sample
// (n - 1 + j takes n - j); a mirrored index that falls outside 0 .. n - 1 (radius at least n) is
// clamped into it.
inline int MirrorIndex(int i, int n)
{
    if (i < 0) i = -i;
    else if (i > n - 1) i = 2 * n - 1 - i;
    return i < 0 ? 0 : i > n - 1 ? n - 1 : i;
}

// ---- diffusion ---------------------------------------------------------------------------------

enum class CShrink { TotalVariation, Balanced };

// One cell is three doubles (blue, green, red); buffers are column-major with a one-cell frame:
// cell (x, y), 0 <= x <= W + 1, 0 <= y <= H + 1, starts at double index 3 * (x * (H + 2) + y).
inline std::size_t DiffusionCells(int width, int height)
{
    return static_cast<std::size_t>(width + 2) * static_cast<std::size_t>(height + 2);
}

// The vector widths a pass can run at; Best is what the processor has.
enum class CDiffusionKernel { Best, Scalar, Avx2, Avx512 };
bool DiffusionKernelAvailable(CDiffusionKernel kernel);

// Doubles of scratch one DiffusionColumns call needs for a picture `height` rows high.
std::size_t DiffusionScratch(int height);

// Writes the interior of `dst` (and its top and bottom frame cells, copies of the nearest interior
// cell) for interior columns x0 .. x1 - 1 (1-based) from the frame-complete `src`: one explicit step
// of the four-block rule. Each block's mean and shrink factor are computed once and shared by the
// four pixels around it. `columnStart` is asked before each column; false stops the pass there and
// the call returns false.
bool DiffusionColumns(const double* src, double* dst, int width, int height, int x0, int x1, CShrink shrink,
                      double* scratch, const std::function<bool()>& columnStart,
                      CDiffusionKernel kernel = CDiffusionKernel::Best);

// Copies the first and last interior columns into the left and right frame columns.
void FillSideFrame(double* buffer, int width, int height);

} // namespace orvex_rank_diffusion

// Fault injection for tests: after `allocations` more successful work-buffer allocations of the
// rank and diffusion filters, every further one fails until reset with a negative count.
namespace orvex_testing {
void FailRankDiffusionAllocationsAfter(int allocations);
}
