#include "core/huge_pages.h"
#include "core/image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

using orvex_memory::CHugePageAdvice;

namespace {

struct CSettingsOverride
{
    CSettingsOverride(CHugePageAdvice advice, std::size_t freeBlocks)
    {
        orvex_testing::UseHugePageSettings(true, advice, freeBlocks);
    }
    ~CSettingsOverride() { orvex_testing::UseHugePageSettings(false); }
};

// What the kernel has: marked, a fault compacts memory at once under these `defrag` words.
TEST(HugePages, AdviceStallsOnlyWhereTheKernelWould)
{
    const char* madviseOnly = "always [madvise] never\n";
    EXPECT_EQ(orvex_memory::AdviceFor(madviseOnly, "always defer defer+madvise [madvise] never\n"),
              CHugePageAdvice::FreeBlocksOnly);
    EXPECT_EQ(orvex_memory::AdviceFor(madviseOnly, "always defer [defer+madvise] madvise never"),
              CHugePageAdvice::FreeBlocksOnly);
    EXPECT_EQ(orvex_memory::AdviceFor(madviseOnly, "[always] defer defer+madvise madvise never"),
              CHugePageAdvice::FreeBlocksOnly);
    EXPECT_EQ(orvex_memory::AdviceFor(madviseOnly, "always [defer] defer+madvise madvise never"),
              CHugePageAdvice::Whole);
    EXPECT_EQ(orvex_memory::AdviceFor(madviseOnly, "always defer defer+madvise madvise [never]"),
              CHugePageAdvice::Whole);
    // Unmarked memory already gets huge pages without a stall, or none can be had.
    EXPECT_EQ(orvex_memory::AdviceFor("[always] madvise never", "always defer defer+madvise [madvise] never"),
              CHugePageAdvice::None);
    EXPECT_EQ(orvex_memory::AdviceFor("always madvise [never]", "[always] defer defer+madvise madvise never"),
              CHugePageAdvice::None);
    // No such files (no huge pages in this kernel): marking is harmless.
    EXPECT_EQ(orvex_memory::AdviceFor("", ""), CHugePageAdvice::Whole);
}

TEST(HugePages, FreeBlocksCountOrdersFromTwoMegabytesUpAndSkipTheDmaZone)
{
    const char* buddyinfo = "Node 0, zone      DMA      0      0      0      0      0      0      0      0      1      1      3 \n"
                            "Node 0, zone    DMA32      5      4      4      2      2      3      3      1      1      2    753 \n"
                            "Node 0, zone   Normal     40      2    534   1559    964    393    227     89     46      4     52 \n";
    EXPECT_EQ(orvex_memory::FreeHugeBlocks(buddyinfo), (2 + 2 * 753) + (4 + 2 * 52));
    EXPECT_EQ(orvex_memory::FreeHugeBlocks("Node 0, zone   Normal  9 9 9 9 9 9 9 9 9 0 0\n"), 0u);
    EXPECT_EQ(orvex_memory::FreeHugeBlocks(""), 0u);
}

TEST(HugePages, MarksNoMoreThanTheFreeBlocksLeftAfterTheReserveAndLiveMappings)
{
    EXPECT_EQ(orvex_memory::PagesToMark(CHugePageAdvice::Whole, 300, 0, 1000), 300u);
    EXPECT_EQ(orvex_memory::PagesToMark(CHugePageAdvice::None, 300, 5000, 0), 0u);
    EXPECT_EQ(orvex_memory::PagesToMark(CHugePageAdvice::FreeBlocksOnly, 300, 5000, 0), 300u);
    EXPECT_EQ(orvex_memory::PagesToMark(CHugePageAdvice::FreeBlocksOnly, 300, 264, 100), 100u);
    EXPECT_EQ(orvex_memory::PagesToMark(CHugePageAdvice::FreeBlocksOnly, 300, 50, 0), 0u);
    EXPECT_EQ(orvex_memory::PagesToMark(CHugePageAdvice::FreeBlocksOnly, 300, 100, 200), 0u);
}

// Two buffers made before either is touched must not count the same free blocks; giving one back
// (whole or its tail) returns its marks.
TEST(HugePages, MappingsShareTheFreeBlocksAndReturnTheirMarks)
{
    const std::size_t before = orvex_memory::MarkedPages(); // pictures the pool keeps from earlier tests
    const CSettingsOverride settings(CHugePageAdvice::FreeBlocksOnly, 64 + before + 10);
    void* first = orvex_memory::MapHugeAligned(6 * orvex_memory::kHugePage);
    void* second = orvex_memory::MapHugeAligned(6 * orvex_memory::kHugePage + 1);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first) % orvex_memory::kHugePage, 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(second) % orvex_memory::kHugePage, 0u);
    EXPECT_EQ(orvex_memory::MarkedPages(), before + 6 + 4);

    // The whole rounded length is usable and arrives zero-filled.
    auto* bytes = static_cast<std::uint8_t*>(second);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[7 * orvex_memory::kHugePage - 1], 0);
    std::memset(bytes, 0x5a, 7 * orvex_memory::kHugePage);

    orvex_memory::TrimTo(first, 2 * orvex_memory::kHugePage);
    EXPECT_EQ(orvex_memory::MarkedPages(), before + 2 + 4);
    EXPECT_TRUE(orvex_memory::Unmap(first));
    EXPECT_FALSE(orvex_memory::Unmap(first));
    int onStack = 0;
    EXPECT_FALSE(orvex_memory::Unmap(&onStack));
    EXPECT_TRUE(orvex_memory::Unmap(second));
    EXPECT_EQ(orvex_memory::MarkedPages(), before);
}

// Photos recycled through the picture pool are trimmed and freed through the same bookkeeping.
TEST(HugePages, PhotoMemoryKeepsTheBookBalanced)
{
    const CSettingsOverride settings(CHugePageAdvice::Whole, 0);
    {
        CImage big, smaller;
        ASSERT_TRUE(big.Create(3000, 1000, 32));
        big.Destroy();
        ASSERT_TRUE(smaller.Create(2600, 1000, 32)); // the kept mapping, trimmed
        EXPECT_EQ(smaller.bufferStart()[0], 0);
    }
    // Every picture is gone: what stays marked is what the pool keeps, its three newest.
    CImage fill[4];
    for (CImage& image : fill) ASSERT_TRUE(image.Create(3000, 1000, 32));
    for (CImage& image : fill) image.Destroy();
    EXPECT_EQ(orvex_memory::MarkedPages(), 3 * 6u);
}

} // namespace
