#pragma once

#include <array>
#include <cstdint>

class CImageProcessor;

namespace orvex_colour {

// One channel's levels: input black and white points, a gamma for the tones between them and the
// output range they are spread over.
struct CLevelsSetting
{
    int black = 0;
    int white = 255;
    double gamma = 1.0;
    int outBlack = 0;
    int outWhite = 255;
    bool operator==(const CLevelsSetting&) const = default;
};

// The settings a levels dialog holds at once: `all` acts on every channel after the channel's own.
struct CLevelsSettings
{
    CLevelsSetting all;
    CLevelsSetting red;
    CLevelsSetting green;
    CLevelsSetting blue;
};

using CByteTable = std::array<std::uint8_t, 256>;

// The table of one setting: v maps to round(outBlack + x^(1/gamma) * (outWhite - outBlack)) with
// x = clamp((v - black) / (white - black), 0, 1). Out-of-range settings are made sane first: the
// points are held to 0..255, white to at least black + 1 (black to at most 254), the gamma to
// 0.1..10 (1 when it is not a number).
CByteTable LevelsTable(const CLevelsSetting& setting);

// The black and white input points that clip 0.1 % of the pixels at each end of `counts`, by Auto
// Levels' rule (ClipRange in filters/colour/auto_levels.h: the darkest value whose count from 0 up
// passes the share, the lightest from 255 down); 0 and 255 when that would leave no range (a
// picture of one value, or none).
struct CLevelsPoints
{
    int black = 0;
    int white = 255;
};
CLevelsPoints AutoLevelsRange(const std::array<std::uint64_t, 256>& counts);

} // namespace orvex_colour

// One setting on the channel `channel` names ('a' all three, 'r', 'g' or 'b'; anything else leaves
// the picture alone), in one pass. Writes the work image while the engine's preview flag is set,
// the picture otherwise.
void Levels(CImageProcessor& engine, char channel, const orvex_colour::CLevelsSetting& setting);
// All four settings in one pass: channel c's byte v becomes all(c's own(v)).
void Levels(CImageProcessor& engine, const orvex_colour::CLevelsSettings& settings);
