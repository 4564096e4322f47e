#include "filters/convolution/fft_convolution.h"

#include "core/parallel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace orvex_fft {
namespace {

std::size_t Count(int a, int b)
{
    return static_cast<std::size_t>(a) * static_cast<std::size_t>(b);
}

// One scratch area per thread that ParallelFor may run at once.
class CThreadScratch
{
public:
    bool Allocate(const CPlanSet& plans)
    {
        m_threads = ParallelThreadCount();
        m_stride = Count(kColumnBlock, plans.height);
        m_rowStride = static_cast<std::size_t>(plans.rowStride);
        m_work = AllocateArray<fftw_complex>(m_stride * static_cast<std::size_t>(m_threads));
        m_kernel = AllocateArray<double>(m_stride * static_cast<std::size_t>(m_threads));
        m_rows = AllocateArray<double>(m_rowStride * 3 * static_cast<std::size_t>(m_threads));
        return m_work && m_kernel && m_rows;
    }

    // The same with three whole transform rows of scratch per part, rowStride doubles apart.
    template <class Body>
    void RunRows(int begin, int end, const Body& body)
    {
        ParallelFor(begin, end, [&](int from, int to) {
            const std::size_t slot = Slot();
            body(from, to, m_rows.get() + slot * 3 * m_rowStride);
        });
    }

    // Runs body(from, to, work, kernel) over [begin, end) on every core, giving each concurrent
    // part a scratch area of its own.
    template <class Body>
    void Run(int begin, int end, const Body& body)
    {
        ParallelFor(begin, end, [&](int from, int to) {
            const std::size_t slot = Slot();
            body(from, to, m_work.get() + slot * m_stride, m_kernel.get() + slot * m_stride);
        });
    }

private:
    // The running thread's own area: blocks run concurrently only on different threads.
    std::size_t Slot() const { return static_cast<std::size_t>(std::min(ParallelSlot(), m_threads - 1)); }

    int m_threads = 1;
    std::size_t m_stride = 0;
    std::size_t m_rowStride = 0;
    BufferPtr<fftw_complex> m_work;
    BufferPtr<double> m_kernel;
    BufferPtr<double> m_rows;
};

// Splits [0, count) into a few consecutive runs so that progress can be shown between them from
// the calling thread.
// False when the caller asked to stop between runs.
template <class Body>
bool InChunks(int count, int chunks, const CConvolution& how, double from, double to, const Body& body)
{
    chunks = std::max(1, std::min(chunks, count));
    for (int c = 0; c < chunks; ++c) {
        if (how.stop && how.stop()) return false;
        const int begin = static_cast<int>(static_cast<long long>(count) * c / chunks);
        const int end = static_cast<int>(static_cast<long long>(count) * (c + 1) / chunks);
        body(begin, end);
        if (how.progress) how.progress(from + (to - from) * (c + 1) / chunks);
    }
    return true;
}

fftw_complex* RowAsComplex(double* row)
{
    return reinterpret_cast<fftw_complex*>(row);
}

// Rows ahead whose block is fetched while one row is moved: rows lie tens of kilobytes apart, too
// far for the hardware to guess.
constexpr int kPrefetchRows = 12;

// Moves `count` columns of a plane's half spectrum, starting at complex index `at` of each row
// (rows `stride` doubles apart), into `work` (column k at k * H), and clears the block's unused
// columns, so that whole-block transforms never see stale values.
void Gather(const double* plane, std::size_t stride, int height, int at, int count, fftw_complex* work)
{
    for (int y = 0; y < height; ++y) {
        const fftw_complex* src = RowAsComplex(const_cast<double*>(plane) + Count(y, 1) * stride) + at;
        if (y + kPrefetchRows < height) {
            const double* ahead = plane + Count(y + kPrefetchRows, 1) * stride + 2 * static_cast<std::size_t>(at);
            for (int line = 0; line < 2 * count; line += 8) __builtin_prefetch(ahead + line);
        }
        for (int k = 0; k < count; ++k) {
            work[Count(k, height) + static_cast<std::size_t>(y)][0] = src[k][0];
            work[Count(k, height) + static_cast<std::size_t>(y)][1] = src[k][1];
        }
    }
    if (count < kColumnBlock)
        std::memset(static_cast<void*>(work + Count(count, height)), 0, sizeof(fftw_complex) * Count(kColumnBlock - count, height));
}

void Scatter(const fftw_complex* work, int height, int at, int count, double* plane, std::size_t stride)
{
    for (int y = 0; y < height; ++y) {
        fftw_complex* dst = RowAsComplex(plane + Count(y, 1) * stride) + at;
        if (y + kPrefetchRows < height) {
            double* ahead = plane + Count(y + kPrefetchRows, 1) * stride + 2 * static_cast<std::size_t>(at);
            for (int line = 0; line < 2 * count; line += 8) __builtin_prefetch(ahead + line, 1);
        }
        for (int k = 0; k < count; ++k) {
            dst[k][0] = work[Count(k, height) + static_cast<std::size_t>(y)][0];
            dst[k][1] = work[Count(k, height) + static_cast<std::size_t>(y)][1];
        }
    }
}

int BlockCount(const CPlanSet& plans)
{
    return (plans.halfWidth + kColumnBlock - 1) / kColumnBlock;
}

// Samples to bytes: low 8 bits of the value truncated toward zero, values above `top` taken as
// `top` first. Only rounding can take a value outside 0..255 otherwise; the bounds keep the
// conversion defined for any input without changing the result of a sane one.
//
// The transforms' rounding error depends on the plan FFTW picked (estimated or measured, with or
// without wisdom), yet stays far below kSnap: a value within kSnap of a whole number is taken as
// that number before truncating, so a blur gives the same bytes whatever the plan, and the exact
// result where the true sum is whole (a flat area stays as it was instead of losing a level).
constexpr double kSnap = 1e-7;

inline std::uint8_t ToByte(double v, double top)
{
    v = v > -1e9 ? v : 0.0;
    const double whole = std::nearbyint(v);
    v = std::fabs(v - whole) <= kSnap ? whole : v;
    v = v < top ? v : top;
    return static_cast<std::uint8_t>(static_cast<int>(v));
}

__attribute__((target_clones("avx2", "default"))) void LoadThree(const std::uint8_t* __restrict src, double* __restrict r0,
                                                                 double* __restrict r1, double* __restrict r2, int width)
{
    for (int x = 0; x < width; ++x) {
        r0[x] = src[3 * x];
        r1[x] = src[3 * x + 1];
        r2[x] = src[3 * x + 2];
    }
}

__attribute__((target_clones("avx2", "default"))) void LoadOne(const std::uint8_t* __restrict src, double* __restrict row,
                                                               int width)
{
    for (int x = 0; x < width; ++x) row[x] = src[3 * x];
}

__attribute__((target_clones("avx2", "default"))) void StoreThree(const double* __restrict r0, const double* __restrict r1,
                                                                  const double* __restrict r2, std::uint8_t* __restrict dst,
                                                                  int width, double top)
{
    for (int x = 0; x < width; ++x) {
        dst[3 * x] = ToByte(r0[x], top);
        dst[3 * x + 1] = ToByte(r1[x], top);
        dst[3 * x + 2] = ToByte(r2[x], top);
    }
}

__attribute__((target_clones("avx2", "default"))) void StoreOne(const double* __restrict row, std::uint8_t* __restrict dst,
                                                                int width, double top)
{
    for (int x = 0; x < width; ++x) dst[3 * x] = ToByte(row[x], top);
}

} // namespace

bool CSeparableSpectrum::Build(const CPlanSet& plans, const double* row, const double* column)
{
    const int w = plans.width;
    const int h = plans.height;
    m_rowSpectrum = AllocateArray<double>(static_cast<std::size_t>(plans.halfWidth));
    m_columnSpectrum = AllocateArray<double>(static_cast<std::size_t>(h));
    auto line = AllocateArray<double>(static_cast<std::size_t>(plans.rowStride));
    auto work = AllocateArray<fftw_complex>(Count(kColumnBlock, h));
    if (!m_rowSpectrum || !m_columnSpectrum || !line || !work) return false;

    std::fill(line.get(), line.get() + plans.rowStride, 0.0);
    std::copy(row, row + w, line.get());
    fftw_execute_dft_r2c(plans.rowForward, line.get(), RowAsComplex(line.get()));
    for (int u = 0; u < plans.halfWidth; ++u) m_rowSpectrum[static_cast<std::size_t>(u)] = line[2 * static_cast<std::size_t>(u)];

    std::memset(static_cast<void*>(work.get()), 0, sizeof(fftw_complex) * Count(kColumnBlock, h));
    for (int j = 0; j < h; ++j) work[static_cast<std::size_t>(j)][0] = column[static_cast<std::size_t>(j)];
    fftw_execute_dft(plans.columnForward, work.get(), work.get());
    for (int v = 0; v < h; ++v) m_columnSpectrum[static_cast<std::size_t>(v)] = work[static_cast<std::size_t>(v)][0];
    return true;
}

void CSeparableSpectrum::Columns(const CPlanSet& plans, int u0, int count, double* out, fftw_complex*) const
{
    const int h = plans.height;
    for (int k = 0; k < count; ++k) {
        const double g = m_rowSpectrum[static_cast<std::size_t>(u0 + k)];
        double* column = out + Count(k, h);
        for (int v = 0; v < h; ++v) column[v] = g * m_columnSpectrum[static_cast<std::size_t>(v)];
    }
}

bool CRowsSpectrum::Build(const CPlanSet& plans, const double* rows, int count)
{
    m_rows = count;
    m_rowSpectra = AllocateArray<double>(Count(std::max(m_rows, 1), plans.halfWidth));
    auto line = AllocateArray<double>(static_cast<std::size_t>(plans.rowStride));
    if (!m_rowSpectra || !line) return false;
    for (int j = 0; j < m_rows; ++j) {
        std::fill(line.get(), line.get() + plans.rowStride, 0.0);
        const double* row = rows + Count(j, plans.width);
        std::copy(row, row + plans.width, line.get());
        fftw_execute_dft_r2c(plans.rowForward, line.get(), RowAsComplex(line.get()));
        double* spectrum = m_rowSpectra.get() + Count(j, plans.halfWidth);
        for (int u = 0; u < plans.halfWidth; ++u) spectrum[u] = line[2 * static_cast<std::size_t>(u)];
    }
    return true;
}

void CRowsSpectrum::Columns(const CPlanSet& plans, int u0, int count, double* out, fftw_complex* work) const
{
    // The kernel is real and even down each column, so a column's spectrum is real: two columns go
    // through one complex transform, one as the real and one as the imaginary part.
    const int h = plans.height;
    const int last = m_rows - 1;
    constexpr int pairs = kColumnBlock / 2;
    std::memset(static_cast<void*>(work), 0, sizeof(fftw_complex) * Count(pairs, h));
    for (int p = 0; p < pairs; ++p) {
        fftw_complex* column = work + Count(p, h);
        for (int part = 0; part < 2; ++part) {
            const int k = 2 * p + part;
            if (k >= count) continue;
            const int u = u0 + k;
            for (int j = 0; j <= last; ++j) {
                const double value = m_rowSpectra[Count(j, plans.halfWidth) + static_cast<std::size_t>(u)];
                column[j][part] = value;
                if (j != 0) column[h - j][part] = value;
            }
        }
    }
    fftw_execute_dft(plans.halfBlockForward, work, work);
    for (int k = 0; k < count; ++k) {
        const fftw_complex* column = work + Count(k / 2, h);
        double* target = out + Count(k, h);
        for (int v = 0; v < h; ++v) target[v] = column[v][k % 2];
    }
}

bool CStoredSpectrum::Build(const CPlanSet& plans, const std::function<void(int, double*)>& fillRow)
{
    const int h = plans.height;
    m_spectrum = AllocateArray<double>(Count(plans.halfWidth, h));
    const CPlaneBuffer plane(Count(h, plans.rowStride) * sizeof(double));
    CThreadScratch scratch;
    if (!m_spectrum || !plane || !scratch.Allocate(plans)) return false;
    for (int j = 0; j < h; ++j) {
        double* row = plane.get() + Count(j, plans.rowStride);
        std::fill(row, row + plans.rowStride, 0.0);
        fillRow(j, row);
    }
    ParallelFor(0, h, [&](int from, int to) {
        for (int j = from; j < to; ++j) {
            double* row = plane.get() + Count(j, plans.rowStride);
            fftw_execute_dft_r2c(plans.rowForward, row, RowAsComplex(row));
        }
    });
    scratch.Run(0, BlockCount(plans), [&](int from, int to, fftw_complex* work, double*) {
        for (int b = from; b < to; ++b) {
            const int u0 = b * kColumnBlock;
            const int count = std::min(kColumnBlock, plans.halfWidth - u0);
            Gather(plane.get(), static_cast<std::size_t>(plans.rowStride), h, u0, count, work);
            fftw_execute_dft(plans.columnForward, work, work);
            for (int k = 0; k < count; ++k)
                for (int v = 0; v < h; ++v)
                    m_spectrum[Count(u0 + k, h) + static_cast<std::size_t>(v)] = work[Count(k, h) + static_cast<std::size_t>(v)][0];
        }
    });
    return true;
}

void CStoredSpectrum::Columns(const CPlanSet& plans, int u0, int count, double* out, fftw_complex*) const
{
    const std::size_t h = static_cast<std::size_t>(plans.height);
    std::copy(m_spectrum.get() + static_cast<std::size_t>(u0) * h, m_spectrum.get() + static_cast<std::size_t>(u0 + count) * h, out);
}

CGeometry ChooseGeometry(int width, int height, int supportX, int supportY)
{
    CGeometry g;
    g.width = width;
    g.height = height;
    const auto choose = [](int n, int support, int& length, int& offset) {
        // Beyond the half picture the kernel has no cells, so that is as far as it can reach.
        const int reach = std::max(0, std::min(support, n / 2 - 1));
        length = n;
        offset = 0;
        const int padded = SmoothLength(n + 2 * reach);
        if (TransformCost(padded) < TransformCost(n)) {
            length = padded;
            offset = reach;
        }
    };
    choose(width, supportX, g.lengthX, g.offsetX);
    choose(height, supportY, g.lengthY, g.offsetY);
    return g;
}

int ChannelsPerBatch(const CGeometry& g)
{
    // A transform the picture's own size needs W + 2 samples a row: three such planes would take
    // just over 24 bytes a pixel, so two are the most then.
    const double planes = static_cast<double>(g.width) * g.height * 3 /
                          (static_cast<double>(g.lengthX + 2) * static_cast<double>(g.lengthY));
    return std::clamp(static_cast<int>(planes), 1, 3);
}

int SmoothLength(int n)
{
    for (int m = std::max(n, 1);; ++m) {
        int rest = m;
        for (int p : {2, 3, 5, 7})
            while (rest % p == 0) rest /= p;
        if (rest == 1) return m;
    }
}

double TransformCost(int n)
{
    int rest = n;
    int largest = 1;
    for (int p = 2; p * p <= rest; ++p)
        while (rest % p == 0) {
            rest /= p;
            largest = std::max(largest, p);
        }
    largest = std::max(largest, rest);
    // FFTW's codelets cover factors up to 13; a larger prime factor goes through Rader's algorithm,
    // measured here at 5 to 12 times the cost of a neighbouring smooth length.
    const double penalty = largest <= 7 ? 1.0 : largest <= 13 ? 1.6 : 6.0;
    return static_cast<double>(n) * std::log2(static_cast<double>(std::max(n, 2))) * penalty;
}

bool Convolve(CImage& picture, const CPlanSet& plans, const CKernelSpectrum& kernel, const CConvolution& how)
{
    const CConvolutionRunning running;
    const int w = picture.width();
    const int h = picture.height();
    const int lengthX = plans.width;
    const int lengthY = plans.height;
    const int offsetX = how.offsetX;
    const int offsetY = how.offsetY;
    // Samples of the periodic picture that the transform sees: all of it, plus the reach of the
    // kernel on either side when the transform is longer than the picture.
    const int usedX = offsetX ? w + 2 * offsetX : w;
    const int usedY = offsetY ? h + 2 * offsetY : h;
    if (picture.bitsPerPixel() != 24 || usedX > lengthX || usedY > lengthY) return false;
    CThreadScratch scratch;
    if (!scratch.Allocate(plans)) return false;

    // A broad bell passes only low frequencies: above them its computed spectrum is rounding noise,
    // under 1e-15 of its sum. Column blocks that lie wholly there are neither kept nor transformed
    // (what they would add is of the order of the transforms' own rounding), so the planes hold
    // only the blocks that matter, packed.
    const int blocks = BlockCount(plans);
    const auto negligible = AllocateArray<char>(static_cast<std::size_t>(blocks));
    const auto kept = AllocateArray<int>(static_cast<std::size_t>(blocks)); // blocks in the planes, in order
    if (!negligible || !kept) return false;
    std::fill(negligible.get(), negligible.get() + blocks, char(0));
    if (kernel.CheapColumns()) {
        double threshold = 0.0;
        scratch.Run(0, 1, [&](int, int, fftw_complex* work, double* spectrum) {
            kernel.Columns(plans, 0, std::min(kColumnBlock, plans.halfWidth), spectrum, work);
            threshold = std::fabs(spectrum[0]) * 1e-15;
        });
        scratch.Run(0, blocks, [&](int b0, int b1, fftw_complex* work, double* spectrum) {
            for (int b = b0; b < b1; ++b) {
                const int u0 = b * kColumnBlock;
                const int count = std::min(kColumnBlock, plans.halfWidth - u0);
                kernel.Columns(plans, u0, count, spectrum, work);
                double largest = 0.0;
                for (std::size_t i = 0; i < Count(count, lengthY); ++i) largest = std::max(largest, std::fabs(spectrum[i]));
                negligible[static_cast<std::size_t>(b)] = largest < threshold;
            }
        });
    }
    int keptCount = 0;
    for (int b = 0; b < blocks; ++b)
        if (!negligible[static_cast<std::size_t>(b)]) kept[static_cast<std::size_t>(keptCount++)] = b;
    // Every block kept: rows are transformed in place in the planes, whose rows are then the full
    // half spectrum (the stride is at least the transform row's).
    const bool whole = keptCount == blocks;
    const std::size_t stride = whole ? static_cast<std::size_t>(plans.rowStride) : Count(keptCount, 2 * kColumnBlock);
    const std::size_t planeSize = Count(lengthY, 1) * stride;
    // Planes packed small enough take all three channels at once whatever the caller's limit.
    const int batch = planeSize * 3 <= Count(w, h) * 3 ? 3 : std::clamp(how.channelsPerBatch, 1, 3);
    const CPlaneBuffer planes(std::max<std::size_t>(planeSize, 1) * static_cast<std::size_t>(batch) * sizeof(double));
    if (!planes) return false;

    std::uint8_t* const top = picture.bits();
    const int pitch = picture.pitch();
    // FFTW's inverse transforms are unnormalised: 1 / (Lx * Ly) goes into the spectrum product
    // rather than a division of every sample.
    const double scale = 1.0 / (static_cast<double>(lengthX) * static_cast<double>(lengthY));
    const double topValue = how.store == StoreMode::ClampHigh ? 255.0 : 1e9;
    constexpr int kChunks = 8;
    const int batches = (3 + batch - 1) / batch;
    const auto wrap = [](int v, int n) { return ((v % n) + n) % n; };
    // Kept block i sits at complex index i * kColumnBlock of a packed row, or at its own when whole.
    const auto packedAt = [&](int i) { return whole ? kept[static_cast<std::size_t>(i)] * kColumnBlock : i * kColumnBlock; };
    const auto blockWidth = [&](int b) { return std::min(kColumnBlock, plans.halfWidth - b * kColumnBlock); };

    for (int first = 0, batchIndex = 0; first < 3; first += batch, ++batchIndex) {
        const int channels = std::min(batch, 3 - first);
        const double base = static_cast<double>(batchIndex) / batches;
        const double span = 1.0 / batches;
        const auto plane = [&](int p) { return planes.get() + planeSize * static_cast<std::size_t>(p); };

        // Rows: bytes to doubles, the real transform of each row, and the kept blocks into the plane.
        const bool rowsDone = InChunks(lengthY, kChunks, how, base, base + span * 0.3, [&](int from, int to) {
            scratch.RunRows(from, to, [&](int r0, int r1, double* lines) {
                for (int r = r0; r < r1; ++r) {
                    double* rows[3];
                    for (int p = 0; p < channels; ++p) {
                        double* target = plane(p) + Count(r, 1) * stride;
                        rows[p] = whole ? target : lines + Count(p, plans.rowStride);
                    }
                    if (r >= usedY) {
                        for (int p = 0; p < channels; ++p) std::fill(plane(p) + Count(r, 1) * stride, plane(p) + Count(r + 1, 1) * stride, 0.0);
                        continue;
                    }
                    const std::uint8_t* src = top + static_cast<std::ptrdiff_t>(wrap(r - offsetY, h)) * pitch;
                    // The row, with its last `offsetX` samples before it and its first after it
                    // (offsetX < W / 2, so each margin is a plain run of the row).
                    const auto load = [&](int start, int count, int at) {
                        if (channels == 3) {
                            LoadThree(src + 3 * start, rows[0] + at, rows[1] + at, rows[2] + at, count);
                        } else {
                            for (int p = 0; p < channels; ++p) LoadOne(src + 3 * start + first + p, rows[p] + at, count);
                        }
                    };
                    load(0, w, offsetX);
                    if (offsetX != 0) {
                        load(w - offsetX, offsetX, 0);
                        load(0, offsetX, offsetX + w);
                        for (int p = 0; p < channels; ++p) std::fill(rows[p] + usedX, rows[p] + lengthX, 0.0);
                    }
                    for (int p = 0; p < channels; ++p) {
                        double* row = rows[p];
                        fftw_execute_dft_r2c(plans.rowForward, row, RowAsComplex(row));
                        if (whole) continue;
                        double* target = plane(p) + Count(r, 1) * stride;
                        for (int i = 0; i < keptCount; ++i) {
                            const int b = kept[static_cast<std::size_t>(i)];
                            const int n = 2 * blockWidth(b);
                            const double* block = row + 2 * b * kColumnBlock;
                            double* slot = target + 2 * i * kColumnBlock;
                            std::copy(block, block + n, slot);
                            std::fill(slot + n, slot + 2 * kColumnBlock, 0.0);
                        }
                    }
                }
            });
        });

        // Columns: transform, multiply by the kernel's spectrum, transform back, block by block.
        if (!rowsDone) return true;
        const bool columnsDone = InChunks(keptCount, kChunks, how, base + span * 0.3, base + span * 0.75, [&](int from, int to) {
            scratch.Run(from, to, [&](int i0, int i1, fftw_complex* work, double* spectrum) {
                for (int i = i0; i < i1; ++i) {
                    const int b = kept[static_cast<std::size_t>(i)];
                    const int count = blockWidth(b);
                    kernel.Columns(plans, b * kColumnBlock, count, spectrum, work);
                    for (int p = 0; p < channels; ++p) {
                        Gather(plane(p), stride, lengthY, packedAt(i), count, work);
                        fftw_execute_dft(plans.columnForward, work, work);
                        const std::size_t n = Count(count, lengthY);
                        for (std::size_t k = 0; k < n; ++k) {
                            const double factor = spectrum[k] * scale;
                            work[k][0] *= factor;
                            work[k][1] *= factor;
                        }
                        fftw_execute_dft(plans.columnInverse, work, work);
                        Scatter(work, lengthY, packedAt(i), count, plane(p), stride);
                    }
                }
            });
        });

        if (!columnsDone) return true;
        // Rows back to samples, into the picture.
        const bool samplesDone = InChunks(h, kChunks, how, base + span * 0.75, base + span, [&](int from, int to) {
            scratch.RunRows(from, to, [&](int y0, int y1, double* lines) {
                for (int y = y0; y < y1; ++y) {
                    const double* samples[3];
                    for (int p = 0; p < channels; ++p) {
                        double* source = plane(p) + Count(y + offsetY, 1) * stride;
                        double* row = whole ? source : lines + Count(p, plans.rowStride);
                        if (!whole) {
                            std::fill(row, row + plans.rowStride, 0.0);
                            for (int i = 0; i < keptCount; ++i) {
                                const int b = kept[static_cast<std::size_t>(i)];
                                const double* block = source + 2 * i * kColumnBlock;
                                std::copy(block, block + 2 * blockWidth(b), row + 2 * b * kColumnBlock);
                            }
                        }
                        fftw_execute_dft_c2r(plans.rowInverse, RowAsComplex(row), row);
                        samples[p] = row + offsetX;
                    }
                    std::uint8_t* dst = top + static_cast<std::ptrdiff_t>(y) * pitch;
                    if (channels == 3) {
                        StoreThree(samples[0], samples[1], samples[2], dst, w, topValue);
                    } else {
                        for (int p = 0; p < channels; ++p) StoreOne(samples[p], dst + first + p, w, topValue);
                    }
                }
            });
        });
        if (!samplesDone) return true;
    }
    return true;
}

} // namespace orvex_fft
