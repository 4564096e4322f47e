#pragma once

#include "dialogs/param_dialog.h"

// "Total variation" and "Balanced Forward-Backward": the number of diffusion steps, 0..100, under
// the title the command gives (caption "Diffusion" when none is given).
class CDiffusionDlg : public CParamDialog
{
    Q_OBJECT

public:
    explicit CDiffusionDlg(const QString& title = QString(), QWidget* parent = nullptr, CStartValues start = {});

    int iterations() const { return static_cast<int>(value("iterations")); }
};
