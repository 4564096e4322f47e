// Mutation fuzzing of the picture loader: replays the files that once went wrong, then mutates the
// picture corpus for a bounded time and feeds every result to LoadPictureFromMemory. Memory errors
// and undefined behaviour are the sanitizers' to catch; this driver catches hangs and slow inputs,
// and keeps the input it is working on in a file so that a crash leaves its cause behind.
//
//   codec_fuzz [--seconds N] [--seed N] [--corpus DIR] [--regressions DIR] [--keep FILE]
//
// Exit status: 0 no finding, 1 an input took longer than the allowed time, 2 usage error.
#include "io/picture_codec.h"
#include "io/picture_file.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Options
{
    double seconds = 60;
    std::uint64_t seed = 0;
    QString corpus;
    QString regressions;
    QString keep = QStringLiteral("codec_fuzz.current");
};

// Loading any input, however hostile, must end this quickly (a decode of the largest picture the
// size guards let through takes a fraction of this, even under the sanitizers).
constexpr qint64 kSlowMs = 10000;

std::vector<QByteArray> ReadPictures(const QString& dir)
{
    std::vector<QByteArray> files;
    if (dir.isEmpty()) return files;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(QLatin1String(".tsv")) || path.endsWith(QLatin1String(".md")) || path.endsWith(QLatin1String(".txt")) ||
            path.contains(QLatin1String("LICENSE")))
            continue;
        QFile f(path);
        if (f.open(QIODevice::ReadOnly)) files.push_back(f.readAll());
    }
    return files;
}

class CMutator
{
public:
    explicit CMutator(std::uint64_t seed) : m_random(seed) {}

    std::size_t Below(std::size_t n) { return n == 0 ? 0 : std::size_t(m_random() % n); }

    // One to eight edits of the kinds that break parsers: bit flips, boundary values in size
    // fields, cut, repeated or spliced blocks, and truncation.
    QByteArray Mutate(const QByteArray& input, const std::vector<QByteArray>& pool)
    {
        QByteArray data = input;
        const std::size_t edits = 1 + Below(8);
        for (std::size_t e = 0; e < edits && !data.isEmpty(); ++e) {
            const auto size = std::size_t(data.size());
            // Headers hold the interesting fields: favour the first bytes.
            const std::size_t at = Below(4) == 0 ? Below(size) : Below(std::min<std::size_t>(size, 64));
            switch (Below(9)) {
            case 0: data[qsizetype(at)] = char(data[qsizetype(at)] ^ (1 << Below(8))); break;
            case 1: data[qsizetype(at)] = char(m_random()); break;
            case 2: {
                static const std::uint8_t kBytes[] = {0x00, 0x01, 0x7F, 0x80, 0xFF, 0xFE, 0x10, 0x40};
                data[qsizetype(at)] = char(kBytes[Below(sizeof kBytes)]);
                break;
            }
            case 3: { // a 16- or 32-bit field set to a boundary value, either byte order
                static const std::uint32_t kWords[] = {0, 1, 0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 16384};
                const std::uint32_t v = kWords[Below(sizeof kWords / sizeof kWords[0])];
                const std::size_t width = Below(2) ? 2 : 4;
                const bool big = Below(2);
                for (std::size_t i = 0; i < width && at + i < size; ++i) {
                    const std::size_t shift = 8 * (big ? width - 1 - i : i);
                    data[qsizetype(at + i)] = char((v >> shift) & 0xFF);
                }
                break;
            }
            case 4: data.truncate(qsizetype(Below(size))); break;
            case 5: data.remove(qsizetype(at), qsizetype(1 + Below(std::min<std::size_t>(size - at, 64)))); break;
            case 6: { // repeat a block
                const std::size_t length = 1 + Below(std::min<std::size_t>(size - at, 256));
                data.insert(qsizetype(at), data.mid(qsizetype(at), qsizetype(length)));
                break;
            }
            case 7: { // splice in a block of another file
                const QByteArray& other = pool[Below(pool.size())];
                if (other.isEmpty()) break;
                const std::size_t from = Below(std::size_t(other.size()));
                const std::size_t length = 1 + Below(std::min<std::size_t>(std::size_t(other.size()) - from, 256));
                data.replace(qsizetype(at), qsizetype(std::min(length, size - at)), other.mid(qsizetype(from), qsizetype(length)));
                break;
            }
            default: data.insert(qsizetype(at), QByteArray(qsizetype(1 + Below(16)), char(m_random()))); break;
            }
        }
        return data;
    }

private:
    std::mt19937_64 m_random;
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (a == "--seconds") options.seconds = std::atof(value);
        else if (a == "--seed") options.seed = std::strtoull(value, nullptr, 10);
        else if (a == "--corpus") options.corpus = QString::fromLocal8Bit(value);
        else if (a == "--regressions") options.regressions = QString::fromLocal8Bit(value);
        else if (a == "--keep") options.keep = QString::fromLocal8Bit(value);
        else return false;
    }
    return true;
}

// Decodes one input, leaving it in the keep file first. True when it ended in time.
bool Try(const QByteArray& input, const Options& options, qint64* slowest)
{
    QFile keep(options.keep);
    if (keep.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        keep.write(input);
        keep.close();
    }
    QElapsedTimer timer;
    timer.start();
    CImage picture;
    QString reason;
    LoadPictureFromMemory(reinterpret_cast<const std::uint8_t*>(input.constData()), std::size_t(input.size()), picture, &reason);
    const qint64 ms = timer.elapsed();
    *slowest = std::max(*slowest, ms);
    if (ms <= kSlowMs) return true;
    std::fprintf(stderr, "codec_fuzz: an input took %lld ms to load; it is kept in %s\n", static_cast<long long>(ms),
                 qPrintable(options.keep));
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Decoders complain about every broken input; thousands of such lines would bury the result.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    Options options;
    options.seed = std::uint64_t(std::chrono::system_clock::now().time_since_epoch().count());
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "Usage: codec_fuzz [--seconds N] [--seed N] [--corpus DIR] [--regressions DIR] [--keep FILE]\n");
        return 2;
    }
    qint64 slowest = 0;

    // Files that once went wrong load first, every run.
    const std::vector<QByteArray> regressions = ReadPictures(options.regressions);
    for (const QByteArray& input : regressions)
        if (!Try(input, options, &slowest)) return 1;

    const std::vector<QByteArray> corpus = ReadPictures(options.corpus);
    if (corpus.empty()) {
        std::printf("codec_fuzz: %zu regression files, no corpus to mutate\n", regressions.size());
        QFile::remove(options.keep);
        return 0;
    }
    std::printf("codec_fuzz: seed %llu, %zu corpus files, %zu regression files, %.0f s\n",
                static_cast<unsigned long long>(options.seed), corpus.size(), regressions.size(), options.seconds);
    std::fflush(stdout);
    CMutator mutator(options.seed);
    QElapsedTimer clock;
    clock.start();
    std::size_t runs = 0;
    while (clock.elapsed() < qint64(options.seconds * 1000)) {
        const QByteArray input = mutator.Mutate(corpus[mutator.Below(corpus.size())], corpus);
        if (!Try(input, options, &slowest)) return 1;
        ++runs;
    }
    std::printf("codec_fuzz: %zu mutated inputs, slowest %lld ms, no finding\n", runs, static_cast<long long>(slowest));
    QFile::remove(options.keep);
    return 0;
}
