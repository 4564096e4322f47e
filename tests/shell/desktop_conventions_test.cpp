// Where new windows go, context help, the help page, the conventional keys and the about box link.
#include "shell/about_dialog.h"
#include "shell/command_table.h"
#include "shell/help_dialog.h"
#include "tests/shell/shell_test_support.h"

#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QStyle>
#include <QTextBrowser>
#include <QToolBar>

using namespace shell_test;

namespace {

constexpr CommandId kInvert = CommandId::Invert, kEqualize = CommandId::Equalize;
constexpr CommandId kContextHelp = CommandId::ContextHelp, kAutoLevels = CommandId::AutoLevels;
constexpr CommandId kNewWindow = CommandId::WindowNew, kCascade = CommandId::WindowCascade;

class DesktopConventionsTest : public ShellTest
{
protected:
    QRect WorkArea() const { return QRect(QPoint(0, 0), frame().mdiArea()->viewport()->size()); }
    QList<QMdiSubWindow*> Windows() const { return frame().mdiArea()->subWindowList(QMdiArea::CreationOrder); }
    CHelpDialog* Help() const { return frame().findChild<CHelpDialog*>(); }
};

TEST_F(DesktopConventionsTest, NewWindowsCascadeInsideTheWorkArea)
{
    // Two large pictures on the command line, a third opened later, and a second window of one.
    Start({WritePicture("a.png", 1200, 700), WritePicture("b.png", 1100, 650)});
    m_app->OpenDocumentFile(WritePicture("c.png", 900, 500));
    Run(kNewWindow);
    const QList<QMdiSubWindow*> windows = Windows();
    ASSERT_EQ(windows.size(), 4);
    for (QMdiSubWindow* window : windows) EXPECT_TRUE(WorkArea().contains(window->geometry())) << window->windowTitle().toStdString();
    EXPECT_NE(windows[0]->pos(), windows[1]->pos()) << "not on top of each other";
    EXPECT_NE(windows[1]->pos(), windows[2]->pos());

    // Cascade keeps each window's size within the work area.
    windows[2]->resize(300, 240);
    Run(kCascade);
    EXPECT_EQ(windows[2]->size(), QSize(300, 240));
    for (QMdiSubWindow* window : windows) EXPECT_TRUE(WorkArea().contains(window->geometry()));
}

TEST_F(DesktopConventionsTest, WindowsOfOneDocumentAreNumberedAndTinyPicturesShowTheirCaption)
{
    Start({WritePicture("a_rather_long_file_name.png", 3, 2)});
    QMdiSubWindow* first = Windows().front();
    const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
    EXPECT_GT(first->width(), metrics.horizontalAdvance(first->windowTitle()) +
                                  2 * first->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, first));

    Run(kNewWindow);
    ASSERT_EQ(Windows().size(), 2);
    EXPECT_EQ(Windows()[0]->windowTitle(), "a_rather_long_file_name.png:1 @ 100%");
    EXPECT_EQ(Windows()[1]->windowTitle(), "a_rather_long_file_name.png:2 @ 100%");
    // The Window menu lists them as they are captioned.
    QStringList listed;
    for (QMenu* menu : frame().currentMenus()) {
        if (menu->title() != "&Window") continue;
        emit menu->aboutToShow();
        for (QAction* action : menu->actions()) listed << action->text();
    }
    EXPECT_TRUE(listed.contains("&1 a_rather_long_file_name.png:1 @ 100%"));
    EXPECT_TRUE(listed.contains("&2 a_rather_long_file_name.png:2 @ 100%"));
}

TEST_F(DesktopConventionsTest, InContextHelpACommandShowsItsHelpAndAppliesNothing)
{
    Start({WritePicture("p.png", 6, 6)});
    COrvexDoc& doc = view()->document();
    const CImage before = test_pictures::Copy(doc.picture());

    // The toolbar's button, then a toolbar command.
    QTest::mouseClick(frame().toolbar()->widgetForAction(frame().action(kContextHelp)), Qt::LeftButton);
    EXPECT_TRUE(frame().inContextHelp());
    QTest::mouseClick(frame().toolbar()->widgetForAction(frame().action(kEqualize)), Qt::LeftButton);
    EXPECT_FALSE(frame().inContextHelp());
    ASSERT_NE(Help(), nullptr);
    EXPECT_TRUE(Help()->isVisible());

    // Shift+F1, then a command's keys.
    QTest::keyClick(view()->viewport(), Qt::Key_F1, Qt::ShiftModifier);
    EXPECT_TRUE(frame().inContextHelp());
    QTest::keyClick(view()->viewport(), Qt::Key_I, Qt::ControlModifier);
    EXPECT_FALSE(frame().inContextHelp());

    // A menu item chosen.
    Run(kContextHelp);
    frame().action(kInvert)->trigger();
    EXPECT_FALSE(frame().inContextHelp());

    // A click on the picture shows the page and does nothing to the picture; Escape just leaves.
    Run(kContextHelp);
    QTest::mouseClick(view()->viewport(), Qt::LeftButton);
    EXPECT_FALSE(frame().inContextHelp());
    Run(kContextHelp);
    QTest::mouseDClick(view()->viewport(), Qt::LeftButton);
    EXPECT_FALSE(frame().inContextHelp());
    Run(kContextHelp);
    QTest::keyClick(view()->viewport(), Qt::Key_Escape);
    EXPECT_FALSE(frame().inContextHelp());

    EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), before));
    EXPECT_EQ(doc.history().count(), 1);
    EXPECT_FALSE(doc.modified());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(DesktopConventionsTest, ContextHelpScrollsToTheCommandClicked)
{
    Start({WritePicture("p.png", 6, 6)});
    Run(kContextHelp);
    frame().action(kInvert)->trigger();
    ASSERT_NE(Help(), nullptr);
    Help()->resize(400, 200);
    Help()->ShowCommand(CommandId::AppExit);
    const int exitAt = Help()->browser()->verticalScrollBar()->value();
    Help()->ShowCommand(CommandId::Offset);
    EXPECT_GT(Help()->browser()->verticalScrollBar()->value(), exitAt) << "a later command is further down";
}

TEST_F(DesktopConventionsTest, TheHelpPageDescribesEveryCommand)
{
    const QString page = CHelpDialog::PageHtml();
    for (const CCommand& command : CommandTable()) {
        if (command.kind != CCommand::Kind::Command) continue;
        SCOPED_TRACE(PlainCaption(command.caption).toStdString());
        EXPECT_FALSE(CommandHelp(command.id).isEmpty());
        EXPECT_TRUE(page.contains(QStringLiteral("name=\"cmd%1\"").arg(static_cast<int>(command.id))));
    }
    EXPECT_TRUE(page.contains(CommandHelp(kAutoLevels)));
    // Commands whose operations show a progress bar run through the worker sequence, and say so.
    for (CommandId id : {CommandId::Blur, CommandId::BlurMore, CommandId::GaussianBlur, CommandId::LensBlur,
                         CommandId::MotionBlur, CommandId::UnsharpMask, CommandId::HighPass}) {
        ASSERT_NE(FindCommand(id), nullptr);
        EXPECT_TRUE(FindCommand(id)->onWorker) << id;
    }
    EXPECT_FALSE(FindCommand(kInvert)->onWorker);
    EXPECT_TRUE(
        page.contains(CommandHelp(CommandId::BlurMore) + " Its progress shows in the status bar; Escape stops it"));
    EXPECT_FALSE(CommandHelp(CommandId::RecentFiles).isEmpty()) << "the recent files";
}

TEST_F(DesktopConventionsTest, ConventionalKeysZoomCloseAndSaveAs)
{
    Start({WritePicture("p.png", 40, 30)});
    QTest::keyClick(view()->viewport(), Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_EQ(view()->zoom(), 2.0f);
    QTest::keyClick(view()->viewport(), Qt::Key_Minus, Qt::ControlModifier);
    QTest::keyClick(view()->viewport(), Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_FLOAT_EQ(view()->zoom(), static_cast<float>(1.0 / 1.5));
    QTest::keyClick(view()->viewport(), Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(view()->zoom(), 1.0f);

    bool saveAsShown = false;
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        saveAsShown = dialog->acceptMode() == QFileDialog::AcceptSave;
        static_cast<QDialog*>(dialog)->reject();
    });
    QTest::keyClick(view()->viewport(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(saveAsShown);

    // The closed dialog leaves no active window behind on the offscreen platform.
    frame().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame()));
    QTest::keyClick(view()->viewport(), Qt::Key_W, Qt::ControlModifier);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(windowCount(), 0);
}

TEST_F(DesktopConventionsTest, TheAboutBoxLinkIsALink)
{
    Start();
    QString href;
    bool opensLinks = false;
    WhenModal<CAboutDlg>([&](CAboutDlg* about) {
        if (auto* link = about->findChild<QLabel*>("webLink")) {
            href = link->text();
            opensLinks = link->openExternalLinks() && (link->textInteractionFlags() & Qt::LinksAccessibleByMouse);
        }
        about->accept();
    });
    Run(CommandId::AppAbout);
    EXPECT_TRUE(href.contains("<a href=\"" + CAboutDlg::kWebSite + "\">"));
    EXPECT_TRUE(opensLinks);
}

} // namespace
