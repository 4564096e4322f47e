#include "io/png_encoder.h"

#include "core/parallel.h"

#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

namespace {

constexpr std::size_t kWindow = 32768;
constexpr std::size_t kIdatBytes = std::size_t(1) << 20;

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    const std::uint8_t b[4] = {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
    out.insert(out.end(), b, b + 4);
}

void PutChunk(std::vector<std::uint8_t>& out, const char* type, const std::uint8_t* data, std::size_t size)
{
    PutU32(out, static_cast<std::uint32_t>(size));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    if (size) out.insert(out.end(), data, data + size);
    const auto crc = crc32(0L, out.data() + start, static_cast<uInt>(size + 4));
    PutU32(out, static_cast<std::uint32_t>(crc));
}

// One row, top-down, as PNG wants it: red, green, blue.
void RowRgb(const CImage& picture, int y, std::uint8_t* rgb)
{
    const std::uint8_t* in = picture.bits() + std::ptrdiff_t(y) * picture.pitch();
    const int w = picture.width();
    for (int x = 0; x < w; ++x, in += 3, rgb += 3) {
        rgb[0] = in[2];
        rgb[1] = in[1];
        rgb[2] = in[0];
    }
}

// The Paeth predictor in the branch-free form the compiler can vectorise; same choice as the
// textbook form (a on ties with either, then b).
inline int Paeth(int a, int b, int c)
{
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    const int bc = pb <= pc ? b : c;
    return (pa <= pb && pa <= pc) ? a : bc;
}

inline unsigned Cost(std::uint8_t v)
{
    const int s = static_cast<std::int8_t>(v);
    return static_cast<unsigned>(s < 0 ? -s : s);
}

// Filters `cur` (previous row `prev`, zeros above the first row) into `out` = type byte + bytes,
// choosing the filter with the smallest sum of absolute signed residuals, the usual heuristic.
// `scratch` holds 4 candidate rows of `n` bytes.
void FilterRow(const std::uint8_t* cur, const std::uint8_t* prev, std::size_t n, std::uint8_t* out,
               std::uint8_t* scratch)
{
    constexpr std::size_t bpp = 3;
    std::uint8_t* const sub = scratch;
    std::uint8_t* const up = scratch + n;
    std::uint8_t* const avg = scratch + 2 * n;
    std::uint8_t* const paeth = scratch + 3 * n;
    std::uint64_t sums[5] = {0, 0, 0, 0, 0};
    const std::size_t head = std::min(n, bpp);
    for (std::size_t i = 0; i < head; ++i) {
        const int b = prev[i];
        sub[i] = cur[i];
        up[i] = std::uint8_t(cur[i] - b);
        avg[i] = std::uint8_t(cur[i] - (b >> 1));
        paeth[i] = std::uint8_t(cur[i] - b); // with a = c = 0 the predictor is b
    }
    std::size_t i = bpp;
#if defined(__SSE2__)
    // Sixteen bytes at a time; every prediction reads the unfiltered rows only, so the lanes are
    // independent. Same arithmetic as the scalar loop below, which finishes the row.
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + i));
        const __m128i a8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + i - bpp));
        const __m128i b8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
        const __m128i c8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i - bpp));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sub + i), _mm_sub_epi8(x, a8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(up + i), _mm_sub_epi8(x, b8));
        // (a + b) >> 1 without overflow: avg rounds up, so take off the odd bit.
        const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(a8, b8), _mm_and_si128(_mm_xor_si128(a8, b8), _mm_set1_epi8(1)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(avg + i), _mm_sub_epi8(x, mean));
        __m128i predicted[2];
        for (int half = 0; half < 2; ++half) {
            const __m128i a = half ? _mm_unpackhi_epi8(a8, zero) : _mm_unpacklo_epi8(a8, zero);
            const __m128i b = half ? _mm_unpackhi_epi8(b8, zero) : _mm_unpacklo_epi8(b8, zero);
            const __m128i c = half ? _mm_unpackhi_epi8(c8, zero) : _mm_unpacklo_epi8(c8, zero);
            const __m128i da = _mm_sub_epi16(b, c), db = _mm_sub_epi16(a, c);
            const __m128i dc = _mm_add_epi16(da, db);
            const __m128i pa = _mm_max_epi16(da, _mm_sub_epi16(zero, da));
            const __m128i pb = _mm_max_epi16(db, _mm_sub_epi16(zero, db));
            const __m128i pc = _mm_max_epi16(dc, _mm_sub_epi16(zero, dc));
            const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
            const __m128i takeC = _mm_cmpgt_epi16(pb, pc);
            const __m128i bc = _mm_or_si128(_mm_and_si128(takeC, c), _mm_andnot_si128(takeC, b));
            predicted[half] = _mm_or_si128(_mm_and_si128(notA, bc), _mm_andnot_si128(notA, a));
        }
        const __m128i p8 = _mm_packus_epi16(predicted[0], predicted[1]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(paeth + i), _mm_sub_epi8(x, p8));
    }
#endif
    for (; i < n; ++i) {
        const int a = cur[i - bpp], b = prev[i], c = prev[i - bpp];
        sub[i] = std::uint8_t(cur[i] - a);
        up[i] = std::uint8_t(cur[i] - b);
        avg[i] = std::uint8_t(cur[i] - ((a + b) >> 1));
        paeth[i] = std::uint8_t(cur[i] - Paeth(a, b, c));
    }
    const std::uint8_t* rows[5] = {cur, sub, up, avg, paeth};
    for (int f = 0; f < 5; ++f) {
        const std::uint8_t* r = rows[f];
        std::size_t k = 0;
        std::uint64_t sum = 0;
#if defined(__SSE2__)
        __m128i acc = _mm_setzero_si128();
        for (; k + 16 <= n; k += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + k));
            // |v| of the signed byte: the smaller of v and -v read as unsigned.
            const __m128i magnitude = _mm_min_epu8(v, _mm_sub_epi8(zero, v));
            acc = _mm_add_epi64(acc, _mm_sad_epu8(magnitude, zero));
        }
        sum = static_cast<std::uint64_t>(_mm_cvtsi128_si64(acc)) +
              static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc)));
#endif
        for (; k < n; ++k) sum += Cost(r[k]);
        sums[f] = sum;
    }
    int best = 0;
    for (int f = 1; f < 5; ++f)
        if (sums[f] < sums[best]) best = f;
    out[0] = std::uint8_t(best);
    std::memcpy(out + 1, best == 0 ? cur : scratch + std::size_t(best - 1) * n, n);
}

struct Piece
{
    int firstRow = 0, endRow = 0;
    std::vector<std::uint8_t> deflated;
    uLong adler = 1;
    uLong length = 0; // bytes of filtered data fed in
    bool ok = false;
};

// Deflates the filtered rows [firstRow, endRow) as raw deflate data. `last` ends the stream.
bool DeflatePiece(const CImage& picture, Piece& piece, int level, int strategy, bool last,
                  const std::function<void(int)>& rowsDone)
{
    const std::size_t n = std::size_t(picture.width()) * 3;
    std::vector<std::uint8_t> rows[2], filtered, scratch;
    try {
        rows[0].assign(n, 0);
        rows[1].assign(n, 0);
        filtered.resize(n + 1);
        scratch.resize(4 * n);
        piece.deflated.resize(std::max<std::size_t>(4096, (std::size_t(piece.endRow - piece.firstRow) * (n + 1)) / 2));
    } catch (const std::bad_alloc&) {
        return false;
    }
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) return false;

    int cur = 0;
    if (piece.firstRow > 0) {
        // The dictionary: the filtered bytes of the rows just before this piece, as the single
        // stream would have them in its window.
        const std::size_t rowsNeeded = (kWindow + n) / (n + 1) + 1;
        const int from = std::max(0, piece.firstRow - int(rowsNeeded));
        std::vector<std::uint8_t> dictionary;
        try {
            dictionary.reserve((std::size_t(piece.firstRow - from)) * (n + 1));
        } catch (const std::bad_alloc&) {
            deflateEnd(&z);
            return false;
        }
        if (from > 0) RowRgb(picture, from - 1, rows[cur ^ 1].data());
        for (int y = from; y < piece.firstRow; ++y) {
            RowRgb(picture, y, rows[cur].data());
            FilterRow(rows[cur].data(), rows[cur ^ 1].data(), n, filtered.data(), scratch.data());
            dictionary.insert(dictionary.end(), filtered.begin(), filtered.end());
            cur ^= 1;
        }
        const std::size_t keep = std::min(dictionary.size(), kWindow);
        deflateSetDictionary(&z, dictionary.data() + dictionary.size() - keep, static_cast<uInt>(keep));
    }

    std::size_t written = 0;
    bool ok = true;
    for (int y = piece.firstRow; y < piece.endRow && ok; ++y) {
        RowRgb(picture, y, rows[cur].data());
        FilterRow(rows[cur].data(), rows[cur ^ 1].data(), n, filtered.data(), scratch.data());
        cur ^= 1;
        if (((y - piece.firstRow) & 63) == 63) rowsDone(64);
        piece.adler = adler32(piece.adler, filtered.data(), static_cast<uInt>(n + 1));
        piece.length += n + 1;
        z.next_in = filtered.data();
        z.avail_in = static_cast<uInt>(n + 1);
        const bool end = y + 1 == piece.endRow;
        const int flush = end ? (last ? Z_FINISH : Z_SYNC_FLUSH) : Z_NO_FLUSH;
        while (true) {
            if (written == piece.deflated.size()) {
                try {
                    piece.deflated.resize(piece.deflated.size() * 2);
                } catch (const std::bad_alloc&) {
                    ok = false;
                    break;
                }
            }
            z.next_out = piece.deflated.data() + written;
            z.avail_out = static_cast<uInt>(std::min<std::size_t>(piece.deflated.size() - written, 1u << 30));
            const int rc = deflate(&z, flush);
            written = std::size_t(z.next_out - piece.deflated.data());
            if (rc == Z_STREAM_ERROR) {
                ok = false;
                break;
            }
            if (flush == Z_FINISH ? rc == Z_STREAM_END : (z.avail_in == 0 && z.avail_out != 0)) break;
        }
    }
    deflateEnd(&z);
    piece.deflated.resize(written);
    return ok;
}

// Photographs leave almost nothing for the string matcher once filtered: run-length matching alone
// compresses them as small as full matching, several times faster. Drawings and screenshots repeat
// whole stretches and need full matching. A few hundred kilobytes of rows from the middle of the
// picture, compressed both ways, tell which kind this is.
int ChooseStrategy(const CImage& picture, int level)
{
    const std::size_t n = std::size_t(picture.width()) * 3;
    const int sampleRows = int(std::clamp<std::size_t>((std::size_t(256) << 10) / (n + 1), 1, std::size_t(picture.height())));
    const int first = (picture.height() - sampleRows) / 2;
    std::vector<std::uint8_t> sample, rows[2], filtered, scratch;
    try {
        sample.reserve(std::size_t(sampleRows) * (n + 1));
        rows[0].assign(n, 0);
        rows[1].assign(n, 0);
        filtered.resize(n + 1);
        scratch.resize(4 * n);
    } catch (const std::bad_alloc&) {
        return Z_DEFAULT_STRATEGY;
    }
    int cur = 0;
    if (first > 0) RowRgb(picture, first - 1, rows[1].data());
    for (int y = first; y < first + sampleRows; ++y) {
        RowRgb(picture, y, rows[cur].data());
        FilterRow(rows[cur].data(), rows[cur ^ 1].data(), n, filtered.data(), scratch.data());
        sample.insert(sample.end(), filtered.begin(), filtered.end());
        cur ^= 1;
    }
    const auto packed = [&](int strategy) -> std::size_t {
        z_stream z{};
        if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) return SIZE_MAX;
        std::vector<std::uint8_t> out(deflateBound(&z, static_cast<uLong>(sample.size())));
        z.next_in = sample.data();
        z.avail_in = static_cast<uInt>(sample.size());
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        const int rc = deflate(&z, Z_FINISH);
        const std::size_t size = rc == Z_STREAM_END ? std::size_t(z.total_out) : SIZE_MAX;
        deflateEnd(&z);
        return size;
    };
    try {
        const std::size_t rle = packed(Z_RLE), full = packed(Z_DEFAULT_STRATEGY);
        return rle <= full + full / 50 ? Z_RLE : Z_DEFAULT_STRATEGY;
    } catch (const std::bad_alloc&) {
        return Z_DEFAULT_STRATEGY;
    }
}

} // namespace

bool EncodePng(const CImage& picture, const CPngOptions& options, const std::vector<std::uint8_t>& iccProfile,
               std::vector<std::uint8_t>& out, std::string* reason, const std::function<void(double)>& progress)
{
    auto fail = [reason](const char* text) {
        if (reason) *reason = text;
        return false;
    };
    if (picture.IsNull() || picture.bitsPerPixel() != 24) return fail("there is no picture to save");
    const int h = picture.height();
    const std::size_t n = std::size_t(picture.width()) * 3;
    // Pieces shorter than a few windows would spend more on their dictionaries than they save.
    const int wanted = options.pieces > 0 ? options.pieces : ParallelThreadCount();
    const int minRows = int(std::max<std::size_t>(1, 4 * kWindow / (n + 1)));
    const int count = std::clamp(h / std::max(1, minRows), 1, std::max(1, wanted));
    const int level = std::clamp(options.level, 0, 9);
    const int strategy = options.strategy >= 0 ? options.strategy : level == 0 ? Z_DEFAULT_STRATEGY : ChooseStrategy(picture, level);

    std::vector<Piece> pieces;
    try {
        pieces.resize(std::size_t(count));
    } catch (const std::bad_alloc&) {
        return fail("not enough memory");
    }
    for (int i = 0; i < count; ++i) {
        pieces[std::size_t(i)].firstRow = int(std::int64_t(h) * i / count);
        pieces[std::size_t(i)].endRow = int(std::int64_t(h) * (i + 1) / count);
    }
    // Rows are counted across the pieces; only the calling thread tells the watcher, whichever
    // pieces it happens to take.
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<long long> done{0};
    const std::function<void(int)> rowsDone = [&](int rows) {
        const long long now = done.fetch_add(rows) + rows;
        if (progress && std::this_thread::get_id() == caller) progress(double(now) / std::max(1, h));
    };
    ParallelFor(0, count, [&](int b, int e) {
        for (int i = b; i < e; ++i)
            pieces[std::size_t(i)].ok = DeflatePiece(picture, pieces[std::size_t(i)], level, strategy, i + 1 == count, rowsDone);
    });
    for (const Piece& p : pieces)
        if (!p.ok) return fail("not enough memory");

    uLong adler = 1;
    std::size_t total = 2 + 4;
    for (const Piece& p : pieces) {
        adler = adler32_combine(adler, p.adler, static_cast<z_off_t>(p.length));
        total += p.deflated.size();
    }

    try {
        out.clear();
        out.reserve(total + total / kIdatBytes * 12 + 1024 + iccProfile.size());
        static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        out.insert(out.end(), kSignature, kSignature + 8);
        std::vector<std::uint8_t> ihdr;
        PutU32(ihdr, static_cast<std::uint32_t>(picture.width()));
        PutU32(ihdr, static_cast<std::uint32_t>(h));
        const std::uint8_t rest[5] = {8, 2, 0, 0, 0}; // 8 bits, RGB, deflate, adaptive filters, no interlace
        ihdr.insert(ihdr.end(), rest, rest + 5);
        PutChunk(out, "IHDR", ihdr.data(), ihdr.size());
        if (!iccProfile.empty()) {
            uLongf packedSize = compressBound(static_cast<uLong>(iccProfile.size()));
            std::vector<std::uint8_t> iccp(13 + packedSize);
            std::memcpy(iccp.data(), "ICC Profile\0\0", 13); // name, terminator, deflate
            if (compress2(iccp.data() + 13, &packedSize, iccProfile.data(), static_cast<uLong>(iccProfile.size()), 9) != Z_OK)
                return fail("the colour profile could not be compressed");
            iccp.resize(13 + packedSize);
            PutChunk(out, "iCCP", iccp.data(), iccp.size());
        }

        // The zlib stream: header, the pieces' deflate data, the checksum of everything filtered.
        std::vector<std::uint8_t> idat;
        auto flushIdat = [&](bool all) {
            while (idat.size() >= kIdatBytes || (all && !idat.empty())) {
                const std::size_t take = std::min(idat.size(), kIdatBytes);
                PutChunk(out, "IDAT", idat.data(), take);
                idat.erase(idat.begin(), idat.begin() + std::ptrdiff_t(take));
            }
        };
        idat.reserve(kIdatBytes * 2);
        const std::uint8_t header[2] = {0x78, std::uint8_t(level >= 7 ? 0xDA : level >= 6 ? 0x9C : level >= 2 ? 0x5E : 0x01)};
        idat.insert(idat.end(), header, header + 2);
        for (Piece& p : pieces) {
            std::size_t at = 0;
            while (at < p.deflated.size()) {
                const std::size_t take = std::min(p.deflated.size() - at, kIdatBytes - idat.size());
                idat.insert(idat.end(), p.deflated.begin() + std::ptrdiff_t(at), p.deflated.begin() + std::ptrdiff_t(at + take));
                at += take;
                flushIdat(false);
            }
            std::vector<std::uint8_t>().swap(p.deflated);
        }
        PutU32(idat, static_cast<std::uint32_t>(adler));
        flushIdat(true);
        PutChunk(out, "IEND", nullptr, 0);
    } catch (const std::bad_alloc&) {
        return fail("not enough memory");
    }
    return true;
}
