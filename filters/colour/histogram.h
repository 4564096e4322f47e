#pragma once

#include <array>
#include <atomic>
#include <cstdint>

class CImage;

namespace orvex_colour {

// A pixel's luminance, the weights 0.299, 0.587 and 0.114 in 256ths: they add up to 256, so every
// grey keeps its own value (a neutral pixel's luminance is its channel value) and white stays 255.
inline std::uint8_t Luminance(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return static_cast<std::uint8_t>((77 * red + 150 * green + 29 * blue + 128) >> 8);
}

// How many pixels have each value, per channel and for the luminance.
struct CHistogram
{
    std::array<std::uint64_t, 256> luminance{};
    std::array<std::uint64_t, 256> red{};
    std::array<std::uint64_t, 256> green{};
    std::array<std::uint64_t, 256> blue{};
    std::uint64_t pixels = 0;
};

// Counts every pixel of a 24-bit picture, rows spread over the cores; an empty histogram for any
// other picture. Exact: the counts do not depend on how the rows were split. When `stop` is given
// and raised during the count, the count gives up early and returns an empty histogram (a newer
// request made this one pointless).
CHistogram ComputeHistogram(const CImage& picture, const std::atomic<bool>* stop = nullptr);

} // namespace orvex_colour
