#include "shell/open_dialog.h"

#include "core/parallel.h"
#include "io/file_guards.h"
#include "io/picture_probe.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPixmap>
#include <QSplitter>
#include <QThreadPool>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <mutex>
#include <vector>

QImage PreviewThumbnail(const CImage& picture, int maxSide)
{
    if (picture.IsNull() || picture.bitsPerPixel() != 24 || maxSide < 1) return {};
    const std::int64_t w = picture.width(), h = picture.height();
    std::int64_t tw = w, th = h;
    if (std::max(w, h) > maxSide) {
        tw = w >= h ? maxSide : std::max<std::int64_t>(1, (w * maxSide + h / 2) / h);
        th = w >= h ? std::max<std::int64_t>(1, (h * maxSide + w / 2) / w) : maxSide;
    }
    QImage thumbnail(int(tw), int(th), QImage::Format_RGB888);
    if (thumbnail.isNull()) return {};
    // Block x of the thumbnail covers source columns [edge[x], edge[x + 1]).
    std::vector<int> xEdge(std::size_t(tw) + 1);
    for (std::int64_t x = 0; x <= tw; ++x) xEdge[std::size_t(x)] = int(x * w / tw);
    ParallelFor(0, int(th), [&](int from, int to) {
        std::vector<std::uint64_t> sums(std::size_t(tw) * 3);
        for (int ty = from; ty < to; ++ty) {
            std::fill(sums.begin(), sums.end(), 0);
            const int y0 = int(std::int64_t(ty) * h / th), y1 = int(std::int64_t(ty + 1) * h / th);
            for (int y = y0; y < y1; ++y) {
                const std::uint8_t* row = picture.bits() + std::ptrdiff_t(y) * picture.pitch();
                for (std::int64_t tx = 0; tx < tw; ++tx) {
                    std::uint64_t b = 0, g = 0, r = 0;
                    for (int x = xEdge[std::size_t(tx)]; x < xEdge[std::size_t(tx) + 1]; ++x) {
                        b += row[3 * x];
                        g += row[3 * x + 1];
                        r += row[3 * x + 2];
                    }
                    sums[std::size_t(tx) * 3] += r;
                    sums[std::size_t(tx) * 3 + 1] += g;
                    sums[std::size_t(tx) * 3 + 2] += b;
                }
            }
            uchar* out = thumbnail.scanLine(ty);
            for (std::int64_t tx = 0; tx < tw; ++tx) {
                const std::uint64_t count =
                    std::uint64_t(xEdge[std::size_t(tx) + 1] - xEdge[std::size_t(tx)]) * (y1 - y0);
                for (int c = 0; c < 3; ++c)
                    out[tx * 3 + c] =
                        static_cast<uchar>((sums[std::size_t(tx) * 3 + std::size_t(c)] + count / 2) / count);
            }
        }
    });
    return thumbnail;
}

// What the pane and its pool thread share. The pane leaves it when it goes; a thread still
// working then finds no one to tell and stops.
struct CPicturePreview::CShared
{
    std::mutex mutex;
    CPicturePreview* receiver = nullptr;
    QString path;
    quint64 generation = 0;
    bool waiting = false; // a request the thread has not taken yet
    bool running = false; // a pool thread serves the requests
};

CPicturePreview::CPicturePreview(QWidget* parent)
    : QWidget(parent), m_shared(std::make_shared<CShared>()), m_picture(new QLabel(this)), m_text(new QLabel(this))
{
    setObjectName(QStringLiteral("picturePreview"));
    m_shared->receiver = this;
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setFixedSize(kThumbnailSide + 4, kThumbnailSide + 4);
    m_picture->setFrameShape(QFrame::StyledPanel);
    m_text->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 0, 0, 0);
    layout->addWidget(m_picture, 0, Qt::AlignHCenter);
    layout->addWidget(m_text);
    layout->addStretch(1);
    setMinimumWidth(kThumbnailSide + 20);
}

CPicturePreview::~CPicturePreview()
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->receiver = nullptr;
}

QSize CPicturePreview::sizeHint() const
{
    return {kThumbnailSide + 40, kThumbnailSide + 80};
}

QString CPicturePreview::text() const
{
    return m_text->text();
}

void CPicturePreview::ShowFile(const QString& path)
{
    if (path == m_path && (m_pending || !m_text->text().isEmpty())) return;
    m_path = path;
    m_thumbnail = QImage();
    m_picture->clear();
    m_text->clear();
    ++m_generation;
    m_pending = true;
    bool start = false;
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->path = path;
        m_shared->generation = m_generation;
        m_shared->waiting = true;
        start = !m_shared->running;
        m_shared->running = true;
    }
    if (start) {
        std::shared_ptr<CShared> shared = m_shared;
        QThreadPool::globalInstance()->start([shared] { Work(shared); });
    }
}

void CPicturePreview::Work(const std::shared_ptr<CShared>& shared)
{
    for (;;) {
        QString path;
        quint64 generation = 0;
        {
            const std::lock_guard lock(shared->mutex);
            if (!shared->waiting || !shared->receiver) {
                shared->running = false;
                return;
            }
            path = shared->path;
            generation = shared->generation;
            shared->waiting = false;
        }
        Make(shared, path, generation);
    }
}

void CPicturePreview::Deliver(const std::shared_ptr<CShared>& shared, quint64 generation, const CResult& result)
{
    const std::lock_guard lock(shared->mutex);
    // A newer request makes this one's result worthless.
    if (!shared->receiver || shared->generation != generation) return;
    CPicturePreview* receiver = shared->receiver;
    // Posted while the pane exists; Qt drops the call if the pane is deleted before it runs.
    QMetaObject::invokeMethod(
        receiver, [receiver, generation, result] { receiver->Take(generation, result); }, Qt::QueuedConnection);
}

void CPicturePreview::Make(const std::shared_ptr<CShared>& shared, const QString& path, quint64 generation)
{
    auto done = [&](const QString& text, const QImage& thumbnail = QImage()) {
        Deliver(shared, generation, CResult{text, thumbnail, true});
    };
    const QFileInfo info(path);
    if (path.isEmpty() || info.isDir()) return done(QString());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return done(file.errorString());
    const qint64 bytes = file.size();
    if (bytes <= 0) return done(QStringLiteral("the file is empty"));
    QByteArray owned;
    const uchar* data = file.map(0, bytes);
    if (!data) {
        // Read only what a picture within the cap could plausibly take.
        if (bytes > 1024LL * 1024 * 1024) return done(QStringLiteral("the file cannot be read"));
        owned = file.readAll();
        if (owned.size() != bytes) return done(file.errorString());
        data = reinterpret_cast<const uchar*>(owned.constData());
    }
    const auto size = static_cast<std::size_t>(bytes);
    if (!DetectPictureFormat(data, size)) return done(kNotAPicture);
    CPictureProbe probe;
    QString reason;
    if (!ProbePicture(data, size, probe, &reason)) return done(reason);

    const QString fileSize = QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
    const QString text =
        probe.width > 0
            ? QStringLiteral("%1, %2 x %3, %4").arg(probe.format).arg(probe.width).arg(probe.height).arg(fileSize)
            : QStringLiteral("%1, %2").arg(probe.format, fileSize);
    Deliver(shared, generation, CResult{text, QImage(), false});
    {
        const std::lock_guard lock(shared->mutex);
        if (!shared->receiver || shared->generation != generation) return;
    }
    CImage picture;
    if (!DecodePreviewPicture(data, size, kThumbnailSide, kPixelCap, picture, &reason))
        return done(text + QLatin1Char('\n') + reason);
    done(text, PreviewThumbnail(picture, kThumbnailSide));
}

void CPicturePreview::Take(quint64 generation, const CResult& result)
{
    if (generation != m_generation) return;
    m_text->setText(result.text);
    m_thumbnail = result.thumbnail;
    if (!m_thumbnail.isNull()) m_picture->setPixmap(QPixmap::fromImage(m_thumbnail));
    if (!result.complete) return;
    m_pending = false;
    emit finished();
}

COpenDialog::COpenDialog(QWidget* parent, const QString& folder)
    : QFileDialog(parent, QStringLiteral("Open"), folder), m_preview(new CPicturePreview)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFiles);
    setViewMode(QFileDialog::Detail);

    // Name, Size, Type and Date Modified readable at the first size: each column as wide as its
    // longest usual entry.
    int columns = 0;
    if (auto* tree = findChild<QTreeView*>(QStringLiteral("treeView"))) {
        const QFontMetrics metrics = tree->fontMetrics();
        const QString date =
            QLocale::system().toString(QDateTime(QDate(2024, 12, 28), QTime(23, 59, 59)), QLocale::ShortFormat);
        const int widths[4] = {metrics.horizontalAdvance(QStringLiteral("a rather long picture name_0001.jpeg")),
                               metrics.horizontalAdvance(QStringLiteral("1023.9 MiB")),
                               metrics.horizontalAdvance(QStringLiteral("jpeg File  Folder")),
                               metrics.horizontalAdvance(date + QStringLiteral("    "))};
        QHeaderView* header = tree->header();
        header->setStretchLastSection(false);
        for (int i = 0; i < 4 && i < header->count(); ++i) {
            const int width =
                std::max(widths[i],
                         metrics.horizontalAdvance(header->model()->headerData(i, Qt::Horizontal).toString())) +
                24;
            header->resizeSection(i, width);
            columns += width;
        }
    }
    // The preview is a third pane of the dialog's own splitter, beside the list; the list takes
    // whatever the window gains.
    if (auto* splitter = findChild<QSplitter*>(QStringLiteral("splitter"))) {
        splitter->addWidget(m_preview);
        const int list = splitter->count() - 2;
        for (int i = 0; i < splitter->count(); ++i) splitter->setStretchFactor(i, i == list ? 1 : 0);
        splitter->setCollapsible(splitter->indexOf(m_preview), false);
        const QList<int> sizes = splitter->sizes();
        QList<int> wanted;
        for (int i = 0; i < splitter->count(); ++i)
            wanted << (i == list       ? columns + 30
                       : i == list + 1 ? m_preview->sizeHint().width()
                                       : std::max(sizes.value(i), 150));
        splitter->setSizes(wanted);
        int total = 0;
        for (int width : wanted) total += width;
        resize(std::max(1000, total + 60), 560);
    } else {
        m_preview->setParent(this);
        resize(1000, 560);
    }
    connect(this, &QFileDialog::currentChanged, m_preview, &CPicturePreview::ShowFile);
    // A name typed in full picks its file without making it the list's current item.
    if (auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        connect(name, &QLineEdit::textChanged, m_preview, [this](const QString& text) {
            const QFileInfo typed(directory(), text);
            if (!text.isEmpty() && typed.isFile()) m_preview->ShowFile(typed.absoluteFilePath());
        });
    }
}
