// Red-eye reduction's band steps with AVX2 and BMI2; this file alone is compiled for them and only
// called after the processor has been checked for them. The steps are the plain kernel's, compiled
// wider, with the mark bits of a chunk gathered by one instruction.
#include "filters/effects/red_eye_reduction_kernel.h"

#include <immintrin.h>

#include <cstdint>

namespace orvex_red_eye {
namespace {

void DetectAvx2(const std::int16_t* columns, int width, std::uint64_t* marks)
{
    const CShape shape(width);
    for (int c = 0; c < shape.chunks; ++c) {
        alignas(16) std::uint8_t flags[3 * kChunk];
        ChunkFlags(columns, c, flags);
        const std::uint64_t bits = _pext_u64(FlagBits(flags), RedPositions(2, 21)) |
                                   _pext_u64(FlagBits(flags + kChunk), RedPositions(1, 21)) << 21 |
                                   _pext_u64(FlagBits(flags + 2 * kChunk), RedPositions(0, 22)) << 42;
        marks[c] = bits & DetectableBits(c, width);
    }
}

} // namespace

void SlideInAvx2(const std::uint8_t* row, const std::uint8_t*, std::uint8_t* slot, std::int16_t* columns, int width)
{
    SlideInBody(row, slot, columns, width, false);
}

void StepAvx2(const std::uint8_t* row, const std::uint8_t*, std::uint8_t* slot, std::int16_t* columns, int width,
              std::uint64_t* marks)
{
    SlideInBody(row, slot, columns, width, true);
    DetectAvx2(columns, width, marks);
}

} // namespace orvex_red_eye
