#include "core/image_processor.h"

#include "core/random.h"

#include <algorithm>
#include <ctime>

namespace {
thread_local IProgress* t_progressOverride = nullptr;
}

CImageProcessor::CImageProcessor(CImage* picture) : m_image(picture) {}

void CImageProcessor::SeedRandomFromClock() const
{
    const std::uint32_t seed =
        m_seedOverride ? *m_seedOverride : static_cast<std::uint32_t>(static_cast<long long>(std::time(nullptr)));
    orvex_random::Seed(seed);
}

std::uint8_t* CImageProcessor::OutputBits()
{
    if (!preview.load()) return m_image->bits();
    const bool sameLayout = !m_workImage.IsNull() && m_workImage.width() == m_image->width() &&
                            m_workImage.height() == m_image->height() &&
                            m_workImage.pitch() == m_image->pitch();
    return sameLayout ? m_workImage.bits() : nullptr;
}

CImageProcessor::ProgressScope::ProgressScope(const CImageProcessor& engine, std::string_view label, int range)
    : m_sink(t_progressOverride ? t_progressOverride : engine.m_progressSink), m_range(std::max(range, 1))
{
    if (m_sink) m_sink->Begin(label, m_range);
}

CImageProcessor::ProgressScope::~ProgressScope()
{
    if (m_sink) m_sink->End();
}

void CImageProcessor::ProgressScope::Set(int position)
{
    m_position = std::clamp(position, 0, m_range);
    if (!m_sink) return;
    // Forward at most ~500 updates per operation: a repaint per row would cost more than the row.
    const int shown = static_cast<int>(static_cast<long long>(m_position) * 500 / m_range);
    if (shown != m_shown) {
        m_shown = shown;
        m_sink->SetPosition(m_position);
    }
}

CImageProcessor::WorkerScope::WorkerScope(CImageProcessor& engine) : m_engine(engine)
{
    m_engine.running.store(1);
    m_engine.cancel.store(0);
    m_engine.committed.store(0);
    m_engine.progress.store(0.0f);
}

CImageProcessor::WorkerScope::~WorkerScope()
{
    m_engine.running.store(0);
}

CImageProcessor::ThreadProgressOverride::ThreadProgressOverride(IProgress* sink) : m_previous(t_progressOverride)
{
    t_progressOverride = sink;
}

CImageProcessor::ThreadProgressOverride::~ThreadProgressOverride()
{
    t_progressOverride = m_previous;
}
