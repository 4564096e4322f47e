#pragma once

#include "core/operation_table.h"

#include <string>
#include <string_view>

// The Python side of the operations table, written from the table itself so that a new row is a
// new function with no other change: the module executes this source when it is imported, and the
// type stubs are the same text with `...` for bodies.

// "GaussianBlur" -> "gaussian_blur", "Rotate90CW" -> "rotate90_cw".
std::string SnakeName(std::string_view name);

// A parameter's keyword: its name in snake case, with a trailing underscore if Python reserves it.
std::string PythonParamName(const CParam& p);

// How the module writes a parameter's value in signatures and messages: 10.0, 5, True, 'a'.
std::string PythonValue(const CParam& p, double value);

// The docstring of the function for `op` (summary, parameters with type, range and default).
std::string WrapperDoc(const COperation& op);

// Every operation's function. Each calls `_run_op(image, index, (args...), order, seed)`, the
// index being the row's place in OperationTable(); with `stub`, bodies are `...` instead.
std::string WrapperSource(bool stub);
