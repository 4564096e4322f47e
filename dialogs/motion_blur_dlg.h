#pragma once

#include "dialogs/param_dialog.h"

// Direction (0..180 degrees) and length of the smear. The results are those shown when OK was
// pressed; after Cancel both stay 0, and a radius of 0 means nothing is to be applied.
class CMotionBlurDlg : public CParamDialog
{
    Q_OBJECT

public:
    // Opens on radius 0, which leaves the picture as it is, rather than on the table's 10.
    static CStartValues DefaultStart() { return {{"radius", 0}}; }

    explicit CMotionBlurDlg(QWidget* parent = nullptr, CStartValues start = DefaultStart());

    struct CResult
    {
        int angle = 0;
        float radius = 0.0f;
    };
    // Runs the dialog modally and returns its results.
    static CResult Ask(QWidget* parent, CStartValues start = DefaultStart());

    int angle() const { return static_cast<int>(value("angle")); }
    float radius() const { return static_cast<float>(value("radius")); }
    const CResult& result() const { return m_result; }

    void done(int result) override;

private:
    CResult m_result;
};
