#pragma once

#include <string_view>

// How a long engine operation tells the outside world how far it is. The editor shows it as a bar
// in the status bar, the batch tool as a bar on the terminal, tests record it. All calls for one
// operation come from the thread that runs it.
class IProgress
{
public:
    virtual ~IProgress() = default;
    // An operation starts: `label` is shown left of the bar (" Gaussian blur:"), the bar counts
    // from 0 to `range`.
    virtual void Begin(std::string_view label, int range) = 0;
    // The bar moves to `position` (0..range).
    virtual void SetPosition(int position) = 0;
    // The operation has ended; the idle state comes back.
    virtual void End() = 0;
    // Polled between steps by operations that can stop early. Previews use it to abandon stale
    // renderings; the editor's interface-thread operations never stop.
    virtual bool StopRequested() { return false; }
};
