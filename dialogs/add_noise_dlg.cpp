#include "dialogs/add_noise_dlg.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>

CAddNoiseDlg::CAddNoiseDlg(QWidget* parent) : CParamDialog(QStringLiteral("Add Noise"), parent)
{
    AddSlider(QStringLiteral("Amount:"), 0, 40000, 0, CValueFormat::RealValue(2).WithUnit(QStringLiteral("%")), 0.0,
              [](int p) { return static_cast<double>(AmountFromPosition(p)); });
    AddValue(1.0); // uniform
    AddValue(0.0); // monochromatic

    auto* group = new QGroupBox(QStringLiteral("Distribution"), this);
    auto* buttons = new QVBoxLayout(group);
    m_uniform = new QRadioButton(QStringLiteral("Uniform"), group);
    m_gaussian = new QRadioButton(QStringLiteral("Gaussian"), group);
    m_uniform->setChecked(true);
    buttons->addWidget(m_uniform);
    buttons->addWidget(m_gaussian);
    extraArea()->addWidget(group);
    m_monochromatic = new QCheckBox(QStringLiteral("Monochromatic"), this);
    extraArea()->addWidget(m_monochromatic);
    AddPreviewBox(true);
    // Amount 0 reproduces the picture whatever the distribution.
    SetIdentityValues({0.0, 1.0, 0.0});

    connect(m_uniform, &QRadioButton::clicked, this, [this] { SetValue(kUniform, 1.0); });
    connect(m_gaussian, &QRadioButton::clicked, this, [this] { SetValue(kUniform, 0.0); });
    connect(m_monochromatic, &QCheckBox::clicked, this,
            [this](bool checked) { SetValue(kMonochromatic, checked ? 1.0 : 0.0); });
}

float CAddNoiseDlg::AmountFromPosition(int position)
{
    const double q = position / 100.0;
    return static_cast<float>(q * q / 400.0);
}

void CAddNoiseDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    engine.AddNoise(static_cast<float>(values.at(kAmount)), values.at(kUniform) != 0.0,
                    values.at(kMonochromatic) != 0.0);
}

bool CAddNoiseDlg::Applies(int result, const CParamDialog& dialog)
{
    return result == QDialog::Accepted && static_cast<float>(dialog.value(kAmount)) != 0.0f;
}
