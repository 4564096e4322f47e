#include "dialogs/levels_dlg.h"

#include "core/image.h"
#include "dialogs/number_box.h"
#include "dialogs/tone_widgets.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

using orvex_colour::CLevelsSetting;
using orvex_colour::CLevelsSettings;

namespace {

constexpr std::size_t kOwnSlots = 5;

CLevelsSetting SettingAt(const std::vector<double>& values, std::size_t first)
{
    return {static_cast<int>(values[first]), static_cast<int>(values[first + 1]), values[first + 2],
            static_cast<int>(values[first + 3]), static_cast<int>(values[first + 4])};
}

void PutSetting(std::vector<double>& values, std::size_t first, const CLevelsSetting& s)
{
    values[first] = s.black;
    values[first + 1] = s.white;
    values[first + 2] = s.gamma;
    values[first + 3] = s.outBlack;
    values[first + 4] = s.outWhite;
}

QString GammaText(double gamma)
{
    return QString::number(gamma, 'f', 2);
}

} // namespace

CLevelsDlg::CLevelsDlg(const CImage& picture, QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Levels"), parent, std::move(start)),
      m_histogram(orvex_colour::ComputeHistogram(picture))
{
    BindOperation("Levels");
    if (values().size() == 6) {
        m_settings.all = SettingAt(values(), 1);
        AppendOwnSlots(std::vector<double>(kSlots - 6, 0.0));
        SetIdentityValues(ValuesFromSettings({}));
        SetValues(ValuesFromSettings(m_settings));
    }

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Channel:"), this));
    m_channelBox = new QComboBox(this);
    m_channelBox->addItems(
        {QStringLiteral("RGB"), QStringLiteral("Red"), QStringLiteral("Green"), QStringLiteral("Blue")});
    top->addWidget(m_channelBox);
    top->addStretch();
    extraArea()->addLayout(top);

    auto* inputRow = new QHBoxLayout;
    inputRow->addWidget(new QLabel(QStringLiteral("Input Levels:"), this));
    for (int i : {0, 1, 2}) {
        m_boxes[static_cast<std::size_t>(i)] = new QLineEdit(this);
        m_boxes[static_cast<std::size_t>(i)]->setMaximumWidth(60);
        inputRow->addWidget(m_boxes[static_cast<std::size_t>(i)]);
    }
    inputRow->addStretch();
    extraArea()->addLayout(inputRow);

    m_view = new CLevelsHistogram(this);
    m_view->SetHistogram(m_histogram);
    extraArea()->addWidget(m_view);
    m_input = new CLevelMarkers(3, false, this);
    extraArea()->addWidget(m_input);

    auto* outputRow = new QHBoxLayout;
    outputRow->addWidget(new QLabel(QStringLiteral("Output Levels:"), this));
    for (int i : {3, 4}) {
        m_boxes[static_cast<std::size_t>(i)] = new QLineEdit(this);
        m_boxes[static_cast<std::size_t>(i)]->setMaximumWidth(60);
        outputRow->addWidget(m_boxes[static_cast<std::size_t>(i)]);
    }
    outputRow->addStretch();
    m_autoButton = new QPushButton(QStringLiteral("Auto"), this);
    m_autoButton->setAutoDefault(false);
    outputRow->addWidget(m_autoButton);
    extraArea()->addLayout(outputRow);
    m_output = new CLevelMarkers(2, true, this);
    extraArea()->addWidget(m_output);
    AddPreviewBox(true);

    // Each box writes one field of the chosen channel's setting; the rules are the row's ranges.
    const CNumberRule rules[5] = {CNumberRule::Whole(0, 254), CNumberRule::Real(0.1, 10), CNumberRule::Whole(1, 255),
                                  CNumberRule::Whole(0, 255), CNumberRule::Whole(0, 255)};
    for (std::size_t i = 0; i < 5; ++i) {
        m_boxes[i]->setText(QStringLiteral("0"));
        numberBoxes().Add(m_boxes[i], rules[i], [this, i](double v) {
            if (m_showing) return;
            CLevelsSetting& s = Current();
            switch (i) {
            case 0: s.black = static_cast<int>(v); break;
            case 1: s.gamma = v; break;
            case 2: s.white = static_cast<int>(v); break;
            case 3: s.outBlack = static_cast<int>(v); break;
            default: s.outWhite = static_cast<int>(v); break;
            }
            Changed();
        });
    }
    connect(m_channelBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_channel = static_cast<Channel>(std::clamp(index, 0, 3));
        ShowChannel();
    });
    connect(m_input, &CLevelMarkers::markerMoved, this, [this](int m, double v) { OnMarker(false, m, v); });
    connect(m_output, &CLevelMarkers::markerMoved, this, [this](int m, double v) { OnMarker(true, m, v); });
    connect(m_autoButton, &QPushButton::clicked, this, &CLevelsDlg::OnAuto);
    ShowChannel();
}

CLevelsSetting& CLevelsDlg::Current()
{
    switch (m_channel) {
    case kRed: return m_settings.red;
    case kGreen: return m_settings.green;
    case kBlue: return m_settings.blue;
    default: return m_settings.all;
    }
}

double CLevelsDlg::MiddleOf(const CLevelsSetting& setting)
{
    const int black = std::clamp(setting.black, 0, 254);
    const int white = std::clamp(setting.white, black + 1, 255);
    const double gamma = std::isfinite(setting.gamma) ? std::clamp(setting.gamma, 0.1, 10.0) : 1.0;
    return black + (white - black) * std::pow(0.5, gamma);
}

double CLevelsDlg::GammaFor(const CLevelsSetting& setting, double middle)
{
    const int black = std::clamp(setting.black, 0, 254);
    const int white = std::clamp(setting.white, black + 1, 255);
    const double x = std::clamp((middle - black) / (white - black), 1e-3, 1 - 1e-3);
    const double gamma = std::clamp(std::log(x) / std::log(0.5), 0.1, 10.0);
    return std::round(gamma * 100) / 100;
}

void CLevelsDlg::ShowChannel()
{
    const CLevelsSetting& s = Current();
    m_showing = true;
    m_boxes[0]->setText(QString::number(s.black));
    m_boxes[1]->setText(GammaText(s.gamma));
    m_boxes[2]->setText(QString::number(s.white));
    m_boxes[3]->setText(QString::number(s.outBlack));
    m_boxes[4]->setText(QString::number(s.outWhite));
    m_showing = false;
    static const CHistogramView::Channel shown[4] = {CHistogramView::Channel::Luminance, CHistogramView::Channel::Red,
                                                     CHistogramView::Channel::Green, CHistogramView::Channel::Blue};
    m_view->SetChannel(shown[m_channel]);
    ShowMarkers(s);
}

void CLevelsDlg::ShowMarkers(const orvex_colour::CLevelsSetting& s)
{
    m_input->SetValue(0, s.black);
    m_input->SetValue(1, MiddleOf(s));
    m_input->SetValue(2, s.white);
    m_output->SetValue(0, s.outBlack);
    m_output->SetValue(1, s.outWhite);
    m_view->SetMarks(s.black, MiddleOf(s), s.white);
}

void CLevelsDlg::Changed()
{
    ShowMarkers(Current());
    SetValues(ValuesFromSettings(m_settings));
}

void CLevelsDlg::OnMarker(bool output, int marker, double value)
{
    CLevelsSetting& s = Current();
    const int v = static_cast<int>(std::lround(value));
    if (output) {
        (marker == 0 ? s.outBlack : s.outWhite) = v;
    } else if (marker == 0) {
        s.black = std::clamp(v, 0, std::max(0, std::min(254, s.white - 1)));
    } else if (marker == 2) {
        s.white = std::clamp(v, std::min(255, s.black + 1), 255);
    } else {
        s.gamma = GammaFor(s, value);
    }
    ShowChannel();
    Changed();
}

void CLevelsDlg::OnAuto()
{
    // Each channel stretched on its own, 0.1 % clipped at each end; the all-channel points go back
    // to the full range so that the stretch is not applied twice.
    const auto stretch = [](CLevelsSetting& s, const std::array<std::uint64_t, 256>& counts) {
        const orvex_colour::CLevelsPoints range = orvex_colour::AutoLevelsRange(counts);
        s.black = range.black;
        s.white = range.white;
    };
    stretch(m_settings.red, m_histogram.red);
    stretch(m_settings.green, m_histogram.green);
    stretch(m_settings.blue, m_histogram.blue);
    m_settings.all.black = 0;
    m_settings.all.white = 255;
    ShowChannel();
    Changed();
}

CLevelsSettings CLevelsDlg::SettingsFromValues(const std::vector<double>& values)
{
    CLevelsSettings settings;
    if (values.size() >= 6) settings.all = SettingAt(values, 1);
    if (values.size() >= kSlots) {
        settings.red = SettingAt(values, 6);
        settings.green = SettingAt(values, 6 + kOwnSlots);
        settings.blue = SettingAt(values, 6 + 2 * kOwnSlots);
    }
    return settings;
}

std::vector<double> CLevelsDlg::ValuesFromSettings(const CLevelsSettings& settings)
{
    std::vector<double> values(kSlots, 0.0);
    values[0] = 'a';
    PutSetting(values, 1, settings.all);
    PutSetting(values, 6, settings.red);
    PutSetting(values, 6 + kOwnSlots, settings.green);
    PutSetting(values, 6 + 2 * kOwnSlots, settings.blue);
    return values;
}

void CLevelsDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    if (values.size() < kSlots) {
        RenderByTable("Levels", engine, values);
        return;
    }
    Levels(engine, SettingsFromValues(values));
}

void CLevelsDlg::showEvent(QShowEvent* event)
{
    CParamDialog::showEvent(event);
    // Start values other than the identity show at once.
    SetValues(values());
}
