#include "dialogs/add_noise_dlg.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>

CAddNoiseDlg::CAddNoiseDlg(QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Add Noise"), parent, std::move(start))
{
    BindOperation("AddNoise");
    AddSlider("amount", QStringLiteral("Amount:"), CValueFormat::RealValue(2).WithUnit(QStringLiteral("%")),
              CSliderScale::Curve(0, 40000, [](int p) { return static_cast<double>(AmountFromPosition(p)); }));
    const bool uniform = AddValue("uniform") != 0.0;
    const bool monochromatic = AddValue("monochromatic") != 0.0;

    auto* group = new QGroupBox(QStringLiteral("Distribution"), this);
    auto* buttons = new QVBoxLayout(group);
    m_uniform = new QRadioButton(QStringLiteral("Uniform"), group);
    m_gaussian = new QRadioButton(QStringLiteral("Gaussian"), group);
    m_uniform->setChecked(uniform);
    m_gaussian->setChecked(!uniform);
    buttons->addWidget(m_uniform);
    buttons->addWidget(m_gaussian);
    extraArea()->addWidget(group);
    m_monochromatic = new QCheckBox(QStringLiteral("Monochromatic"), this);
    m_monochromatic->setChecked(monochromatic);
    extraArea()->addWidget(m_monochromatic);
    AddPreviewBox(true);
    // Amount 0 reproduces the picture whatever the distribution.
    SetIdentityValues({0.0, 1.0, 0.0});

    connect(m_uniform, &QRadioButton::clicked, this, [this] { SetValue("uniform", 1.0); });
    connect(m_gaussian, &QRadioButton::clicked, this, [this] { SetValue("uniform", 0.0); });
    connect(m_monochromatic, &QCheckBox::clicked, this,
            [this](bool checked) { SetValue("monochromatic", checked ? 1.0 : 0.0); });
}

float CAddNoiseDlg::AmountFromPosition(int position)
{
    const double q = position / 100.0;
    return static_cast<float>(q * q / 400.0);
}

void CAddNoiseDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    RenderByTable("AddNoise", engine, values);
}

bool CAddNoiseDlg::Applies(int result, const CParamDialog& dialog)
{
    return result == QDialog::Accepted && static_cast<float>(dialog.value("amount")) != 0.0f;
}
