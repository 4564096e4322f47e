#include "shell/new_picture_dlg.h"

#include "core/image.h"
#include "core/image_processor.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr int kLargestSide = 32768;
const char* const kWidthKey = "New/Width";
const char* const kHeightKey = "New/Height";
const char* const kFillKey = "New/Fill";

} // namespace

CNewPictureDlg::CNewPictureDlg(QSettings* settings, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_width(new QSpinBox(this)), m_height(new QSpinBox(this)),
      m_fill(new QComboBox(this)), m_summary(new QLabel(this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setWindowTitle(QStringLiteral("New"));
    for (QSpinBox* side : {m_width, m_height}) {
        side->setRange(1, kLargestSide);
        side->setSuffix(QStringLiteral(" pixels"));
        side->setAccelerated(true);
        connect(side, &QSpinBox::valueChanged, this, &CNewPictureDlg::UpdateSummary);
    }
    m_fill->addItems({QStringLiteral("White"), QStringLiteral("Black"), QStringLiteral("Background colour (grey)")});

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Width:"), m_width);
    form->addRow(QStringLiteral("&Height:"), m_height);
    form->addRow(QStringLiteral("&Background:"), m_fill);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_summary);
    layout->addWidget(m_buttons);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    int width = 1920, height = 1080, fill = 0;
    if (m_settings) {
        width = m_settings->value(QLatin1String(kWidthKey), width).toInt();
        height = m_settings->value(QLatin1String(kHeightKey), height).toInt();
        fill = m_settings->value(QLatin1String(kFillKey), fill).toInt();
    }
    SetPictureSize(width, height);
    SetFill(fill >= 0 && fill < m_fill->count() ? static_cast<Fill>(fill) : Fill::White);
    UpdateSummary();
}

int CNewPictureDlg::pictureWidth() const
{
    return m_width->value();
}

int CNewPictureDlg::pictureHeight() const
{
    return m_height->value();
}

CNewPictureDlg::Fill CNewPictureDlg::fill() const
{
    return static_cast<Fill>(m_fill->currentIndex());
}

std::uint8_t CNewPictureDlg::fillLevel() const
{
    switch (fill()) {
    case Fill::White: return 255;
    case Fill::Black: return 0;
    case Fill::Background: break;
    }
    static_assert(CImageProcessor::kBackgroundRed == CImageProcessor::kBackgroundGreen &&
                      CImageProcessor::kBackgroundGreen == CImageProcessor::kBackgroundBlue,
                  "the canvas fill is a grey");
    return CImageProcessor::kBackgroundRed;
}

void CNewPictureDlg::SetPictureSize(int width, int height)
{
    m_width->setValue(width);
    m_height->setValue(height);
}

void CNewPictureDlg::SetFill(Fill fill)
{
    m_fill->setCurrentIndex(static_cast<int>(fill));
}

void CNewPictureDlg::UpdateSummary()
{
    const std::int64_t pixels = std::int64_t(m_width->value()) * m_height->value();
    const QLocale locale;
    const bool fits = pixels <= CImage::kMaxPixels;
    if (fits) {
        // Rows are padded to four bytes.
        const std::int64_t rowBytes = (std::int64_t(m_width->value()) * 3 + 3) / 4 * 4;
        const double megabytes = static_cast<double>(rowBytes * m_height->value()) / (1024.0 * 1024.0);
        m_summary->setText(
            QStringLiteral("%1 pixels, %2 MB").arg(locale.toString(pixels), locale.toString(megabytes, 'f', 1)));
    } else {
        m_summary->setText(
            QStringLiteral("Too large: a picture holds at most %1 pixels.").arg(locale.toString(CImage::kMaxPixels)));
    }
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(fits);
}

void CNewPictureDlg::accept()
{
    if (std::int64_t(pictureWidth()) * pictureHeight() > CImage::kMaxPixels) return;
    if (m_settings) {
        m_settings->setValue(QLatin1String(kWidthKey), pictureWidth());
        m_settings->setValue(QLatin1String(kHeightKey), pictureHeight());
        m_settings->setValue(QLatin1String(kFillKey), static_cast<int>(fill()));
    }
    QDialog::accept();
}
