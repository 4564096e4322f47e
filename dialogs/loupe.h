#pragma once

#include <QImage>
#include <QWidget>

// A square that shows part of the previewed picture at 100 %: one picture pixel per device pixel,
// whatever the document window's zoom. Whoever watches the document window fills it (Show) and
// hides it again; until then it stays hidden and takes no room.
class CLoupe : public QWidget
{
    Q_OBJECT

public:
    // The side of the square in device-independent pixels.
    static constexpr int kSide = 160;

    explicit CLoupe(QWidget* parent = nullptr);

    // The side of the square in device pixels, which is how many picture pixels it shows across.
    int DeviceSide() const;
    // Shows `pixels` (DeviceSide() square, top row first) and makes the loupe visible.
    void Show(QImage pixels);
    // What the loupe shows now (null before the first Show).
    const QImage& pixels() const { return m_pixels; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_pixels;
};
