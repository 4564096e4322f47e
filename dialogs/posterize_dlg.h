#pragma once

#include "dialogs/param_dialog.h"

// "Posterize...": the number of levels per channel, 2..256.
class CPosterizeDlg : public CParamDialog
{
    Q_OBJECT

public:
    static constexpr int kStartLevels = 10;

    explicit CPosterizeDlg(QWidget* parent = nullptr);

    int levels() const { return static_cast<int>(value(m_levels)); }
    QSlider* levelsSlider() const { return slider(m_levels); }
    QLineEdit* levelsBox() const { return valueBox(m_levels); }

    // The preview and the final call: values() holds the level count.
    static void Render(CImageProcessor& engine, const std::vector<double>& values);

private:
    int m_levels = 0;
};
