#pragma once

#include "dialogs/param_dialog.h"

class QLineEdit;
class QRadioButton;

// "Rotate Canvas": an angle in degrees, typed with the full stop or the locale's decimal separator
// (ReadNumber), clockwise or counter-clockwise. OK waits for an angle the rotation takes; values()
// holds the start angle until OK stores the typed one, positive clockwise.
class CRotateDlg : public CParamDialog
{
    Q_OBJECT

public:
    explicit CRotateDlg(QWidget* parent = nullptr, CStartValues start = {});

    // Degrees, positive clockwise; the start angle until OK.
    float angle() const { return static_cast<float>(value("angle")); }
    QLineEdit* angleBox() const { return m_edit; }
    QRadioButton* clockwiseButton() const { return m_clockwise; }
    QRadioButton* counterClockwiseButton() const { return m_counterClockwise; }

    // Refuses, leaving the dialog open, while the box holds no angle.
    void accept() override;

private:
    QLineEdit* m_edit = nullptr;
    QRadioButton* m_clockwise = nullptr;
    QRadioButton* m_counterClockwise = nullptr;
};
