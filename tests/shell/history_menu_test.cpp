#include "dialogs/param_dialog.h"
#include "shell/progress_bar.h"
#include "tests/shell/shell_test_support.h"

#include <QMenu>

using namespace shell_test;

namespace {

class HistoryMenuTest : public ShellTest
{
protected:
    QMenu* editMenu() const
    {
        for (QMenu* menu : frame().currentMenus())
            if (menu->title() == QStringLiteral("&Edit")) return menu;
        return nullptr;
    }
    QString undoText() const { return frame().action(CommandId::EditUndo)->text(); }
    QString redoText() const { return frame().action(CommandId::EditRedo)->text(); }

    // Opens the Edit menu as a click on the menu bar does and clicks its item `id`.
    void ClickInEditMenu(CommandId id)
    {
        QMenu* menu = editMenu();
        ASSERT_TRUE(menu);
        menu->popup(frame().mapToGlobal(QPoint(10, 10)));
        ASSERT_TRUE(WaitFor([menu] { return menu->isVisible(); }));
        QAction* item = frame().action(id);
        ASSERT_TRUE(item->isEnabled());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
        ASSERT_TRUE(WaitFor([menu] { return !menu->isVisible(); }));
    }
};

} // namespace

TEST_F(HistoryMenuTest, UndoAndRedoNameTheirSteps)
{
    Start({WritePicture("photo.png", 9, 7)});
    EXPECT_EQ(undoText(), "&Undo\tCtrl+Z") << "nothing to undo";
    EXPECT_EQ(redoText(), "&Redo\tCtrl+Y");

    Run(CommandId::Invert);
    WhenModal<CParamDialog>([](CParamDialog* dialog) {
        dialog->SetValue("radius", 2.0);
        dialog->accept();
    });
    Run(CommandId::GaussianBlur);
    Run(CommandId::Rotate90CW);
    ASSERT_EQ(view()->document().history().count(), 4);
    EXPECT_EQ(undoText(), "&Undo Rotate 90° CW\tCtrl+Z");
    EXPECT_EQ(redoText(), "&Redo\tCtrl+Y");

    ClickInEditMenu(CommandId::EditUndo);
    EXPECT_EQ(view()->document().picture().width(), 9);
    EXPECT_EQ(undoText(), "&Undo Gaussian Blur\tCtrl+Z") << "no dots of the dialog";
    EXPECT_EQ(redoText(), "&Redo Rotate 90° CW\tCtrl+Y");
    ClickInEditMenu(CommandId::EditUndo);
    EXPECT_EQ(undoText(), "&Undo Invert\tCtrl+Z");
    EXPECT_EQ(redoText(), "&Redo Gaussian Blur\tCtrl+Y");
    ClickInEditMenu(CommandId::EditUndo);
    EXPECT_EQ(undoText(), "&Undo\tCtrl+Z");
    EXPECT_EQ(redoText(), "&Redo Invert\tCtrl+Y");
    ClickInEditMenu(CommandId::EditRedo);
    EXPECT_EQ(undoText(), "&Undo Invert\tCtrl+Z");
    // A new step ends the redo branch.
    Run(CommandId::FlipHorizontal);
    EXPECT_EQ(undoText(), "&Undo Flip Canvas Horizontal\tCtrl+Z");
    EXPECT_EQ(redoText(), "&Redo\tCtrl+Y");
}

TEST_F(HistoryMenuTest, StatusBarShowsTheHistoryWhileTheEditMenuIsOpen)
{
    Start({WritePicture("photo.png", 9, 7)});
    Run(CommandId::Invert);
    Run(CommandId::Invert);
    QMenu* menu = editMenu();
    ASSERT_TRUE(menu);
    menu->popup(frame().mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(WaitFor([menu] { return menu->isVisible(); }));
    EXPECT_EQ(frame().messagePane()->text(), "History: 0 MB in 3 steps");
    menu->hide();
    ASSERT_TRUE(WaitFor([menu] { return !menu->isVisible(); }));
    EXPECT_EQ(frame().messagePane()->text(), CProgressBar::kIdleText);
}

TEST_F(HistoryMenuTest, UndoSaysHowManyStepsAreLeftAfterStatesWereGivenUp)
{
    Start({WritePicture("photo.png", 9, 7)});
    CImageHistory& history = view()->document().history();
    // No room in memory and no temporary file: only dropping is left.
    history.SetSpillDirectory(Path(QStringLiteral("missing/folder")).toStdString());
    history.SetMemoryLimit(1);
    Run(CommandId::Invert);
    Run(CommandId::FlipVertical);
    Run(CommandId::Invert);
    EXPECT_TRUE(history.droppedForMemory());
    EXPECT_EQ(history.count(), 2);
    EXPECT_EQ(undoText(), "&Undo Invert (1 step left)\tCtrl+Z");
    ClickInEditMenu(CommandId::EditUndo);
    EXPECT_EQ(undoText(), "&Undo\tCtrl+Z");
    EXPECT_EQ(redoText(), "&Redo Invert\tCtrl+Y");
}
