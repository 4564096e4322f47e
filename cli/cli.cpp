#include "cli/cli.h"

#include "cli/terminal_progress.h"
#include "core/image_processor.h"
#include "core/operation_table.h"
#include "core/operation_text.h"
#include "filters/convolution/fft_plans.h"
#include "filters/geometry/crop.h"
#include "io/picture_codec.h"
#include "io/picture_file.h"
#include "io/picture_metadata.h"
#include "io/picture_save.h"

#include <QtGlobal>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>

namespace {

constexpr const char* kProgram = "orvex-cli";

const char* kUsage =
    "Usage: orvex-cli [--crop X,Y,W,H] [--seed N] [--quality N] [--chroma S] [--png-level N] [--webp-lossless]\n"
    "                 [--webp-quality N] [--tiff-compression C] [--strip] [--quiet] INPUT OUTPUT [OPERATION ...]\n"
    "       orvex-cli --new W,H[,FILL] [options] OUTPUT [OPERATION ...]\n"
    "       orvex-cli --list | --help | --version\n"
    "\n"
    "Loads INPUT as the editor opens a picture, applies each OPERATION in order and writes OUTPUT\n"
    "in the format its extension selects (.jpg .bmp .gif .png .tif .webp ...). EXIF, XMP, IPTC and the\n"
    "colour profile of INPUT go to OUTPUT when both formats carry them (JPEG, PNG, TIFF, WebP).\n"
    "\n"
    "OPERATION is Name or Name=ARG,ARG,... with the arguments in parameter order: numbers in the\n"
    "C locale, codes as one character, flags as 0 or 1; arguments left out at the end take their\n"
    "defaults. --list shows every operation.\n"
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
    "\n"
    "Exit status: 0 success, 1 usage error, 2 load failed, 3 save failed, 4 an operation failed.\n"
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

} // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress)
{
    std::optional<std::uint32_t> seed;
    bool quiet = false;
    CSaveOptions saveOptions;
    std::vector<std::string> positional;
    std::optional<CPlannedOperation> crop;
    std::string cropText;
    std::optional<CPictureSize> blank;
    std::uint8_t blankLevel = 255;
    std::optional<int> quality, webpQuality;
    bool webpLossless = false;

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
        if (positional.empty() && a == "--quiet") {
            quiet = true;
        } else if (positional.empty() && a == "--seed") {
            if (i + 1 >= args.size()) return Usage(err, "--seed needs a number");
            const std::string& v = args[++i];
            unsigned long long n = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
            if (ec != std::errc() || end != v.data() + v.size() || n > std::numeric_limits<std::uint32_t>::max())
                return Usage(err, "invalid seed '" + v + "': expected a whole number 0..4294967295");
            seed = static_cast<std::uint32_t>(n);
        } else if (positional.empty() && a == "--crop") {
            if (i + 1 >= args.size()) return Usage(err, "--crop needs X,Y,W,H");
            cropText = args[++i];
            CPlannedOperation planned{};
            const std::string error = ParseCrop(cropText, planned);
            if (!error.empty()) return Usage(err, error);
            crop = planned;
        } else if (positional.empty() && a == "--new") {
            if (i + 1 >= args.size()) return Usage(err, "--new needs W,H[,FILL]");
            CPictureSize size;
            const std::string error = ParseNew(args[++i], size, blankLevel);
            if (!error.empty()) return Usage(err, error);
            blank = size;
        } else if (positional.empty() && a == "--quality") {
            if (i + 1 >= args.size()) return Usage(err, "--quality needs a number");
            const std::string& v = args[++i];
            int n = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
            if (ec != std::errc() || end != v.data() + v.size() || n < 1 || n > 100)
                return Usage(err, "invalid quality '" + v + "': expected a whole number 1..100");
            saveOptions.jpeg.quality = n;
            quality = n;
        } else if (positional.empty() && a == "--chroma") {
            if (i + 1 >= args.size()) return Usage(err, "--chroma needs 444, 422 or 420");
            const std::string& v = args[++i];
            if (v == "444") saveOptions.jpeg.subsampling = ChromaSubsampling::Full444;
            else if (v == "422") saveOptions.jpeg.subsampling = ChromaSubsampling::Half422;
            else if (v == "420") saveOptions.jpeg.subsampling = ChromaSubsampling::Quarter420;
            else return Usage(err, "invalid chroma subsampling '" + v + "': expected 444, 422 or 420");
        } else if (positional.empty() && a == "--png-level") {
            if (i + 1 >= args.size()) return Usage(err, "--png-level needs a number");
            const std::string& v = args[++i];
            int n = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
            if (ec != std::errc() || end != v.data() + v.size() || n < 0 || n > 9)
                return Usage(err, "invalid PNG level '" + v + "': expected a whole number 0..9");
            saveOptions.png.level = n;
        } else if (positional.empty() && a == "--webp-lossless") {
            if (webpQuality) return Usage(err, "--webp-lossless and --webp-quality exclude each other");
            webpLossless = true;
        } else if (positional.empty() && a == "--webp-quality") {
            if (i + 1 >= args.size()) return Usage(err, "--webp-quality needs a number");
            if (webpLossless) return Usage(err, "--webp-lossless and --webp-quality exclude each other");
            const std::string& v = args[++i];
            int n = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
            if (ec != std::errc() || end != v.data() + v.size() || n < 1 || n > 100)
                return Usage(err, "invalid WebP quality '" + v + "': expected a whole number 1..100");
            webpQuality = n;
        } else if (positional.empty() && a == "--tiff-compression") {
            if (i + 1 >= args.size()) return Usage(err, "--tiff-compression needs none, lzw or deflate");
            const std::string& v = args[++i];
            if (v == "none") saveOptions.tiff.compression = TiffCompression::None;
            else if (v == "lzw") saveOptions.tiff.compression = TiffCompression::Lzw;
            else if (v == "deflate") saveOptions.tiff.compression = TiffCompression::Deflate;
            else return Usage(err, "invalid TIFF compression '" + v + "': expected none, lzw or deflate");
        } else if (positional.empty() && a == "--strip") {
            saveOptions.removeMetadata = true;
        } else if (positional.empty() && a.size() > 1 && a[0] == '-' && a != "-") {
            return Usage(err, "unknown option '" + a + "'");
        } else {
            positional.push_back(a);
        }
    }
    // A blank picture stands in for INPUT.
    if (blank) positional.insert(positional.begin(), std::string());
    if (positional.size() < 2) return Usage(err, positional.empty() ? "missing INPUT and OUTPUT" : "missing OUTPUT");

    // Every operation is checked before any work, so a typo costs no decoding time.
    // The crop is the plan's first step, so that the size the output must hold is predicted with it.
    std::vector<CPlannedOperation> plan;
    if (crop) plan.push_back(*crop);
    for (std::size_t i = 2; i < positional.size(); ++i) {
        CPlannedOperation planned{};
        const std::string error = ParseOperation(positional[i], planned);
        if (!error.empty()) return Usage(err, error);
        plan.push_back(std::move(planned));
    }

    const QString input = QString::fromLocal8Bit(positional[0].c_str());
    const QString output = QString::fromLocal8Bit(positional[1].c_str());
    const auto cannotSave = [&](const QString& why) {
        err << kProgram << ": Can not save " << positional[1] << ": " << why.toStdString() << '\n';
        return kExitSave;
    };
    const CEncoder* encoder = EncoderForPath(output);
    if (!encoder) return cannotSave(QStringLiteral("no picture format is known for this file name's extension"));

    const CWarningRoute warnings(err, quiet);
    CPictureFile opened;
    QString reason;
    if (blank) {
        if (!opened.picture.CreateGrey(blank->width, blank->height, blankLevel)) {
            err << kProgram << ": --new: not enough memory for the picture\n";
            return kExitLoad;
        }
    } else if (!OpenPictureFile(input, opened, &reason)) {
        err << kProgram << ": Load failed: " << positional[0] << ": " << reason.toStdString() << '\n';
        return kExitLoad;
    }
    CImage& picture = opened.picture;
    const CPictureMetadata& metadata = opened.metadata;

    if (crop && CropRectangle(picture.width(), picture.height(), crop->args.Int(0), crop->args.Int(1),
                              crop->args.Int(2), crop->args.Int(3))
                    .IsEmpty()) {
        err << kProgram << ": --crop " << cropText << " lies outside " << positional[0] << " (" << picture.width()
            << " x " << picture.height() << " pixels)\n";
        return kExitOperation;
    }

    // A result the output format cannot hold is refused before the operations spend their time on it.
    if (const auto size = PlannedSize(plan, {picture.width(), picture.height()});
        size && !CheckEncodableSize(size->width, size->height, encoder->format, &reason))
        return cannotSave(reason);

    // A one-shot process would only wait at exit for plans it never uses: blur with estimated plans
    // and whatever the editor has measured and saved before.
    orvex_fft::CPlanningOptions planning;
    planning.measureInBackground = false;
    orvex_fft::SetPlanningOptions(planning);

    CImageProcessor engine(&picture);
    engine.SetSeedOverride(seed);
    CTerminalProgress bar(err);
    if (showProgress && !quiet) engine.SetProgressSink(&bar);

    for (const CPlannedOperation& step : plan) {
        engine.ClearFailure();
        const bool ok = step.op->call(engine, step.args);
        if (!ok || engine.Failed()) {
            err << kProgram << ": " << step.op->name << ": " << step.op->failureMessage << '\n';
            return kExitOperation;
        }
    }

    saveOptions.jpeg.original = opened.subsampling;
    // WebP: its own options first, then --quality as it always worked, then what the input was.
    if (webpLossless) {
        saveOptions.webp.lossless = true;
    } else if (webpQuality) {
        saveOptions.webp = {false, *webpQuality};
    } else if (quality) {
        saveOptions.webp = {*quality >= 100, *quality};
    } else {
        saveOptions.webp.lossless = blank || opened.lossless;
    }
    QStringList leftOut;
    if (!SavePictureWith(picture, output, saveOptions, &metadata, &reason, nullptr, &leftOut)) return cannotSave(reason);
    // Lost metadata is said even with --quiet: the file is written, but not all of what came in.
    for (const QString& block : leftOut)
        err << kProgram << ": warning: " << positional[1] << ": not kept: " << block.toStdString() << '\n';
    return kExitOk;
}
