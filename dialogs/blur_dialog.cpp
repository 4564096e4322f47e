#include "dialogs/blur_dialog.h"

#include "filters/convolution/convolution.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

int AddBlurRadiusSlider(CParamDialog& dialog)
{
    const int index = dialog.AddSlider(QStringLiteral("Radius:"), 0, 2500, 0, CValueFormat::RealValue(1), 0.0, [](int p) {
        return static_cast<double>(orvex_convolution::BlurRadiusFromSlider(p));
    });
    AddUnitText(dialog, index, QStringLiteral("pixels"));
    return index;
}

void AddUnitText(CParamDialog& dialog, int index, const QString& unit)
{
    QLineEdit* box = dialog.valueBox(index);
    if (!box) return;
    // The shared base lays its sliders out in one grid: the unit goes in the column after the box.
    for (QGridLayout* grid : dialog.findChildren<QGridLayout*>()) {
        const int at = grid->indexOf(box);
        if (at < 0) continue;
        int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(at, &row, &column, &rowSpan, &columnSpan);
        grid->addWidget(new QLabel(unit, &dialog), row, column + columnSpan);
        return;
    }
}

CBlurDialog::CBlurDialog(const QString& title, QWidget* parent)
    : CParamDialog(title.isEmpty() ? QStringLiteral("Gaussian Blur") : title, parent)
{
    m_radius = AddBlurRadiusSlider(*this);
}

float CBlurDialog::AskRadius(const QString& title, QWidget* parent)
{
    CBlurDialog dialog(title, parent);
    dialog.exec();
    return dialog.resultRadius();
}

void CBlurDialog::done(int result)
{
    m_result = result == QDialog::Accepted ? radius() : 0.0f;
    CParamDialog::done(result);
}
