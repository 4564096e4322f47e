// Obtain Grid blackens every second row; Sign stamps the signature into the bottom-right corner.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/effects/signature_resource.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace orvex_effects {
namespace {

std::uint32_t Read32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Read16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

} // namespace

bool DecodeBmp24(const unsigned char* data, std::size_t size, CImage& picture)
{
    picture.Destroy();
    constexpr std::size_t kFileHeader = 14;
    if (!data || size < kFileHeader + 40 || data[0] != 'B' || data[1] != 'M') return false;
    const unsigned char* info = data + kFileHeader;
    const std::uint32_t infoSize = Read32(info);
    const std::int32_t width = static_cast<std::int32_t>(Read32(info + 4));
    const std::int32_t rawHeight = static_cast<std::int32_t>(Read32(info + 8));
    const std::uint32_t offset = Read32(data + 10);
    if (infoSize < 40 || Read16(info + 12) != 1 || Read16(info + 14) != 24 || Read32(info + 16) != 0) return false;
    // Sizes are checked before they are negated or multiplied.
    if (width < 1 || width > 65535 || rawHeight == 0 || rawHeight < -65535 || rawHeight > 65535) return false;
    const bool bottomUp = rawHeight > 0;
    const int height = bottomUp ? rawHeight : -rawHeight;
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~static_cast<std::size_t>(3);
    if (offset < kFileHeader + infoSize || offset > size || (size - offset) / stride < static_cast<std::size_t>(height))
        return false;
    if (!picture.Create(width, height, 24)) return false;
    for (int y = 0; y < height; ++y) {
        const int fileRow = bottomUp ? height - 1 - y : y;
        std::memcpy(picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch(),
                    data + offset + stride * static_cast<std::size_t>(fileRow), static_cast<std::size_t>(width) * 3);
    }
    return true;
}

} // namespace orvex_effects

void CImageProcessor::ObtainGrid()
{
    CImage& picture = *image();
    if (picture.IsNull()) return;
    const std::size_t rowBytes = static_cast<std::size_t>(picture.width()) * 3;
    const int evenRows = (picture.height() + 1) / 2;
    ParallelFor(0, evenRows, [&](int r0, int r1) {
        for (int r = r0; r < r1; ++r)
            std::memset(picture.bits() + static_cast<std::ptrdiff_t>(2 * r) * picture.pitch(), 0, rowBytes);
    });
}

int CImageProcessor::Sign()
{
    CImage& picture = *image();
    // The stamp is read afresh on every call, as the program's own resource.
    CImage stamp;
    if (!orvex_effects::DecodeBmp24(orvex_resources::kSignatureBmp, orvex_resources::kSignatureBmpSize, stamp)) {
        // Either the resource is damaged or its memory could not be had; both are a failed stamp.
        return -1;
    }
    if (picture.IsNull() || picture.width() < stamp.width() || picture.height() < stamp.height()) return -1;

    const int w = stamp.width();
    const int h = stamp.height();
    const int left = picture.width() - w;
    const int top = picture.height() - h;
    const auto target = [&](int r) {
        return picture.bits() + static_cast<std::ptrdiff_t>(top + r) * picture.pitch() + 3 * static_cast<std::ptrdiff_t>(left);
    };

    long long total = 0;
    for (int r = 0; r < h; ++r)
        for (int i = 0; i < 3 * w; ++i) total += target(r)[i];
    const double mean = static_cast<double>(total) / (static_cast<double>(w) * h * 3);
    const bool light = mean >= 127.0;

    for (int r = 0; r < h; ++r) {
        const std::uint8_t* s = stamp.bits() + static_cast<std::ptrdiff_t>(r) * stamp.pitch();
        std::uint8_t* p = target(r);
        for (int i = 0; i < 3 * w; ++i) {
            const int half = s[i] / 2;
            p[i] = static_cast<std::uint8_t>(light ? std::max(p[i] - half, 0) : std::min(p[i] + half, 255));
        }
    }
    return 0;
}
