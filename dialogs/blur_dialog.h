#pragma once

#include "dialogs/param_dialog.h"

// The radius slider the blur, motion blur and unsharp mask dialogs share: positions 0..2500, the
// quadratic radius mapping, "%3.1f" and the "pixels" unit, for the bound operation's "radius"
// parameter.
QSlider* AddBlurRadiusSlider(CParamDialog& dialog);

// One radius for "Gaussian Blur...", "Lens Blur..." and "Hight Pass...", which differ only in the
// caption.
class CBlurDialog : public CParamDialog
{
    Q_OBJECT

public:
    // An empty title keeps the default caption "Gaussian Blur".
    explicit CBlurDialog(const QString& title = QString(), QWidget* parent = nullptr, CStartValues start = {});

    float radius() const { return static_cast<float>(value("radius")); }
};
