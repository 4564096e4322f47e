#pragma once

#include <QMdiSubWindow>

class CDocumentHost;
class COrvexView;

// The document window: one COrvexView of a document, with caption, system menu, sizing border and
// minimize box, but no maximize box.
class CChildFrame : public QMdiSubWindow
{
    Q_OBJECT

public:
    explicit CChildFrame(CDocumentHost& host, QWidget* parent = nullptr);

    COrvexView* view() const { return m_view; }
    CDocumentHost& host() const { return m_host; }

protected:
    // The last window of a modified document asks first; Cancel keeps it open.
    void closeEvent(QCloseEvent* event) override;

private:
    CDocumentHost& m_host;
    COrvexView* m_view;
};
