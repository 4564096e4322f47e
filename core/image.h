#pragma once

#include <cstddef>
#include <cstdint>

// The raster picture every part of Orvex works on: 24-bit pixels stored blue, green, red, rows
// padded to 4 bytes and laid out bottom-up. `bits()` points at the first byte of the top picture
// row and `pitch()` is the (negative) step from one row to the row below it, so pixel (x, y) is at
// bits() + y * pitch() + 3 * x. Code must always go through bits/pitch and never assume a positive
// row step.
//
// The image owns its pixel memory. Copies are explicit (CopyFrom) because a picture can weigh
// hundreds of megabytes; moves are cheap.
class CImage
{
public:
    // Largest picture the program accepts, in pixels (about 23000 x 23000). A file that claims more
    // is refused before anything is allocated for it.
    static constexpr std::int64_t kMaxPixels = std::int64_t(1) << 29;

    CImage() = default;
    ~CImage();
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;
    CImage(CImage&& other) noexcept;
    CImage& operator=(CImage&& other) noexcept;

    // Allocates a zero-filled (black) picture. Bit 0 of `flags` sets the has-alpha flag. Returns
    // false and leaves the image empty when a dimension is not positive, the depth is not one the
    // program handles (24 or 32), the size exceeds kMaxPixels or the memory cannot be had. Any
    // bitmap the image held before is released first.
    bool Create(int width, int height, int bitsPerPixel, unsigned flags = 0);
    // The same without the black: the bytes are whatever the memory held, for callers that write
    // every byte of every row, padding included, before anyone reads them.
    bool CreateForOverwrite(int width, int height, int bitsPerPixel);
    // A 24-bit picture whose every channel byte is `level` (0 black, 255 white, a grey between),
    // row padding zero; false as Create.
    bool CreateGrey(int width, int height, std::uint8_t level);
    void Destroy();

    // Makes this image an exact copy of `source` (size, depth, alpha flag and picture bytes). Reuses
    // the existing pixel memory when the layout already matches, so restoring a snapshot of the same
    // size is a single block copy. On allocation failure returns false and leaves this image empty.
    // Copying an empty image empties this one and succeeds.
    bool CopyFrom(const CImage& source);

    // Gives the pixel memory (and its layout) to `other`, leaving this image empty. Used to recycle
    // large buffers without going back to the allocator.
    void SwapWith(CImage& other) noexcept;

    bool IsNull() const { return m_buffer == nullptr; }
    std::uint8_t* bits() { return m_bits; }
    const std::uint8_t* bits() const { return m_bits; }
    int pitch() const { return m_pitch; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    int bitsPerPixel() const { return m_bitsPerPixel; }
    bool hasAlpha() const { return m_hasAlpha; }
    int transparentColor() const { return m_transparentIndex; }
    void SetHasAlpha(bool hasAlpha) { m_hasAlpha = hasAlpha; }
    // The first byte of the pixel buffer (the bottom row), writable.
    std::uint8_t* bufferStart() { return m_buffer; }

    // Bytes of one row including padding, |pitch|.
    std::size_t rowBytes() const { return static_cast<std::size_t>(m_pitch < 0 ? -m_pitch : m_pitch); }
    // Start of the pixel buffer (the bottom row), for drawing code that wants one contiguous block.
    const std::uint8_t* bufferStart() const { return m_buffer; }
    std::size_t bufferBytes() const { return rowBytes() * static_cast<std::size_t>(m_height); }

    // Row stride for bottom-up 4-byte-aligned rows at the given depth; 0 if it overflows.
    static std::int64_t StrideFor(int width, int bitsPerPixel);

private:
    bool Allocate(int width, int height, int bitsPerPixel, unsigned flags, bool zeroed);

    std::uint8_t* m_buffer = nullptr; // owned allocation, bottom row first
    std::uint8_t* m_bits = nullptr;
    int m_width = 0;
    int m_height = 0;
    int m_pitch = 0;
    int m_bitsPerPixel = 0;
    bool m_hasAlpha = false;
    int m_transparentIndex = -1;
};

// Fault injection for tests: after `allocations` more successful pixel allocations, every further
// one fails until the hook is reset with a negative count. Lets tests prove that running out of
// memory never corrupts a picture or the history.
namespace orvex_testing {
void FailImageAllocationsAfter(int allocations);
}

// Gives the freed picture buffers kept for reuse back to the system (once the history has packed
// its states, nothing is about to ask for them again).
void ReleaseFreedPictureMemory();

// Copies `bytes` from `src` to `dst`, splitting large blocks over the available cores.
void ParallelCopy(void* dst, const void* src, std::size_t bytes);
// Sets `bytes` bytes at `dst` to `value`, the same way.
void ParallelFill(void* dst, int value, std::size_t bytes);
