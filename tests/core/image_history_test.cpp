#include "core/image_history.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

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

int ShownAt(const CImageHistory& history, int index)
{
    CImage state;
    EXPECT_TRUE(history.Materialize(index, state));
    return state.IsNull() ? -1 : Shown(state);
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
    EXPECT_EQ(ShownAt(doc.history, 0), 0);
    for (int i = 1; i < 16; ++i) EXPECT_EQ(ShownAt(doc.history, i), 5 + i);

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
    EXPECT_EQ(ShownAt(doc.history, 1), 'A');
    EXPECT_EQ(ShownAt(doc.history, 2), 'C');
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
    // The last recorded state stays current: Undo from the unrecorded picture comes back to it.
    EXPECT_EQ(doc.history.count(), 2);
    EXPECT_EQ(doc.history.currentIndex(), 1);
    EXPECT_EQ(ShownAt(doc.history, 0), 0);
    doc.history.Redo(doc.picture);
    EXPECT_EQ(doc.picture.width(), 4);
    EXPECT_EQ(Shown(doc.picture), 1);
    doc.history.Undo(doc.picture);
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
    // ...but what remains is whole: the opened picture and the last recorded state, current.
    ASSERT_EQ(doc.history.count(), 2);
    EXPECT_EQ(ShownAt(doc.history, 0), 0);
    EXPECT_EQ(ShownAt(doc.history, 1), 3);
    EXPECT_TRUE(doc.history.droppedForMemory());
    EXPECT_TRUE(doc.history.Push(doc.picture));
    EXPECT_EQ(doc.history.count(), 3);
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
    for (int i = 1; i < 16; ++i) EXPECT_EQ(ShownAt(doc.history, i), 25 + i);
    doc.history.WaitUntilSettled();
    for (int i = 1; i < 16; ++i) EXPECT_EQ(ShownAt(doc.history, i), 25 + i);
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
    doc.history.WaitUntilSettled();
    EXPECT_EQ(Shown(*held), 1);
    EXPECT_NE(doc.history.current().bits(), held->bits());
}

// ---- packed states

namespace {

// Same layout and every byte of the buffer equal, row padding included.
bool SameBytes(const CImage& a, const CImage& b)
{
    return a.width() == b.width() && a.height() == b.height() && a.bitsPerPixel() == b.bitsPerPixel() &&
           a.pitch() == b.pitch() && std::memcmp(a.bufferStart(), b.bufferStart(), a.bufferBytes()) == 0;
}

// A plain quarter turn, the reference for a state of another size.
CImage Turned(const CImage& source)
{
    CImage out;
    out.Create(source.height(), source.width(), 24);
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x)
            std::memcpy(Pixel(out, source.height() - 1 - y, x), Pixel(source, x, y), 3);
    return out;
}

// Steps of the kinds a photo goes through: a change everywhere, a small change, a slight one, a
// new size.
CImage Step(const CImage& before, int n)
{
    CImage out = Copy(before);
    switch (n % 5) {
    case 0: // invert
        for (int y = 0; y < out.height(); ++y)
            for (int i = 0; i < 3 * out.width(); ++i) Pixel(out, 0, y)[i] = std::uint8_t(~Pixel(out, 0, y)[i]);
        break;
    case 1: // one pixel
        Pixel(out, out.width() / 2, out.height() - 1)[1] ^= 0x5A;
        break;
    case 2: // a slight brightening
        for (int y = 0; y < out.height(); ++y)
            for (int i = 0; i < 3 * out.width(); ++i)
                Pixel(out, 0, y)[i] = std::uint8_t(std::min(255, Pixel(out, 0, y)[i] + 3));
        break;
    case 3: return Turned(before);
    case 4: { // a wider canvas, the old picture at the left
        CImage wide = Filled(before.width() + 3, before.height(), 200, 100, 50);
        for (int y = 0; y < before.height(); ++y)
            std::memcpy(Pixel(wide, 0, y), Pixel(before, 0, y), 3 * before.width());
        return wide;
    }
    }
    return out;
}

struct CRecorded
{
    CImageHistory history;
    CImage picture;
    std::vector<CImage> states; // what each history index must give back

    explicit CRecorded(CImage opened) : picture(std::move(opened))
    {
        EXPECT_TRUE(history.Push(picture));
        states.push_back(Copy(picture));
    }
    void Command(int n, const std::string& name = {})
    {
        picture = Step(picture, n);
        states.resize(std::size_t(history.currentIndex() + 1));
        ASSERT_TRUE(history.Push(picture, name));
        states.push_back(Copy(picture));
        Sync();
    }
    // The history keeps the opened picture and the newest states it has room for.
    void Sync()
    {
        while (int(states.size()) > history.count()) states.erase(states.begin() + 1);
    }
    void ExpectAllStates()
    {
        Sync();
        ASSERT_EQ(int(states.size()), history.count());
        for (int i = 0; i < history.count(); ++i) {
            CImage state;
            ASSERT_TRUE(history.Materialize(i, state)) << i;
            EXPECT_TRUE(SameBytes(state, states[std::size_t(i)])) << "state " << i;
        }
    }
    // Undo to the opened picture and Redo back, each step's picture checked.
    void RoundTrip(bool settleBetween)
    {
        Sync();
        const int top = history.currentIndex();
        for (int i = top - 1; i >= 0; --i) {
            ASSERT_TRUE(history.Undo(picture));
            ASSERT_TRUE(SameBytes(picture, states[std::size_t(i)])) << "undo to " << i;
            if (settleBetween) history.WaitUntilSettled();
        }
        for (int i = 1; i <= top; ++i) {
            ASSERT_TRUE(history.Redo(picture));
            ASSERT_TRUE(SameBytes(picture, states[std::size_t(i)])) << "redo to " << i;
            if (settleBetween) history.WaitUntilSettled();
        }
    }
};

// Noise with a gentle gradient: packs like a photo, in more than one band.
CImage PhotoLike(int width, int height)
{
    CImage picture = Noise(width, height, 7);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < 3 * width; ++i)
            Pixel(picture, 0, y)[i] = std::uint8_t(Pixel(picture, 0, y)[i] / 8 + y / 4 + i / 30);
    return picture;
}

std::string MissingDirectory()
{
    return ::testing::TempDir() + "/orvex-no-such-directory/nested";
}

} // namespace

TEST(CImageHistoryPacked, SixteenStepsRoundTripWithSizesChangingOnTheWay)
{
    CRecorded doc(PhotoLike(701, 523)); // odd width: row padding in every state; over one band
    for (int n = 0; n < 20; ++n) doc.Command(n);
    doc.history.WaitUntilSettled();
    EXPECT_EQ(doc.history.unpackedCount(), 0);
    std::size_t plain = 0;
    for (const CImage& s : doc.states) plain += s.bufferBytes();
    EXPECT_LT(doc.history.memoryInUse(), plain * 3 / 4);
    doc.ExpectAllStates();
    doc.RoundTrip(true);  // every step packed before the next
    doc.RoundTrip(false); // steps faster than the worker
    doc.history.WaitUntilSettled();
    doc.ExpectAllStates();
}

TEST(CImageHistoryPacked, TinyPicturesAndRedoBranchesDiscarded)
{
    CRecorded doc(Pattern(1, 1));
    for (int n = 0; n < 7; ++n) doc.Command(n);
    doc.history.WaitUntilSettled();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(doc.history.Undo(doc.picture));
    doc.history.WaitUntilSettled();
    doc.Command(2); // the three redo states go
    EXPECT_EQ(doc.history.count(), 6);
    EXPECT_FALSE(doc.history.CanRedo());
    doc.history.WaitUntilSettled();
    doc.ExpectAllStates();
    doc.RoundTrip(false);
}

TEST(CImageHistoryPacked, StepsAreNamed)
{
    CImageHistory history;
    CImage picture = Pattern(5, 4);
    ASSERT_TRUE(history.Push(picture));
    EXPECT_EQ(history.undoName(), "");
    ASSERT_TRUE(history.Push(picture, "Gaussian Blur"));
    ASSERT_TRUE(history.Push(picture, "Rotate 90° CW"));
    EXPECT_EQ(history.undoName(), "Rotate 90° CW");
    EXPECT_EQ(history.redoName(), "");
    ASSERT_TRUE(history.Undo(picture));
    EXPECT_EQ(history.undoName(), "Gaussian Blur");
    EXPECT_EQ(history.redoName(), "Rotate 90° CW");
}

TEST(CImageHistoryPacked, OverTheLimitOldestStatesGoToTheFile)
{
    CRecorded doc(PhotoLike(400, 300));
    doc.history.SetSpillDirectory(::testing::TempDir());
    for (int n = 0; n < 6; ++n) doc.Command(n);
    doc.history.WaitUntilSettled();
    const std::size_t limit = doc.picture.bufferBytes() * 2;
    doc.history.SetMemoryLimit(limit);
    doc.history.WaitUntilSettled();
    EXPECT_GT(doc.history.spilledCount(), 0);
    EXPECT_LE(doc.history.memoryInUse(), limit);
    EXPECT_FALSE(doc.history.droppedForMemory());
    doc.ExpectAllStates();
    doc.RoundTrip(false);
    doc.history.WaitUntilSettled();
    doc.ExpectAllStates();
}

TEST(CImageHistoryPacked, NoMemoryToPackSendsStatesToTheFileAsTheyAre)
{
    CRecorded doc(PhotoLike(300, 200));
    orvex_testing::FailHistoryBuffersAfter(0);
    for (int n = 0; n < 5; ++n) doc.Command(n);
    doc.history.WaitUntilSettled();
    orvex_testing::FailHistoryBuffersAfter(-1);
    EXPECT_EQ(doc.history.spilledCount(), doc.history.count() - 1);
    EXPECT_EQ(doc.history.unpackedCount(), 0);
    doc.ExpectAllStates();
    doc.RoundTrip(false);
}

TEST(CImageHistoryPacked, WithoutMemoryAndWithoutFileStatesStayPlain)
{
    CRecorded doc(PhotoLike(300, 200));
    doc.history.SetSpillDirectory(MissingDirectory());
    orvex_testing::FailHistoryBuffersAfter(0);
    for (int n = 0; n < 5; ++n) doc.Command(n);
    doc.history.WaitUntilSettled();
    orvex_testing::FailHistoryBuffersAfter(-1);
    EXPECT_EQ(doc.history.spilledCount(), 0);
    EXPECT_EQ(doc.history.unpackedCount(), doc.history.count() - 1);
    EXPECT_FALSE(doc.history.droppedForMemory());
    doc.ExpectAllStates();
    doc.RoundTrip(false);
}

TEST(CImageHistoryPacked, DroppingIsTheLastResortAndIsReported)
{
    CRecorded doc(PhotoLike(300, 200));
    doc.history.SetSpillDirectory(MissingDirectory());
    for (int n = 0; n < 6; ++n) doc.Command(n % 3); // sizes kept, so every state packs small
    doc.history.WaitUntilSettled();
    EXPECT_EQ(doc.history.count(), 7);
    // Room for the current state and a little: the file cannot take the rest, so old states go.
    doc.history.SetMemoryLimit(doc.picture.bufferBytes() + doc.picture.bufferBytes() / 4);
    doc.history.WaitUntilSettled();
    EXPECT_FALSE(doc.history.droppedForMemory()) << "only a change drops states";
    doc.Command(1);
    EXPECT_TRUE(doc.history.droppedForMemory());
    EXPECT_LT(doc.history.count(), 8);
    EXPECT_GE(doc.history.count(), 2);
    doc.ExpectAllStates(); // the states kept are the opened picture and the newest ones
    doc.RoundTrip(false);
}

TEST(CImageHistoryPacked, PushWithoutMemorySpillsBeforeDropping)
{
    CRecorded doc(PhotoLike(300, 200));
    doc.history.SetSpillDirectory(::testing::TempDir());
    doc.history.PauseWorker(true); // states held plain, as right after fast commands
    for (int n = 0; n < 4; ++n) doc.Command(n % 3);
    CImage next = Step(doc.picture, 2);
    orvex_testing::FailImageAllocationsAfter(0);
    EXPECT_FALSE(doc.history.Push(next));
    orvex_testing::FailImageAllocationsAfter(-1);
    // Every state went to the file before the states between were given up; the opened picture is
    // read back from there, the last recorded state stays current.
    EXPECT_EQ(doc.history.count(), 2);
    EXPECT_EQ(doc.history.spilledCount(), 1);
    EXPECT_TRUE(doc.history.droppedForMemory());
    doc.history.PauseWorker(false);
    doc.ExpectAllStates();
}

TEST(CImageHistoryPacked, SharedCurrentKeepsItsPixelsWhileThePackerRuns)
{
    CRecorded doc(PhotoLike(320, 240));
    doc.Command(2);
    const std::shared_ptr<const CImage> held = doc.history.SharedCurrent();
    const CImage expected = Copy(*held);
    doc.Command(0);
    doc.Command(2);
    ASSERT_TRUE(doc.history.Undo(doc.picture));
    ASSERT_TRUE(doc.history.Undo(doc.picture)); // the held state is current again
    doc.Command(1);                             // held state now packed behind the newest
    doc.history.WaitUntilSettled();
    doc.Command(1);
    doc.history.WaitUntilSettled();
    EXPECT_TRUE(SameBytes(*held, expected));
    EXPECT_NE(doc.history.current().bits(), held->bits());
}
