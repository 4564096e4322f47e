#include "shell/command_table.h"

#include "core/image_processor.h"
#include "core/orvex_doc.h"
#include "dialogs/blur_dialog.h"
#include "dialogs/custom_dlg.h"
#include "dialogs/diffusion_dlg.h"
#include "dialogs/median_dlg.h"
#include "dialogs/motion_blur_dlg.h"
#include "dialogs/bc_dlg.h"
#include "dialogs/bw_dlg.h"
#include "dialogs/canvas_size_dlg.h"
#include "dialogs/image_size_dlg.h"
#include "dialogs/offset_dlg.h"
#include "dialogs/rotate_dlg.h"
#include "dialogs/cbalance_dlg.h"
#include "dialogs/hue_dlg.h"
#include "dialogs/param_dialog.h"
#include "dialogs/posterize_dlg.h"
#include "dialogs/add_noise_dlg.h"
#include "dialogs/lense_flare_dlg.h"
#include "dialogs/mosaic_dlg.h"
#include "dialogs/unsharp_mask_dlg.h"
#include "shell/command_sequences.h"
#include "shell/main_frame.h"
#include "shell/orvex_view.h"
#include "core/orvex_doc.h"


#include <algorithm>
#include <memory>
#include <optional>

namespace {

// Builds one row; reads like the menu resource it replaces.
class Row
{
public:
    Row(int id, const char* menu, const char* caption)
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
    Row& NoDocumentMenu() { m_c.noDocumentMenu = true; return *this; }
    Row& Checkable() { m_c.checkable = true; return *this; }
    // Handled by the frame or the application (the toolkit's commands).
    Row& Frame(std::function<void(CMainFrame&)> handler)
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
    Row& FrameView(std::function<void(CMainFrame&, COrvexView&)> handler)
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
        return ViewRun(CSequence::Direct,
                       [call = std::move(call)](COrvexView& v, sequence::CRun run) { sequence::Direct(v, call, run); });
    }
    Row& Signature(std::function<int(CImageProcessor&)> sign)
    {
        return View(CSequence::Signature, [sign = std::move(sign)](COrvexView& v) { sequence::Signature(v, sign); });
    }
    // `ask` runs the dialog and returns the call its values decide on, or nothing.
    Row& ValueDialog(std::function<sequence::CEngineCall(COrvexView&)> ask)
    {
        return ViewRun(CSequence::ValueDialog,
                       [ask = std::move(ask)](COrvexView& v, sequence::CRun run) { sequence::Asked(v, ask, run); });
    }
    Row& OkDialog(std::function<sequence::CEngineCall(COrvexView&)> ask)
    {
        return ViewRun(CSequence::OkDialog,
                       [ask = std::move(ask)](COrvexView& v, sequence::CRun run) { sequence::Asked(v, ask, run); });
    }
    // `make` builds the dialog for the view; `render` is both the preview and the final call.
    Row& PreviewDialog(std::function<std::unique_ptr<CParamDialog>(COrvexView&)> make, CPreviewRenderer::Render render,
                       sequence::CApplies applies = {})
    {
        return ViewRun(CSequence::PreviewDialog, [make = std::move(make), render = std::move(render),
                                                  applies = std::move(applies)](COrvexView& v, sequence::CRun run) {
            const std::unique_ptr<CParamDialog> dialog = make(v);
            if (dialog) sequence::Preview(v, *dialog, render, applies, run);
        });
    }
    // `ask` runs the dialog and returns the value `call` takes (an iteration count, a radius); 0 stops
    // before the worker starts.
    Row& Worker(std::function<int(COrvexView&)> ask, const char* label, std::function<void(CImageProcessor&, int)> call)
    {
        return View(CSequence::Worker, [ask = std::move(ask), label = QString::fromUtf8(label),
                                        call = std::move(call)](COrvexView& v) {
            const int iterations = ask(v);
            if (iterations != 0) sequence::Worker(v, label, [&call, iterations](CImageProcessor& e) { call(e, iterations); });
        });
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
        c.onWorker = m_c.sequence == CSequence::Worker || (m_viewHandler && m_run == sequence::CRun::Worker);
        if (m_viewHandler)
            c.handler = [handler = m_viewHandler, run = m_run](CCommandTarget& t) {
                if (t.view) handler(*t.view, run);
            };
        return c;
    }

private:
    // The handler is put together last, so that .ShowsProgress() may come anywhere in the row.
    Row& ViewRun(CSequence sequence, std::function<void(COrvexView&, sequence::CRun)> handler)
    {
        m_c.sequence = sequence;
        m_c.needsView = true;
        m_viewHandler = std::move(handler);
        return *this;
    }

    CCommand m_c;
    std::function<void(COrvexView&, sequence::CRun)> m_viewHandler;
    sequence::CRun m_run = sequence::CRun::Here;
};

CCommand Separator(const char* menu, bool noDocumentMenu = false)
{
    CCommand c;
    c.kind = CCommand::Kind::Separator;
    c.menu = QString::fromUtf8(menu);
    c.noDocumentMenu = noDocumentMenu;
    return c;
}

CCommand RecentFiles(const char* menu)
{
    CCommand c;
    c.kind = CCommand::Kind::RecentFiles;
    c.menu = QString::fromUtf8(menu);
    c.noDocumentMenu = true;
    return c;
}

constexpr auto kPending = CSequence::None;

// "Image Size...": the liquid method runs on a worker, so that the window keeps painting and
// Escape can stop it; the others run directly.
void ResizeCommand(COrvexView& view)
{
    const CImage& picture = view.document().picture();
    CImageSizeDlg dialog(picture.width(), picture.height(), &view);
    dialog.exec();
    const int w = dialog.resultWidth();
    const int h = dialog.resultHeight();
    if (w == picture.width() && h == picture.height()) return;
    const char method = dialog.method();
    const sequence::CEngineCall call = [w, h, method](CImageProcessor& e) { e.ResizeImage(w, h, method); };
    if (method == 'l') sequence::Worker(view, QStringLiteral(" Liquid resizing:"), call);
    else sequence::Direct(view, call);
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
        Row(57600, file, "&New\tCtrl+N").Keys({"Ctrl+N"}).Toolbar(11, "new").Prompt("Create a new document").NoDocumentMenu(),
        Row(57601, file, "&Open...\tCtrl+O").Keys({"Ctrl+O"}).Toolbar(12, "open").Prompt("Open an existing document")
            .NoDocumentMenu().Frame([](CMainFrame& f) { f.OnFileOpen(); }),
        Row(57602, file, "&Close").Keys({"Ctrl+W"}).Prompt("Close the active document").NoDocumentMenu()
            .FrameView([](CMainFrame& f, COrvexView& v) { f.CloseDocument(v); }),
        Row(57603, file, "&Save\tCtrl+S").Keys({"Ctrl+S"}).Toolbar(13, "save").Prompt("Save the active document")
            .FrameView([](CMainFrame& f, COrvexView& v) { f.Save(v); }),
        Row(57604, file, "Save &As...").Keys({"Ctrl+Shift+S"}).Prompt("Save the active document with a new name")
            .FrameView([](CMainFrame& f, COrvexView& v) { f.SaveAs(v); }),
        Separator(file),
        Row(57607, file, "&Print...\tCtrl+P").Keys({"Ctrl+P"}).Toolbar(31, "print").Prompt("Print the active document")
            .FrameView([](CMainFrame& f, COrvexView& v) { f.Print(v); }),
        Row(57609, file, "Print Pre&view").Prompt("Display full pages")
            .FrameView([](CMainFrame& f, COrvexView& v) { f.PrintPreview(v); }),
        Row(57606, file, "P&rint Setup...").Prompt("Change the printer and printing options").NoDocumentMenu()
            .Frame([](CMainFrame& f) { f.PrintSetup(); }),
        Separator(file, true),
        RecentFiles(file),
        Separator(file, true),
        Row(57665, file, "E&xit").Prompt("Quit the application; prompts to save documents").NoDocumentMenu()
            .Frame([](CMainFrame& f) { f.close(); }),

        Row(57643, edit, "&Undo\tCtrl+Z").Keys({"Ctrl+Z", "Alt+Backspace"}).Toolbar(41, "undo").Prompt("Undo the last action")
            .View(CSequence::View, [](COrvexView& v) { sequence::Undo(v); }).EnabledWhen(&sequence::CanUndo),
        Row(57644, edit, "&Redo\tCtrl+Y").Keys({"Ctrl+Y"}).Toolbar(42, "redo").Prompt("Redo the previously undone action")
            .View(CSequence::View, [](COrvexView& v) { sequence::Redo(v); }).EnabledWhen(&sequence::CanRedo),
        Separator(edit),
        Row(57635, edit, "Cu&t\tCtrl+X").Keys({"Ctrl+X", "Shift+Del"}).Toolbar(21, "cut")
            .Prompt("Cut the selection and put it on the Clipboard").Pending(kPending),
        Row(57634, edit, "&Copy\tCtrl+C").Keys({"Ctrl+C", "Ctrl+Ins"}).Toolbar(22, "copy")
            .Prompt("Copy the selection and put it on the Clipboard").Pending(kPending),
        Row(57637, edit, "&Paste\tCtrl+V").Keys({"Ctrl+V", "Shift+Ins"}).Toolbar(23, "paste")
            .Prompt("Insert Clipboard contents").Pending(kPending),

        Row(59392, view, "&Toolbar").Prompt("Show or hide the toolbar").NoDocumentMenu().Checkable()
            .Frame([](CMainFrame& f) { f.ToggleToolbar(); }),
        Row(59393, view, "&Status Bar").Prompt("Show or hide the status bar").NoDocumentMenu().Checkable()
            .Frame([](CMainFrame& f) { f.ToggleStatusBar(); }),
        Separator(view),
        Row(32772, view, "&Zoom in").Keys({"Shift+Z", "Ctrl++", "Ctrl+="}).Toolbar(51, "zoom_in").Prompt("Zoom in on image")
            .View(CSequence::View, [](COrvexView& v) { v.ZoomIn(); }),
        Row(32773, view, "Zoom &out").Keys({"Shift+O", "Ctrl+-"}).Toolbar(52, "zoom_out").Prompt("Zoom out on image")
            .View(CSequence::View, [](COrvexView& v) { v.ZoomOut(); }),
        Row(32774, view, "Zoom 100%").Keys({"Ctrl+0"}).Toolbar(53, "zoom_100").Prompt("Zoom 100% on image")
            .View(CSequence::View, [](COrvexView& v) { v.Zoom100(); }),

        Row(32876, adjust, "Auto Levels\tShift+Ctrl+L").Pending(kPending),
        Row(32875, adjust, "Auto Contrast\tAlt+Shift+Ctrl+L").Pending(kPending),
        Row(32812, adjust, "Auto Color\tShift+Ctrl+B").Keys({"Ctrl+Shift+B"}).Toolbar(92, "auto_color")
            .Prompt("Auto Color").Direct([](CImageProcessor& e) { e.AutoColor(); }),
        Separator(adjust),
        Row(32836, adjust, "Color Balance...\tCtrl+B").Keys({"Ctrl+B"})
            .PreviewDialog([](COrvexView& v) { return std::make_unique<CCBalanceDlg>(&v); }, &CCBalanceDlg::Render),
        Row(32810, adjust, "Brightness/Contrast...")
            .PreviewDialog([](COrvexView& v) { return std::make_unique<CBCDlg>(&v); }, &CBCDlg::Render),
        Row(32869, adjust, "Black && White...\tAlt+Shift+Ctrl+B").Keys({"Ctrl+Alt+Shift+B"})
            .PreviewDialog([](COrvexView& v) { return std::make_unique<CBWDlg>(&v); }, &CBWDlg::Render),
        Row(32868, adjust, "Hue/Saturation\tCtrl+U").Keys({"Ctrl+U"}).ShowsProgress()
            .PreviewDialog([](COrvexView& v) { return std::make_unique<CHueDlg>(&v); }, &CHueDlg::Render),
        Row(32809, adjust, "Desaturate\tShift+Ctrl+U").Keys({"Ctrl+Shift+U"}).ShowsProgress()
            .Direct([](CImageProcessor& e) { e.HueSaturation(0.0f, 0.0f, 0.0f); }),
        Separator(adjust),
        Row(32793, adjust, "Invert\tCtrl+I").Keys({"Ctrl+I"}).Direct([](CImageProcessor& e) { e.Invert(); }),
        Row(32811, adjust, "Equalize").Toolbar(93, "equalize").Prompt("Auto Contrast")
            .Tooltip("Equalize: spread the brightness evenly over the whole range")
            .Direct([](CImageProcessor& e) { e.Equalize(); }),
        Row(32855, adjust, "Threshold...").Pending(kPending),
        Row(32854, adjust, "Posterize...")
            .PreviewDialog([](COrvexView& v) { return std::make_unique<CPosterizeDlg>(&v); }, &CPosterizeDlg::Render),
        Separator(adjust),
        Row(32826, adjust, "Red eye elimination").Toolbar(91, "red_eye").Prompt("Red eye reduction").ShowsProgress()
            .Direct([](CImageProcessor& e) { e.RedEyeReduction(); }),
        Separator(adjust),
        Row(32853, adjust, "Variations...").Pending(kPending),

        Row(32850, image, "Dublicate").Pending(kPending),
        Separator(image),
        Row(32802, image, "Image Size...\tAlt+Ctrl+I").Keys({"Ctrl+Alt+I"}).View(CSequence::ValueDialog, &ResizeCommand),
        Row(32803, image, "Canvas Size...\tAlt+Ctrl+C").Keys({"Ctrl+Alt+C"}).ValueDialog([](COrvexView& v) -> sequence::CEngineCall {
            const CImage& picture = v.document().picture();
            CCanvasSizeDlg dialog(picture.width(), picture.height(), &v);
            dialog.exec();
            if (dialog.resultWidth() == picture.width() && dialog.resultHeight() == picture.height()) return {};
            return [w = dialog.resultWidth(), h = dialog.resultHeight(), a = dialog.anchor()](CImageProcessor& e) {
                e.CanvasSize(w, h, a);
            };
        }),
        Row(32797, rotate, "180°").Direct([](CImageProcessor& e) { e.Rotate180(); }),
        Row(32798, rotate, "90° CW").Toolbar(61, "rotate_cw").Prompt("Rotate Clockwise")
            .Direct([](CImageProcessor& e) { e.Rotate90CW(); }),
        Row(32799, rotate, "90° CCW").Toolbar(62, "rotate_ccw").Prompt("Rotate Counterclockwise")
            .Direct([](CImageProcessor& e) { e.Rotate90CCW(); }),
        Row(32834, rotate, "Arbitrary...").OkDialog([](COrvexView& v) -> sequence::CEngineCall {
            const std::optional<float> angle = CRotateDlg::Ask(&v);
            if (!angle || *angle == 0.0f) return {};
            return [a = *angle](CImageProcessor& e) { e.RotateArbitrary(a); };
        }),
        Separator(rotate),
        Row(32800, rotate, "Flip Canvas Horizontal").Direct([](CImageProcessor& e) { e.FlipHorizontal(); }),
        Row(32801, rotate, "Flip Canvas Vertical").Direct([](CImageProcessor& e) { e.FlipVertical(); }),

        Row(32784, "F&ilter/Blur", "Average").Direct([](CImageProcessor& e) { e.Average(); }),
        Row(32785, "F&ilter/Blur", "Blur").Prompt("Smooth").ShowsProgress()
            .Direct([](CImageProcessor& e) { e.GaussianBlur(0.75f, 1); }),
        Row(32786, "F&ilter/Blur", "Blur more").Toolbar(82, "blur_more").Prompt("Smooth").ShowsProgress()
            .Direct([](CImageProcessor& e) { e.GaussianBlur(1.5f, 1); }),
        Row(32783, "F&ilter/Blur", "Gaussian Blur...").ShowsProgress().ValueDialog([](COrvexView& v) -> sequence::CEngineCall {
            const float radius = CBlurDialog::AskRadius(QStringLiteral("Gaussian Blur"), &v);
            if (radius == 0.0f) return {};
            return [radius](CImageProcessor& e) { e.GaussianBlur(radius, 1); };
        }),
        Row(32835, "F&ilter/Blur", "Lens Blur...").ShowsProgress().ValueDialog([](COrvexView& v) -> sequence::CEngineCall {
            const float radius = CBlurDialog::AskRadius(QStringLiteral("Lens Blur"), &v);
            if (radius == 0.0f) return {};
            return [radius](CImageProcessor& e) { e.GaussianBlur(radius, 0); };
        }),
        Row(32788, "F&ilter/Blur", "Motion blur...").ShowsProgress().ValueDialog([](COrvexView& v) -> sequence::CEngineCall {
            const CMotionBlurDlg::CResult motion = CMotionBlurDlg::Ask(&v);
            if (motion.radius == 0.0f) return {};
            return [motion](CImageProcessor& e) { e.MotionBlur(motion.angle, motion.radius); };
        }),
        Row(32816, "F&ilter/Diffusion", "Total variation")
            .Worker([](COrvexView& v) { return CDiffusionDlg::AskIterations(QStringLiteral("Total variation diffusion"), &v); },
                    " Total variation:", [](CImageProcessor& e, int n) { e.TotalVariationDiffusion(n); }),
        Row(32817, "F&ilter/Diffusion", "Balanced Forward-Backward")
            .Worker([](COrvexView& v) {
                return CDiffusionDlg::AskIterations(QStringLiteral("Balanced Forward-Backward diffusion"), &v);
            }, " Balanced Forward-Backward:", [](CImageProcessor& e, int n) { e.BalancedDiffusion(n); }),
        Row(32790, "F&ilter/Noise", "Add noise...")
            .PreviewDialog([](COrvexView& v) { return std::make_unique<CAddNoiseDlg>(&v); }, &CAddNoiseDlg::Render,
                           &CAddNoiseDlg::Applies),
        Row(32860, "F&ilter/Noise", "Despeckle").Pending(kPending),
        // The rank filters take seconds at large radii, so they run as worker commands: the window
        // keeps painting and Escape cancels.
        Row(32791, "F&ilter/Noise", "Median...")
            .Worker([](COrvexView& v) { return CMedianDlg::AskRadius(QStringLiteral("Median"), &v); },
                    " Median filtering:", [](CImageProcessor& e, int r) { e.RankFilter(r, 0); }),
        Row(32842, "F&ilter/Noise", "Bilateral...").Pending(kPending),
        Row(32862, "F&ilter/Pixelate", "Facet").Pending(kPending),
        Row(32863, "F&ilter/Pixelate", "Fragment").Pending(kPending),
        Row(32864, "F&ilter/Pixelate", "Mosaic...")
            .PreviewDialog([](COrvexView& v) { return std::make_unique<CMosaicDlg>(&v); }, &CMosaicDlg::Render),
        Row(32865, "F&ilter/Render", "Clouds").Pending(kPending),
        Row(32866, "F&ilter/Render", "Difference Clouds").Pending(kPending),
        Row(32838, "F&ilter/Render", "Lens Flare...").ShowsProgress().OkDialog([](COrvexView& v) -> sequence::CEngineCall {
            const std::optional<CLenseFlareDlg::CResult> flare = CLenseFlareDlg::Ask(v.document().picture(), &v);
            if (!flare) return {};
            return [flare = *flare](CImageProcessor& e) { e.LensFlare(flare.x, flare.y, flare.brightness); };
        }),
        Row(32814, "F&ilter/Sharpen", "Sharpen").Toolbar(81, "sharpen").Prompt("Sharpen")
            .Direct([](CImageProcessor& e) { e.Sharpen(); }),
        Row(32839, "F&ilter/Sharpen", "Unsharp Mask...").ShowsProgress().OkDialog([](COrvexView& v) -> sequence::CEngineCall {
            const std::optional<CUnsharpMaskDlg::CResult> mask = CUnsharpMaskDlg::Ask(&v);
            if (!mask) return {};
            const float amount = static_cast<float>(mask->amount / 100.0);
            return [radius = mask->radius, amount](CImageProcessor& e) { e.UnsharpMask(radius, amount); };
        }),
        // One history step for both operations.
        Row(32841, "F&ilter/Stylize", "Find Edges").Direct([](CImageProcessor& e) {
            e.FindEdges();
            if (!e.Failed()) e.Invert();
        }),
        Row(32867, "F&ilter/Stylize", "Solarize").Direct([](CImageProcessor& e) { e.Solarize(); }),
        Row(32845, "F&ilter/Other", "Custom...")
            .PreviewDialog([](COrvexView& v) { return std::make_unique<CCustomDlg>(&v); }, &CCustomDlg::Render),
        Row(32846, "F&ilter/Other", "Hight Pass...").ShowsProgress().ValueDialog([](COrvexView& v) -> sequence::CEngineCall {
            const float radius = CBlurDialog::AskRadius(QStringLiteral("High Pass"), &v);
            if (radius == 0.0f) return {};
            return [radius](CImageProcessor& e) { e.HighPass(radius); };
        }),
        Row(32847, "F&ilter/Other", "Maximum...")
            .Worker([](COrvexView& v) { return CMedianDlg::AskRadius(QStringLiteral("Maximum"), &v); },
                    " Maximum filtering:", [](CImageProcessor& e, int r) { e.RankFilter(r, 1); }),
        Row(32848, "F&ilter/Other", "Minimum...")
            .Worker([](COrvexView& v) { return CMedianDlg::AskRadius(QStringLiteral("Minimum"), &v); },
                    " Minimum filtering:", [](CImageProcessor& e, int r) { e.RankFilter(r, -1); }),
        Row(32849, "F&ilter/Other", "Offset...").PreviewDialog([](COrvexView& v) {
            const CImage& picture = v.document().picture();
            return std::make_unique<COffsetDlg>(picture.width(), picture.height(), &v);
        }, &COffsetDlg::Render),
        Separator("F&ilter"),
        Row(32833, "F&ilter", "Obtain Grid").Direct([](CImageProcessor& e) { e.ObtainGrid(); }),
        Row(32844, "F&ilter", "Sign").Signature([](CImageProcessor& e) { return e.Sign(); }),

        // The size presets exist only as toolbar buttons.
        Row(32821, "", "640x480").Toolbar(71, "size_640").Prompt("640x480").Direct(SizePreset(640, 480)),
        Row(32822, "", "1024x768").Toolbar(72, "size_1024").Prompt("1024x768").Direct(SizePreset(1024, 768)),
        Row(32823, "", "1600x1200").Toolbar(73, "size_1600").Prompt("1600x1200").Direct(SizePreset(1600, 1200)),

        Row(57648, window, "&New Window").Prompt("Open another window for the active document")
            .FrameView([](CMainFrame& f, COrvexView& v) { f.NewWindow(v); }),
        Row(57650, window, "&Cascade").Prompt("Arrange windows so they overlap").Frame([](CMainFrame& f) { f.Cascade(); }),
        Row(57651, window, "&Tile").Prompt("Arrange windows as non-overlapping tiles").Frame([](CMainFrame& f) { f.Tile(); }),
        Row(57649, window, "&Arrange Icons").Prompt("Arrange icons at the bottom of the window")
            .Frame([](CMainFrame& f) { f.ArrangeIcons(); }),

        Row(57667, help, "&Help Topics").Prompt("List Help topics").NoDocumentMenu().Frame([](CMainFrame& f) { f.ShowHelp(); }),
        Separator(help, true),
        Row(57664, help, "&About Orvex...").Toolbar(32, "about").Prompt("Display program information and version")
            .NoDocumentMenu().Frame([](CMainFrame& f) { f.ShowAbout(); }),
        Row(57670, "", "Help").Keys({"F1"}).Prompt("Display help for the current task").Frame([](CMainFrame& f) { f.ShowHelp(); }),
        Row(57669, "", "Help").Keys({"Shift+F1"}).Toolbar(33, "help")
            .Prompt("Display help for clicked on buttons, menus and windows").Frame([](CMainFrame& f) { f.EnterContextHelp(); }),
        // There are no split panes to move between.
        Row(57680, "", "Next Pane").Keys({"F6"}).Pending(kPending),
        Row(57681, "", "Previous Pane").Keys({"Shift+F6"}).Pending(kPending),
    };
}

} // namespace

const std::vector<CCommand>& CommandTable()
{
    static const std::vector<CCommand> table = BuildTable();
    return table;
}

const CCommand* FindCommand(int id)
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
