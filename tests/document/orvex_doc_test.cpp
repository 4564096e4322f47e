#include "document/orvex_doc.h"
#include "io/picture_codec.h"
#include "io/picture_file.h"
#include "tests/test_pictures.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <deque>

using namespace test_pictures;

namespace {

// Answers the document's questions from a script and records what it was shown.
class CScriptedUi : public IDocumentUi
{
public:
    struct Message
    {
        QString caption, text;
        Icon icon;
    };
    std::vector<Message> messages;
    std::vector<QString> prompts;
    std::deque<Answer> answers;
    std::deque<QString> savePaths;
    int optionsAsked = 0;

    void ShowMessage(const QString& caption, const QString& text, Icon icon) override
    {
        messages.push_back({caption, text, icon});
    }
    Answer AskYesNoCancel(const QString& caption, const QString& text) override
    {
        prompts.push_back(caption + "|" + text);
        Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    QString AskSavePath(const QString&) override
    {
        QString p = savePaths.front();
        savePaths.pop_front();
        return p;
    }
    bool AskSaveOptions(const QString&, const CImage&, const CPictureMetadata&, CSaveOptions&) override
    {
        ++optionsAsked;
        return true;
    }
};

class DocumentTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        path = dir.filePath(QStringLiteral("photo.png"));
        ASSERT_TRUE(SavePicture(Pattern(12, 8), path));
        ASSERT_TRUE(doc.Open(path));
    }
    void ApplyInvert()
    {
        doc.engine().Invert();
        ASSERT_TRUE(doc.CommitChange());
    }

    QTemporaryDir dir;
    QString path;
    CScriptedUi ui;
    COrvexDoc doc{&ui};
};

} // namespace

TEST_F(DocumentTest, OpenedDocumentIsCleanWithOneSnapshotAndAFreshEngine)
{
    EXPECT_FALSE(doc.modified());
    EXPECT_EQ(doc.history().count(), 1);
    EXPECT_EQ(doc.history().currentIndex(), 0);
    EXPECT_TRUE(SamePixels(doc.picture(), Pattern(12, 8)));
    EXPECT_EQ(doc.engine().image(), &doc.picture());
    EXPECT_EQ(doc.engine().preview.load(), 0);
    EXPECT_EQ(doc.engine().running.load(), 0);
    EXPECT_EQ(doc.engine().cancel.load(), 0);
    EXPECT_EQ(doc.title(), QStringLiteral("photo.png"));
    // Closing without any change asks nothing.
    EXPECT_TRUE(doc.CanClose());
    EXPECT_TRUE(ui.prompts.empty());
}

TEST_F(DocumentTest, ModifiedFlagSurvivesUndoAndClearsOnSave)
{
    ApplyInvert();
    EXPECT_TRUE(doc.modified());
    EXPECT_EQ(doc.history().count(), 2);
    ASSERT_TRUE(doc.Undo());
    EXPECT_TRUE(SamePixels(doc.picture(), Pattern(12, 8)));
    EXPECT_TRUE(doc.modified()); // Undo does not clear it
    ASSERT_TRUE(doc.Redo());
    EXPECT_FALSE(SamePixels(doc.picture(), Pattern(12, 8)));

    const QString saved = dir.filePath(QStringLiteral("saved.bmp"));
    ASSERT_TRUE(doc.Save(saved));
    EXPECT_FALSE(doc.modified());
    EXPECT_EQ(doc.title(), QStringLiteral("saved.bmp"));
    EXPECT_TRUE(doc.CanClose());
    EXPECT_TRUE(ui.prompts.empty());
}

// The selection is clamped to the picture, is not a history step, survives Undo and Redo while the
// size stays, and is dropped by any change of size (a rotation, then undoing it).
TEST_F(DocumentTest, SelectionFollowsThePictureSize)
{
    int told = 0;
    doc.SetSelectionListener([&] { ++told; });
    doc.SetSelection(CRegion{-3, 5, 10, 10});
    ASSERT_TRUE(doc.selection().has_value());
    EXPECT_EQ(*doc.selection(), (CRegion{0, 5, 7, 3}));
    doc.SetSelection(CRegion{0, 5, 7, 3});
    EXPECT_EQ(told, 1) << "the same rectangle again is no change";
    doc.SetSelection(CRegion{12, 0, 4, 4});
    EXPECT_FALSE(doc.selection().has_value()) << "a rectangle beside the picture selects nothing";
    EXPECT_EQ(doc.history().count(), 1);

    doc.SetSelection(CRegion{1, 1, 2, 2});
    ApplyInvert();
    ASSERT_TRUE(doc.Undo());
    ASSERT_TRUE(doc.Redo());
    EXPECT_EQ(doc.selection(), std::optional<CRegion>(CRegion{1, 1, 2, 2}));

    doc.engine().Rotate90CW();
    ASSERT_TRUE(doc.CommitChange());
    EXPECT_FALSE(doc.selection().has_value());
    doc.SetSelection(CRegion{0, 0, 8, 12});
    ASSERT_TRUE(doc.Undo());
    EXPECT_FALSE(doc.selection().has_value());
}

TEST_F(DocumentTest, ClosePromptAnswers)
{
    ApplyInvert();
    ui.answers = {IDocumentUi::Answer::Cancel};
    EXPECT_FALSE(doc.CanClose());
    ASSERT_EQ(ui.prompts.size(), 1u);
    EXPECT_EQ(ui.prompts[0], QStringLiteral("Orvex|Save changes to the Orvex document\n %1 before closening?").arg(doc.pathName()));

    ui.answers = {IDocumentUi::Answer::No};
    EXPECT_TRUE(doc.CanClose());
    EXPECT_TRUE(doc.modified()); // nothing saved

    // Yes goes through Save As even though the document has a path.
    const QString target = dir.filePath(QStringLiteral("answer-yes.png"));
    ui.answers = {IDocumentUi::Answer::Yes};
    ui.savePaths = {target};
    EXPECT_TRUE(doc.CanClose());
    EXPECT_TRUE(QFile::exists(target));
    EXPECT_FALSE(doc.modified());
}

// "Discard All" closes unsaved, and only where it was offered; the other answers mean what they
// mean for CanClose.
TEST_F(DocumentTest, ClosePromptWithDiscardAll)
{
    ApplyInvert();
    const QByteArray before = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    ui.answers = {IDocumentUi::Answer::DiscardAll, IDocumentUi::Answer::DiscardAll, IDocumentUi::Answer::No,
                  IDocumentUi::Answer::Cancel};
    EXPECT_EQ(doc.AskToClose(true), COrvexDoc::CloseVerdict::DiscardAll);
    EXPECT_EQ(doc.AskToClose(false), COrvexDoc::CloseVerdict::Keep);
    EXPECT_EQ(doc.AskToClose(true), COrvexDoc::CloseVerdict::Close);
    EXPECT_EQ(doc.AskToClose(true), COrvexDoc::CloseVerdict::Keep);
    EXPECT_EQ(ui.prompts.size(), 4u);
    EXPECT_TRUE(doc.modified());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);

    doc.SetModified(false);
    EXPECT_EQ(doc.AskToClose(true), COrvexDoc::CloseVerdict::Close) << "nothing to ask about";
    EXPECT_EQ(ui.prompts.size(), 4u);
}

TEST_F(DocumentTest, YesWithCancelledOrFailedSaveKeepsTheDocumentOpen)
{
    // Closing anyway would throw the user's changes away right after they asked to keep them.
    ApplyInvert();
    ui.answers = {IDocumentUi::Answer::Yes, IDocumentUi::Answer::Yes};
    ui.savePaths = {QString(), dir.filePath(QStringLiteral("no-encoder.xyz"))};
    EXPECT_FALSE(doc.CanClose()); // Save As cancelled
    EXPECT_FALSE(doc.CanClose()); // Save As failed
    EXPECT_TRUE(doc.modified());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].caption, QStringLiteral("Save Error"));
}

TEST_F(DocumentTest, FailedSaveShowsThePathAndChangesNothing)
{
    ApplyInvert();
    const QString bad = dir.filePath(QStringLiteral("picture.NOPE"));
    EXPECT_FALSE(doc.Save(bad));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].caption, QStringLiteral("Save Error"));
    // "Can not save" (two words) is the program's own message: keep it.
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("Can not save ") + bad +
                                       QStringLiteral("\nno picture format is known for this file name's extension"));
    EXPECT_EQ(ui.messages[0].icon, IDocumentUi::Icon::Warning);
    EXPECT_TRUE(doc.modified());
    EXPECT_EQ(doc.title(), QStringLiteral("photo.png"));
    EXPECT_FALSE(QFile::exists(bad));

    // A capitalised extension picks the same encoder as a small one.
    const QString caps = dir.filePath(QStringLiteral("CAPS.PNG"));
    EXPECT_TRUE(doc.Save(caps));
    CImage back;
    ASSERT_TRUE(LoadPicture(caps, back));
    EXPECT_TRUE(SamePixels(back, doc.picture()));
}

TEST_F(DocumentTest, SaveAsRefusesASizeTheFormatCannotHoldBeforeTheOptions)
{
    // Asking for quality first and refusing only once the user has answered wastes their time.
    ASSERT_TRUE(doc.picture().Create(70000, 1, 24));
    ASSERT_TRUE(doc.CommitChange());
    const QString jpeg = dir.filePath(QStringLiteral("wide.jpg"));
    ui.savePaths = {jpeg};
    EXPECT_FALSE(doc.SaveAs());
    EXPECT_EQ(ui.optionsAsked, 0);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].caption, QStringLiteral("Save Error"));
    EXPECT_EQ(ui.messages[0].text.toStdString(),
              QStringLiteral("Can not save %1\nJPEG files are limited to 65500 pixels a side (this picture is 70000 x 1)")
                  .arg(jpeg)
                  .toStdString());
    EXPECT_FALSE(QFile::exists(jpeg));

    // PNG holds it: the options step comes.
    ui.savePaths = {dir.filePath(QStringLiteral("wide.png"))};
    EXPECT_TRUE(doc.SaveAs());
    EXPECT_EQ(ui.optionsAsked, 1);
}

TEST(Document, UndecodableFileShowsLoadFailed)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("broken.jpg"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("\xFF\xD8\xFF\xE0 not really a jpeg");
    }
    CScriptedUi ui;
    COrvexDoc doc(&ui);
    EXPECT_FALSE(doc.Open(path));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].caption, QStringLiteral("Orvex"));
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("Load failed"));
    EXPECT_FALSE(doc.lastError().isEmpty());
    EXPECT_EQ(doc.history().count(), 0);
    EXPECT_TRUE(doc.picture().IsNull());
}

TEST(Document, CommandWhoseSnapshotCannotBeMadeIsReported)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.png"));
    ASSERT_TRUE(SavePicture(Pattern(6, 6), path));
    COrvexDoc doc;
    ASSERT_TRUE(doc.Open(path));
    doc.engine().Invert();
    orvex_testing::FailImageAllocationsAfter(0);
    EXPECT_FALSE(doc.CommitChange());
    orvex_testing::FailImageAllocationsAfter(-1);
    EXPECT_TRUE(doc.modified());
    EXPECT_EQ(doc.history().count(), 1);
    ASSERT_TRUE(doc.Undo());
    EXPECT_TRUE(SamePixels(doc.picture(), Pattern(6, 6)));
}
