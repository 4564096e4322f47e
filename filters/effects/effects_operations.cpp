#include "core/image_processor.h"
#include "core/operation_table.h"
#include "filters/effects/clouds.h"
#include "filters/effects/facet.h"
#include "filters/effects/fragment.h"

#include <algorithm>

// Parameter ranges are the dialogs' ranges; defaults are the neutral values where there are any.
void AddEffectsOperations(std::vector<COperation>& table)
{
    table.push_back({"AddNoise", "adds uniform or Gaussian noise of amount % to every channel (seeded by --seed or the clock)",
                     {CParam::Float("amount", 0, 400, 0), CParam::Flag("uniform", true), CParam::Flag("monochromatic", false)},
                     [](CImageProcessor& e, const COpArgs& a) {
                         e.AddNoise(a.Float(0), a.Flag(1), a.Flag(2));
                         return true;
                     }});
    table.back().seeded = true;
    // The centre may lie off the picture; the ghosts that fall inside are still drawn.
    table.push_back({"LensFlare", "rays, glow and ghosts of a bright light at (x, y), added onto the picture",
                     {CParam::Int("x", -100000, 100000, 0), CParam::Int("y", -100000, 100000, 0),
                      CParam::Float("brightness", 0.1, 3, 1)},
                     [](CImageProcessor& e, const COpArgs& a) {
                         e.LensFlare(a.Int(0), a.Int(1), a.Float(2));
                         return true;
                     }});
    table.back().inPlaceOnly = true;
    table.back().seeded = true;
    table.push_back({"Mosaic", "square cells of the colour of their top-left pixel",
                     {CParam::Int("size", 1, 100, 1)},
                     [](CImageProcessor& e, const COpArgs& a) {
                         e.Mosaic(a.Int(0));
                         return true;
                     }});
    // Cells are anchored at the picture's top-left corner.
    table.back().reach = [](const COpArgs& a) { return COpReach::Within(0, a.Int(0)); };
    table.push_back({"RedEyeReduction", "removes the red of pixels whose 5x5 neighbourhood is strongly red", {},
                     [](CImageProcessor& e, const COpArgs&) {
                         e.RedEyeReduction();
                         return true;
                     }});
    table.back().inPlaceOnly = true;
    // The 5 x 5 window; pixels within 2 of the edge are left alone.
    table.back().reach = [](const COpArgs&) { return COpReach::Within(2); };
    table.push_back({"ObtainGrid", "blackens every second row, starting with the top one", {},
                     [](CImageProcessor& e, const COpArgs&) {
                         e.ObtainGrid();
                         return true;
                     }});
    table.back().inPlaceOnly = true;
    // Which rows go black counts from the top row.
    table.back().reach = [](const COpArgs&) { return COpReach::Within(0, 2); };
    table.push_back({"Sign", "stamps the signature into the bottom-right corner", {},
                     [](CImageProcessor& e, const COpArgs&) { return e.Sign() == 0; }, "Signature failed"});
    table.back().inPlaceOnly = true;
    table.push_back({"Facet",
                     "mean colour of the most frequent of 8 luminance classes in the (2r+1)-square around each "
                     "pixel (ties: nearest the pixel's own class, then darker); edge pixels repeated",
                     {CParam::Int("radius", 1, 3, 1)},
                     [](CImageProcessor& e, const COpArgs& a) {
                         Facet(e, a.Int(0));
                         return true;
                     }});
    table.back().reach = [](const COpArgs& a) { return COpReach::Within(std::clamp(a.Int(0), 1, 3)); };
    table.push_back({"Fragment",
                     "mean of four copies shifted offset pixels up, down, left and right; edge pixels repeated",
                     {CParam::Int("offset", 1, 50, 4)},
                     [](CImageProcessor& e, const COpArgs& a) {
                         Fragment(e, a.Int(0));
                         return true;
                     }});
    table.back().reach = [](const COpArgs& a) { return COpReach::Within(std::clamp(a.Int(0), 1, 50)); };
    // Both cloud rows draw over the whole picture from its size and the seed, so a part of it would
    // get a cloud of its own size: no reach.
    table.push_back(
        {"Clouds",
         "grey clouds of fractal gradient noise over the whole picture, coarse octaves on coarser grids enlarged "
         "smoothly (seeded by --seed or the clock)",
         {CParam::Float("roughness", 0, 1, 0.5)},
         [](CImageProcessor& e, const COpArgs& a) {
             Clouds(e, a.Float(0));
             return true;
         }});
    table.back().seeded = true;
    table.push_back({"DifferenceClouds",
                     "every channel becomes |value - cloud|, the cloud the one Clouds draws",
                     {CParam::Float("roughness", 0, 1, 0.5)},
                     [](CImageProcessor& e, const COpArgs& a) {
                         DifferenceClouds(e, a.Float(0));
                         return true;
                     }});
    table.back().seeded = true;
}
