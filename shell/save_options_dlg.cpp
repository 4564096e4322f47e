#include "shell/save_options_dlg.h"

#include "io/picture_codec.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QSettings>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString kGroup = QStringLiteral("SaveAs/");

bool IsJpeg(const QString& path)
{
    const CEncoder* encoder = EncoderForPath(path);
    return encoder && encoder->format == "jpeg";
}

// What Automatic will do for this picture.
QString AutomaticText(ChromaSubsampling original)
{
    switch (original) {
    case ChromaSubsampling::Half422: return QStringLiteral("Automatic (4:2:2 as opened; 4:2:0 below quality 90)");
    case ChromaSubsampling::Quarter420: return QStringLiteral("Automatic (4:2:0, as opened)");
    default: return QStringLiteral("Automatic (4:4:4 from quality 90)");
    }
}

} // namespace

CSaveOptionsDlg::CSaveOptionsDlg(const CImage& picture, const CPictureMetadata& metadata, const CSaveOptions& start,
                                 bool jpeg, QWidget* parent)
    : QDialog(parent), m_picture(picture), m_metadata(metadata), m_jpeg(jpeg), m_original(start.jpeg.original)
{
    setWindowTitle(jpeg ? QStringLiteral("JPEG Options") : QStringLiteral("Save Options"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    if (jpeg) {
        auto* row = new QHBoxLayout;
        m_quality = new QSlider(Qt::Horizontal, this);
        m_quality->setObjectName(QStringLiteral("quality"));
        m_quality->setRange(1, 100);
        m_quality->setValue(std::clamp(start.jpeg.quality, 1, 100));
        m_qualityValue = new QLabel(this);
        m_qualityValue->setMinimumWidth(m_qualityValue->fontMetrics().horizontalAdvance(QStringLiteral("100")));
        row->addWidget(m_quality, 1);
        row->addWidget(m_qualityValue);
        form->addRow(QStringLiteral("Quality:"), row);
        m_size = new QLabel(this);
        m_size->setObjectName(QStringLiteral("size"));
        form->addRow(QStringLiteral("File size:"), m_size);
        m_subsampling = new QComboBox(this);
        m_subsampling->addItem(AutomaticText(start.jpeg.original), int(ChromaSubsampling::Automatic));
        m_subsampling->addItem(QStringLiteral("4:4:4 (best colour)"), int(ChromaSubsampling::Full444));
        m_subsampling->addItem(QStringLiteral("4:2:2"), int(ChromaSubsampling::Half422));
        m_subsampling->addItem(QStringLiteral("4:2:0 (smallest)"), int(ChromaSubsampling::Quarter420));
        m_subsampling->setCurrentIndex(std::max(0, m_subsampling->findData(int(start.jpeg.subsampling))));
        form->addRow(QStringLiteral("Chroma subsampling:"), m_subsampling);
        m_progressive = new QCheckBox(QStringLiteral("Progressive"), this);
        m_progressive->setChecked(start.jpeg.progressive);
        form->addRow(QString(), m_progressive);

        m_debounce = new QTimer(this);
        m_debounce->setSingleShot(true);
        m_debounce->setInterval(120);
        connect(m_debounce, &QTimer::timeout, this, &CSaveOptionsDlg::StartEstimate);
        connect(m_quality, &QSlider::valueChanged, this, [this](int value) {
            m_qualityValue->setText(QString::number(value));
            ScheduleEstimate();
        });
        connect(m_subsampling, &QComboBox::currentIndexChanged, this, &CSaveOptionsDlg::ScheduleEstimate);
        connect(m_progressive, &QCheckBox::toggled, this, &CSaveOptionsDlg::ScheduleEstimate);
        m_qualityValue->setText(QString::number(m_quality->value()));
    }
    m_removeMetadata = new QCheckBox(QStringLiteral("Remove metadata"), this);
    m_removeMetadata->setToolTip(QStringLiteral("Camera, date, place (GPS), names and keywords are not written. "
                                                "The colour profile stays."));
    m_removeMetadata->setChecked(start.removeMetadata);
    m_removeMetadata->setEnabled(!metadata.HasNoTags());
    form->addRow(QString(), m_removeMetadata);
    if (jpeg) connect(m_removeMetadata, &QCheckBox::toggled, this, &CSaveOptionsDlg::ScheduleEstimate);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    if (jpeg) StartEstimate();
}

CSaveOptionsDlg::~CSaveOptionsDlg()
{
    // The worker reads the picture; it must be done before the caller may change it.
    if (m_worker.joinable()) m_worker.join();
}

CSaveOptions CSaveOptionsDlg::options() const
{
    CSaveOptions result;
    result.jpeg.original = m_original;
    if (m_jpeg) {
        result.jpeg.quality = m_quality->value();
        result.jpeg.subsampling = static_cast<ChromaSubsampling>(m_subsampling->currentData().toInt());
        result.jpeg.progressive = m_progressive->isChecked();
    }
    result.removeMetadata = m_removeMetadata->isChecked() && m_removeMetadata->isEnabled();
    return result;
}

QString CSaveOptionsDlg::sizeText() const
{
    return m_size ? m_size->text() : QString();
}

void CSaveOptionsDlg::ScheduleEstimate()
{
    if (!m_jpeg) return;
    ++m_generation;
    m_predicted = -1;
    m_size->setText(QString());
    m_debounce->start();
}

void CSaveOptionsDlg::StartEstimate()
{
    if (m_busy.load()) {
        m_pending = true; // picked up when the running encode reports
        return;
    }
    if (m_worker.joinable()) m_worker.join();
    m_busy.store(true);
    const CSaveOptions chosen = options();
    const int generation = m_generation;
    m_worker = std::thread([this, chosen, generation] {
        // An estimate that cannot be made says "unknown"; nothing may escape this thread.
        qint64 bytes = -1;
        try {
            std::vector<std::uint8_t> file;
            if (EncodeJpegFile(m_picture, chosen, &m_metadata, file)) bytes = qint64(file.size());
        } catch (...) {
            bytes = -1;
        }
        // Queued to the dialog's thread; the dialog joins this thread before it goes away.
        QMetaObject::invokeMethod(
            this, [this, generation, bytes] { ShowEstimate(generation, bytes); }, Qt::QueuedConnection);
    });
}

void CSaveOptionsDlg::ShowEstimate(int generation, qint64 bytes)
{
    m_busy.store(false);
    m_predicted = generation == m_generation ? bytes : -1;
    if (m_pending || generation != m_generation) {
        m_pending = false;
        StartEstimate();
        return;
    }
    m_size->setText(bytes < 0 ? QStringLiteral("unknown") : QStringLiteral("about %1").arg(QLocale::system().formattedDataSize(bytes, 1)));
}

bool CSaveOptionsDlg::HasQuestions(const QString& path, const CPictureMetadata& metadata)
{
    const CEncoder* encoder = EncoderForPath(path);
    if (!encoder) return false;
    if (encoder->format == "jpeg") return true;
    const bool carries = encoder->format == "png" || encoder->format == "tiff" || encoder->format == "webp";
    return carries && !metadata.HasNoTags();
}

CSaveOptions CSaveOptionsDlg::Remembered(QSettings& settings, const CSaveOptions& fallback)
{
    CSaveOptions result = fallback;
    result.jpeg.quality = std::clamp(settings.value(kGroup + QStringLiteral("Quality"), fallback.jpeg.quality).toInt(), 1, 100);
    const int sampling = settings.value(kGroup + QStringLiteral("Subsampling"), int(fallback.jpeg.subsampling)).toInt();
    if (sampling >= int(ChromaSubsampling::Automatic) && sampling <= int(ChromaSubsampling::Quarter420))
        result.jpeg.subsampling = static_cast<ChromaSubsampling>(sampling);
    result.jpeg.progressive = settings.value(kGroup + QStringLiteral("Progressive"), fallback.jpeg.progressive).toBool();
    return result;
}

void CSaveOptionsDlg::Remember(QSettings& settings, const CSaveOptions& options)
{
    settings.setValue(kGroup + QStringLiteral("Quality"), options.jpeg.quality);
    settings.setValue(kGroup + QStringLiteral("Subsampling"), int(options.jpeg.subsampling));
    settings.setValue(kGroup + QStringLiteral("Progressive"), options.jpeg.progressive);
}

bool CSaveOptionsDlg::Ask(const QString& path, const CImage& picture, const CPictureMetadata& metadata,
                          CSaveOptions& options, QSettings& settings)
{
    if (!HasQuestions(path, metadata)) return true;
    const bool jpeg = IsJpeg(path);
    // A document that has not been through this step yet starts from the last choice of any.
    const CSaveOptions start = options.chosen ? options : Remembered(settings, options);
    CSaveOptionsDlg dialog(picture, metadata, start, jpeg);
    if (dialog.exec() != QDialog::Accepted) return false;
    CSaveOptions chosen = dialog.options();
    if (!jpeg) chosen.jpeg = options.jpeg;
    chosen.chosen = true;
    options = chosen;
    if (jpeg) Remember(settings, options);
    return true;
}
