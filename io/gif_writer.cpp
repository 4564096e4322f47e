#include "io/gif_writer.h"

#include "core/parallel.h"
#include "io/device_write.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// Buffers the size of the picture (or of a fixed large table) come from malloc, so that a shortage
// of memory is an answer the writer can give ("not enough memory") rather than an exception it
// must not let escape.
template <class T>
class CBuffer
{
public:
    explicit CBuffer(std::size_t count, bool zeroed = false)
        : m_data(static_cast<T*>(zeroed ? std::calloc(count, sizeof(T)) : std::malloc(count * sizeof(T))))
    {
    }
    ~CBuffer() { std::free(m_data); }
    CBuffer(const CBuffer&) = delete;
    CBuffer& operator=(const CBuffer&) = delete;
    explicit operator bool() const { return m_data != nullptr; }
    T* data() const { return m_data; }
    T& operator[](std::size_t i) const { return m_data[i]; }

private:
    T* m_data;
};

const std::uint8_t* Row(const CImage& picture, int y)
{
    return picture.bits() + std::ptrdiff_t(y) * picture.pitch();
}

// Indexes the picture against its own colours when it has at most 256 of them. A small open hash
// of the colours seen so far answers "which index" without a table of all 2^24 colours.
bool ExactPalette(const CImage& picture, std::vector<GifColorType>& colours, GifByteType* indexes)
{
    constexpr std::uint32_t kSlots = 1024; // over four times the most colours kept: short probes
    constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    std::uint32_t keys[kSlots];
    std::uint8_t values[kSlots];
    std::fill(keys, keys + kSlots, kEmpty);
    const int w = picture.width();
    std::uint32_t lastKey = kEmpty;
    std::uint8_t lastIndex = 0;
    for (int y = 0; y < picture.height(); ++y) {
        const std::uint8_t* p = Row(picture, y);
        GifByteType* out = indexes + std::size_t(y) * std::size_t(w);
        for (int x = 0; x < w; ++x, p += 3) {
            const std::uint32_t key = (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
            if (key != lastKey) {
                std::uint32_t slot = (key * 2654435761u) >> 22;
                while (keys[slot] != key && keys[slot] != kEmpty) slot = (slot + 1) & (kSlots - 1);
                if (keys[slot] == kEmpty) {
                    if (colours.size() == 256) return false;
                    keys[slot] = key;
                    values[slot] = static_cast<std::uint8_t>(colours.size());
                    colours.push_back({p[2], p[1], p[0]});
                }
                lastKey = key;
                lastIndex = values[slot];
            }
            out[x] = lastIndex;
        }
    }
    return true;
}

// ---- Palette for richer pictures ------------------------------------------------------------------
//
// Colours are counted in a histogram of 6 bits per channel that keeps the exact sums of the colours
// falling into each cell. Boxes of cells are split 255 times, always the box with the largest
// squared error, along its widest channel, where the two halves' squared errors are smallest; each
// palette entry is the exact mean of its box. A few rounds of k-means over the cells then move the
// entries to the means of the colours nearest to them. Every pixel finally takes its nearest entry
// (ties to the lower index), found among the few entries that can be nearest anywhere in its
// histogram cell.

constexpr int kHistBits = 6;
constexpr int kHistCells = 1 << (3 * kHistBits);

struct CCell
{
    double mean[3];   // red, green, blue
    double weight;    // pixel count
    double sum[3];
    double sumSquares; // over all three channels
};

struct CBox
{
    std::size_t begin, end; // range of cells
    double error;           // squared error about the box's mean
};

double BoxError(const CCell* cells, std::size_t begin, std::size_t end)
{
    double n = 0, s[3] = {}, q = 0;
    for (std::size_t i = begin; i < end; ++i) {
        n += cells[i].weight;
        for (int c = 0; c < 3; ++c) s[c] += cells[i].sum[c];
        q += cells[i].sumSquares;
    }
    return n > 0 ? q - (s[0] * s[0] + s[1] * s[1] + s[2] * s[2]) / n : 0;
}

// Splits the box in two; false when it holds a single cell.
bool SplitBox(CCell* cells, CBox& box, CBox& second)
{
    if (box.end - box.begin < 2) return false;
    // The channel along which the cells' means spread most (weighted variance).
    int channel = 0;
    double best = -1;
    for (int c = 0; c < 3; ++c) {
        double n = 0, s = 0, q = 0;
        for (std::size_t i = box.begin; i < box.end; ++i) {
            n += cells[i].weight;
            s += cells[i].mean[c] * cells[i].weight;
            q += cells[i].mean[c] * cells[i].mean[c] * cells[i].weight;
        }
        const double variance = q - s * s / n;
        if (variance > best) best = variance, channel = c;
    }
    std::sort(cells + box.begin, cells + box.end, [channel](const CCell& a, const CCell& b) {
        return a.mean[channel] < b.mean[channel];
    });
    // The cut that leaves the least squared error in the two halves, from running sums.
    double totalN = 0, totalS[3] = {}, totalQ = 0;
    for (std::size_t i = box.begin; i < box.end; ++i) {
        totalN += cells[i].weight;
        for (int c = 0; c < 3; ++c) totalS[c] += cells[i].sum[c];
        totalQ += cells[i].sumSquares;
    }
    double n = 0, s[3] = {}, q = 0;
    std::size_t cut = box.begin + 1;
    double cutError = -1;
    for (std::size_t i = box.begin; i + 1 < box.end; ++i) {
        n += cells[i].weight;
        for (int c = 0; c < 3; ++c) s[c] += cells[i].sum[c];
        q += cells[i].sumSquares;
        const double rn = totalN - n;
        const double left = q - (s[0] * s[0] + s[1] * s[1] + s[2] * s[2]) / n;
        const double r[3] = {totalS[0] - s[0], totalS[1] - s[1], totalS[2] - s[2]};
        const double right = (totalQ - q) - (r[0] * r[0] + r[1] * r[1] + r[2] * r[2]) / rn;
        if (cutError < 0 || left + right < cutError) cutError = left + right, cut = i + 1;
    }
    second = {cut, box.end, BoxError(cells, cut, box.end)};
    box = {box.begin, cut, BoxError(cells, box.begin, cut)};
    return true;
}

// For every histogram cell that holds colours, the palette entries that can be nearest to some
// colour in it: those whose nearest possible distance is no more than the smallest farthest one.
struct CCandidates
{
    std::vector<std::uint32_t> start; // per cell, into `entries`; one more at the end
    std::vector<std::uint8_t> entries;
};

void BuildCandidates(const std::vector<GifColorType>& palette, const std::uint32_t* counts, CCandidates& out)
{
    constexpr int kSide = 1 << (8 - kHistBits);
    // Each part of the cells collects its lists on its own; they are joined in cell order after.
    const int parts = ParallelThreadCount();
    std::vector<std::vector<std::uint8_t>> partEntries(static_cast<std::size_t>(parts));
    std::vector<std::uint16_t> lengths(kHistCells, 0);
    ParallelFor(0, parts, [&](int p0, int p1) {
        std::vector<int> nearest(palette.size());
        for (int part = p0; part < p1; ++part) {
            std::vector<std::uint8_t>& entries = partEntries[std::size_t(part)];
            const int first = int(std::int64_t(kHistCells) * part / parts);
            const int last = int(std::int64_t(kHistCells) * (part + 1) / parts);
            for (int cell = first; cell < last; ++cell) {
                if (counts[cell] == 0) continue;
                const int lo[3] = {(cell >> (2 * kHistBits)) * kSide, ((cell >> kHistBits) & ((1 << kHistBits) - 1)) * kSide,
                                   (cell & ((1 << kHistBits) - 1)) * kSide};
                int bound = 1 << 30;
                for (std::size_t k = 0; k < palette.size(); ++k) {
                    const int v[3] = {palette[k].Red, palette[k].Green, palette[k].Blue};
                    int dmin = 0, dmax = 0;
                    for (int c = 0; c < 3; ++c) {
                        const int below = lo[c] - v[c], above = v[c] - (lo[c] + kSide - 1);
                        const int d = below > 0 ? below : (above > 0 ? above : 0);
                        dmin += d * d;
                        const int far = std::max(std::abs(v[c] - lo[c]), std::abs(v[c] - (lo[c] + kSide - 1)));
                        dmax += far * far;
                    }
                    nearest[k] = dmin;
                    bound = std::min(bound, dmax);
                }
                const std::size_t before = entries.size();
                for (std::size_t k = 0; k < palette.size(); ++k)
                    if (nearest[k] <= bound) entries.push_back(static_cast<std::uint8_t>(k));
                lengths[std::size_t(cell)] = static_cast<std::uint16_t>(entries.size() - before);
            }
        }
    });
    out.start.assign(std::size_t(kHistCells) + 1, 0);
    for (int cell = 0; cell < kHistCells; ++cell) out.start[std::size_t(cell) + 1] = out.start[std::size_t(cell)] + lengths[std::size_t(cell)];
    out.entries.clear();
    out.entries.reserve(out.start.back());
    for (const auto& entries : partEntries) out.entries.insert(out.entries.end(), entries.begin(), entries.end());
}

bool QuantisedPalette(const CImage& picture, std::vector<GifColorType>& palette, GifByteType* indexes)
{
    const int w = picture.width();
    const int h = picture.height();

    // Histogram with exact sums per cell, one per band of rows (integer sums: the total does not
    // depend on how the rows were split).
    const int bands = ParallelThreadCount();
    std::vector<std::unique_ptr<CBuffer<std::uint32_t>>> bandCounts;
    std::vector<std::unique_ptr<CBuffer<std::uint64_t>>> bandSums; // red, green, blue, squares
    for (int b = 0; b < bands; ++b) {
        bandCounts.push_back(std::make_unique<CBuffer<std::uint32_t>>(kHistCells, true));
        bandSums.push_back(std::make_unique<CBuffer<std::uint64_t>>(std::size_t(kHistCells) * 4, true));
        if (!*bandCounts.back() || !*bandSums.back()) return false;
    }
    constexpr int kShift = 8 - kHistBits;
    ParallelFor(0, bands, [&](int b0, int b1) {
        for (int b = b0; b < b1; ++b) {
            std::uint32_t* const count = bandCounts[std::size_t(b)]->data();
            std::uint64_t* const sum = bandSums[std::size_t(b)]->data();
            for (int y = int(std::int64_t(h) * b / bands); y < int(std::int64_t(h) * (b + 1) / bands); ++y) {
                const std::uint8_t* p = Row(picture, y);
                for (int x = 0; x < w; ++x, p += 3) {
                    const unsigned cell = (unsigned(p[2] >> kShift) << (2 * kHistBits)) |
                                          (unsigned(p[1] >> kShift) << kHistBits) | unsigned(p[0] >> kShift);
                    ++count[cell];
                    std::uint64_t* s = sum + std::size_t(cell) * 4;
                    s[0] += p[2];
                    s[1] += p[1];
                    s[2] += p[0];
                    s[3] += unsigned(p[2]) * p[2] + unsigned(p[1]) * p[1] + unsigned(p[0]) * p[0];
                }
            }
        }
    });
    CBuffer<std::uint32_t>& counts = *bandCounts[0];
    CBuffer<std::uint64_t>& sums = *bandSums[0];
    for (int b = 1; b < bands; ++b)
        for (std::size_t i = 0; i < std::size_t(kHistCells); ++i) {
            counts[i] += (*bandCounts[std::size_t(b)])[i];
            for (std::size_t c = 0; c < 4; ++c) sums[i * 4 + c] += (*bandSums[std::size_t(b)])[i * 4 + c];
        }
    std::vector<CCell> cells;
    for (int i = 0; i < kHistCells; ++i) {
        if (counts[std::size_t(i)] == 0) continue;
        const double n = counts[std::size_t(i)];
        const std::uint64_t* s = &sums[std::size_t(i) * 4];
        CCell cell{};
        cell.weight = n;
        for (int c = 0; c < 3; ++c) {
            cell.sum[c] = double(s[c]);
            cell.mean[c] = double(s[c]) / n;
        }
        cell.sumSquares = double(s[3]);
        cells.push_back(cell);
    }

    // Median cut by squared error.
    std::vector<CBox> boxes{{0, cells.size(), BoxError(cells.data(), 0, cells.size())}};
    while (boxes.size() < 256) {
        std::size_t pick = boxes.size();
        for (std::size_t i = 0; i < boxes.size(); ++i)
            if (boxes[i].end - boxes[i].begin > 1 && (pick == boxes.size() || boxes[i].error > boxes[pick].error)) pick = i;
        if (pick == boxes.size()) break;
        CBox second{};
        if (!SplitBox(cells.data(), boxes[pick], second)) break;
        boxes.push_back(second);
    }
    std::vector<double> centre(boxes.size() * 3);
    for (std::size_t b = 0; b < boxes.size(); ++b) {
        double n = 0, s[3] = {};
        for (std::size_t i = boxes[b].begin; i < boxes[b].end; ++i) {
            n += cells[i].weight;
            for (int c = 0; c < 3; ++c) s[c] += cells[i].sum[c];
        }
        for (int c = 0; c < 3; ++c) centre[b * 3 + std::size_t(c)] = s[c] / n;
    }

    // k-means over the cells, each cell standing for its colours by their mean.
    for (int round = 0; round < 3; ++round) {
        std::vector<double> acc(boxes.size() * 4, 0.0);
        for (const CCell& cell : cells) {
            std::size_t best = 0;
            double bestDistance = 1e30;
            for (std::size_t k = 0; k < boxes.size(); ++k) {
                const double dr = cell.mean[0] - centre[k * 3], dg = cell.mean[1] - centre[k * 3 + 1],
                             db = cell.mean[2] - centre[k * 3 + 2];
                const double d = dr * dr + dg * dg + db * db;
                if (d < bestDistance) bestDistance = d, best = k;
            }
            for (int c = 0; c < 3; ++c) acc[best * 4 + std::size_t(c)] += cell.sum[c];
            acc[best * 4 + 3] += cell.weight;
        }
        for (std::size_t k = 0; k < boxes.size(); ++k)
            if (acc[k * 4 + 3] > 0)
                for (int c = 0; c < 3; ++c) centre[k * 3 + std::size_t(c)] = acc[k * 4 + std::size_t(c)] / acc[k * 4 + 3];
    }
    palette.resize(boxes.size());
    for (std::size_t k = 0; k < boxes.size(); ++k) {
        const auto level = [&](int c) { return static_cast<GifByteType>(std::clamp(centre[k * 3 + std::size_t(c)] + 0.5, 0.0, 255.0)); };
        palette[k] = {level(0), level(1), level(2)};
    }

    // Every pixel to its nearest entry.
    CCandidates candidates;
    BuildCandidates(palette, counts.data(), candidates);
    std::vector<int> entries(palette.size() * 3);
    for (std::size_t k = 0; k < palette.size(); ++k) {
        entries[k * 3] = palette[k].Red;
        entries[k * 3 + 1] = palette[k].Green;
        entries[k * 3 + 2] = palette[k].Blue;
    }
    // Plain pointers: the index stores are char-typed and would otherwise force every container
    // to be re-read after each pixel.
    const std::uint32_t* const start = candidates.start.data();
    const std::uint8_t* const lists = candidates.entries.data();
    const int* const entry = entries.data();
    ParallelFor(0, h, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* p = Row(picture, y);
            GifByteType* const out = indexes + std::size_t(y) * std::size_t(w);
            for (int x = 0; x < w; ++x, p += 3) {
                const unsigned cell = (unsigned(p[2] >> kShift) << (2 * kHistBits)) | (unsigned(p[1] >> kShift) << kHistBits) |
                                      unsigned(p[0] >> kShift);
                const std::uint8_t* k = lists + start[cell];
                const std::uint8_t* const kEnd = lists + start[cell + 1];
                // Distance and index in one key: the smallest key is the nearest entry, the lower
                // index among equals, chosen without a branch to mispredict.
                int best = *k;
                if (kEnd - k > 1) {
                    const int r = p[2], g = p[1], b = p[0];
                    int bestKey = 0x7FFFFFFF;
                    for (; k < kEnd; ++k) {
                        const int* e = entry + 3 * *k;
                        const int d = (e[0] - r) * (e[0] - r) + (e[1] - g) * (e[1] - g) + (e[2] - b) * (e[2] - b);
                        bestKey = std::min(bestKey, (d << 8) | *k);
                    }
                    best = bestKey & 0xFF;
                }
                out[x] = static_cast<GifByteType>(best);
            }
        }
    });
    return true;
}

// ---- File ----------------------------------------------------------------------------------------

// Collects the file's bytes and hands them to the device in large pieces.
class COutput
{
public:
    explicit COutput(QIODevice& device) : m_device(device) { m_bytes.reserve(kChunk + 512); }
    void Put(std::uint8_t byte) { m_bytes.push_back(static_cast<char>(byte)); }
    void Put16(int value)
    {
        Put(static_cast<std::uint8_t>(value & 0xFF));
        Put(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    }
    void Put(const char* bytes, std::size_t count) { m_bytes.insert(m_bytes.end(), bytes, bytes + count); }
    bool FlushIfFull() { return m_bytes.size() < kChunk || Flush(); }
    const QString& error() const { return m_error; }
    bool Flush()
    {
        const bool ok = WriteFully(m_device, m_bytes.data(), qint64(m_bytes.size()), &m_error);
        m_bytes.clear();
        return ok;
    }

private:
    static constexpr std::size_t kChunk = 1 << 16;
    QIODevice& m_device;
    std::vector<char> m_bytes;
    QString m_error;
};

// GIF's variable-length LZW: codes packed least significant bit first into data sub-blocks of at
// most 255 bytes. The code table is an open hash of (prefix code, pixel) keys, emptied with every
// clear code; the code width grows and the table is cleared at the same points as in giflib, so
// the stream is the one that library writes.
class CLzwEncoder
{
public:
    CLzwEncoder(COutput& out, int minCodeSize)
        : m_out(out), m_minCodeSize(minCodeSize), m_clear(1 << minCodeSize), m_end(m_clear + 1)
    {
        Reset();
        Emit(m_clear);
    }

    bool Add(const GifByteType* pixels, std::size_t count)
    {
        std::size_t i = 0;
        if (m_current < 0 && count > 0) m_current = pixels[i++];
        for (; i < count; ++i) {
            const std::uint32_t key = (std::uint32_t(m_current) << 8) | pixels[i];
            std::uint32_t slot = (key * 2654435761u) >> (32 - kHashBits);
            int found = -1;
            while (m_keys[slot] != kEmpty) {
                if (m_keys[slot] == key) {
                    found = m_codes[slot];
                    break;
                }
                slot = (slot + 1) & (kHashSize - 1);
            }
            if (found >= 0) {
                m_current = found;
                continue;
            }
            Emit(m_current);
            m_current = pixels[i];
            if (m_next >= kMaxCode) {
                Emit(m_clear);
                Reset();
            } else {
                m_keys[slot] = key;
                m_codes[slot] = static_cast<std::uint16_t>(m_next++);
            }
            if (!m_out.FlushIfFull()) return false;
        }
        return true;
    }

    bool Finish()
    {
        if (m_current >= 0) Emit(m_current);
        Emit(m_end);
        if (m_bitCount > 0) Byte(static_cast<std::uint8_t>(m_bits));
        if (m_blockLength > 0) EndBlock();
        m_out.Put(0); // no more sub-blocks
        return m_out.Flush();
    }

private:
    static constexpr int kMaxCode = 4095;
    static constexpr int kHashBits = 14;
    static constexpr std::uint32_t kHashSize = 1u << kHashBits;
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;

    void Reset()
    {
        std::fill(std::begin(m_keys), std::end(m_keys), kEmpty);
        m_next = m_end + 1;
        m_width = m_minCodeSize + 1;
    }

    void Emit(int code)
    {
        m_bits |= std::uint64_t(code) << m_bitCount;
        m_bitCount += m_width;
        while (m_bitCount >= 8) {
            Byte(static_cast<std::uint8_t>(m_bits));
            m_bits >>= 8;
            m_bitCount -= 8;
        }
        if (m_next >= (1 << m_width) && m_width < 12) ++m_width;
    }

    void Byte(std::uint8_t byte)
    {
        m_block[m_blockLength++] = static_cast<char>(byte);
        if (m_blockLength == 255) EndBlock();
    }

    void EndBlock()
    {
        m_out.Put(static_cast<std::uint8_t>(m_blockLength));
        m_out.Put(m_block, m_blockLength);
        m_blockLength = 0;
    }

    COutput& m_out;
    const int m_minCodeSize, m_clear, m_end;
    int m_next = 0, m_width = 0, m_current = -1;
    std::uint64_t m_bits = 0;
    int m_bitCount = 0;
    char m_block[255] = {};
    std::size_t m_blockLength = 0;
    std::uint32_t m_keys[kHashSize];
    std::uint16_t m_codes[kHashSize];
};

bool Write(const CImage& picture, QIODevice& device, QString* reason)
{
    const auto fail = [&](const QString& text) {
        if (reason) *reason = text;
        return false;
    };
    const QString noMemory = QStringLiteral("not enough memory");
    if (picture.IsNull() || picture.bitsPerPixel() != 24) return fail(QStringLiteral("no picture to write"));
    if (picture.width() > 65535 || picture.height() > 65535)
        return fail(QStringLiteral("GIF pictures are limited to 65535 x 65535 pixels"));

    std::vector<GifColorType> colours;
    CBuffer<GifByteType> indexes(std::size_t(picture.width()) * std::size_t(picture.height()));
    if (!indexes) return fail(noMemory);
    if (!ExactPalette(picture, colours, indexes.data())) {
        colours.clear();
        if (!QuantisedPalette(picture, colours, indexes.data())) return fail(noMemory);
    }
    // A colour map holds a power of two entries, at least 2; the spare ones repeat the first colour
    // rather than add one no pixel was given.
    int bits = 1;
    while ((1 << bits) < static_cast<int>(colours.size())) ++bits;
    colours.resize(std::size_t(1) << bits, colours.front());

    // Header, logical screen with the global colour map, one image descriptor, the picture's
    // codes, trailer.
    COutput out(device);
    out.Put("GIF87a", 6);
    out.Put16(picture.width());
    out.Put16(picture.height());
    out.Put(static_cast<std::uint8_t>(0x80 | ((bits - 1) << 4) | (bits - 1)));
    out.Put(0); // background colour
    out.Put(0); // pixel aspect ratio
    for (const GifColorType& c : colours) {
        out.Put(c.Red);
        out.Put(c.Green);
        out.Put(c.Blue);
    }
    out.Put(0x2C);
    out.Put16(0);
    out.Put16(0);
    out.Put16(picture.width());
    out.Put16(picture.height());
    out.Put(0); // no local colour map, not interlaced
    const int minCodeSize = std::max(bits, 2);
    out.Put(static_cast<std::uint8_t>(minCodeSize));
    auto encoder = std::make_unique<CLzwEncoder>(out, minCodeSize);
    bool ok = encoder->Add(indexes.data(), std::size_t(picture.width()) * std::size_t(picture.height())) && encoder->Finish();
    out.Put(0x3B);
    ok = ok && out.Flush();
    if (!ok) return fail(out.error().isEmpty() ? QStringLiteral("the file could not be written") : out.error());
    return true;
}

} // namespace

bool WriteGif(const CImage& picture, QIODevice& device, QString* reason)
{
    try {
        return Write(picture, device, reason);
    } catch (const std::bad_alloc&) {
        if (reason) *reason = QStringLiteral("not enough memory");
        return false;
    }
}
