#include "dialogs/loupe.h"

#include <QPainter>

#include <cmath>

namespace {
// A one-pixel frame, so the square stands apart from the dialog on any picture.
constexpr int kBorder = 1;
} // namespace

CLoupe::CLoupe(QWidget* parent) : QWidget(parent)
{
    setFixedSize(sizeHint());
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    hide();
}

int CLoupe::DeviceSide() const
{
    return static_cast<int>(std::lround(kSide * devicePixelRatioF()));
}

void CLoupe::Show(QImage pixels)
{
    m_pixels = std::move(pixels);
    // Drawn into the logical square one image pixel per device pixel.
    m_pixels.setDevicePixelRatio(devicePixelRatioF());
    if (isHidden()) show();
    update();
}

QSize CLoupe::sizeHint() const
{
    return {kSide + 2 * kBorder, kSide + 2 * kBorder};
}

void CLoupe::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Dark));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    const QRect inside = rect().adjusted(kBorder, kBorder, -kBorder, -kBorder);
    if (m_pixels.isNull()) {
        painter.fillRect(inside, palette().color(QPalette::Window));
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(inside.topLeft(), m_pixels);
}
