#pragma once

#include "dialogs/param_dialog.h"

#include <array>

// "Color Balance...": one signed offset per channel, -100..+100, each on a slider running from
// the complementary colour to the channel's own.
class CCBalanceDlg : public CParamDialog
{
    Q_OBJECT

public:
    enum Channel { kRed = 0, kGreen = 1, kBlue = 2 };

    explicit CCBalanceDlg(QWidget* parent = nullptr, CStartValues start = {});

    int offset(Channel channel) const { return static_cast<int>(value(ParamName(channel))); }
    QSlider* balanceSlider(Channel channel) const { return m_sliders[channel]; }
    QLineEdit* levelBox(Channel channel) const { return m_boxes[channel]; }

    // The preview and the final call: values() holds the red, green and blue offsets.
    static void Render(CImageProcessor& engine, const std::vector<double>& values);

private:
    static const char* ParamName(Channel channel);
    void OnSlider(Channel channel);

    int m_middle = 0;
    std::array<QSlider*, 3> m_sliders{};
    std::array<QLineEdit*, 3> m_boxes{};
    std::array<CValueBox*, 3> m_links{};
};
