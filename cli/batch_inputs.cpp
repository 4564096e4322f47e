#include "cli/batch_inputs.h"

#include "io/picture_codec.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

#include <glob.h>

namespace fs = std::filesystem;

namespace {

bool IsPictureName(const fs::path& path)
{
    return EncoderForPath(QString::fromStdString(path.filename().string())) != nullptr;
}

bool IsHidden(const fs::path& path)
{
    const std::string name = path.filename().string();
    return !name.empty() && name[0] == '.';
}

std::string FolderPictures(const std::string& folder, bool recursive, std::vector<std::string>& inputs)
{
    std::vector<std::string> found;
    std::error_code ec;
    const auto keep = [&](const fs::directory_entry& entry) {
        std::error_code typeError;
        if (!IsHidden(entry.path()) && entry.is_regular_file(typeError) && IsPictureName(entry.path()))
            found.push_back(entry.path().lexically_normal().string());
    };
    if (recursive) {
        // Symbolic links to folders are not followed: a link back up would never end.
        fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            if (IsHidden(it->path())) {
                if (it->is_directory(ec)) it.disable_recursion_pending();
                ec.clear();
                continue;
            }
            keep(*it);
        }
    } else {
        fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
        for (; !ec && it != end; it.increment(ec)) keep(*it);
    }
    if (ec) return "can not read the folder '" + folder + "': " + ec.message();
    std::sort(found.begin(), found.end());
    inputs.insert(inputs.end(), found.begin(), found.end());
    return {};
}

std::string ExpandOne(const std::string& arg, bool recursive, std::vector<std::string>& inputs)
{
    std::error_code ec;
    const fs::file_status status = fs::status(arg, ec);
    if (fs::is_directory(status)) return FolderPictures(arg, recursive, inputs);
    if (fs::exists(status)) {
        inputs.push_back(arg);
        return {};
    }
    if (arg.find_first_of("*?[") == std::string::npos) return "no such file or folder: '" + arg + "'";
    glob_t matches{};
    const int result = glob(arg.c_str(), 0, nullptr, &matches);
    std::vector<std::string> paths;
    if (result == 0)
        for (std::size_t i = 0; i < matches.gl_pathc; ++i) paths.emplace_back(matches.gl_pathv[i]);
    globfree(&matches);
    if (result == GLOB_NOMATCH || (result == 0 && paths.empty())) return "nothing matches '" + arg + "'";
    if (result != 0) return "can not expand '" + arg + "'";
    // glob sorts its matches; each counts as if the shell had named it.
    for (const std::string& path : paths) {
        const fs::file_status matched = fs::status(path, ec);
        if (fs::is_directory(matched)) {
            if (std::string error = FolderPictures(path, recursive, inputs); !error.empty()) return error;
        } else {
            inputs.push_back(path);
        }
    }
    return {};
}

// Where a path leads, for telling whether two names mean one file: absolute, symbolic links
// resolved as far as the path exists.
std::string FileKey(const std::string& path)
{
    std::error_code ec;
    fs::path key = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) key = fs::absolute(path, ec).lexically_normal();
    return key.string();
}

} // namespace

std::string ExpandInputs(const std::vector<std::string>& args, bool recursive, std::vector<std::string>& inputs)
{
    std::vector<std::string> found;
    for (const std::string& arg : args)
        if (std::string error = ExpandOne(arg, recursive, found); !error.empty()) return error;
    if (found.empty()) return "no pictures to process";
    inputs = std::move(found);
    return {};
}

std::string ExpandOutputPattern(const std::string& pattern, const std::string& input, int index, int count,
                                std::string& output)
{
    const fs::path path(input);
    const std::string name = path.filename().string();
    // The extension is what follows the name's last dot, as the formats are told apart; a name
    // that starts with its only dot has none.
    const std::size_t dot = name.rfind('.');
    const bool hasExt = dot != std::string::npos && dot > 0;
    const std::string stem = hasExt ? name.substr(0, dot) : name;
    const std::string ext = hasExt ? name.substr(dot + 1) : std::string();
    std::string dir = path.parent_path().string();
    if (dir.empty()) dir = ".";
    std::string number = std::to_string(index + 1);
    const std::size_t digits = std::to_string(std::max(count, 1)).size();
    if (number.size() < digits) number.insert(0, digits - number.size(), '0');

    std::string result;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if ((c == '{' || c == '}') && i + 1 < pattern.size() && pattern[i + 1] == c) {
            result += c;
            ++i;
            continue;
        }
        if (c == '}') return "unmatched '}' in the output pattern '" + pattern + "' (write }} for a brace)";
        if (c != '{') {
            result += c;
            continue;
        }
        const std::size_t close = pattern.find('}', i);
        if (close == std::string::npos)
            return "unmatched '{' in the output pattern '" + pattern + "' (write {{ for a brace)";
        const std::string field = pattern.substr(i + 1, close - i - 1);
        if (field == "stem") result += stem;
        else if (field == "name") result += name;
        else if (field == "ext") result += ext;
        else if (field == "dir") result += dir;
        else if (field == "n") result += number;
        else
            return "unknown placeholder {" + field + "} in the output pattern '" + pattern +
                   "' (known: {stem} {name} {ext} {dir} {n})";
        i = close;
    }
    if (result.empty()) return "the output pattern '" + pattern + "' gives an empty name";
    // "{dir}/x" of an input named without a folder is "./x"; "a//b" is "a/b".
    std::string normal = fs::path(result).lexically_normal().string();
    output = normal.empty() ? result : normal;
    return {};
}

std::string PlanOutputs(const std::vector<std::string>& inputs, const std::string& pattern,
                        std::vector<std::string>& outputs)
{
    const int count = static_cast<int>(inputs.size());
    std::vector<std::string> names(inputs.size());
    std::map<std::string, std::size_t> inputOf;
    for (std::size_t i = 0; i < inputs.size(); ++i) inputOf.emplace(FileKey(inputs[i]), i);
    std::map<std::string, std::size_t> taken;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (std::string error = ExpandOutputPattern(pattern, inputs[i], static_cast<int>(i), count, names[i]);
            !error.empty())
            return error;
        if (!EncoderForPath(QString::fromStdString(names[i])))
            return "no picture format is known for the extension of '" + names[i] + "' (the output of '" + inputs[i] +
                   "')";
        const std::string key = FileKey(names[i]);
        if (const auto [at, fresh] = taken.emplace(key, i); !fresh)
            return "'" + inputs[at->second] + "' and '" + inputs[i] + "' would both be written to '" + names[i] + "'";
        // A picture may be written over its own file (with --overwrite), never over another input
        // that may not have been read yet.
        if (const auto other = inputOf.find(key); other != inputOf.end() && other->second != i)
            return "'" + names[i] + "', the output of '" + inputs[i] + "', is also an input";
    }
    outputs = std::move(names);
    return {};
}
