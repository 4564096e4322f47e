#include "cli/cli.h"

#include "cli/batch_inputs.h"
#include "cli/terminal_progress.h"
#include "core/image_processor.h"
#include "core/operation_table.h"
#include "core/operation_text.h"
#include "core/parallel.h"
#include "filters/convolution/fft_plans.h"
#include "filters/geometry/crop.h"
#include "io/picture_codec.h"
#include "io/picture_file.h"
#include "io/picture_metadata.h"
#include "io/picture_save.h"

#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <ostream>
#include <sstream>
#include <system_error>
#include <thread>

namespace {

constexpr const char* kProgram = "orvex-cli";

const char* kUsage =
    "Usage: orvex-cli [--crop X,Y,W,H] [--seed N] [--quality N] [--chroma S] [--png-level N] [--webp-lossless]\n"
    "                 [--webp-quality N] [--tiff-compression C] [--strip] [--quiet] INPUT OUTPUT [OPERATION ...]\n"
    "       orvex-cli --new W,H[,FILL] [options] OUTPUT [OPERATION ...]\n"
    "       orvex-cli [options] INPUT... -o PATTERN [options] [OPERATION ...]\n"
    "       orvex-cli --list | --help | --version\n"
    "\n"
    "Loads INPUT as the editor opens a picture, applies each OPERATION in order and writes OUTPUT\n"
    "in the format its extension selects (.jpg .bmp .gif .png .tif .webp ...). EXIF, XMP, IPTC and the\n"
    "colour profile of INPUT go to OUTPUT when both formats carry them (JPEG, PNG, TIFF, WebP).\n"
    "\n"
    "OPERATION is Name or Name=ARG,ARG,... with the arguments in parameter order: numbers in the\n"
    "C locale, codes as one character, flags as 0 or 1; arguments left out at the end take their\n"
    "defaults. --list shows every operation. Steps run in this order: --crop, the --recipe files'\n"
    "steps, then the OPERATIONs.\n"
    "\n"
    "Batch (-o): every INPUT up to the first OPERATION is a file, a folder (its pictures in name\n"
    "order) or a quoted pattern ('shoot/*.JPG'). Each result is written to PATTERN with\n"
    "  {stem} the input's name without extension, {name} with it, {ext} the extension,\n"
    "  {dir} the input's folder as named or found (. for none), {n} the position 1, 2, ... padded\n"
    "  with zeros to the digits of the count (001..200), {{ and }} braces;\n"
    "missing folders are made. Several pictures are worked on at once; a summary names each failure.\n"
    "An existing output is never replaced without --overwrite (that picture fails: exists).\n"
    "\n"
    "Options:\n"
    "  --new W,H[,FILL]  start from a blank picture of W x H pixels instead of INPUT, FILL white\n"
    "               (the default), black or grey (the canvas fill), as File > New makes it\n"
    "  --crop X,Y,W,H  keep only the rectangle of W x H pixels whose top-left corner is (X, Y),\n"
    "               clamped to the picture, before the operations run; a rectangle that misses\n"
    "               the picture is an error (exit status 4)\n"
    "  --seed N     seed AddNoise and LensFlare with N instead of the clock's seconds\n"
    "  --quality N  JPEG quality 1..100, default 92; 4:4:4 chroma from 90 up, 4:2:0 below, and\n"
    "               never finer than a JPEG input's; also WebP's when no --webp option is given\n"
    "               (100 is lossless WebP)\n"
    "  --chroma S   JPEG chroma subsampling instead: 444, 422 or 420\n"
    "  --png-level N  PNG compression level 0..9 (zlib; 0 stores), default 6\n"
    "  --webp-lossless  lossless WebP; the default when INPUT is lossless (PNG, BMP, GIF, TIFF,\n"
    "               lossless WebP) or with --new\n"
    "  --webp-quality N  lossy WebP at quality 1..100; the default is quality 92 for a JPEG or\n"
    "               lossy WebP INPUT\n"
    "  --tiff-compression C  TIFF compression: none, lzw or deflate (the default)\n"
    "  --strip      write no EXIF, XMP or IPTC (camera, date, GPS...); the colour profile stays\n"
    "  --quiet      no progress bar and no warnings on stderr\n"
    "  --recipe FILE  run the operations in FILE first, one per line as on the command line; blank\n"
    "               lines and everything after a # are skipped (may be given more than once)\n"
    "  -o PATTERN   batch: write each INPUT's result to PATTERN (see above)\n"
    "  --jobs N     batch: work on N pictures at once, default one per core\n"
    "  --keep-going batch: go on after a picture failed (by default no further picture is started)\n"
    "  --overwrite  batch: replace outputs that exist\n"
    "  --recursive  batch: take the pictures of folders' subfolders too\n"
    "\n"
    "Exit status: 0 success, 1 usage error, 2 load failed, 3 save failed, 4 an operation failed;\n"
    "a batch: 0 when every picture was written, 1 usage error (nothing done), 3 an output folder\n"
    "could not be made, 5 a picture failed or was not started.\n"
    "A result larger than OUTPUT's format can hold fails with 3 before any operation runs.\n";

void PrintList(std::ostream& out)
{
    for (const COperation& op : OperationTable()) {
        out << op.name;
        for (const CParam& p : op.params) out << ' ' << DescribeParam(p);
        if (!op.summary.empty()) out << "  -- " << op.summary;
        out << '\n';
    }
}

// Warnings of the libraries underneath (Qt's readers and writers, libtiff through qWarning) are
// the tool's to show: said like its own messages, on its error stream, and hidden by --quiet. Only
// one run installs the route at a time; messages may arrive from any thread.
class CWarningRoute
{
public:
    CWarningRoute(std::ostream& err, bool quiet)
    {
        const std::lock_guard lock(s_mutex);
        s_err = quiet ? nullptr : &err;
        m_previous = qInstallMessageHandler(&Show);
    }
    ~CWarningRoute()
    {
        qInstallMessageHandler(m_previous);
        const std::lock_guard lock(s_mutex);
        s_err = nullptr;
    }
    CWarningRoute(const CWarningRoute&) = delete;
    CWarningRoute& operator=(const CWarningRoute&) = delete;

    // Held by whoever else writes to the error stream while warnings may arrive from other threads.
    static std::mutex& StreamMutex() { return s_mutex; }

private:
    static void Show(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        if (type == QtDebugMsg) return;
        const std::lock_guard lock(s_mutex);
        if (s_err) *s_err << kProgram << ": warning: " << text.toStdString() << std::endl;
    }

    static inline std::mutex s_mutex;
    static inline std::ostream* s_err = nullptr;
    QtMessageHandler m_previous = nullptr;
};

// The size `plan` gives a picture of `size`; empty when a step would ask for more pixels than the
// program holds, where that step fails by itself when it runs.
std::optional<CPictureSize> PlannedSize(const std::vector<CPlannedOperation>& plan, CPictureSize size)
{
    for (const CPlannedOperation& step : plan) {
        size = ResultSize(*step.op, size, step.args);
        if (size.width < 1 || size.height < 1 || std::int64_t(size.width) * size.height > CImage::kMaxPixels)
            return std::nullopt;
    }
    return size;
}

// --crop's value: four whole numbers, the sides at least 1. An error text, empty on success.
// --new's value: width and height 1..32768 within the pixel cap, then optionally the fill. An error
// text, empty on success.
std::string ParseNew(const std::string& text, CPictureSize& size, std::uint8_t& level)
{
    const std::string problem = "invalid new picture '" + text +
                                "': expected W,H or W,H,FILL with W and H 1..32768 and FILL white, black or grey";
    std::vector<std::string_view> parts;
    std::string_view rest = text;
    while (true) {
        const std::size_t comma = rest.find(',');
        parts.push_back(rest.substr(0, comma));
        if (comma == std::string_view::npos) break;
        rest = rest.substr(comma + 1);
    }
    if (parts.size() < 2 || parts.size() > 3) return problem;
    int sides[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        const auto [end, ec] = std::from_chars(parts[i].data(), parts[i].data() + parts[i].size(), sides[i]);
        if (parts[i].empty() || ec != std::errc() || end != parts[i].data() + parts[i].size() || sides[i] < 1 ||
            sides[i] > 32768)
            return problem;
    }
    if (std::int64_t(sides[0]) * sides[1] > CImage::kMaxPixels)
        return "invalid new picture '" + text + "': more than " + std::to_string(CImage::kMaxPixels) + " pixels";
    level = 255;
    if (parts.size() == 3) {
        if (parts[2] == "white") level = 255;
        else if (parts[2] == "black") level = 0;
        else if (parts[2] == "grey" || parts[2] == "gray") level = CImageProcessor::kBackgroundRed;
        else return problem;
    }
    size = {sides[0], sides[1]};
    return {};
}

std::string ParseCrop(const std::string& text, CPlannedOperation& planned)
{
    const std::string problem = "invalid crop '" + text + "': expected X,Y,W,H, whole numbers with W and H at least 1";
    const COperation* crop = FindOperation("Crop");
    if (!crop) return problem;
    std::vector<double> values;
    std::string_view rest = text;
    for (std::size_t i = 0; i < crop->params.size(); ++i) {
        const std::size_t comma = rest.find(',');
        const std::string_view part = rest.substr(0, comma);
        long long n = 0;
        const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), n);
        const CParam& p = crop->params[i];
        if (part.empty() || ec != std::errc() || end != part.data() + part.size() || n < p.min || n > p.max)
            return problem;
        values.push_back(static_cast<double>(n));
        if ((comma == std::string_view::npos) != (i + 1 == crop->params.size())) return problem;
        if (comma != std::string_view::npos) rest = rest.substr(comma + 1);
    }
    planned = {crop, COpArgs(std::move(values))};
    return {};
}

int Usage(std::ostream& err, const std::string& problem)
{
    err << kProgram << ": " << problem << "\n" << "Try 'orvex-cli --help'.\n";
    return kExitUsage;
}

// What every picture of a run shares: the steps and how results are written.
struct CRunSettings
{
    std::optional<std::uint32_t> seed;
    CSaveOptions saveOptions;
    std::optional<CPlannedOperation> crop;
    std::string cropText;
    std::optional<CPictureSize> blank;
    std::uint8_t blankLevel = 255;
    std::optional<int> quality, webpQuality;
    bool webpLossless = false;
    // The crop first, then the recipes' steps, then the command line's operations.
    std::vector<CPlannedOperation> plan;
};

struct CPictureResult
{
    int code = kExitOk;
    std::string message;              // why it failed, without the program's name
    std::vector<std::string> notKept; // metadata blocks the written file could not keep
};

// Loads `input` (or makes the blank picture), runs the plan and writes `output`. Nothing is
// written unless every step succeeded. `batch` leaves the input's name out of the load failure,
// which the batch summary puts before every message.
CPictureResult ProcessPicture(const CRunSettings& run, const std::string& inputPath, const std::string& outputPath,
                              IProgress* progress, bool batch)
{
    CPictureResult result;
    const auto failed = [&](int code, std::string message) {
        result.code = code;
        result.message = std::move(message);
        return result;
    };
    const QString input = QString::fromLocal8Bit(inputPath.c_str());
    const QString output = QString::fromLocal8Bit(outputPath.c_str());
    const auto cannotSave = [&](const QString& why) {
        return failed(kExitSave, "Can not save " + outputPath + ": " + why.toStdString());
    };
    const CEncoder* encoder = EncoderForPath(output);
    if (!encoder) return cannotSave(QStringLiteral("no picture format is known for this file name's extension"));
    // An output that is there already is left alone before any time is spent on it; the save
    // itself refuses one that appears meanwhile.
    if (!run.saveOptions.replace && QFileInfo::exists(output)) return cannotSave(QStringLiteral("exists"));

    CPictureFile opened;
    QString reason;
    if (run.blank) {
        if (!opened.picture.CreateGrey(run.blank->width, run.blank->height, run.blankLevel))
            return failed(kExitLoad, "--new: not enough memory for the picture");
    } else if (!OpenPictureFile(input, opened, &reason)) {
        return failed(kExitLoad, batch ? "Load failed: " + reason.toStdString()
                                       : "Load failed: " + inputPath + ": " + reason.toStdString());
    }
    CImage& picture = opened.picture;
    const CPictureMetadata& metadata = opened.metadata;

    const auto& crop = run.crop;
    if (crop && CropRectangle(picture.width(), picture.height(), crop->args.Int(0), crop->args.Int(1),
                              crop->args.Int(2), crop->args.Int(3))
                    .IsEmpty()) {
        std::ostringstream text;
        text << "--crop " << run.cropText << " lies outside " << inputPath << " (" << picture.width() << " x "
             << picture.height() << " pixels)";
        return failed(kExitOperation, text.str());
    }

    // A result the output format cannot hold is refused before the operations spend their time on it.
    if (const auto size = PlannedSize(run.plan, {picture.width(), picture.height()});
        size && !CheckEncodableSize(size->width, size->height, encoder->format, &reason))
        return cannotSave(reason);

    CImageProcessor engine(&picture);
    engine.SetSeedOverride(run.seed);
    if (progress) engine.SetProgressSink(progress);

    for (const CPlannedOperation& step : run.plan) {
        engine.ClearFailure();
        const bool ok = step.op->call(engine, step.args);
        if (!ok || engine.Failed()) return failed(kExitOperation, step.op->name + ": " + step.op->failureMessage);
    }

    CSaveOptions saveOptions = run.saveOptions;
    saveOptions.jpeg.original = opened.subsampling;
    // WebP: its own options first, then --quality as it always worked, then what the input was.
    if (run.webpLossless) {
        saveOptions.webp.lossless = true;
    } else if (run.webpQuality) {
        saveOptions.webp = {false, *run.webpQuality};
    } else if (run.quality) {
        saveOptions.webp = {*run.quality >= 100, *run.quality};
    } else {
        saveOptions.webp.lossless = run.blank || opened.lossless;
    }
    QStringList leftOut;
    if (!SavePictureWith(picture, output, saveOptions, &metadata, &reason, nullptr, &leftOut))
        return cannotSave(reason);
    for (const QString& block : leftOut) result.notKept.push_back(block.toStdString());
    return result;
}

// Lost metadata is said even with --quiet: the file is written, but not all of what came in.
void WarnNotKept(std::ostream& err, const std::string& output, const CPictureResult& result)
{
    for (const std::string& block : result.notKept)
        err << kProgram << ": warning: " << output << ": not kept: " << block << '\n';
}

// An operation as a batch's arguments name it, where the inputs end: a known operation's name,
// with or without arguments, that is not also the name of a file or folder.
bool NamesOperation(const std::string& text)
{
    if (!FindOperation(std::string_view(text).substr(0, text.find('=')))) return false;
    std::error_code ec;
    return !std::filesystem::exists(text, ec);
}

std::string ReadRecipe(const std::string& path, std::vector<CPlannedOperation>& steps)
{
    QFile file(QString::fromLocal8Bit(path.c_str()));
    if (!file.open(QIODevice::ReadOnly))
        return "can not read the recipe " + path + ": " + file.errorString().toStdString();
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return "can not read the recipe " + path + ": " + file.errorString().toStdString();
    std::vector<CPlannedOperation> parsed;
    if (const std::string error = ParseRecipe(std::string_view(text.constData(), std::size_t(text.size())), parsed);
        !error.empty())
        return "recipe " + path + ", " + error;
    steps.insert(steps.end(), parsed.begin(), parsed.end());
    return {};
}

struct CBatchOptions
{
    int jobs = 0; // 0: one per core
    bool keepGoing = false;
    bool recursive = false;
};

// Runs the plan on every input, several pictures at once, each on a thread of its own.
int RunBatch(const CRunSettings& run, const CBatchOptions& options, const std::vector<std::string>& inputs,
             const std::vector<std::string>& outputs, std::ostream& err, bool showProgress)
{
    const int count = static_cast<int>(inputs.size());
    const int cores = ParallelThreadCount();
    const int jobs = std::min(
        count, options.jobs > 0 ? options.jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
    // Each picture's own ParallelFor calls get an equal share of the cores, so that N pictures at
    // once do not ask every core for N sets of blocks; with a picture per core each runs inline.
    const int share = std::max(1, cores / jobs);

    CRunSettings shared = run;
    // PNG's deflate pieces follow the thread count; a file must not depend on how many pictures
    // were worked on beside it, so every picture gets the pieces a run of one would use.
    if (shared.saveOptions.png.pieces <= 0) shared.saveOptions.png.pieces = cores;

    std::vector<CPictureResult> results(inputs.size());
    std::vector<char> started(inputs.size(), 0);
    std::atomic<int> next{0};
    std::atomic<bool> stop{false};
    // The bar shares the error stream with warnings from the pictures' threads.
    std::mutex& drawing = CWarningRoute::StreamMutex();
    int finished = 0;
    CTerminalProgress bar(err);
    if (showProgress) bar.Begin(" " + std::to_string(count) + " pictures:", count);

    const auto work = [&] {
        const CThreadShareScope limit(share);
        for (;;) {
            if (stop.load()) return;
            const int i = next.fetch_add(1);
            if (i >= count) return;
            const auto at = static_cast<std::size_t>(i);
            started[at] = 1;
            try {
                results[at] = ProcessPicture(shared, inputs[at], outputs[at], nullptr, true);
            } catch (const std::bad_alloc&) {
                results[at] = {kExitOperation, "not enough memory", {}};
            } catch (const std::exception& e) {
                // A thread of its own must not end the program for one picture's fault.
                results[at] = {kExitOperation, e.what(), {}};
            }
            // Without --keep-going the first failure hands out no further pictures; those
            // already running finish.
            if (results[at].code != kExitOk && !options.keepGoing) stop.store(true);
            const std::lock_guard lock(drawing);
            ++finished;
            if (showProgress) bar.SetPosition(finished);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 1; t < jobs; ++t) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break; // fewer threads than asked for still do all the work
        }
    }
    work();
    for (std::thread& t : threads) t.join();
    if (showProgress) err << '\n';

    int done = 0, failedCount = 0, notStarted = 0;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!started[i]) ++notStarted;
        else if (results[i].code == kExitOk) ++done;
        else ++failedCount;
        WarnNotKept(err, outputs[i], results[i]);
    }
    for (std::size_t i = 0; i < inputs.size(); ++i)
        if (started[i] && results[i].code != kExitOk)
            err << kProgram << ": " << inputs[i] << ": " << results[i].message << '\n';
    if (failedCount > 0 || notStarted > 0 || showProgress) {
        err << kProgram << ": " << done << " of " << count << " pictures done";
        if (failedCount > 0) err << ", " << failedCount << " failed";
        if (notStarted > 0) err << ", " << notStarted << " not started (--keep-going goes on after a failure)";
        err << '\n';
    }
    return failedCount > 0 || notStarted > 0 ? kExitSomeFailed : kExitOk;
}

} // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress)
{
    CRunSettings run;
    bool quiet = false;
    std::vector<std::string> positional;
    std::vector<std::string> recipes;
    std::optional<std::string> outputPattern;
    CBatchOptions batch;
    std::vector<std::string> batchOnly; // batch options given, for the error without -o
    bool operationsBegun = false;       // with -o: an operation has been named after it
    bool overwrite = false;
    CSaveOptions& saveOptions = run.saveOptions;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (positional.empty() && (a == "--help" || a == "-h")) {
            out << kUsage;
            return kExitOk;
        }
        if (positional.empty() && a == "--version") {
            out << "orvex-cli " << ORVEX_VERSION << '\n';
            return kExitOk;
        }
        if (positional.empty() && a == "--list") {
            PrintList(out);
            return kExitOk;
        }
        // Options come before INPUT; in a batch also after -o, up to the first operation.
        const bool open = positional.empty() || (outputPattern && !operationsBegun);
        if (!operationsBegun && (a == "-o" || a == "--output")) {
            if (outputPattern) return Usage(err, "-o is given twice");
            if (i + 1 >= args.size()) return Usage(err, "-o needs an output pattern");
            outputPattern = args[++i];
        } else if (open && a == "--quiet") {
            quiet = true;
        } else if (open && a == "--seed") {
            if (i + 1 >= args.size()) return Usage(err, "--seed needs a number");
            const std::string& v = args[++i];
            unsigned long long n = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
            if (ec != std::errc() || end != v.data() + v.size() || n > std::numeric_limits<std::uint32_t>::max())
                return Usage(err, "invalid seed '" + v + "': expected a whole number 0..4294967295");
            run.seed = static_cast<std::uint32_t>(n);
        } else if (open && a == "--crop") {
            if (i + 1 >= args.size()) return Usage(err, "--crop needs X,Y,W,H");
            run.cropText = args[++i];
            CPlannedOperation planned{};
            const std::string error = ParseCrop(run.cropText, planned);
            if (!error.empty()) return Usage(err, error);
            run.crop = planned;
        } else if (open && a == "--new") {
            if (i + 1 >= args.size()) return Usage(err, "--new needs W,H[,FILL]");
            CPictureSize size;
            const std::string error = ParseNew(args[++i], size, run.blankLevel);
            if (!error.empty()) return Usage(err, error);
            run.blank = size;
        } else if (open && a == "--quality") {
            if (i + 1 >= args.size()) return Usage(err, "--quality needs a number");
            const std::string& v = args[++i];
            int n = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
            if (ec != std::errc() || end != v.data() + v.size() || n < 1 || n > 100)
                return Usage(err, "invalid quality '" + v + "': expected a whole number 1..100");
            saveOptions.jpeg.quality = n;
            run.quality = n;
        } else if (open && a == "--chroma") {
            if (i + 1 >= args.size()) return Usage(err, "--chroma needs 444, 422 or 420");
            const std::string& v = args[++i];
            if (v == "444") saveOptions.jpeg.subsampling = ChromaSubsampling::Full444;
            else if (v == "422") saveOptions.jpeg.subsampling = ChromaSubsampling::Half422;
            else if (v == "420") saveOptions.jpeg.subsampling = ChromaSubsampling::Quarter420;
            else return Usage(err, "invalid chroma subsampling '" + v + "': expected 444, 422 or 420");
        } else if (open && a == "--png-level") {
            if (i + 1 >= args.size()) return Usage(err, "--png-level needs a number");
            const std::string& v = args[++i];
            int n = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
            if (ec != std::errc() || end != v.data() + v.size() || n < 0 || n > 9)
                return Usage(err, "invalid PNG level '" + v + "': expected a whole number 0..9");
            saveOptions.png.level = n;
        } else if (open && a == "--webp-lossless") {
            if (run.webpQuality) return Usage(err, "--webp-lossless and --webp-quality exclude each other");
            run.webpLossless = true;
        } else if (open && a == "--webp-quality") {
            if (i + 1 >= args.size()) return Usage(err, "--webp-quality needs a number");
            if (run.webpLossless) return Usage(err, "--webp-lossless and --webp-quality exclude each other");
            const std::string& v = args[++i];
            int n = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
            if (ec != std::errc() || end != v.data() + v.size() || n < 1 || n > 100)
                return Usage(err, "invalid WebP quality '" + v + "': expected a whole number 1..100");
            run.webpQuality = n;
        } else if (open && a == "--tiff-compression") {
            if (i + 1 >= args.size()) return Usage(err, "--tiff-compression needs none, lzw or deflate");
            const std::string& v = args[++i];
            if (v == "none") saveOptions.tiff.compression = TiffCompression::None;
            else if (v == "lzw") saveOptions.tiff.compression = TiffCompression::Lzw;
            else if (v == "deflate") saveOptions.tiff.compression = TiffCompression::Deflate;
            else return Usage(err, "invalid TIFF compression '" + v + "': expected none, lzw or deflate");
        } else if (open && a == "--strip") {
            saveOptions.removeMetadata = true;
        } else if (open && a == "--recipe") {
            if (i + 1 >= args.size()) return Usage(err, "--recipe needs a file");
            recipes.push_back(args[++i]);
        } else if (open && a == "--jobs") {
            if (i + 1 >= args.size()) return Usage(err, "--jobs needs a number");
            const std::string& v = args[++i];
            int n = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
            if (ec != std::errc() || end != v.data() + v.size() || n < 1 || n > 1024)
                return Usage(err, "invalid jobs '" + v + "': expected a whole number 1..1024");
            batch.jobs = n;
            batchOnly.push_back(a);
        } else if (open && a == "--keep-going") {
            batch.keepGoing = true;
            batchOnly.push_back(a);
        } else if (open && a == "--overwrite") {
            overwrite = true;
            batchOnly.push_back(a);
        } else if (open && a == "--recursive") {
            batch.recursive = true;
            batchOnly.push_back(a);
        } else if (open && a.size() > 1 && a[0] == '-' && a != "-") {
            return Usage(err, "unknown option '" + a + "'");
        } else {
            if (outputPattern && NamesOperation(a)) operationsBegun = true;
            positional.push_back(a);
        }
    }
    if (!outputPattern && !batchOnly.empty()) return Usage(err, batchOnly.front() + " works only with -o");
    if (outputPattern && run.blank) return Usage(err, "--new makes one picture: give OUTPUT, not -o");

    // Single picture: INPUT OUTPUT [OPERATION ...]; a blank picture stands in for INPUT.
    // Batch: INPUT... up to the first operation.
    std::vector<std::string> inputArgs;
    std::size_t firstOperation = 0;
    if (outputPattern) {
        while (firstOperation < positional.size() && !NamesOperation(positional[firstOperation])) ++firstOperation;
        inputArgs.assign(positional.begin(), positional.begin() + static_cast<std::ptrdiff_t>(firstOperation));
        if (inputArgs.empty()) return Usage(err, "missing INPUT");
    } else {
        if (run.blank) positional.insert(positional.begin(), std::string());
        if (positional.size() < 2)
            return Usage(err, positional.empty() ? "missing INPUT and OUTPUT" : "missing OUTPUT");
        firstOperation = 2;
    }

    // Every operation is checked before any work, so a typo costs no decoding time.
    // The crop is the plan's first step, so that the size the output must hold is predicted with it.
    if (run.crop) run.plan.push_back(*run.crop);
    for (const std::string& recipe : recipes)
        if (const std::string error = ReadRecipe(recipe, run.plan); !error.empty()) return Usage(err, error);
    for (std::size_t i = firstOperation; i < positional.size(); ++i) {
        CPlannedOperation planned{};
        const std::string error = ParseOperation(positional[i], planned);
        if (!error.empty()) return Usage(err, error);
        run.plan.push_back(std::move(planned));
    }

    // In a batch an existing output is a failure of its own unless --overwrite said otherwise.
    std::vector<std::string> inputs, outputs;
    if (outputPattern) {
        saveOptions.replace = overwrite;
        if (std::string error = ExpandInputs(inputArgs, batch.recursive, inputs); !error.empty())
            return Usage(err, error);
        if (std::string error = PlanOutputs(inputs, *outputPattern, outputs); !error.empty()) return Usage(err, error);
    }

    // A one-shot process would only wait at exit for plans it never uses: blur with estimated plans
    // and whatever the editor has measured and saved before.
    orvex_fft::CPlanningOptions planning;
    planning.measureInBackground = false;
    orvex_fft::SetPlanningOptions(planning);

    const CWarningRoute warnings(err, quiet);
    if (outputPattern) {
        // Folders are made as the pictures are written; make them here, where nothing runs beside.
        for (const std::string& output : outputs) {
            const std::filesystem::path folder = std::filesystem::path(output).parent_path();
            std::error_code ec;
            if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
                std::filesystem::create_directories(folder, ec);
                if (ec) {
                    err << kProgram << ": Can not save " << output << ": can not make the folder " << folder.string()
                        << ": " << ec.message() << '\n';
                    return kExitSave;
                }
            }
        }
        return RunBatch(run, batch, inputs, outputs, err, showProgress && !quiet);
    }

    CTerminalProgress bar(err);
    const CPictureResult result =
        ProcessPicture(run, positional[0], positional[1], showProgress && !quiet ? &bar : nullptr, false);
    if (result.code != kExitOk) {
        err << kProgram << ": " << result.message << '\n';
        return result.code;
    }
    WarnNotKept(err, positional[1], result);
    return kExitOk;
}
