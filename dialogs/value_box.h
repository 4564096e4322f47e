#pragma once

#include "dialogs/number_box.h"
#include "dialogs/param_dialog.h"

#include <QObject>

#include <functional>

class QLineEdit;
class QSlider;
class QTimer;

// A slider's value box that takes typed values. The box speaks its own units, those it shows: the
// derived value for a Real box, else the position less the format's middle (the offset of a signed
// box, the percentage of a percent box). A readable value moves the slider to the nearest position;
// a Real box keeps the typed value itself, where the position's value would only be near it. The
// box is never rewritten while it follows typing, only when typing ends (Enter, leaving the box)
// or the value steps. Up/Down, Page Up/Down and the wheel over the box step as the slider does.
//
// The owner handles the slider's notifications as before, but while following() is set the
// slider only follows the box: the owner stores the value without rendering and leaves the text
// alone. Rendering waits for `settled`, kSettleMs after the last keystroke.
class CValueBox : public QObject
{
    Q_OBJECT

public:
    static constexpr int kSettleMs = 150;

    struct CCalls
    {
        // A value was typed, in the parameter's units (the slider has followed already).
        std::function<void(double value)> typed;
        // Typing paused: time to render.
        std::function<void()> settled;
        // A step from a typed value between two positions lands on the slider's own position:
        // the owner takes `position` as if the slider had moved there.
        std::function<void(int position)> stepped;
    };

    // `limits`: the parameter's own range and kind (its operation table row), which a Real box's
    // typed values keep to as well as to the slider's span.
    CValueBox(QSlider* slider, QLineEdit* box, const CValueFormat& format, CSliderScale scale,
              const CNumberRule& limits, CNumberBoxes& boxes, CCalls calls);

    // The slider stands at `position`, for `value`: the box shows it unless the move follows typing.
    void Show(int position, double value);
    bool following() const { return m_following; }
    // The value the box stands for, in the parameter's units.
    double value() const { return m_value; }
    QLineEdit* box() const { return m_box; }
    // What the box accepts, in its own units, and the range as its hint shows it ("0..255").
    const CNumberRule& rule() const { return m_rule; }
    QString hint() const { return m_hint; }
    // Drops a pending render (the dialog is closing).
    void Stop();
    // Ends typing: a pending render happens now and a readable box shows its value formatted.
    void Commit();
    // Moves the value by `steps` slider positions (negative: down).
    void Step(int steps);

    // The text a box in `format` shows for a typed `value` at `position`: as the slider would
    // show it, with a Real box giving as many more decimals as the typed value has (up to six).
    static QString Text(const CValueFormat& format, int position, double value);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnTyped(double number);
    void Write(const QString& text);

    QSlider* m_slider;
    QLineEdit* m_box;
    CValueFormat m_format;
    CSliderScale m_scale;
    CNumberBoxes& m_boxes;
    CCalls m_calls;
    CNumberRule m_rule;
    QString m_hint;
    QTimer* m_settle;
    double m_value = 0.0;
    int m_position = 0;
    bool m_following = false;
    bool m_writing = false;
};
