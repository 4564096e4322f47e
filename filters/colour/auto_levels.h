#pragma once

#include "filters/colour/histogram.h"

#include <array>
#include <cstdint>

class CImageProcessor;

namespace orvex_colour {

// The values one channel's stretch maps to black (low) and white (high).
struct CLevelsRange
{
    int low = 0;
    int high = 255;
    // A channel whose range is empty (a single value, or nothing counted) is left as it is.
    bool Stretches() const { return low < high; }
};

// Per-channel ranges of an automatic levels stretch, and the one range of the luminance.
struct CStretch
{
    CLevelsRange blue;
    CLevelsRange green;
    CLevelsRange red;
    CLevelsRange luminance;
};

// The range of one histogram with `clip` percent of the pixels cut at each end: low is the smallest
// value whose cumulative count from 0 up to and including it exceeds clip% of `pixels`, high the
// largest value whose cumulative count from 255 down to and including it does. With clip 0 they are
// the darkest and lightest values present. An empty histogram gives 0..255. `clip` is held to
// 0..50.
CLevelsRange ClipRange(const std::array<std::uint64_t, 256>& counts, std::uint64_t pixels, float clip);

// ClipRange of every channel and of the luminance of `histogram` (for Auto Levels, Auto Contrast and
// the Levels dialog's Auto button).
CStretch AutoLevelsStretch(const CHistogram& histogram, float clip);

// The table that maps [low, high] linearly onto [0, 255], rounded half up (values below low become
// 0, above high 255); the identity when the range does not stretch.
void StretchTable(CLevelsRange range, std::uint8_t (&table)[256]);

} // namespace orvex_colour

// Stretches each channel (blue, green and red separately) from its own ClipRange to 0..255; colour
// casts therefore change. Works on the picture itself, never on a preview.
void AutoLevels(CImageProcessor& engine, float clip);

// Stretches all three channels by the one ClipRange of the luminance histogram, so that every grey
// stays grey and hues keep their balance. Works on the picture itself, never on a preview.
void AutoContrast(CImageProcessor& engine, float clip);
