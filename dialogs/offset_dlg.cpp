#include "dialogs/offset_dlg.h"

#include "core/image_processor.h"

#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

COffsetDlg::COffsetDlg(int width, int height, QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Offset"), parent, std::move(start))
{
    BindOperation("Offset");
    // A shift of a whole side or more leaves nothing of the picture, so the sliders reach only
    // the picture's own width and height of the row's range.
    AddSlider("horizontal", QStringLiteral("Horizontal:"),
              CValueFormat::Signed(width).WithUnit(QStringLiteral("pixels right")), CSliderScale::Centred(width));
    AddSlider("vertical", QStringLiteral("Vertical:"),
              CValueFormat::Signed(height).WithUnit(QStringLiteral("pixels down")), CSliderScale::Centred(height));
    const char startMode = static_cast<char>(static_cast<int>(AddValue("mode")));

    m_group = new QGroupBox(QStringLiteral("Unfefinied Areas"), this);
    auto* modes = new QVBoxLayout(m_group);
    m_background = new QRadioButton(QStringLiteral("Set to Background"), m_group);
    m_repeat = new QRadioButton(QStringLiteral("Repeat Edge Pixels"), m_group);
    m_wrap = new QRadioButton(QStringLiteral("Wrap Around"), m_group);
    modeButton(startMode)->setChecked(true);
    for (const auto& [button, code] : {std::pair{m_background, 's'}, {m_repeat, 'r'}, {m_wrap, 'w'}}) {
        modes->addWidget(button);
        connect(button, &QRadioButton::toggled, this, [this, code = code](bool on) {
            if (on && edgeMode() != code) SetValue("mode", code);
        });
    }
    extraArea()->addWidget(m_group);
    AddPreviewBox(true);
    // No shift reproduces the picture whatever the mode.
    SetIdentityValues({0, 0, 's'});
}

QRadioButton* COffsetDlg::modeButton(char mode) const
{
    return mode == 'r' ? m_repeat : mode == 'w' ? m_wrap : m_background;
}

void COffsetDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    RenderByTable("Offset", engine, values);
}
