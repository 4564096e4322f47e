#pragma once

#include "dialogs/preview_renderer.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct COperation;

class CNumberBoxes;
class QCheckBox;
class QDialogButtonBox;
class QGridLayout;
class QLineEdit;
class QPushButton;
class QSlider;
class QVBoxLayout;

// How a slider's read-only value box shows the slider.
struct CValueFormat
{
    enum class Kind {
        SignedOffset, // "%d" up to the middle position, "+%d" above it: the offset from the middle
        Position,     // "%d": the position itself
        Real,         // the derived value as "%3.<precision>f" ("%3.2f", "%3.1f")
        Percent,      // "%d %%": the position as a percentage
        Degrees,      // "%d°": the position as an angle
    };
    Kind kind = Kind::Position;
    int middle = 0;              // SignedOffset
    int precision = 2;           // Real
    QString unit;                // text shown after the box ("pixels", "%"), if any

    static CValueFormat Signed(int middle) { return {Kind::SignedOffset, middle, 0, {}}; }
    static CValueFormat Plain() { return {Kind::Position, 0, 0, {}}; }
    static CValueFormat RealValue(int precision) { return {Kind::Real, 0, precision, {}}; }
    static CValueFormat Percentage() { return {Kind::Percent, 0, 0, {}}; }
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

// The behaviour every parameter dialog shares. A dialog declares its sliders (with range, start
// position, value-box format and the rule that turns a position into its parameter); the base pairs
// each slider with its read-only value box, keeps the stored parameter values in the operation's
// argument order, owns the "Preview" box and the identity values, and sends preview requests.
//
// Parameters are numbers (`values()`), in the operation's argument order. Controls other than
// sliders (radio buttons, check boxes, lists) keep a value slot of their own (AddValue) and call
// SetValue when the user changes them.
//
// A dialog names the operation it asks for (BindOperation) and declares each control by that
// operation's parameter name (the AddSlider and AddValue overloads taking a name). values() then
// follows the operation table's row: one slot per parameter in the row's order, each starting at
// the row's default until a control stores its own start value, and the identity values shown
// with "Preview" unchecked are the row's defaults unless the dialog sets others. Unnamed slots
// (the older AddSlider/AddValue) are appended after them.
//
// Keyboard: when the dialog first opens, the first value control has the focus, Tab runs through
// the controls in layout order and then to OK and Cancel, and every slider steps as trackbars do
// (arrows by 1, Page Up/Down by a fifth of the range).
class CParamDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CParamDialog(const QString& title, QWidget* parent = nullptr);
    ~CParamDialog() override;

    // Adds a labelled slider with its value box and returns its parameter index. `stored` is the
    // value the dialog starts with: when the first notification after opening derives the same
    // value, that notification is not a change. `toValue` derives the parameter from a position
    // (identity when empty).
    int AddSlider(const QString& label, int minimum, int maximum, int position, CValueFormat format,
                  double stored, std::function<double(int)> toValue = {});
    // A parameter slot for a control of the dialog's own.
    int AddValue(double stored);

    // The operation table row whose parameters values() holds, by the row's name; call it before
    // declaring any control. Unknown names leave the dialog unbound.
    void BindOperation(std::string_view operation);
    // The bound row, or null.
    const COperation* operation() const { return m_operation; }
    // Runs the table's operation `operation` on the engine with `values` in its row's order (the
    // preview rendering and final call of a bound dialog).
    static void RenderByTable(std::string_view operation, CImageProcessor& engine, const std::vector<double>& values);
    // Slot of a parameter of the bound operation (-1 when there is no such parameter).
    int ParamIndex(std::string_view parameter) const;
    double value(std::string_view parameter) const { return value(ParamIndex(parameter)); }
    // AddSlider and AddValue for a parameter of the bound operation: the slot is the parameter's.
    int AddSlider(std::string_view parameter, const QString& label, int minimum, int maximum, int position,
                  CValueFormat format, double stored, std::function<double(int)> toValue = {});
    int AddValue(std::string_view parameter, double stored);
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

    // A control of the dialog's own changed parameter `index`.
    void SetValue(int index, double value);

    double value(int index) const { return m_values.at(static_cast<std::size_t>(index)); }
    const std::vector<double>& values() const { return m_values; }
    QSlider* slider(int index) const;
    QLineEdit* valueBox(int index) const;
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

    // Closing stops the renderer first, so no rendering outlives the dialog.
    void done(int result) override;

    // The controls Tab visits before OK and Cancel, in order, and the one that has the focus when
    // the dialog opens (null when it has no value control).
    QList<QWidget*> tabControls() const;
    QWidget* firstValueControl() const;
    QPushButton* okButton() const;
    QPushButton* cancelButton() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    int AddSliderAt(int index, const QString& label, int minimum, int maximum, int position, CValueFormat format,
                    std::function<double(int)> toValue);
    void ArrangeKeyboard();

    struct CSlider
    {
        QSlider* slider = nullptr;
        QLineEdit* box = nullptr;
        CValueFormat format;
        std::function<double(int)> toValue;
        int index = 0;
    };

    void OnSliderNotification(const CSlider& entry);
    void OnPreviewToggled(bool checked);
    void RequestPreview(const std::vector<double>& values);
    bool PreviewWanted() const;

    std::vector<CSlider> m_sliders;
    std::vector<double> m_values;
    std::vector<double> m_identity;
    bool m_everyNotification = false;
    bool m_opened = false;
    bool m_identitySet = false;
    const COperation* m_operation = nullptr;

    QGridLayout* m_grid = nullptr;
    QVBoxLayout* m_extra = nullptr;
    QCheckBox* m_previewBox = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
    CNumberBoxes* m_numberBoxes = nullptr;
    std::unique_ptr<CPreviewRenderer> m_renderer;
};
