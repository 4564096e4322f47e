// Every registered operation, at the edges of its parameter ranges, on tiny and odd-sized pictures:
// no crash, no sanitizer report, and the picture keeps its size unless the operation may change it.
#include "core/image_processor.h"
#include "core/operation_table.h"
#include "core/random.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <set>
#include <string>

using namespace test_pictures;

void PrintTo(const CPictureSize& size, std::ostream* out)
{
    *out << size.width << "x" << size.height;
}

namespace {

std::vector<COpArgs> EdgeArguments(const COperation& op)
{
    std::vector<COpArgs> sets;
    for (int which = 0; which < 3; ++which) {
        std::vector<double> values;
        for (const CParam& p : op.params) {
            if (p.type == ParamType::Code) {
                // Every code gets its turn across the three sets.
                values.push_back(static_cast<unsigned char>(p.codes[static_cast<std::size_t>(which) % p.codes.size()]));
            } else {
                values.push_back(which == 0 ? p.min : which == 1 ? p.defaultValue : p.max);
            }
        }
        sets.emplace_back(std::move(values));
    }
    return sets;
}

// Argument sets between the edges: small sides in every pairing and anchor or method, and angles
// across the range (quarter turns, near-quarter turns, tiny ones). Sides stay small so that liquid
// resizing on tiny pictures stays quick.
std::vector<COpArgs> InnerArguments(const COperation& op)
{
    const std::vector<double> sides = {1, 2, 3, 5, 13, 30, 4};
    std::vector<double> angles = {0.5, -0.5, 1e-3, 30, 45, 89.99, 90, -90, 135, 180, -270, 359, 3599.5, -3599.9};
    for (int k = 0; k <= 64; ++k) angles.push_back(-3600 + 7200.0 * k / 64 + 0.37);
    std::vector<COpArgs> sets;
    for (std::size_t j = 0; j < angles.size(); ++j) {
        std::vector<double> values;
        for (std::size_t k = 0; k < op.params.size(); ++k) {
            const CParam& p = op.params[k];
            double v = 0;
            if (p.type == ParamType::Code) v = static_cast<unsigned char>(p.codes[j % p.codes.size()]);
            else if (p.type == ParamType::Float) v = angles[j];
            else v = sides[(j + 2 * k) % sides.size()];
            values.push_back(std::clamp(v, p.min, p.max));
        }
        sets.emplace_back(std::move(values));
    }
    return sets;
}

} // namespace

TEST(OperationTable, NamesAreUniqueAndFoundIgnoringCase)
{
    std::set<std::string> seen;
    for (const COperation& op : OperationTable()) {
        EXPECT_TRUE(seen.insert(op.name).second) << op.name;
        EXPECT_NE(op.call, nullptr) << op.name;
        std::string lower;
        for (char c : op.name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(FindOperation(lower), &op);
        for (const CParam& p : op.params) {
            EXPECT_LE(p.min, p.defaultValue) << op.name << "." << p.name;
            EXPECT_LE(p.defaultValue, p.max) << op.name << "." << p.name;
            if (p.type == ParamType::Code) {
                EXPECT_FALSE(p.codes.empty()) << op.name;
            }
        }
    }
    EXPECT_EQ(FindOperation("NoSuchOperation"), nullptr);
    EXPECT_NE(FindOperation("INVERT"), nullptr);
}

TEST(OperationTable, EveryOperationSurvivesEdgeArgumentsOnTinyPictures)
{
    const int sizes[][2] = {{1, 1}, {3, 2}, {17, 9}};
    for (const COperation& op : OperationTable()) {
        for (const COpArgs& args : EdgeArguments(op)) {
            for (const auto& size : sizes) {
                CImage picture = Pattern(size[0], size[1]);
                CImageProcessor engine(&picture);
                engine.SetSeedOverride(7);
                const long long misplaced = orvex_random::MisplacedDraws();
                op.call(engine, args);
                SCOPED_TRACE(op.name + " on " + std::to_string(size[0]) + "x" + std::to_string(size[1]));
                // Random draws stay on the thread that seeded them (see core/random.h).
                EXPECT_EQ(orvex_random::MisplacedDraws(), misplaced);
                ASSERT_FALSE(picture.IsNull());
                EXPECT_EQ(picture.bitsPerPixel(), 24);
                if (!op.changesSize) {
                    EXPECT_EQ(picture.width(), size[0]);
                    EXPECT_EQ(picture.height(), size[1]);
                }
                EXPECT_EQ(engine.running.load(), 0);
            }
        }
    }
}

TEST(OperationTable, PreviewRenderingsLeaveThePictureAlone)
{
    // With the preview flag set an operation may write only the work image.
    for (const COperation& op : OperationTable()) {
        if (op.changesSize) continue;
        CImage picture = Pattern(17, 9);
        CImageProcessor engine(&picture);
        engine.SetSeedOverride(7);
        ASSERT_TRUE(engine.workImage().CopyFrom(picture));
        engine.preview = 1;
        op.call(engine, EdgeArguments(op)[2]);
        engine.preview = 0;
        EXPECT_TRUE(SamePixels(picture, Pattern(17, 9)) || op.inPlaceOnly) << op.name;
    }
}

TEST(OperationTable, SizeChangingOperationsGiveTheSizeTheyPredict)
{
    // The batch tool refuses a plan by this prediction before running it; a wrong one either lets
    // hours of work end in an unwritable result or refuses a plan that would have worked.
    const int sizes[][2] = {{1, 1}, {3, 2}, {17, 9}, {2, 13}};
    int compared = 0;
    for (const COperation& op : OperationTable()) {
        if (!op.changesSize) continue;
        ASSERT_NE(op.resultSize, nullptr) << op.name;
        std::vector<COpArgs> sets = EdgeArguments(op);
        for (COpArgs& args : InnerArguments(op)) sets.push_back(std::move(args));
        for (const COpArgs& args : sets) {
            for (const auto& size : sizes) {
                CImage picture = Pattern(size[0], size[1]);
                CImageProcessor engine(&picture);
                op.call(engine, args);
                // A result beyond what the program holds is refused by the operation itself.
                if (engine.Failed()) continue;
                std::string text = op.name + " on " + std::to_string(size[0]) + "x" + std::to_string(size[1]) + " with";
                for (std::size_t i = 0; i < args.size(); ++i) text += " " + std::to_string(args.Double(i));
                SCOPED_TRACE(text);
                EXPECT_EQ(ResultSize(op, {size[0], size[1]}, args), (CPictureSize{picture.width(), picture.height()}));
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 1000);
}

TEST(OperationTable, SeededRowsAreExactlyThoseTheSeedChanges)
{
    // Callers offer a seed for the rows marked seeded and for no other: a row that draws random
    // numbers unmarked would give a script different pictures run after run.
    for (const COperation& op : OperationTable()) {
        bool differs = false;
        std::vector<COpArgs> sets = InnerArguments(op);
        sets.resize(std::min<std::size_t>(sets.size(), 8));
        for (const COpArgs& args : sets) {
            CImage pictures[2] = {Pattern(23, 17), Pattern(23, 17)};
            for (int i = 0; i < 2; ++i) {
                CImageProcessor engine(&pictures[i]);
                engine.SetSeedOverride(100 + i);
                op.call(engine, args);
            }
            differs = differs || !SamePixels(pictures[0], pictures[1]);
        }
        EXPECT_EQ(differs, op.seeded) << op.name;
    }
}
