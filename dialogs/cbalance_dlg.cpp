#include "dialogs/cbalance_dlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QVBoxLayout>

namespace {

constexpr int kMiddle = 100;

} // namespace

CCBalanceDlg::CCBalanceDlg(QWidget* parent) : CParamDialog(QStringLiteral("Color Balance"), parent)
{
    // The three boxes sit in one row above the sliders and each slider is labelled with the colours
    // at its two ends, so the sliders are laid out here rather than by AddSlider.
    auto* levels = new QHBoxLayout;
    levels->addWidget(new QLabel(QStringLiteral("Color Levels:"), this));
    auto* sliders = new QGridLayout;
    const char* left[3] = {"Cyan", "Magenta", "Yellow"};
    const char* right[3] = {"Red", "Green", "Blue"};
    const char* names[3] = {"red", "green", "blue"};
    BindOperation("ColorBalance");
    for (int c = kRed; c <= kBlue; ++c) {
        m_slots[c] = AddValue(names[c], 0);

        auto* box = new QLineEdit(QStringLiteral("0"), this);
        box->setReadOnly(true);
        box->setFocusPolicy(Qt::NoFocus);
        box->setMaximumWidth(60);
        levels->addWidget(box);
        m_boxes[c] = box;

        auto* slider = new QSlider(Qt::Horizontal, this);
        slider->setRange(0, 2 * kMiddle);
        slider->setValue(kMiddle);
        slider->setMinimumWidth(220);
        sliders->addWidget(new QLabel(QString::fromLatin1(left[c]), this), c, 0);
        sliders->addWidget(slider, c, 1);
        sliders->addWidget(new QLabel(QString::fromLatin1(right[c]), this), c, 2);
        m_sliders[c] = slider;
        connect(slider, &QSlider::valueChanged, this, [this, c] { OnSlider(static_cast<Channel>(c)); });
    }
    levels->addStretch();
    extraArea()->addLayout(levels);
    extraArea()->addLayout(sliders);
    AddPreviewBox(true);
}

void CCBalanceDlg::OnSlider(Channel channel)
{
    const int position = m_sliders[channel]->value();
    const int shift = position - kMiddle;
    if (shift == offset(channel)) return;
    m_boxes[channel]->setText(FormatSliderValue(CValueFormat::Signed(kMiddle), position, shift));
    // Stores the offset and, with "Preview" checked, renders all three.
    SetValue(m_slots[channel], shift);
}

void CCBalanceDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    RenderByTable("ColorBalance", engine, values);
}
