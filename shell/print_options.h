#pragma once

#include <QPageLayout>
#include <QRect>

class QComboBox;
class QPrintDialog;
class QPrintPreviewDialog;
class QSettings;
class QWidget;

// How a picture is sized on paper. Fit to page is the default: one picture pixel per printer dot
// prints a photo as a speck on a high-resolution printer.
enum class CPrintScale
{
    FitToPage,
    AsShown, // the window's zoom, one picture pixel per printer dot at 100 %
};

// The last choice made, Fit to page when none was made or `settings` is null.
CPrintScale RememberedPrintScale(const QSettings* settings);
void RememberPrintScale(QSettings* settings, CPrintScale scale);

// The largest rectangle of the picture's shape inside `page`, centred.
QRect FitRect(int width, int height, const QRect& page);

// The page turned to the picture's shape: landscape for a wide picture, portrait otherwise.
QPageLayout::Orientation OrientationFor(int width, int height);

// The choice offered in both printing dialogs, showing `scale`.
QComboBox* NewPrintScaleBox(CPrintScale scale, QWidget* parent = nullptr);
CPrintScale PrintScaleOf(const QComboBox& box);

// Adds the choice to the print dialog as an options tab; the tab's box is returned.
QComboBox* AddPrintScaleTab(QPrintDialog& dialog, CPrintScale scale);
// Adds the choice to the preview's toolbar; the box is returned.
QComboBox* AddPrintScaleTool(QPrintPreviewDialog& preview, CPrintScale scale);
