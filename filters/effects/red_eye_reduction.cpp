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

// A marked pixel qualifies when sG * 2.5 < sR, sB * 2.5 < sR and sR > 128. The sums are integers,
// so sG * 2.5 < sR is exactly 5 sG < 2 sR.
inline bool Marked(int sB, int sG, int sR)
{
    return 5 * sG < 2 * sR && 5 * sB < 2 * sR && sR > 128;
}

void CorrectRow(std::uint8_t* row, const std::uint8_t* marks, int width)
{
    for (int x = kReach; x < width - kReach; ++x)
        if (marks[x]) row[3 * x + 2] = static_cast<std::uint8_t>((row[3 * x + 1] + row[3 * x]) / 2);
}

void RunBand(CImage& picture, const CBand& band, std::vector<int>& columns, std::vector<std::uint8_t>& marks)
{
    const int width = picture.width();
    const int height = picture.height();
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    const auto row = [&](int y) -> const std::uint8_t* {
        if (y >= band.first && y < band.end) return picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch();
        const int slot = y < band.first ? y - (band.first - kReach) : kReach + (y - band.end);
        return band.outside.data() + rowBytes * static_cast<std::size_t>(slot);
    };
    const auto writable = [&](int y) { return picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch(); };
    const auto marksOf = [&](int y) { return marks.data() + static_cast<std::size_t>(y % 3) * static_cast<std::size_t>(width); };

    const int firstDetected = std::max(band.first, kReach);
    const int endDetected = std::min(band.end, height - kReach);
    if (firstDetected >= endDetected) return;

    // Column sums of the five rows around the current one, per byte (channel = byte mod 3).
    std::fill(columns.begin(), columns.end(), 0);
    for (int y = firstDetected - kReach; y <= firstDetected + kReach; ++y) {
        const std::uint8_t* r = row(y);
        for (std::size_t i = 0; i < rowBytes; ++i) columns[i] += r[i];
    }

    for (int y = firstDetected; y < endDetected; ++y) {
        std::uint8_t* m = marksOf(y);
        int sB = 0, sG = 0, sR = 0;
        for (int x = 0; x < 2 * kReach; ++x) {
            sB += columns[3 * x];
            sG += columns[3 * x + 1];
            sR += columns[3 * x + 2];
        }
        for (int x = kReach; x < width - kReach; ++x) {
            const int in = 3 * (x + kReach);
            sB += columns[in];
            sG += columns[in + 1];
            sR += columns[in + 2];
            m[x] = Marked(sB, sG, sR) ? 1 : 0;
            const int out = 3 * (x - kReach);
            sB -= columns[out];
            sG -= columns[out + 1];
            sR -= columns[out + 2];
        }
        // Move the window down a row while row y - 2 is still unchanged, then correct it: no later
        // detection reads it.
        if (y + 1 < endDetected) {
            const std::uint8_t* leaving = row(y - kReach);
            const std::uint8_t* entering = row(y + kReach + 1);
            for (std::size_t i = 0; i < rowBytes; ++i) columns[i] += entering[i] - leaving[i];
        }
        if (y - kReach >= firstDetected) CorrectRow(writable(y - kReach), marksOf(y - kReach), width);
    }
    for (int y = std::max(firstDetected, endDetected - kReach); y < endDetected; ++y)
        CorrectRow(writable(y), marksOf(y), width);
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
    std::vector<std::vector<int>> columns;
    std::vector<std::vector<std::uint8_t>> marks;
    try {
        bands.resize(static_cast<std::size_t>(bandCount));
        for (int b = 0; b < bandCount; ++b) {
            CBand& band = bands[static_cast<std::size_t>(b)];
            band.first = static_cast<int>(static_cast<long long>(height) * b / bandCount);
            band.end = static_cast<int>(static_cast<long long>(height) * (b + 1) / bandCount);
            band.outside.assign(rowBytes * 2 * kReach, 0);
        }
        columns.assign(static_cast<std::size_t>(parts), std::vector<int>(rowBytes));
        marks.assign(static_cast<std::size_t>(parts), std::vector<std::uint8_t>(static_cast<std::size_t>(width) * 3));
    } catch (const std::bad_alloc&) {
        ReportFailure();
        return;
    }

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
                RunBand(picture, bands[static_cast<std::size_t>(run * parts + part)], columns[static_cast<std::size_t>(part)],
                        marks[static_cast<std::size_t>(part)]);
        });
        bar.Set(static_cast<int>(static_cast<long long>(width - 4) * (run + 1) / runs));
    }
}
