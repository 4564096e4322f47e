#pragma once

#include "tests/shell/shell_test_support.h"

#include "shell/command_table.h"

#include <QMenu>

#include <functional>
#include <memory>

namespace dialog_test {

using CCall = std::function<void(CImageProcessor&)>;

// Command `id`'s dialog as its command builds it from its row (its start values included), for
// `picture`; null when the row has no dialog of type T.
template <class T = CParamDialog>
std::unique_ptr<T> RowDialog(CommandId id, const CImage& picture = test_pictures::Pattern(40, 30))
{
    const CCommand* command = FindCommand(id);
    if (!command || !command->dialog) return nullptr;
    std::unique_ptr<CParamDialog> dialog = command->dialog({picture, nullptr, command->startValues});
    if (!dynamic_cast<T*>(dialog.get())) return nullptr;
    return std::unique_ptr<T>(static_cast<T*>(dialog.release()));
}

// An engine as the preview command leaves it: the work image a copy of a small flat picture, the
// preview flag raised.
struct PreviewEngine
{
    CImage picture = test_pictures::Filled(12, 6, 40, 90, 200);
    CImageProcessor engine{&picture};
    PreviewEngine()
    {
        engine.workImage().CopyFrom(picture);
        engine.preview.store(1);
    }
};

// The editor with a pattern picture "p.png" open; `m_before` keeps the picture as opened, to tell
// what a command did to it.
class EditorCommandTest : public shell_test::ShellTest
{
protected:
    COrvexDoc& Open(int width = 16, int height = 12)
    {
        Start({WritePicture("p.png", width, height, 3)});
        m_before.CopyFrom(view()->document().picture());
        m_steps = view()->document().history().count();
        return view()->document();
    }

    // Picture, history and mark as they were on opening (or when `m_steps` was last taken).
    bool Unchanged() const
    {
        const COrvexDoc& doc = view()->document();
        return test_pictures::SamePixels(doc.picture(), m_before) && doc.history().count() == m_steps &&
               !doc.modified() && !caption().contains('*');
    }

    // True when command `id` is enabled and sits in the Filter menu's submenu `submenu`.
    bool EnabledInFilterSubmenu(CommandId id, const QString& submenu) const
    {
        QMenu* filter = nullptr;
        for (QMenu* menu : frame().currentMenus())
            if (menu->title() == "F&ilter") filter = menu;
        if (!filter) return false;
        QAction* action = frame().action(id);
        bool found = false;
        for (QAction* entry : filter->actions())
            found |= entry->menu() && entry->menu()->title() == submenu && entry->menu()->actions().contains(action);
        return found && action->isEnabled();
    }

    // The picture is what `call` makes of a copy of the picture as opened, and that is the second
    // history step.
    void ExpectAsCallOnCopy(const CCall& call)
    {
        const COrvexDoc& doc = view()->document();
        CImage expected;
        ASSERT_TRUE(expected.CopyFrom(m_before));
        CImageProcessor engine(&expected);
        call(engine);
        EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), expected));
        EXPECT_EQ(doc.history().count(), 2);
    }

    CImage m_before;
    int m_steps = 0;
};

} // namespace dialog_test
