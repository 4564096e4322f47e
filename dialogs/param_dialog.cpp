#include "dialogs/param_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
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
    entry.index = AddValue(stored);
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

void CParamDialog::AddPreviewBox(bool checked)
{
    if (m_previewBox) return;
    m_previewBox = new QCheckBox(QStringLiteral("Preview"), this);
    m_previewBox->setChecked(checked);
    m_extra->addWidget(m_previewBox);
    connect(m_previewBox, &QCheckBox::clicked, this, &CParamDialog::OnPreviewToggled);
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

void CParamDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_opened) return;
    m_opened = true;
    // The first notification after opening, as the slider's first redraw gives it.
    for (const CSlider& entry : m_sliders) OnSliderNotification(entry);
}

void CParamDialog::done(int result)
{
    if (m_renderer) m_renderer->Stop();
    QDialog::done(result);
}
