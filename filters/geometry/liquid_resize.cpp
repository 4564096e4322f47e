#include "core/image_processor.h"

#include "core/huge_pages.h"
#include "core/parallel.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

// Seam carving and seam insertion. Shrinking removes vertical seams, then horizontal ones, from a
// working copy of the picture; enlarging then duplicates vertical seams, then horizontal ones. The
// energy map is computed once and afterwards only patched next to each seam, so the seams depend on
// the whole history of the run; every faster evaluation below keeps them exactly those of the plain
// row-by-row recurrence.
//
// How the time is kept down:
// - Horizontal seams run on a transposed copy, so both directions are "one position per row" and
//   every pass reads rows, never columns.
// - The cumulative cost is never stored whole. One forward pass keeps only every kCheckpoint-th
//   row; the backtrack recomputes the rows between two checkpoints in the narrow cone the seam can
//   reach from where it entered them. The pass reads the energy map and writes almost nothing.
// - The forward pass runs in bands of rows, one half of the row per core; each half also computes
//   a margin of the other half that shrinks by a column per row, so the cores meet once per band.
// - Each row keeps its own start offset, so removing or duplicating a seam's energy moves whichever
//   side of the row is shorter; the removed seams' pixels are only closed up once per kGaps seams.
namespace {

constexpr int kCheckpoint = 32;

// Picture-sized scratch memory. Large blocks are mapped for huge pages: every seam streams the whole
// energy map, and with small pages a photo spends a good part of its time in page faults and TLB
// misses.
class ScratchBlock
{
public:
    ScratchBlock() = default;
    ~ScratchBlock() { Release(); }
    ScratchBlock(const ScratchBlock&) = delete;
    ScratchBlock& operator=(const ScratchBlock&) = delete;

    bool Allocate(std::size_t bytes)
    {
        Release();
        if (bytes < kMapThreshold) {
            m_data = std::malloc(std::max<std::size_t>(bytes, 1));
            return m_data != nullptr;
        }
        m_data = orvex_memory::MapHugeAligned(bytes);
        m_mapped = m_data != nullptr;
        return m_mapped;
    }

    template <class T> T* As() const { return static_cast<T*>(m_data); }

private:
    static constexpr std::size_t kMapThreshold = std::size_t(8) << 20;

    void Release()
    {
        if (m_mapped) orvex_memory::Unmap(m_data);
        else std::free(m_data);
        m_data = nullptr;
        m_mapped = false;
    }

    void* m_data = nullptr;
    bool m_mapped = false;
};

// Seams removed or inserted before the pixel rows are settled; moving pixels after every seam
// would move a quarter of every row each time, once per kGaps seams moves it at most once. Short
// rows list fewer, so that the lists stay a small fraction of the picture whatever its shape.
constexpr int kGaps = 16;

int GapLimit(int capacity)
{
    return std::clamp(capacity / 16, 1, kGaps);
}

// Pixels (3 bytes) and energies of a picture laid out so that seams run across the rows: one seam
// position per row. Rows hold up to `capacity` entries. The live energies of row y start at
// `start[y]` and are always in place. The pixels of row y start at `pixelStart[y]` but lag behind
// by the last `gapCount` seams, whose slots in the row are listed in `gaps` in ascending order:
// removed pixels still to be skipped or, while `duplicating`, pixels still to be repeated.
struct SeamGrid
{
    std::uint8_t* pixels = nullptr;
    std::int16_t* energy = nullptr;
    int capacity = 0;
    int rows = 0;
    int length = 0;
    std::vector<int> start;
    std::vector<int> pixelStart;
    std::vector<int> gaps; // gapLimit per row
    int gapLimit = 1;
    int gapCount = 0;
    bool duplicating = false;

    // Only while the pixel rows are settled (no seams listed).
    std::uint8_t* PixelRow(int y) const { return pixels + (std::size_t(y) * capacity + pixelStart[y]) * 3; }
    std::int16_t* EnergyRow(int y) const { return energy + std::size_t(y) * capacity + start[y]; }

    int PixelSlot(int y, int x) const
    {
        int slot = pixelStart[y] + x;
        const int* g = gaps.data() + std::size_t(y) * gapLimit;
        if (duplicating) {
            for (int i = 0; i < gapCount && slot > g[i]; ++i) --slot;
        } else {
            for (int i = 0; i < gapCount && g[i] <= slot; ++i) ++slot;
        }
        return slot;
    }
    // Enters a seam's slot into row y's list, after any equal one.
    void AddGap(int y, int slot)
    {
        int* g = gaps.data() + std::size_t(y) * gapLimit;
        int i = gapCount;
        for (; i > 0 && g[i - 1] > slot; --i) g[i] = g[i - 1];
        g[i] = slot;
    }
    const std::uint8_t* PixelAt(int y, int x) const
    {
        return pixels + (std::size_t(y) * capacity + PixelSlot(y, x)) * 3;
    }
};

// Energy of pixel p: per channel the mean absolute difference to its right neighbour and to the
// pixel below, whichever of the two exist (null when not), summed over the channels.
inline std::int16_t EnergyAt(const std::uint8_t* p, const std::uint8_t* right, const std::uint8_t* below)
{
    int total = 0;
    if (right && below) {
        for (int c = 0; c < 3; ++c) total += (std::abs(p[c] - right[c]) + std::abs(p[c] - below[c])) / 2;
    } else if (right) {
        for (int c = 0; c < 3; ++c) total += std::abs(p[c] - right[c]);
    } else if (below) {
        for (int c = 0; c < 3; ++c) total += std::abs(p[c] - below[c]);
    }
    return static_cast<std::int16_t>(total);
}

void ComputeEnergy(const SeamGrid& grid)
{
    ParallelFor(0, grid.rows, [&grid](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            const std::uint8_t* row = grid.PixelRow(y);
            const std::uint8_t* next = y + 1 < grid.rows ? grid.PixelRow(y + 1) : nullptr;
            std::int16_t* e = grid.EnergyRow(y);
            const int n = grid.length;
            for (int x = 0; x < n; ++x)
                e[x] = EnergyAt(row + 3 * x, x < n - 1 ? row + 3 * x + 3 : nullptr, next ? next + 3 * x : nullptr);
        }
    });
}

// Costs are 32-bit and wrap like 32-bit hardware sums (only a picture millions of rows tall gets
// there); unsigned addition keeps that defined.
inline std::int32_t AddCost(std::int32_t m, std::int16_t e)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(m) + static_cast<std::uint32_t>(std::int32_t(e)));
}

// out[x] = e[x] + min(prev[x - 1], prev[x], prev[x + 1]) for x in [lo, hi) of a row of n entries,
// neighbours outside the row left out. Which neighbour wins a tie does not change the value, so the
// interior is a plain three-way minimum that vectorises.
__attribute__((target_clones("avx2", "default"))) void CostRow(const std::int32_t* __restrict prev,
    const std::int16_t* __restrict e, std::int32_t* __restrict out, int lo, int hi, int n)
{
    lo = std::max(lo, 0);
    hi = std::min(hi, n);
    if (lo >= hi) return;
    if (n == 1) {
        out[0] = AddCost(prev[0], e[0]);
        return;
    }
    int x = lo;
    if (x == 0) {
        out[0] = AddCost(std::min(prev[0], prev[1]), e[0]);
        x = 1;
    }
    const int interiorEnd = std::min(hi, n - 1);
    for (; x < interiorEnd; ++x) {
        const std::int32_t a = prev[x - 1];
        const std::int32_t b = prev[x];
        const std::int32_t c = prev[x + 1];
        const std::int32_t m = a < b ? a : b;
        out[x] = AddCost(c < m ? c : m, e[x]);
    }
    if (hi == n) out[n - 1] = AddCost(std::min(prev[n - 2], prev[n - 1]), e[n - 1]);
}

// The neighbour of `c` in a cost row that a seam steps to: straight on, else the lower index when
// strictly cheaper, else the higher index when strictly cheaper than that choice.
inline int StepFrom(const std::int32_t* m, int c, int n)
{
    int chosen = c;
    if (c > 0 && m[c - 1] < m[c]) chosen = c - 1;
    if (c < n - 1 && m[c + 1] < m[chosen]) chosen = c + 1;
    return chosen;
}

// Scratch of the seam search, sized once for the largest grid of the run.
struct SeamScratch
{
    std::unique_ptr<std::int32_t[]> checkpoints; // rows 0, K, 2K, ... of the cumulative cost
    std::unique_ptr<std::int32_t[]> rolling;     // per half: two rows; then the backtrack's rows
    std::unique_ptr<std::int32_t[]> edges;       // two rows: the row above a band, the band's last row
    std::vector<int> seam;
    int stride = 0;
};

// Rows of a band: long enough that the halves meet rarely, short enough that the part both halves
// compute (a triangle of about rows^2 / 2 per half) stays a few percent of the band.
int BandRows(int n)
{
    return std::clamp(n / 12, 1, 512);
}

// Finds the seam of lowest cumulative cost, one position per row, into scratch.seam.
void FindSeam(const SeamGrid& grid, SeamScratch& scratch)
{
    const int n = grid.length;
    const int rows = grid.rows;
    const int stride = scratch.stride;
    std::int32_t* const cp = scratch.checkpoints.get();
    auto checkpointRow = [&](int y) { return cp + std::size_t(y / kCheckpoint) * n; };
    std::int32_t* edge[2] = {scratch.edges.get(), scratch.edges.get() + stride};

    {
        const std::int16_t* e = grid.EnergyRow(0);
        for (int x = 0; x < n; ++x) edge[0][x] = e[x];
        std::memcpy(checkpointRow(0), edge[0], sizeof(std::int32_t) * n);
    }

    // The rows run in bands. Each half of the row computes its own columns plus, towards the other
    // half, as many columns as rows remain in the band, so that it never needs the other half's
    // values until the band's last row has been written; the halves meet once per band.
    const int mid = n / 2;
    const int bandRows = BandRows(n);
    const bool split = n >= 64 && ParallelThreadCount() > 1;
    int in = 0;
    for (int y0 = 1; y0 < rows; y0 += bandRows) {
        const int count = std::min(bandRows, rows - y0);
        const std::int32_t* const above = edge[in];
        std::int32_t* const below = edge[1 - in];
        auto half = [&](int part) {
            std::int32_t* roll[2] = {scratch.rolling.get() + std::size_t(2 * part) * stride,
                                     scratch.rolling.get() + std::size_t(2 * part + 1) * stride};
            const int own0 = split ? (part == 0 ? 0 : mid) : 0;
            const int own1 = split ? (part == 0 ? mid : n) : n;
            const std::int32_t* prev = above;
            for (int t = 0; t < count; ++t) {
                const int extra = split ? count - 1 - t : 0;
                const int lo = part == 0 ? own0 : own0 - extra;
                const int hi = part == 0 ? own1 + extra : own1;
                std::int32_t* out = roll[t & 1];
                CostRow(prev, grid.EnergyRow(y0 + t), out, lo, hi, n);
                if ((y0 + t) % kCheckpoint == 0)
                    std::memcpy(checkpointRow(y0 + t) + own0, out + own0, sizeof(std::int32_t) * (own1 - own0));
                prev = out;
            }
            std::memcpy(below + own0, prev + own0, sizeof(std::int32_t) * (own1 - own0));
        };
        if (split) {
            ParallelFor(0, 2, [&](int begin, int end) {
                for (int part = begin; part < end; ++part) half(part);
            });
        } else {
            half(0);
        }
        in = 1 - in;
    }
    const std::int32_t* const last = edge[in];
    std::int32_t* const scratchRows = scratch.rolling.get();
    auto bandRow = [&](int t) { return scratchRows + std::size_t(t) * stride; };

    int c = 0;
    for (int x = 1; x < n; ++x)
        if (last[x] < last[c]) c = x;
    std::vector<int>& seam = scratch.seam;
    seam[rows - 1] = c;

    // Walk up one checkpoint block at a time. Entering a block at column c, the seam can reach only
    // columns within the block's height of c, so each recomputed row needs one column less on each
    // side than the row before it.
    for (int top = rows - 2; top >= 0;) {
        const int base = top / kCheckpoint * kCheckpoint;
        const int reach = kCheckpoint + 1;
        const int entry = c;
        for (int y = base + 1; y <= top; ++y) {
            const int i = y - base;
            const std::int32_t* prev = y == base + 1 ? checkpointRow(base) : bandRow(i - 2);
            CostRow(prev, grid.EnergyRow(y), bandRow(i - 1), entry - reach + i, entry + reach - i + 1, n);
        }
        for (int y = top; y >= base; --y) {
            const std::int32_t* m = y == base ? checkpointRow(base) : bandRow(y - base - 1);
            c = StepFrom(m, c, n);
            seam[y] = c;
        }
        top = base - 1;
    }
}

// Brings every pixel row up to date with the seams listed in the grid.
void SettlePixels(SeamGrid& grid)
{
    const int count = grid.gapCount;
    if (count == 0) return;
    ParallelFor(0, grid.rows, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            std::uint8_t* row = grid.pixels + std::size_t(y) * grid.capacity * 3;
            int* g = grid.gaps.data() + std::size_t(y) * grid.gapLimit;
            int first = grid.pixelStart[y];
            if (grid.duplicating) {
                // The row grows to the right, each segment moving by the number of repeats before
                // it. Seams are only inserted into a grid whose pixel rows start at slot 0 (fresh,
                // or just transposed), so the grown row always fits.
                const int stop = first + grid.length - count;
                for (int i = count - 1; i >= 0; --i) {
                    const int from = g[i] + 1;
                    const int to = i + 1 < count ? g[i + 1] + 1 : stop;
                    if (to > from) std::memmove(row + 3 * (from + i + 1), row + 3 * from, std::size_t(to - from) * 3);
                    std::memcpy(row + 3 * (g[i] + i + 1), row + 3 * g[i], 3);
                }
                continue;
            }
            // Removed pixels: close up whichever side of the row is shorter.
            const int stop = first + grid.length + count;
            if (stop - g[0] <= g[count - 1] - first) {
                for (int i = 0; i < count; ++i) {
                    const int from = g[i] + 1;
                    const int to = i + 1 < count ? g[i + 1] : stop;
                    std::memmove(row + 3 * (from - i - 1), row + 3 * from, std::size_t(to - from) * 3);
                }
            } else {
                for (int i = count - 1; i >= 0; --i) {
                    const int from = i > 0 ? g[i - 1] + 1 : first;
                    const int to = g[i];
                    std::memmove(row + 3 * (from + count - i), row + 3 * from, std::size_t(to - from) * 3);
                }
                grid.pixelStart[y] = first + count;
            }
        }
    });
    grid.gapCount = 0;
}

void RemoveSeam(SeamGrid& grid, const std::vector<int>& seam)
{
    if (grid.duplicating) SettlePixels(grid);
    grid.duplicating = false;
    const int n = grid.length;
    const int count = grid.gapCount;
    ParallelFor(0, grid.rows, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            const int s = seam[y];
            std::int16_t* e = grid.EnergyRow(y);
            if (s < n / 2) {
                std::memmove(e + 1, e, std::size_t(s) * sizeof(std::int16_t));
                ++grid.start[y];
            } else {
                std::memmove(e + s, e + s + 1, std::size_t(n - 1 - s) * sizeof(std::int16_t));
            }
            grid.AddGap(y, grid.PixelSlot(y, s));
        }
    });
    grid.length = n - 1;
    grid.gapCount = count + 1;
    // The energy left of the seam now sees a new right neighbour, and the one at the seam a new pixel.
    const int length = grid.length;
    for (int y = 0; y < grid.rows; ++y) {
        std::int16_t* e = grid.EnergyRow(y);
        const int s = seam[y];
        const bool last = y + 1 == grid.rows;
        for (int x = std::max(s - 1, 0); x <= s && x < length; ++x)
            e[x] = EnergyAt(grid.PixelAt(y, x), x < length - 1 ? grid.PixelAt(y, x + 1) : nullptr,
                            last ? nullptr : grid.PixelAt(y + 1, x));
    }
    if (grid.gapCount == grid.gapLimit) SettlePixels(grid);
}

// Makes room for one more entry at position s of a row of n entries of `size` bytes starting at
// `first` (which moves when the left side is the one shifted), leaving entry s duplicated at s and
// s + 1. Returns the row's new start pointer.
std::uint8_t* Duplicate(std::uint8_t* rowBase, int& first, int n, int s, int capacity, std::size_t size)
{
    std::uint8_t* p = rowBase + first * size;
    const bool roomRight = first + n < capacity;
    if (first > 0 && (s < n / 2 || !roomRight)) {
        std::memmove(p - size, p, std::size_t(s + 1) * size);
        --first;
        return p - size;
    }
    std::memmove(p + (s + 1) * size, p + s * size, std::size_t(n - s) * size);
    return p;
}

void InsertSeam(SeamGrid& grid, const std::vector<int>& seam)
{
    if (!grid.duplicating) SettlePixels(grid);
    grid.duplicating = true;
    const int n = grid.length;
    ParallelFor(0, grid.rows, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            const int s = seam[y];
            grid.AddGap(y, grid.PixelSlot(y, s));
            auto* e = reinterpret_cast<std::int16_t*>(
                Duplicate(reinterpret_cast<std::uint8_t*>(grid.energy + std::size_t(y) * grid.capacity), grid.start[y], n,
                          s, grid.capacity, sizeof(std::int16_t)));
            // The duplicated pair becomes slightly dearer, so that later seams tend to go elsewhere.
            e[s] = static_cast<std::int16_t>(e[s] + 2);
            e[s + 1] = static_cast<std::int16_t>(e[s + 1] + 2);
        }
    });
    grid.length = n + 1;
    if (++grid.gapCount == grid.gapLimit) SettlePixels(grid);
}

// Writes the grid exchanged across its diagonal into `to` (whose buffers and capacity are set).
void Transpose(const SeamGrid& from, SeamGrid& to)
{
    to.rows = from.length;
    to.length = from.rows;
    to.start.assign(std::size_t(to.rows), 0);
    to.pixelStart.assign(std::size_t(to.rows), 0);
    to.gapCount = 0;
    constexpr int kTile = 64;
    const int tiles = (to.rows + kTile - 1) / kTile;
    ParallelFor(0, tiles, [&](int begin, int end) {
        for (int tile = begin; tile < end; ++tile) {
            const int x0 = tile * kTile;
            const int x1 = std::min(x0 + kTile, to.rows);
            for (int y0 = 0; y0 < from.rows; y0 += kTile) {
                const int y1 = std::min(y0 + kTile, from.rows);
                for (int y = y0; y < y1; ++y) {
                    const std::uint8_t* p = from.PixelRow(y);
                    const std::int16_t* e = from.EnergyRow(y);
                    for (int x = x0; x < x1; ++x) {
                        std::uint8_t* q = to.pixels + (std::size_t(x) * to.capacity + y) * 3;
                        q[0] = p[3 * x];
                        q[1] = p[3 * x + 1];
                        q[2] = p[3 * x + 2];
                        to.energy[std::size_t(x) * to.capacity + y] = e[x];
                    }
                }
            }
        }
    });
}

} // namespace

// Replaces the 24-bit picture by a newWidth x newHeight one carved or grown from it. All work
// happens in scratch memory and the picture is replaced only at the very end, so a stop between
// seams or a failed allocation (reported through ReportFailure) leaves it exactly as it was;
// `committed` rises just before the replacement.
void CImageProcessor::LiquidResize(int newWidth, int newHeight)
{
    CImage* const picture = image();
    if (!picture || picture->IsNull() || picture->bitsPerPixel() != 24 || newWidth < 1 || newHeight < 1) return;
    const int width = picture->width();
    const int height = picture->height();
    const int maxWidth = std::max(width, newWidth);
    const int maxHeight = std::max(height, newHeight);
    const std::int64_t area = std::int64_t(maxWidth) * maxHeight;
    if (area > CImage::kMaxPixels) {
        ReportFailure();
        return;
    }
    const bool horizontal = height != newHeight;
    const int seams = std::abs(width - newWidth) + std::abs(height - newHeight);
    ProgressScope bar(*this, " Liquid resizing:", seams);

    // Everything is had before anything is computed: a run either completes or leaves the picture.
    CImage output;
    ScratchBlock pixelsA, pixelsB, energyA, energyB;
    SeamScratch scratch;
    SeamGrid normal, transposed;
    try {
        const std::size_t cells = static_cast<std::size_t>(area);
        bool had = pixelsA.Allocate(cells * 3) && energyA.Allocate(cells * sizeof(std::int16_t));
        if (horizontal) had = had && pixelsB.Allocate(cells * 3) && energyB.Allocate(cells * sizeof(std::int16_t));
        if (!had) throw std::bad_alloc();
        // Normal rows are at most maxWidth long and maxHeight many; transposed ones the reverse.
        const int rowCapacity = horizontal ? std::max(maxWidth, maxHeight) : maxWidth;
        const int rowCount = horizontal ? std::max(maxWidth, maxHeight) : maxHeight;
        const std::size_t checkpointCells =
            std::max(std::size_t((maxHeight - 1) / kCheckpoint + 1) * maxWidth,
                     horizontal ? std::size_t((maxWidth - 1) / kCheckpoint + 1) * maxHeight : 0);
        scratch.stride = rowCapacity;
        scratch.checkpoints.reset(new std::int32_t[checkpointCells]);
        scratch.rolling.reset(new std::int32_t[std::size_t(std::max(4, std::min(kCheckpoint, rowCount))) * rowCapacity]);
        scratch.edges.reset(new std::int32_t[std::size_t(2) * rowCapacity]);
        scratch.seam.resize(std::size_t(rowCount));
        normal.gapLimit = GapLimit(maxWidth);
        transposed.gapLimit = GapLimit(maxHeight);
        for (SeamGrid* grid : {&normal, &transposed}) {
            const std::size_t rows = std::size_t(grid == &normal ? maxHeight : horizontal ? maxWidth : 0);
            grid->start.reserve(rows);
            grid->pixelStart.reserve(rows);
            grid->gaps.resize(rows * std::size_t(grid->gapLimit));
        }
    } catch (const std::bad_alloc&) {
        ReportFailure();
        return;
    }
    if (!output.Create(newWidth, newHeight, 24, picture->hasAlpha() ? 1u : 0u)) {
        ReportFailure();
        return;
    }

    normal.pixels = pixelsA.As<std::uint8_t>();
    normal.energy = energyA.As<std::int16_t>();
    normal.capacity = maxWidth;
    normal.rows = height;
    normal.length = width;
    normal.start.assign(std::size_t(height), 0);
    normal.pixelStart.assign(std::size_t(height), 0);
    transposed.pixels = pixelsB.As<std::uint8_t>();
    transposed.energy = energyB.As<std::int16_t>();
    transposed.capacity = maxHeight;
    {
        const std::uint8_t* bits = picture->bits();
        const int pitch = picture->pitch();
        ParallelFor(0, height, [&](int begin, int end) {
            for (int y = begin; y < end; ++y)
                std::memcpy(normal.PixelRow(y), bits + std::ptrdiff_t(y) * pitch, std::size_t(width) * 3);
        });
    }
    ComputeEnergy(normal);

    // The grid the seams of the current phase cross; the other one receives its transposition.
    SeamGrid* current = &normal;
    auto useGrid = [&](SeamGrid& wanted) {
        SettlePixels(*current);
        if (current == &wanted) return;
        Transpose(*current, wanted);
        current = &wanted;
    };
    auto runSeam = [&](bool insert) {
        if (bar.StopRequested()) return false;
        bar.Step();
        FindSeam(*current, scratch);
        if (insert) InsertSeam(*current, scratch.seam);
        else RemoveSeam(*current, scratch.seam);
        return true;
    };

    while (normal.length > newWidth)
        if (!runSeam(false)) return;
    if (height > newHeight) {
        useGrid(transposed);
        while (transposed.length > newHeight)
            if (!runSeam(false)) return;
    }
    if (width < newWidth) {
        useGrid(normal);
        while (normal.length < newWidth)
            if (!runSeam(true)) return;
    }
    if (height < newHeight) {
        useGrid(transposed);
        while (transposed.length < newHeight)
            if (!runSeam(true)) return;
    }
    if (bar.StopRequested()) return;
    SettlePixels(*current);

    std::uint8_t* const outBits = output.bits();
    const int outPitch = output.pitch();
    if (current == &normal) {
        ParallelFor(0, newHeight, [&](int begin, int end) {
            for (int y = begin; y < end; ++y)
                std::memcpy(outBits + std::ptrdiff_t(y) * outPitch, normal.PixelRow(y), std::size_t(newWidth) * 3);
        });
    } else {
        ParallelFor(0, newHeight, [&](int begin, int end) {
            for (int y = begin; y < end; ++y) {
                std::uint8_t* out = outBits + std::ptrdiff_t(y) * outPitch;
                for (int x = 0; x < newWidth; ++x) std::memcpy(out + 3 * x, transposed.PixelRow(x) + 3 * y, 3);
            }
        });
    }
    committed.store(1);
    picture->SwapWith(output);
}
