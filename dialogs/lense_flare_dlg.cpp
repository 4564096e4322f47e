#include "dialogs/lense_flare_dlg.h"

#include "core/parallel.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Area-averaging reduction of `source` to dw x dh: each thumbnail pixel is the rounded mean of the
// block of picture pixels it covers (one pixel, the nearest, when enlarging).
bool ReducePicture(const CImage& source, int dw, int dh, CImage& out)
{
    if (!out.Create(dw, dh, 24)) return false;
    const int w = source.width();
    const int h = source.height();
    const auto from = [](int d, int size, int dsize) { return static_cast<int>(static_cast<long long>(d) * size / dsize); };
    ParallelFor(0, dh, [&](int y0, int y1) {
        for (int dy = y0; dy < y1; ++dy) {
            const int sy0 = from(dy, h, dh);
            const int sy1 = std::max(sy0 + 1, from(dy + 1, h, dh));
            std::uint8_t* o = out.bits() + static_cast<std::ptrdiff_t>(dy) * out.pitch();
            for (int dx = 0; dx < dw; ++dx) {
                const int sx0 = from(dx, w, dw);
                const int sx1 = std::max(sx0 + 1, from(dx + 1, w, dw));
                long long sum[3] = {0, 0, 0};
                for (int sy = sy0; sy < sy1; ++sy) {
                    const std::uint8_t* s = source.bits() + static_cast<std::ptrdiff_t>(sy) * source.pitch() + 3 * sx0;
                    for (int sx = sx0; sx < sx1; ++sx, s += 3)
                        for (int c = 0; c < 3; ++c) sum[c] += s[c];
                }
                const long long count = static_cast<long long>(sx1 - sx0) * (sy1 - sy0);
                for (int c = 0; c < 3; ++c) o[3 * dx + c] = static_cast<std::uint8_t>((sum[c] + count / 2) / count);
            }
        }
    });
    return true;
}

QImage ToQImage(const CImage& picture)
{
    QImage image(picture.width(), picture.height(), QImage::Format_BGR888);
    if (image.isNull()) return image;
    for (int y = 0; y < picture.height(); ++y)
        std::memcpy(image.scanLine(y), picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch(),
                    static_cast<std::size_t>(picture.width()) * 3);
    return image;
}

} // namespace

// The picture control: the thumbnail centred over the background colour, a cross on the chosen
// centre; clicks go to the dialog.
class CLenseFlareDlg::CPicker : public QWidget
{
public:
    explicit CPicker(CLenseFlareDlg& dialog) : QWidget(&dialog), m_dialog(dialog)
    {
        setFixedSize(kPickerSize, kPickerSize);
        setCursor(Qt::CrossCursor);
    }

    void Refresh()
    {
        m_image = ToQImage(m_dialog.m_thumbnail);
        m_image.setDevicePixelRatio(m_dialog.m_ratio);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(CImageProcessor::kBackgroundRed, CImageProcessor::kBackgroundGreen,
                                        CImageProcessor::kBackgroundBlue));
        const double ratio = m_dialog.m_ratio;
        const QPoint offset = m_dialog.thumbnailOffset();
        const QPointF origin(offset.x() / ratio, offset.y() / ratio);
        if (!m_image.isNull()) painter.drawImage(origin, m_image);
        if (m_dialog.m_centre) {
            const QPointF c = origin + QPointF((m_dialog.m_centre->x() + 0.5) / ratio, (m_dialog.m_centre->y() + 0.5) / ratio);
            painter.setRenderHint(QPainter::Antialiasing);
            for (const auto& [colour, width] : {std::pair{QColor(0, 0, 0, 160), 3.0}, std::pair{QColor(Qt::white), 1.0}}) {
                painter.setPen(QPen(colour, width));
                painter.drawLine(c - QPointF(6, 0), c + QPointF(6, 0));
                painter.drawLine(c - QPointF(0, 6), c + QPointF(0, 6));
            }
        }
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton) m_dialog.PickAt(event->position());
    }

private:
    CLenseFlareDlg& m_dialog;
    QImage m_image;
};

CLenseFlareDlg::CLenseFlareDlg(const CImage& picture, QWidget* parent, double ratio, CStartValues start)
    : CParamDialog(QStringLiteral("Lens Flare"), parent, std::move(start))
{
    // The centre is picked on the thumbnail, so only the brightness is a control of the row's.
    BindOperation("LensFlare");
    if (!(ratio > 0.0)) ratio = parent ? parent->devicePixelRatioF() : qGuiApp->devicePixelRatio();
    m_ratio = std::clamp(ratio, 1.0, 4.0);

    auto* pickerArea = new QVBoxLayout;
    pickerArea->addWidget(new QLabel(QStringLiteral("Flare Center:"), this));
    m_picker = new CPicker(*this);
    pickerArea->addWidget(m_picker, 0, Qt::AlignHCenter);
    // The picture control comes first, above the brightness slider.
    if (auto* top = qobject_cast<QVBoxLayout*>(layout())) top->insertLayout(0, pickerArea);
    else extraArea()->addLayout(pickerArea);

    AddSlider("brightness", QStringLiteral("Brightness:"), CValueFormat::Plain().WithUnit(QStringLiteral("%")),
              CSliderScale::Percent(10, 300));
    m_renderedBrightness = value("brightness");
    connect(brightnessSlider(), &QSlider::valueChanged, this, &CLenseFlareDlg::OnBrightness);

    auto* lens = new QGroupBox(QStringLiteral("Lens Type"), this);
    auto* lensButtons = new QVBoxLayout(lens);
    const char* names[4] = {"50-300mm Zoom", "35mm Prime", "105mm Prime", "Movie Prime"};
    for (int i = 0; i < 4; ++i) {
        auto* button = new QRadioButton(QString::fromUtf8(names[i]), lens);
        // Only the zoom lens is drawn; the lens type never reaches the operation.
        button->setEnabled(i == 0);
        button->setChecked(i == 0);
        lensButtons->addWidget(button);
        m_lensTypes[static_cast<std::size_t>(i)] = button;
    }
    extraArea()->addWidget(lens);

    // The thumbnail: long side 200 logical pixels, never an empty side on a very long picture.
    if (!picture.IsNull() && picture.width() > 0 && picture.height() > 0) {
        const int side = static_cast<int>(kPickerSize * m_ratio);
        m_scale = static_cast<double>(side) / std::max(picture.width(), picture.height());
        const int tw = std::max(1, static_cast<int>(picture.width() * m_scale));
        const int th = std::max(1, static_cast<int>(picture.height() * m_scale));
        if (ReducePicture(picture, tw, th, m_thumbnail)) m_clean.CopyFrom(m_thumbnail);
    }
    m_picker->Refresh();
}

CLenseFlareDlg::~CLenseFlareDlg() = default;

int CLenseFlareDlg::brightnessPercent() const
{
    return brightnessSlider()->value();
}

QWidget* CLenseFlareDlg::picker() const
{
    return m_picker;
}

std::optional<QPoint> CLenseFlareDlg::pictureCentre() const
{
    if (!m_centre) return std::nullopt;
    return QPoint(static_cast<int>(m_centre->x() / m_scale), static_cast<int>(m_centre->y() / m_scale));
}

QPoint CLenseFlareDlg::thumbnailOffset() const
{
    const int side = static_cast<int>(kPickerSize * m_ratio);
    return QPoint((side - m_thumbnail.width()) / 2, (side - m_thumbnail.height()) / 2);
}

void CLenseFlareDlg::PickAt(QPointF point)
{
    if (m_thumbnail.IsNull()) return;
    const int side = static_cast<int>(kPickerSize * m_ratio);
    const QPoint offset = thumbnailOffset();
    const int x = static_cast<int>(std::floor(point.x() * m_ratio)) - offset.x();
    const int y = static_cast<int>(std::floor(point.y() * m_ratio)) - offset.y();
    // Points in the letterbox bands count: the flare centre may lie off the picture.
    if (x < 0 || y < 0 || x >= side || y >= side) return;
    m_centre = QPoint(x, y);
    const QPoint centre = *pictureCentre();
    SetValue("x", centre.x());
    SetValue("y", centre.y());
    RenderFlare();
}

void CLenseFlareDlg::OnBrightness()
{
    // The base has stored the new position already.
    if (value("brightness") == m_renderedBrightness) return;
    m_renderedBrightness = value("brightness");
    if (m_centre) RenderFlare();
}

void CLenseFlareDlg::RenderFlare()
{
    if (!m_centre || m_clean.IsNull() || !m_thumbnail.CopyFrom(m_clean)) return;
    m_renderedBrightness = value("brightness");
    m_engine.ClearFailure();
    m_engine.LensFlare(m_centre->x(), m_centre->y(), brightness());
    ++m_renderings;
    m_picker->Refresh();
}
