#pragma once

#include "core/image.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// PNG encoding of the 24-bit picture: each row gets the filter whose output looks cheapest to
// compress, and the rows are deflated at zlib level 6 in as many independent pieces as there are
// cores. Each piece starts with the last 32 KB of the rows before it as its dictionary and all but
// the last end on a byte boundary, so the pieces join into one ordinary zlib stream that compresses
// within a fraction of a percent of a single-threaded one.

struct CPngOptions
{
    int level = 6; // zlib level 0..9
    int pieces = 0; // independent deflate pieces; 0 picks one per core
    int strategy = -1; // zlib strategy; -1 picks run-length or full matching by a sample of the rows
};

// Encodes the whole picture as an 8-bit RGB PNG; `iccProfile`, when not empty, goes into iCCP.
// `progress`, when given, is called on the calling thread with the fraction done (0..1).
bool EncodePng(const CImage& picture, const CPngOptions& options, const std::vector<std::uint8_t>& iccProfile,
               std::vector<std::uint8_t>& out, std::string* reason,
               const std::function<void(double)>& progress = nullptr);
