// The status bar's fields about the active window: size, zoom, the pixel under the pointer and its
// colour as shown, "Preview" while a dialog previews.
#include "dialogs/param_dialog.h"
#include "shell/command_sequences.h"
#include "shell/status_fields.h"
#include "tests/dialogs/slow_operation.h"
#include "tests/shell/shell_test_support.h"

using namespace shell_test;
using test_pictures::Pixel;

namespace {

class StatusBarTest : public ShellTest
{
protected:
    CStatusFields& fields() const { return *frame().statusFields(); }
    QString Position() const { return fields().positionField()->text(); }
    QString Colour() const { return fields().colourField()->text(); }
    QString Size() const { return fields().sizeField()->text(); }
    QString Zoom() const { return fields().zoomField()->text(); }
    QString Preview() const { return fields().previewField()->text(); }

    void MoveTo(QPoint at)
    {
        QWidget* viewport = view()->viewport();
        QMouseEvent event(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &event);
    }
    void Leave()
    {
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(view()->viewport(), &leave);
    }
    // The middle of picture pixel (x, y) in the view.
    QPoint Over(int x, int y) const { return view()->mapping().ToView(CRegion{x, y, 1, 1}).center(); }
    // What the view paints at a view position.
    QColor Painted(QPoint at) const
    {
        const QImage shot = view()->viewport()->grab().toImage();
        const qreal ratio = shot.devicePixelRatio();
        return QColor(shot.pixel(int(at.x() * ratio), int(at.y() * ratio)));
    }
    static QString Expected(int r, int g, int b)
    {
        return QString::asprintf("R %d G %d B %d #%02X%02X%02X", r, g, b, r, g, b);
    }
};

// One pixel near the top left differs, at several zooms: the fields name it from the top row down,
// with the colour the view paints there, and go blank off the picture.
TEST_F(StatusBarTest, PositionAndColourOfThePixelUnderThePointer)
{
    CImage picture = test_pictures::Filled(41, 31, 10, 20, 30); // B, G, R
    std::uint8_t* p = Pixel(picture, 7, 3);
    p[0] = 7;   // blue
    p[1] = 200; // green
    p[2] = 12;  // red
    ASSERT_TRUE(SavePicture(picture, Path("dot.png")));
    Start({Path("dot.png")});
    view()->frame()->resize(500, 400);
    QCoreApplication::processEvents();
    EXPECT_EQ(Size(), "41 x 31");

    for (const float zoom : {1.0f, 4.0f, 8.0f}) {
        SCOPED_TRACE(zoom);
        view()->ZoomTo(zoom);
        QCoreApplication::processEvents();
        EXPECT_EQ(Zoom(), QString::number(int(zoom * 100)) + "%");
        EXPECT_TRUE(caption().endsWith("@ " + Zoom()));
        MoveTo(Over(7, 3));
        EXPECT_EQ(Position(), "x 7, y 3");
        EXPECT_EQ(Colour(), "R 12 G 200 B 7 #0CC807");
        EXPECT_EQ(Colour(),
                  Expected(Painted(Over(7, 3)).red(), Painted(Over(7, 3)).green(), Painted(Over(7, 3)).blue()));
        ASSERT_TRUE(fields().swatch()->colour().has_value());
        EXPECT_EQ(*fields().swatch()->colour(), QColor(12, 200, 7));
        // The corners: the last column and row are there, one past them is not.
        MoveTo(Over(40, 30));
        EXPECT_EQ(Position(), "x 40, y 30");
        EXPECT_EQ(Colour(), Expected(30, 20, 10));
        MoveTo(Over(0, 0));
        EXPECT_EQ(Position(), "x 0, y 0");
        const QRect shown = view()->mapping().shown;
        MoveTo(shown.topLeft() - QPoint(1, 1));
        EXPECT_EQ(Position(), "");
        EXPECT_EQ(Colour(), "");
        EXPECT_FALSE(fields().swatch()->colour().has_value());
        MoveTo(Over(7, 3));
        Leave();
        EXPECT_EQ(Position(), "");
        EXPECT_EQ(Colour(), "");
    }
}

// A zoom under a still pointer names the pixel now under it.
TEST_F(StatusBarTest, AZoomUnderAStillPointerUpdatesThePosition)
{
    Start({WritePicture("z.png", 200, 100)});
    view()->frame()->resize(500, 400);
    view()->Zoom100();
    QCoreApplication::processEvents();
    const QPoint at = Over(60, 20);
    MoveTo(at);
    EXPECT_EQ(Position(), "x 60, y 20");
    view()->ZoomIn();
    const std::optional<QPoint> now = view()->PixelAt(at);
    ASSERT_TRUE(now.has_value());
    EXPECT_EQ(Position(), QStringLiteral("x %1, y %2").arg(now->x()).arg(now->y()));
    EXPECT_NE(*now, QPoint(60, 20));
    EXPECT_EQ(Zoom(), "200%");
}

// During a preview the colour is the preview's and the bar says so; afterwards the picture's again.
TEST_F(StatusBarTest, PreviewShowsTheWordAndThePreviewColour)
{
    ASSERT_TRUE(SavePicture(test_pictures::Filled(30, 20, 50, 50, 50), Path("grey.png")));
    Start({Path("grey.png")});
    QCoreApplication::processEvents();
    MoveTo(Over(5, 5));
    EXPECT_EQ(Colour(), Expected(50, 50, 50));
    EXPECT_EQ(Preview(), "");

    auto dialog = std::make_unique<CParamDialog>(QStringLiteral("Lighten"), nullptr, CStartValues{{"iterations", 0}});
    dialog->BindOperation("TotalVariationDiffusion");
    dialog->AddSlider("iterations", QStringLiteral("Amount:"), CValueFormat::Plain());
    dialog->AddPreviewBox();
    dialog->SetIdentityValues({0});
    sequence::BeginPreview(*view(), *dialog, SlowAdd{});
    EXPECT_EQ(Preview(), "Preview");
    dialog->SetValue("iterations", 40);
    EXPECT_TRUE(WaitFor([&] { return Colour() == Expected(90, 90, 90); })) << Colour().toStdString();
    sequence::EndPreview(*view(), *dialog, SlowAdd{}, false);
    EXPECT_EQ(Preview(), "");
    EXPECT_EQ(Colour(), Expected(50, 50, 50));
}

// The fields follow the active window and are blank without one.
TEST_F(StatusBarTest, FieldsFollowTheActiveWindowAndGoBlankWithoutOne)
{
    Start({WritePicture("a.png", 64, 48), WritePicture("b.png", 33, 21)});
    QCoreApplication::processEvents();
    const QList<QMdiSubWindow*> windows = frame().mdiArea()->subWindowList();
    ASSERT_EQ(windows.size(), 2);
    for (QMdiSubWindow* window : windows) {
        frame().mdiArea()->setActiveSubWindow(window);
        QCoreApplication::processEvents();
        const CImage& picture = view()->document().picture();
        EXPECT_EQ(Size(), QStringLiteral("%1 x %2").arg(picture.width()).arg(picture.height()));
        EXPECT_EQ(Zoom(), "100%");
    }
    MoveTo(Over(1, 1));
    EXPECT_FALSE(Position().isEmpty());
    for (QMdiSubWindow* window : windows) window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    EXPECT_EQ(view(), nullptr);
    EXPECT_EQ(fields().followed(), nullptr);
    for (const QString& text : {Size(), Zoom(), Position(), Colour(), Preview()}) EXPECT_EQ(text, "");
}

} // namespace
