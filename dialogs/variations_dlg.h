#pragma once

#include "core/image.h"
#include "dialogs/param_dialog.h"

#include <array>

class QLabel;
class QToolButton;

// "Variations...": nine thumbnails of the picture around the current pick, each showing the pick
// with one more step of a colour or of lightness, and the original beside them. A click on a
// thumbnail adds its step to the pick (all thumbnails follow), a click on "Original" goes back to
// no change, and the "Fine ... Coarse" slider sets the step. values() are the Variations row's
// red, green, blue and lightness offsets: the pick.
//
// The thumbnails come from one reduced copy of the picture made as the dialog opens; the picture
// itself is only read then.
class CVariationsDlg : public CParamDialog
{
    Q_OBJECT

public:
    // The grid, row by row.
    enum Choice {
        kMoreRed,
        kMoreGreen,
        kMoreBlue,
        kLighter,
        kCurrentPick,
        kDarker,
        kMoreCyan,
        kMoreMagenta,
        kMoreYellow,
        kChoices
    };
    static constexpr int kThumbnailSide = 160;
    // Fineness positions 0 (fine) .. 4 (coarse); the step doubles from one to the next.
    static constexpr int kCoarsest = 4;
    static constexpr int kStartFineness = 2;
    static int StepAt(int fineness) { return 4 << fineness; }

    explicit CVariationsDlg(const CImage& picture, QWidget* parent = nullptr, CStartValues start = {});
    ~CVariationsDlg() override;

    // Adds `choice`'s step to the pick, as a click on its thumbnail does (the current pick adds none).
    void Choose(Choice choice);
    // Back to no change, as a click on "Original" does.
    void ResetToOriginal();

    int step() const;
    QToolButton* choiceButton(Choice choice) const { return m_buttons[static_cast<std::size_t>(choice)]; }
    QToolButton* originalButton() const { return m_original; }
    QSlider* finenessSlider() const { return m_fineness; }
    // The reduced copy and what each thumbnail shows now.
    const CImage& reduced() const { return m_reduced; }
    const CImage& thumbnail(Choice choice) const { return m_thumbnails[static_cast<std::size_t>(choice)]; }
    // The offsets (red, green, blue, lightness) `choice` adds at the current step.
    std::array<int, 4> StepOf(Choice choice) const;

private:
    void Refresh();

    CImage m_reduced;
    std::array<CImage, kChoices> m_thumbnails;
    std::array<QToolButton*, kChoices> m_buttons{};
    QToolButton* m_original = nullptr;
    QSlider* m_fineness = nullptr;
};
