#include "dialogs/preview_renderer.h"

#include <QMetaObject>

class CPreviewRenderer::StopSink : public IProgress
{
public:
    StopSink(const CPreviewRenderer& owner, std::uint64_t generation) : m_owner(owner), m_generation(generation) {}
    // A preview never shows a bar: the status bar belongs to the interface thread.
    void Begin(std::string_view, int) override {}
    void SetPosition(int) override {}
    void End() override {}
    bool StopRequested() override { return m_owner.Stale(m_generation); }

private:
    const CPreviewRenderer& m_owner;
    std::uint64_t m_generation;
};

CPreviewRenderer::Render CPreviewRenderer::Aside(Render call)
{
    return [call = std::move(call)](CImageProcessor& engine, const std::vector<double>& values) {
        // The same render applies the values on OK, to the picture itself.
        if (!engine.preview.load()) {
            call(engine, values);
            return;
        }
        CImage& work = engine.workImage();
        if (!work.CopyFrom(*engine.image())) {
            work.Destroy();
            return;
        }
        CImageProcessor aside(&work);
        call(aside, values);
        if (aside.Failed()) work.Destroy();
    };
}

CPreviewRenderer::CPreviewRenderer(CImageProcessor& engine, Render render, QObject* parent)
    : QObject(parent), m_engine(engine), m_render(std::move(render))
{
    // The shown frame starts as what the work image holds (the picture, as the preview command
    // prepares it), so that every rendering can trade buffers with it instead of copying.
    m_hasFrame = !m_engine.workImage().IsNull() && m_frame.CopyFrom(m_engine.workImage());
    m_worker = std::thread([this] { Run(); });
}

CPreviewRenderer::~CPreviewRenderer()
{
    Stop();
}

void CPreviewRenderer::SetFrameObserver(std::function<void(const CImage& frame)> observer)
{
    std::lock_guard lock(m_mutex);
    m_observer = std::move(observer);
}

void CPreviewRenderer::Request(std::vector<double> values)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping.load()) return;
        m_pending = std::move(values);
        m_generation.fetch_add(1);
    }
    m_wake.notify_all();
}

void CPreviewRenderer::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping.store(true);
        m_pending.reset();
    }
    m_wake.notify_all();
    if (m_worker.joinable()) m_worker.join();
}

bool CPreviewRenderer::Stale(std::uint64_t generation) const
{
    return m_stopping.load() || m_generation.load() != generation;
}

void CPreviewRenderer::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping.load() || m_pending.has_value(); });
        if (m_stopping.load()) return;

        // Throttle bursts: requests arriving meanwhile simply replace the pending one.
        const auto earliest = m_lastStart + kThrottle;
        while (!m_stopping.load() && std::chrono::steady_clock::now() < earliest)
            m_wake.wait_until(lock, earliest);
        if (m_stopping.load()) return;
        if (!m_pending) continue;

        std::vector<double> values = std::move(*m_pending);
        m_pending.reset();
        const std::uint64_t generation = m_generation.load();
        if (!m_engine.preview.load()) continue;
        m_busy = true;
        ++m_started;
        m_lastStart = std::chrono::steady_clock::now();
        lock.unlock();

        StopSink sink(*this, generation);
        const CImage& source = *m_engine.image();
        // The interface thread runs no operation while a preview dialog is open, so the engine's
        // failure flag is this rendering's alone.
        m_engine.ClearFailure();
        // A rendering that throws (memory ran out) is dropped like a failed one and the renderer
        // waits for the next request: off the interface thread nothing would catch it.
        bool rendered = true;
        try {
            CImageProcessor::ThreadProgressOverride progressOverride(&sink);
            m_render(m_engine, values);
        } catch (...) {
            rendered = false;
        }
        // A failed rendering leaves whatever the work image held before: an older frame.
        const bool failed = m_engine.Failed() || m_engine.workImage().IsNull();
        m_engine.ClearFailure();

        bool shown = false;
        {
            std::lock_guard frameLock(m_frameMutex);
            if (rendered && !failed && !Stale(generation)) {
                CImage& work = m_engine.workImage();
                const bool sameLayout = m_hasFrame && m_frame.width() == work.width() &&
                                        m_frame.height() == work.height() && m_frame.pitch() == work.pitch();
                // The two buffers trade places instead of copying a whole picture per rendering;
                // the work image then holds an older complete rendering, which the next overwrites.
                if (sameLayout) m_frame.SwapWith(work);
                else m_hasFrame = m_frame.CopyFrom(work);
                if (m_hasFrame) {
                    m_frameValues = values;
                    m_frameGeneration = generation;
                    m_frameSourceBits = source.bits();
                    m_frameSourceWidth = source.width();
                    m_frameSourceHeight = source.height();
                    m_frameSourcePitch = source.pitch();
                    shown = true;
                } else {
                    m_frameValues.reset();
                }
            }
        }
        if (shown && !Stale(generation)) {
            // Only this thread swaps the shown frame, and TakeFrame waits for Stop(), so the frame
            // stays as it is without the frame lock (which would hold up the painting).
            std::function<void(const CImage&)> observer;
            {
                std::lock_guard observerLock(m_mutex);
                observer = m_observer;
            }
            if (observer) {
                try {
                    observer(m_frame);
                } catch (...) {
                    // Measuring a frame never stops the previews.
                }
            }
        }
        if (shown) {
            // Queued on this object: if the dialog (and this renderer) is gone first, it is dropped.
            QMetaObject::invokeMethod(this, [this, generation] {
                if (m_generation.load() == generation) emit frameReady();
            }, Qt::QueuedConnection);
        }

        lock.lock();
        m_busy = false;
        m_wake.notify_all();
    }
}

void CPreviewRenderer::ReadFrame(const std::function<void(const CImage&)>& reader) const
{
    std::lock_guard frameLock(m_frameMutex);
    reader(m_hasFrame ? m_frame : *m_engine.image());
}

bool CPreviewRenderer::TakeFrame(const std::vector<double>& values, const CImage& source, CImage& out)
{
    std::lock_guard frameLock(m_frameMutex);
    if (!m_hasFrame || !m_frameValues || *m_frameValues != values) return false;
    if (m_frameGeneration != m_generation.load()) return false;
    if (m_frameSourceBits != source.bits() || m_frameSourceWidth != source.width() ||
        m_frameSourceHeight != source.height() || m_frameSourcePitch != source.pitch())
        return false;
    // Size-changing previews never become the picture: the command's own render decides the size.
    if (m_frame.width() != source.width() || m_frame.height() != source.height() || m_frame.pitch() != source.pitch() ||
        m_frame.bitsPerPixel() != source.bitsPerPixel() || m_frame.hasAlpha() != source.hasAlpha() ||
        m_frame.transparentColor() != source.transparentColor())
        return false;
    out.SwapWith(m_frame);
    m_frame.Destroy();
    m_hasFrame = false;
    m_frameValues.reset();
    return true;
}

int CPreviewRenderer::renderingsStarted() const
{
    std::lock_guard lock(m_mutex);
    return m_started;
}

bool CPreviewRenderer::Idle() const
{
    std::lock_guard lock(m_mutex);
    return !m_busy && !m_pending.has_value();
}

std::optional<std::vector<double>> CPreviewRenderer::shownValues() const
{
    std::lock_guard frameLock(m_frameMutex);
    return m_frameValues;
}
