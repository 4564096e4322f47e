#include "core/operation_text.h"

#include <gtest/gtest.h>

TEST(OperationText, RecipeSkipsCommentsAndBlanksAndKeepsOrder)
{
    std::vector<CPlannedOperation> steps;
    const std::string error = ParseRecipe("# sharpen first\n  Sharpen  \n\n\tInvert # then invert\r\n"
                                          "GaussianBlur=2.5\n   # only a comment",
                                          steps);
    ASSERT_EQ(error, "");
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].op->name, "Sharpen");
    EXPECT_EQ(steps[1].op->name, "Invert");
    EXPECT_EQ(steps[2].op->name, "GaussianBlur");
    EXPECT_DOUBLE_EQ(steps[2].args.Values()[0], 2.5);
    // Arguments left out take the row's defaults, as on the command line.
    EXPECT_EQ(steps[2].args.Values().size(), steps[2].op->params.size());
}

TEST(OperationText, RecipeErrorNamesTheLineAndLeavesStepsAlone)
{
    std::vector<CPlannedOperation> steps;
    ASSERT_EQ(ParseRecipe("Invert", steps), "");
    EXPECT_EQ(ParseRecipe("Invert\n# fine\nNoSuchThing=1\n", steps),
              "line 3: unknown operation 'NoSuchThing' (see --list)");
    EXPECT_EQ(ParseRecipe("\n\nGaussianBlur=-4\n", steps).rfind("line 3: ", 0), 0u);
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].op->name, "Invert");
    EXPECT_EQ(ParseRecipe("", steps), "");
    EXPECT_TRUE(steps.empty());
}

TEST(OperationText, RecipeGivesEachStepsTextAsWritten)
{
    std::vector<CPlannedOperation> steps;
    std::vector<std::string> lines{"left alone"};
    EXPECT_NE(ParseRecipe("Invert\nBlurr\n", steps, &lines), "");
    EXPECT_EQ(lines, std::vector<std::string>{"left alone"});
    ASSERT_EQ(ParseRecipe("# head\n \tLevels=a,10,245 # clip\r\n\ninvert\n", steps, &lines), "");
    EXPECT_EQ(lines, (std::vector<std::string>{"Levels=a,10,245", "invert"}));
    ASSERT_EQ(steps.size(), lines.size());
}
