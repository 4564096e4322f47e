// The byte-table row kernels: the wide ones (when this processor has them) and the plain ones give
// what a per-byte lookup gives, for every row length around the vector sizes, in place or not.
#include "filters/colour/colour_tables.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using orvex_colour::CTableKernels;

namespace {

std::vector<std::uint8_t> Bytes(std::size_t count, std::uint32_t seed)
{
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

void CheckKernels(const CTableKernels& kernels)
{
    const auto tables = Bytes(3 * 256, 11);
    const std::uint8_t* blue = tables.data();
    const std::uint8_t* green = blue + 256;
    const std::uint8_t* red = green + 256;
    for (int width = 1; width <= 200; ++width) {
        SCOPED_TRACE(width);
        const auto source = Bytes(static_cast<std::size_t>(3 * width), static_cast<std::uint32_t>(width));
        // Guard bytes after the row must survive.
        std::vector<std::uint8_t> out(source.size() + 64, 0xA5);
        kernels.table(source.data(), out.data(), 3 * width, red);
        for (std::size_t i = 0; i < source.size(); ++i) ASSERT_EQ(out[i], red[source[i]]) << i;
        for (std::size_t i = source.size(); i < out.size(); ++i) ASSERT_EQ(out[i], 0xA5);

        std::vector<std::uint8_t> inPlace = source;
        inPlace.resize(source.size() + 64, 0x5A);
        kernels.channels(inPlace.data(), inPlace.data(), width, blue, green, red);
        for (std::size_t i = 0; i < source.size(); ++i) {
            const std::uint8_t* table = i % 3 == 0 ? blue : i % 3 == 1 ? green : red;
            ASSERT_EQ(inPlace[i], table[source[i]]) << i;
        }
        for (std::size_t i = source.size(); i < inPlace.size(); ++i) ASSERT_EQ(inPlace[i], 0x5A);
    }
}

} // namespace

TEST(ColourTables, PlainKernelsLookUpEveryByte)
{
    CheckKernels(orvex_colour::PlainTableKernels());
}

TEST(ColourTables, WideKernelsLookUpEveryByte)
{
    const CTableKernels* wide = orvex_colour::WideTableKernels();
    if (!wide) GTEST_SKIP() << "no wide table kernels on this processor";
    CheckKernels(*wide);
}
