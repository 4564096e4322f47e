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

// The formats with options of their own, each with a size to tell.
bool HasOwnOptions(const QByteArray& format)
{
    return format == "jpeg" || format == "png" || format == "webp" || format == "tiff";
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

QString TitleFor(const QByteArray& format)
{
    if (format == "jpeg") return QStringLiteral("JPEG Options");
    if (format == "png") return QStringLiteral("PNG Options");
    if (format == "webp") return QStringLiteral("WebP Options");
    if (format == "tiff") return QStringLiteral("TIFF Options");
    return QStringLiteral("Save Options");
}

const char* TiffName(TiffCompression compression)
{
    switch (compression) {
    case TiffCompression::None: return "none";
    case TiffCompression::Lzw: return "lzw";
    case TiffCompression::Deflate: break;
    }
    return "deflate";
}

} // namespace

CSaveOptionsDlg::CSaveOptionsDlg(const CImage& picture, const CPictureMetadata& metadata, const CSaveOptions& start,
                                 const QByteArray& format, QWidget* parent)
    : QDialog(parent), m_picture(picture), m_metadata(metadata), m_start(start), m_format(format)
{
    setWindowTitle(TitleFor(format));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    if (format == "jpeg") {
        AddQualityRow(form, QStringLiteral("Quality:"), start.jpeg.quality, 1, 100);
        m_quality->setObjectName(QStringLiteral("quality"));
    } else if (format == "png") {
        AddQualityRow(form, QStringLiteral("Compression level:"), start.png.level, 0, 9);
        m_quality->setObjectName(QStringLiteral("level"));
        m_quality->setToolTip(
            QStringLiteral("0 stores the pixels as they are; 9 gives the smallest file and takes longest. "
                           "Every level keeps the picture exactly."));
    } else if (format == "webp") {
        m_lossless = new QCheckBox(QStringLiteral("Lossless"), this);
        m_lossless->setObjectName(QStringLiteral("lossless"));
        m_lossless->setToolTip(QStringLiteral("Keeps every pixel exactly; the file is larger than a lossy one."));
        m_lossless->setChecked(start.webp.lossless);
        form->addRow(QString(), m_lossless);
        AddQualityRow(form, QStringLiteral("Quality:"), start.webp.quality, 1, 100);
        m_quality->setObjectName(QStringLiteral("quality"));
        m_quality->setEnabled(!start.webp.lossless);
        connect(m_lossless, &QCheckBox::toggled, this, [this](bool lossless) {
            m_quality->setEnabled(!lossless);
            ScheduleEstimate();
        });
    } else if (format == "tiff") {
        m_compression = new QComboBox(this);
        m_compression->setObjectName(QStringLiteral("compression"));
        m_compression->addItem(QStringLiteral("None"), int(TiffCompression::None));
        m_compression->addItem(QStringLiteral("LZW"), int(TiffCompression::Lzw));
        m_compression->addItem(QStringLiteral("Deflate (smallest)"), int(TiffCompression::Deflate));
        m_compression->setCurrentIndex(std::max(0, m_compression->findData(int(start.tiff.compression))));
        form->addRow(QStringLiteral("Compression:"), m_compression);
        connect(m_compression, &QComboBox::currentIndexChanged, this, &CSaveOptionsDlg::ScheduleEstimate);
    }
    if (HasOwnOptions(format)) {
        m_size = new QLabel(this);
        m_size->setObjectName(QStringLiteral("size"));
        form->addRow(QStringLiteral("File size:"), m_size);
    }
    if (format == "jpeg") {
        m_subsampling = new QComboBox(this);
        m_subsampling->setObjectName(QStringLiteral("subsampling"));
        m_subsampling->addItem(AutomaticText(start.jpeg.original), int(ChromaSubsampling::Automatic));
        m_subsampling->addItem(QStringLiteral("4:4:4 (best colour)"), int(ChromaSubsampling::Full444));
        m_subsampling->addItem(QStringLiteral("4:2:2"), int(ChromaSubsampling::Half422));
        m_subsampling->addItem(QStringLiteral("4:2:0 (smallest)"), int(ChromaSubsampling::Quarter420));
        m_subsampling->setCurrentIndex(std::max(0, m_subsampling->findData(int(start.jpeg.subsampling))));
        form->addRow(QStringLiteral("Chroma subsampling:"), m_subsampling);
        m_progressive = new QCheckBox(QStringLiteral("Progressive"), this);
        m_progressive->setChecked(start.jpeg.progressive);
        form->addRow(QString(), m_progressive);
        connect(m_subsampling, &QComboBox::currentIndexChanged, this, &CSaveOptionsDlg::ScheduleEstimate);
        connect(m_progressive, &QCheckBox::toggled, this, &CSaveOptionsDlg::ScheduleEstimate);
    }
    m_removeMetadata = new QCheckBox(QStringLiteral("Remove metadata"), this);
    m_removeMetadata->setToolTip(QStringLiteral("Camera, date, place (GPS), names and keywords are not written. "
                                                "The colour profile stays."));
    m_removeMetadata->setChecked(start.removeMetadata);
    m_removeMetadata->setEnabled(!metadata.HasNoTags());
    form->addRow(QString(), m_removeMetadata);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    if (m_size) {
        m_debounce = new QTimer(this);
        m_debounce->setSingleShot(true);
        m_debounce->setInterval(120);
        connect(m_debounce, &QTimer::timeout, this, &CSaveOptionsDlg::StartEstimate);
        connect(m_removeMetadata, &QCheckBox::toggled, this, &CSaveOptionsDlg::ScheduleEstimate);
        StartEstimate();
    }
}

void CSaveOptionsDlg::AddQualityRow(QFormLayout* form, const QString& label, int value, int minimum, int maximum)
{
    auto* row = new QHBoxLayout;
    m_quality = new QSlider(Qt::Horizontal, this);
    m_quality->setRange(minimum, maximum);
    m_quality->setValue(std::clamp(value, minimum, maximum));
    m_quality->setMinimumWidth(m_quality->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 24);
    if (maximum - minimum < 20) {
        m_quality->setTickPosition(QSlider::TicksBelow);
        m_quality->setPageStep(1);
    }
    m_qualityValue = new QLabel(this);
    m_qualityValue->setMinimumWidth(m_qualityValue->fontMetrics().horizontalAdvance(QStringLiteral("100")));
    m_qualityValue->setText(QString::number(m_quality->value()));
    row->addWidget(m_quality, 1);
    row->addWidget(m_qualityValue);
    form->addRow(label, row);
    connect(m_quality, &QSlider::valueChanged, this, [this](int v) {
        m_qualityValue->setText(QString::number(v));
        ScheduleEstimate();
    });
}

CSaveOptionsDlg::~CSaveOptionsDlg()
{
    // The worker reads the picture; it must be done before the caller may change it.
    if (m_worker.joinable()) m_worker.join();
}

CSaveOptions CSaveOptionsDlg::options() const
{
    CSaveOptions result = m_start;
    if (m_format == "jpeg") {
        result.jpeg.quality = m_quality->value();
        result.jpeg.subsampling = static_cast<ChromaSubsampling>(m_subsampling->currentData().toInt());
        result.jpeg.progressive = m_progressive->isChecked();
    } else if (m_format == "png") {
        result.png.level = m_quality->value();
    } else if (m_format == "webp") {
        result.webp.lossless = m_lossless->isChecked();
        result.webp.quality = m_quality->value();
    } else if (m_format == "tiff") {
        result.tiff.compression = static_cast<TiffCompression>(m_compression->currentData().toInt());
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
    if (!m_size) return;
    ++m_generation;
    m_predicted = -1;
    m_exact = false;
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
        CPredictedSize predicted;
        try {
            predicted = PredictFileSize(m_picture, m_format, chosen, &m_metadata);
        } catch (...) {
            predicted = {};
        }
        // Queued to the dialog's thread; the dialog joins this thread before it goes away.
        QMetaObject::invokeMethod(
            this, [this, generation, predicted] { ShowEstimate(generation, predicted.bytes, predicted.exact); },
            Qt::QueuedConnection);
    });
}

void CSaveOptionsDlg::ShowEstimate(int generation, qint64 bytes, bool exact)
{
    m_busy.store(false);
    const bool current = generation == m_generation;
    m_predicted = current ? bytes : -1;
    m_exact = current && exact;
    if (m_pending || !current) {
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
    if (HasOwnOptions(encoder->format)) return true;
    const bool carries = encoder->format == "png" || encoder->format == "tiff" || encoder->format == "webp";
    return carries && !metadata.HasNoTags();
}

CSaveOptions CSaveOptionsDlg::Remembered(QSettings& settings, const CSaveOptions& fallback, const QByteArray& format)
{
    CSaveOptions result = fallback;
    const bool all = format.isEmpty();
    if (all || format == "jpeg") {
        result.jpeg.quality =
            std::clamp(settings.value(kGroup + QStringLiteral("Quality"), fallback.jpeg.quality).toInt(), 1, 100);
        const int sampling =
            settings.value(kGroup + QStringLiteral("Subsampling"), int(fallback.jpeg.subsampling)).toInt();
        if (sampling >= int(ChromaSubsampling::Automatic) && sampling <= int(ChromaSubsampling::Quarter420))
            result.jpeg.subsampling = static_cast<ChromaSubsampling>(sampling);
        result.jpeg.progressive =
            settings.value(kGroup + QStringLiteral("Progressive"), fallback.jpeg.progressive).toBool();
    }
    if (all || format == "png")
        result.png.level =
            std::clamp(settings.value(kGroup + QStringLiteral("PngLevel"), fallback.png.level).toInt(), 0, 9);
    if (all || format == "webp") {
        // Without a choice of its own, lossless follows what the picture was opened from (the fallback).
        result.webp.lossless = settings.value(kGroup + QStringLiteral("WebpLossless"), fallback.webp.lossless).toBool();
        result.webp.quality =
            std::clamp(settings.value(kGroup + QStringLiteral("WebpQuality"), fallback.webp.quality).toInt(), 1, 100);
    }
    if (all || format == "tiff") {
        const QString name = settings.value(kGroup + QStringLiteral("TiffCompression")).toString();
        for (TiffCompression c : {TiffCompression::None, TiffCompression::Lzw, TiffCompression::Deflate})
            if (name == QLatin1String(TiffName(c))) result.tiff.compression = c;
    }
    return result;
}

void CSaveOptionsDlg::Remember(QSettings& settings, const CSaveOptions& options, const QByteArray& format)
{
    const bool all = format.isEmpty();
    if (all || format == "jpeg") {
        settings.setValue(kGroup + QStringLiteral("Quality"), options.jpeg.quality);
        settings.setValue(kGroup + QStringLiteral("Subsampling"), int(options.jpeg.subsampling));
        settings.setValue(kGroup + QStringLiteral("Progressive"), options.jpeg.progressive);
    }
    if (all || format == "png") settings.setValue(kGroup + QStringLiteral("PngLevel"), options.png.level);
    if (all || format == "webp") {
        settings.setValue(kGroup + QStringLiteral("WebpLossless"), options.webp.lossless);
        settings.setValue(kGroup + QStringLiteral("WebpQuality"), options.webp.quality);
    }
    if (all || format == "tiff")
        settings.setValue(kGroup + QStringLiteral("TiffCompression"),
                          QLatin1String(TiffName(options.tiff.compression)));
}

bool CSaveOptionsDlg::Ask(const QString& path, const CImage& picture, const CPictureMetadata& metadata,
                          CSaveOptions& options, QSettings& settings)
{
    if (!HasQuestions(path, metadata)) return true;
    const QByteArray format = EncoderForPath(path)->format;
    // A document that has not been through this step for the format yet starts from the last
    // choice of any.
    const CSaveOptions start = options.chosen.contains(format) ? options : Remembered(settings, options, format);
    CSaveOptionsDlg dialog(picture, metadata, start, format);
    if (dialog.exec() != QDialog::Accepted) return false;
    options = dialog.options();
    if (!options.chosen.contains(format)) options.chosen.append(format);
    if (HasOwnOptions(format)) Remember(settings, options, format);
    return true;
}
