#include "python/wrapper_text.h"

#include <array>
#include <cctype>
#include <charconv>
#include <sstream>

namespace {

bool IsUpper(char c)
{
    return std::isupper(static_cast<unsigned char>(c)) != 0;
}

bool IsLowerOrDigit(char c)
{
    return std::islower(static_cast<unsigned char>(c)) != 0 || std::isdigit(static_cast<unsigned char>(c)) != 0;
}

const char* TypeName(const CParam& p)
{
    switch (p.type) {
    case ParamType::Int: return "int";
    case ParamType::Float: return "float";
    case ParamType::Flag: return "bool";
    case ParamType::Code: return "str";
    }
    return "object";
}

// A docstring line-wrapped at 96 columns under `indent`.
void Wrap(std::ostringstream& out, std::string_view text, std::string_view indent)
{
    std::string line;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t space = text.find(' ', pos);
        const std::string_view word = text.substr(pos, space == std::string_view::npos ? text.npos : space - pos);
        pos = space == std::string_view::npos ? text.size() : space + 1;
        if (!line.empty() && indent.size() + line.size() + 1 + word.size() > 96) {
            out << indent << line << '\n';
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line += word;
    }
    if (!line.empty()) out << indent << line << '\n';
}

// The summary as a docstring may hold it: backslashes and quotes of the table's text are literal.
std::string Escaped(std::string_view text)
{
    std::string s;
    for (char c : text) {
        if (c == '\\' || c == '"') s += '\\';
        s += c;
    }
    return s;
}

} // namespace

std::string SnakeName(std::string_view name)
{
    std::string s;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        // A word starts at a capital after a small letter or digit, or at the last capital of a run
        // followed by a small letter ("HTTPServer" -> "http_server").
        const bool boundary =
            i > 0 && IsUpper(c) &&
            (IsLowerOrDigit(name[i - 1]) || (IsUpper(name[i - 1]) && i + 1 < name.size() &&
                                             std::islower(static_cast<unsigned char>(name[i + 1])) != 0));
        if (boundary && s.back() != '_') s += '_';
        s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

std::string PythonParamName(const CParam& p)
{
    static constexpr std::array<std::string_view, 38> kReserved = {
        "False",    "None",   "True",  "and",  "as",     "assert",   "async",   "await", "break", "class",
        "continue", "def",    "del",   "elif", "else",   "except",   "finally", "for",   "from",  "global",
        "if",       "import", "in",    "is",   "lambda", "nonlocal", "not",     "or",    "pass",  "raise",
        "return",   "try",    "while", "with", "yield",  "image",    "order",   "seed"};
    std::string name = SnakeName(p.name);
    for (std::string_view r : kReserved)
        if (name == r) return name + '_';
    return name;
}

std::string PythonValue(const CParam& p, double value)
{
    switch (p.type) {
    case ParamType::Flag: return value != 0 ? "True" : "False";
    case ParamType::Code: return std::string("'") + static_cast<char>(static_cast<int>(value)) + "'";
    case ParamType::Int: return std::to_string(static_cast<long long>(value));
    case ParamType::Float: {
        std::array<char, 64> buffer{};
        const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
        std::string text(buffer.data(), ec == std::errc() ? end : buffer.data());
        // Python writes every float with a point or an exponent.
        if (text.find_first_of(".en") == std::string::npos) text += ".0";
        return text;
    }
    }
    return "None";
}

std::string WrapperDoc(const COperation& op)
{
    std::ostringstream out;
    std::string summary = op.summary.empty() ? op.name : op.summary;
    summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    if (summary.back() != '.') summary += '.';
    Wrap(out, Escaped(summary), "");
    out << "\nThe engine's " << op.name << "; apply(image, \"" << op.name << (op.params.empty() ? "" : "=ARG,...")
        << "\") runs the same operation from its text.\n";
    out << "\nParameters\n----------\n";
    out << "image : numpy.ndarray\n    uint8, shape (height, width, 3), C-contiguous; channels in `order`.\n";
    for (const CParam& p : op.params) {
        out << PythonParamName(p) << " : " << TypeName(p);
        if (p.type == ParamType::Code) {
            out << ", one of";
            for (std::size_t i = 0; i < p.codes.size(); ++i) out << (i ? ", '" : " '") << p.codes[i] << '\'';
        } else if (p.type != ParamType::Flag) {
            out << ", " << PythonValue(p, p.min) << " .. " << PythonValue(p, p.max);
        }
        out << ", default " << PythonValue(p, p.defaultValue) << '\n';
    }
    if (op.seeded)
        out << "seed : int or None, 0 .. 4294967295\n"
               "    Seed of the random draws; None takes the one set with orvex.seed(), or else the\n"
               "    clock's seconds. The same seed gives what orvex-cli --seed gives.\n";
    out << "order : {'rgb', 'bgr'}, default 'rgb'\n    Channel order of the array given and of the one returned.\n";
    out << "\nReturns\n-------\nnumpy.ndarray\n    A new array"
        << (op.changesSize ? " of the picture's new size" : " of the same shape") << "; `image` is not changed.\n";
    out << "\nRaises\n------\nValueError\n    A value out of its range, or an unusable array.\nTypeError\n"
           "    A value or array of the wrong type.\nRuntimeError\n    The operation could not complete ("
        << op.failureMessage << ").\n";
    return out.str();
}

std::string WrapperSource(bool stub)
{
    std::ostringstream out;
    const auto& table = OperationTable();
    for (std::size_t index = 0; index < table.size(); ++index) {
        const COperation& op = table[index];
        out << "\ndef " << SnakeName(op.name) << "(image: numpy.ndarray";
        for (const CParam& p : op.params)
            out << ", " << PythonParamName(p) << ": " << TypeName(p) << " = " << PythonValue(p, p.defaultValue);
        out << ", *";
        if (op.seeded) out << ", seed: int | None = None";
        out << ", order: str = 'rgb') -> numpy.ndarray:\n";
        std::string doc = WrapperDoc(op);
        out << "    \"\"\"";
        // Indented as the body, so that inspect.cleandoc and help() show it as written.
        for (std::size_t pos = 0; pos < doc.size();) {
            const std::size_t nl = doc.find('\n', pos);
            const std::string_view line = std::string_view(doc).substr(pos, nl - pos);
            if (pos > 0 && !line.empty()) out << "    ";
            out << line << '\n';
            pos = nl + 1;
        }
        out << "    \"\"\"\n";
        if (stub) {
            out << "    ...\n";
            continue;
        }
        out << "    return _run_op(image, " << index << ", (";
        for (const CParam& p : op.params) out << PythonParamName(p) << ", ";
        out << "), order, " << (op.seeded ? "seed" : "None") << ")\n";
    }
    return out.str();
}
