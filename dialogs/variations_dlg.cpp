#include "dialogs/variations_dlg.h"

#include "filters/colour/variations.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

namespace {

const char* const kCaptions[CVariationsDlg::kChoices] = {"More Red",  "More Green",   "More Blue",
                                                         "Lighter",   "Current Pick", "Darker",
                                                         "More Cyan", "More Magenta", "More Yellow"};

const char* const kParameters[4] = {"red", "green", "blue", "lightness"};

QPixmap ToPixmap(const CImage& picture)
{
    if (picture.IsNull()) return {};
    QImage image(picture.width(), picture.height(), QImage::Format_BGR888);
    if (image.isNull()) return {};
    for (int y = 0; y < picture.height(); ++y)
        std::memcpy(image.scanLine(y), picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch(),
                    static_cast<std::size_t>(picture.width()) * 3);
    return QPixmap::fromImage(image);
}

// `source` through the variation's tables into `out` (the same size).
void Vary(const CImage& source, CImage& out, const std::array<int, 4>& v)
{
    if (source.IsNull() || !out.CopyFrom(source)) return;
    const orvex_colour::CVariationTables t = orvex_colour::MakeVariationTables(v[0], v[1], v[2], v[3]);
    for (int y = 0; y < out.height(); ++y) {
        std::uint8_t* p = out.bits() + static_cast<std::ptrdiff_t>(y) * out.pitch();
        for (int x = 0; x < out.width(); ++x, p += 3) {
            p[0] = t.blue[p[0]];
            p[1] = t.green[p[1]];
            p[2] = t.red[p[2]];
        }
    }
}

} // namespace

CVariationsDlg::CVariationsDlg(const CImage& picture, QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Variations"), parent, std::move(start))
{
    BindOperation("Variations");
    for (const char* parameter : kParameters) AddValue(parameter);
    orvex_colour::ReducePicture(picture, kThumbnailSide, m_reduced);

    auto* area = new QHBoxLayout;
    auto* originalColumn = new QVBoxLayout;
    m_original = new QToolButton(this);
    m_original->setText(QStringLiteral("Original"));
    originalColumn->addWidget(m_original);
    originalColumn->addStretch(1);
    area->addLayout(originalColumn);
    auto* grid = new QGridLayout;
    for (int i = 0; i < kChoices; ++i) {
        auto* button = new QToolButton(this);
        button->setText(QString::fromUtf8(kCaptions[i]));
        grid->addWidget(button, i / 3, i % 3);
        m_buttons[static_cast<std::size_t>(i)] = button;
        connect(button, &QToolButton::clicked, this, [this, i] { Choose(static_cast<Choice>(i)); });
    }
    area->addLayout(grid);
    connect(m_original, &QToolButton::clicked, this, &CVariationsDlg::ResetToOriginal);
    const QSize side(kThumbnailSide, kThumbnailSide);
    for (QToolButton* button : m_buttons) {
        button->setIconSize(side);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setFocusPolicy(Qt::StrongFocus);
    }
    m_original->setIconSize(side);
    m_original->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_original->setFocusPolicy(Qt::StrongFocus);
    m_original->setIcon(QIcon(ToPixmap(m_reduced)));

    auto* fineness = new QHBoxLayout;
    fineness->addWidget(new QLabel(QStringLiteral("Fine"), this));
    m_fineness = new QSlider(Qt::Horizontal, this);
    m_fineness->setRange(0, kCoarsest);
    m_fineness->setValue(kStartFineness);
    m_fineness->setTickPosition(QSlider::TicksBelow);
    fineness->addWidget(m_fineness, 1);
    fineness->addWidget(new QLabel(QStringLiteral("Coarse"), this));
    connect(m_fineness, &QSlider::valueChanged, this, &CVariationsDlg::Refresh);

    extraArea()->addLayout(fineness);
    extraArea()->addLayout(area);
    Refresh();
}

CVariationsDlg::~CVariationsDlg() = default;

int CVariationsDlg::step() const
{
    return StepAt(m_fineness->value());
}

std::array<int, 4> CVariationsDlg::StepOf(Choice choice) const
{
    const int s = step();
    switch (choice) {
    case kMoreRed: return {s, 0, 0, 0};
    case kMoreGreen: return {0, s, 0, 0};
    case kMoreBlue: return {0, 0, s, 0};
    case kMoreCyan: return {-s, 0, 0, 0};
    case kMoreMagenta: return {0, -s, 0, 0};
    case kMoreYellow: return {0, 0, -s, 0};
    case kLighter: return {0, 0, 0, s};
    case kDarker: return {0, 0, 0, -s};
    default: return {0, 0, 0, 0};
    }
}

void CVariationsDlg::Choose(Choice choice)
{
    const std::array<int, 4> add = StepOf(choice);
    for (int i = 0; i < 4; ++i) {
        const int now = static_cast<int>(value(kParameters[i]));
        SetValue(kParameters[i], std::clamp(now + add[static_cast<std::size_t>(i)], -255, 255));
    }
    Refresh();
}

void CVariationsDlg::ResetToOriginal()
{
    for (const char* parameter : kParameters) SetValue(parameter, 0);
    Refresh();
}

void CVariationsDlg::Refresh()
{
    std::array<int, 4> pick{};
    for (int i = 0; i < 4; ++i) pick[static_cast<std::size_t>(i)] = static_cast<int>(value(kParameters[i]));
    for (int i = 0; i < kChoices; ++i) {
        const std::array<int, 4> add = StepOf(static_cast<Choice>(i));
        std::array<int, 4> shown{};
        for (std::size_t j = 0; j < 4; ++j) shown[j] = std::clamp(pick[j] + add[j], -255, 255);
        CImage& thumbnail = m_thumbnails[static_cast<std::size_t>(i)];
        Vary(m_reduced, thumbnail, shown);
        m_buttons[static_cast<std::size_t>(i)]->setIcon(QIcon(ToPixmap(thumbnail)));
    }
}
