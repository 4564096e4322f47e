#include "dialogs/offset_dlg.h"

#include "core/image_processor.h"

#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

COffsetDlg::COffsetDlg(int width, int height, QWidget* parent) : CParamDialog(QStringLiteral("Offset"), parent)
{
    AddSlider(QStringLiteral("Horizontal:"), 0, 2 * width, width,
              CValueFormat::Signed(width).WithUnit(QStringLiteral("pixels right")), 0.0,
              [width](int p) { return static_cast<double>(p - width); });
    AddSlider(QStringLiteral("Vertical:"), 0, 2 * height, height,
              CValueFormat::Signed(height).WithUnit(QStringLiteral("pixels down")), 0.0,
              [height](int p) { return static_cast<double>(p - height); });
    AddValue('s');

    m_group = new QGroupBox(QStringLiteral("Unfefinied Areas"), this);
    auto* modes = new QVBoxLayout(m_group);
    m_background = new QRadioButton(QStringLiteral("Set to Background"), m_group);
    m_repeat = new QRadioButton(QStringLiteral("Repeat Edge Pixels"), m_group);
    m_wrap = new QRadioButton(QStringLiteral("Wrap Around"), m_group);
    m_background->setChecked(true);
    for (const auto& [button, code] : {std::pair{m_background, 's'}, {m_repeat, 'r'}, {m_wrap, 'w'}}) {
        modes->addWidget(button);
        connect(button, &QRadioButton::toggled, this, [this, code = code](bool on) {
            if (on && edgeMode() != code) SetValue(kMode, code);
        });
    }
    extraArea()->addWidget(m_group);
    AddPreviewBox(true);
    // No shift reproduces the picture whatever the mode; the mode slot keeps its value.
    SetIdentityValues({0, 0});
}

QRadioButton* COffsetDlg::modeButton(char mode) const
{
    return mode == 'r' ? m_repeat : mode == 'w' ? m_wrap : m_background;
}

void COffsetDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    engine.Offset(static_cast<int>(values.at(kHorizontal)), static_cast<int>(values.at(kVertical)),
                  static_cast<char>(static_cast<int>(values.at(kMode))));
}
