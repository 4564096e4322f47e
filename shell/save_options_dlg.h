#pragma once

#include "io/picture_metadata.h"
#include "io/picture_save.h"

#include <QDialog>

#include <atomic>
#include <memory>
#include <thread>

class QCheckBox;
class QComboBox;
class QLabel;
class QSettings;
class QSlider;

// The options step of Save As, for the format the file name selects: JPEG quality, chroma
// subsampling and progressive scans; PNG compression level; WebP lossless or quality; TIFF
// compression. Each shows the size of the file the choice gives, found in the background (from a
// sample of a large picture, see PredictFileSize). Every format that carries metadata offers
// "Remove metadata".
class CSaveOptionsDlg : public QDialog
{
    Q_OBJECT
public:
    // `picture` and `metadata` must outlive the dialog. `format` is an encoder's format name.
    CSaveOptionsDlg(const CImage& picture, const CPictureMetadata& metadata, const CSaveOptions& start,
                    const QByteArray& format, QWidget* parent = nullptr);
    ~CSaveOptionsDlg() override;

    // `start` with the choices of this dialog's format put in.
    CSaveOptions options() const;
    // The size text ("about 1.4 MB"), empty while it is being worked out.
    QString sizeText() const;
    // The bytes of that file; -1 while unknown.
    qint64 predictedBytes() const { return m_predicted; }
    // Whether that figure came from encoding the whole picture rather than a sample of it.
    bool predictionExact() const { return m_exact; }

    // Whether a save to `path` has anything to ask: JPEG, PNG, WebP and TIFF always (they have
    // options), the other formats that carry metadata when the picture has tags to remove.
    static bool HasQuestions(const QString& path, const CPictureMetadata& metadata);
    // The last choice of any document for `format` (every format when empty), kept in `settings`
    // across runs; `fallback` where none. A remembered lossless or lossy WebP choice wins over the
    // default that follows the picture's source.
    static CSaveOptions Remembered(QSettings& settings, const CSaveOptions& fallback, const QByteArray& format = {});
    // Keeps the choices of `format` (every format when empty).
    static void Remember(QSettings& settings, const CSaveOptions& options, const QByteArray& format = {});

    // Asks (modally) for the options of a save to `path`. False when cancelled.
    static bool Ask(const QString& path, const CImage& picture, const CPictureMetadata& metadata, CSaveOptions& options,
                    QSettings& settings);

private:
    void AddQualityRow(class QFormLayout* form, const QString& label, int value, int minimum, int maximum);
    void ScheduleEstimate();
    void StartEstimate();
    void ShowEstimate(int generation, qint64 bytes, bool exact);

    const CImage& m_picture;
    const CPictureMetadata& m_metadata;
    const CSaveOptions m_start;
    const QByteArray m_format;
    QSlider* m_quality = nullptr; // JPEG and WebP quality, PNG level
    QLabel* m_qualityValue = nullptr;
    QLabel* m_size = nullptr;
    QComboBox* m_subsampling = nullptr;
    QCheckBox* m_progressive = nullptr;
    QCheckBox* m_lossless = nullptr;
    QComboBox* m_compression = nullptr;
    QCheckBox* m_removeMetadata = nullptr;
    class QTimer* m_debounce = nullptr;

    // One encode at a time; a newer request is started when it ends.
    std::thread m_worker;
    std::atomic<bool> m_busy{false};
    int m_generation = 0;
    bool m_pending = false;
    qint64 m_predicted = -1;
    bool m_exact = false;
};
