#include "dialogs/param_dialog.h"

#include "core/operation_table.h"
#include "dialogs/loupe.h"
#include "dialogs/number_box.h"
#include "dialogs/value_box.h"

#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QLayout>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSlider>
#include <QVBoxLayout>

QString FormatSliderValue(const CValueFormat& format, int position, double value)
{
    switch (format.kind) {
    case CValueFormat::Kind::SignedOffset: {
        const int offset = position - format.middle;
        return offset > 0 ? QString::asprintf("+%d", offset) : QString::asprintf("%d", offset);
    }
    case CValueFormat::Kind::Position: return QString::asprintf("%d", position);
    case CValueFormat::Kind::Real: return QString::asprintf("%3.*f", format.precision, value);
    case CValueFormat::Kind::Percent: return QString::asprintf("%d %%", position - format.middle);
    case CValueFormat::Kind::Degrees: return QString::number(position) + QChar(0x00B0);
    }
    return {};
}

int CSliderScale::PositionOf(double value) const
{
    int best = minimum;
    double nearest = std::abs(toValue(minimum) - value);
    for (int p = minimum + 1; p <= maximum && nearest > 0; ++p) {
        const double distance = std::abs(toValue(p) - value);
        if (distance < nearest) {
            nearest = distance;
            best = p;
        }
    }
    return best;
}

CParamDialog::CParamDialog(const QString& title, QWidget* parent, CStartValues start)
    : QDialog(parent), m_start(std::move(start))
{
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    m_grid = new QGridLayout;
    layout->addLayout(m_grid);
    m_extra = new QVBoxLayout;
    layout->addLayout(m_extra);
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(m_buttons);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CParamDialog::~CParamDialog()
{
    if (m_renderer) m_renderer->Stop();
}

QSlider* CParamDialog::AddSlider(std::string_view parameter, const QString& label, CValueFormat format,
                                 CSliderScale scale)
{
    const int index = ParamIndex(parameter);
    if (index < 0) return nullptr;
    if (!scale.declared()) {
        const CParam& p = m_operation->params[static_cast<std::size_t>(index)];
        scale = {static_cast<int>(p.min), static_cast<int>(p.max),
                 [](int position) { return static_cast<double>(position); }};
    }
    const int position = scale.PositionOf(startValue(parameter));
    // The stored value is the one the start position derives, so opening is no change unless the
    // dialog asks for one.
    m_values.at(static_cast<std::size_t>(index)) = scale.toValue(position);

    const int row = static_cast<int>(m_sliders.size());
    CSlider entry;
    entry.slider = new QSlider(Qt::Horizontal, this);
    entry.slider->setRange(scale.minimum, scale.maximum);
    entry.slider->setValue(position);
    entry.slider->setMinimumWidth(220);
    entry.box = new QLineEdit(this);
    entry.box->setMaximumWidth(70);
    entry.format = format;
    entry.index = index;
    // The box shows the start position until the first notification says otherwise.
    entry.box->setText(FormatSliderValue(format, position, scale.toValue(position)));
    entry.scale = scale;
    const std::size_t at = m_sliders.size();
    CValueBox::CCalls calls;
    calls.typed = [this, index](double typed) { m_values.at(static_cast<std::size_t>(index)) = typed; };
    calls.settled = [this] { PreviewValues(); };
    calls.stepped = [this, at](int p) { TakePosition(m_sliders[at], p, true); };
    entry.link = new CValueBox(entry.slider, entry.box, format, std::move(scale),
                               CNumberRule::ForParam(m_operation->params[static_cast<std::size_t>(index)]),
                               numberBoxes(), std::move(calls));

    m_grid->addWidget(new QLabel(label, this), row, 0);
    m_grid->addWidget(entry.slider, row, 1);
    m_grid->addWidget(entry.box, row, 2);
    if (!format.unit.isEmpty()) m_grid->addWidget(new QLabel(format.unit, this), row, 3);
    m_sliders.push_back(entry);
    connect(entry.slider, &QSlider::valueChanged, this, [this, at] { OnSliderNotification(m_sliders[at]); });
    return entry.slider;
}

void CParamDialog::BindOperation(std::string_view operation)
{
    m_operation = FindOperation(operation);
    if (!m_operation) return;
    std::vector<double> defaults;
    for (const CParam& p : m_operation->params) defaults.push_back(p.defaultValue);
    if (!m_identitySet) m_identity = defaults;
    m_values = std::move(defaults);
    for (std::size_t i = 0; i < m_values.size(); ++i) m_values[i] = startValue(m_operation->params[i].name);
}

void CParamDialog::RenderByTable(std::string_view operation, CImageProcessor& engine, const std::vector<double>& values)
{
    const COperation* op = FindOperation(operation);
    if (!op || values.size() < op->params.size()) return;
    op->call(engine, COpArgs(std::vector<double>(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(op->params.size()))));
}

int CParamDialog::ParamIndex(std::string_view parameter) const
{
    if (!m_operation) return -1;
    for (std::size_t i = 0; i < m_operation->params.size(); ++i)
        if (m_operation->params[i].name == parameter) return static_cast<int>(i);
    return -1;
}

double CParamDialog::AddValue(std::string_view parameter)
{
    const int index = ParamIndex(parameter);
    return index < 0 ? 0.0 : m_values.at(static_cast<std::size_t>(index));
}

double CParamDialog::startValue(std::string_view parameter) const
{
    if (const auto given = m_start.find(parameter); given != m_start.end()) return given->second;
    const int index = ParamIndex(parameter);
    return index < 0 ? 0.0 : m_operation->params[static_cast<std::size_t>(index)].defaultValue;
}

double CParamDialog::value(std::string_view parameter) const
{
    const int index = ParamIndex(parameter);
    return index < 0 ? 0.0 : m_values.at(static_cast<std::size_t>(index));
}

void CParamDialog::RenderOnOpening(std::string_view parameter)
{
    const int index = ParamIndex(parameter);
    for (CSlider& entry : m_sliders)
        if (entry.index == index) entry.opensAsChange = true;
}

void CParamDialog::AddPreviewBox(bool checked)
{
    if (m_previewBox) return;
    m_previewBox = new QCheckBox(QStringLiteral("Preview"), this);
    m_previewBox->setChecked(checked);
    m_extra->addWidget(m_previewBox);
    connect(m_previewBox, &QCheckBox::clicked, this, &CParamDialog::OnPreviewToggled);
}

CNumberBoxes& CParamDialog::numberBoxes()
{
    if (!m_numberBoxes) {
        m_numberBoxes = new CNumberBoxes(this, okButton());
        auto* column = static_cast<QVBoxLayout*>(layout());
        column->insertWidget(column->indexOf(m_buttons), m_numberBoxes->reasonLine());
    }
    return *m_numberBoxes;
}

const CParamDialog::CSlider* CParamDialog::FindSlider(std::string_view parameter) const
{
    const int index = ParamIndex(parameter);
    if (index < 0) return nullptr;
    for (const CSlider& entry : m_sliders)
        if (entry.index == index) return &entry;
    return nullptr;
}

QSlider* CParamDialog::slider(std::string_view parameter) const
{
    const CSlider* entry = FindSlider(parameter);
    return entry ? entry->slider : nullptr;
}

QLineEdit* CParamDialog::valueBox(std::string_view parameter) const
{
    const CSlider* entry = FindSlider(parameter);
    return entry ? entry->box : nullptr;
}

CValueBox* CParamDialog::valueLink(std::string_view parameter) const
{
    const CSlider* entry = FindSlider(parameter);
    return entry ? entry->link : nullptr;
}

CSliderScale CParamDialog::sliderScale(std::string_view parameter) const
{
    const CSlider* entry = FindSlider(parameter);
    return entry ? entry->scale : CSliderScale{};
}

void CParamDialog::SetValue(std::string_view parameter, double value)
{
    const int index = ParamIndex(parameter);
    if (index < 0) return;
    m_values.at(static_cast<std::size_t>(index)) = value;
    if (PreviewWanted()) RequestPreview(m_values);
}

void CParamDialog::StoreValue(std::string_view parameter, double value)
{
    const int index = ParamIndex(parameter);
    if (index >= 0) m_values.at(static_cast<std::size_t>(index)) = value;
}

void CParamDialog::PreviewValues()
{
    if (PreviewWanted()) RequestPreview(m_values);
}

void CParamDialog::AppendOwnSlots(const std::vector<double>& start)
{
    if (!m_operation) return;
    m_values.insert(m_values.end(), start.begin(), start.end());
}

void CParamDialog::SetValues(const std::vector<double>& values)
{
    if (values.size() != m_values.size()) return;
    m_values = values;
    if (PreviewWanted()) RequestPreview(m_values);
}

void CParamDialog::AttachPreview(CImageProcessor& engine, CPreviewRenderer::Render render)
{
    if (m_renderer) m_renderer->Stop();
    m_renderer = std::make_unique<CPreviewRenderer>(engine, std::move(render));
    AddLoupe();
}

CLoupe* CParamDialog::AddLoupe()
{
    if (!m_loupe) {
        m_loupe = new CLoupe(this);
        auto* column = static_cast<QVBoxLayout*>(layout());
        column->insertWidget(column->indexOf(m_buttons), m_loupe, 0, Qt::AlignHCenter);
    }
    return m_loupe;
}

bool CParamDialog::PreviewWanted() const
{
    return m_renderer && m_previewBox && m_previewBox->isChecked();
}

void CParamDialog::OnSliderNotification(CSlider& entry)
{
    // A slider following its box has the typed value stored already (the next control that hears
    // of the move may read it); rendering waits for the typing to pause.
    if (entry.link->following()) {
        m_values.at(static_cast<std::size_t>(entry.index)) = entry.link->value();
        return;
    }
    const bool forced = entry.opensAsChange;
    entry.opensAsChange = false;
    TakePosition(entry, entry.slider->value(), forced);
}

void CParamDialog::TakePosition(CSlider& entry, int position, bool forced)
{
    const double value = entry.scale.toValue(position);
    double& stored = m_values.at(static_cast<std::size_t>(entry.index));
    if (!m_everyNotification && !forced && value == stored) return;
    entry.link->Show(position, value);
    stored = value;
    if (PreviewWanted()) RequestPreview(m_values);
}

void CParamDialog::OnPreviewToggled(bool checked)
{
    if (!m_renderer) return;
    if (checked) {
        RequestPreview(m_values);
    } else {
        // Slots without a declared identity keep their current value (choices such as a
        // distribution do not change the picture on their own).
        std::vector<double> identity = m_values;
        for (std::size_t i = 0; i < identity.size() && i < m_identity.size(); ++i) identity[i] = m_identity[i];
        RequestPreview(identity);
    }
}

void CParamDialog::RequestPreview(const std::vector<double>& values)
{
    m_renderer->Request(values);
}

namespace {

// Tab passes over disabled controls, and enters a group of exclusive radio buttons at its checked
// button only; the arrow keys move within the group.
bool TabVisits(const QWidget* w)
{
    if (!w->isEnabled()) return false;
    const auto* radio = qobject_cast<const QRadioButton*>(w);
    return !radio || !radio->autoExclusive() || radio->isChecked();
}

// Widgets of a layout in layout order (a grid's in the order they were added, row by row),
// looking into nested layouts and into container widgets that are not controls themselves.
void CollectControls(QLayout* layout, QList<QWidget*>& out, bool visitedOnly)
{
    if (!layout) return;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QLayout* inner = item->layout()) {
            CollectControls(inner, out, visitedOnly);
        } else if (QWidget* w = item->widget()) {
            if (visitedOnly && !TabVisits(w)) continue;
            if (w->focusPolicy() & Qt::TabFocus) out.append(w);
            else if (w->layout()) CollectControls(w->layout(), out, visitedOnly);
        }
    }
}

} // namespace

QPushButton* CParamDialog::okButton() const
{
    return m_buttons->button(QDialogButtonBox::Ok);
}

QPushButton* CParamDialog::cancelButton() const
{
    return m_buttons->button(QDialogButtonBox::Cancel);
}

QList<QWidget*> CParamDialog::tabControls() const
{
    return Controls(true);
}

QList<QWidget*> CParamDialog::Controls(bool visitedOnly) const
{
    QList<QWidget*> controls;
    CollectControls(layout(), controls, visitedOnly);
    controls.removeAll(m_buttons);
    controls.removeAll(okButton());
    controls.removeAll(cancelButton());
    return controls;
}

QWidget* CParamDialog::firstValueControl() const
{
    // A value control sets a parameter: not a push button ("Load...", "Save...") and not the
    // "Preview" box, which only changes what is shown.
    for (QWidget* w : tabControls()) {
        if (qobject_cast<QPushButton*>(w)) continue;
        if (auto* box = qobject_cast<QCheckBox*>(w); box && box->text() == QStringLiteral("Preview")) continue;
        return w;
    }
    return nullptr;
}

void CParamDialog::ArrangeKeyboard()
{
    for (QSlider* slider : findChildren<QSlider*>()) {
        slider->setSingleStep(1);
        slider->setPageStep(std::max(1, (slider->maximum() - slider->minimum()) / 5));
    }
    // Every control takes its place in the chain, also those Tab passes over for now (a radio button
    // becomes the group's stop once checked).
    QList<QWidget*> chain = Controls(false);
    chain.append(okButton());
    chain.append(cancelButton());
    for (int i = 0; i + 1 < chain.size(); ++i) setTabOrder(chain[i], chain[i + 1]);
    if (QWidget* first = firstValueControl()) first->setFocus(Qt::TabFocusReason);
}

void CParamDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_opened) return;
    m_opened = true;
    ArrangeKeyboard();
    // The first notification after opening, as the slider's first redraw gives it.
    for (CSlider& entry : m_sliders) OnSliderNotification(entry);
}

void CParamDialog::done(int result)
{
    for (CValueBox* link : findChildren<CValueBox*>()) link->Stop();
    if (m_renderer) m_renderer->Stop();
    QDialog::done(result);
}

std::unique_ptr<CParamDialog> MakeSliderDialog(const QString& title, std::string_view operation,
                                               const std::vector<CSliderField>& sliders,
                                               const CSliderOptions& options, QWidget* parent, CStartValues start)
{
    auto dialog = std::make_unique<CParamDialog>(title, parent, std::move(start));
    if (!options.identity.empty()) dialog->SetIdentityValues(options.identity);
    dialog->BindOperation(operation);
    for (const CSliderField& field : sliders) dialog->AddSlider(field.parameter, field.label, field.format, field.scale);
    dialog->SetActsOnEveryNotification(options.everyNotification);
    dialog->AddPreviewBox(options.previewChecked);
    return dialog;
}
