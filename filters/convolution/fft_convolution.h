#pragma once

#include "core/image.h"
#include "filters/convolution/fft_plans.h"

#include <functional>
#include <vector>

// Circular convolution of a whole picture with a kernel whose spectrum is real (a kernel that is
// point-symmetric: k(-i, -j) = k(i, j), as the bell, the disc and the streak all are).
//
// Each channel is transformed by rows (real), then column block by column block (complex): a block
// is gathered into a small buffer that stays in cache while it is transformed, multiplied by the
// kernel's spectrum and transformed back; then by rows again into the picture. The planes hold
// only the column blocks the kernel lets through, so a broad bell needs a fraction of the memory
// and of the column work. Nothing is written to the picture until every buffer has been had; a
// failure leaves the picture as it was.
namespace orvex_fft {

// The kernel's spectrum K(u, v) over the transform lengths Lx x Ly: u = 0 .. Lx/2 (half spectrum),
// v = 0 .. Ly - 1. The inverse transforms' factor Lx * Ly is taken out when the result is stored.
class CKernelSpectrum
{
public:
    virtual ~CKernelSpectrum() = default;
    // Writes K(u0 + k, v) to out[k * H + v] for k < count (count <= kColumnBlock). `work` is
    // kColumnBlock * H complex samples of scratch owned by the calling thread.
    virtual void Columns(const CPlanSet& plans, int u0, int count, double* out, fftw_complex* work) const = 0;
    // True when Columns costs little next to transforming the columns, so that it may be called
    // ahead of time to find the columns the kernel lets nothing through.
    virtual bool CheapColumns() const { return false; }
};

// A kernel that is a product g(i) * h(j) of two even 1-D kernels: its spectrum is G(u) * H(v).
class CSeparableSpectrum final : public CKernelSpectrum
{
public:
    // `row` holds g over the row transform's length (displacement -i at Lx - i), `column` h over
    // the column transform's.
    bool Build(const CPlanSet& plans, const double* row, const double* column);
    void Columns(const CPlanSet& plans, int u0, int count, double* out, fftw_complex* work) const override;
    bool CheapColumns() const override { return true; }

private:
    BufferPtr<double> m_rowSpectrum;    // halfWidth values
    BufferPtr<double> m_columnSpectrum; // H values
};

// A kernel that is even in both directions and zero beyond row `maxRow` (|j| <= maxRow < Ly / 2):
// the 1-D spectra of its rows are kept, and each column block's spectrum is made from them when
// the block is processed, two columns per complex transform.
class CRowsSpectrum final : public CKernelSpectrum
{
public:
    // `rows` holds kernel rows j = 0 .. count - 1 (count = maxRow + 1), each over the row
    // transform's length, one after another.
    bool Build(const CPlanSet& plans, const double* rows, int count);
    void Columns(const CPlanSet& plans, int u0, int count, double* out, fftw_complex* work) const override;

private:
    int m_rows = 0;
    BufferPtr<double> m_rowSpectra; // m_rows x halfWidth
};

// Any point-symmetric kernel, transformed whole and kept (4 bytes per pixel).
class CStoredSpectrum final : public CKernelSpectrum
{
public:
    // `fillRow(y, row)` writes transform row y (displacement y, or y - Ly past the middle) into
    // `row`, Lx values over zeros.
    bool Build(const CPlanSet& plans, const std::function<void(int, double*)>& fillRow);
    void Columns(const CPlanSet& plans, int u0, int count, double* out, fftw_complex* work) const override;

private:
    BufferPtr<double> m_spectrum; // halfWidth columns of H values
};

enum class StoreMode {
    Wrap,      // low 8 bits of the value truncated toward zero
    ClampHigh, // values above 255 become 255 first
};

// Transform lengths for a W x H picture. The convolution is circular over the picture whatever the
// lengths: a length that FFTW handles slowly (a large prime factor) can be traded for a longer,
// fast one holding the picture plus a periodic margin as wide as the kernel reaches, which gives
// the same circular convolution over the picture's own samples.
struct CGeometry
{
    int width = 0;
    int height = 0;
    int lengthX = 0; // transform lengths
    int lengthY = 0;
    int offsetX = 0; // margin before the picture's first sample; 0 when the length is the size
    int offsetY = 0;
};

// `supportX/Y`: how far, in columns and rows, the kernel's weights matter.
CGeometry ChooseGeometry(int width, int height, int supportX, int supportY);
// Channels whose planes fit in 24 bytes per picture pixel together (8 bytes a sample each).
int ChannelsPerBatch(const CGeometry& g);
// Smallest length >= n with no prime factor above 7.
int SmoothLength(int n);
// Relative cost of a transform of length n.
double TransformCost(int n);

struct CConvolution
{
    int offsetX = 0; // from CGeometry; the plans are for its lengths
    int offsetY = 0;
    int channelsPerBatch = 3; // planes in memory at once: 8 bytes per sample each
    StoreMode store = StoreMode::Wrap;
    // Called on the calling thread with the fraction done, 0..1.
    std::function<void(double)> progress;
    // Asked between runs of rows or columns; true abandons the convolution with the picture partly
    // written, which only a cancelled run (whose picture is put back) or a stale preview may want.
    std::function<bool()> stop;
};

// Convolves the picture's three channels in place with plans for the transform lengths. False
// (picture untouched) when a buffer cannot be had.
bool Convolve(CImage& picture, const CPlanSet& plans, const CKernelSpectrum& kernel, const CConvolution& how);

} // namespace orvex_fft
