// A preview dialog opened through its command, with the document window it previews: what that
// window still answers while the dialog is open (zoom, scrolling, the loupe) and what it must not.
#include "core/image_processor.h"
#include "dialogs/loupe.h"
#include "dialogs/param_dialog.h"
#include "shell/command_table.h"
#include "tests/shell/shell_test_support.h"

#include <QCursor>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QToolBar>
#include <QWheelEvent>

#include <cmath>

using namespace shell_test;

namespace {

class PreviewSessionTest : public ShellTest
{
protected:
    // A picture larger than its window at 200 %, in a window filling the document area.
    void Open(int width, int height)
    {
        Start({WritePicture("p.png", width, height, 5)});
        view()->frame()->showMaximized();
        QCoreApplication::processEvents();
        m_before.CopyFrom(view()->document().picture());
    }

    QWidget* viewport() const { return view()->viewport(); }

    // The dialog out of the document window's way, the pointer over the window at `at` (viewport
    // coordinates).
    void PointAt(QDialog* dialog, QPoint at) const
    {
        dialog->move(viewport()->mapToGlobal(QPoint(viewport()->width() + 300, 0)));
        QCursor::setPos(viewport()->mapToGlobal(at));
        QMouseEvent move(QEvent::MouseMove, at, viewport()->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(viewport(), &move);
        QCoreApplication::processEvents();
    }

    void Wheel(int delta, Qt::KeyboardModifiers modifiers) const
    {
        const QPoint at = viewport()->rect().center();
        QWheelEvent wheel(at, viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport(), &wheel);
        QCoreApplication::processEvents();
    }

    static void Key(QDialog* dialog, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* focus = dialog->focusWidget() ? dialog->focusWidget() : dialog;
        QTest::keyClick(focus, key, modifiers);
        QCoreApplication::processEvents();
    }

    static bool Rendered(CParamDialog* dialog)
    {
        return WaitFor(
            [dialog] { return dialog->renderer()->Idle() && dialog->renderer()->shownValues() == dialog->values(); });
    }

    CImage m_before;
};

TEST_F(PreviewSessionTest, TheDocumentWindowZoomsAndScrollsWhileThePreviewDialogStaysOpen)
{
    Open(800, 600);
    ASSERT_EQ(view()->zoom(), 1.0f);
    const int steps = view()->document().history().count();
    bool checked = false;
    WhenModal<CParamDialog>([&](CParamDialog* d) {
        const auto slider = d->values();
        PointAt(d, viewport()->rect().center());

        Wheel(120, Qt::ControlModifier);
        EXPECT_EQ(view()->zoom(), 2.0f);
        QScrollBar* bar = view()->verticalScrollBar();
        ASSERT_GT(bar->maximum(), 0);
        const int top = bar->value();
        Wheel(-120, Qt::NoModifier);
        EXPECT_GT(bar->value(), top);

        // A click on the scroll bar's track through the window system: the document window is not
        // blocked by the dialog.
        const int paged = bar->value();
        const QPoint track(bar->width() / 2, bar->height() - 3 * bar->width());
        QTest::mouseClick(frame().windowHandle(), Qt::LeftButton, {},
                          frame().windowHandle()->mapFromGlobal(bar->mapToGlobal(track)));
        EXPECT_GT(bar->value(), paged);

        const int keyed = bar->value();
        Key(d, Qt::Key_Up);
        EXPECT_LT(bar->value(), keyed);
        Key(d, Qt::Key_Minus, Qt::ControlModifier);
        EXPECT_EQ(view()->zoom(), 1.0f);
        Key(d, Qt::Key_Minus, Qt::ControlModifier);
        EXPECT_LT(view()->zoom(), 1.0f);
        Key(d, Qt::Key_0, Qt::ControlModifier);
        EXPECT_EQ(view()->zoom(), 1.0f);
        Key(d, Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(view()->zoom(), 2.0f);

        // None of it reached the dialog's own controls, and the dialog is still up.
        EXPECT_EQ(d->values(), slider);
        EXPECT_TRUE(d->isVisible());
        EXPECT_EQ(QApplication::activeModalWidget(), d);

        // Away from the document window the keys are the dialog's again.
        QCursor::setPos(QPoint(-500, -500));
        Key(d, Qt::Key_Minus, Qt::ControlModifier);
        EXPECT_EQ(view()->zoom(), 2.0f);
        checked = true;
        EXPECT_TRUE(Rendered(d));
        d->okButton()->click();
    });
    Run(CommandId::Posterize);
    ASSERT_TRUE(checked);
    const CImage expected =
        test_pictures::Applied(m_before, [](CImageProcessor& e) { CParamDialog::RenderByTable("Posterize", e, {10}); });
    EXPECT_TRUE(test_pictures::SamePixels(view()->document().picture(), expected));
    EXPECT_EQ(view()->document().history().count(), steps + 1);
    EXPECT_EQ(view()->zoom(), 2.0f);
}

TEST_F(PreviewSessionTest, MenusKeysAndClosingDoNothingUnderThePreviewDialogAndComeBackAfter)
{
    Open(60, 40);
    Run(CommandId::Invert);
    CImage inverted;
    inverted.CopyFrom(view()->document().picture());
    const int steps = view()->document().history().count();
    bool checked = false;
    WhenModal<CParamDialog>([&](CParamDialog* d) {
        QCursor::setPos(QPoint(-500, -500));
        Key(d, Qt::Key_Z, Qt::ControlModifier);
        // Even with the main window active its keys stay asleep.
        frame().activateWindow();
        QTest::keyClick(&frame(), Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(viewport(), Qt::Key_Z, Qt::ControlModifier);
        QCoreApplication::processEvents();
        EXPECT_TRUE(test_pictures::SamePixels(view()->document().picture(), inverted));

        EXPECT_FALSE(frame().menuBar()->isEnabled());
        EXPECT_FALSE(frame().toolbar()->isEnabled());
        QTest::mouseClick(frame().windowHandle(), Qt::LeftButton, {},
                          frame().windowHandle()->mapFromGlobal(frame().menuBar()->mapToGlobal(QPoint(15, 5))));
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

        EXPECT_FALSE(view()->frame()->close());
        EXPECT_FALSE(frame().close());
        EXPECT_TRUE(frame().isVisible());
        EXPECT_TRUE(d->isVisible());
        EXPECT_TRUE(WaitFor([d] { return d->isActiveWindow(); }));
        checked = true;
        d->cancelButton()->click();
    });
    Run(CommandId::Posterize);
    ASSERT_TRUE(checked);
    EXPECT_TRUE(test_pictures::SamePixels(view()->document().picture(), inverted));
    EXPECT_EQ(view()->document().history().count(), steps);
    EXPECT_TRUE(frame().menuBar()->isEnabled());
    EXPECT_TRUE(frame().toolbar()->isEnabled());
    EXPECT_TRUE(frame().action(CommandId::EditUndo)->isEnabled());
    frame().action(CommandId::EditUndo)->trigger();
    EXPECT_TRUE(test_pictures::SamePixels(view()->document().picture(), m_before));
}

// The loupe's pixels as a plain reading of the preview frame: the square of `side` around `centre`
// (its top-left corner side / 2 up and left of it), the surround's grey off the picture.
bool LoupeShows(const CImage& frame, const QImage& shown, QPoint centre, int side)
{
    if (shown.size() != QSize(side, side)) return false;
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i) {
            const int x = centre.x() - side / 2 + i;
            const int y = centre.y() - side / 2 + j;
            QRgb expected = qRgb(CImageProcessor::kBackgroundRed, CImageProcessor::kBackgroundGreen,
                                 CImageProcessor::kBackgroundBlue);
            if (x >= 0 && y >= 0 && x < frame.width() && y < frame.height()) {
                const std::uint8_t* p = frame.bits() + static_cast<std::ptrdiff_t>(y) * frame.pitch() + 3 * x;
                expected = qRgb(p[2], p[1], p[0]);
            }
            if (shown.pixel(i, j) != expected) return false;
        }
    return true;
}

TEST_F(PreviewSessionTest, TheLoupeShowsThePreviewAtFullSizeBelowHalfZoom)
{
    // Until the pointer comes over the picture, the loupe shows its centre.
    QCursor::setPos(QPoint(-500, -500));
    Open(601, 401);
    Run(CommandId::ZoomOut);
    Run(CommandId::ZoomOut);
    ASSERT_LT(view()->zoom(), 0.5f);
    bool checked = false;
    WhenModal<CParamDialog>([&](CParamDialog* d) {
        CLoupe* loupe = d->loupe();
        ASSERT_NE(loupe, nullptr);
        ASSERT_TRUE(Rendered(d));
        QCoreApplication::processEvents();
        CImage shown;
        d->renderer()->ReadFrame([&](const CImage& f) { shown.CopyFrom(f); });
        // The preview differs from the picture, so the loupe cannot be showing the picture.
        ASSERT_FALSE(test_pictures::SamePixels(shown, m_before));
        const int side = loupe->DeviceSide();
        EXPECT_FALSE(loupe->isHidden());
        EXPECT_TRUE(WaitFor([&] { return LoupeShows(shown, loupe->pixels(), QPoint(300, 200), side); }));

        // Near the corner, where the square runs off the picture.
        const CPictureMapping mapping = view()->mapping();
        const QPoint at = mapping.shown.topLeft() + QPoint(1, 1);
        PointAt(d, at);
        const QPoint corner(static_cast<int>(std::floor(mapping.ToPictureX(at.x()))),
                            static_cast<int>(std::floor(mapping.ToPictureY(at.y()))));
        EXPECT_TRUE(WaitFor([&] { return LoupeShows(shown, loupe->pixels(), corner, side); }));
        // Off the picture it stays where the pointer last was on it.
        PointAt(d, mapping.shown.topLeft() - QPoint(5, 5));
        EXPECT_TRUE(LoupeShows(shown, loupe->pixels(), corner, side));

        PointAt(d, viewport()->rect().center());
        Wheel(120, Qt::ControlModifier);
        EXPECT_GE(view()->zoom(), 0.5f);
        EXPECT_TRUE(WaitFor([&] { return loupe->isHidden(); }));
        Wheel(-120, Qt::ControlModifier);
        EXPECT_TRUE(WaitFor([&] { return !loupe->isHidden(); }));
        checked = true;
        d->cancelButton()->click();
    });
    Run(CommandId::Posterize);
    ASSERT_TRUE(checked);
    EXPECT_TRUE(test_pictures::SamePixels(view()->document().picture(), m_before));
}

TEST_F(PreviewSessionTest, OnlyPreviewDialogsHaveALoupeAndItWaitsHiddenAtHalfZoomAndMore)
{
    Open(60, 40);
    bool checked = false;
    WhenModal<CParamDialog>([&](CParamDialog* d) {
        ASSERT_EQ(view()->zoom(), 1.0f);
        ASSERT_NE(d->loupe(), nullptr);
        EXPECT_TRUE(d->loupe()->isHidden());
        checked = true;
        d->cancelButton()->click();
    });
    Run(CommandId::Posterize);
    EXPECT_TRUE(checked);

    const CCommand* command = FindCommand(CommandId::Posterize);
    const CImage picture = test_pictures::Pattern(8, 8);
    std::unique_ptr<CParamDialog> dialog = command->dialog({picture, nullptr, command->startValues});
    EXPECT_EQ(dialog->loupe(), nullptr);
}

} // namespace
