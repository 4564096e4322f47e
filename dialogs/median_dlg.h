#pragma once

#include "dialogs/param_dialog.h"

// "Median...", "Maximum..." and "Minimum...": a radius of 1..100 whole pixels, under the title the
// command gives (caption "Median" when none is given). The result radius is the slider's position
// once OK was pressed and 0 otherwise, so a caller that does not look at how the dialog was closed
// still applies nothing after Cancel.
class CMedianDlg : public CParamDialog
{
    Q_OBJECT

public:
    // Opens on radius 1, the least change, rather than on the table's 5.
    static CStartValues DefaultStart() { return {{"radius", 1}}; }

    explicit CMedianDlg(const QString& title = QString(), QWidget* parent = nullptr,
                        CStartValues start = DefaultStart());

    // Runs the dialog modally and returns its result radius.
    static int AskRadius(const QString& title, QWidget* parent, CStartValues start = DefaultStart());

    int resultRadius() const { return m_result; }

    void done(int result) override;

private:
    int m_result = 0;
};
