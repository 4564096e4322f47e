// Bilateral filter in single precision, sixteen pixels at a time.
//
// The window's rows are kept as padded planes of floats (blue, green, red) in a ring, so each
// neighbour offset reads three plain vectors. Spatial and range weights are one exponential,
// exp2(-(spatial + d^2 * k)), evaluated with a short polynomial: a lookup of the range weight
// would need a gather per lane, which costs more than the arithmetic.
#include "filters/rank_diffusion/bilateral.h"

#include "core/beside_output.h"
#include "core/image_processor.h"
#include "core/parallel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

// The vector helpers below are always inlined into each instruction-set clone, so the calling
// convention of a vector passed by value never comes into play.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

constexpr int kLanes = 16;
using CFloats = float __attribute__((vector_size(4 * kLanes)));
using CInts = std::int32_t __attribute__((vector_size(4 * kLanes)));

struct COffset
{
    int dx, dy;
    float spatial; // (dx^2 + dy^2) / (2 s^2) in powers of two
};

inline CFloats LoadFloats(const float* p)
{
    CFloats v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// 2^t for t <= 0; below -125 the weight no longer matters and is held at 2^-125.
__attribute__((always_inline)) inline CFloats Exp2(CFloats t)
{
    t = t < -125.0f ? CFloats{} - 125.0f : t;
    const CInts n = __builtin_convertvector(t - 0.5f, CInts);
    const CFloats f = t - __builtin_convertvector(n, CFloats);
    CFloats p = 1.535336188319500e-4f * f + 1.339887440266574e-3f;
    p = p * f + 9.618437357674640e-3f;
    p = p * f + 5.550332471162809e-2f;
    p = p * f + 2.402264791363012e-1f;
    p = p * f + 6.931472028550421e-1f;
    p = p * f + 1.0f;
    CInts bits;
    std::memcpy(&bits, &p, sizeof bits);
    bits += n << 23;
    std::memcpy(&p, &bits, sizeof p);
    return p;
}

__attribute__((always_inline)) inline CFloats Abs(CFloats v)
{
    return v < 0.0f ? -v : v;
}

struct CBilateralInput
{
    const CImage* picture;
    const CBesideOutput* out;
    int radius;
    float rangeScale; // log2(e) / (2 sigma^2)
    const std::vector<COffset>* offsets;
};

class CStop
{
public:
    CStop(const CImageProcessor& engine, const CImageProcessor::ProgressScope& bar)
        : m_engine(engine), m_bar(bar), m_owner(std::this_thread::get_id())
    {
    }
    bool Now()
    {
        if (m_stop.load(std::memory_order_relaxed)) return true;
        bool stop = m_engine.cancel.load() != 0;
        if (!stop && std::this_thread::get_id() == m_owner) stop = m_bar.StopRequested();
        if (stop) m_stop.store(true);
        return stop;
    }
    bool stopped() const { return m_stop.load(); }

private:
    const CImageProcessor& m_engine;
    const CImageProcessor::ProgressScope& m_bar;
    std::thread::id m_owner;
    std::atomic<bool> m_stop{false};
};

__attribute__((target_clones("avx512f", "avx2", "default"))) void BilateralRows(const CBilateralInput& in, int y0,
                                                                                int y1, CStop& stop)
{
    const CImage& picture = *in.picture;
    const int width = picture.width();
    const int height = picture.height();
    const int r = in.radius;
    const int window = 2 * r + 1;
    const int padded = width + 2 * r;
    const std::size_t plane = static_cast<std::size_t>(padded + kLanes);
    std::vector<float> ring(plane * 3 * static_cast<std::size_t>(window), 0.0f);
    auto slot = [&](int y) { return ring.data() + plane * 3 * static_cast<std::size_t>((y + 2 * window) % window); };
    auto load = [&](int y) {
        const std::uint8_t* src =
            picture.bits() + static_cast<std::ptrdiff_t>(std::clamp(y, 0, height - 1)) * picture.pitch();
        float* planes = slot(y);
        for (int p = 0; p < padded; ++p) {
            const std::uint8_t* px = src + 3 * std::clamp(p - r, 0, width - 1);
            for (int c = 0; c < 3; ++c)
                planes[plane * static_cast<std::size_t>(c) + static_cast<std::size_t>(p)] = px[c];
        }
    };
    for (int y = y0 - r; y < y0 + r; ++y) load(y);
    const CFloats rangeScale = CFloats{} + in.rangeScale;
    for (int y = y0; y < y1; ++y) {
        if (stop.Now()) return;
        load(y + r);
        const float* centre = slot(y) + r;
        std::uint8_t* target = in.out->Row(y);
        for (int x = 0; x < width; x += kLanes) {
            const CFloats cb = LoadFloats(centre + x);
            const CFloats cg = LoadFloats(centre + plane + x);
            const CFloats cr = LoadFloats(centre + 2 * plane + x);
            CFloats sb = {}, sg = {}, sr = {}, sw = {};
            for (const COffset& o : *in.offsets) {
                const float* n = slot(y + o.dy) + r + o.dx + x;
                const CFloats b = LoadFloats(n);
                const CFloats g = LoadFloats(n + plane);
                const CFloats red = LoadFloats(n + 2 * plane);
                const CFloats d = Abs(b - cb) + Abs(g - cg) + Abs(red - cr);
                const CFloats w = Exp2(-(d * d * rangeScale) - o.spatial);
                sb += w * b;
                sg += w * g;
                sr += w * red;
                sw += w;
            }
            const CFloats inverse = 1.0f / sw;
            const CInts ob = __builtin_convertvector(sb * inverse + 0.5f, CInts);
            const CInts og = __builtin_convertvector(sg * inverse + 0.5f, CInts);
            const CInts orr = __builtin_convertvector(sr * inverse + 0.5f, CInts);
            const int lanes = std::min(kLanes, width - x);
            for (int l = 0; l < lanes; ++l) {
                std::uint8_t* px = target + 3 * (x + l);
                px[0] = static_cast<std::uint8_t>(std::clamp(ob[l], 0, 255));
                px[1] = static_cast<std::uint8_t>(std::clamp(og[l], 0, 255));
                px[2] = static_cast<std::uint8_t>(std::clamp(orr[l], 0, 255));
            }
        }
    }
}

} // namespace

void Bilateral(CImageProcessor& engine, int radius, float sigma)
{
    // Radius 0 averages each pixel with itself alone: the picture as it is (the dialog's "Preview"
    // unchecked).
    radius = std::clamp(radius, 0, 20);
    if (radius == 0) {
        engine.ShowOriginal();
        return;
    }
    CBesideOutput out;
    if (!out.Begin(engine)) return;
    const CImage& picture = *engine.image();
    // NaN fails both comparisons of the clamp; the default stands in.
    if (!(sigma == sigma)) sigma = 30.0f;
    sigma = std::clamp(sigma, 1.0f, 150.0f);

    const double log2e = 1.4426950408889634;
    const double spatialSigma = radius / 2.0;
    std::vector<COffset> offsets;
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx)
            if (dx * dx + dy * dy <= radius * radius)
                offsets.push_back(
                    {dx, dy, static_cast<float>((dx * dx + dy * dy) / (2 * spatialSigma * spatialSigma) * log2e)});
    const CBilateralInput input{&picture, &out, radius, static_cast<float>(log2e / (2.0 * double(sigma) * sigma)),
                                &offsets};

    const int height = picture.height();
    CImageProcessor::ProgressScope bar(engine, " Bilateral filtering:", height);
    CStop stop(engine, bar);
    std::atomic<int> done{0};
    const std::thread::id owner = std::this_thread::get_id();
    try {
        // Bands of 16 rows: enough for the ring to pay for itself, small enough for the bar to move.
        const int bands = (height + 15) / 16;
        ParallelFor(0, bands, [&](int b0, int b1) {
            for (int b = b0; b < b1; ++b) {
                const int y0 = b * 16;
                const int y1 = std::min(height, y0 + 16);
                BilateralRows(input, y0, y1, stop);
                const int rows = done.fetch_add(y1 - y0) + (y1 - y0);
                if (std::this_thread::get_id() == owner) bar.Set(rows);
            }
        });
    } catch (const std::bad_alloc&) {
        engine.ReportFailure();
        return;
    }
    // Asked once more on this thread, which may not have run a row since the other stopped.
    if (stop.stopped() || stop.Now()) return;
    out.Commit();
}
