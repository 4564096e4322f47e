#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class CMainFrame;
class COrvexView;

// How a command reaches its operation (for the help page and for reading the table).
enum class CSequence { None, Toolkit, View, Direct, Signature, ValueDialog, OkDialog, PreviewDialog, Worker };

// What a handler works on: the main frame always, the active view when a document window is active.
struct CCommandTarget
{
    CMainFrame& frame;
    COrvexView* view;
};
using CCommandHandler = std::function<void(CCommandTarget&)>;

// One row of the command table, the single source of the menus, the toolbar, the accelerators,
// the status-bar prompts and the enabled state. Rows are in menu order.
//
// A filter's command becomes live by giving its row in command_table.cpp a sequence in place of
// Pending(...): .Direct(call), .Signature(sign), .ValueDialog(ask), .OkDialog(ask),
// .PreviewDialog(make, render[, applies]) or .Worker(ask, label, call). Nothing else changes.
// An operation that shows a progress bar adds .ShowsProgress() to its row: it then runs through the
// worker sequence, so the windows keep painting and Escape cancels it.
struct CCommand
{
    enum class Kind { Command, Separator, RecentFiles };

    Kind kind = Kind::Command;
    int id = 0;
    // Where the item sits in the document menu, as "&Image/Adjustments"; empty for commands reached
    // only by toolbar or keys.
    QString menu;
    // Exact menu caption, accelerator text after a tab ("Invert\tCtrl+I").
    QString caption;
    // Keys that run the command, portable form ("Ctrl+I", "Alt+Backspace").
    QStringList keys;
    // Toolbar position, 0 for none; the tens digit is the button group (groups are separated).
    int toolbar = 0;
    QString prompt;
    // The toolbar button's tip when the caption alone would not say what the button does.
    QString tooltip;
    QString icon;
    CSequence sequence = CSequence::None;
    // Also present in the menu shown while no document is open.
    bool noDocumentMenu = false;
    // Needs the active view; disabled while no document window is active.
    bool needsView = false;
    bool checkable = false;
    // Runs on a worker thread: the windows keep painting and Escape cancels it.
    bool onWorker = false;
    // Empty: the item is shown disabled.
    CCommandHandler handler;
    // With a document window active: whether the command would change anything now (empty: always).
    std::function<bool(const COrvexView&)> enabledWhen;
};

const std::vector<CCommand>& CommandTable();
const CCommand* FindCommand(int id);

// Caption without mnemonic marks and accelerator text ("Black && White...\t..." -> "Black & White...").
QString PlainCaption(const QString& caption);
