#pragma once

#include "dialogs/param_dialog.h"

// "Total variation" and "Balanced Forward-Backward": the number of diffusion steps, 0..100, under
// the title the command gives (caption "Diffusion" when none is given). The result count is the
// slider's position once OK was pressed and 0 otherwise; 0 applies nothing.
class CDiffusionDlg : public CParamDialog
{
    Q_OBJECT

public:
    // Opens on 0 steps, which applies nothing, rather than on the table's 10.
    static CStartValues DefaultStart() { return {{"iterations", 0}}; }

    explicit CDiffusionDlg(const QString& title = QString(), QWidget* parent = nullptr,
                           CStartValues start = DefaultStart());

    // Runs the dialog modally and returns its result count.
    static int AskIterations(const QString& title, QWidget* parent, CStartValues start = DefaultStart());

    int resultIterations() const { return m_result; }

    void done(int result) override;

private:
    int m_result = 0;
};
