#pragma once

#include "dialogs/param_dialog.h"

// Amount (0..500 %) and blur radius of the unsharp mask.
class CUnsharpMaskDlg : public CParamDialog
{
    Q_OBJECT

public:
    explicit CUnsharpMaskDlg(QWidget* parent = nullptr, CStartValues start = {});

    int amount() const; // percent, as shown
    float factor() const { return static_cast<float>(value("amount")); }
    float radius() const { return static_cast<float>(value("radius")); }
};
