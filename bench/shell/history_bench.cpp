// The undo history at 6000 x 4000 through the document's one change path: sixteen typical edits,
// then every Undo and Redo, with the process's memory after the packing has settled and at its
// peak. The floor is a memcpy of the picture in the same run.
#include "bench/bench_support.h"
#include "core/image_history.h"
#include "core/operation_text.h"
#include "document/orvex_doc.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A field of /proc/self/status in megabytes ("VmRSS", "VmHWM").
double StatusMegabytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::stod(line.substr(key.size())) / 1024.0;
    return 0.0;
}

bool LoadPhoto(CImage& picture, benchmark::State& state)
{
    if (bench_support::ReadPpm(bench_support::PeerPicturePath(bench_support::kWidth, bench_support::kHeight), picture))
        return true;
    state.SkipWithError("no /tmp/orvex-bench/photo_6000x4000.ppm");
    return false;
}

// Sixteen edits of the kinds a photo goes through, two of them changing its size.
const char* const kEdits[] = {"GaussianBlur=4", "HueSaturation=20,1.2,0",
                              "Rotate90CW",     "CanvasSize=4200,6200",
                              "Invert",         "RankFilter=1,0",
                              "Sharpen",        "BrightnessContrast=1.1,10",
                              "UnsharpMask",    "Posterize=16",
                              "Rotate90CCW",    "FlipHorizontal",
                              "Solarize",       "FindEdges",
                              "Equalize",       "Invert"};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

void SixteenEditsUndoRedo(benchmark::State& state)
{
    const std::size_t limitMb = std::size_t(state.range(0));
    // paced:1 waits for the packer after each command, as any user who looks at a result for a
    // second does; paced:0 fires the sixteen commands back to back (the packer's worst case).
    const bool paced = state.range(1) != 0;
    for (auto _ : state) {
        COrvexDoc doc;
        doc.history().SetMemoryLimit(limitMb << 20);
        CImage photo;
        if (!LoadPhoto(photo, state)) return;
        if (!doc.OpenUntitled(std::move(photo), QStringLiteral("photo"))) {
            state.SkipWithError("open failed");
            return;
        }
        std::vector<double> commands;
        for (const char* text : kEdits) {
            CPlannedOperation planned;
            if (const std::string error = ParseOperation(text, planned); !error.empty()) {
                state.SkipWithError(error.c_str());
                return;
            }
            const auto start = Clock::now();
            planned.op->call(doc.engine(), planned.args);
            if (!doc.CommitChange(nullptr, QString::fromUtf8(text))) state.SkipWithError("not recorded");
            commands.push_back(Since(start));
            if (paced) doc.history().WaitUntilSettled();
        }
        doc.history().WaitUntilSettled();
        state.counters["rss_settled_MB"] = StatusMegabytes("VmRSS");
        state.counters["hwm_MB"] = StatusMegabytes("VmHWM");
        state.counters["history_MB"] = double(doc.history().memoryInUse()) / (1 << 20);
        state.counters["spilled_MB"] = double(doc.history().bytesSpilled()) / (1 << 20);
        state.counters["steps"] = doc.history().count();
        state.counters["pack_one_ms"] = doc.history().lastPackSeconds() * 1000.0;
        state.counters["command_median_ms"] = Median(commands);

        std::vector<double> undo, redo;
        while (doc.history().CanUndo()) {
            const auto start = Clock::now();
            doc.Undo();
            undo.push_back(Since(start));
        }
        while (doc.history().CanRedo()) {
            const auto start = Clock::now();
            doc.Redo();
            redo.push_back(Since(start));
        }
        state.counters["undo_worst_ms"] = *std::max_element(undo.begin(), undo.end());
        state.counters["undo_median_ms"] = Median(undo);
        state.counters["redo_worst_ms"] = *std::max_element(redo.begin(), redo.end());
        state.counters["redo_median_ms"] = Median(redo);
        state.counters["hwm_after_MB"] = StatusMegabytes("VmHWM");
        std::fprintf(stderr, "undo ms:");
        for (double t : undo) std::fprintf(stderr, " %.0f", t);
        std::fprintf(stderr, "\nredo ms:");
        for (double t : redo) std::fprintf(stderr, " %.0f", t);
        std::fprintf(stderr, "\n");
    }
}
// Memory figures are the process's: run one case per process (--benchmark_filter) for its own peak.
BENCHMARK(SixteenEditsUndoRedo)
    ->ArgNames({"limit_mb", "paced"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({400, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The next command right after a commit, while the worker packs the state the commit left behind
// (packing:1), against the same command with the worker idle (packing:0).
void CommandWhilePacking(benchmark::State& state)
{
    const bool packing = state.range(0) != 0;
    COrvexDoc doc;
    CImage photo;
    if (!LoadPhoto(photo, state)) return;
    doc.OpenUntitled(std::move(photo), QStringLiteral("photo"));
    const COperation* blur = FindOperation("GaussianBlur");
    const COpArgs args({4.0, 0.0});
    for (auto _ : state) {
        state.PauseTiming();
        doc.history().WaitUntilSettled();
        if (packing) {
            doc.engine().Invert();
            doc.CommitChange(nullptr, QStringLiteral("Invert")); // leaves a state to pack
        }
        state.ResumeTiming();
        blur->call(doc.engine(), args);
        state.PauseTiming();
        doc.CommitChange(nullptr, QStringLiteral("Gaussian Blur"));
        state.ResumeTiming();
    }
    doc.history().WaitUntilSettled();
    state.counters["pack_one_ms"] = doc.history().lastPackSeconds() * 1000.0;
}
BENCHMARK(CommandWhilePacking)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(6);

// The floor: one copy of the picture.
void FloorMemcpy(benchmark::State& state)
{
    const CImage& source = bench_support::GradientPicture();
    std::vector<std::uint8_t> target(source.bufferBytes());
    for (auto _ : state) {
        std::memcpy(target.data(), source.bufferStart(), source.bufferBytes());
        benchmark::DoNotOptimize(target.data());
    }
}
BENCHMARK(FloorMemcpy)->Unit(benchmark::kMillisecond);

} // namespace
