#include "dialogs/curves_dlg.h"

#include "core/image.h"
#include "dialogs/tone_widgets.h"
#include "filters/colour/histogram.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

using orvex_colour::CCurvePoint;
using Points = std::vector<CCurvePoint>;

namespace {

Points PointsAt(const std::vector<double>& values, std::size_t first)
{
    return orvex_colour::CurvePointsFromPairs(
        std::vector<double>(values.begin() + static_cast<std::ptrdiff_t>(first),
                            values.begin() + static_cast<std::ptrdiff_t>(first + CCurvesDlg::kPointSlots)));
}

void PutPoints(std::vector<double>& values, std::size_t first, const Points& points)
{
    for (std::size_t i = 0; i < CCurvesDlg::kPointSlots / 2; ++i) {
        const bool used = i < points.size();
        values[first + 2 * i] = used ? points[i].x : -1;
        values[first + 2 * i + 1] = used ? points[i].y : -1;
    }
}

// The ends of a curve that is the identity, as the editor starts.
const Points kDiagonal{{0, 0}, {255, 255}};

} // namespace

CCurvesDlg::CCurvesDlg(const CImage& picture, QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Curves"), parent, std::move(start))
{
    BindOperation("Curves");
    m_curves = {kDiagonal, kDiagonal, kDiagonal, kDiagonal};
    if (values().size() == 1 + kPointSlots) {
        // Start values with points of their own replace the diagonal; the editor completes the ends.
        if (const Points given = PointsAt(values(), 1); !given.empty()) m_curves.all = given;
        AppendOwnSlots(std::vector<double>(kSlots - values().size(), -1.0));
        SetIdentityValues(ValuesFromCurves({}));
    }

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Channel:"), this));
    m_channelBox = new QComboBox(this);
    m_channelBox->addItems(
        {QStringLiteral("RGB"), QStringLiteral("Red"), QStringLiteral("Green"), QStringLiteral("Blue")});
    top->addWidget(m_channelBox);
    top->addStretch();
    extraArea()->addLayout(top);

    m_editor = new CCurveEditor(this);
    m_editor->SetHistogram(orvex_colour::ComputeHistogram(picture));
    extraArea()->addWidget(m_editor, 0, Qt::AlignHCenter);
    m_pointerLine = new QLabel(this);
    m_pointerLine->setMinimumWidth(180);
    extraArea()->addWidget(m_pointerLine);
    AddPreviewBox(true);

    m_editor->SetPoints(m_curves.all);
    m_curves.all = m_editor->points();
    if (values().size() == kSlots) SetValues(ValuesFromCurves(m_curves));

    connect(m_channelBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_channel = static_cast<Channel>(std::clamp(index, 0, 3));
        static const CHistogramView::Channel shown[4] = {CHistogramView::Channel::Luminance,
                                                         CHistogramView::Channel::Red, CHistogramView::Channel::Green,
                                                         CHistogramView::Channel::Blue};
        m_editor->SetChannel(shown[m_channel]);
        m_editor->SetPoints(Current());
    });
    connect(m_editor, &CCurveEditor::pointsChanged, this, [this] {
        Current() = m_editor->points();
        SetValues(ValuesFromCurves(m_curves));
    });
    connect(m_editor, &CCurveEditor::pointerValues, this, [this](int input, int output) {
        m_pointerLine->setText(input < 0 ? QString() : QStringLiteral("Input: %1  Output: %2").arg(input).arg(output));
    });
}

Points& CCurvesDlg::Current()
{
    switch (m_channel) {
    case kRed: return m_curves.red;
    case kGreen: return m_curves.green;
    case kBlue: return m_curves.blue;
    default: return m_curves.all;
    }
}

orvex_colour::CCurvesSettings CCurvesDlg::CurvesFromValues(const std::vector<double>& values)
{
    orvex_colour::CCurvesSettings curves;
    if (values.size() >= 1 + kPointSlots) curves.all = PointsAt(values, 1);
    if (values.size() >= kSlots) {
        curves.red = PointsAt(values, 1 + kPointSlots);
        curves.green = PointsAt(values, 1 + 2 * kPointSlots);
        curves.blue = PointsAt(values, 1 + 3 * kPointSlots);
    }
    return curves;
}

std::vector<double> CCurvesDlg::ValuesFromCurves(const orvex_colour::CCurvesSettings& curves)
{
    std::vector<double> values(kSlots, -1.0);
    values[0] = 'a';
    PutPoints(values, 1, curves.all);
    PutPoints(values, 1 + kPointSlots, curves.red);
    PutPoints(values, 1 + 2 * kPointSlots, curves.green);
    PutPoints(values, 1 + 3 * kPointSlots, curves.blue);
    return values;
}

void CCurvesDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    if (values.size() < kSlots) {
        RenderByTable("Curves", engine, values);
        return;
    }
    Curves(engine, CurvesFromValues(values));
}

void CCurvesDlg::showEvent(QShowEvent* event)
{
    CParamDialog::showEvent(event);
    // Start values other than the identity show at once.
    SetValues(values());
}
