#pragma once

#include <fftw3.h>

#include <cstddef>
#include <memory>
#include <string>

// FFTW plans for whole-picture circular convolutions, kept per transform size (the sixteen most
// recent sizes).
//
// A W x H convolution is done as 1-D transforms: a real transform of length W along every row and a
// complex transform of length H down every column of the half spectrum (columns in blocks of
// kColumnBlock). Both cores share the rows and the column blocks, so FFTW's own threads are not
// needed. 1-D plans are cheap to estimate and nearly as fast as measured ones, so the first blur of
// a new size runs at once on estimated plans; once no convolution is running, a background thread
// measures better ones (at most half a second each), which later blurs pick up, and keeps them as
// FFTW wisdom in the user's cache folder for the next session.
//
// FFTW's planner is not thread-safe: every plan is created and destroyed here under one lock.
// Executing a plan on new arrays (fftw_execute_dft*) is thread-safe, which is all callers do.
namespace orvex_fft {

constexpr int kColumnBlock = 8;

struct CPlanSet
{
    int width = 0;
    int height = 0;
    int halfWidth = 0;  // complex samples per row of the half spectrum, W / 2 + 1
    int rowStride = 0;  // doubles from one plane row to the next (>= 2 * halfWidth, 64-byte steps)
    bool measured = false;
    // In place on one plane row (rowStride doubles, 64-byte aligned).
    fftw_plan rowForward = nullptr; // r2c, length W
    fftw_plan rowInverse = nullptr; // c2r, length W
    // In place on kColumnBlock contiguous columns of H complex samples (64-byte aligned).
    fftw_plan columnForward = nullptr;
    fftw_plan columnInverse = nullptr;
    // The same on kColumnBlock / 2 columns.
    fftw_plan halfBlockForward = nullptr;

    ~CPlanSet();
};

// Plans for a W x H picture (W, H >= 2), or null when FFTW cannot plan it. The set stays valid for
// as long as the caller holds it, even if measured plans replace it in the cache meanwhile.
std::shared_ptr<const CPlanSet> PlansFor(int width, int height);

struct CPlanningOptions
{
    bool measureInBackground = true;
    // Where wisdom is read from and written to; empty means DefaultWisdomFile(); "-" means nowhere.
    std::string wisdomFile;
};
// Takes effect for plans made afterwards. Tests use it to keep results independent of timing.
void SetPlanningOptions(const CPlanningOptions& options);
// Blocks until the background thread has measured every size asked for so far.
void WaitForBackgroundPlanning();
// Held by every convolution while it runs: background measuring waits for none to be running.
class CConvolutionRunning
{
public:
    CConvolutionRunning();
    ~CConvolutionRunning();
    CConvolutionRunning(const CConvolutionRunning&) = delete;
    CConvolutionRunning& operator=(const CConvolutionRunning&) = delete;
};
// Forgets every cached plan and the kept plane buffer (the next blur plans again; wisdom is kept).
void DropCachedPlans();
// The file named by $ORVEX_FFT_WISDOM ("-": none) if set, else the user's cache folder
// ($XDG_CACHE_HOME or ~/.cache, then orvex/fftw-wisdom).
std::string DefaultWisdomFile();

// The planes of one convolution. The memory is kept for a moment after it ends, so that a run of
// blurs of one size (previews, or Unsharp Mask after a Gaussian) does not fault in hundreds of
// megabytes each time; it goes back to the system after two idle seconds.
class CPlaneBuffer
{
public:
    explicit CPlaneBuffer(std::size_t bytes);
    ~CPlaneBuffer();
    CPlaneBuffer(const CPlaneBuffer&) = delete;
    CPlaneBuffer& operator=(const CPlaneBuffer&) = delete;
    double* get() const { return m_data; }
    void* raw() const { return m_data; }
    explicit operator bool() const { return m_data != nullptr; }

private:
    double* m_data = nullptr;
    std::size_t m_bytes = 0;
};

// 64-byte aligned buffers for planes and scratch. Null when the memory cannot be had.
void* AllocateBuffer(std::size_t bytes);
void FreeBuffer(void* buffer);

struct CBufferDeleter
{
    void operator()(void* p) const { FreeBuffer(p); }
};
template <class T>
using BufferPtr = std::unique_ptr<T[], CBufferDeleter>;

template <class T>
BufferPtr<T> AllocateArray(std::size_t count)
{
    return BufferPtr<T>(static_cast<T*>(AllocateBuffer(count * sizeof(T))));
}

} // namespace orvex_fft

// Fault injection: after `allocations` more successful buffer allocations (or plannings, for the
// second hook) every further one fails, until reset with a negative count.
namespace orvex_testing {
void FailFftBuffersAfter(int allocations);
void FailFftPlanning(bool fail);
} // namespace orvex_testing
