#include "core/image_processor.h"
#include "core/operation_table.h"
#include "filters/colour/auto_levels.h"
#include "filters/colour/curves.h"
#include "filters/colour/levels.h"
#include "filters/colour/posterize.h"
#include "filters/colour/threshold.h"
#include "filters/colour/variations.h"

#include <string>

namespace {

// Each output byte from the input pixel at the same place.
COpReach PointReach(const COpArgs&)
{
    return COpReach::Within(0);
}

} // namespace

// Parameter ranges are the dialogs' ranges; defaults are the neutral values (the picture comes back
// unchanged, or as near as the arithmetic allows), except where no neutral value exists. Point
// operations reach no further than their pixel; those whose tables come from the whole picture's
// means or histograms declare no reach.
void AddColourOperations(std::vector<COperation>& table)
{
    table.push_back({"Invert", "every channel byte v becomes 255 - v", {},
                     [](CImageProcessor& e, const COpArgs&) { e.Invert(); return true; }});
    table.back().inPlaceOnly = true;
    table.back().reach = PointReach;
    table.push_back({"Solarize", "every channel byte of 128 or more becomes 255 - v", {},
                     [](CImageProcessor& e, const COpArgs&) { e.Solarize(); return true; }});
    table.back().inPlaceOnly = true;
    table.back().reach = PointReach;
    table.push_back({"Posterize",
                     "quantises each channel to evenly spaced levels",
                     {CParam::Int("levels", 2, 256, 256)},
                     [](CImageProcessor& e, const COpArgs& a) {
                         Posterize(e, a.Int(0));
                         return true;
                     }});
    table.back().reach = PointReach;
    table.push_back({"Levels",
                     "maps black..white to out_black..out_white through a gamma, on all channels or one",
                     {CParam::Code("channel", "arbg", 'a'), CParam::Int("black", 0, 254, 0),
                      CParam::Int("white", 1, 255, 255), CParam::Float("gamma", 0.1, 10, 1),
                      CParam::Int("out_black", 0, 255, 0), CParam::Int("out_white", 0, 255, 255)},
                     [](CImageProcessor& e, const COpArgs& a) {
                         Levels(e, a.Code(0), {a.Int(1), a.Int(2), a.Double(3), a.Int(4), a.Int(5)});
                         return true;
                     }});
    table.back().reach = PointReach;
    {
        // Up to eight control points; a point whose x or y is -1 is unused, so that points left
        // out at the end of a command line take no part.
        std::vector<CParam> params{CParam::Code("channel", "arbg", 'a')};
        for (int i = 1; i <= 8; ++i) {
            params.push_back(CParam::Int("x" + std::to_string(i), -1, 255, -1));
            params.push_back(CParam::Int("y" + std::to_string(i), -1, 255, -1));
        }
        table.push_back({"Curves", "a monotone cubic tone curve through up to 8 points, on all channels or one",
                         std::move(params), [](CImageProcessor& e, const COpArgs& a) {
                             const std::vector<double>& v = a.Values();
                             Curves(e, a.Code(0), orvex_colour::CurvePointsFromPairs({v.begin() + 1, v.end()}));
                             return true;
                         }});
        table.back().reach = PointReach;
    }
    table.push_back({"BrightnessContrast", "contrast about each channel's mean, then a brightness offset",
                     {CParam::Float("contrast", 0, 4, 1), CParam::Float("brightness", -100, 100, 0)},
                     [](CImageProcessor& e, const COpArgs& a) {
                         e.BrightnessContrast(a.Float(0), a.Float(1));
                         return true;
                     }});
    table.push_back({"ColorBalance", "adds a signed offset to the red, green and blue channels",
                     {CParam::Int("red", -100, 100, 0), CParam::Int("green", -100, 100, 0),
                      CParam::Int("blue", -100, 100, 0)},
                     [](CImageProcessor& e, const COpArgs& a) {
                         e.ColorBalance(a.Int(0), a.Int(1), a.Int(2));
                         return true;
                     }});
    table.back().reach = PointReach;
    table.push_back({"HueSaturation",
                     "shifts hue (degrees), scales saturation, moves lightness; 0,0,0 desaturates",
                     {CParam::Float("hue", -180, 180, 0), CParam::Float("saturation", 0, 11, 1),
                      CParam::Float("lightness", -1, 1, 0)},
                     [](CImageProcessor& e, const COpArgs& a) {
                         e.HueSaturation(a.Float(0), a.Float(1), a.Float(2));
                         return true;
                     }});
    table.back().reach = PointReach;
    // Grey from a weighted channel mix; the defaults are the "None" preset.
    table.push_back({"BlackAndWhite", "grey from a weighted mix of red, green and blue",
                     {CParam::Float("reds", -2, 3, 0.34), CParam::Float("greens", -2, 3, 0.33),
                      CParam::Float("blues", -2, 3, 0.33)},
                     [](CImageProcessor& e, const COpArgs& a) {
                         e.BlackAndWhite(a.Float(0), a.Float(1), a.Float(2));
                         return true;
                     }});
    table.back().reach = PointReach;
    table.push_back({"ShowOriginal", "copies the picture into the preview image; nothing outside a preview", {},
                     [](CImageProcessor& e, const COpArgs&) { e.ShowOriginal(); return true; }});
    table.back().reach = PointReach;
    table.push_back({"Equalize", "equalises the intensity histogram, one table for all channels", {},
                     [](CImageProcessor& e, const COpArgs&) { e.Equalize(); return true; }});
    table.back().inPlaceOnly = true;
    table.push_back({"AutoColor", "equalises each channel by its own histogram", {},
                     [](CImageProcessor& e, const COpArgs&) { e.AutoColor(); return true; }});
    table.back().inPlaceOnly = true;
    table.push_back({"Variations",
                     "every channel byte v becomes clamp(v + its channel's offset + lightness, 0, 255)",
                     {CParam::Int("red", -255, 255, 0), CParam::Int("green", -255, 255, 0),
                      CParam::Int("blue", -255, 255, 0), CParam::Int("lightness", -255, 255, 0)},
                     [](CImageProcessor& e, const COpArgs& a) {
                         Variations(e, a.Int(0), a.Int(1), a.Int(2), a.Int(3));
                         return true;
                     }});
    table.back().reach = PointReach;
    // Both stretch from the whole picture's histogram, so they declare no reach.
    table.push_back({"AutoLevels",
                     "stretches each channel from the values with clip% of the pixels below and above to 0..255",
                     {CParam::Float("clip", 0, 10, 0.1)},
                     [](CImageProcessor& e, const COpArgs& a) {
                         AutoLevels(e, a.Float(0));
                         return true;
                     }});
    table.back().inPlaceOnly = true;
    table.push_back({"AutoContrast",
                     "stretches all channels by the luminance values with clip% of the pixels below and above",
                     {CParam::Float("clip", 0, 10, 0.1)},
                     [](CImageProcessor& e, const COpArgs& a) {
                         AutoContrast(e, a.Float(0));
                         return true;
                     }});
    table.back().inPlaceOnly = true;
    table.push_back({"Threshold",
                     "white where a pixel's luminance is at least level, black elsewhere",
                     {CParam::Int("level", 0, 255, 128)},
                     [](CImageProcessor& e, const COpArgs& a) {
                         Threshold(e, a.Int(0));
                         return true;
                     }});
    table.back().reach = PointReach;
}
