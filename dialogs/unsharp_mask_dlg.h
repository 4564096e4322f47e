#pragma once

#include "dialogs/param_dialog.h"

#include <optional>

// Amount (0..500 %) and blur radius of the unsharp mask. The command uses the values only after OK.
class CUnsharpMaskDlg : public CParamDialog
{
    Q_OBJECT

public:
    explicit CUnsharpMaskDlg(QWidget* parent = nullptr);

    struct CResult
    {
        float radius = 0.0f;
        int amount = 0; // percent
    };
    // Runs the dialog modally: the values shown at OK, nothing after Cancel.
    static std::optional<CResult> Ask(QWidget* parent);

    int amountIndex() const { return m_amount; }
    int radiusIndex() const { return m_radius; }
    int amount() const; // percent, as shown
    float factor() const { return static_cast<float>(value(m_amount)); }
    float radius() const { return static_cast<float>(value(m_radius)); }

private:
    int m_amount = 0;
    int m_radius = 0;
};
