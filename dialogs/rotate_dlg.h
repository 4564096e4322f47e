#pragma once

#include <QDialog>

#include <optional>

class CNumberBoxes;
class QLineEdit;
class QRadioButton;

// "Rotate Canvas": an angle in degrees, typed with the full stop or the locale's decimal separator
// (ReadNumber), clockwise or counter-clockwise. OK waits for an angle the rotation takes.
class CRotateDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CRotateDlg(QWidget* parent = nullptr);

    // Degrees, positive clockwise; 0 until OK.
    float angle() const { return m_angle; }
    QLineEdit* angleBox() const { return m_edit; }
    QRadioButton* clockwiseButton() const { return m_clockwise; }
    QRadioButton* counterClockwiseButton() const { return m_counterClockwise; }

    // Runs the dialog modally: the angle after OK, nothing after Cancel.
    static std::optional<float> Ask(QWidget* parent);

    CNumberBoxes& numberBoxes() const { return *m_numbers; }

    // Refuses, leaving the dialog open, while the box holds no angle.
    void accept() override;

private:
    CNumberBoxes* m_numbers = nullptr;
    QLineEdit* m_edit = nullptr;
    QRadioButton* m_clockwise = nullptr;
    QRadioButton* m_counterClockwise = nullptr;
    float m_angle = 0.0f;
};
