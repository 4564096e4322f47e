#pragma once

#include "dialogs/param_dialog.h"

class QCheckBox;
class QRadioButton;

// "Add noise...": the amount (0..400 %, finest at the low end), uniform or Gaussian distribution,
// colour or monochromatic noise.
class CAddNoiseDlg : public CParamDialog
{
    Q_OBJECT

public:
    // values(): amount, uniform (1 or 0), monochromatic (1 or 0), in the operation's order.
    explicit CAddNoiseDlg(QWidget* parent = nullptr, CStartValues start = {});

    // Slider position p gives the amount (p / 100)^2 / 400: 20000 is 100 %, 40000 is 400 %.
    static float AmountFromPosition(int position);

    float amount() const { return static_cast<float>(value("amount")); }
    bool uniform() const { return value("uniform") != 0.0; }
    bool monochromatic() const { return value("monochromatic") != 0.0; }

    QSlider* amountSlider() const { return slider("amount"); }
    QLineEdit* amountBox() const { return valueBox("amount"); }
    QRadioButton* uniformButton() const { return m_uniform; }
    QRadioButton* gaussianButton() const { return m_gaussian; }
    QCheckBox* monochromaticBox() const { return m_monochromatic; }

    // The preview and the final call.
    static void Render(CImageProcessor& engine, const std::vector<double>& values);
    // The command applies the noise only after OK with an amount other than 0.
    static bool Applies(int result, const CParamDialog& dialog);

private:
    QRadioButton* m_uniform = nullptr;
    QRadioButton* m_gaussian = nullptr;
    QCheckBox* m_monochromatic = nullptr;
};
