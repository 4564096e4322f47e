// Black and white: every pixel becomes the grey of a weighted mix of its channels.
#include "core/image_processor.h"
#include "filters/colour/colour_tables.h"

#include <cstdint>

void CImageProcessor::BlackAndWhite(float reds, float greens, float blues)
{
    CImage& picture = *image();
    if (!orvex_colour::HasPixels(picture)) return;
    std::uint8_t* const target = OutputBits();
    if (!target) return;
    // The products are tabulated; each entry is the very float product the per-pixel formula would
    // form, so only the additions remain per pixel.
    float redProduct[256], greenProduct[256], blueProduct[256];
    for (int v = 0; v < 256; ++v) {
        redProduct[v] = static_cast<float>(v) * reds;
        greenProduct[v] = static_cast<float>(v) * greens;
        blueProduct[v] = static_cast<float>(v) * blues;
    }
    orvex_colour::ForEachRow(picture, target, [&](const std::uint8_t* src, std::uint8_t* dst, int width) {
        for (int x = 0; x < width; ++x, src += 3, dst += 3) {
            const float sum = greenProduct[src[1]] + blueProduct[src[0]] + redProduct[src[2]];
            // Truncation toward zero, then the channel limits; a negative sum (or a NaN from
            // absurd weights) gives black.
            const std::uint8_t grey =
                sum > 0.0f ? (sum < 255.0f ? static_cast<std::uint8_t>(static_cast<int>(sum)) : 255) : 0;
            dst[0] = grey;
            dst[1] = grey;
            dst[2] = grey;
        }
    });
}

void CImageProcessor::ShowOriginal()
{
    if (!preview.load()) return;
    CImage& picture = *image();
    if (!orvex_colour::HasPixels(picture)) return;
    std::uint8_t* const target = OutputBits();
    if (!target) return;
    orvex_colour::CopyPixels(picture, target);
}
