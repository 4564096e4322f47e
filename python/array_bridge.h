#pragma once

#include "core/image.h"
#include "core/operation_text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The scripting module's way between arrays and the engine, kept free of the interpreter so that a
// C++ benchmark can time exactly what a script's call costs beyond the interpreter. An array is
// height x width x 3 bytes, rows top-down, each pixel red, green, blue (or blue, green, red); the
// engine's picture is bottom-up with padded rows (core/image.h), so each way is one copy.

enum class ChannelOrder { Rgb, Bgr };

// Makes `picture` a 24-bit copy of the `width` x `height` array at `pixels`. False when the
// memory cannot be had (the picture is then empty).
bool ArrayToImage(const std::uint8_t* pixels, int width, int height, ChannelOrder order, CImage& picture);

// Writes `picture` (24-bit) into the array at `pixels`, which holds width() x height() x 3 bytes.
void ImageToArray(const CImage& picture, ChannelOrder order, std::uint8_t* pixels);

// Runs `plan` on `picture` in order as the batch tool runs its operations, the random effects
// seeded with `seed` when given (the clock's seconds otherwise). Empty on success; otherwise the
// failing step's name and message, the picture then as that step left it.
std::string RunPlan(CImage& picture, const std::vector<CPlannedOperation>& plan, std::optional<std::uint32_t> seed);

// Makes FFT plans the way the batch tool does (estimated, plus whatever wisdom the editor saved),
// so that blurs give the tool's results byte for byte. Called once before the first operation.
void UseBatchPlanning();
