// What a call of the Python module costs without the interpreter, on a 1000 x 1000 picture: the
// copy of the array into the engine's layout, the operation, a new output buffer and the copy back
// out (BM_ArrayCall), beside the operation alone on a picture already in the engine (BM_Engine) and
// the floor of one memcpy of the array. bench/python/call_overhead.py runs this program and times
// the same calls from Python, so that the interpreter's share is read off one run.
#include "bench/bench_support.h"
#include "core/image.h"
#include "core/operation_table.h"
#include "core/operation_text.h"
#include "python/array_bridge.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kSide = 1000;
constexpr std::size_t kBytes = std::size_t(kSide) * kSide * 3;

const std::vector<std::uint8_t>& ArrayPicture()
{
    static const std::vector<std::uint8_t> pixels = [] {
        const CImage& source = bench_support::GradientPicture(kSide, kSide);
        std::vector<std::uint8_t> a(kBytes);
        ImageToArray(source, ChannelOrder::Rgb, a.data());
        return a;
    }();
    return pixels;
}

CPlannedOperation Planned(const std::string& text)
{
    CPlannedOperation planned;
    if (!ParseOperation(text, planned).empty()) std::abort();
    return planned;
}

void BM_MemcpyFloor(benchmark::State& state)
{
    const std::vector<std::uint8_t>& src = ArrayPicture();
    std::vector<std::uint8_t> dst(kBytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), kBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kBytes));
}

void BM_Engine(benchmark::State& state, const std::string& text)
{
    UseBatchPlanning();
    const CPlannedOperation step = Planned(text);
    CImage picture;
    ArrayToImage(ArrayPicture().data(), kSide, kSide, ChannelOrder::Rgb, picture);
    for (auto _ : state) {
        // In place, one after another: the speed of these operations does not depend on the content.
        if (!RunPlan(picture, {step}, std::uint32_t(7)).empty()) state.SkipWithError("operation failed");
        benchmark::ClobberMemory();
    }
}

// Exactly the module's work for one call, a fresh picture and a fresh output buffer each time.
void BM_ArrayCall(benchmark::State& state, const std::string& text, ChannelOrder order)
{
    UseBatchPlanning();
    const CPlannedOperation step = Planned(text);
    const std::vector<std::uint8_t>& src = ArrayPicture();
    for (auto _ : state) {
        CImage picture;
        if (!ArrayToImage(src.data(), kSide, kSide, order, picture)) state.SkipWithError("no memory");
        if (!RunPlan(picture, {step}, std::uint32_t(7)).empty()) state.SkipWithError("operation failed");
        std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[kBytes]);
        ImageToArray(picture, order, out.get());
        benchmark::DoNotOptimize(out.get());
        benchmark::ClobberMemory();
    }
}

void BM_CopiesOnly(benchmark::State& state, ChannelOrder order)
{
    const std::vector<std::uint8_t>& src = ArrayPicture();
    for (auto _ : state) {
        CImage picture;
        ArrayToImage(src.data(), kSide, kSide, order, picture);
        std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[kBytes]);
        ImageToArray(picture, order, out.get());
        benchmark::DoNotOptimize(out.get());
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_MemcpyFloor)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_CopiesOnly, rgb, ChannelOrder::Rgb)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_CopiesOnly, bgr, ChannelOrder::Bgr)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Engine, Invert, "Invert")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Engine, Sharpen, "Sharpen")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Engine, GaussianBlur, "GaussianBlur=5,1")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ArrayCall, Invert, "Invert", ChannelOrder::Rgb)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ArrayCall, Sharpen, "Sharpen", ChannelOrder::Rgb)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ArrayCall, GaussianBlur, "GaussianBlur=5,1", ChannelOrder::Rgb)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ArrayCall, InvertBgr, "Invert", ChannelOrder::Bgr)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
