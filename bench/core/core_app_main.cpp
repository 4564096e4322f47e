#include <QCoreApplication>

#include <benchmark/benchmark.h>

// The file and document benchmarks need Qt's application object (paths, settings, codecs) but no
// window system.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
