#include "shell/preview_session.h"

#include "dialogs/loupe.h"
#include "dialogs/param_dialog.h"
#include "document/orvex_doc.h"
#include "shell/command_table.h"
#include "shell/orvex_view.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QDockWidget>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <QToolBar>

#include <cmath>

namespace {

bool Within(const QObject* object, const QObject* ancestor)
{
    for (; object; object = object->parent())
        if (object == ancestor) return true;
    return false;
}

// Whether `pressed` is `key` as the command table spells it. A key typed with Shift ("+" on most
// layouts) also stands for its table key without Shift, as the menus' shortcuts take it.
bool SameKey(const QKeySequence& key, QKeyCombination pressed)
{
    if (key.count() != 1) return false;
    if (key[0] == pressed) return true;
    const Qt::KeyboardModifiers mods = pressed.keyboardModifiers();
    return (mods & Qt::ShiftModifier) && key[0] == QKeyCombination(mods & ~Qt::ShiftModifier, pressed.key());
}

} // namespace

CPreviewSession::CPreviewSession(COrvexView& view, QDialog& dialog)
    : m_view(view), m_dialog(dialog), m_paramDialog(qobject_cast<CParamDialog*>(&dialog)),
      m_parent(dialog.parentWidget()), m_flags(dialog.windowFlags()), m_modality(dialog.windowModality())
{
    QWidget* frame = view.window();
    // Modal to no window: a window-modal dialog blocks only the windows it is transient for, and a
    // dialog without a parent is transient for none. Kept above the editor instead of by its parent.
    dialog.setParent(nullptr, m_flags | Qt::WindowStaysOnTopHint);
    dialog.setWindowModality(Qt::WindowModal);
    // Where it would have opened over its parent.
    dialog.adjustSize();
    if (frame && frame != &dialog) dialog.move(frame->frameGeometry().center() - dialog.rect().center());

    if (auto* main = qobject_cast<QMainWindow*>(frame)) {
        QList<QWidget*> parts{main->menuBar()};
        for (QToolBar* bar : main->findChildren<QToolBar*>()) parts.append(bar);
        for (QDockWidget* dock : main->findChildren<QDockWidget*>()) parts.append(dock);
        for (QMdiArea* area : main->findChildren<QMdiArea*>())
            for (QMdiSubWindow* window : area->subWindowList())
                if (window != view.frame()) parts.append(window);
        for (QWidget* part : parts) {
            if (!part || !part->isEnabled()) continue;
            part->setEnabled(false);
            m_disabled.append(part);
        }
    }

    qApp->installEventFilter(this);
    if (m_paramDialog && m_paramDialog->renderer())
        connect(m_paramDialog->renderer(), &CPreviewRenderer::frameReady, this, &CPreviewSession::ScheduleLoupe);
    UpdateLoupe();
}

CPreviewSession::~CPreviewSession()
{
    qApp->removeEventFilter(this);
    for (const QPointer<QWidget>& part : m_disabled)
        if (part) part->setEnabled(true);
    const bool visible = m_dialog.isVisible();
    m_dialog.setParent(m_parent, m_flags);
    m_dialog.setWindowModality(m_modality);
    if (visible) m_dialog.show();
}

bool CPreviewSession::InDialog(const QObject* object) const
{
    return Within(object, &m_dialog);
}

bool CPreviewSession::InView(const QObject* object) const
{
    return Within(object, &m_view);
}

bool CPreviewSession::PointerOverView() const
{
    const QPoint global = QCursor::pos();
    if (!m_view.isVisible() || !m_view.rect().contains(m_view.mapFromGlobal(global))) return false;
    // The dialog lies above the document window wherever they overlap.
    return !(m_dialog.isVisible() && m_dialog.frameGeometry().contains(global));
}

bool CPreviewSession::ViewKey(const QKeyEvent& event, bool act)
{
    const QKeyCombination pressed(event.modifiers() & ~Qt::KeypadModifier, Qt::Key(event.key()));
    for (const CommandId id : {CommandId::ZoomIn, CommandId::ZoomOut, CommandId::Zoom100}) {
        const CCommand* command = FindCommand(id);
        if (!command || !command->handler) continue;
        for (const QString& key : command->keys) {
            if (!SameKey(QKeySequence(key, QKeySequence::PortableText), pressed)) continue;
            if (act) {
                // As the View menu runs it, so the window zooms exactly as it does without a dialog.
                if (auto* frame = dynamic_cast<ICommandFrame*>(m_view.window())) {
                    CCommandTarget target{*frame, &m_view};
                    command->handler(target);
                }
                ScheduleLoupe();
            }
            return true;
        }
    }
    switch (event.key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
        if (act) {
            // The view scrolls itself on these keys.
            QKeyEvent copy(event.type(), event.key(), event.modifiers(), event.text(), event.isAutoRepeat(),
                           static_cast<quint16>(event.count()));
            m_forwarding = true;
            QCoreApplication::sendEvent(&m_view, &copy);
            m_forwarding = false;
        }
        return true;
    default: return false;
    }
}

void CPreviewSession::ScheduleLoupe()
{
    if (m_loupePending) return;
    m_loupePending = true;
    QTimer::singleShot(0, this, &CPreviewSession::UpdateLoupe);
}

void CPreviewSession::Reactivate()
{
    // A click on the document window makes it the active window; the keys belong to the dialog.
    QTimer::singleShot(0, this, [this] {
        if (!m_dialog.isVisible() || m_dialog.isActiveWindow() || QGuiApplication::mouseButtons() != Qt::NoButton)
            return;
        m_dialog.raise();
        m_dialog.activateWindow();
    });
}

QPoint CPreviewSession::loupeCentre() const
{
    const CImage& picture = m_view.document().picture();
    return m_pointer.value_or(QPoint(picture.width() / 2, picture.height() / 2));
}

void CPreviewSession::UpdateLoupe()
{
    m_loupePending = false;
    CLoupe* loupe = m_paramDialog ? m_paramDialog->loupe() : nullptr;
    if (!loupe) return;
    const bool wanted = m_view.zoom() < kLoupeBelowZoom && !m_view.document().picture().IsNull();
    const bool wasShown = !loupe->isHidden();
    if (wanted) {
        const int side = loupe->DeviceSide();
        const QPoint centre = loupeCentre();
        loupe->Show(m_view.ShownPixels(QRect(centre.x() - side / 2, centre.y() - side / 2, side, side)));
    } else {
        loupe->hide();
    }
    // The dialog grows for the loupe and gives the room back without it.
    if (wanted != wasShown && m_dialog.isVisible()) m_dialog.adjustSize();
}

bool CPreviewSession::eventFilter(QObject* watched, QEvent* event)
{
    // Before the dialog shows, after it closes and while a message or file dialog of its own is
    // above it, Qt's own modality decides.
    if (QApplication::activeModalWidget() != &m_dialog) return false;
    // Events on their way to a window reach its widgets next; those decide.
    if (!watched->isWidgetType()) return false;
    const QEvent::Type type = event->type();
    if (InDialog(watched)) {
        if (type == QEvent::ShortcutOverride || type == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (!PointerOverView() || !ViewKey(*key, type == QEvent::KeyPress)) return false;
            // No shortcut takes the key; the key press that follows acts on the document window.
            key->accept();
            return true;
        }
        return false;
    }
    switch (type) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress: {
        if (m_forwarding) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (PointerOverView() && ViewKey(*key, type == QEvent::KeyPress)) key->accept();
        return true;
    }
    case QEvent::KeyRelease: return !m_forwarding;
    // Menu commands and the main window's keys, whichever window is active.
    case QEvent::Shortcut: return true;
    case QEvent::Wheel:
        if (!InView(watched)) return true;
        ScheduleLoupe();
        return false;
    case QEvent::MouseMove:
        if (watched == m_view.viewport()) {
            const CPictureMapping mapping = m_view.mapping();
            const QPointF at = static_cast<QMouseEvent*>(event)->position();
            const int x = static_cast<int>(std::floor(mapping.ToPictureX(at.x())));
            const int y = static_cast<int>(std::floor(mapping.ToPictureY(at.y())));
            if (x >= 0 && y >= 0 && x < mapping.width && y < mapping.height) {
                m_pointer = QPoint(x, y);
                ScheduleLoupe();
            }
            return false;
        }
        return !InView(watched);
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: return watched == m_view.viewport() || !InView(watched);
    case QEvent::MouseButtonRelease: Reactivate(); return watched == m_view.viewport() || !InView(watched);
    case QEvent::WindowActivate:
        if (watched != &m_dialog && static_cast<QWidget*>(watched)->isWindow()) Reactivate();
        return false;
    case QEvent::Close:
        // Closing a document or the editor under the dialog is refused.
        if (!Within(watched, m_view.window())) return false;
        event->ignore();
        return true;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::ContextMenu: return true;
    default: return event->isInputEvent() && !InView(watched);
    }
}
