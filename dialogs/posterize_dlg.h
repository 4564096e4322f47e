#pragma once

#include "dialogs/param_dialog.h"

// "Posterize...": the number of levels per channel, 2..256.
class CPosterizeDlg : public CParamDialog
{
    Q_OBJECT

public:
    // Opens on 10 levels, where the effect shows, rather than on the table's 256.
    static CStartValues DefaultStart() { return {{"levels", 10}}; }

    explicit CPosterizeDlg(QWidget* parent = nullptr, CStartValues start = DefaultStart());

    int levels() const { return static_cast<int>(value("levels")); }
    QSlider* levelsSlider() const { return slider("levels"); }
    QLineEdit* levelsBox() const { return valueBox("levels"); }

    // The preview and the final call: values() holds the level count.
    static void Render(CImageProcessor& engine, const std::vector<double>& values);
};
