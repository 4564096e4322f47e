// The recovery write of a 6000 x 4000 photograph as the editor runs it: the interface thread hands
// the document's current state to the worker and goes on with its events; the worker compresses
// and writes. Timed: the interface thread's longest stretch between two timer events while a
// write runs (it must stay below 50 ms), and the write on the worker. Beside them, in the same
// run, the floors: a plain copy of the same bytes into fresh memory and the raw bytes written to
// the same disk with the same fsync.
#include "bench/bench_support.h"
#include "document/orvex_doc.h"
#include "document/recovery_file.h"
#include "document/recovery_folder.h"
#include "document/recovery_keeper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

// The peer photograph when it is there (photographs compress worse than gradients), else the
// shared gradient picture.
const CImage& Photo()
{
    static const CImage* const photo = [] {
        auto* image = new CImage;
        if (!bench_support::ReadPpm(bench_support::PeerPicturePath(bench_support::kWidth, bench_support::kHeight),
                                    *image))
            image->CopyFrom(bench_support::GradientPicture());
        return image;
    }();
    return *photo;
}

void BM_RecoveryWriteInterfaceThread(benchmark::State& state)
{
    QTemporaryDir dir;
    CRecoveryFolder folder(dir.path());
    folder.Open();
    COrvexDoc doc;
    CImage picture;
    picture.CopyFrom(Photo());
    doc.OpenUntitled(std::move(picture), QStringLiteral("Untitled-1"));
    CRecoveryKeeper keeper(folder, {3600000, 1000000});
    const int id = keeper.Track(doc);
    double worker = 0, longest = 0;
    int written = 0;
    keeper.onWritten = [&](int, bool, double seconds) {
        worker += seconds;
        ++written;
    };
    // A timer firing every millisecond: the gap between two of its events is the longest the
    // interface thread was kept from its events.
    QTimer tick;
    tick.setInterval(1);
    QElapsedTimer clock;
    qint64 last = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, double(now - last) / 1e6);
        last = now;
    });
    for (auto _ : state) {
        const int before = written;
        clock.start();
        last = 0;
        tick.start();
        keeper.WriteNow(id);
        while (written == before) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        tick.stop();
    }
    state.counters["ui_longest_ms"] = longest;
    state.counters["worker_ms"] = worker * 1000 / double(written);
    state.counters["file_MB"] = double(QFileInfo(keeper.FileOf(id)).size()) / 1e6;
}

void BM_RecoveryFileWrite(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a") + kRecoverySuffix);
    CRecoveryInfo info;
    info.time = QDateTime::currentDateTimeUtc();
    for (auto _ : state) benchmark::DoNotOptimize(WriteRecoveryFile(file, info, Photo()));
}

// The floor of any copy: the picture's bytes into memory not touched yet.
void BM_PlainCopy(benchmark::State& state)
{
    const CImage& picture = Photo();
    const std::size_t bytes = picture.rowBytes() * std::size_t(picture.height());
    for (auto _ : state) {
        std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes]);
        std::memcpy(copy.get(), picture.bufferStart(), bytes);
        benchmark::DoNotOptimize(copy.get());
        benchmark::ClobberMemory();
    }
}

// The floor of the disk: the raw bytes written and flushed, uncompressed.
void BM_RawWriteAndSync(benchmark::State& state)
{
    QTemporaryDir dir;
    const QByteArray file = QFile::encodeName(dir.filePath(QStringLiteral("raw")));
    const CImage& picture = Photo();
    const std::size_t bytes = picture.rowBytes() * std::size_t(picture.height());
    for (auto _ : state) {
        const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::size_t done = 0;
        while (done < bytes) {
            const ssize_t n = ::write(fd, picture.bufferStart() + done, bytes - done);
            if (n <= 0) break;
            done += std::size_t(n);
        }
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

BENCHMARK(BM_RecoveryWriteInterfaceThread)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_RecoveryFileWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawWriteAndSync)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
