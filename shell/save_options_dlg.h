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

// The options step of Save As: JPEG quality (with the size of the file it will produce, found by
// encoding the picture in the background), chroma subsampling and progressive scans; for every
// format that carries metadata, "Remove metadata".
class CSaveOptionsDlg : public QDialog
{
    Q_OBJECT
public:
    // `picture` and `metadata` must outlive the dialog. `jpeg` shows the JPEG controls.
    CSaveOptionsDlg(const CImage& picture, const CPictureMetadata& metadata, const CSaveOptions& start, bool jpeg,
                    QWidget* parent = nullptr);
    ~CSaveOptionsDlg() override;

    CSaveOptions options() const;
    // The size text under the slider ("about 1.4 MB"), empty while it is being worked out.
    QString sizeText() const;
    // The bytes of that file; -1 while unknown.
    qint64 predictedBytes() const { return m_predicted; }

    // Whether a save to `path` has anything to ask: JPEG always, the other formats that carry
    // metadata when the picture has tags to remove.
    static bool HasQuestions(const QString& path, const CPictureMetadata& metadata);
    // The last JPEG choice of any document, kept in `settings` across runs; `fallback` where none.
    static CSaveOptions Remembered(QSettings& settings, const CSaveOptions& fallback);
    static void Remember(QSettings& settings, const CSaveOptions& options);

    // Asks (modally) for the options of a save to `path`. False when cancelled.
    static bool Ask(const QString& path, const CImage& picture, const CPictureMetadata& metadata, CSaveOptions& options,
                    QSettings& settings);

private:
    void ScheduleEstimate();
    void StartEstimate();
    void ShowEstimate(int generation, qint64 bytes);

    const CImage& m_picture;
    const CPictureMetadata& m_metadata;
    bool m_jpeg;
    ChromaSubsampling m_original; // of the JPEG the picture was opened from, which Automatic keeps
    QSlider* m_quality = nullptr;
    QLabel* m_qualityValue = nullptr;
    QLabel* m_size = nullptr;
    QComboBox* m_subsampling = nullptr;
    QCheckBox* m_progressive = nullptr;
    QCheckBox* m_removeMetadata = nullptr;
    class QTimer* m_debounce = nullptr;

    // One encode at a time; a newer request is started when it ends.
    std::thread m_worker;
    std::atomic<bool> m_busy{false};
    int m_generation = 0;
    bool m_pending = false;
    qint64 m_predicted = -1;
};
