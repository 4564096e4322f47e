#pragma once

// Helpers of the convolution tests: noisy pictures, naive references and a progress recorder.
#include "core/image_processor.h"
#include "core/progress.h"
#include "tests/test_pictures.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace convolution_test {

using test_pictures::Copy;
using test_pictures::Noise;

inline CImage Apply(const CImage& picture, const std::function<void(CImageProcessor&)>& op)
{
    return test_pictures::Applied(picture, op);
}

// Kernel cells k[j * W + i]: weight of a displacement of i columns and j rows, modulo W and H.
using Cells = std::vector<double>;

// out(x, y) = sum over cells of in((x - i) mod W, (y - j) mod H) * k(i, j), per channel, directly.
inline std::vector<double> CircularConvolution(const CImage& in, const Cells& k)
{
    const int w = in.width();
    const int h = in.height();
    std::vector<double> out(static_cast<std::size_t>(w) * h * 3, 0.0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int j = 0; j < h; ++j)
                for (int i = 0; i < w; ++i) {
                    const double weight = k[static_cast<std::size_t>(j) * w + i];
                    if (weight == 0.0) continue;
                    const std::uint8_t* p = test_pictures::Pixel(in, ((x - i) % w + w) % w, ((y - j) % h + h) % h);
                    for (int c = 0; c < 3; ++c) out[(static_cast<std::size_t>(y) * w + x) * 3 + c] += p[c] * weight;
                }
    return out;
}

inline std::uint8_t LowByte(double v)
{
    return static_cast<std::uint8_t>(static_cast<int>(v));
}

// Counts bytes that are not what truncating the exact value gives, allowing one level either way
// only where the exact value lies within `slack` of an integer (where a different but equally
// correct order of rounding may land on the other side). `clampHigh` limits values to 255 first.
inline int Mismatches(const CImage& got, const std::vector<double>& exact, bool clampHigh = false, double slack = 1e-6)
{
    int bad = 0;
    for (int y = 0; y < got.height(); ++y)
        for (int x = 0; x < got.width(); ++x)
            for (int c = 0; c < 3; ++c) {
                double v = exact[(static_cast<std::size_t>(y) * got.width() + x) * 3 + c];
                if (clampHigh && v > 255) v = 255;
                const std::uint8_t b = test_pictures::Pixel(got, x, y)[c];
                if (b != LowByte(v) && b != LowByte(v - slack) && b != LowByte(v + slack)) ++bad;
            }
    return bad;
}

// The bell of the frequency-domain path, cut off at the half picture.
inline Cells GaussianCells(int w, int h, float radius)
{
    Cells k(static_cast<std::size_t>(w) * h, 0.0);
    const float inv = 1.0f / radius;
    const float f = inv * inv;
    const double c = 0.5 * f;
    const float g = radius * radius;
    const double norm = 0.5 / (g * 3.1415926);
    for (int i = 0; i < w / 2; ++i)
        for (int j = 0; j < h / 2; ++j) {
            const double v = std::exp(-(i * i + j * j) * c) * norm;
            for (int si : {i, (w - i) % w})
                for (int sj : {j, (h - j) % h}) k[static_cast<std::size_t>(sj) * w + si] = v;
        }
    return k;
}

inline Cells LensCells(int w, int h, float radius)
{
    Cells k(static_cast<std::size_t>(w) * h, 0.0);
    double sum = 0;
    for (int i = 0; i < w / 2; ++i)
        for (int j = 0; j < h / 2; ++j) {
            const double v = std::sqrt(static_cast<double>(i * i + j * j)) <= radius ? 1.0 : 0.0;
            k[static_cast<std::size_t>(j) * w + i] = v;
            sum += v;
            if (i) { k[static_cast<std::size_t>(j) * w + (w - i)] = v; sum += v; }
            if (j) { k[static_cast<std::size_t>(h - j) * w + i] = v; sum += v; }
            if (i && j) { k[static_cast<std::size_t>(h - j) * w + (w - i)] = v; sum += v; }
        }
    for (double& v : k) v /= sum;
    return k;
}

inline Cells MotionCells(int w, int h, int angle, double r)
{
    Cells k(static_cast<std::size_t>(w) * h, 0.0);
    const double t = (angle + 90) * 3.1415926 / 180;
    const double A = std::cos(t) * std::cos(t) + (std::sin(t) / r) * (std::sin(t) / r);
    const double B = std::sin(2 * t) / (r * r) - std::sin(2 * t) / 1;
    const double C = std::sin(t) * std::sin(t) + (std::cos(t) / r) * (std::cos(t) / r);
    const double scale = 1 / (3.1415926 * r);
    for (int i = 0; i < w / 2; ++i)
        for (int j = 0; j < h / 2; ++j) {
            const double w1 = std::exp(-(A * i * i + B * i * j + C * j * j)) * scale;
            const double w2 = std::exp(-(A * i * i - B * i * j + C * j * j)) * scale;
            k[static_cast<std::size_t>(j) * w + i] = w1;
            if (i) k[static_cast<std::size_t>(j) * w + (w - i)] = w2;
            if (j) k[static_cast<std::size_t>(h - j) * w + i] = w2;
            if (i && j) k[static_cast<std::size_t>(h - j) * w + (w - i)] = w1;
        }
    return k;
}

// The 3 x 3 paths as defined: interior bytes become the low 8 bits of the extended-precision sum
// of copy(x + a, y + b) * k[a][b], a outer, b inner; the border is left alone.
inline CImage Direct3x3(const CImage& in, const double (&k)[3][3])
{
    CImage out = Copy(in);
    for (int x = 1; x < in.width() - 1; ++x)
        for (int y = 1; y < in.height() - 1; ++y)
            for (int c = 0; c < 3; ++c) {
                long double s = 0;
                for (int a = -1; a <= 1; ++a)
                    for (int b = -1; b <= 1; ++b)
                        s += static_cast<long double>(test_pictures::Pixel(in, x + a, y + b)[c]) * static_cast<long double>(k[a + 1][b + 1]);
                test_pictures::Pixel(out, x, y)[c] = static_cast<std::uint8_t>(static_cast<int>(s));
            }
    return out;
}

struct CRecorder : IProgress
{
    std::vector<std::string> labels;
    std::vector<int> ranges;
    int maxPosition = -1;
    int ends = 0;
    bool stop = false;
    void Begin(std::string_view label, int range) override
    {
        labels.emplace_back(label);
        ranges.push_back(range);
    }
    void SetPosition(int position) override { maxPosition = std::max(maxPosition, position); }
    void End() override { ++ends; }
    bool StopRequested() override { return stop; }
};

} // namespace convolution_test
