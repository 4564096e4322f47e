#pragma once

#include "dialogs/param_dialog.h"
#include "filters/colour/curves.h"

class CCurveEditor;
class CImage;
class QComboBox;
class QLabel;

// "Curves": a tone curve through up to 8 points for all three channels together and one for each
// on its own, all applied at once.
//
// values() holds the row's slots for the all-channel curve (channel 'a', x1, y1, ... x8, y8), then
// x1, y1, ... x8, y8 for red, green and blue; unused points are -1.
class CCurvesDlg : public CParamDialog
{
    Q_OBJECT

public:
    enum Channel { kAll = 0, kRed = 1, kGreen = 2, kBlue = 3 };
    static constexpr std::size_t kPointSlots = 16;
    static constexpr std::size_t kSlots = 1 + 4 * kPointSlots;

    // The histogram is counted from `picture` once, here.
    explicit CCurvesDlg(const CImage& picture, QWidget* parent = nullptr, CStartValues start = {});

    QComboBox* channelBox() const { return m_channelBox; }
    CCurveEditor* editor() const { return m_editor; }
    // "Input: x  Output: y" for the point under the pointer.
    QLabel* pointerLine() const { return m_pointerLine; }
    const orvex_colour::CCurvesSettings& curves() const { return m_curves; }

    static orvex_colour::CCurvesSettings CurvesFromValues(const std::vector<double>& values);
    static std::vector<double> ValuesFromCurves(const orvex_colour::CCurvesSettings& curves);

    // The preview and the final call: all four curves in one pass.
    static void Render(CImageProcessor& engine, const std::vector<double>& values);

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::vector<orvex_colour::CCurvePoint>& Current();

    orvex_colour::CCurvesSettings m_curves;
    Channel m_channel = kAll;
    QComboBox* m_channelBox = nullptr;
    CCurveEditor* m_editor = nullptr;
    QLabel* m_pointerLine = nullptr;
};
