#pragma once

// The per-row hue/saturation/lightness kernel, written once over a vector of W pixels so that it
// can be compiled for the baseline instruction set and again for wider registers. Every lane runs
// exactly the single-precision operations of CImageProcessor::RgbToHsl and HslToRgb, in the same
// order: both branches of each test are computed and one is selected, and IEEE division, addition
// and multiplication give the same result in a vector lane as in a scalar register (the build
// forbids contraction into fused multiply-add). Everything here has internal linkage because the
// header is compiled with different instruction sets in different files.

#include <cstdint>

namespace {

struct CHslAdjust
{
    float hue;
    float saturation;
    float lightness;
};

typedef float CFloat4 __attribute__((vector_size(16)));
typedef std::int32_t CInt4 __attribute__((vector_size(16)));
typedef float CFloat8 __attribute__((vector_size(32)));
typedef std::int32_t CInt8 __attribute__((vector_size(32)));

// F holds W floats, I as many 32-bit integers (the lane masks of comparisons).
template <class F, class I>
struct CHslKernel
{
    static constexpr int W = static_cast<int>(sizeof(F) / sizeof(float));

    static F Splat(float v)
    {
        F r = {};
        for (int i = 0; i < W; ++i) r[i] = v;
        return r;
    }

    static F Select(I mask, F a, F b) { return (F)((mask & (I)a) | (~mask & (I)b)); }

    // Wraps a component parameter once into 0..1, as the back conversion does.
    static F Wrap(F t)
    {
        t = Select(t < 0.0f, t + 1.0f, t);
        return Select(t > 1.0f, t - 1.0f, t);
    }

    static I ToByte(F p, F q, F t)
    {
        const F qp = q - p;
        const F rising = p + qp * 6.0f * t;
        const F falling = p + qp * (0.6666667f - t) * 6.0f;
        F v = Select(t < 0.16666667f, rising, Select(t < 0.5f, q, Select(t < 0.6666667f, falling, p)));
        v = v * 255.0f;
        v = Select(v > 0.0f, v, Splat(0.0f));
        v = Select(v < 255.0f, v, Splat(255.0f));
        return __builtin_convertvector(v, I);
    }

    // W pixels given as blue, green and red lanes (0..255) to their adjusted bytes.
    static void Compute(I bi, I gi, I ri, const CHslAdjust& adjust, I& blue, I& green, I& red)
    {
        const F c1 = __builtin_convertvector(bi, F) / 255.0f;
        const F c2 = __builtin_convertvector(gi, F) / 255.0f;
        const F c3 = __builtin_convertvector(ri, F) / 255.0f;

        const F max12 = Select(c1 > c2, c1, c2);
        const F min12 = Select(c1 < c2, c1, c2);
        const F max = Select(max12 > c3, max12, c3);
        const F min = Select(min12 < c3, min12, c3);
        F l = (max + min) * 0.5f;
        const F d = max - min;
        const I grey = d == 0.0f;
        const F one = Splat(1.0f);
        const F safeD = Select(grey, one, d);

        const I maxIsC1 = max == c1;
        const I maxIsC2 = ~maxIsC1 & (max == c2);
        const F diff = Select(maxIsC1, c2 - c3, Select(maxIsC2, c3 - c1, c1 - c2));
        const F offset = Select(maxIsC1, Select(c3 > c2, Splat(360.0f), Splat(0.0f)),
                                Select(maxIsC2, Splat(120.0f), Splat(240.0f)));
        F h = Select(grey, Splat(0.0f), 60.0f * diff / safeD + offset);
        // With d > 0 the lightness lies strictly between 0 and 1, so only the two middle cases of
        // the saturation formula can occur.
        const F twoL = 2.0f * l;
        const F denominator = Select(grey, one, Select(l <= 0.5f, twoL, 2.0f - twoL));
        F s = Select(grey, Splat(0.0f), d / denominator);

        h = h + adjust.hue;
        s = s * adjust.saturation;
        s = Select(s > 1.0f, one, s);
        if (adjust.lightness >= 0.0f)
            l = adjust.lightness + l * (1.0f - adjust.lightness);
        else
            l = (adjust.lightness + 1.0f) * l;

        const F q = Select(l < 0.5f, l * (1.0f + s), l + s * (1.0f - l));
        const F p = 2.0f * l - q;
        const F hh = h / 360.0f;
        blue = ToByte(p, q, Wrap(hh + 0.33333334f));
        green = ToByte(p, q, Wrap(hh));
        red = ToByte(p, q, Wrap(hh - 0.33333334f));
    }

    // W pixels from `src` to `dst` (3 bytes each, blue first), moved one lane at a time; they may be
    // the same memory.
    static void Block(const std::uint8_t* src, std::uint8_t* dst, const CHslAdjust& adjust)
    {
        I bi = {}, gi = {}, ri = {};
        for (int i = 0; i < W; ++i) {
            bi[i] = src[3 * i];
            gi[i] = src[3 * i + 1];
            ri[i] = src[3 * i + 2];
        }
        I blue, green, red;
        Compute(bi, gi, ri, adjust, blue, green, red);
        for (int i = 0; i < W; ++i) {
            dst[3 * i] = static_cast<std::uint8_t>(blue[i]);
            dst[3 * i + 1] = static_cast<std::uint8_t>(green[i]);
            dst[3 * i + 2] = static_cast<std::uint8_t>(red[i]);
        }
    }

    static void Row(const std::uint8_t* src, std::uint8_t* dst, int width, const CHslAdjust& adjust)
    {
        int x = 0;
        for (; x + W <= width; x += W) Block(src + 3 * x, dst + 3 * x, adjust);
        if (x < width) {
            // The last few pixels go through a padded block so that no byte past the row is read.
            std::uint8_t tail[3 * W] = {};
            const int bytes = 3 * (width - x);
            for (int i = 0; i < bytes; ++i) tail[i] = src[3 * x + i];
            Block(tail, tail, adjust);
            for (int i = 0; i < bytes; ++i) dst[3 * x + i] = tail[i];
        }
    }
};

} // namespace
