// The compiled half of the `orvex` Python module (_orvex): arrays in and out of the engine, the
// loader and the saver, operation texts and recipes. orvex.py wraps it and defines one function per
// row of the operations table from WrapperSource().

// Python's headers first: Qt's `slots` keyword would otherwise rewrite one of their members.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "core/image.h"
#include "core/operation_table.h"
#include "core/operation_text.h"
#include "io/picture_codec.h"
#include "io/picture_file.h"
#include "io/picture_metadata.h"
#include "io/picture_save.h"
#include "python/array_bridge.h"
#include "python/wrapper_text.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QString>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace py = pybind11;

namespace {

// orvex.seed()'s value; negative when none is set and the clock seeds.
std::atomic<long long> g_seed{-1};

[[noreturn]] void Raise(PyObject* type, const std::string& message)
{
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

// OSError(errno, message, filename): Python picks FileNotFoundError, PermissionError... from errno.
[[noreturn]] void RaiseOsError(int error, const std::string& message, const py::object& filename)
{
    PyErr_SetObject(PyExc_OSError, py::make_tuple(error, message, filename).ptr());
    throw py::error_already_set();
}

ChannelOrder ParseOrder(const std::string& order)
{
    if (order == "rgb") return ChannelOrder::Rgb;
    if (order == "bgr") return ChannelOrder::Bgr;
    Raise(PyExc_ValueError, "order must be 'rgb' or 'bgr', not '" + order + "'");
}

std::string TypeNameOf(const py::handle& obj)
{
    return py::str(py::type::handle_of(obj).attr("__name__"));
}

// The picture an argument holds, refused unless it is exactly what the engine's copy reads: no
// silent casts or copies of arrays the caller would then not know about.
struct CArrayIn
{
    py::array array;
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
};

CArrayIn CheckArray(const py::handle& obj)
{
    if (!py::isinstance<py::array>(obj))
        Raise(PyExc_TypeError,
              "image must be a numpy.ndarray of uint8 with shape (height, width, 3), not " + TypeNameOf(obj));
    CArrayIn in;
    in.array = py::reinterpret_borrow<py::array>(obj);
    const py::dtype dtype = in.array.dtype();
    if (dtype.kind() != 'u' || dtype.itemsize() != 1)
        Raise(PyExc_TypeError, "image must have dtype uint8, not " + dtype.attr("name").cast<std::string>() +
                                   " (convert it with numpy.clip(image, 0, 255).astype(numpy.uint8))");
    std::string shape = "(";
    for (py::ssize_t i = 0; i < in.array.ndim(); ++i) shape += (i ? ", " : "") + std::to_string(in.array.shape(i));
    shape += in.array.ndim() == 1 ? ",)" : ")";
    if (in.array.ndim() != 3 || in.array.shape(2) != 3)
        Raise(PyExc_ValueError, "image must have shape (height, width, 3), not " + shape);
    if (!(in.array.flags() & py::array::c_style))
        Raise(PyExc_ValueError,
              "image must be C-contiguous (rows one after another, 3 bytes a pixel); this one is a strided view: "
              "pass numpy.ascontiguousarray(image)");
    const py::ssize_t h = in.array.shape(0), w = in.array.shape(1);
    if (h < 1 || w < 1) Raise(PyExc_ValueError, "image has no pixels: shape " + shape);
    if (h > 32768 || w > 32768 || std::int64_t(h) * w > CImage::kMaxPixels)
        Raise(PyExc_ValueError, "image of shape " + shape + " is larger than the engine takes (" +
                                    std::to_string(CImage::kMaxPixels) + " pixels, 32768 a side)");
    in.width = static_cast<int>(w);
    in.height = static_cast<int>(h);
    in.pixels = static_cast<const std::uint8_t*>(in.array.data());
    return in;
}

std::optional<std::uint32_t> ResolveSeed(const py::object& seed)
{
    if (seed.is_none()) {
        const long long s = g_seed.load();
        return s < 0 ? std::nullopt : std::optional<std::uint32_t>(static_cast<std::uint32_t>(s));
    }
    if (py::isinstance<py::bool_>(seed) || !PyIndex_Check(seed.ptr()))
        Raise(PyExc_TypeError, "seed must be an int or None, not " + TypeNameOf(seed));
    const py::int_ n = py::reinterpret_steal<py::int_>(PyNumber_Index(seed.ptr()));
    if (!n) throw py::error_already_set();
    if (n < py::int_(0) || n > py::int_(0xFFFFFFFFull))
        Raise(PyExc_ValueError, "seed must be within 0 .. 4294967295, got " + std::string(py::repr(seed)));
    return n.cast<std::uint32_t>();
}

// Copies the array into the engine, runs `plan` and copies the result out: the interpreter is let
// go for everything but making the new array, so other threads run meanwhile.
py::array RunOnArray(const py::handle& image, const std::vector<CPlannedOperation>& plan, ChannelOrder order,
                     std::optional<std::uint32_t> seed)
{
    const CArrayIn in = CheckArray(image);
    CImage picture;
    std::string error;
    bool memory = true;
    {
        py::gil_scoped_release release;
        memory = ArrayToImage(in.pixels, in.width, in.height, order, picture);
        if (memory) error = RunPlan(picture, plan, seed);
    }
    if (!memory) Raise(PyExc_MemoryError, "not enough memory for a copy of the picture");
    if (!error.empty()) Raise(PyExc_RuntimeError, error);
    py::array_t<std::uint8_t> out({py::ssize_t(picture.height()), py::ssize_t(picture.width()), py::ssize_t(3)});
    std::uint8_t* pixels = out.mutable_data();
    {
        py::gil_scoped_release release;
        ImageToArray(picture, order, pixels);
    }
    return out;
}

// One keyword value of a row's function, checked as the command line checks its text: the type the
// parameter takes and its range, the message naming both.
double ConvertValue(const COperation& op, const CParam& p, const py::handle& value)
{
    // The message parts are made only for a message: a valid call pays for none of them.
    const auto where = [&] { return SnakeName(op.name) + "(): " + PythonParamName(p); };
    const auto given = [&] { return std::string(py::repr(value)); };
    const auto range = [&] {
        return where() + " must be within " + PythonValue(p, p.min) + " .. " + PythonValue(p, p.max) + ", got " +
               given();
    };
    switch (p.type) {
    case ParamType::Code: {
        if (!py::isinstance<py::str>(value))
            Raise(PyExc_TypeError, where() + " must be a one-character str, not " + TypeNameOf(value));
        const std::string s = value.cast<std::string>();
        if (s.size() != 1 || p.codes.find(s[0]) == std::string::npos) {
            std::string codes;
            for (std::size_t i = 0; i < p.codes.size(); ++i)
                codes += (i ? ", '" : "'") + std::string(1, p.codes[i]) + "'";
            Raise(PyExc_ValueError, where() + " must be one of " + codes + ", got " + given());
        }
        return static_cast<unsigned char>(s[0]);
    }
    case ParamType::Flag: {
        // True/False, numpy's bool_, or the command line's 0 and 1.
        const int truth = PyObject_IsTrue(value.ptr());
        bool isBool = py::isinstance<py::bool_>(value);
        if (!isBool) {
            const std::string typeName = TypeNameOf(value);
            isBool = typeName == "bool_" || typeName == "bool";
        }
        if (!isBool) {
            if (!PyIndex_Check(value.ptr()))
                Raise(PyExc_TypeError, where() + " must be a bool, not " + TypeNameOf(value));
            const py::int_ n = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
            if (!n) throw py::error_already_set();
            if (!(n.equal(py::int_(0)) || n.equal(py::int_(1))))
                Raise(PyExc_ValueError, where() + " must be True or False (or 0 or 1), got " + given());
        }
        if (truth < 0) throw py::error_already_set();
        return truth ? 1.0 : 0.0;
    }
    case ParamType::Int: {
        if (!PyIndex_Check(value.ptr())) Raise(PyExc_TypeError, where() + " must be an int, not " + TypeNameOf(value));
        const py::int_ n = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
        if (!n) throw py::error_already_set();
        int overflow = 0;
        const long long whole = PyLong_AsLongLongAndOverflow(n.ptr(), &overflow);
        if (overflow != 0 || whole < p.min || whole > p.max) Raise(PyExc_ValueError, range());
        return static_cast<double>(whole);
    }
    case ParamType::Float: {
        if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) ||
            !(PyFloat_Check(value.ptr()) || PyIndex_Check(value.ptr()) || PyNumber_Check(value.ptr())))
            Raise(PyExc_TypeError, where() + " must be a float, not " + TypeNameOf(value));
        const double d = PyFloat_AsDouble(value.ptr());
        if (d == -1.0 && PyErr_Occurred()) throw py::error_already_set();
        if (!std::isfinite(d)) Raise(PyExc_ValueError, where() + " must be a finite number, got " + given());
        if (d < p.min || d > p.max) Raise(PyExc_ValueError, range());
        return d;
    }
    }
    return 0;
}

py::array RunOp(const py::handle& image, std::size_t index, const py::tuple& args, const std::string& order,
                const py::object& seed)
{
    const auto& table = OperationTable();
    if (index >= table.size()) Raise(PyExc_IndexError, "no operation " + std::to_string(index));
    const COperation& op = table[index];
    if (args.size() != op.params.size())
        Raise(PyExc_TypeError, SnakeName(op.name) + "() takes " + std::to_string(op.params.size()) + " values");
    std::vector<double> values;
    values.reserve(op.params.size());
    for (std::size_t i = 0; i < op.params.size(); ++i) values.push_back(ConvertValue(op, op.params[i], args[i]));
    const ChannelOrder channels = ParseOrder(order);
    return RunOnArray(image, {CPlannedOperation{&op, COpArgs(std::move(values))}}, channels, ResolveSeed(seed));
}

// The parser's messages send a reader of the command line to --list; here the same table is
// orvex.OPERATIONS.
std::string ForScripts(std::string message)
{
    const std::string list = "(see --list)";
    if (const std::size_t at = message.find(list); at != std::string::npos)
        message.replace(at, list.size(), "(see orvex.OPERATIONS)");
    return message;
}

py::array RunTexts(const py::handle& image, const std::vector<std::string>& texts, const std::string& order,
                   const py::object& seed)
{
    // Every text is read before any work, so that a typo in the last costs no time.
    std::vector<CPlannedOperation> plan;
    for (const std::string& text : texts) {
        CPlannedOperation planned;
        const std::string error = ParseOperation(text, planned);
        if (!error.empty()) Raise(PyExc_ValueError, ForScripts(error));
        plan.push_back(std::move(planned));
    }
    const ChannelOrder channels = ParseOrder(order);
    return RunOnArray(image, plan, channels, ResolveSeed(seed));
}

std::vector<std::string> ParseRecipeText(const std::string& text)
{
    std::vector<CPlannedOperation> steps;
    std::vector<std::string> lines;
    const std::string error = ParseRecipe(text, steps, &lines);
    if (!error.empty()) Raise(PyExc_ValueError, ForScripts(error));
    return lines;
}

QString PathText(const py::bytes& path)
{
    return QString::fromLocal8Bit(std::string(path).c_str());
}

// A file that cannot be opened for reading, as the OSError of its errno; nothing when it can.
void CheckReadable(const py::bytes& path, const py::object& filename)
{
    QFile file(PathText(path));
    if (file.open(QIODevice::ReadOnly)) return;
    int error = EIO;
    if (!file.exists()) error = ENOENT;
    else if (QFileInfo(file).isDir()) error = EISDIR;
    else if (file.error() == QFileDevice::PermissionsError) error = EACCES;
    RaiseOsError(error, file.errorString().toStdString(), filename);
}

py::array Load(const py::bytes& path, const py::object& filename, const std::string& order)
{
    const ChannelOrder channels = ParseOrder(order);
    CheckReadable(path, filename);
    CPictureFile opened;
    QString reason;
    bool ok = false;
    {
        py::gil_scoped_release release;
        ok = OpenPictureFile(PathText(path), opened, &reason);
    }
    if (!ok) Raise(PyExc_OSError, "Load failed: " + std::string(py::str(filename)) + ": " + reason.toStdString());
    const CImage& picture = opened.picture;
    py::array_t<std::uint8_t> out({py::ssize_t(picture.height()), py::ssize_t(picture.width()), py::ssize_t(3)});
    std::uint8_t* pixels = out.mutable_data();
    {
        py::gil_scoped_release release;
        ImageToArray(picture, channels, pixels);
    }
    return out;
}

// Writes as orvex-cli --quality N writes: JPEG at that quality, WebP lossy at it (lossless at 100),
// the other formats with their defaults; with `metadataFrom`, that file's EXIF, XMP, IPTC and colour
// profile and (for a JPEG) its chroma sampling, as the tool keeps its INPUT's. Returns the metadata
// blocks that could not be kept.
std::vector<std::string> Save(const py::handle& image, const py::bytes& path, const py::object& filename, int quality,
                              const py::object& metadataFrom, const py::object& metadataName, const std::string& order)
{
    const CArrayIn in = CheckArray(image);
    const ChannelOrder channels = ParseOrder(order);
    if (quality < 1 || quality > 100)
        Raise(PyExc_ValueError, "quality must be within 1 .. 100, got " + std::to_string(quality));
    const QString target = PathText(path);
    const CEncoder* encoder = EncoderForPath(target);
    if (!encoder)
        Raise(PyExc_ValueError, "Can not save " + std::string(py::str(filename)) +
                                    ": no picture format is known for this file name's extension");
    std::optional<QString> source;
    if (!metadataFrom.is_none()) {
        const py::bytes sourcePath = metadataFrom;
        CheckReadable(sourcePath, metadataName);
        source = PathText(sourcePath);
    }

    CSaveOptions options;
    options.jpeg.quality = quality;
    options.webp = {quality >= 100, quality};
    QString reason;
    QStringList leftOut;
    bool memory = true, ok = false;
    {
        py::gil_scoped_release release;
        CPictureMetadata metadata;
        if (source) {
            metadata = CPictureMetadata::Read(*source);
            options.jpeg.original = JpegFileSubsampling(*source);
        }
        CImage picture;
        memory = ArrayToImage(in.pixels, in.width, in.height, channels, picture);
        if (memory)
            ok = SavePictureWith(picture, target, options, source ? &metadata : nullptr, &reason, nullptr, &leftOut);
    }
    if (!memory) Raise(PyExc_MemoryError, "not enough memory for a copy of the picture");
    if (!ok) Raise(PyExc_OSError, "Can not save " + std::string(py::str(filename)) + ": " + reason.toStdString());
    std::vector<std::string> blocks;
    for (const QString& block : leftOut) blocks.push_back(block.toStdString());
    return blocks;
}

py::list Operations()
{
    py::list rows;
    const auto& table = OperationTable();
    for (std::size_t i = 0; i < table.size(); ++i) {
        const COperation& op = table[i];
        py::list params;
        for (const CParam& p : op.params) {
            py::dict d;
            d["name"] = PythonParamName(p);
            d["table_name"] = p.name;
            d["type"] = ParamTypeName(p);
            d["min"] = p.min;
            d["max"] = p.max;
            d["default"] = p.defaultValue;
            d["codes"] = p.codes;
            params.append(d);
        }
        py::dict row;
        row["name"] = op.name;
        row["function"] = SnakeName(op.name);
        row["summary"] = op.summary;
        row["params"] = params;
        row["seeded"] = op.seeded;
        row["changes_size"] = op.changesSize;
        rows.append(row);
    }
    return rows;
}

// The seconds each of `repeats` calls of the module's work for `text` takes without the interpreter
// (copy in, operation, a fresh output buffer, copy out), for bench/python/call_overhead.py to set
// beside the same calls made from Python in one process, under the same load.
std::vector<double> TimeNative(const py::handle& image, const std::string& text, const std::string& order, int repeats)
{
    const CArrayIn in = CheckArray(image);
    const ChannelOrder channels = ParseOrder(order);
    CPlannedOperation planned;
    if (const std::string error = ParseOperation(text, planned); !error.empty()) Raise(PyExc_ValueError, error);
    std::vector<double> seconds;
    py::gil_scoped_release release;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        CImage picture;
        ArrayToImage(in.pixels, in.width, in.height, channels, picture);
        RunPlan(picture, {planned}, std::uint32_t(0));
        std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[picture.bufferBytes()]);
        ImageToArray(picture, channels, out.get());
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return seconds;
}

} // namespace

PYBIND11_MODULE(_orvex, m)
{
    m.doc() = "The compiled half of the orvex module; use orvex instead.";
    // As orvex-cli: decoders' own chatter would only repeat the load error.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*=false"));
    UseBatchPlanning();

    m.def("operations", &Operations);
    m.def("wrapper_source", [] { return WrapperSource(false); });
    m.def("run_op", &RunOp, py::arg("image"), py::arg("index"), py::arg("args"), py::arg("order"), py::arg("seed"));
    m.def("run_texts", &RunTexts, py::arg("image"), py::arg("texts"), py::arg("order"), py::arg("seed"));
    m.def("parse_recipe", &ParseRecipeText, py::arg("text"));
    m.def("load", &Load, py::arg("path"), py::arg("filename"), py::arg("order"));
    m.def("save", &Save, py::arg("image"), py::arg("path"), py::arg("filename"), py::arg("quality"),
          py::arg("metadata_from"), py::arg("metadata_name"), py::arg("order"));
    m.def("set_seed", [](const py::object& seed) {
        if (seed.is_none()) {
            g_seed.store(-1);
            return;
        }
        g_seed.store(static_cast<long long>(*ResolveSeed(seed)));
    });
    m.def("time_native", &TimeNative, py::arg("image"), py::arg("text"), py::arg("order"), py::arg("repeats"));
    m.def("get_seed", []() -> py::object {
        const long long s = g_seed.load();
        return s < 0 ? py::object(py::none()) : py::object(py::int_(s));
    });
}
