#pragma once

#include <QDialog>

#include <optional>

class QLineEdit;
class QRadioButton;

// "Rotate Canvas": an angle typed with digits, '-' and a comma as the decimal separator, clockwise
// or counter-clockwise.
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

    void accept() override;

private:
    void OnTextChanged(const QString& text);

    QLineEdit* m_edit = nullptr;
    QRadioButton* m_clockwise = nullptr;
    QRadioButton* m_counterClockwise = nullptr;
    float m_angle = 0.0f;
};
