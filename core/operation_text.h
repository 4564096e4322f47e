#pragma once

#include "core/operation_table.h"

#include <string>
#include <string_view>
#include <vector>

// An operation as it is written on a command line or a recipe line: "Name" or "Name=ARG,ARG,...",
// the arguments in parameter order, numbers in the C locale, codes as one character, flags as 0
// or 1. The batch tool, recipes and the scripting module read operations this one way, so that
// the same text means the same step everywhere.
struct CPlannedOperation
{
    const COperation* op = nullptr;
    COpArgs args;
};

// `v` as the batch tool writes it: whole numbers for every type but Float, the C locale.
std::string FormatNumber(double v, ParamType type);

// "name:type[min..max]=default", as --list shows a parameter.
std::string DescribeParam(const CParam& p);

// Parses one argument of `op` into `value`; returns an error text naming the parameter (and its
// range when out of it), empty on success.
std::string ParseArg(const COperation& op, const CParam& p, std::string_view text, double& value);

// Parses a whole operation; arguments left out at the end take their defaults. Returns an error
// text, empty on success (then `planned` holds the row and its arguments).
std::string ParseOperation(std::string_view text, CPlannedOperation& planned);

// A recipe: one operation per line as on the command line, blank lines and everything from a '#'
// on ignored, surrounding blanks trimmed. On a bad line returns "line N: <reason>" and leaves
// `steps` as it was; empty on success. With `lines`, it receives each step's text as written
// (trimmed, the comment left out), in the same order, on success only.
std::string ParseRecipe(std::string_view text, std::vector<CPlannedOperation>& steps,
                        std::vector<std::string>* lines = nullptr);
