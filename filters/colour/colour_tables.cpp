#include "filters/colour/colour_tables.h"

#include <algorithm>
#include <cstring>

#if defined(ORVEX_HAVE_AVX512_TABLES)
void MapRowTableAvx512(const std::uint8_t* src, std::uint8_t* dst, int bytes, const std::uint8_t* table);
void MapRowChannelTablesAvx512(const std::uint8_t* src, std::uint8_t* dst, int width, const std::uint8_t* blue,
                               const std::uint8_t* green, const std::uint8_t* red);
#endif

namespace orvex_colour {

namespace {

void MapRowTable(const std::uint8_t* src, std::uint8_t* dst, int bytes, const std::uint8_t* table)
{
    // A local copy of the table cannot alias the row being written, which lets the compiler keep
    // several lookups in flight instead of reloading after every store.
    std::uint8_t t[256];
    std::memcpy(t, table, sizeof t);
    int i = 0;
    for (; i + 8 <= bytes; i += 8) {
        const std::uint8_t v0 = t[src[i]], v1 = t[src[i + 1]], v2 = t[src[i + 2]], v3 = t[src[i + 3]];
        const std::uint8_t v4 = t[src[i + 4]], v5 = t[src[i + 5]], v6 = t[src[i + 6]], v7 = t[src[i + 7]];
        dst[i] = v0, dst[i + 1] = v1, dst[i + 2] = v2, dst[i + 3] = v3;
        dst[i + 4] = v4, dst[i + 5] = v5, dst[i + 6] = v6, dst[i + 7] = v7;
    }
    for (; i < bytes; ++i) dst[i] = t[src[i]];
}

void MapRowChannelTables(const std::uint8_t* src, std::uint8_t* dst, int width, const std::uint8_t* blue,
                         const std::uint8_t* green, const std::uint8_t* red)
{
    std::uint8_t b[256], g[256], r[256];
    std::memcpy(b, blue, sizeof b);
    std::memcpy(g, green, sizeof g);
    std::memcpy(r, red, sizeof r);
    int x = 0;
    for (; x + 4 <= width; x += 4, src += 12, dst += 12) {
        const std::uint8_t v0 = b[src[0]], v1 = g[src[1]], v2 = r[src[2]];
        const std::uint8_t v3 = b[src[3]], v4 = g[src[4]], v5 = r[src[5]];
        const std::uint8_t v6 = b[src[6]], v7 = g[src[7]], v8 = r[src[8]];
        const std::uint8_t v9 = b[src[9]], v10 = g[src[10]], v11 = r[src[11]];
        dst[0] = v0, dst[1] = v1, dst[2] = v2, dst[3] = v3, dst[4] = v4, dst[5] = v5;
        dst[6] = v6, dst[7] = v7, dst[8] = v8, dst[9] = v9, dst[10] = v10, dst[11] = v11;
    }
    for (; x < width; ++x, src += 3, dst += 3) {
        const std::uint8_t v0 = b[src[0]], v1 = g[src[1]], v2 = r[src[2]];
        dst[0] = v0, dst[1] = v1, dst[2] = v2;
    }
}

const CTableKernels* DetectWideKernels()
{
#if defined(ORVEX_HAVE_AVX512_TABLES)
    static const CTableKernels wide = {MapRowTableAvx512, MapRowChannelTablesAvx512};
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi")) return &wide;
#endif
    return nullptr;
}

const CTableKernels& Kernels()
{
    static const CTableKernels& chosen = WideTableKernels() ? *WideTableKernels() : PlainTableKernels();
    return chosen;
}

} // namespace

const CTableKernels& PlainTableKernels()
{
    static const CTableKernels plain = {MapRowTable, MapRowChannelTables};
    return plain;
}

const CTableKernels* WideTableKernels()
{
    static const CTableKernels* const wide = DetectWideKernels();
    return wide;
}

void ApplyTable(const CImage& picture, std::uint8_t* target, const std::uint8_t* table)
{
    const auto row = Kernels().table;
    ForEachRow(picture, target, [row, table](const std::uint8_t* src, std::uint8_t* dst, int width) {
        row(src, dst, 3 * width, table);
    });
}

void ApplyChannelTables(const CImage& picture, std::uint8_t* target, const std::uint8_t* blue,
                        const std::uint8_t* green, const std::uint8_t* red)
{
    const auto row = Kernels().channels;
    ForEachRow(picture, target, [=](const std::uint8_t* src, std::uint8_t* dst, int width) {
        row(src, dst, width, blue, green, red);
    });
}

void CopyPixels(const CImage& picture, std::uint8_t* target)
{
    if (target == picture.bits()) return;
    // Rows lie bottom-up, so the block starts at the last row of both images.
    const std::ptrdiff_t lastRow = static_cast<std::ptrdiff_t>(picture.height() - 1) * picture.pitch();
    ParallelCopy(target + lastRow, picture.bits() + lastRow, picture.bufferBytes());
}

void AddRowChannelSums(const std::uint8_t* row, std::int64_t width, long long (&sums)[3])
{
    // 48 byte columns (a whole number of pixels and of vector widths, so the loop vectorises);
    // column j belongs to channel j mod 3. A 32-bit column total is safe for 2^24 rows of 48 bytes
    // (255 * 2^24 < 2^32): the columns are emptied into the 64-bit sums after every such stretch.
    constexpr std::int64_t kStretch = std::int64_t(48) << 24;
    const std::int64_t bytes = 3 * width;
    std::int64_t i = 0;
    while (i < bytes) {
        std::uint32_t columns[48] = {};
        const std::int64_t whole = i + std::min(kStretch, (bytes - i) / 48 * 48);
        for (; i < whole; i += 48)
            for (int j = 0; j < 48; ++j) columns[j] += row[i + j];
        if (bytes - i < 48)
            for (int j = 0; i < bytes; ++i, ++j) columns[j] += row[i];
        for (int j = 0; j < 48; ++j) sums[j % 3] += columns[j];
    }
}

} // namespace orvex_colour
