#pragma once

#include "dialogs/param_dialog.h"

// Direction (0..180 degrees) and length of the smear.
class CMotionBlurDlg : public CParamDialog
{
    Q_OBJECT

public:
    explicit CMotionBlurDlg(QWidget* parent = nullptr, CStartValues start = {});

    int angle() const { return static_cast<int>(value("angle")); }
    float radius() const { return static_cast<float>(value("radius")); }
};
