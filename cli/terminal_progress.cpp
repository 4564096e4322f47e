#include "cli/terminal_progress.h"

#include <ostream>

void CTerminalProgress::Begin(std::string_view label, int range)
{
    m_label.assign(label);
    m_range = range > 0 ? range : 1;
    m_percent = -1;
    Draw(0);
}

void CTerminalProgress::SetPosition(int position)
{
    const int percent = static_cast<int>(static_cast<long long>(position) * 100 / m_range);
    if (percent != m_percent) Draw(percent);
}

void CTerminalProgress::End()
{
    Draw(100);
    m_stream << '\n' << std::flush;
}

void CTerminalProgress::Draw(int percent)
{
    constexpr int kWidth = 30;
    m_percent = percent;
    const int filled = percent * kWidth / 100;
    m_stream << '\r' << m_label << " [" << std::string(static_cast<std::size_t>(filled), '#')
             << std::string(static_cast<std::size_t>(kWidth - filled), '.') << "] ";
    if (percent < 100) m_stream << ' ';
    if (percent < 10) m_stream << ' ';
    m_stream << percent << '%' << std::flush;
}
