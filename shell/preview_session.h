#pragma once

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>

#include <optional>

class CParamDialog;
class COrvexView;
class QDialog;
class QEvent;
class QKeyEvent;
class QWidget;

// The time a preview dialog is open, seen from the document window it previews. The dialog stays
// modal to everything else, but that window can still be looked at: the wheel scrolls it (Ctrl with
// the wheel zooms around the pointer), its scroll bars can be dragged, and with the pointer over it
// the zoom and scroll keys act on it instead of on the dialog's controls. Every other input to the
// editor's windows is dropped: menus, toolbar, keys of the main window, other documents, closing.
//
// Qt drops all input to a window under an application-modal dialog before anyone can look at it, so
// for its duration the dialog is made modal to no window at all, kept above the others, and this
// filter does the blocking instead. The dialog is still the active modal widget, and exec() returns
// what it always returned. Everything is put back when the session ends.
//
// While the document window's zoom is under 50 %, the dialog's loupe (when it has one) shows the
// preview at 100 % around the picture point under the pointer, or around the centre until the
// pointer has been over the picture.
class CPreviewSession : public QObject
{
    Q_OBJECT

public:
    // The loupe shows below this zoom.
    static constexpr float kLoupeBelowZoom = 0.5f;

    CPreviewSession(COrvexView& view, QDialog& dialog);
    ~CPreviewSession() override;
    CPreviewSession(const CPreviewSession&) = delete;
    CPreviewSession& operator=(const CPreviewSession&) = delete;

    // Shows or hides the loupe and fills it for the view's zoom and the pointer as they are now.
    void UpdateLoupe();
    // The picture pixel the loupe is centred on.
    QPoint loupeCentre() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool InDialog(const QObject* object) const;
    bool InView(const QObject* object) const;
    bool PointerOverView() const;
    // The zoom or scroll key `event` stands for, acted on when `act`; false for any other key.
    bool ViewKey(const QKeyEvent& event, bool act);
    void ScheduleLoupe();
    void Reactivate();

    COrvexView& m_view;
    QDialog& m_dialog;
    CParamDialog* m_paramDialog = nullptr;

    // What the dialog was before the session, to be put back.
    QPointer<QWidget> m_parent;
    Qt::WindowFlags m_flags;
    Qt::WindowModality m_modality = Qt::ApplicationModal;
    // Widgets of the main window greyed for the session, to show they do not answer.
    QList<QPointer<QWidget>> m_disabled;

    // The picture point under the pointer, once it has been over the picture.
    std::optional<QPoint> m_pointer;
    bool m_loupePending = false;
    bool m_forwarding = false;
};
