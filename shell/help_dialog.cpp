#include "shell/help_dialog.h"

#include "shell/command_table.h"

#include <QKeySequence>
#include <QTextBrowser>
#include <QVBoxLayout>

CHelpDialog::CHelpDialog(QWidget* parent) : QDialog(parent), m_browser(new QTextBrowser(this))
{
    setWindowTitle(QStringLiteral("Orvex Help"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_browser);
    m_browser->setHtml(PageHtml());
    resize(640, 560);
}

QString CHelpDialog::PageHtml()
{
    QString html = QStringLiteral(
        "<h2>Orvex</h2>"
        "<p>Open JPEG, BMP, GIF or PNG pictures with File &gt; Open, by naming them on the command line or "
        "by dropping them on the window. Each picture gets its own window; the caption shows its name, "
        "a <b>*</b> when it has unsaved changes, and the zoom.</p>"
        "<p>Commands of the Image and Filter menus change the picture; Undo and Redo step through the "
        "last 16 states. Dialogs with a <b>Preview</b> box show their effect in the window while you move "
        "the sliders; only OK changes the picture. Long filters show a bar in the status bar; the "
        "diffusion filters can be stopped with Escape.</p>"
        "<p>Hold Ctrl and turn the mouse wheel to zoom around the pointer; double-click a picture to fit "
        "its window to it.</p>");
    QString currentMenu;
    for (const CCommand& command : CommandTable()) {
        if (command.kind != CCommand::Kind::Command || !command.handler) continue;
        const QString menu = command.menu.isEmpty() ? QStringLiteral("Toolbar and keys")
                                                    : PlainCaption(command.menu).replace(QLatin1Char('/'), QStringLiteral(" &gt; "));
        if (menu != currentMenu) {
            if (!currentMenu.isEmpty()) html += QStringLiteral("</table>");
            html += QStringLiteral("<h3>%1</h3><table cellspacing=\"4\">").arg(menu);
            currentMenu = menu;
        }
        QStringList keys;
        for (const QString& key : command.keys)
            keys << QKeySequence(key, QKeySequence::PortableText).toString(QKeySequence::NativeText).toHtmlEscaped();
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td><i>%3</i></td></tr>")
                    .arg(PlainCaption(command.caption).toHtmlEscaped(), keys.join(QStringLiteral(", ")),
                         command.prompt.toHtmlEscaped());
    }
    if (!currentMenu.isEmpty()) html += QStringLiteral("</table>");
    return html;
}
