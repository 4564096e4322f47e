#pragma once

// Data of the Black and White dialog that belongs with the operation: its preset list and the
// "Preserve Luminosity" rule that keeps the three mix weights summing to 100 %. Slider positions
// run 0..500 with 0 % at position 200, so a weight is (position - 200) / 100.

#include <algorithm>
#include <array>

struct CBlackAndWhitePreset
{
    enum class Kind {
        Mix,          // moves the sliders to the positions below
        ResetToNone,  // the first separator line: selects "None" and applies its mix
        KeepSliders,  // the second separator line and "Custom": the sliders stay where they are
    };
    const char* name;
    Kind kind;
    int reds;   // slider positions, used by Mix entries only
    int greens;
    int blues;
};

inline constexpr int kBlackAndWhiteMinPosition = 0;
inline constexpr int kBlackAndWhiteMaxPosition = 500;
inline constexpr int kBlackAndWhiteZeroPosition = 200;

inline constexpr const char kBlackAndWhiteSeparator[] = "------------------------------";

// In display order.
inline constexpr std::array<CBlackAndWhitePreset, 11> kBlackAndWhitePresets = {{
    {"None", CBlackAndWhitePreset::Kind::Mix, 234, 233, 233},
    {kBlackAndWhiteSeparator, CBlackAndWhitePreset::Kind::ResetToNone, 234, 233, 233},
    {"Red Filter", CBlackAndWhitePreset::Kind::Mix, 300, 200, 200},
    {"Green Filter", CBlackAndWhitePreset::Kind::Mix, 200, 300, 200},
    {"Blue Filter", CBlackAndWhitePreset::Kind::Mix, 200, 200, 300},
    {"High Contrast Red Filter", CBlackAndWhitePreset::Kind::Mix, 400, 150, 150},
    {"High Contrast Green Filter", CBlackAndWhitePreset::Kind::Mix, 150, 400, 150},
    {"High Contrast Blue Filter", CBlackAndWhitePreset::Kind::Mix, 150, 150, 400},
    {"Infrared", CBlackAndWhitePreset::Kind::Mix, 160, 344, 196},
    {kBlackAndWhiteSeparator, CBlackAndWhitePreset::Kind::KeepSliders, 0, 0, 0},
    {"Custom", CBlackAndWhitePreset::Kind::KeepSliders, 0, 0, 0},
}};
inline constexpr int kBlackAndWhiteNoneIndex = 0;
inline constexpr int kBlackAndWhiteCustomIndex = 10;

inline float BlackAndWhiteWeight(int position)
{
    return static_cast<float>(position - kBlackAndWhiteZeroPosition) / 100.0f;
}

// "Preserve Luminosity": after slider `changed` (0 reds, 1 greens, 2 blues) has moved, shares the
// difference from a 100 % total between the two other sliders, with integer arithmetic, and leaves
// them clamped to the slider range. `positions` holds reds, greens, blues. An odd difference
// leaves the total 1 % off, as the halving truncates.
inline void RedistributeLuminosity(int changed, std::array<int, 3>& positions)
{
    // Partners in the order they absorb the difference: the first takes half, the second the other
    // half plus whatever the first could not take.
    static constexpr int kFirst[3] = {1, 0, 1};
    static constexpr int kSecond[3] = {2, 2, 0};
    const int first = kFirst[changed];
    const int second = kSecond[changed];
    const int d = (700 - positions[0] - positions[1] - positions[2]) / 2;
    int a = positions[first] + d;
    const int carry = (a > kBlackAndWhiteMaxPosition ? a - kBlackAndWhiteMaxPosition : 0) + (a < 0 ? a : 0);
    const int b = positions[second] + d + carry;
    if (b > kBlackAndWhiteMaxPosition) a = a + b - kBlackAndWhiteMaxPosition;
    if (b < 0) a = a + b;
    positions[first] = std::clamp(a, kBlackAndWhiteMinPosition, kBlackAndWhiteMaxPosition);
    positions[second] = std::clamp(b, kBlackAndWhiteMinPosition, kBlackAndWhiteMaxPosition);
}
