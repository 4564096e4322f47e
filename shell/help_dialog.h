#pragma once

#include <QDialog>

class QTextBrowser;
enum class CommandId : int;

// The bundled help page: what the menus hold and which keys run what, written from the command
// table so that it always matches the program.
class CHelpDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CHelpDialog(QWidget* parent = nullptr);

    static QString PageHtml();
    // Scrolls to the description of one command (a command id of the table).
    void ShowCommand(CommandId id);
    QTextBrowser* browser() const { return m_browser; }

private:
    QTextBrowser* m_browser;
};
