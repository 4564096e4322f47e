#pragma once

#include "core/image.h"

#include <cstddef>

namespace orvex_resources {
// resources/signature.bmp as the build embeds it.
extern const unsigned char kSignatureBmp[];
extern const std::size_t kSignatureBmpSize;
} // namespace orvex_resources

namespace orvex_effects {

inline constexpr int kSignatureWidth = 80;
inline constexpr int kSignatureHeight = 27;

// Decodes an uncompressed 24-bit BMP (bottom-up or top-down rows) into `picture`. False, with the
// picture left empty, for anything else or a file cut short.
bool DecodeBmp24(const unsigned char* data, std::size_t size, CImage& picture);

} // namespace orvex_effects
