#pragma once

#include <string>
#include <string_view>
#include <vector>

class CImageProcessor;

// The engine operations as data: the single source for the batch tool's --list and argument
// parsing, for dispatch by name, and for the contract sweep in the tests. Each filter area adds its
// rows in filters/<area>/<area>_operations.cpp.

enum class ParamType {
    Int,   // whole number in [min, max]
    Float, // real number in [min, max]
    Flag,  // 0 or 1
    Code,  // one character out of `codes`
};

struct CParam
{
    std::string name;
    ParamType type = ParamType::Int;
    double min = 0;
    double max = 0;
    double defaultValue = 0;
    std::string codes; // Code parameters: the accepted characters (case-sensitive)

    static CParam Int(std::string name, int min, int max, int def) { return {std::move(name), ParamType::Int, double(min), double(max), double(def), {}}; }
    static CParam Float(std::string name, double min, double max, double def) { return {std::move(name), ParamType::Float, min, max, def, {}}; }
    static CParam Flag(std::string name, bool def) { return {std::move(name), ParamType::Flag, 0, 1, def ? 1.0 : 0.0, {}}; }
    static CParam Code(std::string name, std::string codes, char def) { return {std::move(name), ParamType::Code, 0, 255, double(static_cast<unsigned char>(def)), std::move(codes)}; }
};

// Parsed arguments in parameter order; each holds a number or, for Code parameters, a character.
class COpArgs
{
public:
    COpArgs() = default;
    explicit COpArgs(std::vector<double> values) : m_values(std::move(values)) {}
    int Int(std::size_t i) const { return static_cast<int>(m_values.at(i)); }
    float Float(std::size_t i) const { return static_cast<float>(m_values.at(i)); }
    double Double(std::size_t i) const { return m_values.at(i); }
    bool Flag(std::size_t i) const { return m_values.at(i) != 0.0; }
    char Code(std::size_t i) const { return static_cast<char>(static_cast<int>(m_values.at(i))); }
    std::size_t size() const { return m_values.size(); }
    const std::vector<double>& Values() const { return m_values; }

private:
    std::vector<double> m_values;
};

// A picture's width and height in pixels.
struct CPictureSize
{
    int width = 0;
    int height = 0;
    bool operator==(const CPictureSize&) const = default;
};

// How far from a pixel the pixels that decide an operation's result there may lie, so that it can run
// on part of the picture (core/region.h). A result depends on the pixels within `margin` on every
// side; with `cell` > 1 it also depends on where the pixel lies in a grid of cell x cell squares
// anchored at the picture's top-left corner (Mosaic's cells, Obtain Grid's pairs of rows). A
// negative margin: a pixel's result may depend on the whole picture (means, histograms, circular
// transforms, random draws, pixels moved from elsewhere).
struct COpReach
{
    int margin = -1;
    int cell = 1;
    bool Bounded() const { return margin >= 0; }
    static COpReach Unbounded() { return {}; }
    static COpReach Within(int margin, int cell = 1) { return {margin < 0 ? 0 : margin, cell < 1 ? 1 : cell}; }
};

struct COperation
{
    std::string name;                 // the engine member's name, matched ignoring case
    std::string summary;              // one line for --list
    std::vector<CParam> params;
    // Runs the operation on the engine; false when it reports failure (Sign's status).
    bool (*call)(CImageProcessor& engine, const COpArgs& args) = nullptr;
    std::string failureMessage = "Not enough memory to complete the operation";
    bool changesSize = false;         // may give the picture another width and height
    bool inPlaceOnly = false;         // ignores the preview flag and always changes the picture
    // Rows that change the size: the size a picture of `in` (with pixels) comes out at when the
    // operation succeeds, worked out without running it, so that a caller can refuse a plan whose
    // result it could not use before spending the time on it.
    CPictureSize (*resultSize)(CPictureSize in, const COpArgs& args) = nullptr;
    // The reach of the result with `args` (see COpReach); null for an operation whose result at a
    // pixel may always depend on the whole picture. Read from the kernel, border rules included:
    // a margin that is too small lets a part's cut edges leak into its result.
    COpReach (*reach)(const COpArgs& args) = nullptr;
    // Draws random numbers, seeded from the clock or the engine's seed override: callers that
    // offer a seed (the batch tool's --seed, the scripting module's seed=) offer it for these rows.
    bool seeded = false;
};

const std::vector<COperation>& OperationTable();
const COperation* FindOperation(std::string_view name);
// Default arguments of an operation, in parameter order.
COpArgs DefaultArgs(const COperation& op);
std::string ParamTypeName(const CParam& p);
// The size `op` with `args` gives a picture of `in` when it succeeds: `in` itself unless the row
// changes the size.
CPictureSize ResultSize(const COperation& op, CPictureSize in, const COpArgs& args);
// The reach of `op` with `args`: unbounded when the row declares none.
COpReach Reach(const COperation& op, const COpArgs& args);

// Rows contributed by each filter area.
void AddConvolutionOperations(std::vector<COperation>& table);
void AddGeometryOperations(std::vector<COperation>& table);
void AddRankDiffusionOperations(std::vector<COperation>& table);
void AddColourOperations(std::vector<COperation>& table);
void AddEffectsOperations(std::vector<COperation>& table);
