#pragma once

#include "dialogs/param_dialog.h"

// "Mosaic...": the cell size in pixels, 1..100.
class CMosaicDlg : public CParamDialog
{
    Q_OBJECT

public:
    explicit CMosaicDlg(QWidget* parent = nullptr, CStartValues start = {});

    int cellSize() const { return static_cast<int>(value("size")); }
    QSlider* sizeSlider() const { return slider("size"); }
    QLineEdit* sizeBox() const { return valueBox("size"); }

    // The preview and the final call: values() holds the cell size.
    static void Render(CImageProcessor& engine, const std::vector<double>& values);
};
