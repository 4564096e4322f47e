#include "document/orvex_doc.h"
#include "document/recovery_file.h"
#include "document/recovery_folder.h"
#include "document/recovery_keeper.h"
#include "tests/test_pictures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace test_pictures;

namespace {

CRecoveryInfo Info()
{
    CRecoveryInfo info;
    info.path = QStringLiteral("/srv/ann/Bilder/Größe 1.jpg");
    info.name = QStringLiteral("Größe 1.jpg");
    info.format = QStringLiteral("jpeg");
    info.time = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
    return info;
}

bool Decodes(const std::vector<std::uint8_t>& bytes, std::size_t size)
{
    CRecoveryInfo info;
    CImage picture;
    return DecodeRecovery(bytes.data(), size, info, picture);
}

bool WaitFor(const std::function<bool()>& done, int ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

// Inverts the document's picture in place and records it, as a command would.
void Change(COrvexDoc& doc)
{
    CImage& picture = doc.picture();
    for (int y = 0; y < picture.height(); ++y)
        for (int i = 0; i < 3 * picture.width(); ++i) Pixel(picture, 0, y)[i] ^= 0xFF;
    ASSERT_TRUE(doc.CommitChange());
}

} // namespace

// Odd widths (rows not a multiple of 4 bytes), 1 x 1, one row per frame and a last frame shorter
// than the others: the pixels and every header field come back exactly.
TEST(RecoveryFile, RoundTripsPixelsAndHeader)
{
    struct Case
    {
        int width, height, rowsPerFrame;
    } cases[] = {{1, 1, 0}, {7, 5, 0}, {7, 5, 1}, {13, 11, 4}, {5, 9, 9}, {300, 2, 0}};
    for (const Case& c : cases) {
        const CImage picture = Noise(c.width, c.height, std::uint32_t(c.width * 31 + c.rowsPerFrame));
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(EncodeRecovery(Info(), picture, bytes, nullptr, c.rowsPerFrame));
        CRecoveryInfo info;
        CImage back;
        QString reason;
        ASSERT_TRUE(DecodeRecovery(bytes.data(), bytes.size(), info, back, &reason)) << reason.toStdString();
        EXPECT_TRUE(SamePixels(picture, back)) << c.width << "x" << c.height << " rows " << c.rowsPerFrame;
        EXPECT_EQ(info.path, Info().path);
        EXPECT_EQ(info.name, Info().name);
        EXPECT_EQ(info.format, Info().format);
        EXPECT_EQ(info.time, Info().time);
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
    }
}

// Every shorter length, every byte changed, and a byte too many: each is refused, never a
// picture made of what happened to decode.
TEST(RecoveryFile, EveryTruncationAndDamagedByteIsRefused)
{
    const CImage picture = Noise(9, 7, 5);
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(EncodeRecovery(Info(), picture, bytes, nullptr, 3));
    ASSERT_TRUE(Decodes(bytes, bytes.size()));
    for (std::size_t size = 0; size < bytes.size(); ++size) EXPECT_FALSE(Decodes(bytes, size)) << "cut at " << size;
    for (std::size_t at = 0; at < bytes.size(); ++at)
        for (const std::uint8_t flip : {std::uint8_t(0x01), std::uint8_t(0x80)}) {
            std::vector<std::uint8_t> damaged = bytes;
            damaged[at] ^= flip;
            EXPECT_FALSE(Decodes(damaged, damaged.size())) << "byte " << at << " ^ " << int(flip);
        }
    std::vector<std::uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(Decodes(longer, longer.size()));
}

// A file is replaced whole: no temporary is left beside it, and a failed read leaves the
// caller's picture alone.
TEST(RecoveryFile, WritesAtomicallyAndReadsBack)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a") + kRecoverySuffix);
    ASSERT_TRUE(WriteRecoveryFile(file, Info(), Pattern(31, 17, 1)));
    ASSERT_TRUE(WriteRecoveryFile(file, Info(), Pattern(5, 3, 2)));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QFileInfo(file).fileName()});
    CRecoveryInfo info;
    CImage back;
    ASSERT_TRUE(ReadRecoveryFile(file, info, back));
    EXPECT_TRUE(SamePixels(back, Pattern(5, 3, 2)));

    QFile truncate(file);
    ASSERT_TRUE(truncate.resize(truncate.size() - 1));
    CImage untouched = Pattern(2, 2);
    QString reason;
    EXPECT_FALSE(ReadRecoveryFile(file, info, untouched, &reason));
    EXPECT_TRUE(reason.contains(QStringLiteral("truncated"))) << reason.toStdString();
    EXPECT_TRUE(SamePixels(untouched, Pattern(2, 2)));
    EXPECT_FALSE(WriteRecoveryFile(dir.filePath(QStringLiteral("missing/b")), Info(), Pattern(3, 3)));
}

// Two editors at once never take each other's folders; a folder without a live lock is claimed
// by one editor only, and goes once its files have.
TEST(RecoveryFolder, LiveFoldersAreLeftAloneAndStaleOnesClaimedOnce)
{
    QTemporaryDir dir;
    CRecoveryFolder first(dir.path()), second(dir.path());
    ASSERT_TRUE(first.Open());
    ASSERT_TRUE(second.Open());
    ASSERT_NE(first.path(), second.path());
    EXPECT_TRUE(first.ClaimStale().empty());
    EXPECT_TRUE(second.ClaimStale().empty());

    // An editor that is gone leaves its folder without a lock.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("gone")));
    const QString left = QDir(dir.path()).filePath(QStringLiteral("gone/document-1") + kRecoverySuffix);
    ASSERT_TRUE(WriteRecoveryFile(left, Info(), Pattern(3, 2)));
    {
        auto claimed = first.ClaimStale();
        ASSERT_EQ(claimed.size(), 1u);
        EXPECT_EQ(claimed[0]->Files(), QStringList{left});
        EXPECT_TRUE(second.ClaimStale().empty());
    }
    // Released with its file ("Later"): there for the next start.
    auto again = second.ClaimStale();
    ASSERT_EQ(again.size(), 1u);
    ASSERT_TRUE(QFile::remove(left));
    again.clear();
    EXPECT_FALSE(QFileInfo::exists(QDir(dir.path()).filePath(QStringLiteral("gone"))));

    first.Finish();
    second.Finish();
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

// The quiet period and the count of changes each start a write; a save removes the file; a
// removal is never overtaken by a write under way.
TEST(RecoveryKeeper, WritesAfterQuietPeriodOrCountAndRemovesWhenSaved)
{
    QTemporaryDir dir;
    CRecoveryFolder folder(dir.filePath(QStringLiteral("recovery")));
    ASSERT_TRUE(folder.Open());
    COrvexDoc doc;
    ASSERT_TRUE(doc.OpenUntitled(Pattern(17, 9), QStringLiteral("Untitled-1"), false));
    {
        CRecoveryKeeper quiet(folder, {250, 1000});
        const int id = quiet.Track(doc);
        const QString file = quiet.FileOf(id);
        Change(doc);
        quiet.Changed(id);
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(WaitFor([&] { return quiet.writesDone() == 1; }));
        // Not before the quiet period (the timer may fire up to 5 % early).
        EXPECT_GE(clock.elapsed(), 230);
        CRecoveryInfo info;
        CImage back;
        ASSERT_TRUE(ReadRecoveryFile(file, info, back));
        EXPECT_TRUE(SamePixels(back, doc.picture()));
        EXPECT_EQ(info.name, QStringLiteral("Untitled-1"));
        EXPECT_TRUE(info.path.isEmpty());

        const QString saved = dir.filePath(QStringLiteral("saved.png"));
        ASSERT_TRUE(doc.Save(saved));
        quiet.Changed(id);
        ASSERT_TRUE(WaitFor([&] { return !quiet.busy(); }));
        EXPECT_FALSE(QFileInfo::exists(file));

        // A write handed to the worker and a close right after it: the file is gone at the end.
        Change(doc);
        quiet.WriteNow(id);
        quiet.Forget(id);
        ASSERT_TRUE(WaitFor([&] { return !quiet.busy(); }));
        QCoreApplication::processEvents();
        EXPECT_FALSE(QFileInfo::exists(file));
    }
    {
        CRecoveryKeeper counted(folder, {60000, 3});
        const int id = counted.Track(doc); // modified from before: one change already
        const QString file = counted.FileOf(id);
        Change(doc);
        counted.Changed(id);
        QThread::msleep(100);
        QCoreApplication::processEvents();
        EXPECT_EQ(counted.writesDone(), 0);
        Change(doc);
        counted.Changed(id);
        ASSERT_TRUE(WaitFor([&] { return counted.writesDone() == 1; }, 2000));
        CRecoveryInfo info;
        CImage back;
        ASSERT_TRUE(ReadRecoveryFile(file, info, back));
        EXPECT_TRUE(SamePixels(back, doc.picture()));
        EXPECT_EQ(info.path, QDir(dir.path()).filePath(QStringLiteral("saved.png")));
        EXPECT_EQ(info.format, QStringLiteral("png"));
    }
}

// A write that fails (the folder went away) is tried again after the quiet period, silently.
TEST(RecoveryKeeper, FailedWriteIsRetried)
{
    QTemporaryDir dir;
    CRecoveryFolder folder(dir.filePath(QStringLiteral("recovery")));
    ASSERT_TRUE(folder.Open());
    COrvexDoc doc;
    ASSERT_TRUE(doc.OpenUntitled(Pattern(4, 4), QStringLiteral("Untitled-1")));
    CRecoveryKeeper keeper(folder, {200, 1000});
    std::vector<bool> results;
    keeper.onWritten = [&](int, bool ok, double) { results.push_back(ok); };
    ASSERT_TRUE(QDir(folder.path()).removeRecursively());
    const int id = keeper.Track(doc);
    keeper.WriteNow(id);
    ASSERT_TRUE(WaitFor([&] { return results.size() == 1; }));
    EXPECT_FALSE(results[0]);
    ASSERT_TRUE(QDir().mkpath(folder.path()));
    ASSERT_TRUE(WaitFor([&] { return results.size() == 2; }));
    EXPECT_TRUE(results[1]);
    EXPECT_TRUE(QFileInfo::exists(keeper.FileOf(id)));
}
