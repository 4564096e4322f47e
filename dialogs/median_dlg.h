#pragma once

#include "dialogs/param_dialog.h"

// "Median...", "Maximum..." and "Minimum...": a radius of 1..100 whole pixels, under the title the
// command gives (caption "Median" when none is given). The mode is the command's, never shown.
class CMedianDlg : public CParamDialog
{
    Q_OBJECT

public:
    explicit CMedianDlg(const QString& title = QString(), QWidget* parent = nullptr, CStartValues start = {});

    int radius() const { return static_cast<int>(value("radius")); }
};
