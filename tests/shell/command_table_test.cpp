// The command table as the one place a command is described: the help page and the dialog sweep are
// written from its rows, so a row that lacks a part shows up here rather than as a silent gap.
#include "core/image.h"
#include "core/operation_table.h"
#include "dialogs/param_dialog.h"
#include "shell/command_table.h"
#include "shell/help_dialog.h"
#include "tests/test_pictures.h"

#include <QSet>

#include <gtest/gtest.h>

#include <set>

TEST(CommandTable, EveryLiveCommandHasItsHelpOnThePageAndNamesAnExistingOperation)
{
    const QString page = CHelpDialog::PageHtml();
    std::set<CommandId> seen;
    int live = 0;
    for (const CCommand& command : CommandTable()) {
        if (command.kind == CCommand::Kind::Separator) continue;
        SCOPED_TRACE(PlainCaption(command.caption).toStdString());
        EXPECT_TRUE(seen.insert(command.id).second) << "two rows share the number " << static_cast<int>(command.id);
        EXPECT_NE(command.id, CommandId::None);
        EXPECT_FALSE(command.help.isEmpty());
        EXPECT_TRUE(page.contains(command.help)) << "the page is written from the rows' texts";
        if (!command.operation.empty()) {
            EXPECT_NE(FindOperation(command.operation), nullptr) << command.operation;
        }
        if (command.handler) ++live;
    }
    EXPECT_GT(live, 60);
    // The lookup the frame's context help uses reads the same rows.
    EXPECT_EQ(CommandHelp(CommandId::Invert), FindCommand(CommandId::Invert)->help);
    EXPECT_TRUE(CommandHelp(CommandId::None).isEmpty());
}

TEST(CommandTable, EveryRowWithADialogIsInTheSweepAndBuildsABoundDialog)
{
    const std::vector<CDialogSweepEntry> sweep = DialogSweepList();
    QSet<QString> swept;
    for (const CDialogSweepEntry& entry : sweep) swept.insert(entry.name);
    int rowsWithDialog = 0;
    for (const CCommand& command : CommandTable()) {
        if (!command.dialog) continue;
        ++rowsWithDialog;
        EXPECT_TRUE(swept.contains(PlainCaption(command.caption))) << command.caption.toStdString();
        // A dialog row's sequence must use it: a dialog declared on a command that never shows one
        // would be swept but never seen.
        EXPECT_TRUE(command.sequence == CSequence::PreviewDialog || command.sequence == CSequence::ValueDialog ||
                    command.sequence == CSequence::OkDialog || command.sequence == CSequence::Worker)
            << command.caption.toStdString();
        EXPECT_TRUE(command.handler) << command.caption.toStdString();
    }
    EXPECT_EQ(static_cast<int>(sweep.size()), rowsWithDialog);
    EXPECT_GE(rowsWithDialog, 10);

    const CImage picture = test_pictures::Pattern(12, 8);
    for (const CDialogSweepEntry& entry : sweep) {
        SCOPED_TRACE(entry.name.toStdString());
        const std::unique_ptr<CParamDialog> dialog = entry.make(picture);
        ASSERT_NE(dialog, nullptr);
        EXPECT_NE(dialog->operation(), nullptr);
    }
}
