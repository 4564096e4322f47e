// Red-eye reduction: pixels whose 5 x 5 neighbourhood is strongly red lose their red glare.
//
// Marks are decided on the unchanged picture and applied afterwards. Rows are shared out in bands;
// within a band the correction of a row trails its detection by two rows, the last moment its
// original bytes are still needed, and the two rows on either side of a band that belong to a
// neighbour are read from copies taken before the bands start.
#include "core/image_processor.h"
#include "core/parallel.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr int kReach = 2; // the window runs from -2 to +2 around the pixel

struct CBand
{
    int first = 0; // rows [first, end) of the picture
    int end = 0;
    // Copies of rows first - 2, first - 1, end, end + 1 as they were before any band started
    // (those inside the picture).
    std::vector<std::uint8_t> outside;
};

// Per-row work on byte positions i = 3x + channel, so every loop runs over contiguous memory and
// vectorises. Sums of 5 x 5 bytes reach 6375, and 5 times that still fits 16 bits.
//
// columns[i]: sum of byte i over the five rows of the window.
__attribute__((target_clones("avx2", "default"))) void StartColumns(const std::uint8_t* const* rows,
                                                                    std::int16_t* __restrict columns, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        columns[i] = static_cast<std::int16_t>(rows[0][i] + rows[1][i] + rows[2][i] + rows[3][i] + rows[4][i]);
}

__attribute__((target_clones("avx2", "default"))) void SlideColumns(const std::uint8_t* __restrict entering,
                                                                    const std::uint8_t* __restrict leaving,
                                                                    std::int16_t* __restrict columns, int bytes)
{
    for (int i = 0; i < bytes; ++i) columns[i] = static_cast<std::int16_t>(columns[i] + entering[i] - leaving[i]);
}

// windows[i]: the sum of byte i's channel over the 5 x 5 window around its pixel (i from 6 to
// 3W - 7, that is pixels 2 .. W - 3).
__attribute__((target_clones("avx2", "default"))) void WindowSums(const std::int16_t* __restrict columns,
                                                                  std::int16_t* __restrict windows, int bytes)
{
    for (int i = 6; i < bytes - 6; ++i)
        windows[i] = static_cast<std::int16_t>(columns[i - 6] + columns[i - 3] + columns[i] + columns[i + 3] + columns[i + 6]);
}

// marks[i] for i = 3x + 2 (the red byte of pixel x, 2 <= x < W - 2) tells whether pixel x is marked:
// with window sums sB, sG, sR, sG * 2.5 < sR and sB * 2.5 < sR (exactly 5 sG < 2 sR for integers)
// and sR > 128. Other positions get 0 through `redOnly`. All in 16 bits: 5 * 6375 fits.
__attribute__((target_clones("avx2", "default"))) void MarkRow(const std::int16_t* __restrict windows,
                                                               const std::uint8_t* __restrict redOnly,
                                                               std::uint8_t* __restrict marks, int bytes)
{
    for (int i = 8; i < bytes - 6; ++i) {
        const std::int16_t twiceRed = static_cast<std::int16_t>(2 * windows[i]);
        const std::int16_t fiveGreen = static_cast<std::int16_t>(5 * windows[i - 1]);
        const std::int16_t fiveBlue = static_cast<std::int16_t>(5 * windows[i - 2]);
        marks[i] = static_cast<std::uint8_t>((fiveGreen < twiceRed) & (fiveBlue < twiceRed) & (windows[i] > 128) & redOnly[i]);
    }
}

void CorrectRow(std::uint8_t* row, const std::uint8_t* marks, int bytes)
{
    // Marks are rare in most pictures: skip them eight at a time.
    for (int i = 8; i < bytes - 6; ++i) {
        if (i + 8 <= bytes - 6) {
            std::uint64_t word;
            std::memcpy(&word, marks + i, sizeof word);
            if (word == 0) {
                i += 7;
                continue;
            }
        }
        if (marks[i]) row[i] = static_cast<std::uint8_t>((row[i - 1] + row[i - 2]) / 2);
    }
}

struct CRowBuffers
{
    std::vector<std::int16_t> columns;
    std::vector<std::int16_t> windows;
    std::vector<std::uint8_t> marks; // three rows, by row number mod 3
};

void RunBand(CImage& picture, const CBand& band, const std::vector<std::uint8_t>& redOnly, CRowBuffers& buffers)
{
    const int height = picture.height();
    const int bytes = picture.width() * 3;
    const std::size_t rowBytes = static_cast<std::size_t>(bytes);
    const auto row = [&](int y) -> const std::uint8_t* {
        if (y >= band.first && y < band.end) return picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch();
        const int slot = y < band.first ? y - (band.first - kReach) : kReach + (y - band.end);
        return band.outside.data() + rowBytes * static_cast<std::size_t>(slot);
    };
    const auto writable = [&](int y) { return picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch(); };
    const auto marksOf = [&](int y) { return buffers.marks.data() + static_cast<std::size_t>(y % 3) * rowBytes; };

    const int firstDetected = std::max(band.first, kReach);
    const int endDetected = std::min(band.end, height - kReach);
    if (firstDetected >= endDetected) return;

    const std::uint8_t* window[5];
    for (int k = 0; k < 5; ++k) window[k] = row(firstDetected - kReach + k);
    StartColumns(window, buffers.columns.data(), bytes);
    for (int y = firstDetected; y < endDetected; ++y) {
        WindowSums(buffers.columns.data(), buffers.windows.data(), bytes);
        MarkRow(buffers.windows.data(), redOnly.data(), marksOf(y), bytes);
        // Move the window down a row while row y - 2 is still unchanged, then correct it: no later
        // detection reads it.
        if (y + 1 < endDetected) SlideColumns(row(y + kReach + 1), row(y - kReach), buffers.columns.data(), bytes);
        if (y - kReach >= firstDetected) CorrectRow(writable(y - kReach), marksOf(y - kReach), bytes);
    }
    for (int y = std::max(firstDetected, endDetected - kReach); y < endDetected; ++y)
        CorrectRow(writable(y), marksOf(y), bytes);
}

} // namespace

void CImageProcessor::RedEyeReduction()
{
    CImage& picture = *image();
    if (picture.IsNull()) return;
    const int width = picture.width();
    const int height = picture.height();
    ProgressScope bar(*this, " Red eye reduction:", width - 4);
    if (width < 2 * kReach + 1 || height < 2 * kReach + 1) return;

    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    // Bands in runs of one per core, enough runs for the bar to move.
    const int parts = ParallelThreadCount();
    const int runs = std::clamp(height / (64 * parts), 1, 16);
    const int bandCount = parts * runs;
    std::vector<CBand> bands;
    std::vector<CRowBuffers> buffers;
    std::vector<std::uint8_t> redOnly;
    try {
        bands.resize(static_cast<std::size_t>(bandCount));
        for (int b = 0; b < bandCount; ++b) {
            CBand& band = bands[static_cast<std::size_t>(b)];
            band.first = static_cast<int>(static_cast<long long>(height) * b / bandCount);
            band.end = static_cast<int>(static_cast<long long>(height) * (b + 1) / bandCount);
            band.outside.assign(rowBytes * 2 * kReach, 0);
        }
        buffers.resize(static_cast<std::size_t>(parts));
        for (CRowBuffers& b : buffers) {
            b.columns.assign(rowBytes, 0);
            b.windows.assign(rowBytes, 0);
            b.marks.assign(rowBytes * 3, 0);
        }
        redOnly.assign(rowBytes, 0);
    } catch (const std::bad_alloc&) {
        ReportFailure();
        return;
    }
    for (std::size_t i = 2; i < rowBytes; i += 3) redOnly[i] = 1;

    // Every band's neighbouring rows are copied before any band runs, so no detection sees a
    // correction made by another band.
    for (CBand& band : bands) {
        const int rows[2 * kReach] = {band.first - 2, band.first - 1, band.end, band.end + 1};
        for (int i = 0; i < 2 * kReach; ++i)
            if (rows[i] >= 0 && rows[i] < height)
                std::memcpy(band.outside.data() + rowBytes * static_cast<std::size_t>(i),
                            picture.bits() + static_cast<std::ptrdiff_t>(rows[i]) * picture.pitch(), rowBytes);
    }
    for (int run = 0; run < runs; ++run) {
        ParallelFor(0, parts, [&](int p0, int p1) {
            for (int part = p0; part < p1; ++part)
                RunBand(picture, bands[static_cast<std::size_t>(run * parts + part)], redOnly,
                        buffers[static_cast<std::size_t>(part)]);
        });
        bar.Set(static_cast<int>(static_cast<long long>(width - 4) * (run + 1) / runs));
    }
}
