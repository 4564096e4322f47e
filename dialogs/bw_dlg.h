#pragma once

#include "dialogs/param_dialog.h"

#include <array>

class QComboBox;

// "Black && White...": a grey mix of the three channels, weighted -200 %..+300 % each, chosen
// from presets or by hand, optionally keeping the weights at a 100 % total ("Preserve
// Luminosity").
//
// The dialog keeps its own "Preview" box: while it moves sliders itself (a preset, the
// luminosity rule) it must store their weights without rendering each step, and with "Preview"
// unchecked it renders the picture itself rather than the identity of a mix (no mix reproduces a
// colour picture).
class CBWDlg : public CParamDialog
{
    Q_OBJECT

public:
    enum Channel { kReds = 0, kGreens = 1, kBlues = 2 };
    // A reds value below -2 in a request asks for the picture without the effect.
    static constexpr double kShowOriginal = -3.0;

    explicit CBWDlg(QWidget* parent = nullptr, CStartValues start = {});

    float weight(Channel channel) const { return static_cast<float>(value(ParamName(channel))); }
    QComboBox* presetBox() const { return m_preset; }
    QSlider* mixSlider(Channel channel) const { return m_sliders[channel]; }
    QLineEdit* mixBox(Channel channel) const { return m_boxes[channel]; }
    QCheckBox* previewCheck() const { return m_preview; }
    QCheckBox* preserveLuminosityBox() const { return m_preserve; }

    // The preview and the final call: values() holds the reds, greens and blues weights, or
    // kShowOriginal three times.
    static void Render(CImageProcessor& engine, const std::vector<double>& values);

private:
    static const char* ParamName(Channel channel);
    void OnSlider(Channel channel);
    void OnPresetChosen(int index);
    void OnPreserveClicked(bool checked);
    void OnPreviewClicked(bool checked);
    // What a changed weight sets off: the luminosity rule, a preview, the preset box to "Custom".
    void ReactToChange(Channel channel, bool render = true);
    // Moves the partners of `channel`; true when one of them moved.
    bool Redistribute(Channel channel);
    void MoveSliders(const std::array<int, 3>& positions);
    void Preview(const std::vector<double>& values);

    QComboBox* m_preset = nullptr;
    std::array<QSlider*, 3> m_sliders{};
    std::array<QLineEdit*, 3> m_boxes{};
    std::array<CValueBox*, 3> m_links{};
    QCheckBox* m_preview = nullptr;
    QCheckBox* m_preserve = nullptr;
    // Set while the dialog moves sliders itself: their notifications then only store the weights.
    bool m_busy = false;
};
