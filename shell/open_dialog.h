#pragma once

#include "core/image.h"

#include <QFileDialog>
#include <QImage>
#include <QString>

#include <cstdint>
#include <memory>

class QLabel;

// A picture of at most `maxSide` pixels a side with `picture`'s shape, top-down, each pixel the
// mean (rounded) of the block of pixels it stands for; a smaller picture keeps its size.
QImage PreviewThumbnail(const CImage& picture, int maxSide);

// The preview beside the Open dialog's file list: a thumbnail of the selected file with its format,
// size in pixels and file size ("JPEG, 6000 x 4000, 3.2 MB"), "Not a picture", or the loader's
// reason for a broken file. Files are read and decoded on a pool thread, one at a time: a newer
// selection supersedes an older one, whose result is dropped, and the interface never waits.
// Pictures larger than kPixelCap show their size and format only.
class CPicturePreview : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kThumbnailSide = 200;
    static constexpr std::int64_t kPixelCap = 100'000'000;
    static inline const QString kNotAPicture = QStringLiteral("Not a picture");

    explicit CPicturePreview(QWidget* parent = nullptr);
    ~CPicturePreview() override;

    // Shows `path`'s preview once it is made; a folder or an empty path clears the pane.
    void ShowFile(const QString& path);

    QString path() const { return m_path; }
    QString text() const;
    QImage thumbnail() const { return m_thumbnail; }
    // True until the preview of the file last asked for is complete.
    bool pending() const { return m_pending; }

    QSize sizeHint() const override;

signals:
    // The preview of the file last asked for is complete.
    void finished();

private:
    struct CShared;
    struct CResult
    {
        QString text;
        QImage thumbnail;
        bool complete = false;
    };
    static void Work(const std::shared_ptr<CShared>& shared);
    static void Make(const std::shared_ptr<CShared>& shared, const QString& path, quint64 generation);
    static void Deliver(const std::shared_ptr<CShared>& shared, quint64 generation, const CResult& result);
    void Take(quint64 generation, const CResult& result);

    std::shared_ptr<CShared> m_shared;
    quint64 m_generation = 0;
    QString m_path;
    QImage m_thumbnail;
    bool m_pending = false;
    QLabel* m_picture;
    QLabel* m_text;
};

// File > Open: the program's own (never the platform's) file dialog in detail view, sized for its
// columns, with the preview beside the list.
class COpenDialog : public QFileDialog
{
    Q_OBJECT

public:
    explicit COpenDialog(QWidget* parent = nullptr, const QString& folder = QString());
    CPicturePreview* preview() const { return m_preview; }

private:
    CPicturePreview* m_preview;
};
