#pragma once

#include "dialogs/param_dialog.h"

// Direction (0..180 degrees) and length of the smear. The results are those shown when OK was
// pressed; after Cancel both stay 0, and a radius of 0 means nothing is to be applied.
class CMotionBlurDlg : public CParamDialog
{
    Q_OBJECT

public:
    explicit CMotionBlurDlg(QWidget* parent = nullptr);

    struct CResult
    {
        int angle = 0;
        float radius = 0.0f;
    };
    // Runs the dialog modally and returns its results.
    static CResult Ask(QWidget* parent);

    int angleIndex() const { return m_angle; }
    int radiusIndex() const { return m_radius; }
    int angle() const { return static_cast<int>(value(m_angle)); }
    float radius() const { return static_cast<float>(value(m_radius)); }
    const CResult& result() const { return m_result; }

    void done(int result) override;

private:
    int m_angle = 0;
    int m_radius = 0;
    CResult m_result;
};
