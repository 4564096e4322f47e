// Red-eye reduction: pixels whose 5 x 5 neighbourhood is strongly red lose their red glare.
//
// Marks are decided on the unchanged picture and applied afterwards. Rows are shared out in bands.
// A band slides 16-bit column sums (five rows) down its rows; every row that enters is also kept in
// a ring of five rows, so that it can leave the sums again without reading the picture. A row can
// therefore be corrected as soon as its marks are known. The two first and two last rows of a band
// are read by its neighbours: their marks are kept and applied once every band has finished.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/effects/effects_internal.h"
#include "filters/effects/red_eye_reduction_kernel.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

namespace {

using namespace orvex_red_eye;

// What a band needs done per row, in one of several instruction sets.
//  slideIn: adds `row` to the column sums and keeps it in `slot` (as the band starts);
//  step:    the same, taking off the row kept in `slot` before, then one mark word per chunk of
//           64 pixels from the sums; `next`, if not null, is the row that will come next;
//  correct: red becomes (green + blue) / 2 in the marked pixels of `row`.
struct CKernel
{
    void (*slideIn)(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* slot, std::int16_t* columns,
                    int width);
    void (*step)(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* slot, std::int16_t* columns,
                 int width, std::uint64_t* marks);
    void (*correct)(std::uint8_t* row, const std::uint64_t* marks, int width);
};

std::uint64_t TakeBits(std::uint64_t bits, std::uint64_t positions)
{
    std::uint64_t taken = 0;
    for (int q = 0; positions != 0; positions &= positions - 1, ++q)
        taken |= ((bits >> __builtin_ctzll(positions)) & 1) << q;
    return taken;
}

void CorrectPlain(std::uint8_t* row, const std::uint64_t* marks, int width)
{
    const CShape shape(width);
    for (int c = 0; c < shape.chunks; ++c)
        for (std::uint64_t bits = marks[c]; bits != 0; bits &= bits - 1) {
            std::uint8_t* p = row + 3 * (c * kChunk + __builtin_ctzll(bits));
            p[2] = static_cast<std::uint8_t>((p[0] + p[1]) / 2);
        }
}

void SlideInPlain(const std::uint8_t* row, const std::uint8_t*, std::uint8_t* slot, std::int16_t* columns, int width)
{
    SlideInBody(row, slot, columns, width, false);
}

void DetectPlain(const std::int16_t* columns, int width, std::uint64_t* marks)
{
    const CShape shape(width);
    for (int c = 0; c < shape.chunks; ++c) {
        alignas(16) std::uint8_t flags[3 * kChunk];
        ChunkFlags(columns, c, flags);
        const std::uint64_t bits = TakeBits(FlagBits(flags), RedPositions(2, 21)) |
                                   TakeBits(FlagBits(flags + kChunk), RedPositions(1, 21)) << 21 |
                                   TakeBits(FlagBits(flags + 2 * kChunk), RedPositions(0, 22)) << 42;
        marks[c] = bits & DetectableBits(c, width);
    }
}

void StepPlain(const std::uint8_t* row, const std::uint8_t*, std::uint8_t* slot, std::int16_t* columns, int width,
               std::uint64_t* marks)
{
    SlideInBody(row, slot, columns, width, true);
    DetectPlain(columns, width, marks);
}
const CKernel kKernels[] = {{SlideInPlain, StepPlain, CorrectPlain},
                            {SlideInAvx2, StepAvx2, CorrectPlain},
                            {SlideInWide, StepWide, CorrectWide}};

bool Supported(int level)
{
    __builtin_cpu_init();
    if (level == 2)
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("bmi2");
    if (level == 1) return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
    return level == 0;
}

std::atomic<int> g_forcedLevel{-1};

const CKernel& Kernel()
{
    static const int best = Supported(2) ? 2 : Supported(1) ? 1 : 0;
    const int forced = g_forcedLevel.load(std::memory_order_relaxed);
    return kKernels[forced >= 0 ? forced : best];
}

// ---- Bands ----

struct CBand
{
    int first = 0; // rows [first, end) of the picture
    int end = 0;
};

// Scratch of one band at a time: the ring, the column sums and one row's marks, the first two
// aligned to 64 bytes.
struct CRowBuffers
{
    explicit CRowBuffers(int width) : shape(width)
    {
        const std::size_t ringBytes = kRingRows * 3 * shape.plane();
        const std::size_t sumBytes = 3 * shape.region() * sizeof(std::int16_t);
        storage.assign(ringBytes + sumBytes + 64, 0);
        std::uint8_t* base = storage.data() + (64 - reinterpret_cast<std::uintptr_t>(storage.data()) % 64) % 64;
        ring = base;
        columns = reinterpret_cast<std::int16_t*>(base + ringBytes);
        marks.assign(static_cast<std::size_t>(shape.chunks), 0);
    }
    std::uint8_t* slot(int y) const { return ring + static_cast<std::size_t>(y % kRingRows) * 3 * shape.plane(); }

    CShape shape;
    std::vector<std::uint8_t> storage;
    std::uint8_t* ring = nullptr;
    std::int16_t* columns = nullptr;
    std::vector<std::uint64_t> marks;
};

// Where the marks of row y of `band` wait until every band is done, or null if the row is corrected
// at once: rows within two of the band's edges are read by the neighbouring bands.
std::uint64_t* HeldMarks(const CBand& band, int y, std::uint64_t* held, int chunks)
{
    int slot = -1;
    if (y - band.first < kReach) slot = y - band.first;
    else if (band.end - y <= kReach) slot = kReach + (y - (band.end - kReach));
    return slot < 0 ? nullptr : held + static_cast<std::size_t>(slot) * static_cast<std::size_t>(chunks);
}

void RunBand(CImage& picture, const CBand& band, const CKernel& kernel, CRowBuffers& buffers, std::uint64_t* held)
{
    const int width = picture.width();
    const int height = picture.height();
    const auto row = [&](int y) { return picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch(); };

    const int firstDetected = std::max(band.first, kReach);
    const int endDetected = std::min(band.end, height - kReach);
    if (firstDetected >= endDetected) return;

    // The sums start from the four rows above the first window's last; that row then takes the
    // place of zeros in the ring, as every later row takes the place of the row five above it.
    std::memset(buffers.columns, 0, 3 * buffers.shape.region() * sizeof(std::int16_t));
    std::memset(buffers.slot(firstDetected + kReach), 0, 3 * buffers.shape.plane());
    const int lastRead = endDetected - 1 + kReach;
    const auto after = [&](int y) { return y < lastRead ? row(y + 1) : nullptr; };
    for (int y = firstDetected - kReach; y < firstDetected + kReach; ++y)
        kernel.slideIn(row(y), after(y), buffers.slot(y), buffers.columns, width);
    for (int y = firstDetected; y < endDetected; ++y) {
        std::uint64_t* later = HeldMarks(band, y, held, buffers.shape.chunks);
        std::uint64_t* marks = later ? later : buffers.marks.data();
        kernel.step(row(y + kReach), after(y + kReach), buffers.slot(y + kReach), buffers.columns, width, marks);
        // Row y's bytes are in the ring now, and only there will this band read them again.
        if (!later) kernel.correct(row(y), buffers.marks.data(), width);
    }
}

} // namespace

bool orvex_testing::UseRedEyeKernel(int level)
{
    if (level < 0 || level > 2) {
        g_forcedLevel.store(-1);
        return true;
    }
    if (!Supported(level)) return false;
    g_forcedLevel.store(level);
    return true;
}

void CImageProcessor::RedEyeReduction()
{
    CImage& picture = *image();
    if (picture.IsNull()) return;
    const int width = picture.width();
    const int height = picture.height();
    ProgressScope bar(*this, " Red eye reduction:", width - 4);
    if (width < 2 * kReach + 1 || height < 2 * kReach + 1) return;

    const CKernel& kernel = Kernel();
    const CShape shape(width);
    // Several bands per core, taken by the cores as they get free, so that a core slowed down by
    // other work costs only its share; the bar moves as the bands finish.
    const int threads = ParallelThreadCount();
    const int bandCount = std::clamp(height / 64, std::min(threads, height), 8 * threads);
    const std::size_t heldPerBand = 2 * kReach * static_cast<std::size_t>(shape.chunks);
    std::vector<CBand> bands;
    std::vector<CRowBuffers> buffers;
    std::vector<std::uint64_t> held;
    try {
        bands.resize(static_cast<std::size_t>(bandCount));
        for (int b = 0; b < bandCount; ++b) {
            CBand& band = bands[static_cast<std::size_t>(b)];
            band.first = static_cast<int>(static_cast<long long>(height) * b / bandCount);
            band.end = static_cast<int>(static_cast<long long>(height) * (b + 1) / bandCount);
        }
        buffers.reserve(static_cast<std::size_t>(threads));
        for (int t = 0; t < threads; ++t) buffers.emplace_back(width);
        held.assign(heldPerBand * static_cast<std::size_t>(bandCount), 0);
    } catch (const std::bad_alloc&) {
        ReportFailure();
        return;
    }

    // Only the calling thread moves the bar.
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> finished{0};
    ParallelFor(0, bandCount, [&](int b0, int b1) {
        for (int b = b0; b < b1; ++b) {
            const std::size_t at = static_cast<std::size_t>(b);
            const int slot = std::min(ParallelSlot(), threads - 1);
            RunBand(picture, bands[at], kernel, buffers[static_cast<std::size_t>(slot)], held.data() + at * heldPerBand);
            const int done = finished.fetch_add(1) + 1;
            if (std::this_thread::get_id() == caller)
                bar.Set(static_cast<int>(static_cast<long long>(width - 4) * done / bandCount));
        }
    });
    bar.Set(width - 4);
    // Every band has read its neighbours' edge rows: they can change now.
    for (std::size_t b = 0; b < bands.size(); ++b)
        for (int y = std::max(bands[b].first, kReach); y < std::min(bands[b].end, height - kReach); ++y)
            if (const std::uint64_t* marks = HeldMarks(bands[b], y, held.data() + b * heldPerBand, shape.chunks))
                kernel.correct(picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch(), marks, width);
}