#pragma once

#include "core/progress.h"

#include <iosfwd>
#include <string>

// A one-line text bar for the batch tool:  " Gaussian blur: [##########..........]  50%"
class CTerminalProgress : public IProgress
{
public:
    explicit CTerminalProgress(std::ostream& stream) : m_stream(stream) {}
    void Begin(std::string_view label, int range) override;
    void SetPosition(int position) override;
    void End() override;

private:
    void Draw(int percent);

    std::ostream& m_stream;
    std::string m_label;
    int m_range = 1;
    int m_percent = -1;
};
