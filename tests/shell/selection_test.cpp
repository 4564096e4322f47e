// The rectangle selection as the user makes it with the mouse, and what the commands do with it.
#include "core/region.h"
#include "dialogs/param_dialog.h"
#include "dialogs/preview_renderer.h"
#include "shell/progress_bar.h"
#include "tests/shell/shell_test_support.h"

#include <QLabel>

#include <cmath>

using namespace shell_test;
using test_pictures::Copy;
using test_pictures::Pixel;
using test_pictures::SamePixels;

namespace {

class SelectionTest : public ShellTest
{
protected:
    COrvexDoc& Open(int width, int height, const CImage* picture = nullptr)
    {
        const QString path = Path(QStringLiteral("s.png"));
        const CImage noise = test_pictures::Noise(width, height, 9);
        EXPECT_TRUE(SavePicture(picture ? *picture : noise, path));
        Start({path});
        m_original = Copy(doc().picture());
        return doc();
    }
    COrvexDoc& doc() const { return view()->document(); }

    void Mouse(QEvent::Type type, QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* viewport = view()->viewport();
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, viewport->mapToGlobal(at), button, held, modifiers);
        QCoreApplication::sendEvent(viewport, &event);
    }
    void Drag(QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        Mouse(QEvent::MouseButtonPress, from, modifiers);
        Mouse(QEvent::MouseMove, (from + to) / 2, modifiers);
        Mouse(QEvent::MouseMove, to, modifiers);
        Mouse(QEvent::MouseButtonRelease, to, modifiers);
    }
    // The view position of picture point (x, y), in picture pixels.
    QPoint At(double x, double y) const
    {
        const CPictureMapping m = view()->mapping();
        return {static_cast<int>(std::floor(m.shown.x() + x * m.shown.width() / m.width)),
                static_cast<int>(std::floor(m.shown.y() + y * m.shown.height() / m.height))};
    }
    // The picture pixel under view position `p`, worked out here rather than by the view.
    QPoint PixelUnder(QPoint p) const
    {
        const CPictureMapping m = view()->mapping();
        const int x = static_cast<int>(std::floor((p.x() - m.shown.x()) * double(m.width) / m.shown.width()));
        const int y = static_cast<int>(std::floor((p.y() - m.shown.y()) * double(m.height) / m.shown.height()));
        return {std::clamp(x, 0, m.width - 1), std::clamp(y, 0, m.height - 1)};
    }
    CRegion Selected() const { return doc().selection().value_or(CRegion{-1, -1, -1, -1}); }
    QString Status() const { return frame().messagePane()->text(); }

    // `whole` inside `region`, the picture as opened outside it.
    CImage InsideOnly(const CImage& whole, CRegion region) const
    {
        CImage expected = Copy(whole);
        EXPECT_TRUE(KeepOutsideRegion(expected, m_original, region));
        return expected;
    }

    CImage m_original;
};

TEST_F(SelectionTest, DraggingSelectsWholePixelsAtEveryZoom)
{
    Open(400, 300);
    view()->resize(900, 700);
    // 5 %: a view pixel covers many picture pixels; the rectangle runs from the pixel under the
    // press to the pixel under the pointer, both included.
    while (view()->zoom() > COrvexView::kMinZoom) view()->ZoomOut();
    ASSERT_LT(view()->zoom(), 0.06f);
    QPoint from = At(100, 50) + QPoint(1, 0), to = At(300, 200);
    Drag(from, to);
    QPoint a = PixelUnder(from), b = PixelUnder(to);
    EXPECT_EQ(Selected(), (CRegion{a.x(), a.y(), b.x() - a.x() + 1, b.y() - a.y() + 1}));
    EXPECT_EQ(Status(),
              QStringLiteral("%1, %2: %3 x %4").arg(a.x()).arg(a.y()).arg(b.x() - a.x() + 1).arg(b.y() - a.y() + 1));
    // Beyond the picture's edges, toward the top left: clamped. (A press on the selection would
    // grab it, so it goes first.)
    Run(CommandId::EditDeselect);
    Drag(At(200, 150), At(-50, -80));
    b = PixelUnder(At(200, 150));
    EXPECT_EQ(Selected(), (CRegion{0, 0, b.x() + 1, b.y() + 1}));

    // 100 %.
    view()->Zoom100();
    Run(CommandId::EditDeselect);
    Drag(At(10.5, 20.5), At(60.5, 25.5));
    EXPECT_EQ(Selected(), (CRegion{10, 20, 51, 6}));
    EXPECT_EQ(Status(), "10, 20: 51 x 6");
    Run(CommandId::EditDeselect);
    EXPECT_EQ(Status(), CProgressBar::kIdleText) << "no size is shown for a selection that is gone";
    Drag(At(10.5, 20.5), At(60.5, 25.5));
    Drag(At(390.5, 290.5), At(500, 400));
    EXPECT_EQ(Selected(), (CRegion{390, 290, 10, 10}));
    // Shift keeps a square, growing toward the pointer.
    Drag(At(50.5, 60.5), At(20.5, 50.5), Qt::ShiftModifier);
    EXPECT_EQ(Selected(), (CRegion{20, 30, 31, 31}));
    Drag(At(380.5, 10.5), At(390.5, 200.5), Qt::ShiftModifier);
    EXPECT_EQ(Selected(), (CRegion{380, 10, 20, 20})) << "as square as the right edge allows";

    // 1600 %: one picture pixel is 16 view pixels; a drag inside one of them selects it alone.
    for (int i = 0; i < 4; ++i) view()->ZoomIn();
    ASSERT_EQ(view()->zoom(), 16.0f);
    Drag(At(3.1, 4.1), At(3.9, 4.9));
    EXPECT_EQ(Selected(), (CRegion{3, 4, 1, 1}));
    Drag(At(2.2, 1.2), At(5.7, 3.3));
    EXPECT_EQ(Selected(), (CRegion{2, 1, 4, 3}));
    // Dragging inside moves by whole pixels, and stops at the edge.
    Drag(At(3.5, 2.5), At(5.9, 3.6));
    EXPECT_EQ(Selected(), (CRegion{4, 2, 4, 3}));
    Drag(At(5, 3), At(-20, -20));
    EXPECT_EQ(Selected(), (CRegion{0, 0, 4, 3}));
    // The bottom right handle takes the corner to the nearest pixel boundary; the top edge's handle
    // moves only the top.
    Drag(At(4, 3), At(6.4, 5.6));
    EXPECT_EQ(Selected(), (CRegion{0, 0, 6, 6}));
    Drag(At(3, 0), At(3, 2.2));
    EXPECT_EQ(Selected(), (CRegion{0, 2, 6, 4}));
    // Shift on a corner handle squares it out to the longer side.
    Drag(At(6, 6), At(9.1, 7), Qt::ShiftModifier);
    EXPECT_EQ(Selected(), (CRegion{0, 2, 9, 9}));

    // A click without a drag clears it.
    Mouse(QEvent::MouseButtonPress, At(20, 20));
    Mouse(QEvent::MouseButtonRelease, At(20, 20));
    EXPECT_FALSE(doc().selection().has_value());
    EXPECT_EQ(doc().history().count(), 1) << "selecting is no history step";
}

TEST_F(SelectionTest, SelectAllDeselectAndEscape)
{
    Open(30, 20);
    EXPECT_FALSE(frame().action(CommandId::EditDeselect)->isEnabled());
    EXPECT_FALSE(frame().action(CommandId::CropToSelection)->isEnabled());
    QTest::keyClick(view()->viewport(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(Selected(), (CRegion{0, 0, 30, 20}));
    EXPECT_TRUE(frame().action(CommandId::EditDeselect)->isEnabled());
    EXPECT_TRUE(frame().action(CommandId::CropToSelection)->isEnabled());
    QTest::keyClick(view()->viewport(), Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(doc().selection().has_value());
    Run(CommandId::EditSelectAll);
    QTest::keyClick(view()->viewport(), Qt::Key_Escape);
    EXPECT_FALSE(doc().selection().has_value());
    EXPECT_FALSE(frame().action(CommandId::CropToSelection)->isEnabled());
}

TEST_F(SelectionTest, EveryWindowOfTheDocumentShowsTheSelection)
{
    const CImage grey = test_pictures::Filled(60, 40, 128, 128, 128);
    Open(60, 40, &grey);
    view()->Zoom100();
    COrvexView* first = view();
    Run(CommandId::WindowNew);
    COrvexView* second = view();
    ASSERT_NE(first, second);
    second->Zoom100();
    // Selected in the first window, shown in both.
    frame().mdiArea()->setActiveSubWindow(first->frame());
    Drag(At(10.5, 10.5), At(40.5, 30.5));
    ASSERT_EQ(Selected(), (CRegion{10, 10, 31, 21}));
    EXPECT_EQ(&second->document(), &first->document());
    const auto outlineShown = [&](COrvexView* v) {
        const QImage shown = v->viewport()->grab().toImage();
        const QRect r = v->mapping().ToView(CRegion{10, 10, 31, 21});
        int black = 0, white = 0;
        for (int x = r.left() + 8; x < r.right() - 8; ++x) {
            const QColor c = shown.pixelColor(x, r.top());
            black += c == Qt::black;
            white += c == Qt::white;
        }
        return black > 3 && white > 3;
    };
    EXPECT_TRUE(outlineShown(first));
    EXPECT_TRUE(outlineShown(second));
    Run(CommandId::EditDeselect);
    EXPECT_FALSE(outlineShown(first));
    EXPECT_FALSE(outlineShown(second));
}

TEST_F(SelectionTest, CropToSelectionIsOneUndoableStep)
{
    Open(37, 23);
    doc().SetSelection(CRegion{5, 3, 20, 11});
    QTest::keyClick(view()->viewport(), Qt::Key_X, Qt::ControlModifier | Qt::ShiftModifier);
    CImage cropped;
    ASSERT_TRUE(cropped.Create(20, 11, m_original.bitsPerPixel()));
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 20; ++x)
            for (int c = 0; c < 3; ++c) Pixel(cropped, x, y)[c] = Pixel(m_original, x + 5, y + 3)[c];
    EXPECT_TRUE(SamePixels(doc().picture(), cropped));
    EXPECT_FALSE(doc().selection().has_value());
    EXPECT_EQ(doc().history().count(), 2);
    EXPECT_TRUE(doc().modified());
    Run(CommandId::EditUndo);
    EXPECT_TRUE(SamePixels(doc().picture(), m_original));
    Run(CommandId::EditRedo);
    EXPECT_TRUE(SamePixels(doc().picture(), cropped));
    EXPECT_EQ(view()->mapping().width, 20);
}

// One command of each filter family from its menu item: inside the selection the whole-picture
// result, outside the picture as it was.
TEST_F(SelectionTest, FiltersChangeOnlyTheSelection)
{
    Open(90, 70);
    const CRegion region{17, 11, 40, 33};
    const struct
    {
        CommandId id;
        std::function<void(CImageProcessor&)> whole;
        std::function<void(CParamDialog&)> answer;
    } cases[] = {
        {CommandId::Invert, [](CImageProcessor& e) { e.Invert(); }, {}},
        {CommandId::Equalize, [](CImageProcessor& e) { e.Equalize(); }, {}},
        {CommandId::Blur, [](CImageProcessor& e) { e.GaussianBlur(0.75f, 1); }, {}},
        {CommandId::FindEdges,
         [](CImageProcessor& e) {
             e.FindEdges();
             e.Invert();
         },
         {}},
        {CommandId::RedEyeReduction, [](CImageProcessor& e) { e.RedEyeReduction(); }, {}},
        {CommandId::Median, [](CImageProcessor& e) { e.RankFilter(3, 0); },
         [](CParamDialog& d) { d.SetValue("radius", 3); }},
        {CommandId::GaussianBlur, [](CImageProcessor& e) { e.GaussianBlur(9.0f, 1); },
         [](CParamDialog& d) { d.SetValue("radius", 9); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.id));
        ASSERT_TRUE(doc().picture().CopyFrom(m_original));
        doc().SetSelection(region);
        if (c.answer)
            WhenModal<CParamDialog>([&](CParamDialog* d) {
                c.answer(*d);
                d->accept();
            });
        Run(c.id);
        EXPECT_TRUE(SamePixels(doc().picture(), InsideOnly(test_pictures::Applied(m_original, c.whole), region)));
        EXPECT_EQ(Selected(), region);
    }
}

// The preview shows the rendering inside the selection only, and OK records exactly what a fresh run
// on the selection gives.
TEST_F(SelectionTest, PreviewDialogOnASelection)
{
    Open(64, 48);
    const CRegion region{9, 7, 30, 25};
    doc().SetSelection(region);
    const CImage expected =
        InsideOnly(test_pictures::Applied(m_original,
                                          [](CImageProcessor& e) { CParamDialog::RenderByTable("Posterize", e, {3}); }),
                   region);
    bool previewed = false;
    WhenModal<CParamDialog>([&](CParamDialog* d) {
        d->SetValue("levels", 3);
        ASSERT_TRUE(
            WaitFor([&] { return d->renderer()->Idle() && d->renderer()->shownValues() == std::vector<double>{3}; }));
        d->renderer()->ReadFrame([&](const CImage& frame) { previewed = SamePixels(frame, expected); });
        d->accept();
    });
    Run(CommandId::Posterize);
    EXPECT_TRUE(previewed);
    EXPECT_TRUE(SamePixels(doc().picture(), expected));
    EXPECT_EQ(doc().history().count(), 2);
}

TEST_F(SelectionTest, CommandsThatMoveOrResizeThePictureActOnItWholeAndClearTheSelection)
{
    Open(40, 30);
    for (const auto& [id, whole] : std::initializer_list<std::pair<CommandId, std::function<void(CImageProcessor&)>>>{
             {CommandId::Rotate90CW, [](CImageProcessor& e) { e.Rotate90CW(); }},
             {CommandId::Rotate180, [](CImageProcessor& e) { e.Rotate180(); }},
             {CommandId::FlipHorizontal, [](CImageProcessor& e) { e.FlipHorizontal(); }}}) {
        SCOPED_TRACE(static_cast<int>(id));
        const CImage before = Copy(doc().picture());
        doc().SetSelection(CRegion{2, 3, 10, 12});
        Run(id);
        EXPECT_TRUE(SamePixels(doc().picture(), test_pictures::Applied(before, whole)));
        EXPECT_FALSE(doc().selection().has_value());
    }
}

} // namespace
