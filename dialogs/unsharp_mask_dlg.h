#pragma once

#include "dialogs/param_dialog.h"

#include <optional>

// Amount (0..500 %) and blur radius of the unsharp mask. The command uses the values only after OK.
class CUnsharpMaskDlg : public CParamDialog
{
    Q_OBJECT

public:
    // Opens on radius 0, which leaves the picture as it is, rather than on the table's 10.
    static CStartValues DefaultStart() { return {{"radius", 0}}; }

    explicit CUnsharpMaskDlg(QWidget* parent = nullptr, CStartValues start = DefaultStart());

    struct CResult
    {
        float radius = 0.0f;
        int amount = 0; // percent
    };
    // Runs the dialog modally: the values shown at OK, nothing after Cancel.
    static std::optional<CResult> Ask(QWidget* parent, CStartValues start = DefaultStart());

    int amount() const; // percent, as shown
    float factor() const { return static_cast<float>(value("amount")); }
    float radius() const { return static_cast<float>(value("radius")); }
};
