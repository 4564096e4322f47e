#include "dialogs/number_box.h"

#include "core/operation_table.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <charconv>
#include <cmath>
#include <string>

namespace {

// A frame that stands out in every style without changing the box's size much.
const QString kInvalidStyle = QStringLiteral("QLineEdit { border: 2px solid #d00000; border-radius: 2px; }");

bool StartsWithSign(const QString& text, const QString& sign)
{
    return !sign.isEmpty() && text.startsWith(sign);
}

QString NumberText(double value, bool whole, const QLocale& boxLocale)
{
    if (whole && std::abs(value) < 1e15) return QString::number(static_cast<long long>(value));
    QLocale locale = boxLocale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 10);
}

QString RangeReason(const CNumberRule& rule, const QLocale& locale)
{
    const QString kind = rule.whole ? QStringLiteral("a whole number") : QStringLiteral("a number");
    const bool low = std::isfinite(rule.minimum);
    const bool high = std::isfinite(rule.maximum);
    if (low && high)
        return QStringLiteral("Type %1 from %2 to %3.")
            .arg(kind, NumberText(rule.minimum, rule.whole, locale), NumberText(rule.maximum, rule.whole, locale));
    if (low) return QStringLiteral("Type %1 of at least %2.").arg(kind, NumberText(rule.minimum, rule.whole, locale));
    if (high) return QStringLiteral("Type %1 of at most %2.").arg(kind, NumberText(rule.maximum, rule.whole, locale));
    return QStringLiteral("Type %1.").arg(kind);
}

CNumberReading Unreadable(const QString& reason)
{
    return {std::nullopt, reason};
}

} // namespace

CNumberRule CNumberRule::ForParam(const CParam& param)
{
    return {param.min, param.max, param.type != ParamType::Float, {}, {}, {}};
}

CNumberReading ReadNumber(const QString& typed, const CNumberRule& rule, const QLocale& locale)
{
    QString text = typed.trimmed();
    for (const QString& unit : rule.units) {
        if (unit.isEmpty() || text.size() <= unit.size() || !text.endsWith(unit, Qt::CaseInsensitive)) continue;
        text = text.chopped(unit.size()).trimmed();
        break;
    }
    if (text.isEmpty()) {
        if (rule.emptyValue) return {rule.emptyValue, {}};
        return Unreadable(RangeReason(rule, locale));
    }

    qsizetype i = 0;
    bool negative = false;
    if (text[0] == QLatin1Char('-') || text[0] == QChar(0x2212)) {
        negative = true;
        i = 1;
    } else if (text[0] == QLatin1Char('+')) {
        i = 1;
    } else if (StartsWithSign(text, locale.negativeSign())) {
        negative = true;
        i = locale.negativeSign().size();
    } else if (StartsWithSign(text, locale.positiveSign())) {
        i = locale.positiveSign().size();
    }

    // Digits of any script become ASCII so that the conversion below is the same in every locale.
    std::string number = negative ? "-" : "";
    const QString localePoint = locale.decimalPoint();
    bool separator = false;
    int digits = 0;
    const QString notANumber = QStringLiteral("\"%1\" is not a number.").arg(text);
    while (i < text.size()) {
        const QChar c = text[i];
        if (c.isDigit()) {
            number += static_cast<char>('0' + c.digitValue());
            ++digits;
            ++i;
            continue;
        }
        qsizetype length = 0;
        if (c == QLatin1Char('.') || c == QLatin1Char(','))
            length = 1;
        else if (!localePoint.isEmpty() && QStringView(text).mid(i).startsWith(localePoint))
            length = localePoint.size();
        if (length == 0 || separator) return Unreadable(notANumber);
        separator = true;
        number += '.';
        i += length;
    }
    if (digits == 0) return Unreadable(notANumber);
    if (separator && rule.whole) return Unreadable(QStringLiteral("\"%1\" is not a whole number.").arg(text));

    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range) {
        // More digits than a double holds: beyond any range a box can have.
        value = negative ? -HUGE_VAL : HUGE_VAL;
    } else if (error != std::errc() || end != number.data() + number.size()) {
        return Unreadable(notANumber);
    }
    if (value < rule.minimum && !rule.belowMinimum.isEmpty()) return Unreadable(rule.belowMinimum);
    if (!(value >= rule.minimum && value <= rule.maximum)) return Unreadable(RangeReason(rule, locale));
    // "-0" is typed on the way to a negative number; as a value it is plain zero.
    return {value == 0.0 ? 0.0 : value, {}};
}

CNumberBoxes::CNumberBoxes(QWidget* dialog, QPushButton* ok)
    : QObject(dialog), m_ok(ok), m_reasonLine(new QLabel(dialog))
{
    m_reasonLine->setWordWrap(true);
    m_reasonLine->setStyleSheet(QStringLiteral("QLabel { color: #d00000; }"));
    m_reasonLine->setVisible(false);
}

void CNumberBoxes::Add(QLineEdit* box, CNumberRule rule, std::function<void(double)> changed)
{
    m_entries.push_back({box, std::move(rule), std::move(changed), {}, {}});
    Read(m_entries.back());
    const std::size_t at = m_entries.size() - 1;
    connect(box, &QLineEdit::textChanged, this, [this, at] {
        CEntry& entry = m_entries[at];
        Read(entry);
        if (entry.reading.value && entry.changed) entry.changed(*entry.reading.value);
    });
    ShowState();
}

void CNumberBoxes::SetRule(QLineEdit* box, CNumberRule rule)
{
    for (CEntry& entry : m_entries) {
        if (entry.box != box) continue;
        entry.rule = std::move(rule);
        Read(entry);
    }
}

void CNumberBoxes::SetHint(QLineEdit* box, const QString& hint)
{
    for (CEntry& entry : m_entries) {
        if (entry.box != box) continue;
        entry.hint = hint;
        Read(entry);
    }
}

const CNumberRule* CNumberBoxes::rule(const QLineEdit* box) const
{
    const CEntry* entry = Find(box);
    return entry ? &entry->rule : nullptr;
}

void CNumberBoxes::Read(CEntry& entry)
{
    entry.reading = ReadNumber(entry.box->text(), entry.rule, entry.box->locale());
    const bool valid = entry.reading.value.has_value();
    entry.box->setStyleSheet(valid ? QString() : kInvalidStyle);
    entry.box->setToolTip(valid ? entry.hint : entry.reading.reason);
    ShowState();
}

void CNumberBoxes::ShowState()
{
    const QString text = reason();
    m_reasonLine->setText(text);
    m_reasonLine->setVisible(!text.isEmpty());
    if (m_ok) m_ok->setEnabled(text.isEmpty());
}

const CNumberBoxes::CEntry* CNumberBoxes::Find(const QLineEdit* box) const
{
    for (const CEntry& entry : m_entries)
        if (entry.box == box) return &entry;
    return nullptr;
}

bool CNumberBoxes::allValid() const
{
    return reason().isEmpty();
}

bool CNumberBoxes::isValid(const QLineEdit* box) const
{
    const CEntry* entry = Find(box);
    return entry && entry->reading.value.has_value();
}

std::optional<double> CNumberBoxes::value(const QLineEdit* box) const
{
    const CEntry* entry = Find(box);
    return entry ? entry->reading.value : std::nullopt;
}

QString CNumberBoxes::reason() const
{
    for (const CEntry& entry : m_entries)
        if (!entry.reading.value) return entry.reading.reason;
    return {};
}
