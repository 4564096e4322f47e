#include "dialogs/rotate_dlg.h"

#include "core/operation_table.h"
#include "dialogs/number_box.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

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
    m_numbers = new CNumberBoxes(this, buttons->button(QDialogButtonBox::Ok));
    layout->addWidget(m_numbers->reasonLine());
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &CRotateDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    const COperation* rotate = FindOperation("RotateArbitrary");
    m_numbers->Add(m_edit, rotate ? CNumberRule::ForParam(rotate->params.front()) : CNumberRule::Real(-360, 360));
    m_edit->selectAll();
    m_edit->setFocus();
}

void CRotateDlg::accept()
{
    // OK is disabled meanwhile; this catches Enter and calls from code.
    const std::optional<double> typed = m_numbers->value(m_edit);
    if (!typed) return;
    m_angle = static_cast<float>(*typed);
    if (!m_clockwise->isChecked()) m_angle = -m_angle;
    QDialog::accept();
}

std::optional<float> CRotateDlg::Ask(QWidget* parent)
{
    CRotateDlg dialog(parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.angle();
}
