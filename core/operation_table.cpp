#include "core/operation_table.h"

#include <algorithm>
#include <cctype>

const std::vector<COperation>& OperationTable()
{
    static const std::vector<COperation> table = [] {
        std::vector<COperation> t;
        AddConvolutionOperations(t);
        AddGeometryOperations(t);
        AddRankDiffusionOperations(t);
        AddColourOperations(t);
        AddEffectsOperations(t);
        return t;
    }();
    return table;
}

const COperation* FindOperation(std::string_view name)
{
    const auto equalNoCase = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
               });
    };
    for (const auto& op : OperationTable())
        if (equalNoCase(op.name, name)) return &op;
    return nullptr;
}

COpArgs DefaultArgs(const COperation& op)
{
    std::vector<double> values;
    values.reserve(op.params.size());
    for (const auto& p : op.params) values.push_back(p.defaultValue);
    return COpArgs(std::move(values));
}

std::string ParamTypeName(const CParam& p)
{
    switch (p.type) {
    case ParamType::Int: return "int";
    case ParamType::Float: return "float";
    case ParamType::Flag: return "flag";
    case ParamType::Code: return "code";
    }
    return "?";
}

CPictureSize ResultSize(const COperation& op, CPictureSize in, const COpArgs& args)
{
    return op.changesSize && op.resultSize ? op.resultSize(in, args) : in;
}

COpReach Reach(const COperation& op, const COpArgs& args)
{
    return op.reach ? op.reach(args) : COpReach::Unbounded();
}
