#pragma once

#include "dialogs/param_dialog.h"

// The radius slider the blur, motion blur and unsharp mask dialogs share: positions 0..2500, the
// quadratic radius mapping, "%3.1f" and the "pixels" unit, for the bound operation's "radius"
// parameter.
QSlider* AddBlurRadiusSlider(CParamDialog& dialog);

// One radius for "Gaussian Blur...", "Lens Blur..." and "Hight Pass...", which differ only in the
// caption. The result radius is the shown radius once OK was pressed and 0 otherwise, so a caller
// that does not look at how the dialog was closed still applies nothing after Cancel.
class CBlurDialog : public CParamDialog
{
    Q_OBJECT

public:
    // An empty title keeps the default caption "Gaussian Blur".
    // Opens on radius 0, which leaves the picture as it is, rather than on the table's 10.
    static CStartValues DefaultStart() { return {{"radius", 0}}; }

    explicit CBlurDialog(const QString& title = QString(), QWidget* parent = nullptr,
                         CStartValues start = DefaultStart());

    // Runs the dialog modally and returns its result radius.
    static float AskRadius(const QString& title, QWidget* parent, CStartValues start = DefaultStart());

    float radius() const { return static_cast<float>(value("radius")); }
    float resultRadius() const { return m_result; }

    void done(int result) override;

private:
    float m_result = 0.0f;
};
