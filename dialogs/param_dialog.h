#pragma once

#include "dialogs/preview_renderer.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct COperation;

class CLoupe;
class CNumberBoxes;
class CValueBox;
class QCheckBox;
class QDialogButtonBox;
class QGridLayout;
class QLineEdit;
class QPushButton;
class QSlider;
class QVBoxLayout;

// How a slider's value box shows the slider, and the units a value is typed in (see CValueBox).
struct CValueFormat
{
    enum class Kind {
        SignedOffset, // "%d" up to the middle position, "+%d" above it: the offset from the middle
        Position,     // "%d": the position itself
        Real,         // the derived value as "%3.<precision>f" ("%3.2f", "%3.1f")
        Percent,      // "%d %%": the position (less the middle) as a percentage
        Degrees,      // "%d°": the position as an angle
    };
    Kind kind = Kind::Position;
    int middle = 0;              // SignedOffset, Percent
    int precision = 2;           // Real
    QString unit;                // text shown after the box ("pixels", "%"), if any

    static CValueFormat Signed(int middle) { return {Kind::SignedOffset, middle, 0, {}}; }
    static CValueFormat Plain() { return {Kind::Position, 0, 0, {}}; }
    static CValueFormat RealValue(int precision) { return {Kind::Real, 0, precision, {}}; }
    static CValueFormat Percentage(int middle = 0) { return {Kind::Percent, middle, 0, {}}; }
    static CValueFormat Angle() { return {Kind::Degrees, 0, 0, {}}; }
    CValueFormat WithUnit(QString text) const
    {
        CValueFormat f = *this;
        f.unit = std::move(text);
        return f;
    }
};

// The text a value box shows for a slider position and the parameter derived from it.
QString FormatSliderValue(const CValueFormat& format, int position, double value);

// How a slider's positions stand for its parameter where they are not the parameter's own whole
// values (a radius in tenths on a curve, a percentage of a factor, an offset from the middle). A
// slider declared without one runs over its table row's range, one position per value. The start
// position is the one whose value lies nearest the start value, so only the forward rule is given.
struct CSliderScale
{
    int minimum = 0;
    int maximum = 0;
    std::function<double(int)> toValue; // position -> parameter

    bool declared() const { return static_cast<bool>(toValue); }
    // The position nearest `value` (the lowest of equally near ones).
    int PositionOf(double value) const;

    static CSliderScale Curve(int minimum, int maximum, std::function<double(int)> toValue)
    {
        return {minimum, maximum, std::move(toValue)};
    }
    // Positions 0..2 x middle, the parameter the signed distance from the middle.
    static CSliderScale Centred(int middle)
    {
        return {0, 2 * middle, [middle](int p) { return static_cast<double>(p - middle); }};
    }
    // Positions in percent of the parameter.
    static CSliderScale Percent(int minimum, int maximum)
    {
        return {minimum, maximum, [](int p) { return p / 100.0; }};
    }
};

// Start values by parameter name, for a dialog that must open somewhere other than its table
// row's defaults; parameters not named start at the row's default.
using CStartValues = std::map<std::string, double, std::less<>>;

// The behaviour every parameter dialog shares. A dialog names the operation table row it asks
// for (BindOperation) and declares each control by that row's parameter name: a slider takes its
// range and start from the row (or from a scale declared with it), a control of the dialog's own
// (radio buttons, check boxes, typed boxes) takes its start from AddValue and reports changes
// through SetValue. The base pairs each slider with its value box (typed values: CValueBox), keeps
// values() in the row's order, owns the "Preview" box and the identity values, and sends preview
// requests.
//
// A dialog opens on the row's defaults except for the parameters named in the start values given
// to the constructor; each dialog's own constructor defaults them to where it has always opened,
// and a command can pass others. The identity values shown with "Preview" unchecked are the row's
// defaults unless the dialog sets others.
//
// Keyboard: when the dialog first opens, the first value control has the focus, Tab runs through
// the controls in layout order and then to OK and Cancel, and every slider steps as trackbars do
// (arrows by 1, Page Up/Down by a fifth of the range).
class CParamDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CParamDialog(const QString& title, QWidget* parent = nullptr, CStartValues start = {});
    ~CParamDialog() override;

    // The operation table row whose parameters values() holds, by the row's name; call it before
    // declaring any control. Unknown names leave the dialog unbound, without controls.
    void BindOperation(std::string_view operation);
    // The bound row, or null.
    const COperation* operation() const { return m_operation; }
    // Runs the table's operation `operation` on the engine with `values` in its row's order (the
    // preview rendering and final call of a bound dialog).
    static void RenderByTable(std::string_view operation, CImageProcessor& engine, const std::vector<double>& values);
    // Adds a labelled slider with its value box for a parameter of the bound operation, over the
    // row's range or over `scale` where the slider's positions differ from the parameter's values.
    // Null when the row has no such parameter.
    QSlider* AddSlider(std::string_view parameter, const QString& label, CValueFormat format, CSliderScale scale = {});
    // The parameter's slot for a control of the dialog's own; returns the value it starts at.
    double AddValue(std::string_view parameter);
    // The first notification after opening counts as a change of `parameter` even when it derives
    // the start value, so opening renders.
    void RenderOnOpening(std::string_view parameter);
    // The "Preview" check box.
    void AddPreviewBox(bool checked = true);
    // Values for which the operation reproduces the picture, shown while "Preview" is unchecked.
    void SetIdentityValues(std::vector<double> identity)
    {
        m_identity = std::move(identity);
        m_identitySet = true;
    }
    const std::vector<double>& identityValues() const { return m_identity; }
    // Posterize and Mosaic render again on every notification, even without movement.
    void SetActsOnEveryNotification(bool every) { m_everyNotification = every; }

    // A control of the dialog's own changed `parameter`.
    void SetValue(std::string_view parameter, double value);
    // Stores `value` without a preview request (a typed value renders once typing pauses).
    void StoreValue(std::string_view parameter, double value);
    // Requests a preview of values() when "Preview" is checked.
    void PreviewValues();
    // For a dialog whose values() carry more than one setting of its row (one per channel): slots
    // of the dialog's own layout after the row's, starting at `start`. Call after BindOperation.
    void AppendOwnSlots(const std::vector<double>& start);
    // Every slot at once (as many as values() holds; others are ignored), with one preview request.
    void SetValues(const std::vector<double>& values);

    // The parameter's current value (0 for a name the row does not have).
    double value(std::string_view parameter) const;
    const std::vector<double>& values() const { return m_values; }
    // The start value of `parameter`: the one given to the constructor, else the row's default.
    double startValue(std::string_view parameter) const;
    // The slider and value box declared for `parameter`, or null.
    QSlider* slider(std::string_view parameter) const;
    QLineEdit* valueBox(std::string_view parameter) const;
    CValueBox* valueLink(std::string_view parameter) const;
    // The positions the slider for `parameter` stands for (its row's range unless declared).
    CSliderScale sliderScale(std::string_view parameter) const;
    QCheckBox* previewBox() const { return m_previewBox; }
    // Where a dialog adds controls of its own, between the sliders and the buttons.
    QVBoxLayout* extraArea() const { return m_extra; }
    // The dialog's typeable numeric boxes, made on first use: their reason line sits above the
    // buttons and OK waits for every box to hold a value.
    CNumberBoxes& numberBoxes();

    // Connects the dialog to the document's engine: from now on changes request previews that
    // `render` draws into the work image. The renderer lives until the dialog closes.
    void AttachPreview(CImageProcessor& engine, CPreviewRenderer::Render render);
    CPreviewRenderer* renderer() const { return m_renderer.get(); }
    // The 100 % loupe of a preview dialog, above the buttons, made by AttachPreview and hidden until
    // whoever watches the document window fills it; null in a dialog without a preview.
    CLoupe* AddLoupe();
    CLoupe* loupe() const { return m_loupe; }

    // Closing stops the renderer first, so no rendering outlives the dialog.
    void done(int result) override;

    // The controls Tab visits before OK and Cancel, in order (of a group of exclusive radio buttons
    // the checked one), and the one that has the focus when the dialog opens (null when it has no
    // value control).
    QList<QWidget*> tabControls() const;
    QWidget* firstValueControl() const;
    QPushButton* okButton() const;
    QPushButton* cancelButton() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ArrangeKeyboard();
    // The focusable controls in layout order; `visitedOnly`: only those Tab stops at now.
    QList<QWidget*> Controls(bool visitedOnly) const;
    // Slot of a parameter of the bound operation (-1 when there is no such parameter).
    int ParamIndex(std::string_view parameter) const;

    struct CSlider
    {
        QSlider* slider = nullptr;
        QLineEdit* box = nullptr;
        CValueBox* link = nullptr;
        CValueFormat format;
        CSliderScale scale;
        int index = 0;
        bool opensAsChange = false;
    };
    const CSlider* FindSlider(std::string_view parameter) const;

    void OnSliderNotification(CSlider& entry);
    // The slider's position taken as the parameter's value (`forced`: even when it is no change).
    void TakePosition(CSlider& entry, int position, bool forced);
    void OnPreviewToggled(bool checked);
    void RequestPreview(const std::vector<double>& values);
    bool PreviewWanted() const;

    std::vector<CSlider> m_sliders;
    std::vector<double> m_values;
    std::vector<double> m_identity;
    CStartValues m_start;
    bool m_everyNotification = false;
    bool m_opened = false;
    bool m_identitySet = false;
    const COperation* m_operation = nullptr;

    QGridLayout* m_grid = nullptr;
    QVBoxLayout* m_extra = nullptr;
    QCheckBox* m_previewBox = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
    CNumberBoxes* m_numberBoxes = nullptr;
    CLoupe* m_loupe = nullptr;
    std::unique_ptr<CPreviewRenderer> m_renderer;
};

// A dialog of sliders only, declared as data where its command is declared, so that it needs no
// class of its own: each field is a slider for a parameter of the bound operation (AddSlider).
struct CSliderField
{
    std::string parameter;
    QString label;
    CValueFormat format;
    CSliderScale scale = {};
};
struct CSliderOptions
{
    // Render again on every notification, even without movement (so opening renders the start).
    bool everyNotification = false;
    // The "Preview" box's state on opening.
    bool previewChecked = true;
    // Values that reproduce the picture where the row's defaults do not (empty: the defaults).
    std::vector<double> identity = {};
};
// The dialog titled `title` for `operation`: the sliders in order, then the "Preview" box.
std::unique_ptr<CParamDialog> MakeSliderDialog(const QString& title, std::string_view operation,
                                               const std::vector<CSliderField>& sliders,
                                               const CSliderOptions& options, QWidget* parent, CStartValues start);
