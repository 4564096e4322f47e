#include "core/image_history.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

using namespace test_pictures;

namespace {

// Each "command" leaves a picture whose top-left blue byte names it.
void Apply(CImage& picture, int command)
{
    Pixel(picture, 0, 0)[0] = static_cast<std::uint8_t>(command);
}

int Shown(const CImage& picture)
{
    return Pixel(picture, 0, 0)[0];
}

struct OpenedDocument
{
    CImage picture = Filled(4, 3, 0, 10, 20);
    CImageHistory history;
    OpenedDocument() { EXPECT_TRUE(history.Push(picture)); }
    void Command(int n)
    {
        Apply(picture, n);
        ASSERT_TRUE(history.Push(picture));
    }
};

} // namespace

TEST(CImageHistory, RightAfterOpeningUndoAndRedoKeepTheOpenedPicture)
{
    OpenedDocument doc;
    EXPECT_EQ(doc.history.count(), 1);
    EXPECT_EQ(doc.history.currentIndex(), 0);
    const CImage opened = Filled(4, 3, 0, 10, 20);
    EXPECT_TRUE(doc.history.Undo(doc.picture));
    EXPECT_TRUE(SamePixels(doc.picture, opened));
    EXPECT_TRUE(doc.history.Redo(doc.picture));
    EXPECT_TRUE(SamePixels(doc.picture, opened));
    EXPECT_EQ(doc.history.currentIndex(), 0);
}

TEST(CImageHistory, TwentyCommandsKeepOpenedPictureAndTheNewestFifteen)
{
    OpenedDocument doc;
    for (int n = 1; n <= 20; ++n) doc.Command(n);
    ASSERT_EQ(doc.history.count(), 16);
    EXPECT_EQ(doc.history.currentIndex(), 15);
    EXPECT_EQ(Shown(doc.history.snapshot(0)), 0);
    for (int i = 1; i < 16; ++i) EXPECT_EQ(Shown(doc.history.snapshot(i)), 5 + i);

    for (int step = 1; step <= 15; ++step) {
        ASSERT_TRUE(doc.history.Undo(doc.picture));
        EXPECT_EQ(Shown(doc.picture), step == 15 ? 0 : 20 - step);
    }
    // 14 undos reach command 6; the 15th shows the opened picture and further ones stay there.
    EXPECT_EQ(doc.history.currentIndex(), 0);
    doc.history.Undo(doc.picture);
    EXPECT_EQ(Shown(doc.picture), 0);
    EXPECT_EQ(doc.history.currentIndex(), 0);
}

TEST(CImageHistory, NewCommandAfterUndoDropsTheRedoBranch)
{
    OpenedDocument doc;
    doc.Command('A');
    doc.Command('B');
    doc.history.Undo(doc.picture);
    EXPECT_EQ(Shown(doc.picture), 'A');
    doc.Command('C');
    ASSERT_EQ(doc.history.count(), 3);
    EXPECT_EQ(Shown(doc.history.snapshot(1)), 'A');
    EXPECT_EQ(Shown(doc.history.snapshot(2)), 'C');
    // Redo at the newest state re-copies it; B is gone for good.
    doc.history.Redo(doc.picture);
    EXPECT_EQ(Shown(doc.picture), 'C');
    EXPECT_EQ(doc.history.currentIndex(), 2);
    EXPECT_FALSE(doc.history.CanRedo());
}

TEST(CImageHistory, UndoRestoresTheEarlierSizeInTheSamePictureObject)
{
    OpenedDocument doc;
    CImage* const object = &doc.picture;
    CImage wide = Pattern(9, 2);
    doc.picture = std::move(wide);
    ASSERT_TRUE(doc.history.Push(doc.picture));
    doc.history.Undo(doc.picture);
    EXPECT_EQ(object->width(), 4);
    EXPECT_EQ(object->height(), 3);
    doc.history.Redo(doc.picture);
    EXPECT_EQ(object->width(), 9);
    EXPECT_TRUE(SamePixels(*object, Pattern(9, 2)));
}

TEST(CImageHistory, EmptyHistoryIgnoresUndoAndRedo)
{
    CImageHistory history;
    CImage picture = Pattern(2, 2);
    EXPECT_TRUE(history.Undo(picture));
    EXPECT_TRUE(history.Redo(picture));
    EXPECT_EQ(history.currentIndex(), -1);
    EXPECT_TRUE(SamePixels(picture, Pattern(2, 2)));
}

TEST(CImageHistory, SnapshotThatCannotBeMadeIsNotRecorded)
{
    // The faulty behaviour would append an empty snapshot that Undo/Redo later "restore".
    OpenedDocument doc;
    doc.Command(1);
    CImage bigger = Pattern(50, 40);
    doc.picture = std::move(bigger);
    orvex_testing::FailImageAllocationsAfter(0);
    EXPECT_FALSE(doc.history.Push(doc.picture));
    orvex_testing::FailImageAllocationsAfter(-1);
    EXPECT_EQ(doc.history.count(), 1); // it gave up command 1's state trying to make room
    EXPECT_EQ(doc.history.currentIndex(), 0);
    for (int i = 0; i < doc.history.count(); ++i) EXPECT_FALSE(doc.history.snapshot(i).IsNull());
    doc.history.Undo(doc.picture);
    EXPECT_EQ(doc.picture.width(), 4);
    EXPECT_EQ(Shown(doc.picture), 0);
}

TEST(CImageHistory, UnderMemoryPressureOlderStatesMakeRoomForTheNewest)
{
    OpenedDocument doc;
    for (int n = 1; n <= 3; ++n) doc.Command(n);
    CImage other = Pattern(30, 30);
    doc.picture = std::move(other);
    orvex_testing::FailImageAllocationsAfter(0);
    // Allocation keeps failing, so every droppable state goes and the push still fails...
    EXPECT_FALSE(doc.history.Push(doc.picture));
    orvex_testing::FailImageAllocationsAfter(-1);
    // ...but what remains is whole: the opened picture, current.
    ASSERT_EQ(doc.history.count(), 1);
    EXPECT_EQ(Shown(doc.history.snapshot(0)), 0);
    EXPECT_TRUE(doc.history.Push(doc.picture));
    EXPECT_EQ(doc.history.count(), 2);
}

TEST(CImageHistory, RestoreThatCannotAllocateLeavesPictureAndIndex)
{
    OpenedDocument doc;
    CImage big = Pattern(20, 20);
    doc.picture = std::move(big);
    ASSERT_TRUE(doc.history.Push(doc.picture));
    orvex_testing::FailImageAllocationsAfter(0);
    EXPECT_FALSE(doc.history.Undo(doc.picture));
    orvex_testing::FailImageAllocationsAfter(-1);
    EXPECT_EQ(doc.history.currentIndex(), 1);
    EXPECT_TRUE(SamePixels(doc.picture, Pattern(20, 20)));
}

TEST(CImageHistory, FullHistoryRecyclesWithoutChangingResults)
{
    OpenedDocument doc;
    for (int n = 1; n <= 40; ++n) doc.Command(n);
    ASSERT_EQ(doc.history.count(), 16);
    for (int i = 1; i < 16; ++i) EXPECT_EQ(Shown(doc.history.snapshot(i)), 25 + i);
    // Snapshots own distinct memory.
    for (int i = 0; i < 16; ++i)
        for (int j = i + 1; j < 16; ++j) EXPECT_NE(doc.history.snapshot(i).bits(), doc.history.snapshot(j).bits());
}

TEST(CImageHistory, SharedCurrentSurvivesLaterPushesAndUndos)
{
    OpenedDocument doc;
    doc.Command(1);
    const std::shared_ptr<const CImage> held = doc.history.SharedCurrent();
    ASSERT_TRUE(held);
    EXPECT_EQ(Shown(*held), 1);
    // The held state leaves the history (redo states discarded, the full history recycling), but a
    // reader still holding it must keep seeing its pixels: it may not become the spare.
    EXPECT_TRUE(doc.history.Undo(doc.picture));
    for (int n = 2; n <= 40; ++n) doc.Command(n);
    EXPECT_EQ(Shown(*held), 1);
    for (int i = 0; i < doc.history.count(); ++i) EXPECT_NE(doc.history.snapshot(i).bits(), held->bits());
}
