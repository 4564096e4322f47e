#include "dialogs/cbalance_dlg.h"

#include "core/operation_table.h"
#include "dialogs/value_box.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QVBoxLayout>

CCBalanceDlg::CCBalanceDlg(QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Color Balance"), parent, std::move(start))
{
    // The three boxes sit in one row above the sliders and each slider is labelled with the colours
    // at its two ends, so the sliders are laid out here rather than by AddSlider.
    auto* levels = new QHBoxLayout;
    levels->addWidget(new QLabel(QStringLiteral("Color Levels:"), this));
    auto* sliders = new QGridLayout;
    const char* left[3] = {"Cyan", "Magenta", "Yellow"};
    const char* right[3] = {"Red", "Green", "Blue"};
    BindOperation("ColorBalance");
    // The offsets run symmetrically about 0; the slider's middle stands for 0.
    m_middle = operation() ? static_cast<int>(operation()->params.front().max) : 0;
    for (int c = kRed; c <= kBlue; ++c) {
        const int shift = static_cast<int>(AddValue(ParamName(static_cast<Channel>(c))));

        auto* box = new QLineEdit(FormatSliderValue(CValueFormat::Signed(m_middle), m_middle + shift, shift), this);
        box->setMaximumWidth(60);
        levels->addWidget(box);
        m_boxes[c] = box;

        auto* slider = new QSlider(Qt::Horizontal, this);
        slider->setRange(0, 2 * m_middle);
        slider->setValue(m_middle + shift);
        slider->setMinimumWidth(220);
        sliders->addWidget(new QLabel(QString::fromLatin1(left[c]), this), c, 0);
        sliders->addWidget(slider, c, 1);
        sliders->addWidget(new QLabel(QString::fromLatin1(right[c]), this), c, 2);
        m_sliders[c] = slider;
        connect(slider, &QSlider::valueChanged, this, [this, c] { OnSlider(static_cast<Channel>(c)); });
        CValueBox::CCalls calls;
        calls.settled = [this] { PreviewValues(); };
        m_links[c] = new CValueBox(slider, box, CValueFormat::Signed(m_middle), CSliderScale::Centred(m_middle),
                                   CNumberRule::ForParam(operation()->params[static_cast<std::size_t>(c)]),
                                   numberBoxes(), std::move(calls));
    }
    levels->addStretch();
    extraArea()->addLayout(levels);
    extraArea()->addLayout(sliders);
    AddPreviewBox(true);
}

const char* CCBalanceDlg::ParamName(Channel channel)
{
    static const char* const names[3] = {"red", "green", "blue"};
    return names[channel];
}

void CCBalanceDlg::OnSlider(Channel channel)
{
    const int position = m_sliders[channel]->value();
    const int shift = position - m_middle;
    if (shift == offset(channel)) return;
    // A slider following its box only stores; the box renders once typing pauses.
    if (m_links[channel]->following()) {
        StoreValue(ParamName(channel), shift);
        return;
    }
    m_links[channel]->Show(position, shift);
    // Stores the offset and, with "Preview" checked, renders all three.
    SetValue(ParamName(channel), shift);
}

void CCBalanceDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    RenderByTable("ColorBalance", engine, values);
}
