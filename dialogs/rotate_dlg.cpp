#include "dialogs/rotate_dlg.h"

#include "core/operation_table.h"
#include "dialogs/number_box.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cmath>

CRotateDlg::CRotateDlg(QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Rotate Canvas"), parent, std::move(start))
{
    BindOperation("RotateArbitrary");
    // The box shows the size of the turn and the buttons its direction.
    const double startAngle = AddValue("angle");
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Angle: "), this));
    m_edit = new QLineEdit(QString::number(std::abs(startAngle)), this);
    row->addWidget(m_edit);
    m_clockwise = new QRadioButton(QString::fromUtf8("°CW"), this);
    m_counterClockwise = new QRadioButton(QString::fromUtf8("°CCW"), this);
    (startAngle < 0 ? m_counterClockwise : m_clockwise)->setChecked(true);
    row->addWidget(m_clockwise);
    row->addWidget(m_counterClockwise);
    extraArea()->addLayout(row);
    const COperation* rotate = operation();
    numberBoxes().Add(m_edit, rotate ? CNumberRule::ForParam(rotate->params.front()) : CNumberRule::Real(-360, 360));
    m_edit->selectAll();
    m_edit->setFocus();
}

void CRotateDlg::accept()
{
    // OK is disabled meanwhile; this catches Enter and calls from code.
    const std::optional<double> typed = numberBoxes().value(m_edit);
    if (!typed) return;
    const float angle = static_cast<float>(*typed);
    SetValue("angle", m_clockwise->isChecked() ? angle : -angle);
    CParamDialog::accept();
}
