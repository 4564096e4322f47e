#include "dialogs/rotate_dlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include <charconv>
#include <string>

namespace {

bool Allowed(QChar c)
{
    return c.isDigit() || c == QLatin1Char('-') || c == QLatin1Char(',');
}

// The leading number of a text as the C library's text-to-double conversion reads it (0 when there
// is none), independent of the process's locale: the comma has already become a full stop.
double LeadingNumber(const std::string& text)
{
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range) {
        // Too many digits for a double: the conversion would give an infinity, which no rotation
        // can use; the angle counts as no angle.
        return 0.0;
    }
    return error == std::errc() ? value : 0.0;
}

} // namespace

CRotateDlg::CRotateDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Rotate Canvas"));
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Angle: "), this));
    m_edit = new QLineEdit(QString::asprintf("%d", 0), this);
    row->addWidget(m_edit);
    m_clockwise = new QRadioButton(QString::fromUtf8("°CW"), this);
    m_counterClockwise = new QRadioButton(QString::fromUtf8("°CCW"), this);
    m_clockwise->setChecked(true);
    row->addWidget(m_clockwise);
    row->addWidget(m_counterClockwise);
    layout->addLayout(row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &CRotateDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_edit, &QLineEdit::textChanged, this, &CRotateDlg::OnTextChanged);
    m_edit->selectAll();
    m_edit->setFocus();
}

void CRotateDlg::OnTextChanged(const QString& text)
{
    QString kept;
    kept.reserve(text.size());
    for (QChar c : text)
        if (Allowed(c)) kept += c;
    if (kept == text) return;
    // Keep the caret where the user was typing, less the characters removed before it.
    int caret = m_edit->cursorPosition();
    for (int i = 0; i < caret && i < text.size(); ++i)
        if (!Allowed(text[i])) --caret;
    m_edit->setText(kept);
    m_edit->setCursorPosition(caret);
}

void CRotateDlg::accept()
{
    QString text = m_edit->text();
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    m_angle = static_cast<float>(LeadingNumber(text.toStdString()));
    if (!m_clockwise->isChecked()) m_angle = -m_angle;
    QDialog::accept();
}

std::optional<float> CRotateDlg::Ask(QWidget* parent)
{
    CRotateDlg dialog(parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.angle();
}
