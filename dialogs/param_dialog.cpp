#include "dialogs/param_dialog.h"

#include "core/operation_table.h"
#include "dialogs/number_box.h"

#include <algorithm>

#include <QCheckBox>
#include <QLayout>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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
    case CValueFormat::Kind::Percent: return QString::asprintf("%d %%", position);
    case CValueFormat::Kind::Degrees: return QString::number(position) + QChar(0x00B0);
    }
    return {};
}

CParamDialog::CParamDialog(const QString& title, QWidget* parent) : QDialog(parent)
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

int CParamDialog::AddSlider(const QString& label, int minimum, int maximum, int position, CValueFormat format,
                            double stored, std::function<double(int)> toValue)
{
    return AddSliderAt(AddValue(stored), label, minimum, maximum, position, std::move(format), std::move(toValue));
}

int CParamDialog::AddSlider(std::string_view parameter, const QString& label, int minimum, int maximum, int position,
                            CValueFormat format, double stored, std::function<double(int)> toValue)
{
    return AddSliderAt(AddValue(parameter, stored), label, minimum, maximum, position, std::move(format), std::move(toValue));
}

int CParamDialog::AddSliderAt(int index, const QString& label, int minimum, int maximum, int position, CValueFormat format,
                              std::function<double(int)> toValue)
{
    const int row = static_cast<int>(m_sliders.size());
    CSlider entry;
    entry.slider = new QSlider(Qt::Horizontal, this);
    entry.slider->setRange(minimum, maximum);
    entry.slider->setValue(position);
    entry.slider->setMinimumWidth(220);
    entry.box = new QLineEdit(this);
    entry.box->setReadOnly(true);
    entry.box->setFocusPolicy(Qt::NoFocus);
    entry.box->setMaximumWidth(70);
    entry.format = format;
    entry.toValue = toValue ? std::move(toValue) : [](int p) { return static_cast<double>(p); };
    entry.index = index;
    // The box shows the start position until the first notification says otherwise.
    entry.box->setText(FormatSliderValue(format, position, entry.toValue(position)));

    m_grid->addWidget(new QLabel(label, this), row, 0);
    m_grid->addWidget(entry.slider, row, 1);
    m_grid->addWidget(entry.box, row, 2);
    if (!format.unit.isEmpty()) m_grid->addWidget(new QLabel(format.unit, this), row, 3);
    m_sliders.push_back(entry);
    const std::size_t at = m_sliders.size() - 1;
    connect(entry.slider, &QSlider::valueChanged, this, [this, at] { OnSliderNotification(m_sliders[at]); });
    return entry.index;
}

int CParamDialog::AddValue(double stored)
{
    m_values.push_back(stored);
    return static_cast<int>(m_values.size()) - 1;
}

void CParamDialog::BindOperation(std::string_view operation)
{
    m_operation = FindOperation(operation);
    if (!m_operation) return;
    // The row's slots come first, at the row's defaults; slots declared before are kept after them.
    std::vector<double> values;
    for (const CParam& p : m_operation->params) values.push_back(p.defaultValue);
    if (!m_identitySet) m_identity = values;
    values.insert(values.end(), m_values.begin(), m_values.end());
    m_values = std::move(values);
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

int CParamDialog::AddValue(std::string_view parameter, double stored)
{
    const int index = ParamIndex(parameter);
    // A name the row does not have is a programming error; the slot is still given, after the row's.
    if (index < 0) return AddValue(stored);
    m_values.at(static_cast<std::size_t>(index)) = stored;
    return index;
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

QSlider* CParamDialog::slider(int index) const
{
    for (const CSlider& entry : m_sliders)
        if (entry.index == index) return entry.slider;
    return nullptr;
}

QLineEdit* CParamDialog::valueBox(int index) const
{
    for (const CSlider& entry : m_sliders)
        if (entry.index == index) return entry.box;
    return nullptr;
}

void CParamDialog::SetValue(int index, double value)
{
    m_values.at(static_cast<std::size_t>(index)) = value;
    if (PreviewWanted()) RequestPreview(m_values);
}

void CParamDialog::AttachPreview(CImageProcessor& engine, CPreviewRenderer::Render render)
{
    if (m_renderer) m_renderer->Stop();
    m_renderer = std::make_unique<CPreviewRenderer>(engine, std::move(render));
}

bool CParamDialog::PreviewWanted() const
{
    return m_renderer && m_previewBox && m_previewBox->isChecked();
}

void CParamDialog::OnSliderNotification(const CSlider& entry)
{
    const int position = entry.slider->value();
    const double value = entry.toValue(position);
    double& stored = m_values.at(static_cast<std::size_t>(entry.index));
    if (!m_everyNotification && value == stored) return;
    entry.box->setText(FormatSliderValue(entry.format, position, value));
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

// Widgets of a layout in layout order (a grid's in the order they were added, row by row),
// looking into nested layouts and into container widgets that are not controls themselves.
void CollectControls(QLayout* layout, QList<QWidget*>& out)
{
    if (!layout) return;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QLayout* inner = item->layout()) {
            CollectControls(inner, out);
        } else if (QWidget* w = item->widget()) {
            if (w->focusPolicy() & Qt::TabFocus) out.append(w);
            else if (w->layout()) CollectControls(w->layout(), out);
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
    QList<QWidget*> controls;
    CollectControls(layout(), controls);
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
    QList<QWidget*> chain = tabControls();
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
    for (const CSlider& entry : m_sliders) OnSliderNotification(entry);
}

void CParamDialog::done(int result)
{
    if (m_renderer) m_renderer->Stop();
    QDialog::done(result);
}
