// Median, maximum and minimum over the (2r + 1)-square around each pixel, channel by channel, with
// the picture mirrored beyond its edges.
//
// The result depends only on the window and the padding, so each statistic takes the quickest exact
// route to it:
// - median: sliding histograms in two levels (16 coarse bins of 16 fine ones). Every padded column
//   keeps a histogram of its 2r + 1 window rows; moving one pixel right adds one column's coarse bins
//   and removes another's, and only the one fine segment that holds the median is brought up to date,
//   so a pixel costs the same at any radius. Columns are processed in stripes whose histograms stay
//   in the core's cache.
// - maximum and minimum: a square's extreme is the extreme of the column extremes, and mirrored rows
//   and columns only repeat samples that are in the window anyway, so the window clipped to the
//   picture gives the same value. Columns go by van Herk/Gil-Werman blocks (three operations per
//   byte at any radius) and rows by doubling ranges, both 32 bytes at a time.
//
// The result is built beside the picture and swapped in at the end, so a cancelled or failed run
// leaves the picture as it was.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/rank_diffusion/rank_diffusion.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <string_view>
#include <thread>
#include <vector>

namespace ord = orvex_rank_diffusion;

namespace {

using CBytes16 = std::uint8_t __attribute__((vector_size(16)));
using CBytes32 = std::uint8_t __attribute__((vector_size(32)));
using CCounts16 = std::uint16_t __attribute__((vector_size(32)));

constexpr int kMaxRadius = 100;

std::string_view RankLabel(int mode)
{
    return mode > 0 ? " Maximum filtering:" : mode < 0 ? " Minimum filtering:" : " Median filtering:";
}

const std::uint8_t* RowOf(const CImage& picture, int y)
{
    return picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch();
}

std::uint8_t* RowOf(CImage& picture, int y)
{
    return picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch();
}

// Work spread over the cores: units are claimed in order by whichever thread is free, progress is
// counted across threads and forwarded by the thread that owns the progress scope (the scope is not
// shared), and a stop seen by any thread ends every thread's loop.
class CSharedRun
{
public:
    CSharedRun(const CImageProcessor& engine, CImageProcessor::ProgressScope& scope)
        : m_engine(engine), m_scope(scope), m_owner(std::this_thread::get_id())
    {
    }

    bool Stopped()
    {
        if (m_stop.load(std::memory_order_relaxed)) return true;
        bool stop = m_engine.cancel.load() != 0;
        if (!stop && std::this_thread::get_id() == m_owner) stop = m_scope.StopRequested();
        if (stop) m_stop.store(true);
        return stop;
    }
    void Done(int units)
    {
        const int done = m_done.fetch_add(units) + units;
        if (std::this_thread::get_id() == m_owner) m_scope.Set(done);
    }
    int Claim() { return m_next.fetch_add(1); }
    void Fail() { m_failed.store(true); m_stop.store(true); }
    bool failed() const { return m_failed.load(); }
    bool stopped() const { return m_stop.load(); }

private:
    const CImageProcessor& m_engine;
    CImageProcessor::ProgressScope& m_scope;
    std::thread::id m_owner;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_failed{false};
    std::atomic<int> m_done{0};
    std::atomic<int> m_next{0};
};

// Runs `unit(index)` for index 0 .. count - 1 on every core, each thread taking the next unclaimed
// index, until all are done or the run stops.
template <class Unit>
void RunUnits(CSharedRun& run, int count, const Unit& unit)
{
    ParallelFor(0, ParallelThreadCount(), [&](int, int) {
        for (;;) {
            if (run.Stopped()) return;
            const int index = run.Claim();
            if (index >= count) return;
            if (!unit(index)) return;
            run.Done(1);
        }
    });
}

// ---- median ------------------------------------------------------------------------------------

// A padded column's histograms: 16 coarse bins per channel, then 256 fine bins per channel. Counts
// never exceed 2r + 1 <= 201, so bytes suffice.
constexpr int kCoarseBytes = 3 * 16;
constexpr int kColumnBytes = kCoarseBytes + 3 * 256;

// Counts are widened to 16 bits as they are added (by reference: a 32-byte vector returned by
// value would have a different calling convention in the two builds of the caller).
inline void Add(CCounts16& sum, const std::uint8_t* p)
{
    CBytes16 bytes;
    std::memcpy(&bytes, p, sizeof bytes);
    sum += __builtin_convertvector(bytes, CCounts16);
}

inline void AddSub(CCounts16& sum, const std::uint8_t* plus, const std::uint8_t* minus)
{
    CBytes16 a, b;
    std::memcpy(&a, plus, sizeof a);
    std::memcpy(&b, minus, sizeof b);
    sum += __builtin_convertvector(a, CCounts16) - __builtin_convertvector(b, CCounts16);
}

struct CMedianInput
{
    const CImage* picture;
    CImage* result;
    int radius;
    int rank;            // V: the V-th smallest of the window's samples
    const int* rowOf;    // padded row y + r -> picture row
    const int* byteOf;   // padded column x + r -> byte offset of the mirrored pixel in its row
};

// Output columns x0 .. x1 - 1, every row. `columns` holds (x1 - x0 + 2r) column histograms.
// Returns false when the run was stopped.
__attribute__((target_clones("avx2", "default"))) bool MedianStripe(const CMedianInput& in, int x0, int x1,
                                                                     std::uint8_t* columns, CSharedRun& run)
{
    const int r = in.radius;
    const int window = 2 * r + 1;
    const int width = x1 - x0;
    const int count = width + 2 * r;
    const int height = in.picture->height();
    const int rank = in.rank;
    const int* byteOf = in.byteOf + x0;

    auto count1 = [&](const std::uint8_t* row, int c, int delta) {
        std::uint8_t* column = columns + static_cast<std::ptrdiff_t>(c) * kColumnBytes;
        const std::uint8_t* px = row + byteOf[c];
        for (int ch = 0; ch < 3; ++ch) {
            const int v = px[ch];
            column[ch * 16 + (v >> 4)] = static_cast<std::uint8_t>(column[ch * 16 + (v >> 4)] + delta);
            column[kCoarseBytes + ch * 256 + v] = static_cast<std::uint8_t>(column[kCoarseBytes + ch * 256 + v] + delta);
        }
    };
    auto coarse = [&](int c, int ch) { return columns + static_cast<std::ptrdiff_t>(c) * kColumnBytes + ch * 16; };
    auto fine = [&](int c, int ch, int segment) {
        return columns + static_cast<std::ptrdiff_t>(c) * kColumnBytes + kCoarseBytes + ch * 256 + segment * 16;
    };

    std::memset(columns, 0, static_cast<std::size_t>(count) * kColumnBytes);
    for (int p = 0; p < window; ++p) {
        const std::uint8_t* row = RowOf(*in.picture, in.rowOf[p]);
        for (int c = 0; c < count; ++c) count1(row, c, 1);
    }

    CCounts16 kernelCoarse[3];
    CCounts16 kernelFine[3][16];
    int fineAt[3][16];
    for (int y = 0; y < height; ++y) {
        if ((y & 31) == 0 && run.Stopped()) return false;
        if (y > 0) {
            const std::uint8_t* leaving = RowOf(*in.picture, in.rowOf[y - 1]);
            const std::uint8_t* entering = RowOf(*in.picture, in.rowOf[y + 2 * r]);
            for (int c = 0; c < count; ++c) {
                count1(leaving, c, -1);
                count1(entering, c, 1);
            }
        }
        for (int ch = 0; ch < 3; ++ch) {
            CCounts16 sum = {};
            for (int c = 0; c < window; ++c) Add(sum, coarse(c, ch));
            kernelCoarse[ch] = sum;
            // Far enough back that the first use rebuilds the segment.
            for (int s = 0; s < 16; ++s) fineAt[ch][s] = -window;
        }
        std::uint8_t* out = RowOf(*in.result, y) + 3 * x0;
        for (int j = 0; j < width; ++j) {
            for (int ch = 0; ch < 3; ++ch) {
                CCounts16& hc = kernelCoarse[ch];
                if (j > 0) AddSub(hc, coarse(j + 2 * r, ch), coarse(j - 1, ch));
                int below = 0;
                int segment = 0;
                while (below + hc[segment] < rank) below += hc[segment++];
                CCounts16& hf = kernelFine[ch][segment];
                int& at = fineAt[ch][segment];
                if (2 * (j - at) >= window) {
                    CCounts16 sum = {};
                    for (int c = j; c < j + window; ++c) Add(sum, fine(c, ch, segment));
                    hf = sum;
                } else {
                    for (int c = at; c < j; ++c) AddSub(hf, fine(c + window, ch, segment), fine(c, ch, segment));
                }
                at = j;
                int bin = 0;
                while (below + hf[bin] < rank) below += hf[bin++];
                out[3 * j + ch] = static_cast<std::uint8_t>(segment * 16 + bin);
            }
        }
    }
    return true;
}

// Returns false when stopped or out of memory (`run` tells which).
// About 600 padded columns of histograms (under 0.5 MB) per stripe, and whole rounds of stripes for
// the cores.
int MedianStripes(int width, int radius)
{
    const int threads = ParallelThreadCount();
    const int target = std::max(64, 600 - 2 * radius);
    const int stripes = std::max(1, (width + target - 1) / target);
    return std::min(width, (stripes + threads - 1) / threads * threads);
}

bool Median(const CImage& picture, CImage& result, int radius, CSharedRun& run)
{
    const int width = picture.width();
    const int height = picture.height();
    std::vector<int> rowOf, byteOf;
    try {
        rowOf.resize(static_cast<std::size_t>(height + 2 * radius));
        byteOf.resize(static_cast<std::size_t>(width + 2 * radius));
    } catch (const std::bad_alloc&) {
        run.Fail();
        return false;
    }
    for (int p = 0; p < height + 2 * radius; ++p) rowOf[static_cast<std::size_t>(p)] = ord::MirrorIndex(p - radius, height);
    for (int p = 0; p < width + 2 * radius; ++p) byteOf[static_cast<std::size_t>(p)] = 3 * ord::MirrorIndex(p - radius, width);

    const int stripes = MedianStripes(width, radius);
    const int stripeWidth = (width + stripes - 1) / stripes;
    const std::size_t columnsBytes = static_cast<std::size_t>(stripeWidth + 2 * radius) * kColumnBytes;

    const CMedianInput input{&picture, &result, radius, 2 * radius * radius + 2 * radius + 1, rowOf.data(), byteOf.data()};
    RunUnits(run, stripes, [&](int stripe) {
        const int x0 = stripe * stripeWidth;
        const int x1 = std::min(width, x0 + stripeWidth);
        if (x0 >= x1) return true;
        ord::CWorkBuffer columns(columnsBytes);
        if (!columns) {
            run.Fail();
            return false;
        }
        return MedianStripe(input, x0, x1, columns.as<std::uint8_t>(), run);
    });
    return !run.stopped();
}

// ---- maximum and minimum -----------------------------------------------------------------------

template <bool kMax>
std::uint8_t Pick(std::uint8_t a, std::uint8_t b)
{
    if constexpr (kMax) return a > b ? a : b;
    else return a < b ? a : b;
}

// out[i] = pick(a[i], b[i]) for `n` bytes; `out` may be `a` (or `b`) itself.
template <bool kMax>
__attribute__((target_clones("avx2", "default"))) void PickRow(const std::uint8_t* a, const std::uint8_t* b,
                                                                std::uint8_t* out, int n)
{
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        CBytes32 va, vb;
        std::memcpy(&va, a + i, 32);
        std::memcpy(&vb, b + i, 32);
        CBytes32 v;
        if constexpr (kMax) v = va > vb ? va : vb;
        else v = va < vb ? va : vb;
        std::memcpy(out + i, &v, 32);
    }
    for (; i < n; ++i) out[i] = Pick<kMax>(a[i], b[i]);
}

// The extreme of the window rows of output rows y0 .. y1 - 1, each row then taken along the row.
// Rows and columns outside the picture count as the neutral value (0 for the maximum, 255 for the
// minimum), which is the same as clipping the window to the picture.
template <bool kMax>
bool ExtremeRows(const CImage& picture, CImage& result, int radius, int y0, int y1, CSharedRun& run)
{
    const int width = picture.width();
    const int height = picture.height();
    const int window = 2 * radius + 1;
    const int bytes = 3 * width;
    const std::uint8_t neutral = kMax ? 0 : 255;
    const std::size_t rowBytes = static_cast<std::size_t>(bytes);
    const std::size_t extendedBytes = static_cast<std::size_t>(3 * (width + 2 * radius));

    // Suffix extremes of one block of rows, the running prefix of the next block, a neutral row,
    // and the row being spread along x with neutral margins.
    ord::CWorkBuffer memory(rowBytes * static_cast<std::size_t>(window + 2) + extendedBytes);
    if (!memory) {
        run.Fail();
        return false;
    }
    std::uint8_t* suffix = memory.as<std::uint8_t>();
    std::uint8_t* prefix = suffix + rowBytes * static_cast<std::size_t>(window);
    std::uint8_t* none = prefix + rowBytes;
    std::uint8_t* extended = none + rowBytes;
    std::memset(none, neutral, rowBytes);
    std::memset(extended, neutral, extendedBytes);
    std::uint8_t* columnExtremes = extended + 3 * radius;
    auto source = [&](int y) { return y >= 0 && y < height ? RowOf(picture, y) : none; };

    int span = 1;
    while (2 * span <= window) span *= 2;

    // Windows start at row s = y - r; blocks of `window` starts from y0 - r on.
    for (int blockStart = y0 - radius; blockStart < y1 - radius; blockStart += window) {
        if (run.Stopped()) return false;
        std::uint8_t* last = suffix + rowBytes * static_cast<std::size_t>(window - 1);
        std::memcpy(last, source(blockStart + window - 1), rowBytes);
        for (int t = window - 2; t >= 0; --t) {
            std::uint8_t* here = suffix + rowBytes * static_cast<std::size_t>(t);
            PickRow<kMax>(here + rowBytes, source(blockStart + t), here, bytes);
        }
        std::memcpy(prefix, none, rowBytes);
        for (int t = 0; t < window; ++t) {
            const int y = blockStart + t + radius;
            if (y >= y1) break;
            // Window rows s .. s + 2r: the rest of this block and the start of the next.
            PickRow<kMax>(suffix + rowBytes * static_cast<std::size_t>(t), prefix, columnExtremes, bytes);
            PickRow<kMax>(prefix, source(blockStart + window + t), prefix, bytes);

            // Doubling: after the loop extended[i] is the extreme of `span` pixels from i.
            int length = 3 * (width + 2 * radius);
            for (int reach = 1; reach < span; reach *= 2) {
                length -= 3 * reach;
                PickRow<kMax>(extended, extended + 3 * reach, extended, length);
            }
            // Two overlapping spans cover the window exactly.
            PickRow<kMax>(extended, extended + 3 * (window - span), RowOf(result, y), bytes);
            std::memset(extended, neutral, static_cast<std::size_t>(3 * radius));
            std::memset(columnExtremes + bytes, neutral, static_cast<std::size_t>(3 * radius));
        }
    }
    return true;
}

// Bands of whole blocks of rows, many per core so that the bar moves and Escape is seen soon.
int ExtremeBand(int radius)
{
    const int window = 2 * radius + 1;
    return (64 + window - 1) / window * window;
}

bool Extreme(const CImage& picture, CImage& result, int radius, bool maximum, CSharedRun& run)
{
    const int height = picture.height();
    const int band = ExtremeBand(radius);
    const int units = (height + band - 1) / band;
    RunUnits(run, units, [&](int unit) {
        const int y0 = unit * band;
        const int y1 = std::min(height, y0 + band);
        return maximum ? ExtremeRows<true>(picture, result, radius, y0, y1, run)
                       : ExtremeRows<false>(picture, result, radius, y0, y1, run);
    });
    return !run.stopped();
}

} // namespace

void CImageProcessor::RankFilter(int radius, int mode)
{
    WorkerScope worker(*this);
    CImage* target = image();
    if (!target || target->IsNull() || target->bitsPerPixel() != 24) return;
    if (radius < 1 || radius > kMaxRadius || mode < -1 || mode > 1) return;
    CImage& picture = *target;

    CImage result;
    if (!result.Create(picture.width(), picture.height(), 24, picture.hasAlpha() ? 1u : 0u)) {
        ReportFailure();
        return;
    }
    const int units = mode == 0 ? MedianStripes(picture.width(), radius)
                                : (picture.height() + ExtremeBand(radius) - 1) / ExtremeBand(radius);
    ProgressScope bar(*this, RankLabel(mode), units);
    CSharedRun run(*this, bar);
    const bool completed = mode == 0 ? Median(picture, result, radius, run)
                                     : Extreme(picture, result, radius, mode > 0, run);
    if (run.failed()) {
        ReportFailure();
        return;
    }
    // Asked once more on this thread: the other core may have claimed every unit, so the scope's own
    // stop request was never looked at.
    if (!completed || run.Stopped()) return;
    committed.store(1);
    picture.SwapWith(result);
}
