#include "document/orvex_doc.h"

#include "io/picture_codec.h"
#include "io/picture_file.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdint>

COrvexDoc::COrvexDoc(IDocumentUi* ui) : m_ui(ui) {}

void COrvexDoc::Show(const QString& caption, const QString& text, IDocumentUi::Icon icon)
{
    if (m_ui) m_ui->ShowMessage(caption, text, icon);
}

QString COrvexDoc::title() const
{
    return m_pathName.isEmpty() ? m_untitledName : QFileInfo(m_pathName).fileName();
}

bool COrvexDoc::Open(const QString& path)
{
    CPictureFile opened;
    if (!OpenPictureFile(path, opened, &m_lastError)) {
        Show(kAppTitle, QStringLiteral("Load failed"), IDocumentUi::Icon::Warning);
        return false;
    }
    m_picture = std::move(opened.picture);
    if (!m_history.Push(m_picture)) {
        m_lastError = QStringLiteral("not enough memory");
        m_picture.Destroy();
        Show(kAppTitle, QStringLiteral("Load failed"), IDocumentUi::Icon::Warning);
        return false;
    }
    m_metadata = std::move(opened.metadata);
    m_saveOptions.jpeg.original = opened.subsampling;
    m_saveOptions.webp.lossless = opened.lossless;
    m_modified = 0;
    m_pathName = QFileInfo(path).absoluteFilePath();
    return true;
}

bool COrvexDoc::OpenUntitled(CImage picture, const QString& title, bool modified)
{
    m_picture = std::move(picture);
    if (m_picture.IsNull() || !m_history.Push(m_picture)) {
        m_lastError = QStringLiteral("not enough memory");
        m_picture.Destroy();
        return false;
    }
    m_untitledName = title;
    m_pathName.clear();
    m_modified = modified ? 1 : 0;
    return true;
}

bool COrvexDoc::OpenCopy(const COrvexDoc& source)
{
    CImage copy;
    if (!copy.CopyFrom(source.picture())) {
        m_lastError = QStringLiteral("not enough memory");
        return false;
    }
    const QFileInfo original(source.pathName());
    const QString name = source.pathName().isEmpty() ? source.title() : original.completeBaseName();
    const QString title = name + QStringLiteral(" copy");
    if (!OpenUntitled(std::move(copy), title)) return false;
    m_metadata = source.metadata();
    m_saveOptions = source.saveOptions();
    if (!source.pathName().isEmpty()) {
        const QString suffix = original.suffix();
        m_suggestedPath = original.dir().filePath(suffix.isEmpty() ? title : title + QLatin1Char('.') + suffix);
    }
    return true;
}

bool COrvexDoc::OpenRecovered(CImage picture, const QString& path, const QString& name)
{
    if (!OpenUntitled(std::move(picture), name)) return false;
    if (path.isEmpty()) return true;
    m_pathName = QFileInfo(path).absoluteFilePath();
    m_untitledName.clear();
    // The next save writes back the tags and the sampling the file had, as if opened from it.
    if (QFileInfo::exists(m_pathName)) {
        m_metadata = CPictureMetadata::Read(m_pathName);
        m_saveOptions.jpeg.original = JpegFileSubsampling(m_pathName);
    }
    return true;
}

bool COrvexDoc::Save(const QString& path)
{
    m_lastError.clear();
    QStringList leftOut;
    const auto save = [&](IProgress* progress) {
        return SavePictureWith(m_picture, path, m_saveOptions, &m_metadata, &m_lastError, progress, &leftOut);
    };
    if (!(m_ui ? m_ui->RunSave(save, m_engine.progressSink()) : save(m_engine.progressSink()))) {
        QString text = QStringLiteral("Can not save %1").arg(path);
        if (!m_lastError.isEmpty()) text += QLatin1Char('\n') + m_lastError;
        Show(QStringLiteral("Save Error"), text, IDocumentUi::Icon::Warning);
        return false;
    }
    m_modified = 0;
    m_pathName = QFileInfo(path).absoluteFilePath();
    if (!leftOut.isEmpty())
        Show(kAppTitle, QStringLiteral("%1 was saved without this metadata:\n%2").arg(path, leftOut.join(QLatin1Char('\n'))),
             IDocumentUi::Icon::Warning);
    return true;
}

bool COrvexDoc::SaveAs()
{
    const QString suggested = !m_pathName.isEmpty()        ? m_pathName
                              : !m_suggestedPath.isEmpty() ? m_suggestedPath
                                                           : title();
    const QString path = m_ui ? m_ui->AskSavePath(suggested) : QString();
    if (path.isEmpty()) return false;
    // A size the chosen format cannot hold is said now, before the options step asks about a file
    // that could never be written.
    const CEncoder* encoder = EncoderForPath(path);
    if (encoder && !CheckEncodableSize(m_picture, encoder->format, &m_lastError)) {
        Show(QStringLiteral("Save Error"), QStringLiteral("Can not save %1\n%2").arg(path, m_lastError),
             IDocumentUi::Icon::Warning);
        return false;
    }
    CSaveOptions options = m_saveOptions;
    if (!m_ui->AskSaveOptions(path, m_picture, m_metadata, options)) return false;
    const CSaveOptions previous = m_saveOptions;
    m_saveOptions = options;
    if (Save(path)) return true;
    m_saveOptions = previous;
    return false;
}

bool COrvexDoc::SaveToCurrentPath()
{
    const QFileInfo info(m_pathName);
    if (!m_pathName.isEmpty() && (!info.exists() || info.isWritable())) return Save(m_pathName);
    return SaveAs();
}

COrvexDoc::CloseVerdict COrvexDoc::AskToClose(bool offerDiscardAll)
{
    if (!m_modified) return CloseVerdict::Close;
    const QString text = QStringLiteral("Save changes to the Orvex document\n %1 before closening?")
                             .arg(m_pathName.isEmpty() ? title() : m_pathName);
    IDocumentUi::Answer answer = IDocumentUi::Answer::Cancel;
    if (m_ui)
        answer =
            offerDiscardAll ? m_ui->AskYesNoCancelDiscardAll(kAppTitle, text) : m_ui->AskYesNoCancel(kAppTitle, text);
    switch (answer) {
    case IDocumentUi::Answer::Cancel: return CloseVerdict::Keep;
    case IDocumentUi::Answer::No: return CloseVerdict::Close;
    case IDocumentUi::Answer::Yes: return SaveAs() ? CloseVerdict::Close : CloseVerdict::Keep;
    // Only an answer to the question that offered it counts.
    case IDocumentUi::Answer::DiscardAll: return offerDiscardAll ? CloseVerdict::DiscardAll : CloseVerdict::Keep;
    }
    return CloseVerdict::Keep;
}

bool COrvexDoc::Undo()
{
    const int width = m_picture.width(), height = m_picture.height();
    const bool done = m_history.Undo(m_picture);
    KeepSelectionWithin(width, height);
    return done;
}

bool COrvexDoc::Redo()
{
    const int width = m_picture.width(), height = m_picture.height();
    const bool done = m_history.Redo(m_picture);
    KeepSelectionWithin(width, height);
    return done;
}

void COrvexDoc::SetSelection(std::optional<CRegion> region)
{
    if (region) {
        const int x0 = std::max(region->x, 0), y0 = std::max(region->y, 0);
        const int x1 = int(std::min<std::int64_t>(std::int64_t(region->x) + region->width, m_picture.width()));
        const int y1 = int(std::min<std::int64_t>(std::int64_t(region->y) + region->height, m_picture.height()));
        region = x1 > x0 && y1 > y0 ? std::optional<CRegion>(CRegion{x0, y0, x1 - x0, y1 - y0}) : std::nullopt;
    }
    if (region == m_selection) return;
    m_selection = region;
    if (m_selectionListener) m_selectionListener();
}

void COrvexDoc::KeepSelectionWithin(int oldWidth, int oldHeight)
{
    // A rectangle chosen on a picture of another size no longer means the same pixels.
    if (m_selection && (m_picture.width() != oldWidth || m_picture.height() != oldHeight)) SetSelection(std::nullopt);
}

bool COrvexDoc::CommitChange(CImage* replacement, const QString& stepName)
{
    // A command that changed the picture in place has already changed its size: the size before the
    // change is the current snapshot's.
    int width = m_picture.width(), height = m_picture.height();
    if (!replacement && m_history.currentIndex() >= 0) {
        const CImage& before = m_history.current();
        width = before.width();
        height = before.height();
    }
    if (replacement) {
        m_picture.SwapWith(*replacement);
        // The replaced picture's buffer becomes the new snapshot's: a fresh mapping of a whole
        // picture can cost more than the copy into it.
        m_history.GiveSpare(std::move(*replacement));
    }
    m_modified = 1;
    KeepSelectionWithin(width, height);
    const bool recorded = m_history.Push(m_picture, stepName.toStdString());
    if (m_changeListener) m_changeListener(recorded);
    return recorded;
}
