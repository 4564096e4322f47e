#pragma once

#include "dialogs/param_dialog.h"

class QGroupBox;
class QRadioButton;

// "Offset": horizontal and vertical shifts of -size..+size pixels and how the uncovered area is
// filled, with live preview.
class COffsetDlg : public CParamDialog
{
    Q_OBJECT

public:
    // values() holds the two shifts and the mode, in Offset's argument order.
    COffsetDlg(int width, int height, QWidget* parent = nullptr, CStartValues start = {});

    int horizontal() const { return static_cast<int>(value("horizontal")); }
    int vertical() const { return static_cast<int>(value("vertical")); }
    char edgeMode() const { return static_cast<char>(static_cast<int>(value("mode"))); }
    QRadioButton* modeButton(char mode) const;
    QGroupBox* modeGroup() const { return m_group; }

    // The preview and the final call: values() holds the two shifts and the edge mode's code.
    static void Render(CImageProcessor& engine, const std::vector<double>& values);

private:
    QGroupBox* m_group = nullptr;
    QRadioButton* m_background = nullptr;
    QRadioButton* m_repeat = nullptr;
    QRadioButton* m_wrap = nullptr;
};
