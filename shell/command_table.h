#pragma once

#include "dialogs/param_dialog.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CDocumentHost;
class CImage;
class COrvexView;
class CParamDialog;
class QWidget;

// Every command's number, the only place the numbers are written. They are the numbers the
// commands have always had, so that help anchors and tests keep meaning the same command.
enum class CommandId : int {
    None = 0,
    FileNew = 57600,
    FileOpen = 57601,
    FileNewFromClipboard = 32880,
    FileClose = 57602,
    FileSave = 57603,
    FileSaveAs = 57604,
    FilePrint = 57607,
    FilePrintPreview = 57609,
    FilePrintSetup = 57606,
    RecentFiles = 57616,
    AppExit = 57665,
    EditUndo = 57643,
    EditRedo = 57644,
    EditCut = 57635,
    EditCopy = 57634,
    EditPaste = 57637,
    EditSelectAll = 32871,
    EditDeselect = 32872,
    ViewToolbar = 59392,
    ViewStatusBar = 59393,
    ZoomIn = 32772,
    ZoomOut = 32773,
    Zoom100 = 32774,
    ViewFitInWindow = 32890,
    ViewFitOnScreen = 32891,
    ViewHistogram = 32879,
    Levels = 32877,
    Curves = 32878,
    AutoLevels = 32876,
    AutoContrast = 32875,
    AutoColor = 32812,
    ColorBalance = 32836,
    BrightnessContrast = 32810,
    BlackAndWhite = 32869,
    HueSaturation = 32868,
    Desaturate = 32809,
    Invert = 32793,
    Equalize = 32811,
    Threshold = 32855,
    Posterize = 32854,
    RedEyeReduction = 32826,
    Variations = 32853,
    Duplicate = 32850,
    ImageSize = 32802,
    CanvasSize = 32803,
    CropToSelection = 32870,
    Rotate180 = 32797,
    Rotate90CW = 32798,
    Rotate90CCW = 32799,
    RotateArbitrary = 32834,
    FlipHorizontal = 32800,
    FlipVertical = 32801,
    Average = 32784,
    Blur = 32785,
    BlurMore = 32786,
    GaussianBlur = 32783,
    LensBlur = 32835,
    MotionBlur = 32788,
    TotalVariation = 32816,
    BalancedDiffusion = 32817,
    AddNoise = 32790,
    Despeckle = 32860,
    Median = 32791,
    Bilateral = 32842,
    Facet = 32862,
    Fragment = 32863,
    Mosaic = 32864,
    Clouds = 32865,
    DifferenceClouds = 32866,
    LensFlare = 32838,
    Sharpen = 32814,
    UnsharpMask = 32839,
    FindEdges = 32841,
    Solarize = 32867,
    Custom = 32845,
    HighPass = 32846,
    Maximum = 32847,
    Minimum = 32848,
    Offset = 32849,
    ObtainGrid = 32833,
    Sign = 32844,
    Size640 = 32821,
    Size1024 = 32822,
    Size1600 = 32823,
    WindowNew = 57648,
    WindowCascade = 57650,
    WindowTile = 57651,
    WindowArrange = 57649,
    HelpTopics = 57667,
    AppAbout = 57664,
    Help = 57670,
    ContextHelp = 57669,
    NextPane = 57680,
    PreviousPane = 57681,
};

// The frame's commands as the table calls them; the main frame implements it, so that the table
// does not depend on the window that is built from it.
class ICommandFrame
{
public:
    virtual void OnFileOpen() = 0;
    // File > New: asks for a size and fill and opens a blank picture as a new document.
    virtual void NewDocument() = 0;
    // Opens a copy of the view's document as it is now in a new document.
    virtual void Duplicate(COrvexView& view) = 0;
    // Opens what is on the clipboard: the files named there, or its picture as a new document.
    virtual void Paste() = 0;
    // Whether the clipboard holds anything Paste would open, as of its last change.
    virtual bool canPaste() const = 0;
    virtual void CloseDocument(COrvexView& view) = 0;
    virtual bool Save(COrvexView& view) = 0;
    virtual bool SaveAs(COrvexView& view) = 0;
    virtual void Print(COrvexView& view) = 0;
    virtual void PrintPreview(COrvexView& view) = 0;
    virtual void PrintSetup() = 0;
    virtual void Exit() = 0;
    virtual void ToggleToolbar() = 0;
    virtual void ToggleStatusBar() = 0;
    virtual void ToggleHistogram() = 0;
    virtual void NewWindow(COrvexView& view) = 0;
    virtual void Cascade() = 0;
    virtual void Tile() = 0;
    virtual void ArrangeIcons() = 0;
    // The help page, at one command's description unless `id` is CommandId::None.
    virtual void ShowHelp(CommandId id) = 0;
    virtual void ShowAbout() = 0;
    virtual void EnterContextHelp() = 0;

protected:
    ~ICommandFrame() = default;
};

// What a dialog is built for: the picture it works on (some dialogs show it or take their ranges
// from its size), its parent window and the row's start values.
struct CDialogRequest
{
    const CImage& picture;
    QWidget* parent;
    const CStartValues& start;
};
using CDialogFactory = std::function<std::unique_ptr<CParamDialog>(const CDialogRequest&)>;

// How a command reaches its operation (for the help page and for reading the table).
enum class CSequence { None, Toolkit, View, Direct, Signature, ValueDialog, OkDialog, PreviewDialog, Worker };

// What a handler works on: the main frame always, the active view when a document window is active.
struct CCommandTarget
{
    ICommandFrame& frame;
    COrvexView* view;
};
using CCommandHandler = std::function<void(CCommandTarget&)>;

// One row of the command table, the single source of the menus, the toolbar, the accelerators,
// the status-bar prompts and the enabled state. Rows are in menu order.
//
// A filter's command becomes live by giving its row in command_table.cpp a sequence in place of
// Pending(...): .Direct(call), .Signature(sign), or one of the dialog sequences .ValueDialog(),
// .OkDialog(), .Worker(label) and .PreviewDialog(), which build the row's dialog and read its values
// (by default as the row's table call). The dialog is the row's too: .Dialog<T>() for a dialog
// class, or .Sliders(title, fields) for a dialog of sliders only, declared in the row; its start
// values are the row's .StartValues. Nothing else changes.
// An operation that shows a progress bar adds .ShowsProgress() to its row: it then runs through the
// worker sequence, so the windows keep painting and Escape cancels it.
struct CCommand
{
    enum class Kind { Command, Separator, RecentFiles };

    Kind kind = Kind::Command;
    CommandId id = CommandId::None;
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
    // Whether the command can run now, with or without a document window (empty: always).
    std::function<bool(const ICommandFrame&)> availableWhen;
    // What the command does, for the help page; every row has one, including those not available yet.
    QString help;
    // The operations table row the command runs, empty when it runs none (or several).
    std::string operation;
    // The command's parameter dialog, empty when it has none; the dialog sweep tests walk these.
    CDialogFactory dialog;
    CStartValues startValues;
};

const std::vector<CCommand>& CommandTable();
const CCommand* FindCommand(CommandId id);
// The help page's text for a command or the recent-file entries; empty for unknown numbers.
QString CommandHelp(CommandId id);

// A row's dialog, built as the command builds it, for tests that hold every dialog to the shared
// contract.
struct CDialogSweepEntry
{
    QString name; // for test messages
    std::function<std::unique_ptr<CParamDialog>(const CImage& picture)> make;
};
std::vector<CDialogSweepEntry> DialogSweepList();

// Caption without mnemonic marks and accelerator text ("Black && White...\t..." -> "Black & White...").
QString PlainCaption(const QString& caption);
