#pragma once

#include "dialogs/param_dialog.h"

#include <QString>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;

// A pixel count as the bytes it takes at 3 bytes a pixel: " bytes", "K", "M" or "G", with two
// decimals unless the number is whole; "--" when width x height exceeds 715827882 or, with
// `negativeIsUnknown`, when either side is negative.
QString SizeText(long long width, long long height, bool negativeIsUnknown = false);

// "Image Size": new width and height, in pixels or in percent of the given size, proportions
// optionally kept, and the resampling method. values() holds the size given by the caller and the
// start method until OK stores the edited ones, always in pixels. The unit and the method chosen
// at OK are remembered (DialogSettings) for the next time.
class CImageSizeDlg : public CParamDialog
{
    Q_OBJECT

public:
    CImageSizeDlg(int width, int height, QWidget* parent = nullptr, CStartValues start = {});

    int resultWidth() const { return static_cast<int>(value("width")); }
    int resultHeight() const { return static_cast<int>(value("height")); }
    // 'n' nearest neighbour, 'b' bilinear, 'l' liquid.
    char method() const { return static_cast<char>(static_cast<int>(value("method"))); }

    QLineEdit* widthBox() const { return m_widthBox; }
    QLineEdit* heightBox() const { return m_heightBox; }
    QCheckBox* constrainBox() const { return m_constrain; }
    QComboBox* methodList() const { return m_methods; }
    // "Pixels" or "Percent", for both boxes.
    QComboBox* unitList() const { return m_units; }
    bool inPercent() const;

    // The side `percent` % of `given` pixels makes: rounded to nearest, at least 1.
    static int PixelsFromPercent(int given, double percent);
    QGroupBox* dimensionsGroup() const { return m_group; }

    // Refuses with a message, leaving the dialog open, while a box holds no size.
    void accept() override;

private:
    void OnWidthChanged(int typed);
    void OnHeightChanged(int typed);
    void OnConstrainClicked(bool checked);
    void OnWidthPercent(double typed);
    void OnHeightPercent(double typed);
    // Shows the edited size in the chosen unit, with the boxes read under that unit's rule.
    void OnUnitChosen();
    void ShowEdited();
    void RefreshSizeText();
    // Writes the size the dialog worked out into the other box (never into the box being typed in).
    void ShowBox(QLineEdit* box, int value);

    const int m_givenWidth;
    const int m_givenHeight;
    const double m_ratio;
    int m_editedWidth;
    int m_editedHeight;
    bool m_busy = false;
    QString m_initialText;
    bool m_initialised = false;

    QGroupBox* m_group = nullptr;
    QLineEdit* m_widthBox = nullptr;
    QLineEdit* m_heightBox = nullptr;
    QCheckBox* m_constrain = nullptr;
    QComboBox* m_methods = nullptr;
    QComboBox* m_units = nullptr;
    QLabel* m_widthUnit = nullptr;
    QLabel* m_heightUnit = nullptr;
};
