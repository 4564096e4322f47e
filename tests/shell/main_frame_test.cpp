// The editor's windows driven as a user would: start-up, menus and toolbar, Invert/Undo/Redo, the
// recent-file list, dropped files, New Window, the close prompts and printing.
#include "shell/about_dialog.h"
#include "shell/command_table.h"
#include "shell/help_dialog.h"
#include "shell/print_options.h"
#include "shell/progress_bar.h"
#include "shell/save_options_dlg.h"
#include "tests/shell/shell_test_support.h"

#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>

using namespace shell_test;
using test_pictures::Pixel;

namespace {

QStringList MenuTitles(const CMainFrame& frame)
{
    QStringList titles;
    for (QMenu* menu : frame.currentMenus()) titles << menu->title();
    return titles;
}

constexpr CommandId kInvert = CommandId::Invert, kUndo = CommandId::EditUndo, kRedo = CommandId::EditRedo;
constexpr CommandId kNew = CommandId::FileNew, kOpen = CommandId::FileOpen, kClose = CommandId::FileClose;
constexpr CommandId kSave = CommandId::FileSave, kExit = CommandId::AppExit;
constexpr CommandId kNewWindow = CommandId::WindowNew, kCut = CommandId::EditCut;

class MainFrameTest : public ShellTest
{
};

TEST_F(MainFrameTest, StartsWithoutDocumentMaximizedWithTheNoDocumentMenus)
{
    Start();
    EXPECT_EQ(windowCount(), 0);
    EXPECT_TRUE(frame().isMaximized());
    EXPECT_EQ(frame().windowTitle(), "Orvex");
    EXPECT_EQ(MenuTitles(frame()), (QStringList{"&File", "&View", "&Help"}));
    EXPECT_TRUE(frame().action(kNew)->isEnabled());
    EXPECT_TRUE(frame().action(kOpen)->isEnabled());
    EXPECT_FALSE(frame().action(kInvert)->isEnabled());
    EXPECT_EQ(frame().messagePane()->text(), "For Help, press F1");

    QStringList indicators;
    for (QLabel* label : frame().statusBar()->findChildren<QLabel*>())
        if (label != frame().messagePane() && label->isVisibleTo(frame().statusBar())) indicators << label->text();
    // The fields about the active window stay out of the way while there is none.
    EXPECT_EQ(indicators, (QStringList{"CAP", "NUM", "SCRL"}));
}

TEST_F(MainFrameTest, StartsWithTheNamedFileFittedAndCaptioned)
{
    const QString path = WritePicture("photo.png", 64, 48);
    Start({path});
    ASSERT_EQ(windowCount(), 1);
    EXPECT_EQ(caption(), "photo.png @ 100%");
    EXPECT_EQ(frame().windowTitle(), "Orvex - photo.png");
    EXPECT_EQ(MenuTitles(frame()), (QStringList{"&File", "&Edit", "&View", "&Image", "F&ilter", "&Window", "&Help"}));
    EXPECT_TRUE(frame().action(kInvert)->isEnabled());
    EXPECT_FALSE(frame().action(kCut)->isEnabled());
    EXPECT_TRUE(frame().action(kNew)->isEnabled());
}

// With a picture open, nothing in the menus or on the toolbar is greyed out except what needs a
// selection, something on the clipboard or a step to go back or forward to; with those there too,
// everything is available.
TEST_F(MainFrameTest, EveryMenuAndToolbarCommandIsAvailableWithAPictureOpen)
{
    Start({WritePicture("photo.png", 16, 12)});
    QGuiApplication::clipboard()->clear();
    QCoreApplication::processEvents();
    frame().UpdateCommandStates();
    const QList<CommandId> waiting = {CommandId::EditCut,   CommandId::EditDeselect,         CommandId::CropToSelection,
                                      CommandId::EditPaste, CommandId::FileNewFromClipboard, CommandId::EditUndo,
                                      CommandId::EditRedo};
    const auto shown = [](const CCommand& c) {
        return c.kind == CCommand::Kind::Command && (!c.menu.isEmpty() || c.toolbar > 0);
    };
    for (const CCommand& c : CommandTable()) {
        if (!shown(c)) continue;
        QAction* action = frame().action(c.id);
        ASSERT_NE(action, nullptr) << c.id;
        EXPECT_EQ(action->isEnabled(), !waiting.contains(c.id)) << PlainCaption(c.caption).toStdString();
    }

    view()->document().SetSelection(CRegion{2, 2, 5, 5});
    QGuiApplication::clipboard()->setImage(QImage(2, 2, QImage::Format_RGB32));
    QCoreApplication::processEvents();
    // Two steps and one back: there is a step to go to either way.
    Run(kInvert);
    Run(kInvert);
    Run(kUndo);
    frame().UpdateCommandStates();
    for (const CCommand& c : CommandTable()) {
        if (!shown(c)) continue;
        EXPECT_TRUE(frame().action(c.id)->isEnabled()) << PlainCaption(c.caption).toStdString();
    }
}

TEST_F(MainFrameTest, OpenDialogShowsTheFilterAsWrittenAndStillListsThePictures)
{
    Start();
    const QString path = WritePicture("o.png", 4, 4);
    QStringList filters, patterns;
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        if (auto* model = dialog->findChild<QFileSystemModel*>()) patterns = model->nameFilters();
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();
    });
    Run(kOpen);
    EXPECT_EQ(filters, (QStringList{"Supported Files (*.jpg; *.jpeg; *.jpe; *.jfif; *.bmp; *.dib; *.gif; *.png; *.tif; "
                                    "*.tiff; *.webp)",
                                    "TIFF (*.tif *.tiff)", "WebP (*.webp)", "All Files (*.*)"}));
    // Taken literally the patterns would end in ";" and hide every picture.
    EXPECT_EQ(patterns, (QStringList{"*.jpg", "*.jpeg", "*.jpe", "*.jfif", "*.bmp", "*.dib", "*.gif", "*.png", "*.tif",
                                     "*.tiff", "*.webp"}));
    // Every name a picture format goes by is offered, so no picture is hidden by its name.
    for (const CEncoder& encoder : Encoders())
        for (const QString& pattern : encoder.patterns.split(QLatin1Char(';')))
            EXPECT_TRUE(patterns.contains(pattern)) << pattern.toStdString();
    EXPECT_EQ(windowCount(), 1);
}

TEST_F(MainFrameTest, AFileThatCannotBeDecodedSaysLoadFailedAndOpensNothing)
{
    const QString path = Path("broken.png");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a picture");
    file.close();
    QString message;
    bool overTheMainWindow = false;
    int width = 0, captionNeeds = 0;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        message = box->text();
        overTheMainWindow = box->parentWidget() == m_app->mainFrame() && m_app->mainFrame()->isVisible();
        width = box->width();
        captionNeeds = box->fontMetrics().horizontalAdvance(box->windowTitle()) + 100;
        box->button(QMessageBox::Ok)->click();
    });
    Start({path});
    // The reason is the one the batch tool gives.
    QString reason;
    CImage unused;
    EXPECT_FALSE(LoadPicture(path, unused, &reason));
    EXPECT_EQ(message, "Load failed\n" + reason);
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_TRUE(overTheMainWindow);
    EXPECT_GE(width, captionNeeds);
    EXPECT_EQ(windowCount(), 0);
}

TEST_F(MainFrameTest, OpenDialogStartsInTheFolderLastUsed)
{
    QDir(m_dir.path()).mkdir("sub");
    const QString path = WritePicture("sub/o.png", 4, 4);
    Start();
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();
    });
    Run(kOpen);
    ASSERT_EQ(windowCount(), 1);
    m_app.reset();

    // Next time, even after a restart.
    Start();
    QString shown;
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        shown = dialog->directory().absolutePath();
        static_cast<QDialog*>(dialog)->reject();
    });
    Run(kOpen);
    EXPECT_EQ(shown, QFileInfo(path).absolutePath());
}

TEST_F(MainFrameTest, EveryCommandOfTheTableIsPresentAndEnabledOnlyWithAHandler)
{
    Start({WritePicture("a.png", 8, 8)});
    int menuItems = 0;
    for (const CCommand& command : CommandTable()) {
        if (command.kind != CCommand::Kind::Command) continue;
        QAction* action = frame().action(command.id);
        ASSERT_NE(action, nullptr) << command.id;
        EXPECT_EQ(action->text(), command.caption);
        // Undo and Redo have nothing to do on a picture just opened.
        const bool enabled = command.handler && (!command.enabledWhen || command.enabledWhen(*view())) &&
                             (!command.availableWhen || command.availableWhen(frame()));
        EXPECT_EQ(action->isEnabled(), enabled) << command.caption.toStdString();
        if (!command.menu.isEmpty()) ++menuItems;
    }
    // Every item of the document menus, reached through the menu bar itself.
    int found = 0;
    std::function<void(QMenu*)> count = [&](QMenu* menu) {
        for (QAction* action : menu->actions()) {
            if (action->menu()) count(action->menu());
            else if (!action->isSeparator() && frame().action(CommandId::Invert) && action->text() != "Recent File" &&
                     !frame().recentFileActions().contains(action))
                ++found;
        }
    };
    for (QMenu* menu : frame().currentMenus()) count(menu);
    EXPECT_EQ(found, menuItems);

    EXPECT_EQ(frame().action(kUndo)->shortcuts(),
              (QList<QKeySequence>{QKeySequence("Ctrl+Z"), QKeySequence("Alt+Backspace")}));
    EXPECT_EQ(frame().action(CommandId::BlackAndWhite)->text(), "Black && White...\tAlt+Shift+Ctrl+B");
}

TEST_F(MainFrameTest, ToolbarHoldsTheButtonsInOrderWithTheirGroups)
{
    Start();
    QStringList buttons;
    for (QAction* action : frame().toolbar()->actions())
        buttons << (action->isSeparator() ? QStringLiteral("|") : PlainCaption(action->text()));
    // "Red eye elimination" is the toolbar's own caption for what the menu calls "Red eye reduction": keep both.
    EXPECT_EQ(buttons.join(','),
              "New,Open...,Save,|,Cut,Copy,Paste,|,Print...,About Orvex...,Help,|,Undo,Redo,|,"
              "Zoom in,Zoom out,Zoom 100%,|,90° CW,90° CCW,Crop to Selection,|,640x480,1024x768,1600x1200,|,"
              "Sharpen,Blur more,|,Red eye elimination,Auto Color,Equalize");
}

TEST_F(MainFrameTest, PromptsGoToTheMessagePaneAndTheIdleTextComesBack)
{
    Start();
    QStatusTipEvent tip(QStringLiteral("Zoom in on image"));
    QApplication::sendEvent(&frame(), &tip);
    EXPECT_EQ(frame().messagePane()->text(), "Zoom in on image");
    QStatusTipEvent none{QString()};
    QApplication::sendEvent(&frame(), &none);
    EXPECT_EQ(frame().messagePane()->text(), "For Help, press F1");
    EXPECT_EQ(frame().action(CommandId::Equalize)->statusTip(), "Auto Contrast");
    // The button's tip says what it does; the prompt stays the program's own words.
    EXPECT_EQ(frame().action(CommandId::Equalize)->toolTip(),
              "Equalize: spread the brightness evenly over the whole range");
    EXPECT_EQ(frame().action(kInvert)->toolTip(), "Invert") << "other tips are their captions";
}

TEST_F(MainFrameTest, InvertUndoRedoKeepTheModifiedMark)
{
    Start({WritePicture("photo.png", 5, 4)});
    COrvexDoc& doc = view()->document();
    const std::uint8_t before = Pixel(doc.picture(), 2, 1)[0];

    Run(kInvert);
    EXPECT_EQ(Pixel(doc.picture(), 2, 1)[0], 255 - before);
    EXPECT_EQ(caption(), "photo.png* @ 100%");
    EXPECT_EQ(doc.history().count(), 2);

    // Alt+Backspace is Undo too.
    QTest::keyClick(view()->viewport(), Qt::Key_Backspace, Qt::AltModifier);
    EXPECT_EQ(Pixel(doc.picture(), 2, 1)[0], before);
    EXPECT_EQ(caption(), "photo.png* @ 100%") << "Undo does not clear the mark";

    QTest::keyClick(view()->viewport(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(Pixel(doc.picture(), 2, 1)[0], 255 - before);

    QTest::keyClick(view()->viewport(), Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(Pixel(doc.picture(), 2, 1)[0], before);
    EXPECT_EQ(doc.history().count(), 3);
}

TEST_F(MainFrameTest, UndoAndRedoAreEnabledOnlyWhenTheyWouldChangeThePicture)
{
    Start({WritePicture("photo.png", 5, 4)});
    COrvexDoc& doc = view()->document();
    QAction* undo = frame().action(kUndo);
    QAction* redo = frame().action(kRedo);
    const auto states = [&] { return std::pair{undo->isEnabled(), redo->isEnabled()}; };
    EXPECT_EQ(states(), std::pair(false, false)) << "as opened";

    // A change without a snapshot: either command brings back the last recorded state.
    const std::uint8_t opened = Pixel(doc.picture(), 1, 1)[0];
    AnswerMessage(QMessageBox::Ok);
    orvex_testing::FailImageAllocationsAfter(0);
    Run(kInvert);
    orvex_testing::FailImageAllocationsAfter(-1);
    EXPECT_EQ(Pixel(doc.picture(), 1, 1)[0], 255 - opened);
    EXPECT_EQ(states(), std::pair(true, true));
    Run(kRedo);
    EXPECT_EQ(Pixel(doc.picture(), 1, 1)[0], opened);
    EXPECT_EQ(states(), std::pair(false, false));

    Run(kInvert);
    EXPECT_EQ(states(), std::pair(true, false));
    Run(kUndo);
    EXPECT_EQ(states(), std::pair(false, true));
    Run(kRedo);
    EXPECT_EQ(states(), std::pair(true, false));
    Run(kUndo);
    EXPECT_EQ(states(), std::pair(false, true));

    // Each window's own document decides.
    m_app->OpenDocumentFile(WritePicture("other.png", 3, 3));
    Run(kInvert);
    EXPECT_EQ(states(), std::pair(true, false));
    frame().mdiArea()->setActiveSubWindow(frame().mdiArea()->subWindowList().front());
    EXPECT_EQ(states(), std::pair(false, true));
}

TEST_F(MainFrameTest, ACommandWhoseUndoStepCannotBeKeptSaysSo)
{
    Start({WritePicture("photo.png", 5, 4)});
    QString message;
    AnswerMessage(QMessageBox::Ok, &message);
    orvex_testing::FailImageAllocationsAfter(0);
    Run(kInvert);
    orvex_testing::FailImageAllocationsAfter(-1);
    EXPECT_EQ(message, "Not enough memory to keep this change in the undo history");
    EXPECT_EQ(caption(), "photo.png* @ 100%");
}

TEST_F(MainFrameTest, RecentFileListKeepsTheSevenNewestNewestFirst)
{
    Start();
    QStringList paths;
    for (int i = 0; i < 9; ++i) {
        paths << WritePicture(QStringLiteral("p%1.png").arg(i), 4, 4, i);
        ASSERT_NE(m_app->OpenDocumentFile(paths.back()), nullptr);
    }
    const QStringList& entries = m_app->recentFiles().entries();
    ASSERT_EQ(entries.size(), 7);
    EXPECT_EQ(entries.front(), QFileInfo(paths[8]).absoluteFilePath());
    EXPECT_EQ(entries.back(), QFileInfo(paths[2]).absoluteFilePath());
    EXPECT_EQ(frame().recentFileActions().size(), 7);
    EXPECT_TRUE(frame().recentFileActions().front()->text().startsWith("&1 "));

    // Reopening an entry moves it to the top; the list survives a restart.
    m_app->OpenDocumentFile(paths[4]);
    EXPECT_EQ(m_app->recentFiles().entries().front(), QFileInfo(paths[4]).absoluteFilePath());
    CRecentFileList reread(Settings());
    EXPECT_EQ(reread.entries(), m_app->recentFiles().entries());
}

TEST_F(MainFrameTest, DroppedFilesOpenEachInItsOwnWindow)
{
    Start();
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(WritePicture("a.png", 6, 6)), QUrl::fromLocalFile(WritePicture("b.png", 7, 7))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame(), &drop);
    delete mime;
    EXPECT_EQ(windowCount(), 2);
    EXPECT_EQ(m_app->docTemplate().documents().size(), 2);
}

// A file manager that honours a Move deletes the original once the drop is done.
TEST_F(MainFrameTest, DropsAreTakenAsCopyNeverAsMove)
{
    Start();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(WritePicture("c.png", 6, 6))});
    // Shift makes Move the proposed action of a drag that offers all three.
    const Qt::DropActions all = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(QPoint(10, 10), all, &mime, Qt::LeftButton, Qt::ShiftModifier);
    ASSERT_EQ(enter.proposedAction(), Qt::MoveAction);
    QApplication::sendEvent(&frame(), &enter);
    EXPECT_TRUE(enter.isAccepted() && enter.dropAction() == Qt::CopyAction);
    QDropEvent drop(QPointF(20, 20), all, &mime, Qt::LeftButton, Qt::ShiftModifier);
    QApplication::sendEvent(&frame(), &drop);
    EXPECT_TRUE(drop.isAccepted() && drop.dropAction() == Qt::CopyAction);
    EXPECT_EQ(windowCount(), 1);
    // A drag that cannot be copied is refused rather than taken as a Move.
    QDropEvent moveOnly(QPointF(20, 20), Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame(), &moveOnly);
    EXPECT_FALSE(moveOnly.isAccepted());
    EXPECT_EQ(windowCount(), 1);
}

TEST_F(MainFrameTest, NewWindowShowsTheSameDocumentAndFollowsItsChanges)
{
    Start({WritePicture("photo.png", 8, 8)});
    COrvexView* first = view();
    Run(kNewWindow);
    ASSERT_EQ(windowCount(), 2);
    COrvexView* second = view();
    ASSERT_NE(first, second);
    EXPECT_EQ(&first->document(), &second->document());
    Run(kInvert);
    // Told apart by number, in their captions and so in the Window menu.
    EXPECT_EQ(first->frame()->windowTitle(), "photo.png:1* @ 100%");
    EXPECT_EQ(second->frame()->windowTitle(), "photo.png:2* @ 100%");

    // Closing one of two windows does not ask; the document stays.
    second->frame()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(windowCount(), 1);
    EXPECT_EQ(first->frame()->windowTitle(), "photo.png* @ 100%");
    EXPECT_EQ(m_app->docTemplate().documents().size(), 1);
}

TEST_F(MainFrameTest, ClosePromptAnswers)
{
    Start({WritePicture("photo.png", 8, 8)});
    Run(kInvert);

    QString prompt;
    AnswerMessage(QMessageBox::Cancel, &prompt);
    Run(kClose);
    EXPECT_EQ(prompt, "Save changes to the Orvex document\n " + view()->document().pathName() + " before closening?");
    EXPECT_EQ(windowCount(), 1);

    // Yes, then the Save As dialog cancelled: the changes must not be lost.
    AnswerMessage(QMessageBox::Yes);
    bool askedForPath = false;
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        askedForPath = true;
        dialog->reject();
    });
    Run(kClose);
    EXPECT_TRUE(askedForPath);
    EXPECT_EQ(windowCount(), 1);

    // Yes and a path: saved there, then closed.
    const QString target = Path("saved.bmp");
    AnswerMessage(QMessageBox::Yes);
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        dialog->selectFile(target);
        static_cast<QDialog*>(dialog)->accept();
    });
    Run(kClose);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(windowCount(), 0);
    EXPECT_TRUE(QFileInfo::exists(target));
}

TEST_F(MainFrameTest, SavingFromTheClosePromptOrExitJoinsTheRecentFiles)
{
    Start({WritePicture("first.png", 8, 8)});
    Run(kInvert);
    const QString closed = Path("closed.bmp");
    AnswerMessage(QMessageBox::Yes);
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        dialog->selectFile(closed);
        static_cast<QDialog*>(dialog)->accept();
    });
    Run(kClose);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(QFileInfo::exists(closed));
    EXPECT_EQ(m_app->recentFiles().entries().front(), QFileInfo(closed).absoluteFilePath());
    ASSERT_FALSE(frame().recentFileActions().isEmpty());
    EXPECT_TRUE(frame().recentFileActions().front()->text().contains("closed.bmp"));

    m_app->OpenDocumentFile(WritePicture("second.png", 8, 8, 1));
    Run(kInvert);
    const QString exited = Path("exited.png");
    AnswerMessage(QMessageBox::Yes);
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        dialog->selectFile(exited);
        static_cast<QDialog*>(dialog)->accept();
    });
    WhenModal<CSaveOptionsDlg>([](CSaveOptionsDlg* options) { options->accept(); }); // PNG asks for its level
    Run(kExit);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(QFileInfo::exists(exited));
    EXPECT_EQ(m_app->recentFiles().entries().front(), QFileInfo(exited).absoluteFilePath());
    EXPECT_EQ(CRecentFileList(Settings()).entries().front(), QFileInfo(exited).absoluteFilePath());
}

TEST_F(MainFrameTest, NoPromptWithoutChangesAndNoAfterUndo)
{
    Start({WritePicture("a.png", 8, 8)});
    Run(kClose);
    EXPECT_EQ(windowCount(), 0);

    m_app->OpenDocumentFile(Path("a.png"));
    Run(kInvert);
    Run(kUndo);
    QString prompt;
    AnswerMessage(QMessageBox::No, &prompt);
    Run(kClose);
    EXPECT_FALSE(prompt.isEmpty()) << "Undo back to the opened picture still prompts";
    EXPECT_EQ(windowCount(), 0);
}

TEST_F(MainFrameTest, SaveClearsTheMarkAndAFailedSaveKeepsIt)
{
    Start({WritePicture("photo.png", 8, 8)});
    Run(kInvert);
    Run(kSave);
    EXPECT_EQ(caption(), "photo.png @ 100%");

    Run(kInvert);
    QString message;
    AnswerMessage(QMessageBox::Ok, &message);
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        dialog->selectFile(Path("photo.xyz"));
        static_cast<QDialog*>(dialog)->accept();
    });
    Run(CommandId::FileSaveAs);
    // "Can not save" (two words) is the program's own message, which users and scripts match: keep it.
    EXPECT_EQ(message, "Can not save " + Path("photo.xyz") + "\nno picture format is known for this file name's extension");
    EXPECT_EQ(caption(), "photo.png* @ 100%");
}

TEST_F(MainFrameTest, ExitAsksForEachModifiedDocumentAndCancelStopsIt)
{
    Start({WritePicture("a.png", 8, 8)});
    Run(kInvert);
    m_app->OpenDocumentFile(WritePicture("b.png", 8, 8, 1));
    Run(kInvert);

    int prompts = 0;
    AnswerMessage(QMessageBox::No);
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        ++prompts;
        box->button(QMessageBox::Cancel)->click();
    });
    Run(kExit);
    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(windowCount(), 2) << "Cancel on the second prompt keeps both documents";

    // The first answer does not carry over: both are asked again.
    prompts = 0;
    std::function<void()> answerNo = [&] {
        WhenModal<QMessageBox>([&](QMessageBox* box) {
            ++prompts;
            if (prompts < 2) answerNo();
            box->button(QMessageBox::No)->click();
        });
    };
    answerNo();
    Run(kExit);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(prompts, 2);
    EXPECT_EQ(windowCount(), 0);
    EXPECT_FALSE(frame().isVisible());
}

TEST_F(MainFrameTest, HelpAndAboutOpenFromTheirCommands)
{
    Start();
    QTest::keyClick(&frame(), Qt::Key_F1);
    auto* help = frame().findChild<CHelpDialog*>();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    const QString page = help->browser()->toPlainText();
    EXPECT_TRUE(page.contains("Invert")) << "handled commands are listed with their keys";
    EXPECT_TRUE(page.contains("Auto Levels")) << "and so are those not available yet";

    QString title, text;
    WhenModal<CAboutDlg>([&](CAboutDlg* about) {
        title = about->windowTitle();
        for (QLabel* label : about->findChildren<QLabel*>()) text += label->text() + '\n';
        about->accept();
    });
    Run(CommandId::AppAbout);
    EXPECT_EQ(title, "About Orvex");
    EXPECT_TRUE(text.contains("Orvex Version 1.0.30d"));
}

TEST_F(MainFrameTest, PrintingPaintsOnePicturePixelPerPrinterPixelAtFullZoom)
{
    Start({WritePicture("p.png", 40, 30)});
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(Path("p.pdf"));
    view()->PrintTo(printer, CPrintScale::AsShown);
    EXPECT_GT(QFileInfo(Path("p.pdf")).size(), 1000);
}

TEST_F(MainFrameTest, ThePrintedPageIsWhiteAroundThePicture)
{
    Start({WritePicture("p.png", 40, 30)});
    view()->Zoom100();
    QImage page(203, 103, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter painter(&page);
        view()->PaintPage(painter, page.rect(), CPrintScale::AsShown);
    }
    for (const QPoint corner : {QPoint(0, 0), QPoint(202, 0), QPoint(0, 102), QPoint(202, 102), QPoint(79, 50)})
        EXPECT_EQ(page.pixel(corner), qRgb(255, 255, 255)) << corner.x() << "," << corner.y();
    // One picture pixel per page pixel at 100 %, centred in the page less 3 pixels.
    const CImage& picture = view()->document().picture();
    const std::uint8_t* p = test_pictures::Pixel(picture, 0, 0);
    EXPECT_EQ(page.pixel(80, 35), qRgb(p[2], p[1], p[0]));
    const std::uint8_t* q = test_pictures::Pixel(picture, 39, 29);
    EXPECT_EQ(page.pixel(119, 64), qRgb(q[2], q[1], q[0]));
}

// A photo printed one pixel per printer dot came out a few millimetres wide.
TEST_F(MainFrameTest, FitToPageFillsThePageKeepingTheShapeAndAsShownKeepsTheWindowScale)
{
    Start({WritePicture("p.png", 40, 30)});
    view()->ZoomIn(); // 200 %, which fitting ignores
    // The bounding box of everything painted that is not paper.
    auto inked = [this](CPrintScale scale) {
        QImage page(1003, 603, QImage::Format_RGB32);
        page.fill(Qt::white);
        {
            QPainter painter(&page);
            view()->PaintPage(painter, page.rect(), scale);
        }
        QRect box;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x)
                if (page.pixel(x, y) != qRgb(255, 255, 255)) box |= QRect(x, y, 1, 1);
        return box;
    };
    // 40 x 30 in 1003 x 603: as tall as the page, 804 wide, centred.
    EXPECT_EQ(inked(CPrintScale::FitToPage), QRect(99, 0, 804, 603));
    EXPECT_EQ(inked(CPrintScale::AsShown), QRect(460, 270, 80, 60));
}

// The choice is offered in Print Preview and in the print dialog, starts at Fit to page, turns the
// page to a wide picture and is remembered from one dialog to the other and across sessions.
TEST_F(MainFrameTest, BothPrintingDialogsOfferTheScaleAndRememberIt)
{
    Start({WritePicture("wide.png", 60, 30)});
    QString first, offered;
    QPageLayout::Orientation turned = QPageLayout::Portrait;
    int paints = 0;
    WhenModal<QPrintPreviewDialog>([&](QPrintPreviewDialog* preview) {
        auto* box = preview->findChild<QComboBox*>(QStringLiteral("printScale"));
        ASSERT_NE(box, nullptr);
        first = box->currentText();
        turned = preview->printer()->pageLayout().orientation();
        QObject::connect(preview, &QPrintPreviewDialog::paintRequested, [&] { ++paints; });
        box->setCurrentIndex(box->findText(QStringLiteral("As shown in the window")));
        preview->reject();
    });
    Run(CommandId::FilePrintPreview);
    EXPECT_EQ(first, "Fit to page");
    EXPECT_EQ(turned, QPageLayout::Landscape);
    EXPECT_GE(paints, 1) << "the pages are painted again with the new choice";

    WhenModal<QPrintDialog>([&](QPrintDialog* dialog) {
        if (auto* box = dialog->findChild<QComboBox*>(QStringLiteral("printScale"))) offered = box->currentText();
        dialog->reject();
    });
    Run(CommandId::FilePrint);
    EXPECT_EQ(offered, "As shown in the window");
    m_app->recentFiles().settings()->sync();
    EXPECT_EQ(RememberedPrintScale(Settings().get()), CPrintScale::AsShown);
}

} // namespace
