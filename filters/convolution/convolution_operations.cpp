#include "core/image_processor.h"
#include "core/operation_table.h"
#include "filters/convolution/convolution.h"

#include <string>

namespace {

// The blurs' 3 x 3 path reads the eight neighbours and keeps the border; a radius it does not blur
// with leaves the picture as it is; the transform path is circular over the whole picture.
COpReach BlurReach(float radius)
{
    if (!(radius > 0.0f) || radius > 250.0f) return COpReach::Within(0);
    return radius <= 2.0f ? COpReach::Within(1) : COpReach::Unbounded();
}

} // namespace

// Ranges are the dialogs' ranges. A blur radius of 0 does nothing, so the blur rows default to a
// radius that shows the effect.
void AddConvolutionOperations(std::vector<COperation>& table)
{
    table.push_back({.name = "Average",
                     .summary = "fills the picture with its mean colour (each channel truncated)",
                     .params = {},
                     .call = [](CImageProcessor& e, const COpArgs&) { e.Average(); return true; },
                     .inPlaceOnly = true});
    table.push_back({.name = "GaussianBlur",
                     .summary = "Gaussian (gaussian=1) or lens (gaussian=0) blur; radius up to 2 uses a 3x3 kernel, "
                                "above it a circular whole-picture convolution; 0.75 is Blur, 1.5 Blur more",
                     .params = {CParam::Float("radius", 0, 250, 10), CParam::Flag("gaussian", true)},
                     .call =
                         [](CImageProcessor& e, const COpArgs& a) {
                             e.GaussianBlur(a.Float(0), a.Flag(1) ? 1 : 0);
                             return true;
                         },
                     .inPlaceOnly = true,
                     .reach = [](const COpArgs& a) { return BlurReach(a.Float(0)); }});
    table.push_back({.name = "MotionBlur",
                     .summary = "smears along a direction (degrees, 0 horizontal, 90 vertical) over a length that "
                                "grows with the radius",
                     .params = {CParam::Int("angle", 0, 180, 0), CParam::Float("radius", 0, 250, 10)},
                     .call =
                         [](CImageProcessor& e, const COpArgs& a) {
                             e.MotionBlur(a.Int(0), static_cast<double>(a.Float(1)));
                             return true;
                         },
                     .inPlaceOnly = true,
                     .reach =
                         [](const COpArgs& a) {
                             const double radius = static_cast<double>(a.Float(1));
                             if (!(radius > 0.0)) return COpReach::Within(0);
                             return radius <= 2.0 ? COpReach::Within(1) : COpReach::Unbounded();
                         }});
    table.push_back({.name = "Sharpen",
                     .summary = "3x3 sharpening: 5 x centre minus the four direct neighbours; the border is kept",
                     .params = {},
                     .call =
                         [](CImageProcessor& e, const COpArgs&) {
                             e.Sharpen();
                             return true;
                         },
                     .inPlaceOnly = true,
                     .reach = [](const COpArgs&) { return COpReach::Within(1); }});
    // The engine member alone: the editor's "Find Edges" command inverts the result afterwards
    // (chain Invert for the same picture).
    table.push_back({.name = "FindEdges",
                     .summary = "gradient magnitude stretched to 255 per channel (dark flat areas; the editor's "
                                "command follows it with Invert)",
                     .params = {},
                     .call = [](CImageProcessor& e, const COpArgs&) { e.FindEdges(); return true; },
                     .inPlaceOnly = true});
    table.push_back({.name = "UnsharpMask",
                     .summary = "adds amount x (picture - Gaussian blur of the given radius); amount is a factor, "
                                "1 = 100 %",
                     .params = {CParam::Float("radius", 0, 250, 10), CParam::Float("amount", 0, 5, 1)},
                     .call =
                         [](CImageProcessor& e, const COpArgs& a) {
                             e.UnsharpMask(a.Float(0), a.Float(1));
                             return true;
                         },
                     .inPlaceOnly = true,
                     .reach = [](const COpArgs& a) { return BlurReach(a.Float(0)); }});
    table.push_back({.name = "HighPass",
                     .summary = "picture - Gaussian blur of the given radius + 128",
                     .params = {CParam::Float("radius", 0, 250, 10)},
                     .call =
                         [](CImageProcessor& e, const COpArgs& a) {
                             e.HighPass(a.Float(0));
                             return true;
                         },
                     .inPlaceOnly = true,
                     .reach = [](const COpArgs& a) { return BlurReach(a.Float(0)); }});

    // The custom filter: 25 weights row by row (k0 top left, k12 centre), a divisor and an offset;
    // the defaults are the dialog's (sharpening).
    COperation custom{.name = "CustomFilter",
                      .summary = "5x5 integer kernel over a mirrored border, divided by scale (0 counts as 1), "
                                 "plus offset, clamped",
                      .params = {},
                      .call =
                          [](CImageProcessor& e, const COpArgs& a) {
                              int kernel[25];
                              for (int i = 0; i < 25; ++i) kernel[i] = a.Int(static_cast<std::size_t>(i));
                              e.CustomFilter(kernel, a.Int(25), a.Int(26));
                              return true;
                          },
                      .reach = [](const COpArgs&) { return COpReach::Within(2); }};
    const orvex_convolution::CCustomFilterSettings defaults;
    constexpr int kLimit = 1000000;
    for (int i = 0; i < 25; ++i)
        custom.params.push_back(CParam::Int("k" + std::to_string(i), -kLimit, kLimit, defaults.kernel[static_cast<std::size_t>(i)]));
    custom.params.push_back(CParam::Int("scale", -kLimit, kLimit, defaults.scale));
    custom.params.push_back(CParam::Int("offset", -kLimit, kLimit, defaults.offset));
    table.push_back(std::move(custom));
}
