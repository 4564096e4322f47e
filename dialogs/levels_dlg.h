#pragma once

#include "dialogs/param_dialog.h"
#include "filters/colour/histogram.h"
#include "filters/colour/levels.h"

#include <array>

class CImage;
class CLevelMarkers;
class CLevelsHistogram;
class QComboBox;

// "Levels": input black, mid-tone (gamma) and white points and an output range, for all three
// channels together and for each on its own, all applied at once.
//
// values() holds the row's slots for the all-channel setting (channel 'a', black, white, gamma,
// out_black, out_white), then black, white, gamma, out_black and out_white for red, green and blue.
class CLevelsDlg : public CParamDialog
{
    Q_OBJECT

public:
    enum Channel { kAll = 0, kRed = 1, kGreen = 2, kBlue = 3 };
    static constexpr std::size_t kSlots = 6 + 3 * 5;

    // The histogram is counted from `picture` once, here.
    explicit CLevelsDlg(const CImage& picture, QWidget* parent = nullptr, CStartValues start = {});

    QComboBox* channelBox() const { return m_channelBox; }
    QLineEdit* blackBox() const { return m_boxes[0]; }
    QLineEdit* gammaBox() const { return m_boxes[1]; }
    QLineEdit* whiteBox() const { return m_boxes[2]; }
    QLineEdit* outBlackBox() const { return m_boxes[3]; }
    QLineEdit* outWhiteBox() const { return m_boxes[4]; }
    QPushButton* autoButton() const { return m_autoButton; }
    CLevelMarkers* inputMarkers() const { return m_input; }
    CLevelMarkers* outputMarkers() const { return m_output; }
    const orvex_colour::CLevelsSettings& settings() const { return m_settings; }

    // Where the mid-tone marker stands for a setting (the input that comes out half way), and the
    // gamma a marker there gives (two decimals, within 0.1..10).
    static double MiddleOf(const orvex_colour::CLevelsSetting& setting);
    static double GammaFor(const orvex_colour::CLevelsSetting& setting, double middle);

    static orvex_colour::CLevelsSettings SettingsFromValues(const std::vector<double>& values);
    static std::vector<double> ValuesFromSettings(const orvex_colour::CLevelsSettings& settings);

    // The preview and the final call: all four settings in one pass.
    static void Render(CImageProcessor& engine, const std::vector<double>& values);

protected:
    void showEvent(QShowEvent* event) override;

private:
    orvex_colour::CLevelsSetting& Current();
    // Shows the chosen channel's setting in the boxes, markers and histogram.
    void ShowChannel();
    // The input and output markers and the histogram's marks at setting `s`.
    void ShowMarkers(const orvex_colour::CLevelsSetting& s);
    // A box or marker changed the chosen channel's setting.
    void Changed();
    void OnAuto();
    void OnMarker(bool output, int marker, double value);

    orvex_colour::CHistogram m_histogram;
    orvex_colour::CLevelsSettings m_settings;
    Channel m_channel = kAll;
    bool m_showing = false;

    QComboBox* m_channelBox = nullptr;
    CLevelsHistogram* m_view = nullptr;
    CLevelMarkers* m_input = nullptr;
    CLevelMarkers* m_output = nullptr;
    std::array<QLineEdit*, 5> m_boxes{};
    QPushButton* m_autoButton = nullptr;
};
