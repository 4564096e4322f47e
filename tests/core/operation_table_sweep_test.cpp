// Every registered operation, at the edges of its parameter ranges, on tiny and odd-sized pictures:
// no crash, no sanitizer report, and the picture keeps its size unless the operation may change it.
#include "core/image_processor.h"
#include "core/operation_table.h"
#include "core/random.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace test_pictures;

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
