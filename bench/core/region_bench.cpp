// Operations on a 200 x 200 region of a 6000 x 4000 picture, each beside the same operation on the
// whole picture and on the work area alone (the region widened by the operation's margin): a
// bounded operation should cost little more than its work area, an unbounded one little more than
// its whole-picture run plus one copy of the picture.
#include "bench/bench_support.h"
#include "core/image_processor.h"
#include "core/operation_table.h"
#include "core/region.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using bench_support::kHeight;
using bench_support::kWidth;

constexpr CRegion kRegion{2900, 1900, 200, 200};

struct CCase
{
    const char* name;
    std::vector<double> args;
};

const CCase kCases[] = {
    {"RankFilter", {5, 0}}, {"Average", {}},         {"Invert", {}},
    {"Mosaic", {16}},       {"RedEyeReduction", {}}, {"GaussianBlur", {20, 1}},
};

enum class CWhere { Region, Whole, WorkArea };

void Run(benchmark::State& state, const CCase& c, CWhere where)
{
    const COperation& op = *FindOperation(c.name);
    const COpArgs args(c.args);
    const CRegion area = RegionWorkArea(Reach(op, args), kRegion, kWidth, kHeight);
    const CImage& source = where == CWhere::WorkArea ? bench_support::GradientPicture(area.width, area.height)
                                                     : bench_support::GradientPicture();
    bench_support::CEngineFixture f(source, false);
    bench_support::RunRepeatedly(state, f, nullptr, [&](CImageProcessor& e) {
        if (where == CWhere::Region) RunOnRegion(e, op, args, kRegion);
        else op.call(e, args);
    });
    state.counters["area_pixels"] = static_cast<double>(f.picture.width()) * f.picture.height();
    if (where != CWhere::Whole) state.counters["work_area_pixels"] = static_cast<double>(area.width) * area.height;
}

void Register()
{
    for (const CCase& c : kCases)
        for (const auto& [where, label] : {std::pair{CWhere::Region, "Region200"}, std::pair{CWhere::Whole, "Whole"},
                                           std::pair{CWhere::WorkArea, "WorkArea"}})
            benchmark::RegisterBenchmark((std::string("BM_") + c.name + "/" + label).c_str(),
                                         [&c, where](benchmark::State& s) { Run(s, c, where); })
                ->Unit(benchmark::kMillisecond)
                ->MeasureProcessCPUTime()
                ->UseRealTime();
}

} // namespace

int main(int argc, char** argv)
{
    Register();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
