#pragma once

#include <QLocale>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <limits>
#include <optional>
#include <vector>

struct CParam;

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// What a number typed into a box must be to count as the box's value.
struct CNumberRule
{
    double minimum = -std::numeric_limits<double>::infinity();
    double maximum = std::numeric_limits<double>::infinity();
    // Integers only: a decimal separator makes the text no value.
    bool whole = false;
    // What an empty box stands for; without it an empty box holds no value.
    std::optional<double> emptyValue;
    // The reason given for a readable value below the minimum, in place of the general one.
    QString belowMinimum;
    // Units that may follow the number ("%", "°"), as a box showing them has them typed along.
    QStringList units;

    static CNumberRule Whole(double minimum, double maximum) { return {minimum, maximum, true, {}, {}, {}}; }
    static CNumberRule Real(double minimum, double maximum) { return {minimum, maximum, false, {}, {}, {}}; }
    // The kind and range of an operation table parameter (Int: whole, Float: real).
    static CNumberRule ForParam(const CParam& param);
    CNumberRule EmptyMeans(double value) const
    {
        CNumberRule r = *this;
        r.emptyValue = value;
        return r;
    }
    CNumberRule BelowMinimumSays(QString reason) const
    {
        CNumberRule r = *this;
        r.belowMinimum = std::move(reason);
        return r;
    }
    CNumberRule WithUnits(QStringList accepted) const
    {
        CNumberRule r = *this;
        r.units = std::move(accepted);
        return r;
    }
};

// A box's text as a value, or the reason it is none.
struct CNumberReading
{
    std::optional<double> value;
    QString reason; // empty exactly when there is a value
};

// Reads the text of a numeric box. Spaces around it are ignored, and so is one of the rule's units
// at its end (with or without a space before it); then comes an optional sign ('-',
// '+', the minus sign U+2212 or the locale's own signs), decimal digits and, for a real number, at
// most one decimal separator: the full stop, the comma or the locale's own, so that "12.5" and
// "12,5" are the same number in every locale. Group separators are not taken: in a box they are far
// more often a decimal separator typed the other way than a thousands mark, and reading "1,000" as
// one thousand or as one would each surprise somebody. Any other character makes the whole text
// unreadable: nothing is skipped, so what is read is always all that was typed.
CNumberReading ReadNumber(const QString& text, const CNumberRule& rule, const QLocale& locale = QLocale());

// The numeric boxes of one dialog, read the same way everywhere. Every change of a box's text,
// typed or set by the dialog, is read with ReadNumber; the text itself is never rewritten. A box
// whose text is not a value under its rule gets a red frame and its reason as tool tip, the reason
// line shows the first such box's reason, and OK stays disabled until every box holds a value. A
// box that reads well passes its value to its callback. Boxes read in their own locale.
class CNumberBoxes : public QObject
{
    Q_OBJECT

public:
    // `ok` follows the boxes' state; the reason line is made a child of `dialog`, which places it
    // in its layout (it is hidden while there is nothing to say).
    CNumberBoxes(QWidget* dialog, QPushButton* ok);

    // Watches `box` from now on; its current text is read at once (without the callback, which
    // reports changes).
    void Add(QLineEdit* box, CNumberRule rule, std::function<void(double)> changed = {});
    // Reads the box again under a new rule, without the callback: the caller is about to give the
    // box the text that suits the new rule, or knows the value already.
    void SetRule(QLineEdit* box, CNumberRule rule);
    // The tool tip the box shows while it holds a value (its range, say); the reason replaces it
    // while it holds none.
    void SetHint(QLineEdit* box, const QString& hint);
    const CNumberRule* rule(const QLineEdit* box) const;

    bool allValid() const;
    bool isValid(const QLineEdit* box) const;
    std::optional<double> value(const QLineEdit* box) const;
    // The reason of the first box without a value, empty when all have one.
    QString reason() const;
    QLabel* reasonLine() const { return m_reasonLine; }

private:
    struct CEntry
    {
        QLineEdit* box = nullptr;
        CNumberRule rule;
        std::function<void(double)> changed;
        CNumberReading reading;
        QString hint;
    };

    const CEntry* Find(const QLineEdit* box) const;
    void Read(CEntry& entry);
    void ShowState();

    std::vector<CEntry> m_entries;
    QPushButton* m_ok = nullptr;
    QLabel* m_reasonLine = nullptr;
};
