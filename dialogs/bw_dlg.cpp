#include "dialogs/bw_dlg.h"

#include "core/operation_table.h"
#include "dialogs/value_box.h"
#include "filters/colour/black_and_white_presets.h"

#include <cmath>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QVBoxLayout>

namespace {

// The box shows the weight in percent: the position less the zero position.
const CValueFormat kPercentFormat = CValueFormat::Percentage(kBlackAndWhiteZeroPosition);

QString PercentText(int position)
{
    return FormatSliderValue(kPercentFormat, position, 0);
}

std::array<int, 3> PresetPositions(const CBlackAndWhitePreset& preset)
{
    return {preset.reds, preset.greens, preset.blues};
}

} // namespace

CBWDlg::CBWDlg(QWidget* parent, CStartValues startValues)
    : CParamDialog(QStringLiteral("Black and White"), parent, std::move(startValues))
{
    BindOperation("BlackAndWhite");
    // Whole percent positions; the row's defaults are the "None" preset's mix.
    std::array<int, 3> start{};
    for (int c = kReds; c <= kBlues; ++c)
        start[c] = kBlackAndWhiteZeroPosition +
                   static_cast<int>(std::lround(AddValue(ParamName(static_cast<Channel>(c))) * 100.0));
    const bool none = start == PresetPositions(kBlackAndWhitePresets[kBlackAndWhiteNoneIndex]);

    auto* presetRow = new QHBoxLayout;
    presetRow->addWidget(new QLabel(QStringLiteral("Preset:"), this));
    m_preset = new QComboBox(this);
    for (const CBlackAndWhitePreset& preset : kBlackAndWhitePresets)
        m_preset->addItem(QString::fromLatin1(preset.name));
    m_preset->setCurrentIndex(none ? kBlackAndWhiteNoneIndex : kBlackAndWhiteCustomIndex);
    presetRow->addWidget(m_preset, 1);
    extraArea()->addLayout(presetRow);

    auto* grid = new QGridLayout;
    const char* labels[3] = {"Reds:", "Greens:", "Blues:"};
    for (int c = kReds; c <= kBlues; ++c) {
        // The stored weight is the one the position derives, as a moved slider stores it.
        SetValue(ParamName(static_cast<Channel>(c)), BlackAndWhiteWeight(start[c]));

        auto* slider = new QSlider(Qt::Horizontal, this);
        slider->setRange(kBlackAndWhiteMinPosition, kBlackAndWhiteMaxPosition);
        slider->setValue(start[c]);
        slider->setMinimumWidth(260);
        auto* box = new QLineEdit(PercentText(start[c]), this);
        box->setMaximumWidth(70);
        grid->addWidget(new QLabel(QString::fromLatin1(labels[c]), this), c, 0);
        grid->addWidget(slider, c, 1);
        grid->addWidget(box, c, 2);
        m_sliders[c] = slider;
        m_boxes[c] = box;
        connect(slider, &QSlider::valueChanged, this, [this, c] { OnSlider(static_cast<Channel>(c)); });
        CValueBox::CCalls calls;
        calls.settled = [this] {
            if (m_preview->isChecked()) Preview(values());
        };
        m_links[c] = new CValueBox(
            slider, box, kPercentFormat,
            CSliderScale::Curve(kBlackAndWhiteMinPosition, kBlackAndWhiteMaxPosition,
                                [](int p) { return static_cast<double>(BlackAndWhiteWeight(p)); }),
            CNumberRule::ForParam(operation()->params[static_cast<std::size_t>(c)]), numberBoxes(), std::move(calls));
    }
    extraArea()->addLayout(grid);

    m_preview = new QCheckBox(QStringLiteral("Preview"), this);
    m_preview->setChecked(true);
    m_preserve = new QCheckBox(QStringLiteral("Preserve Luminosity"), this);
    m_preserve->setChecked(true);
    extraArea()->addWidget(m_preview);
    extraArea()->addWidget(m_preserve);

    // `activated` comes from the user only; the dialog's own switch to "Custom" must not count as
    // a choice.
    connect(m_preset, &QComboBox::activated, this, &CBWDlg::OnPresetChosen);
    connect(m_preview, &QCheckBox::clicked, this, &CBWDlg::OnPreviewClicked);
    connect(m_preserve, &QCheckBox::clicked, this, &CBWDlg::OnPreserveClicked);
}

void CBWDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    if (values.at(kReds) >= -2.0)
        engine.BlackAndWhite(static_cast<float>(values.at(kReds)), static_cast<float>(values.at(kGreens)),
                             static_cast<float>(values.at(kBlues)));
    else
        engine.ShowOriginal();
}

void CBWDlg::Preview(const std::vector<double>& values)
{
    if (renderer()) renderer()->Request(values);
}

const char* CBWDlg::ParamName(Channel channel)
{
    static const char* const names[3] = {"reds", "greens", "blues"};
    return names[channel];
}

void CBWDlg::OnSlider(Channel channel)
{
    const int position = m_sliders[channel]->value();
    const double weight = BlackAndWhiteWeight(position);
    if (weight == value(ParamName(channel))) return;
    m_links[channel]->Show(position, weight);
    // The dialog's own "Preview" box is not the base's, so this only stores.
    SetValue(ParamName(channel), weight);
    if (m_busy) return;
    // A slider following its box renders once typing pauses.
    ReactToChange(channel, !m_links[channel]->following());
}

void CBWDlg::ReactToChange(Channel channel, bool render)
{
    if (m_preserve->isChecked()) Redistribute(channel);
    if (render && m_preview->isChecked()) Preview(values());
    // The sliders no longer hold a preset's mix, whether or not it is being previewed; a preset
    // name left standing would describe a mix the dialog is not going to apply.
    m_preset->setCurrentIndex(kBlackAndWhiteCustomIndex);
}

bool CBWDlg::Redistribute(Channel channel)
{
    std::array<int, 3> positions{};
    for (int c = kReds; c <= kBlues; ++c) positions[c] = m_sliders[c]->value();
    const std::array<int, 3> before = positions;
    RedistributeLuminosity(channel, positions);
    MoveSliders(positions);
    return positions != before;
}

void CBWDlg::MoveSliders(const std::array<int, 3>& positions)
{
    m_busy = true;
    // The sliders notify as they move, which stores the weights and updates the boxes.
    for (int c = kReds; c <= kBlues; ++c) m_sliders[c]->setValue(positions[c]);
    m_busy = false;
}

void CBWDlg::OnPresetChosen(int index)
{
    if (index < 0 || index >= static_cast<int>(kBlackAndWhitePresets.size())) return;
    const CBlackAndWhitePreset& preset = kBlackAndWhitePresets[static_cast<std::size_t>(index)];
    switch (preset.kind) {
    case CBlackAndWhitePreset::Kind::Mix: MoveSliders(PresetPositions(preset)); break;
    case CBlackAndWhitePreset::Kind::ResetToNone:
        m_preset->setCurrentIndex(kBlackAndWhiteNoneIndex);
        MoveSliders(PresetPositions(kBlackAndWhitePresets[kBlackAndWhiteNoneIndex]));
        break;
    case CBlackAndWhitePreset::Kind::KeepSliders: m_preset->setCurrentIndex(kBlackAndWhiteCustomIndex); break;
    }
    if (m_preview->isChecked()) Preview(values());
}

void CBWDlg::OnPreserveClicked(bool checked)
{
    if (!checked) return;
    constexpr int kReds34 = 234;
    if (m_sliders[kReds]->value() != kReds34) {
        // The reds' notification redistributes the other two and previews.
        m_sliders[kReds]->setValue(kReds34);
        return;
    }
    // Reds already at 34 % give no notification, yet the total may have drifted while the box
    // was unchecked: checking it must still bring the mix back to 100 %.
    const bool moved = Redistribute(kReds);
    if (!moved) return;
    if (m_preview->isChecked()) Preview(values());
    m_preset->setCurrentIndex(kBlackAndWhiteCustomIndex);
}

void CBWDlg::OnPreviewClicked(bool checked)
{
    if (checked) Preview(values());
    else Preview({kShowOriginal, kShowOriginal, kShowOriginal});
}
