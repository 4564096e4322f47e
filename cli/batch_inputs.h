#pragma once

#include <string>
#include <vector>

// What a batch run works on and where each result goes.

// Turns the INPUT arguments into the files to process, in order: a file is taken as it is named; a
// folder gives its pictures (files whose extension a picture format claims, hidden ones left out)
// in name order, with `recursive` those of its subfolders too; an argument naming nothing that
// holds *, ? or [ is a pattern the shell left unexpanded, whose matches count as if each had been
// named. Returns an error text (nothing to process, a name that is neither file nor folder, a
// pattern matching nothing), empty on success.
std::string ExpandInputs(const std::vector<std::string>& args, bool recursive, std::vector<std::string>& inputs);

// The output name of input number `index` (0-based) of `count` after `pattern`:
//   {stem}  the input's file name without its extension   (IMG_0001 for shoot/IMG_0001.JPG)
//   {name}  the whole file name                            (IMG_0001.JPG)
//   {ext}   the extension without the dot, as written      (JPG; empty when there is none)
//   {dir}   the folder part of the input's path as named or found ("shoot", "shoot/day2"; "."
//           when the input was named without one)
//   {n}     the 1-based position in input order, zero-padded to the digits of `count` (001..200)
//   {{ }}   a literal brace
// Returns an error text for an unknown placeholder or an unmatched brace, empty on success; the
// result has redundant "." and separators removed.
std::string ExpandOutputPattern(const std::string& pattern, const std::string& input, int index, int count,
                                std::string& output);

// Every input's output name, checked before any work: each must name a format by its extension, no
// two inputs may map to one output, and no output may be another input's file. Returns an error
// text, empty on success.
std::string PlanOutputs(const std::vector<std::string>& inputs, const std::string& pattern,
                        std::vector<std::string>& outputs);
