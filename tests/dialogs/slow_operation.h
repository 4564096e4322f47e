#pragma once

#include "core/image_processor.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

// A preview operation slow enough to overlap with new requests: adds values[0] to every byte of
// the picture, written where the engine says (the work image while previewing). It takes `steps`
// steps of `stepMs` and gives up early when the watcher asks it to stop, as real operations do.
struct SlowAdd
{
    int steps = 10;
    int stepMs = 5;
    std::atomic<int>* running = nullptr;     // renderings in progress now
    std::atomic<int>* mostAtOnce = nullptr;  // the largest value `running` reached
    std::atomic<int>* stoppedEarly = nullptr;
    std::atomic<int>* finished = nullptr;

    void operator()(CImageProcessor& engine, const std::vector<double>& values) const
    {
        if (running) {
            const int now = ++*running;
            if (mostAtOnce) {
                int seen = mostAtOnce->load();
                while (now > seen && !mostAtOnce->compare_exchange_weak(seen, now)) {}
            }
        }
        Render(engine, values);
        if (running) --*running;
    }

    void Render(CImageProcessor& engine, const std::vector<double>& values) const
    {
        CImageProcessor::ProgressScope scope(engine, " Test:", steps);
        for (int i = 0; i < steps; ++i) {
            if (scope.StopRequested()) {
                if (stoppedEarly) ++*stoppedEarly;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
            scope.Step();
        }
        const CImage& picture = *engine.image();
        std::uint8_t* out = engine.OutputBits();
        if (!out) return;
        const int add = static_cast<int>(values.at(0));
        for (int y = 0; y < picture.height(); ++y) {
            const std::uint8_t* in = picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch();
            std::uint8_t* row = out + static_cast<std::ptrdiff_t>(y) * picture.pitch();
            for (int i = 0; i < picture.width() * 3; ++i)
                row[i] = static_cast<std::uint8_t>(std::clamp(in[i] + add, 0, 255));
        }
        if (finished) ++*finished;
    }
};
