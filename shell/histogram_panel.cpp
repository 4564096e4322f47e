#include "shell/histogram_panel.h"

#include "shell/document_host.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

namespace {

using Counts = std::array<std::uint64_t, 256>;

} // namespace

CHistogramPanel::CHistogramPanel(QWidget* parent) : QDockWidget(QStringLiteral("Histogram"), parent)
{
    setObjectName(QStringLiteral("histogramPanel"));
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    m_channels = new QComboBox(body);
    for (const char* name : {"Luminance", "Red", "Green", "Blue", "Colours"})
        m_channels->addItem(QString::fromLatin1(name));
    layout->addWidget(m_channels);
    m_view = new CHistogramView(body);
    // A histogram reads best wide and low: it grows with a floating panel, but beside the
    // documents it keeps about the shape of the dialogs' histograms and leaves the rest empty.
    m_view->setMinimumHeight(120);
    m_view->setMaximumHeight(320);
    layout->addWidget(m_view, 1);
    m_statistics = new QLabel(body);
    m_statistics->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_statistics);
    layout->addStretch(1);
    setWidget(body);
    connect(m_channels, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_view->SetChannel(static_cast<CHistogramView::Channel>(index));
        ShowStatistics();
    });
    ShowStatistics();
    m_worker = std::thread([this] { Run(); });
}

CHistogramPanel::~CHistogramPanel()
{
    Follow(nullptr);
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_pending = nullptr;
        m_cancel = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable()) m_worker.join();
}

void CHistogramPanel::Follow(CDocumentHost* host)
{
    if (host == m_host) return;
    if (m_host) m_host->SetPreviewFrameTap({});
    disconnect(m_updated);
    disconnect(m_closing);
    WaitIdle();
    m_host = host;
    ++m_generation;
    if (host) {
        m_updated = connect(host, &CDocumentHost::viewsUpdated, this, &CHistogramPanel::Request);
        // The document is deleted later; no count may be reading its picture by then.
        m_closing = connect(host, &CDocumentHost::lastViewClosed, this, [this] { Follow(nullptr); });
        host->SetPreviewFrameTap([this](const CImage& frame) {
            if (!m_shown.load()) return;
            const std::uint64_t generation = m_generation.load();
            const orvex_colour::CHistogram counted = orvex_colour::ComputeHistogram(frame);
            QMetaObject::invokeMethod(
                this, [this, generation, counted] { Show(generation, counted); }, Qt::QueuedConnection);
        });
    }
    Request();
}

void CHistogramPanel::Request()
{
    if (m_holds > 0) {
        m_wantedDuringHold = true;
        return;
    }
    const std::uint64_t generation = ++m_generation;
    CDocumentHost* const host = m_host;
    if (!host) {
        Show(generation, {});
        return;
    }
    if (!m_shown.load()) return;
    const CImage* const picture = &host->doc().picture();
    {
        std::lock_guard lock(m_mutex);
        m_pending = picture;
        m_pendingGeneration = generation;
        // The running count is of an older picture state.
        if (m_busy) m_cancel = true;
    }
    m_wake.notify_all();
}

bool CHistogramPanel::WaitIdle()
{
    std::unique_lock lock(m_mutex);
    const bool dropped = m_pending != nullptr;
    m_pending = nullptr;
    m_wake.wait(lock, [this] { return !m_busy; });
    return dropped;
}

CHistogramPanel::CHold::CHold(CHistogramPanel& panel) : m_panel(panel)
{
    if (m_panel.m_holds++ == 0 && m_panel.WaitIdle()) m_panel.m_wantedDuringHold = true;
}

CHistogramPanel::CHold::~CHold()
{
    if (--m_panel.m_holds > 0 || !m_panel.m_wantedDuringHold) return;
    m_panel.m_wantedDuringHold = false;
    m_panel.Request();
}

void CHistogramPanel::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || m_pending; });
        if (m_stopping) return;
        const CImage* picture = m_pending;
        const std::uint64_t generation = m_pendingGeneration;
        m_pending = nullptr;
        m_busy = true;
        m_cancel = false;
        lock.unlock();
        bool counted = false;
        orvex_colour::CHistogram histogram;
        // Nothing may escape this thread: a count that fails shows nothing new.
        try {
            histogram = orvex_colour::ComputeHistogram(*picture, &m_cancel);
            counted = !m_cancel.load();
        } catch (...) {
            counted = false;
        }
        if (counted)
            QMetaObject::invokeMethod(
                this, [this, generation, histogram] { Show(generation, histogram); }, Qt::QueuedConnection);
        lock.lock();
        m_busy = false;
        m_wake.notify_all();
    }
}

void CHistogramPanel::Show(std::uint64_t generation, const orvex_colour::CHistogram& histogram)
{
    if (generation != m_generation.load()) return;
    m_view->SetHistogram(histogram);
    ShowStatistics();
    emit histogramShown();
}

QString CHistogramPanel::Statistics(const orvex_colour::CHistogram& h, CHistogramView::Channel channel)
{
    if (h.pixels == 0) return QStringLiteral("No picture");
    // Colours pools the red, green and blue values of every pixel.
    Counts counts{};
    for (int v = 0; v < 256; ++v) {
        switch (channel) {
        case CHistogramView::Channel::Luminance: counts[v] = h.luminance[v]; break;
        case CHistogramView::Channel::Red: counts[v] = h.red[v]; break;
        case CHistogramView::Channel::Green: counts[v] = h.green[v]; break;
        case CHistogramView::Channel::Blue: counts[v] = h.blue[v]; break;
        case CHistogramView::Channel::Colours: counts[v] = h.red[v] + h.green[v] + h.blue[v]; break;
        }
    }
    std::uint64_t total = 0;
    double sum = 0.0;
    for (int v = 0; v < 256; ++v) {
        total += counts[v];
        sum += static_cast<double>(counts[v]) * v;
    }
    // The lower median: the smallest value that at least half of the values do not exceed.
    int median = 0;
    std::uint64_t below = 0;
    for (int v = 0; v < 256; ++v) {
        below += counts[v];
        if (2 * below >= total) {
            median = v;
            break;
        }
    }
    return QStringLiteral("Pixels: %1  Mean: %2  Median: %3")
        .arg(h.pixels)
        .arg(total ? sum / static_cast<double>(total) : 0.0, 0, 'f', 2)
        .arg(median);
}

void CHistogramPanel::ShowStatistics()
{
    m_statistics->setText(Statistics(m_view->histogram(), m_view->channel()));
}

void CHistogramPanel::closeEvent(QCloseEvent* event)
{
    QDockWidget::closeEvent(event);
    if (event->isAccepted()) emit closedByUser();
}

void CHistogramPanel::showEvent(QShowEvent* event)
{
    QDockWidget::showEvent(event);
    if (!m_shown.exchange(true)) Request();
}

void CHistogramPanel::hideEvent(QHideEvent* event)
{
    QDockWidget::hideEvent(event);
    m_shown = false;
}
