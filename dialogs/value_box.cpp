#include "dialogs/value_box.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSlider>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

bool ShowsValue(const CValueFormat& format)
{
    return format.kind == CValueFormat::Kind::Real;
}

QString BoundText(double bound, const CValueFormat& format)
{
    const QString number = QString::number(bound, 'g', 10);
    return format.kind == CValueFormat::Kind::SignedOffset && bound > 0 ? QStringLiteral("+") + number : number;
}

} // namespace

CValueBox::CValueBox(QSlider* slider, QLineEdit* box, const CValueFormat& format, CSliderScale scale,
                     const CNumberRule& limits, CNumberBoxes& boxes, CCalls calls)
    : QObject(box), m_slider(slider), m_box(box), m_format(format), m_scale(std::move(scale)), m_boxes(boxes),
      m_calls(std::move(calls)), m_settle(new QTimer(this))
{
    m_position = m_slider->value();
    m_value = m_scale.toValue(m_position);

    if (ShowsValue(m_format)) {
        // The span the slider covers, kept to what the row takes. The ends are rounded to the
        // decimals shown, so that what an end shows can be typed back (an end computed in single
        // precision is a hair off its decimal).
        const double tenths = std::pow(10.0, m_format.precision);
        const double a = m_scale.toValue(m_scale.minimum);
        const double b = m_scale.toValue(m_scale.maximum);
        const double low = std::max(std::round(std::min(a, b) * tenths) / tenths, limits.minimum);
        const double high = std::min(std::round(std::max(a, b) * tenths) / tenths, limits.maximum);
        m_rule = limits.whole ? CNumberRule::Whole(low, high) : CNumberRule::Real(low, high);
    } else {
        m_rule = CNumberRule::Whole(m_scale.minimum - m_format.middle, m_scale.maximum - m_format.middle);
    }
    QStringList units;
    if (m_format.kind == CValueFormat::Kind::Percent) units << QStringLiteral("%");
    if (m_format.kind == CValueFormat::Kind::Degrees) units << QString(QChar(0x00B0));
    if (!m_format.unit.isEmpty()) units << m_format.unit;
    m_rule = m_rule.WithUnits(units);
    m_hint = BoundText(m_rule.minimum, m_format) + QStringLiteral("..") + BoundText(m_rule.maximum, m_format);

    m_box->setReadOnly(false);
    m_box->setFocusPolicy(Qt::StrongFocus);
    m_box->setPlaceholderText(m_hint);
    m_box->installEventFilter(this);
    m_settle->setSingleShot(true);
    m_settle->setInterval(kSettleMs);
    connect(m_settle, &QTimer::timeout, this, [this] {
        if (m_calls.settled) m_calls.settled();
    });
    connect(m_box, &QLineEdit::editingFinished, this, &CValueBox::Commit);
    m_boxes.Add(m_box, m_rule, [this](double number) { OnTyped(number); });
    m_boxes.SetHint(m_box, m_hint);
}

QString CValueBox::Text(const CValueFormat& format, int position, double value)
{
    if (!ShowsValue(format)) return FormatSliderValue(format, position, value);
    int precision = std::max(0, format.precision);
    for (; precision < 6; ++precision) {
        const double shown = QString::asprintf("%.*f", precision, value).toDouble();
        if (std::abs(shown - value) <= 1e-12 * std::max(1.0, std::abs(value))) break;
    }
    CValueFormat wider = format;
    wider.precision = precision;
    return FormatSliderValue(wider, position, value);
}

void CValueBox::Write(const QString& text)
{
    if (text == m_box->text()) return;
    m_writing = true;
    m_box->setText(text);
    m_writing = false;
}

void CValueBox::Show(int position, double value)
{
    if (m_following) return;
    m_position = position;
    m_value = value;
    Write(FormatSliderValue(m_format, position, value));
}

void CValueBox::OnTyped(double number)
{
    if (m_writing) return;
    if (ShowsValue(m_format)) {
        m_value = number;
        m_position = m_scale.PositionOf(number);
    } else {
        m_position =
            std::clamp(static_cast<int>(std::lround(number)) + m_format.middle, m_scale.minimum, m_scale.maximum);
        m_value = m_scale.toValue(m_position);
    }
    m_following = true;
    m_slider->setValue(m_position);
    m_following = false;
    if (m_calls.typed) m_calls.typed(m_value);
    m_settle->start();
}

void CValueBox::Stop()
{
    m_settle->stop();
}

void CValueBox::Commit()
{
    if (m_settle->isActive()) {
        m_settle->stop();
        if (m_calls.settled) m_calls.settled();
    }
    if (!m_boxes.isValid(m_box)) return;
    // A typed value between positions keeps its own decimals; one on a position reads as the
    // slider shows it.
    const bool onPosition = m_scale.toValue(m_position) == m_value;
    Write(onPosition ? FormatSliderValue(m_format, m_position, m_value) : Text(m_format, m_position, m_value));
}

void CValueBox::Step(int steps)
{
    if (steps == 0) return;
    const int at = m_slider->value();
    int target = at + steps;
    // From a typed value between two positions, the first step up lands on the position above it
    // (and down on the one below), not one further.
    const double off = m_scale.toValue(at) - m_value;
    if ((steps > 0 && off > 0) || (steps < 0 && off < 0)) target -= steps > 0 ? 1 : -1;
    target = std::clamp(target, m_slider->minimum(), m_slider->maximum());
    // A step renders at once, which takes the place of a render still waiting for typing to pause.
    if (target != at) {
        Stop();
        m_slider->setValue(target);
    } else if (m_scale.toValue(target) != m_value) {
        Stop();
        if (m_calls.stepped) m_calls.stepped(target);
    } else {
        // At an end: the box shows where the value stays, whatever was typed.
        Write(FormatSliderValue(m_format, target, m_value));
    }
}

bool CValueBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_box) return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const int page = std::max(1, m_slider->pageStep());
        switch (key->key()) {
        case Qt::Key_Up: Step(1); return true;
        case Qt::Key_Down: Step(-1); return true;
        case Qt::Key_PageUp: Step(page); return true;
        case Qt::Key_PageDown: Step(-page); return true;
        default: break;
        }
    } else if (event->type() == QEvent::Wheel) {
        const auto* wheel = static_cast<QWheelEvent*>(event);
        const int delta = wheel->angleDelta().y();
        if (delta != 0) Step(delta > 0 ? std::max(1, delta / 120) : std::min(-1, delta / 120));
        return true;
    }
    return QObject::eventFilter(watched, event);
}
