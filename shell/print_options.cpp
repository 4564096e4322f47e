#include "shell/print_options.h"

#include <QComboBox>
#include <QFormLayout>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QSettings>
#include <QToolBar>

#include <algorithm>
#include <cmath>

namespace {
const QString kScaleKey = QStringLiteral("Settings/Print Scale");
// Stored by name, so that reordering the enumeration never changes what a user chose.
const QString kFitName = QStringLiteral("fit");
const QString kShownName = QStringLiteral("shown");
} // namespace

CPrintScale RememberedPrintScale(const QSettings* settings)
{
    if (settings && settings->value(kScaleKey).toString() == kShownName) return CPrintScale::AsShown;
    return CPrintScale::FitToPage;
}

void RememberPrintScale(QSettings* settings, CPrintScale scale)
{
    if (settings) settings->setValue(kScaleKey, scale == CPrintScale::AsShown ? kShownName : kFitName);
}

QRect FitRect(int width, int height, const QRect& page)
{
    if (width < 1 || height < 1 || page.isEmpty()) return {};
    const double scale = std::min(static_cast<double>(page.width()) / width, static_cast<double>(page.height()) / height);
    const int w = std::clamp(static_cast<int>(std::lround(width * scale)), 1, page.width());
    const int h = std::clamp(static_cast<int>(std::lround(height * scale)), 1, page.height());
    return {page.x() + (page.width() - w) / 2, page.y() + (page.height() - h) / 2, w, h};
}

QPageLayout::Orientation OrientationFor(int width, int height)
{
    return width > height ? QPageLayout::Landscape : QPageLayout::Portrait;
}

QComboBox* NewPrintScaleBox(CPrintScale scale, QWidget* parent)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(QStringLiteral("printScale"));
    box->addItem(QStringLiteral("Fit to page"), static_cast<int>(CPrintScale::FitToPage));
    box->addItem(QStringLiteral("As shown in the window"), static_cast<int>(CPrintScale::AsShown));
    box->setCurrentIndex(box->findData(static_cast<int>(scale)));
    return box;
}

CPrintScale PrintScaleOf(const QComboBox& box)
{
    return box.currentData().toInt() == static_cast<int>(CPrintScale::AsShown) ? CPrintScale::AsShown
                                                                                : CPrintScale::FitToPage;
}

QComboBox* AddPrintScaleTab(QPrintDialog& dialog, CPrintScale scale)
{
    // The dialog takes the tab; it names it by the widget's title.
    auto* tab = new QWidget;
    tab->setWindowTitle(QStringLiteral("Picture"));
    auto* layout = new QFormLayout(tab);
    QComboBox* box = NewPrintScaleBox(scale, tab);
    layout->addRow(QStringLiteral("&Size:"), box);
    dialog.setOptionTabs({tab});
    return box;
}

QComboBox* AddPrintScaleTool(QPrintPreviewDialog& preview, CPrintScale scale)
{
    auto* toolbar = preview.findChild<QToolBar*>();
    QComboBox* box = NewPrintScaleBox(scale, toolbar ? static_cast<QWidget*>(toolbar) : &preview);
    if (toolbar) {
        toolbar->addSeparator();
        toolbar->addWidget(box);
    }
    return box;
}
