#pragma once

#include <QColor>
#include <QLabel>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <optional>

class COrvexView;
class QStatusBar;

// A small square of one colour, framed, for the colour under the pointer; empty when there is none.
class CColourSwatch : public QWidget
{
    Q_OBJECT

public:
    explicit CColourSwatch(QWidget* parent = nullptr);
    std::optional<QColor> colour() const { return m_colour; }
    void SetColour(std::optional<QColor> colour);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<QColor> m_colour;
};

// The status bar's fields about the active document window, on the right of the bar: "Preview"
// while a dialog previews, the pointer's position in picture pixels ("x 1234, y 567") and the colour
// shown there ("R 12 G 200 B 7 #0CC807" beside a swatch), the picture's size ("6000 x 4000") and the
// zoom ("66%"). Each field keeps its width whatever it says, so the bar never shifts, and a text is
// set only when it changes.
class CStatusFields : public QObject
{
    Q_OBJECT

public:
    // Adds the fields to `bar` as permanent widgets, in the order above.
    explicit CStatusFields(QStatusBar& bar);

    // The view whose picture the fields describe; null blanks them.
    void Follow(COrvexView* view);
    COrvexView* followed() const { return m_view; }

    // Everything again from the followed view and the last pointer position over it; what a pointer
    // move costs the interface thread.
    void Update();

    QLabel* previewField() const { return m_preview; }
    QLabel* positionField() const { return m_position; }
    QLabel* colourField() const { return m_colour; }
    CColourSwatch* swatch() const { return m_swatch; }
    QLabel* sizeField() const { return m_size; }
    QLabel* zoomField() const { return m_zoom; }

private:
    void PointerAt(std::optional<QPoint> viewportPos);
    static void SetText(QLabel* field, const QString& text);
    QLabel* AddField(QStatusBar& bar, const QString& widest);

    QPointer<COrvexView> m_view;
    QList<QMetaObject::Connection> m_connections;
    std::optional<QPoint> m_pointer;
    QLabel* m_preview = nullptr;
    QLabel* m_position = nullptr;
    CColourSwatch* m_swatch = nullptr;
    QLabel* m_colour = nullptr;
    QLabel* m_size = nullptr;
    QLabel* m_zoom = nullptr;
};
