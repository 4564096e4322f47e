#include "shell/status_fields.h"

#include "shell/orvex_view.h"

#include <QPainter>
#include <QStatusBar>

CColourSwatch::CColourSwatch(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize CColourSwatch::sizeHint() const
{
    const int side = fontMetrics().height() - 2;
    return {side, side};
}

void CColourSwatch::SetColour(std::optional<QColor> colour)
{
    if (colour == m_colour) return;
    m_colour = colour;
    update();
}

void CColourSwatch::paintEvent(QPaintEvent*)
{
    if (!m_colour) return;
    QPainter painter(this);
    painter.fillRect(rect(), *m_colour);
    // A frame that shows against the bar whether the colour is light or dark.
    painter.setPen(QColor(40, 40, 40));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

CStatusFields::CStatusFields(QStatusBar& bar) : QObject(&bar)
{
    m_preview = AddField(bar, QStringLiteral("Preview"));
    m_position = AddField(bar, QStringLiteral("x 00000, y 00000"));
    m_swatch = new CColourSwatch(&bar);
    bar.addPermanentWidget(m_swatch);
    m_colour = AddField(bar, QStringLiteral("R 000 G 000 B 000 #000000"));
    m_size = AddField(bar, QStringLiteral("00000 x 00000"));
    m_zoom = AddField(bar, QStringLiteral("0000%"));
    Update();
}

QLabel* CStatusFields::AddField(QStatusBar& bar, const QString& widest)
{
    auto* field = new QLabel(&bar);
    field->setAlignment(Qt::AlignCenter);
    field->setMinimumWidth(field->fontMetrics().horizontalAdvance(widest) + 8);
    bar.addPermanentWidget(field);
    return field;
}

void CStatusFields::Follow(COrvexView* view)
{
    if (view != m_view || !view) {
        for (const QMetaObject::Connection& c : m_connections) disconnect(c);
        m_connections.clear();
        m_pointer.reset();
        m_view = view;
        if (view) {
            m_connections << connect(view, &COrvexView::layoutChanged, this, &CStatusFields::Update)
                          << connect(view, &COrvexView::shownChanged, this, &CStatusFields::Update)
                          << connect(view, &COrvexView::pointerMoved, this, [this](QPoint at) { PointerAt(at); })
                          << connect(view, &COrvexView::pointerLeft, this, [this] { PointerAt(std::nullopt); })
                          << connect(view, &QObject::destroyed, this, [this] { Follow(nullptr); });
        }
    }
    Update();
}

void CStatusFields::PointerAt(std::optional<QPoint> viewportPos)
{
    m_pointer = viewportPos;
    Update();
}

void CStatusFields::SetText(QLabel* field, const QString& text)
{
    // Setting a label's text, even the same one, asks the bar to lay out again.
    if (field->text() != text) field->setText(text);
}

void CStatusFields::Update()
{
    COrvexView* view = m_view;
    const bool picture = view && !view->document().picture().IsNull();
    std::optional<QPoint> pixel;
    std::optional<QRgb> colour;
    if (picture && m_pointer) pixel = view->PixelAt(*m_pointer);
    if (pixel) colour = view->ShownColourAt(*pixel);

    SetText(m_preview, view && view->showingPreview() ? QStringLiteral("Preview") : QString());
    SetText(m_position, pixel ? QStringLiteral("x %1, y %2").arg(pixel->x()).arg(pixel->y()) : QString());
    SetText(m_colour, colour ? QString::asprintf("R %d G %d B %d #%02X%02X%02X", qRed(*colour), qGreen(*colour),
                                                 qBlue(*colour), qRed(*colour), qGreen(*colour), qBlue(*colour))
                             : QString());
    m_swatch->SetColour(colour ? std::optional<QColor>(QColor(*colour)) : std::nullopt);
    // Without a document window the fields leave the bar to the prompts and the progress bar.
    if (m_zoom->isVisibleTo(m_zoom->parentWidget()) != (view != nullptr))
        for (QWidget* field :
             {static_cast<QWidget*>(m_preview), static_cast<QWidget*>(m_position), static_cast<QWidget*>(m_swatch),
              static_cast<QWidget*>(m_colour), static_cast<QWidget*>(m_size), static_cast<QWidget*>(m_zoom)})
            field->setVisible(view != nullptr);
    if (picture) {
        const CImage& image = view->document().picture();
        SetText(m_size, QStringLiteral("%1 x %2").arg(image.width()).arg(image.height()));
        SetText(m_zoom, QString::number(view->zoomPercent()) + QLatin1Char('%'));
    } else {
        SetText(m_size, QString());
        SetText(m_zoom, QString());
    }
}
