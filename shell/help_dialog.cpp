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

namespace {

QString Entry(CommandId id, const QString& caption, const QString& keys, const QString& description)
{
    return QStringLiteral("<tr><td valign=\"top\" width=\"30%\"><a name=\"cmd%1\"></a><b>%2</b>%3</td>"
                          "<td valign=\"top\">%4</td></tr>")
        .arg(static_cast<int>(id))
        .arg(caption, keys.isEmpty() ? QString() : QStringLiteral("<br/>") + keys, description);
}

} // namespace

void CHelpDialog::ShowCommand(CommandId id)
{
    m_browser->scrollToAnchor(QStringLiteral("cmd%1").arg(static_cast<int>(id)));
}

QString CHelpDialog::PageHtml()
{
    QString html = QStringLiteral(
        "<h2>Orvex</h2>"
        "<p>Open JPEG, BMP, GIF, PNG, TIFF or WebP pictures (.jpg, .jpeg, .jpe, .jfif, .bmp, .dib, .gif, .png, "
        ".tif, .tiff, .webp; a file opens by its content whatever its name) with File &gt; Open, by naming "
        "them on the command line or by dropping them on the window. Each picture gets its own window; the caption shows its name, "
        "a <b>*</b> when it has unsaved changes, and the zoom.</p>"
        "<p>Commands of the Image and Filter menus change the picture; Undo and Redo step through the "
        "last 16 states. Dialogs with a <b>Preview</b> box show their effect in the window while you move "
        "the sliders; only OK changes the picture. Long filters show a bar in the status bar; the "
        "diffusion filters can be stopped with Escape.</p>"
        "<p>Hold Ctrl and turn the mouse wheel to zoom around the pointer; double-click a picture to fit "
        "its window to it. Shift+F1 or the toolbar's help button starts context help: the next command "
        "you click shows its description below instead of running.</p>"
        "<p>While a long operation runs, its bar shows in the status bar and the windows stay painted; "
        "Escape stops it and leaves the picture as it was. Keys pressed and clicks made meanwhile are "
        "ignored.</p>");
    QString currentMenu;
    for (const CCommand& command : CommandTable()) {
        if (command.kind == CCommand::Kind::Separator) continue;
        const QString menu = command.menu.isEmpty() ? QStringLiteral("Toolbar and keys")
                                                    : PlainCaption(command.menu).replace(QLatin1Char('/'), QStringLiteral(" &gt; "));
        if (menu != currentMenu) {
            if (!currentMenu.isEmpty()) html += QStringLiteral("</table>");
            html += QStringLiteral("<h3>%1</h3><table cellspacing=\"4\" width=\"100%\">").arg(menu);
            currentMenu = menu;
        }
        if (command.kind == CCommand::Kind::RecentFiles) {
            // The recent-file entries share one description.
            html += Entry(command.id, QStringLiteral("Recent files"), QString(), command.help);
            continue;
        }
        QStringList keys;
        for (const QString& key : command.keys)
            keys << QKeySequence(key, QKeySequence::PortableText).toString(QKeySequence::NativeText).toHtmlEscaped();
        QString description = command.help;
        if (command.onWorker)
            description += QStringLiteral(" Its progress shows in the status bar; Escape stops it and leaves the "
                                          "picture as it was.");
        html += Entry(command.id, PlainCaption(command.caption).toHtmlEscaped(), keys.join(QStringLiteral(", ")),
                      description);
    }
    if (!currentMenu.isEmpty()) html += QStringLiteral("</table>");
    return html;
}
