// Hue, saturation and lightness. The HSL triple is taken blue first: the usual formulas' red role
// is played by the blue byte, so hue 0 is pure blue, 120 pure green and 240 pure red. All values
// are single precision, and the vector kernel (hue_saturation_kernel.h) must stay byte-identical to
// the scalar conversions below, which the tests check.
#include "core/image_processor.h"
#include "filters/colour/colour_tables.h"
#include "filters/colour/hue_saturation_kernel.h"

#include <algorithm>

#if defined(ORVEX_HAVE_AVX2_KERNEL)
void HueSaturationRowAvx2(const std::uint8_t* src, std::uint8_t* dst, int width, float hue, float saturation,
                          float lightness);
#endif

namespace {

using RowFunction = void (*)(const std::uint8_t*, std::uint8_t*, int, float, float, float);

void HueSaturationRowBaseline(const std::uint8_t* src, std::uint8_t* dst, int width, float hue, float saturation,
                              float lightness)
{
    CHslKernel<CFloat4, CInt4>::Row(src, dst, width, CHslAdjust{hue, saturation, lightness});
}

RowFunction ChooseRowFunction()
{
#if defined(ORVEX_HAVE_AVX2_KERNEL)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return HueSaturationRowAvx2;
#endif
    return HueSaturationRowBaseline;
}

// One component of the back conversion, already multiplied out to a byte.
std::uint8_t ComponentByte(float p, float q, float t)
{
    if (t < 0.0f) t += 1.0f;
    if (t > 1.0f) t -= 1.0f;
    float value;
    if (t < 0.16666667f)
        value = p + (q - p) * 6.0f * t;
    else if (t < 0.5f)
        value = q;
    else if (t < 0.6666667f)
        value = p + (q - p) * (0.6666667f - t) * 6.0f;
    else
        value = p;
    float v = value * 255.0f;
    // In range the product only needs truncating; outside it (lightness or saturation arguments
    // beyond what the dialog produces) it is held to a channel value rather than wrapped.
    v = v > 0.0f ? v : 0.0f;
    v = v < 255.0f ? v : 255.0f;
    return static_cast<std::uint8_t>(static_cast<int>(v));
}

} // namespace

void CImageProcessor::RgbToHsl(const std::uint8_t* pixel, float& hue, float& saturation, float& lightness)
{
    const float c1 = static_cast<float>(pixel[0]) / 255.0f;
    const float c2 = static_cast<float>(pixel[1]) / 255.0f;
    const float c3 = static_cast<float>(pixel[2]) / 255.0f;
    const float max = std::max(std::max(c1, c2), c3);
    const float min = std::min(std::min(c1, c2), c3);
    lightness = (max + min) * 0.5f;
    const float d = max - min;
    if (d == 0.0f) {
        hue = 0.0f;
        saturation = 0.0f;
        return;
    }
    if (max == c1) {
        hue = 60.0f * (c2 - c3) / d;
        if (c3 > c2) hue += 360.0f;
    } else if (max == c2) {
        hue = 60.0f * (c3 - c1) / d + 120.0f;
    } else {
        hue = 60.0f * (c1 - c2) / d + 240.0f;
    }
    if (lightness == 0.0f)
        saturation = 0.0f;
    else if (lightness <= 0.5f)
        saturation = d / (2.0f * lightness);
    else if (lightness < 1.0f)
        saturation = d / (2.0f - 2.0f * lightness);
    else
        saturation = 1.0f;
}

void CImageProcessor::HslToRgb(float hue, float saturation, float lightness, std::uint8_t* pixel)
{
    // L + S - L*S is evaluated as L + S*(1 - L): the same value, but exactly 1 at full lightness,
    // where the other order can land one rounding step above 1 and leave a channel at 254 instead
    // of white.
    const float q = lightness < 0.5f ? lightness * (1.0f + saturation)
                                     : lightness + saturation * (1.0f - lightness);
    const float p = 2.0f * lightness - q;
    const float h = hue / 360.0f;
    pixel[0] = ComponentByte(p, q, h + 0.33333334f);
    pixel[1] = ComponentByte(p, q, h);
    pixel[2] = ComponentByte(p, q, h - 0.33333334f);
}

void CImageProcessor::HueSaturation(float hue, float saturation, float lightness)
{
    CImage& picture = *image();
    if (!orvex_colour::HasPixels(picture)) return;
    const bool previewing = preview.load() != 0;
    std::uint8_t* const target = OutputBits();
    if (!target) return;

    static const RowFunction row = ChooseRowFunction();
    const auto renderRows = [&](int y0, int y1) {
        const std::uint8_t* const sourceTop = picture.bits();
        const std::ptrdiff_t pitch = picture.pitch();
        ParallelFor(y0, y1, [&](int from, int to) {
            for (int y = from; y < to; ++y)
                row(sourceTop + y * pitch, target + y * pitch, picture.width(), hue, saturation, lightness);
        });
    };
    if (!previewing) {
        renderRows(0, picture.height());
        return;
    }
    // A preview rendering is superseded as soon as a slider moves again; working in bands lets it
    // notice that and stop instead of finishing a picture nobody will see.
    ProgressScope bar(*this, " Hue/Saturation:", picture.height());
    constexpr int kRowsPerBand = 64;
    for (int y0 = 0; y0 < picture.height(); y0 += kRowsPerBand) {
        if (bar.StopRequested()) return;
        const int y1 = std::min(picture.height(), y0 + kRowsPerBand);
        renderRows(y0, y1);
        bar.Set(y1);
    }
}
