// Exit with several modified documents: the order of the prompts, the window shown with each, and
// what "Discard All", Cancel and a failed save leave behind.
#include "shell/document_ui.h"
#include "tests/shell/shell_test_support.h"

#include <QFile>
#include <QFileDialog>

using namespace shell_test;

namespace {

constexpr CommandId kInvert = CommandId::Invert, kClose = CommandId::FileClose, kExit = CommandId::AppExit;

// What one close prompt showed.
struct Prompt
{
    QString document;   // the path it names, taken from its text
    QString activePath; // the document of the active window while it asked
    bool activeMinimized = true;
    bool discardAll = false;
    int buttons = 0;
};

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class ClosingTest : public ShellTest
{
protected:
    // Opens modified pictures a.png, b.png, ... in that order; the last is active.
    void OpenModified(int count)
    {
        for (int i = 0; i < count; ++i) {
            const QString path = WritePicture(QString(QChar('a' + i)) + ".png", 8, 6, i);
            paths << QFileInfo(path).absoluteFilePath();
            if (i == 0) Start({path});
            else m_app->OpenDocumentFile(path);
            Run(kInvert);
        }
        for (const QString& path : paths) onDisk << FileBytes(path);
    }

    void Activate(int index)
    {
        for (QMdiSubWindow* window : frame().mdiArea()->subWindowList())
            if (static_cast<CChildFrame*>(window)->host().doc().pathName() == paths[index])
                frame().mdiArea()->setActiveSubWindow(window);
    }

    QMdiSubWindow* WindowOf(int index) const
    {
        for (QMdiSubWindow* window : frame().mdiArea()->subWindowList())
            if (static_cast<CChildFrame*>(window)->host().doc().pathName() == paths[index]) return window;
        return nullptr;
    }

    // Answers the coming close prompts in turn with `answers` ("Yes", "No", "Cancel", "Discard All"),
    // logging each in `prompts`.
    void AnswerPrompts(QStringList answers)
    {
        if (answers.isEmpty()) return;
        WhenModal<QMessageBox>([this, answers](QMessageBox* box) mutable {
            Prompt prompt;
            const QStringList lines = box->text().split('\n');
            prompt.document =
                lines.size() > 1 ? lines[1].trimmed().chopped(QStringLiteral(" before closening?").size()) : QString();
            if (COrvexView* active = view()) {
                prompt.activePath = active->document().pathName();
                prompt.activeMinimized = active->frame()->isMinimized();
            }
            QAbstractButton* discard = nullptr;
            for (QAbstractButton* button : box->buttons())
                if (button->text() == CDocumentUi::kDiscardAll) discard = button;
            prompt.discardAll = discard != nullptr;
            prompt.buttons = static_cast<int>(box->buttons().size());
            prompts.push_back(prompt);
            const QString answer = answers.takeFirst();
            AnswerPrompts(answers);
            if (answer == "Yes") box->button(QMessageBox::Yes)->click();
            else if (answer == "No") box->button(QMessageBox::No)->click();
            else if (answer == "Cancel") box->button(QMessageBox::Cancel)->click();
            else if (discard) discard->click();
            else box->button(QMessageBox::Cancel)->click();
        });
    }

    void Exit()
    {
        Run(kExit);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QStringList PromptedDocuments() const
    {
        QStringList names;
        for (const Prompt& prompt : prompts) names << prompt.document;
        return names;
    }

    QStringList paths;
    QList<QByteArray> onDisk;
    std::vector<Prompt> prompts;
};

} // namespace

// The active window first, then the others from the most recently active back; each prompt's
// window is active and restored while it asks. The last prompt has nobody left to discard.
TEST_F(ClosingTest, PromptsComeInWindowOrderEachWithItsWindowInFront)
{
    OpenModified(4);
    // Activation history, oldest first: a, c, d, b; then b is minimised, so d is active.
    Activate(2);
    Activate(3);
    Activate(1);
    WindowOf(1)->showMinimized();
    Activate(3);
    ASSERT_EQ(view()->document().pathName(), paths[3]);

    AnswerPrompts({"No", "No", "No", "No"});
    Exit();
    ASSERT_EQ(prompts.size(), 4u);
    EXPECT_EQ(PromptedDocuments(), (QStringList{paths[3], paths[1], paths[2], paths[0]}));
    for (const Prompt& prompt : prompts) {
        EXPECT_EQ(prompt.activePath, prompt.document);
        EXPECT_FALSE(prompt.activeMinimized) << prompt.document.toStdString();
    }
    EXPECT_TRUE(prompts[0].discardAll && prompts[1].discardAll && prompts[2].discardAll);
    EXPECT_FALSE(prompts[3].discardAll);
    EXPECT_EQ(windowCount(), 0);
    EXPECT_FALSE(frame().isVisible());
    for (int i = 0; i < 4; ++i) EXPECT_EQ(FileBytes(paths[i]), onDisk[i]) << "No saves nothing";
}

// Documents without changes are not asked about and do not count towards "Discard All".
TEST_F(ClosingTest, OnlyModifiedDocumentsAreAskedAndCounted)
{
    OpenModified(2);
    m_app->OpenDocumentFile(WritePicture("clean.png", 4, 4));
    AnswerPrompts({"No", "No"});
    Exit();
    ASSERT_EQ(prompts.size(), 2u);
    EXPECT_EQ(PromptedDocuments(), (QStringList{paths[1], paths[0]}));
    EXPECT_TRUE(prompts[0].discardAll);
    EXPECT_FALSE(prompts[1].discardAll);
    EXPECT_EQ(windowCount(), 0);
}

TEST_F(ClosingTest, DiscardAllClosesTheRestUnsavedWithoutAsking)
{
    OpenModified(3);
    const QString saved = Path("c-saved.bmp");
    AnswerPrompts({"Yes", "Discard All"});
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        dialog->selectFile(saved);
        static_cast<QDialog*>(dialog)->accept();
    });
    Exit();
    ASSERT_EQ(prompts.size(), 2u) << "no prompt after Discard All";
    EXPECT_EQ(PromptedDocuments(), (QStringList{paths[2], paths[1]}));
    EXPECT_EQ(windowCount(), 0);
    EXPECT_FALSE(frame().isVisible());
    EXPECT_TRUE(QFileInfo::exists(saved)) << "Yes before Discard All still saved";
    for (int i = 0; i < 3; ++i) EXPECT_EQ(FileBytes(paths[i]), onDisk[i]);
}

TEST_F(ClosingTest, CancelKeepsEveryDocumentOpenAndAsksAgainNextTime)
{
    OpenModified(3);
    const QString saved = Path("c-saved.bmp");
    AnswerPrompts({"Yes", "No", "Cancel"});
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        dialog->selectFile(saved);
        static_cast<QDialog*>(dialog)->accept();
    });
    Exit();
    ASSERT_EQ(prompts.size(), 3u);
    EXPECT_EQ(windowCount(), 3);
    EXPECT_TRUE(frame().isVisible());
    EXPECT_TRUE(QFileInfo::exists(saved)) << "what was saved stays saved";
    EXPECT_EQ(view()->document().pathName(), paths[0]) << "the window asked about last stays in front";
    for (CDocumentHost* host : m_app->docTemplate().documents()) EXPECT_FALSE(host->closeApproved);

    // The saved one is clean now; the two others are asked again, and answering No for one is
    // no longer a choice for both.
    prompts.clear();
    AnswerPrompts({"No", "Cancel"});
    Exit();
    ASSERT_EQ(prompts.size(), 2u);
    EXPECT_EQ(PromptedDocuments(), (QStringList{paths[0], paths[1]}));
    EXPECT_TRUE(prompts[0].discardAll);
    EXPECT_EQ(windowCount(), 3);
}

// Yes with a Save As that is cancelled or fails stops the exit: the changes must not be lost.
TEST_F(ClosingTest, AFailedOrCancelledSaveStopsTheExit)
{
    OpenModified(2);
    AnswerPrompts({"Yes"});
    WhenModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    Exit();
    EXPECT_EQ(prompts.size(), 1u);
    EXPECT_EQ(windowCount(), 2);

    prompts.clear();
    AnswerPrompts({"Yes"});
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        dialog->selectFile(Path("nowhere.xyz"));
        static_cast<QDialog*>(dialog)->accept();
        AnswerMessage(QMessageBox::Ok);
    });
    Exit();
    EXPECT_EQ(prompts.size(), 1u);
    EXPECT_EQ(windowCount(), 2);
    EXPECT_TRUE(frame().isVisible());
}

// One modified document, or one window closing, gets the prompt as it always was.
TEST_F(ClosingTest, ASinglePromptHasNoDiscardAll)
{
    OpenModified(2);
    AnswerPrompts({"Cancel"});
    Run(kClose);
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_FALSE(prompts[0].discardAll);
    EXPECT_EQ(prompts[0].buttons, 3);

    AnswerPrompts({"No"});
    Run(kClose);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(windowCount(), 1);
    AnswerPrompts({"No"});
    Exit();
    ASSERT_EQ(prompts.size(), 3u);
    EXPECT_FALSE(prompts[2].discardAll);
    EXPECT_EQ(prompts[2].buttons, 3);
    EXPECT_EQ(windowCount(), 0);
}
