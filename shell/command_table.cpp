#include "shell/command_table.h"

#include "core/image_processor.h"
#include "core/operation_table.h"
#include "dialogs/add_noise_dlg.h"
#include "dialogs/bc_dlg.h"
#include "dialogs/blur_dialog.h"
#include "dialogs/bw_dlg.h"
#include "dialogs/canvas_size_dlg.h"
#include "dialogs/cbalance_dlg.h"
#include "dialogs/curves_dlg.h"
#include "dialogs/custom_dlg.h"
#include "dialogs/diffusion_dlg.h"
#include "dialogs/hue_dlg.h"
#include "dialogs/image_size_dlg.h"
#include "dialogs/lense_flare_dlg.h"
#include "dialogs/levels_dlg.h"
#include "dialogs/median_dlg.h"
#include "dialogs/motion_blur_dlg.h"
#include "dialogs/offset_dlg.h"
#include "dialogs/param_dialog.h"
#include "dialogs/rotate_dlg.h"
#include "dialogs/threshold_dlg.h"
#include "dialogs/unsharp_mask_dlg.h"
#include "dialogs/variations_dlg.h"
#include "document/orvex_doc.h"
#include "filters/colour/auto_levels.h"
#include "filters/effects/clouds.h"
#include "filters/effects/facet.h"
#include "filters/effects/fragment.h"
#include "filters/rank_diffusion/bilateral.h"
#include "filters/rank_diffusion/despeckle.h"
#include "shell/clipboard.h"
#include "shell/command_sequences.h"
#include "shell/document_host.h"
#include "shell/orvex_view.h"

#include <QPointer>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

namespace {

// What the values of a dialog closed with OK decide: the call to make, or an empty call when they
// say nothing is to be applied.
using CDecide = std::function<sequence::CEngineCall(const CParamDialog& dialog)>;
// What OK in a dialog does.
using CApply = std::function<void(COrvexView&, const CParamDialog& dialog, sequence::CRun)>;

// Builds one row; reads like the menu resource it replaces.
class Row
{
public:
    Row(CommandId id, const char* menu, const char* caption)
    {
        m_c.id = id;
        m_c.menu = QString::fromUtf8(menu);
        m_c.caption = QString::fromUtf8(caption);
    }
    Row& Keys(QStringList keys) { m_c.keys = std::move(keys); return *this; }
    Row& Toolbar(int slot, const char* icon)
    {
        m_c.toolbar = slot;
        m_c.icon = QStringLiteral(":/icons/%1.svg").arg(QLatin1String(icon));
        return *this;
    }
    Row& Prompt(const char* prompt) { m_c.prompt = QString::fromUtf8(prompt); return *this; }
    Row& Tooltip(const char* tip) { m_c.tooltip = QString::fromUtf8(tip); return *this; }
    Row& EnabledWhen(std::function<bool(const COrvexView&)> when) { m_c.enabledWhen = std::move(when); return *this; }
    Row& AvailableWhen(std::function<bool(const ICommandFrame&)> when)
    {
        m_c.availableWhen = std::move(when);
        return *this;
    }
    Row& NoDocumentMenu() { m_c.noDocumentMenu = true; return *this; }
    Row& Checkable() { m_c.checkable = true; return *this; }
    // The name of the history step the command records, where its caption alone would not say
    // what it did ("90° CW" in the Rotate Canvas menu).
    Row& StepName(const char* name)
    {
        m_stepName = QString::fromUtf8(name);
        return *this;
    }
    Row& Help(const char* text)
    {
        m_c.help = QString::fromUtf8(text);
        return *this;
    }
    // The operations table row the command runs.
    Row& Runs(const char* operation)
    {
        m_c.operation = operation;
        return *this;
    }
    Row& Dialog(CDialogFactory make)
    {
        m_c.dialog = std::move(make);
        return *this;
    }
    // A dialog whose constructor takes its parent and start values.
    template <class T>
    Row& Dialog()
    {
        return Dialog([](const CDialogRequest& r) -> std::unique_ptr<CParamDialog> {
            return std::make_unique<T>(r.parent, r.start);
        });
    }
    // A dialog that takes a title before its parent (one class serves several commands).
    template <class T>
    Row& Dialog(const char* title)
    {
        return Dialog([title = QString::fromUtf8(title)](const CDialogRequest& r) -> std::unique_ptr<CParamDialog> {
            return std::make_unique<T>(title, r.parent, r.start);
        });
    }
    // A dialog that reads the picture it is opened on (its histogram).
    template <class T>
    Row& PictureDialog()
    {
        return Dialog([](const CDialogRequest& r) -> std::unique_ptr<CParamDialog> {
            return std::make_unique<T>(r.picture, r.parent, r.start);
        });
    }
    // A dialog that works on the picture's size, for the picture it is opened on.
    template <class T>
    Row& SizeDialog()
    {
        return Dialog([](const CDialogRequest& r) -> std::unique_ptr<CParamDialog> {
            return std::make_unique<T>(r.picture.width(), r.picture.height(), r.parent, r.start);
        });
    }
    // A dialog of sliders only, declared here: one slider per field for the row's operation
    // (.Runs), previewed by the table call when the row has .PreviewDialog().
    Row& Sliders(const char* title, std::vector<CSliderField> sliders, CSliderOptions options = {})
    {
        m_sliders = {QString::fromUtf8(title), std::move(sliders), std::move(options)};
        return *this;
    }
    // Values the dialog starts from in place of the operations table's defaults.
    Row& StartValues(CStartValues values)
    {
        m_c.startValues = std::move(values);
        return *this;
    }
    // Handled by the frame or the application (the toolkit's commands).
    Row& Frame(std::function<void(ICommandFrame&)> handler)
    {
        m_c.sequence = CSequence::Toolkit;
        m_c.handler = [handler = std::move(handler)](CCommandTarget& t) { handler(t.frame); };
        return *this;
    }
    // Handled by the active view.
    Row& View(CSequence sequence, std::function<void(COrvexView&)> handler)
    {
        return ViewRun(sequence, [handler = std::move(handler)](COrvexView& v, sequence::CRun) { handler(v); });
    }
    // The operation shows a progress bar: it runs through the worker sequence (windows keep
    // painting, input is dropped, Escape cancels). Goes with .Direct, .ValueDialog, .OkDialog and
    // .PreviewDialog, before or after them.
    Row& ShowsProgress()
    {
        m_run = sequence::CRun::Worker;
        return *this;
    }
    // A toolkit command that works on the active document window.
    Row& FrameView(std::function<void(ICommandFrame&, COrvexView&)> handler)
    {
        m_c.sequence = CSequence::Toolkit;
        m_c.needsView = true;
        m_c.handler = [handler = std::move(handler)](CCommandTarget& t) {
            if (t.view) handler(t.frame, *t.view);
        };
        return *this;
    }
    Row& Direct(sequence::CEngineCall call)
    {
        m_direct = std::move(call);
        return ViewRun(CSequence::Direct, {});
    }
    // The .Direct call is the row's table call (.Runs) with these values: on a selection it then runs
    // on the selection and its margin only. A row whose operation takes no values needs no mention.
    Row& TableValues(std::vector<double> values)
    {
        m_tableValues = std::move(values);
        return *this;
    }
    // Works on the whole picture even with a selection, which a change then clears: the picture's
    // pixels move. Rows whose operation changes the size are so without saying.
    Row& WholePicture()
    {
        m_wholePicture = true;
        return *this;
    }
    Row& Signature(std::function<int(CImageProcessor&)> sign)
    {
        return View(CSequence::Signature, [sign = std::move(sign)](COrvexView& v) { sequence::Signature(v, sign); });
    }
    // The row's dialog (.Dialog) runs; after OK `decide` reads its values (empty: the row's table call
    // with them, in table order), and the call it returns, if any, is made.
    Row& ValueDialog(CDecide decide = {}) { return DialogRun(CSequence::ValueDialog, std::move(decide)); }
    Row& OkDialog(CDecide decide = {}) { return DialogRun(CSequence::OkDialog, std::move(decide)); }
    // As .ValueDialog, the call on a worker with its progress shown under `label`.
    Row& Worker(const char* label, CDecide decide = {})
    {
        m_workerLabel = QString::fromUtf8(label);
        return DialogRun(CSequence::Worker, std::move(decide));
    }
    // The row's dialog runs; after OK `apply` does what its values say (for a command that chooses
    // how to run its operation).
    Row& AfterDialog(CSequence sequence, CApply apply)
    {
        m_c.sequence = sequence;
        m_c.needsView = true;
        m_afterDialog = std::move(apply);
        return *this;
    }
    // Closing with `parameter` at 0, which leaves the picture as it is, applies nothing.
    Row& NothingAtZero(const char* parameter)
    {
        m_nothingAtZero = parameter;
        return *this;
    }
    // The row's dialog (.Dialog) asks, with a live preview; `render` is both the preview and the
    // final call (empty: the row's table call).
    Row& PreviewDialog(CPreviewRenderer::Render render = {}, sequence::CApplies applies = {})
    {
        m_c.sequence = CSequence::PreviewDialog;
        m_c.needsView = true;
        m_render = std::move(render);
        m_applies = std::move(applies);
        return *this;
    }
    // Listed for its view, with no handler yet: shown disabled.
    Row& Pending(CSequence sequence)
    {
        m_c.sequence = sequence;
        m_c.needsView = true;
        return *this;
    }
    operator CCommand() const
    {
        CCommand c = m_c;
        if (m_sliders)
            c.dialog = [form = *m_sliders, operation = c.operation](const CDialogRequest& r) {
                return MakeSliderDialog(form.title, operation, form.fields, form.options, r.parent, r.start);
            };
        std::function<void(COrvexView&, sequence::CRun)> viewHandler = m_viewHandler;
        const COperation* op = c.operation.empty() ? nullptr : FindOperation(c.operation);
        const bool whole = m_wholePicture || (op && op->changesSize);
        if (m_direct) {
            const bool known = m_tableValues.has_value() || (op && op->params.empty());
            viewHandler = [call = m_direct, operation = known ? c.operation : std::string(),
                           values = m_tableValues.value_or(std::vector<double>()),
                           whole](COrvexView& v, sequence::CRun run) {
                sequence::Direct(v, whole ? call : sequence::OnSelection(v, call, operation, &values), run);
            };
        }
        if (c.sequence == CSequence::PreviewDialog && c.dialog) {
            CPreviewRenderer::Render render = m_render;
            if (!render)
                render = [operation = c.operation](CImageProcessor& e, const std::vector<double>& values) {
                    CParamDialog::RenderByTable(operation, e, values);
                };
            viewHandler = [make = c.dialog, start = c.startValues, render = std::move(render),
                           applies = m_applies](COrvexView& v, sequence::CRun run) {
                const std::unique_ptr<CParamDialog> dialog = make({v.document().picture(), &v, start});
                if (dialog) sequence::Preview(v, *dialog, render, applies, run);
            };
        } else if (const CApply apply = DialogApply(c); apply && c.dialog) {
            viewHandler = [make = c.dialog, start = c.startValues, apply](COrvexView& v, sequence::CRun run) {
                const std::unique_ptr<CParamDialog> dialog = make({v.document().picture(), &v, start});
                if (dialog && dialog->exec() == QDialog::Accepted) apply(v, *dialog, run);
            };
        }
        c.onWorker = m_c.sequence == CSequence::Worker || (viewHandler && m_run == sequence::CRun::Worker);
        if (viewHandler)
            c.handler = [handler = std::move(viewHandler), run = m_run](CCommandTarget& t) {
                if (t.view) handler(*t.view, run);
            };
        if (whole && c.handler)
            c.handler = [handler = std::move(c.handler)](CCommandTarget& t) {
                CDocumentHost* host = t.view ? &t.view->host() : nullptr;
                const int commits = host ? host->commits : 0;
                handler(t);
                if (host && host->commits != commits) host->doc().SetSelection(std::nullopt);
            };
        if (c.handler && c.needsView)
            c.handler = [handler = std::move(c.handler),
                         step = m_stepName.isEmpty() ? StepNameOf(c.caption) : m_stepName](CCommandTarget& t) {
                if (!t.view) return handler(t);
                // A command run while another one's dialog is open (zooming) leaves its name alone.
                CDocumentHost& host = t.view->host();
                const QPointer<CDocumentHost> alive(&host);
                QString outer = std::exchange(host.stepName, step);
                handler(t);
                // The command may have closed the document.
                if (CDocumentHost* still = alive.data()) still->stepName = std::move(outer);
            };
        return c;
    }

private:
    struct CSliderForm
    {
        QString title;
        std::vector<CSliderField> fields;
        CSliderOptions options;
    };

    // The handler is put together last, so that .ShowsProgress() may come anywhere in the row.
    Row& ViewRun(CSequence sequence, std::function<void(COrvexView&, sequence::CRun)> handler)
    {
        m_c.sequence = sequence;
        m_c.needsView = true;
        m_viewHandler = std::move(handler);
        return *this;
    }

    Row& DialogRun(CSequence sequence, CDecide decide)
    {
        m_c.sequence = sequence;
        m_c.needsView = true;
        m_decides = true;
        m_decide = std::move(decide);
        return *this;
    }

    // What OK in the row's dialog does, once the whole row is known.
    CApply DialogApply(const CCommand& c) const
    {
        CApply apply = m_afterDialog;
        if (m_decides) {
            CDecide decide = m_decide;
            const COperation* op = c.operation.empty() ? nullptr : FindOperation(c.operation);
            const bool whole = m_wholePicture || (op && op->changesSize);
            // The table call's values say what it is; a call of the row's own is run as a whole.
            const std::string tableOperation = decide ? std::string() : c.operation;
            if (!decide)
                decide = [operation = c.operation](const CParamDialog& d) -> sequence::CEngineCall {
                    return [operation, values = d.values()](CImageProcessor& e) {
                        CParamDialog::RenderByTable(operation, e, values);
                    };
                };
            apply = [decide = std::move(decide), label = m_workerLabel, worker = c.sequence == CSequence::Worker, whole,
                     tableOperation](COrvexView& v, const CParamDialog& d, sequence::CRun run) {
                sequence::CEngineCall call = decide(d);
                if (!call) return;
                const std::vector<double> values = d.values();
                if (!whole) call = sequence::OnSelection(v, std::move(call), tableOperation, &values);
                if (worker) sequence::Worker(v, label, call);
                else sequence::Direct(v, call, run);
            };
        }
        if (!apply || m_nothingAtZero.empty()) return apply;
        return [apply, parameter = m_nothingAtZero](COrvexView& v, const CParamDialog& d, sequence::CRun run) {
            if (static_cast<float>(d.value(parameter)) != 0.0f) apply(v, d, run);
        };
    }

    CCommand m_c;
    std::function<void(COrvexView&, sequence::CRun)> m_viewHandler;
    sequence::CEngineCall m_direct;
    std::optional<std::vector<double>> m_tableValues;
    bool m_wholePicture = false;
    CPreviewRenderer::Render m_render;
    std::optional<CSliderForm> m_sliders;
    bool m_decides = false;
    CDecide m_decide;
    QString m_workerLabel;
    CApply m_afterDialog;
    std::string m_nothingAtZero;
    sequence::CApplies m_applies;
    sequence::CRun m_run = sequence::CRun::Here;
    QString m_stepName;

    // The menu caption as a name: no mnemonic, no keys, no "..." of a command that asks first.
    static QString StepNameOf(const QString& caption)
    {
        QString name = PlainCaption(caption).trimmed();
        if (name.endsWith(QStringLiteral("..."))) name.chop(3);
        else if (name.endsWith(QChar(0x2026))) name.chop(1);
        return name.trimmed();
    }
};

CCommand Separator(const char* menu, bool noDocumentMenu = false)
{
    CCommand c;
    c.kind = CCommand::Kind::Separator;
    c.menu = QString::fromUtf8(menu);
    c.noDocumentMenu = noDocumentMenu;
    return c;
}

CCommand RecentFiles(const char* menu, const char* help)
{
    CCommand c;
    c.kind = CCommand::Kind::RecentFiles;
    c.id = CommandId::RecentFiles;
    c.help = QString::fromUtf8(help);
    c.menu = QString::fromUtf8(menu);
    c.noDocumentMenu = true;
    return c;
}

constexpr auto kPending = CSequence::None;

// "Image Size...": the liquid method runs on a worker, so that the window keeps painting and
// Escape can stop it; the others run directly. The same size applies nothing.
void Resize(COrvexView& view, const CParamDialog& dialog, sequence::CRun run)
{
    const CImage& picture = view.document().picture();
    const int w = static_cast<int>(dialog.value("width"));
    const int h = static_cast<int>(dialog.value("height"));
    if (w == picture.width() && h == picture.height()) return;
    const char method = static_cast<char>(static_cast<int>(dialog.value("method")));
    const sequence::CEngineCall call = [w, h, method](CImageProcessor& e) { e.ResizeImage(w, h, method); };
    if (method == 'l') sequence::Worker(view, QStringLiteral(" Liquid resizing:"), call);
    else sequence::Direct(view, call, run);
}

// The toolbar's size presets: the width becomes the preset's long side for a landscape picture and
// its short side otherwise, the height keeps the proportions; a side that comes to 0 is 1.
sequence::CEngineCall SizePreset(int landscape, int portrait)
{
    return [landscape, portrait](CImageProcessor& e) {
        const int w = e.image()->width();
        const int h = e.image()->height();
        if (w < 1 || h < 1) return;
        const double k = static_cast<double>(w > h ? landscape : portrait) / w;
        const int nw = std::max(1, static_cast<int>(w * k));
        const int nh = std::max(1, static_cast<int>(h * k));
        e.ResizeImage(nw, nh, 'b');
    };
}

std::vector<CCommand> BuildTable()
{
    const char* file = "&File";
    const char* edit = "&Edit";
    const char* view = "&View";
    const char* adjust = "&Image/Adjustments";
    const char* image = "&Image";
    const char* rotate = "&Image/Rotate Canvas";
    const char* window = "&Window";
    const char* help = "&Help";

    return {
        Row(CommandId::FileNew, file, "&New\tCtrl+N")
            .Keys({"Ctrl+N"})
            .Toolbar(11, "new")
            .Prompt("Create a new document")
            .NoDocumentMenu()
            .Frame([](ICommandFrame& f) { f.NewDocument(); })
            .Help("Creates a blank picture as a new document, Untitled-1, Untitled-2 and so on. The dialog asks for "
                  "its width and height in pixels (1 to 32768 each, at most 536,870,912 pixels in all) and its "
                  "fill: white, black, or the grey of the canvas fill that Canvas Size and Rotate use. The new "
                  "document counts as unchanged until it is changed, and Save asks for a name. The last size and "
                  "fill are offered again."),
        Row(CommandId::FileOpen, file, "&Open...\tCtrl+O")
            .Keys({"Ctrl+O"})
            .Toolbar(12, "open")
            .Prompt("Open an existing document")
            .NoDocumentMenu()
            .Frame([](ICommandFrame& f) { f.OnFileOpen(); })
            .Help("Opens one or more JPEG, BMP, GIF, PNG, TIFF or WebP pictures (.jpg, .jpeg, .jpe, .jfif, .bmp, .dib, "
                  ".gif, .png, .tif, .tiff, .webp), each in its own window. The dialog starts in the "
                  "folder of the last file opened through it. Pictures can also be dropped on the main window or named "
                  "on the command line."),
        Row(CommandId::FileNewFromClipboard, file, "New from Clip&board")
            .Prompt("Open the Clipboard contents as a new document")
            .NoDocumentMenu()
            .Frame([](ICommandFrame& f) { f.Paste(); })
            .AvailableWhen([](const ICommandFrame& f) { return f.canPaste(); })
            .Help("The same as Edit > Paste: opens the picture on the clipboard as a new untitled document, or the "
                  "files named there."),
        Row(CommandId::FileClose, file, "&Close")
            .Keys({"Ctrl+W"})
            .Prompt("Close the active document")
            .NoDocumentMenu()
            .FrameView([](ICommandFrame& f, COrvexView& v) { f.CloseDocument(v); })
            .Help(
                "Closes every window of the active document. With unsaved changes (a <b>*</b> in the caption) it asks "
                "first whether to save them."),
        Row(CommandId::FileSave, file, "&Save\tCtrl+S")
            .Keys({"Ctrl+S"})
            .Toolbar(13, "save")
            .Prompt("Save the active document")
            .FrameView([](ICommandFrame& f, COrvexView& v) { f.Save(v); })
            .Help("Saves the picture under its own name, in the format of its extension. A file that cannot be written "
                  "is saved through Save As instead."),
        Row(CommandId::FileSaveAs, file, "Save &As...")
            .Keys({"Ctrl+Shift+S"})
            .Prompt("Save the active document with a new name")
            .FrameView([](ICommandFrame& f, COrvexView& v) { f.SaveAs(v); })
            .Help(
                "Saves the picture under a new name; the extension typed (.jpg, .jpeg, .jpe, .jfif, .bmp, .dib, .gif, "
                ".png, .tif, .tiff or .webp) chooses the format."),
        Separator(file),
        Row(CommandId::FilePrint, file, "&Print...\tCtrl+P")
            .Keys({"Ctrl+P"})
            .Toolbar(31, "print")
            .Prompt("Print the active document")
            .FrameView([](ICommandFrame& f, COrvexView& v) { f.Print(v); })
            .Help("Prints the picture. The Picture tab of the dialog's options chooses its size: <b>Fit to page</b> "
                  "prints it as large as the paper allows, centred, its shape kept and the page turned to match; "
                  "<b>As shown in the window</b> prints it at the window's zoom, where at 100 % one picture pixel is "
                  "one printer dot. The choice is remembered. The paper around the picture stays white."),
        Row(CommandId::FilePrintPreview, file, "Print Pre&view")
            .Prompt("Display full pages")
            .FrameView([](ICommandFrame& f, COrvexView& v) { f.PrintPreview(v); })
            .Help("Shows the printed pages before printing, with the same choice of size on its toolbar. Escape "
                  "closes the preview; Page Up and Page Down turn the pages."),
        Row(CommandId::FilePrintSetup, file, "P&rint Setup...")
            .Prompt("Change the printer and printing options")
            .NoDocumentMenu()
            .Frame([](ICommandFrame& f) { f.PrintSetup(); })
            .Help("Chooses the printer, the paper and its orientation."),
        Separator(file, true),
        RecentFiles(file, "Opens one of the last seven pictures opened or saved, newest first."),
        Separator(file, true),
        Row(CommandId::AppExit, file, "E&xit")
            .Prompt("Quit the application; prompts to save documents")
            .NoDocumentMenu()
            .Frame([](ICommandFrame& f) { f.Exit(); })
            .Help("Ends Orvex, asking first for every document with unsaved changes."),

        Row(CommandId::EditUndo, edit, "&Undo\tCtrl+Z")
            .Keys({"Ctrl+Z", "Alt+Backspace"})
            .Toolbar(41, "undo")
            .Prompt("Undo the last action")
            .View(CSequence::View, [](COrvexView& v) { sequence::Undo(v); })
            .EnabledWhen(&sequence::CanUndo)
            .Help("Goes back one step; the menu item names the step it takes back. Orvex keeps the picture as "
                  "opened and its 15 newest states, packed in memory, and moves the oldest to a temporary file when "
                  "memory runs short. Only when that fails are old steps given up, and the menu item then says how "
                  "many are left. While the Edit menu is open the status bar shows the memory the steps take. Undo "
                  "does not remove the <b>*</b> of unsaved changes."),
        Row(CommandId::EditRedo, edit, "&Redo\tCtrl+Y")
            .Keys({"Ctrl+Y"})
            .Toolbar(42, "redo")
            .Prompt("Redo the previously undone action")
            .View(CSequence::View, [](COrvexView& v) { sequence::Redo(v); })
            .EnabledWhen(&sequence::CanRedo)
            .Help("Goes forward again to a state that Undo left; the menu item names the step it brings back."),
        Separator(edit),
        Row(CommandId::EditCut, edit, "Cu&t\tCtrl+X")
            .Keys({"Ctrl+X", "Shift+Del"})
            .Toolbar(21, "cut")
            .Prompt("Cut the selection and put it on the Clipboard")
            .View(CSequence::View, &clipboard::Cut)
            .EnabledWhen(&clipboard::CanCut)
            .Help("Puts the selected rectangle on the clipboard, as Copy does, and fills it with the background "
                  "colour, in one step that Undo takes back. Not available without a selection."),
        Row(CommandId::EditCopy, edit, "&Copy\tCtrl+C")
            .Keys({"Ctrl+C", "Ctrl+Ins"})
            .Toolbar(22, "copy")
            .Prompt("Copy the selection and put it on the Clipboard")
            .View(CSequence::View, [](COrvexView& v) { clipboard::Copy(v); })
            .Help("Puts the selected rectangle, or the whole picture when nothing is selected, on the clipboard as a "
                  "picture that other programs can paste. The picture is left as it is."),
        Row(CommandId::EditPaste, edit, "&Paste\tCtrl+V")
            .Keys({"Ctrl+V", "Shift+Ins"})
            .Toolbar(23, "paste")
            .Prompt("Insert Clipboard contents")
            .Frame([](ICommandFrame& f) { f.Paste(); })
            .AvailableWhen([](const ICommandFrame& f) { return f.canPaste(); })
            .Help("Opens a picture on the clipboard (a screenshot, or one copied in Orvex or another program) as a new "
                  "document, Untitled-1, Untitled-2 and so on, with transparent parts put on white. It counts as "
                  "unsaved, and Save asks for a name. Files copied in a file manager, or file names on the "
                  "clipboard one per line, open as File > Open opens them. Not available while the clipboard "
                  "holds neither."),
        Separator(edit),
        Row(CommandId::EditSelectAll, edit, "Select All\tCtrl+A")
            .Keys({"Ctrl+A"})
            .Prompt("Select the whole picture")
            .View(CSequence::View,
                  [](COrvexView& v) {
                      const CImage& picture = v.document().picture();
                      v.document().SetSelection(CRegion{0, 0, picture.width(), picture.height()});
                  })
            .Help("Selects the whole picture. To select part of it, drag a rectangle over the picture with the left "
                  "mouse button; Shift keeps it square. The handles on its corners and edges resize it, dragging "
                  "inside moves it, and the status bar shows its position and size in pixels while you drag. Every "
                  "window of the document shows the same selection. With a selection, the adjustments and filters "
                  "change only the pixels inside it, exactly as they would change them running on the whole "
                  "picture; commands that change the picture's size or turn it work on the whole picture and clear "
                  "the selection."),
        Row(CommandId::EditDeselect, edit, "Deselect\tCtrl+Shift+A")
            .Keys({"Ctrl+Shift+A", "Escape"})
            .Prompt("Clear the selection")
            .View(CSequence::View, [](COrvexView& v) { v.document().SetSelection(std::nullopt); })
            .EnabledWhen([](const COrvexView& v) { return v.document().selection().has_value(); })
            .Help("Clears the selection, so that commands work on the whole picture again. Escape does the same "
                  "while no operation runs, and so does a click on the picture without dragging."),

        Row(CommandId::ViewToolbar, view, "&Toolbar")
            .Prompt("Show or hide the toolbar")
            .NoDocumentMenu()
            .Checkable()
            .Frame([](ICommandFrame& f) { f.ToggleToolbar(); })
            .Help("Shows or hides the toolbar."),
        Row(CommandId::ViewStatusBar, view, "&Status Bar")
            .Prompt("Show or hide the status bar")
            .NoDocumentMenu()
            .Checkable()
            .Frame([](ICommandFrame& f) { f.ToggleStatusBar(); })
            .Help("Shows or hides the status bar, where prompts, progress bars and the lock keys appear."),
        Row(CommandId::ViewHistogram, view, "&Histogram")
            .Prompt("Show or hide the histogram panel")
            .NoDocumentMenu()
            .Checkable()
            .Frame([](ICommandFrame& f) { f.ToggleHistogram(); })
            .Help("Shows or hides the Histogram panel, docked on the main window: how many pixels of the active "
                  "window's picture have each value 0..255, for the luminance (0.299 red + 0.587 green + 0.114 "
                  "blue, rounded), red, green or blue, or Colours (red, green and blue drawn over one another). "
                  "Below it are the number of pixels and the mean and median of the values shown (Colours pools "
                  "the three channels' values; the median is the smallest value that at least half of the values "
                  "do not exceed). The panel follows the active window, counts again after every change, Undo and "
                  "Redo, and while a dialog previews, shows the preview. Whether it is shown is remembered."),
        Separator(view),
        Row(CommandId::ZoomIn, view, "&Zoom in")
            .Keys({"Shift+Z", "Ctrl++", "Ctrl+="})
            .Toolbar(51, "zoom_in")
            .Prompt("Zoom in on image")
            .View(CSequence::View, [](COrvexView& v) { v.ZoomIn(); })
            .Help("Doubles the zoom above 100 % and multiplies it by 1.5 below, up to 1600 %. Ctrl and the mouse "
                  "wheel zoom around the pointer."),
        Row(CommandId::ZoomOut, view, "Zoom &out")
            .Keys({"Shift+O", "Ctrl+-"})
            .Toolbar(52, "zoom_out")
            .Prompt("Zoom out on image")
            .View(CSequence::View, [](COrvexView& v) { v.ZoomOut(); })
            .Help("Halves the zoom above 100 % and divides it by 1.5 below, down to 5 %."),
        Row(CommandId::Zoom100, view, "Zoom 100%")
            .Keys({"Ctrl+0"})
            .Toolbar(53, "zoom_100")
            .Prompt("Zoom 100% on image")
            .View(CSequence::View, [](COrvexView& v) { v.Zoom100(); })
            .Help("Shows the picture at its real size, one picture pixel per screen pixel. Like the zoom steps, "
                  "it keeps the place at the middle of the window where it is."),
        Row(CommandId::ViewFitInWindow, view, "Fit in Window\tCtrl+9")
            .Keys({"Ctrl+9"})
            .Prompt("Zoom so that the whole picture fits in its window")
            .View(CSequence::View, [](COrvexView& v) { v.FitInWindow(); })
            .Help("Zooms so that the whole picture shows in its window as the window is, without scroll bars, "
                  "as large as it can be but never above 100 %: a small picture stays at its real size."),
        Row(CommandId::ViewFitOnScreen, view, "Fit on Screen")
            .Prompt("Enlarge the window to the document area and fit the picture in it")
            .View(CSequence::View, [](COrvexView& v) { v.FitOnScreen(); })
            .Help("Makes the window as large as the document area and then zooms as Fit in Window does. "
                  "Whatever the zoom, Home and End scroll to the top left and bottom right corners, Page Up "
                  "and Page Down by a window's height, with Shift by a window's width; the space bar held "
                  "down while dragging with the left button, or a drag with the middle button, moves the "
                  "picture."),

        Row(CommandId::Levels, adjust, "Levels...\tCtrl+L")
            .Keys({"Ctrl+L"})
            .PictureDialog<CLevelsDlg>()
            .PreviewDialog(&CLevelsDlg::Render)
            .Runs("Levels")
            .Help(
                "Sets the input black, mid-tone and white points and the output range, for RGB and for each channel, "
                "with the histogram of the chosen channel and a live preview. Each value v becomes "
                "round(out_black + x^(1/gamma) x (out_white - out_black)) with x = (v - black) / (white - black) held "
                "to 0..1; an output black above the output white inverts. A channel's own setting acts first, the "
                "RGB setting on its result. Auto sets each channel's black and white so that 0.1 % of its pixels "
                "are clipped at each end."),
        Row(CommandId::Curves, adjust, "Curves...\tCtrl+M")
            .Keys({"Ctrl+M"})
            .PictureDialog<CCurvesDlg>()
            .PreviewDialog(&CCurvesDlg::Render)
            .Runs("Curves")
            .Help("Bends the tones along a curve through up to 8 points, for RGB and for each channel, drawn over the "
                  "histogram with a live preview. Click to add a point, drag to move it between its neighbours, drag "
                  "it far outside or right-click it to remove it; the two end points stay. Left of the first point and "
                  "right of the last the curve is flat; between points it is a monotone cubic (Fritsch-Carlson), "
                  "which never overshoots its points; each value is rounded to 0..255. A channel's own curve acts "
                  "first, the RGB curve on its result."),
        Row(CommandId::AutoLevels, adjust, "Auto Levels\tShift+Ctrl+L")
            .Keys({"Ctrl+Shift+L"})
            .Prompt("Stretch each colour channel to the full range")
            .Direct([](CImageProcessor& e) { AutoLevels(e, 0.1f); })
            .TableValues({0.1})
            .Runs("AutoLevels")
            .Help("Stretches each colour channel (red, green and blue separately) to the full range. For each channel "
                  "the low value is the smallest value v for which more than 0.1 % of the pixels have v or less, "
                  "the high value the largest v for which more than 0.1 % have v or more; low becomes 0, high 255 "
                  "and the values between are spread linearly, rounded to the nearest whole value (values below "
                  "low become 0, above high 255). A channel whose low is not below its high is left as it is. "
                  "Since the channels are stretched apart, a colour cast changes too."),
        Row(CommandId::AutoContrast, adjust, "Auto Contrast\tAlt+Shift+Ctrl+L")
            .Keys({"Ctrl+Alt+Shift+L"})
            .Prompt("Stretch the overall contrast without changing the colours")
            .Direct([](CImageProcessor& e) { AutoContrast(e, 0.1f); })
            .TableValues({0.1})
            .Runs("AutoContrast")
            .Help("Stretches the picture's overall contrast without changing its colours. The low and high values "
                  "are found as for Auto Levels (0.1 % of the pixels cut at each end), but once, from the "
                  "luminance (0.299 red + 0.587 green + 0.114 blue, rounded); the same linear stretch of low..high "
                  "to 0..255 is then applied to all three channels, so every grey stays grey. A picture whose low "
                  "is not below its high is left as it is."),
        Row(CommandId::AutoColor, adjust, "Auto Color\tShift+Ctrl+B")
            .Keys({"Ctrl+Shift+B"})
            .Toolbar(92, "auto_color")
            .Prompt("Auto Color")
            .Direct([](CImageProcessor& e) { e.AutoColor(); })
            .Runs("AutoColor")
            .Help("Equalizes each colour channel by its own histogram, which spreads its values evenly over the whole "
                  "range and also removes a colour cast."),
        Separator(adjust),
        Row(CommandId::ColorBalance, adjust, "Color Balance...\tCtrl+B")
            .Keys({"Ctrl+B"})
            .Dialog<CCBalanceDlg>()
            .PreviewDialog(&CCBalanceDlg::Render)
            .Runs("ColorBalance")
            .Help("Shifts the colours between cyan and red, magenta and green, yellow and blue with three sliders, "
                  "with a live preview in the window."),
        Row(CommandId::BrightnessContrast, adjust, "Brightness/Contrast...")
            .Dialog<CBCDlg>()
            .PreviewDialog(&CBCDlg::Render)
            .Runs("BrightnessContrast")
            .Help("Changes brightness and contrast with two sliders, with a live preview."),
        Row(CommandId::BlackAndWhite, adjust, "Black && White...\tAlt+Shift+Ctrl+B")
            .Keys({"Ctrl+Alt+Shift+B"})
            .Dialog<CBWDlg>()
            .PreviewDialog(&CBWDlg::Render)
            .Runs("BlackAndWhite")
            .Help("Turns the picture grey with your own mix of its red, green and blue channels, like a coloured "
                  "filter in front of black-and-white film. Presets give common mixes; Preserve Luminosity keeps the "
                  "three weights at 100 % together."),
        Row(CommandId::HueSaturation, adjust, "Hue/Saturation\tCtrl+U")
            .Keys({"Ctrl+U"})
            .ShowsProgress()
            .Dialog<CHueDlg>()
            .PreviewDialog(&CHueDlg::Render)
            .Runs("HueSaturation")
            .Help("Shifts the hue, scales the saturation and pushes the lightness toward white or black, with a live "
                  "preview."),
        Row(CommandId::Desaturate, adjust, "Desaturate\tShift+Ctrl+U")
            .Keys({"Ctrl+Shift+U"})
            .ShowsProgress()
            .Direct([](CImageProcessor& e) { e.HueSaturation(0.0f, 0.0f, 0.0f); })
            .TableValues({0, 0, 0})
            .Runs("HueSaturation")
            .Help("Removes all colour, leaving the lightness of every pixel as grey."),
        Separator(adjust),
        Row(CommandId::Invert, adjust, "Invert\tCtrl+I")
            .Keys({"Ctrl+I"})
            .Direct([](CImageProcessor& e) { e.Invert(); })
            .Runs("Invert")
            .Help("Turns the picture into its negative: every channel value v becomes 255 - v."),
        Row(CommandId::Equalize, adjust, "Equalize")
            .Toolbar(93, "equalize")
            .Prompt("Auto Contrast")
            .Tooltip("Equalize: spread the brightness evenly over the whole range")
            .Direct([](CImageProcessor& e) { e.Equalize(); })
            .Runs("Equalize")
            .Help("Spreads the picture's brightness values evenly over the whole range, using one histogram for all "
                  "three channels so that the colours keep their balance."),
        Row(CommandId::Threshold, adjust, "Threshold...")
            .Prompt("Turn every pixel black or white at a chosen level")
            .Dialog([](const CDialogRequest& r) -> std::unique_ptr<CParamDialog> {
                return std::make_unique<CThresholdDlg>(r.picture, r.parent, r.start);
            })
            .PreviewDialog(&CThresholdDlg::Render)
            .Runs("Threshold")
            .Help("Turns every pixel white (255, 255, 255) where its luminance (0.299 red + 0.587 green + 0.114 "
                  "blue, rounded) is at least the level, and black (0, 0, 0) elsewhere; level 0 makes the whole "
                  "picture white. The dialog shows the picture's luminance histogram with the level marked: click "
                  "or drag on it, or move the slider (0..255, starting at 128), with a live preview."),
        Row(CommandId::Posterize, adjust, "Posterize...")
            .Runs("Posterize")
            .Sliders("Posterize", {{"levels", "Levels:", CValueFormat::Plain()}}, {.everyNotification = true})
            // Opens where the effect shows rather than on the table's 256.
            .StartValues({{"levels", 10}})
            .PreviewDialog()
            .Help("Reduces every channel to a chosen number of levels, giving flat areas of colour, with a live "
                  "preview."),
        Separator(adjust),
        Row(CommandId::RedEyeReduction, adjust, "Red eye elimination")
            .Toolbar(91, "red_eye")
            .Prompt("Red eye reduction")
            .ShowsProgress()
            .Direct([](CImageProcessor& e) { e.RedEyeReduction(); })
            .Runs("RedEyeReduction")
            .Help("Removes the red glare that a flash leaves in eyes: pixels in strongly red surroundings get the mean "
                  "of their green and blue as red. Works on the whole picture, or only inside the selection."),
        Separator(adjust),
        Row(CommandId::Variations, adjust, "Variations...")
            .Dialog([](const CDialogRequest& r) -> std::unique_ptr<CParamDialog> {
                return std::make_unique<CVariationsDlg>(r.picture, r.parent, r.start);
            })
            // Closing on the original applies nothing.
            .OkDialog([](const CParamDialog& d) -> sequence::CEngineCall {
                const std::vector<double>& values = d.values();
                if (std::all_of(values.begin(), values.end(), [](double v) { return v == 0.0; })) return {};
                return [values](CImageProcessor& e) { CParamDialog::RenderByTable("Variations", e, values); };
            })
            .Runs("Variations")
            .Help("Shows the picture as nine thumbnails around the <b>Current Pick</b> in the middle: More Red, More "
                  "Green, More Blue, More Cyan, More Magenta, More Yellow, Lighter and Darker, each the current pick "
                  "with one more step of that change, and the <b>Original</b> beside them. A click on a thumbnail "
                  "makes it the current pick; a click on Original starts again from the unchanged picture. The "
                  "<b>Fine ... Coarse</b> slider sets the step (4, 8, 16, 32 or 64 levels). OK applies the pick in "
                  "one step: every channel value v becomes v + the channel's offset + the lightness offset, held to "
                  "0..255, where more cyan, magenta or yellow lowers red, green or blue. With the original picked, "
                  "OK changes nothing."),

        Row(CommandId::Duplicate, image, "Dublicate")
            .Prompt("Open a copy of the picture as a new document")
            .FrameView([](ICommandFrame& f, COrvexView& v) { f.Duplicate(v); })
            .Help("Opens a copy of the picture as it is now in a new document named after it (photo.jpg gives "
                  "\"photo copy\"), with its metadata and save options. The copy counts as unsaved, its undo "
                  "history starts at the copy, and Save asks for a name, proposing \"photo copy.jpg\" beside the "
                  "original. The original is left as it is."),
        Separator(image),
        Row(CommandId::ImageSize, image, "Image Size...\tAlt+Ctrl+I")
            .Keys({"Ctrl+Alt+I"})
            .SizeDialog<CImageSizeDlg>()
            .AfterDialog(CSequence::ValueDialog, &Resize)
            .Runs("ResizeImage")
            .Help("Scales the picture to a new width and height, keeping its proportions if asked, with nearest "
                  "neighbour, bilinear or liquid resampling. Liquid resizing removes or repeats the paths of pixels "
                  "with least detail, so that edges and textures keep their shape. Works on the whole picture and "
                  "clears the selection."),
        Row(CommandId::CanvasSize, image, "Canvas Size...\tAlt+Ctrl+C")
            .Keys({"Ctrl+Alt+C"})
            .SizeDialog<CCanvasSizeDlg>()
            // The same size applies nothing, whatever the anchor.
            .AfterDialog(CSequence::ValueDialog,
                         [](COrvexView& v, const CParamDialog& d, sequence::CRun run) {
                             const CImage& picture = v.document().picture();
                             if (d.value("width") == picture.width() && d.value("height") == picture.height()) return;
                             const std::vector<double> values = d.values();
                             sequence::Direct(
                                 v, [values](CImageProcessor& e) { CParamDialog::RenderByTable("CanvasSize", e, values); },
                                 run);
                         })
            .Runs("CanvasSize")
            .Help("Changes the size of the picture area without scaling the picture. It is placed at one of nine "
                  "anchors; added area takes the background colour, area that no longer fits is cut off. Works on "
                  "the whole picture and clears the selection."),
        Row(CommandId::CropToSelection, image, "Crop to Selection\tCtrl+Shift+X")
            .Keys({"Ctrl+Shift+X"})
            .Toolbar(63, "crop")
            .Prompt("Crop the picture to the selection")
            .View(CSequence::Direct,
                  [](COrvexView& v) {
                      const std::optional<CRegion>& selection = v.document().selection();
                      if (!selection) return;
                      const std::vector<double> values{double(selection->x), double(selection->y),
                                                       double(selection->width), double(selection->height)};
                      sequence::Direct(
                          v, [values](CImageProcessor& e) { CParamDialog::RenderByTable("Crop", e, values); });
                  })
            .EnabledWhen([](const COrvexView& v) { return v.document().selection().has_value(); })
            .Runs("Crop")
            .Help("Keeps only the selected rectangle: the picture becomes the selection, one step that Undo takes "
                  "back. Available while something is selected."),
        Row(CommandId::Rotate180, rotate, "180°")
            .StepName("Rotate 180°")
            .Direct([](CImageProcessor& e) { e.Rotate180(); })
            .WholePicture()
            .Runs("Rotate180")
            .Help("Turns the picture upside down. Works on the whole picture and clears the selection."),
        Row(CommandId::Rotate90CW, rotate, "90° CW")
            .StepName("Rotate 90° CW")
            .Toolbar(61, "rotate_cw")
            .Prompt("Rotate Clockwise")
            .Direct([](CImageProcessor& e) { e.Rotate90CW(); })
            .Runs("Rotate90CW")
            .Help("Turns the picture a quarter turn clockwise. Works on the whole picture and clears the selection."),
        Row(CommandId::Rotate90CCW, rotate, "90° CCW")
            .StepName("Rotate 90° CCW")
            .Toolbar(62, "rotate_ccw")
            .Prompt("Rotate Counterclockwise")
            .Direct([](CImageProcessor& e) { e.Rotate90CCW(); })
            .Runs("Rotate90CCW")
            .Help("Turns the picture a quarter turn counter-clockwise. Works on the whole picture and clears the "
                  "selection."),
        Row(CommandId::RotateArbitrary, rotate, "Arbitrary...")
            .StepName("Rotate Arbitrary")
            .Dialog<CRotateDlg>()
            .OkDialog()
            .NothingAtZero("angle")
            .Runs("RotateArbitrary")
            .Help("Turns the picture by any angle; the canvas grows to hold the whole picture and its new corners take "
                  "the background colour. Works on the whole picture and clears the selection."),
        Separator(rotate),
        Row(CommandId::FlipHorizontal, rotate, "Flip Canvas Horizontal")
            .Direct([](CImageProcessor& e) { e.FlipHorizontal(); })
            .WholePicture()
            .Runs("FlipHorizontal")
            .Help("Mirrors the whole picture left to right, even with a selection, which it clears."),
        Row(CommandId::FlipVertical, rotate, "Flip Canvas Vertical")
            .Direct([](CImageProcessor& e) { e.FlipVertical(); })
            .WholePicture()
            .Runs("FlipVertical")
            .Help("Mirrors the whole picture top to bottom, even with a selection, which it clears."),

        Row(CommandId::Average, "F&ilter/Blur", "Average")
            .Direct([](CImageProcessor& e) { e.Average(); })
            .Runs("Average")
            .Help("Replaces every pixel by the mean of its 3 x 3 neighbourhood."),
        Row(CommandId::Blur, "F&ilter/Blur", "Blur")
            .Prompt("Smooth")
            .ShowsProgress()
            .Direct([](CImageProcessor& e) { e.GaussianBlur(0.75f, 1); })
            .TableValues({0.75, 1})
            .Runs("GaussianBlur")
            .Help("A light Gaussian blur (radius 0.75)."),
        Row(CommandId::BlurMore, "F&ilter/Blur", "Blur more")
            .Toolbar(82, "blur_more")
            .Prompt("Smooth")
            .ShowsProgress()
            .Direct([](CImageProcessor& e) { e.GaussianBlur(1.5f, 1); })
            .TableValues({1.5, 1})
            .Runs("GaussianBlur")
            .Help("A stronger Gaussian blur (radius 1.5)."),
        Row(CommandId::GaussianBlur, "F&ilter/Blur", "Gaussian Blur...")
            .ShowsProgress()
            .ValueDialog()
            .NothingAtZero("radius")
            .Runs("GaussianBlur")
            .Dialog<CBlurDialog>("Gaussian Blur")
            .StartValues({{"radius", 0}})
            .Help("Blurs with a Gaussian bell of the chosen radius. Large radii are computed in the frequency domain "
                  "and show progress."),
        Row(CommandId::LensBlur, "F&ilter/Blur", "Lens Blur...")
            .ShowsProgress()
            .ValueDialog()
            .NothingAtZero("radius")
            .Runs("GaussianBlur")
            .Dialog<CBlurDialog>("Lens Blur")
            .StartValues({{"radius", 0}, {"gaussian", 0}})
            .Help("Blurs with a flat disc of the chosen radius, like an out-of-focus lens: bright points become "
                  "discs."),
        Row(CommandId::MotionBlur, "F&ilter/Blur", "Motion blur...")
            .ShowsProgress()
            .ValueDialog()
            .NothingAtZero("radius")
            .Runs("MotionBlur")
            .Dialog<CMotionBlurDlg>()
            .StartValues({{"radius", 0}})
            .Help("Smears the picture along a chosen angle, as a moving camera would."),
        Row(CommandId::TotalVariation, "F&ilter/Diffusion", "Total variation")
            .Worker(" Total variation:")
            .NothingAtZero("iterations")
            .Runs("TotalVariationDiffusion")
            .Dialog<CDiffusionDlg>("Total variation diffusion")
            .StartValues({{"iterations", 0}})
            .Help("Edge-preserving smoothing: each pass pulls every pixel toward the means of the 2 x 2 blocks around "
                  "it, except where a block's contrast is high. The dialog asks for the number of passes."),
        Row(CommandId::BalancedDiffusion, "F&ilter/Diffusion", "Balanced Forward-Backward")
            .Worker(" Balanced Forward-Backward:")
            .NothingAtZero("iterations")
            .Runs("BalancedDiffusion")
            .Dialog<CDiffusionDlg>("Balanced Forward-Backward diffusion")
            .StartValues({{"iterations", 0}})
            .Help("Like Total variation, but keeps strong edges sharper while flattening low-contrast areas."),
        Row(CommandId::AddNoise, "F&ilter/Noise", "Add noise...")
            .Dialog<CAddNoiseDlg>()
            .PreviewDialog(&CAddNoiseDlg::Render, &CAddNoiseDlg::Applies)
            .Runs("AddNoise")
            .Help("Adds uniform or Gaussian noise of a chosen amount, in colour or the same on all channels, with a "
                  "live preview."),
        Row(CommandId::Despeckle, "F&ilter/Noise", "Despeckle")
            .Direct([](CImageProcessor& e) { Despeckle(e, 2, 20); })
            .Runs("Despeckle")
            .TableValues({2, 20})
            .Help("Removes isolated specks while keeping edges and fine texture: in each channel, a value that "
                  "differs by more than 20 levels from the median of the 5 x 5 square around it becomes that "
                  "median; all other values stay. Beyond the picture's edges the edge pixels are repeated."),
        // The rank filters take seconds at large radii, so they run as worker commands: the window
        // keeps painting and Escape cancels.
        Row(CommandId::Median, "F&ilter/Noise", "Median...")
            .Worker(" Median filtering:")
            .Runs("RankFilter")
            .Dialog<CMedianDlg>("Median")
            .StartValues({{"radius", 1}})
            .Help("Replaces every channel value by the median of the square around it: removes specks and scratches "
                  "while keeping edges. Large radii take a while."),
        Row(CommandId::Bilateral, "F&ilter/Noise", "Bilateral...")
            .ShowsProgress()
            .Runs("Bilateral")
            .Sliders("Bilateral",
                     {{"radius", "Radius:", CValueFormat::Plain()}, {"sigma", "Sigma:", CValueFormat::Plain()}},
                     {.identity = {0, 30}})
            .PreviewDialog()
            .Help("Smooths while keeping edges, with a live preview: every pixel becomes the weighted mean of the "
                  "pixels within the radius, each weighted by exp(-distance^2 / (2 s^2)) with s = radius / 2, times "
                  "exp(-d^2 / (2 sigma^2)), where d is its colour difference from the centre pixel (the sum of the "
                  "blue, green and red differences). Beyond the picture's edges the edge pixels are repeated. Radius 0 "
                  "leaves the picture as it is."),
        Row(CommandId::Facet, "F&ilter/Pixelate", "Facet")
            .Direct([](CImageProcessor& e) { Facet(e, 1); })
            .Runs("Facet")
            .TableValues({1})
            .Help("Gives a hand-painted look: the pixels of the 3 x 3 square around each pixel are sorted into eight "
                  "classes of brightness (32 luminance levels each); the pixel becomes the mean colour of the most "
                  "frequent class (on a tie, the class nearest its own, then the darker)."),
        Row(CommandId::Fragment, "F&ilter/Pixelate", "Fragment")
            .Direct([](CImageProcessor& e) { Fragment(e, 4); })
            .Runs("Fragment")
            .TableValues({4})
            .Help("Overlays four copies of the picture shifted 4 pixels up, down, left and right: every channel "
                  "becomes the rounded mean of the four pixels 4 pixels away along the axes, the edge pixels "
                  "repeated beyond the picture's edges."),
        Row(CommandId::Mosaic, "F&ilter/Pixelate", "Mosaic...")
            .Runs("Mosaic")
            // Cells of one pixel reproduce the picture.
            .Sliders("Mosaic", {{"size", "Size:", CValueFormat::Plain()}}, {.everyNotification = true, .identity = {1}})
            .PreviewDialog()
            .Help("Turns the picture into square cells of one colour each, of a chosen size, with a live preview."),
        Row(CommandId::Clouds, "F&ilter/Render", "Clouds")
            .Direct([](CImageProcessor& e) { Clouds(e, 0.5f); })
            .TableValues({0.5})
            .Runs("Clouds")
            .Help("Replaces the picture with soft grey clouds between black and white: fractal noise whose coarsest "
                  "cells are a quarter of the picture's longer side, each finer layer twice as fine and half as "
                  "strong, down to single pixels. The coarse layers are worked out on coarser grids and enlarged "
                  "smoothly, which changes them by less than a grey; only the two finest are worked out at every "
                  "pixel. Each run draws new clouds (the batch tool's --seed repeats one). With a selection, only "
                  "the selected part changes, to the clouds the whole picture would get."),
        Row(CommandId::DifferenceClouds, "F&ilter/Render", "Difference Clouds")
            .Direct([](CImageProcessor& e) { DifferenceClouds(e, 0.5f); })
            .TableValues({0.5})
            .Runs("DifferenceClouds")
            .Help("Draws clouds as Clouds does and sets every channel of every pixel to the difference between "
                  "the picture and the cloud's grey, |value - cloud|: light clouds invert, dark ones leave the "
                  "picture nearly as it is. Running it again on the result gives marbled patterns."),
        Row(CommandId::LensFlare, "F&ilter/Render", "Lens Flare...")
            .ShowsProgress()
            .Dialog([](const CDialogRequest& r) -> std::unique_ptr<CParamDialog> {
                return std::make_unique<CLenseFlareDlg>(r.picture, r.parent, 0.0, r.start);
            })
            // Without a centre there is no flare to add.
            .OkDialog([](const CParamDialog& d) -> sequence::CEngineCall {
                const auto* flare = qobject_cast<const CLenseFlareDlg*>(&d);
                if (!flare || !flare->centreChosen()) return {};
                return [values = d.values()](CImageProcessor& e) {
                    CParamDialog::RenderByTable("LensFlare", e, values);
                };
            })
            .Runs("LensFlare")
            .Help("Adds the light artefacts of a camera lens pointed at a bright light: rays, a glow and a chain of "
                  "rings. Click the thumbnail to place the light and choose its brightness."),
        Row(CommandId::Sharpen, "F&ilter/Sharpen", "Sharpen")
            .Toolbar(81, "sharpen")
            .Prompt("Sharpen")
            .Direct([](CImageProcessor& e) { e.Sharpen(); })
            .Runs("Sharpen")
            .Help("Makes edges crisper with a small sharpening kernel."),
        Row(CommandId::UnsharpMask, "F&ilter/Sharpen", "Unsharp Mask...")
            .ShowsProgress()
            .OkDialog()
            .Runs("UnsharpMask")
            .Dialog<CUnsharpMaskDlg>()
            .StartValues({{"radius", 0}})
            .Help("Sharpens by adding back the difference between the picture and a blurred copy of the chosen "
                  "radius, scaled by the amount."),
        // One history step for both operations.
        Row(CommandId::FindEdges, "F&ilter/Stylize", "Find Edges")
            .Direct([](CImageProcessor& e) {
                e.FindEdges();
                if (!e.Failed()) e.Invert();
            })
            .Help("Draws the edges of the picture as dark lines on white."),
        Row(CommandId::Solarize, "F&ilter/Stylize", "Solarize")
            .Direct([](CImageProcessor& e) { e.Solarize(); })
            .Runs("Solarize")
            .Help("Inverts the channel values of 128 and above, as if the film had been exposed to light while "
                  "developing."),
        Row(CommandId::Custom, "F&ilter/Other", "Custom...")
            .Dialog<CCustomDlg>()
            .PreviewDialog(&CCustomDlg::Render)
            .Runs("CustomFilter")
            .Help("Filters with your own 5 x 5 kernel, scale and offset, with a live preview; settings can be saved "
                  "to and loaded from .ocf files."),
        Row(CommandId::HighPass, "F&ilter/Other", "Hight Pass...")
            .ShowsProgress()
            // The dialog's values are the blur's; the radius is the one they share.
            .ValueDialog([](const CParamDialog& d) -> sequence::CEngineCall {
                return [radius = static_cast<float>(d.value("radius"))](CImageProcessor& e) { e.HighPass(radius); };
            })
            .NothingAtZero("radius")
            .Runs("HighPass")
            .Dialog<CBlurDialog>("High Pass")
            .StartValues({{"radius", 0}})
            .Help("Keeps the fine detail and removes the broad shading: the picture minus a blurred copy of the "
                  "chosen radius, around mid grey."),
        Row(CommandId::Maximum, "F&ilter/Other", "Maximum...")
            .Worker(" Maximum filtering:")
            .Runs("RankFilter")
            .Dialog<CMedianDlg>("Maximum")
            .StartValues({{"radius", 1}, {"mode", 1}})
            .Help("Replaces every channel value by the largest in the square around it: light areas grow."),
        Row(CommandId::Minimum, "F&ilter/Other", "Minimum...")
            .Worker(" Minimum filtering:")
            .Runs("RankFilter")
            .Dialog<CMedianDlg>("Minimum")
            .StartValues({{"radius", 1}, {"mode", -1}})
            .Help("Replaces every channel value by the smallest in the square around it: dark areas grow."),
        Row(CommandId::Offset, "F&ilter/Other", "Offset...")
            .SizeDialog<COffsetDlg>()
            .PreviewDialog(&COffsetDlg::Render)
            .Runs("Offset")
            .Help("Shifts the picture by whole pixels, filling the uncovered area with the background colour, the "
                  "repeated edge, or the part that was shifted out, with a live preview."),
        Separator("F&ilter"),
        Row(CommandId::ObtainGrid, "F&ilter", "Obtain Grid")
            .Direct([](CImageProcessor& e) { e.ObtainGrid(); })
            .Runs("ObtainGrid")
            .Help("Blackens every second row of the picture for a line-screen look."),
        Row(CommandId::Sign, "F&ilter", "Sign")
            .Signature([](CImageProcessor& e) { return e.Sign(); })
            .Runs("Sign")
            .Help("Stamps the signature into the bottom-right corner, darker on a light background and lighter on a "
                  "dark one."),

        // The size presets exist only as toolbar buttons.
        Row(CommandId::Size640, "", "640x480")
            .Toolbar(71, "size_640")
            .Prompt("640x480")
            .Direct(SizePreset(640, 480))
            .Runs("ResizeImage")
            .Help("Scales the picture to 640 pixels wide (480 if it is not wider than high), keeping its proportions. "
                  "Works on the whole picture and clears the selection."),
        Row(CommandId::Size1024, "", "1024x768")
            .Toolbar(72, "size_1024")
            .Prompt("1024x768")
            .Direct(SizePreset(1024, 768))
            .Runs("ResizeImage")
            .Help("Scales the picture to 1024 pixels wide (768 if it is not wider than high), keeping its "
                  "proportions. Works on the whole picture and clears the selection."),
        Row(CommandId::Size1600, "", "1600x1200")
            .Toolbar(73, "size_1600")
            .Prompt("1600x1200")
            .Direct(SizePreset(1600, 1200))
            .Runs("ResizeImage")
            .Help("Scales the picture to 1600 pixels wide (1200 if it is not wider than high), keeping its "
                  "proportions. Works on the whole picture and clears the selection."),

        Row(CommandId::WindowNew, window, "&New Window")
            .Prompt("Open another window for the active document")
            .FrameView([](ICommandFrame& f, COrvexView& v) { f.NewWindow(v); })
            .Help("Opens another window on the active document, with its own zoom. The windows of one document are "
                  "numbered in their captions: photo.jpg:1, photo.jpg:2."),
        Row(CommandId::WindowCascade, window, "&Cascade")
            .Prompt("Arrange windows so they overlap")
            .Frame([](ICommandFrame& f) { f.Cascade(); })
            .Help("Arranges the document windows so that they overlap, each a little below and right of the one "
                  "before, keeping their sizes inside the work area."),
        Row(CommandId::WindowTile, window, "&Tile")
            .Prompt("Arrange windows as non-overlapping tiles")
            .Frame([](ICommandFrame& f) { f.Tile(); })
            .Help("Arranges the document windows side by side without overlap."),
        Row(CommandId::WindowArrange, window, "&Arrange Icons")
            .Prompt("Arrange icons at the bottom of the window")
            .Frame([](ICommandFrame& f) { f.ArrangeIcons(); })
            .Help("Lines up minimized document windows along the bottom of the work area."),

        Row(CommandId::HelpTopics, help, "&Help Topics")
            .Prompt("List Help topics")
            .NoDocumentMenu()
            .Frame([](ICommandFrame& f) { f.ShowHelp(CommandId::None); })
            .Help("Shows this page."),
        Separator(help, true),
        Row(CommandId::AppAbout, help, "&About Orvex...")
            .Toolbar(32, "about")
            .Prompt("Display program information and version")
            .NoDocumentMenu()
            .Frame([](ICommandFrame& f) { f.ShowAbout(); })
            .Help("Shows the version of Orvex and its web address."),
        Row(CommandId::Help, "", "Help")
            .Keys({"F1"})
            .Prompt("Display help for the current task")
            .Frame([](ICommandFrame& f) { f.ShowHelp(CommandId::None); })
            .Help("Shows this page."),
        Row(CommandId::ContextHelp, "", "Help")
            .Keys({"Shift+F1"})
            .Toolbar(33, "help")
            .Prompt("Display help for clicked on buttons, menus and windows")
            .Frame([](ICommandFrame& f) { f.EnterContextHelp(); })
            .Help("Context help: the pointer changes, and the next command clicked or chosen shows its description "
                  "here instead of running. Escape leaves context help."),
        // There are no split panes to move between.
        Row(CommandId::NextPane, "", "Next Pane")
            .Keys({"F6"})
            .Pending(kPending)
            .Help("Not available: document windows have no panes."),
        Row(CommandId::PreviousPane, "", "Previous Pane")
            .Keys({"Shift+F6"})
            .Pending(kPending)
            .Help("Not available: document windows have no panes."),
    };
}

} // namespace

const std::vector<CCommand>& CommandTable()
{
    static const std::vector<CCommand> table = BuildTable();
    return table;
}

const CCommand* FindCommand(CommandId id)
{
    for (const CCommand& c : CommandTable())
        if (c.kind == CCommand::Kind::Command && c.id == id) return &c;
    return nullptr;
}

QString PlainCaption(const QString& caption)
{
    QString text = caption.section(QLatin1Char('\t'), 0, 0);
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return text;
}

QString CommandHelp(CommandId id)
{
    for (const CCommand& c : CommandTable())
        if (c.kind != CCommand::Kind::Separator && c.id == id) return c.help;
    return {};
}

std::vector<CDialogSweepEntry> DialogSweepList()
{
    std::vector<CDialogSweepEntry> list;
    for (const CCommand& c : CommandTable()) {
        if (!c.dialog) continue;
        list.push_back({PlainCaption(c.caption), [make = c.dialog, start = c.startValues](const CImage& picture) {
                            return make({picture, nullptr, start});
                        }});
    }
    return list;
}
