#include "core/operation_text.h"

#include <charconv>
#include <cmath>
#include <locale>
#include <sstream>

std::string FormatNumber(double v, ParamType type)
{
    std::ostringstream s;
    s.imbue(std::locale::classic());
    if (type == ParamType::Float) s << v;
    else s << static_cast<long long>(v);
    return s.str();
}

std::string DescribeParam(const CParam& p)
{
    std::string text = p.name + ":" + ParamTypeName(p);
    if (p.type == ParamType::Code) text += "{" + p.codes + "}";
    else if (p.type != ParamType::Flag)
        text += "[" + FormatNumber(p.min, p.type) + ".." + FormatNumber(p.max, p.type) + "]";
    // The default is what an argument left out at the end takes.
    if (p.type == ParamType::Code) text += "=" + std::string(1, static_cast<char>(static_cast<int>(p.defaultValue)));
    else text += "=" + FormatNumber(p.defaultValue, p.type == ParamType::Flag ? ParamType::Int : p.type);
    return text;
}

// Parses one argument; returns an error text, empty on success.
std::string ParseArg(const COperation& op, const CParam& p, std::string_view text, double& value)
{
    const std::string where = "argument '" + std::string(text) + "' for " + p.name + " of " + op.name;
    if (text.empty()) return "missing value for " + p.name + " of " + op.name;
    switch (p.type) {
    case ParamType::Code:
        if (text.size() != 1 || p.codes.find(text[0]) == std::string::npos)
            return "invalid " + where + ": expected one of " + p.codes;
        value = static_cast<unsigned char>(text[0]);
        return {};
    case ParamType::Flag:
        if (text != "0" && text != "1") return "invalid " + where + ": expected 0 or 1";
        value = text == "1" ? 1 : 0;
        return {};
    case ParamType::Int: {
        long long n = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec != std::errc() || end != text.data() + text.size())
            return "invalid " + where + ": expected a whole number";
        value = static_cast<double>(n);
        break;
    }
    case ParamType::Float: {
        double d = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
        if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(d))
            return "invalid " + where + ": expected a number";
        value = d;
        break;
    }
    }
    if (value < p.min || value > p.max)
        return where + " is out of range " + FormatNumber(p.min, p.type) + ".." + FormatNumber(p.max, p.type);
    return {};
}

std::string ParseOperation(std::string_view text, CPlannedOperation& planned)
{
    const std::size_t eq = text.find('=');
    const std::string_view name = text.substr(0, eq);
    const COperation* op = FindOperation(name);
    if (!op) return "unknown operation '" + std::string(name) + "' (see --list)";

    std::vector<std::string_view> texts;
    if (eq != std::string_view::npos) {
        std::string_view rest = text.substr(eq + 1);
        while (true) {
            const std::size_t comma = rest.find(',');
            texts.push_back(rest.substr(0, comma));
            if (comma == std::string_view::npos) break;
            rest = rest.substr(comma + 1);
        }
    }
    if (texts.size() > op->params.size())
        return op->name + " takes " + std::to_string(op->params.size()) + " argument(s), " +
               std::to_string(texts.size()) + " given";

    // Arguments left out at the end take their defaults, so that a row of many values (levels per
    // channel, curve points) can be given as far as it matters.
    std::vector<double> values = DefaultArgs(*op).Values();
    for (std::size_t i = 0; i < texts.size(); ++i) {
        std::string error = ParseArg(*op, op->params[i], texts[i], values[i]);
        if (!error.empty()) return error;
    }
    planned = {op, COpArgs(std::move(values))};
    return {};
}

std::string ParseRecipe(std::string_view text, std::vector<CPlannedOperation>& steps, std::vector<std::string>* lines)
{
    std::vector<CPlannedOperation> parsed;
    std::vector<std::string> texts;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        line = line.substr(0, line.find('#'));
        constexpr std::string_view kBlanks = " \t\r\v\f";
        const std::size_t first = line.find_first_not_of(kBlanks);
        if (first == std::string_view::npos) continue;
        line = line.substr(first, line.find_last_not_of(kBlanks) - first + 1);
        CPlannedOperation planned;
        const std::string error = ParseOperation(line, planned);
        if (!error.empty()) return "line " + std::to_string(lineNumber) + ": " + error;
        parsed.push_back(std::move(planned));
        texts.emplace_back(line);
    }
    steps = std::move(parsed);
    if (lines) *lines = std::move(texts);
    return {};
}
