#pragma once

#include "core/image.h"
#include "core/image_processor.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Renders the live previews of one parameter dialog on one worker thread.
//
// Contract:
// - renderings run one at a time, so two never write the work image together;
// - the latest request wins: a newer request makes the running rendering stale (it is told to stop
//   through IProgress::StopRequested and its result is never shown) and replaces any request that
//   has not started yet;
// - no rendering starts once the engine's preview flag is clear or Stop() has been called, and
//   Stop() returns only when the worker has finished;
// - a burst of requests starts at most one rendering per kThrottle, so dragging a slider over a
//   fast operation does not queue dozens of renderings while an isolated change starts at once;
// - a rendering that throws is never shown, and the worker goes on serving requests.
//
// The view never paints the work image directly while a renderer is attached: a finished,
// non-stale rendering is copied into the shown frame under a lock, so the screen only ever shows
// complete renderings of the newest values. Until the first rendering the shown frame is what the
// work image held when the renderer was made (the picture, as the preview command prepares it).
class CPreviewRenderer : public QObject
{
    Q_OBJECT

public:
    // The operation of one preview: reads the picture, writes the work image (the engine's preview
    // flag is set), with the values captured when the request was made.
    using Render = std::function<void(CImageProcessor& engine, const std::vector<double>& values)>;

    static constexpr std::chrono::milliseconds kThrottle{100};

    // For an operation that always writes the picture it is bound to (the blurs, the rank filters):
    // while the preview flag is set, `call` runs on a copy of the picture in the work image, through
    // an engine of its own bound to that copy, so the picture is never touched; a rendering that
    // fails leaves no work image, and so is never shown. Without the flag `call` runs as it is.
    static Render Aside(Render call);

    CPreviewRenderer(CImageProcessor& engine, Render render, QObject* parent = nullptr);
    ~CPreviewRenderer() override;
    CPreviewRenderer(const CPreviewRenderer&) = delete;
    CPreviewRenderer& operator=(const CPreviewRenderer&) = delete;

    // Called on the rendering thread with every new frame once it is shown and still of the newest
    // request; nothing writes the frame during the call. For whoever measures what the preview
    // shows (the histogram panel). Set it before the first request.
    void SetFrameObserver(std::function<void(const CImage& frame)> observer);

    void Request(std::vector<double> values);
    // Makes every rendering stale, waits for the worker and refuses further requests.
    void Stop();

    // Calls `reader` with the newest complete rendering (or the picture before the first one)
    // while holding the frame lock. Interface thread only.
    void ReadFrame(const std::function<void(const CImage&)>& reader) const;

    // Hands the shown frame over to `out` when applying `values` to `source` would only render it
    // again: it is a complete rendering of exactly these values, of the newest request, from this
    // very picture (same buffer and layout), and has the picture's layout. Otherwise returns false
    // and changes nothing. Only after Stop().
    bool TakeFrame(const std::vector<double>& values, const CImage& source, CImage& out);

    // For tests and benchmarks.
    int renderingsStarted() const;
    bool Idle() const;
    std::optional<std::vector<double>> shownValues() const;

signals:
    // A rendering of the newest request is in the shown frame (emitted on the interface thread).
    void frameReady();

private:
    class StopSink;
    void Run();
    bool Stale(std::uint64_t generation) const;

    CImageProcessor& m_engine;
    Render m_render;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<std::vector<double>> m_pending;
    // Read by StopRequested from inside the operation, hence atomic rather than under the mutex.
    std::atomic<std::uint64_t> m_generation{0}; // of the newest request
    std::atomic<bool> m_stopping{false};
    bool m_busy = false;
    int m_started = 0;
    std::chrono::steady_clock::time_point m_lastStart{};
    std::function<void(const CImage&)> m_observer; // under m_mutex

    mutable std::mutex m_frameMutex;
    CImage m_frame;
    bool m_hasFrame = false;
    std::optional<std::vector<double>> m_frameValues;
    // What the shown frame was rendered from: its request and the picture's buffer and layout.
    std::uint64_t m_frameGeneration = 0;
    const std::uint8_t* m_frameSourceBits = nullptr;
    int m_frameSourceWidth = 0;
    int m_frameSourceHeight = 0;
    int m_frameSourcePitch = 0;

    std::thread m_worker;
};
