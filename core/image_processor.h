#pragma once

#include "core/image.h"
#include "core/progress.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>

// The engine: one per document, bound for its whole life to the document's picture, on which every
// adjustment and filter is an operation. Operations work in place through bits/pitch, return
// nothing (Sign alone returns a status), never show messages and never throw.
//
// Threads: operations normally run on the interface thread. The diffusion operations run on a
// worker while the interface thread polls `running`/`progress` and may raise `cancel`; preview
// renderings run on a worker and write only the work image. The three flags and the progress value
// are the only fields shared between threads.
class CImageProcessor
{
public:
    explicit CImageProcessor(CImage* picture);
    CImageProcessor(const CImageProcessor&) = delete;
    CImageProcessor& operator=(const CImageProcessor&) = delete;

    // ---- state --------------------------------------------------------------------------------
    CImage* image() const { return m_image; }
    CImage& workImage() { return m_workImage; }
    const CImage& workImage() const { return m_workImage; }

    // Surround of the picture in the view and the fill of canvas enlargement, rotation and offset.
    static constexpr std::uint8_t kBackgroundRed = 100;
    static constexpr std::uint8_t kBackgroundGreen = 100;
    static constexpr std::uint8_t kBackgroundBlue = 100;

    std::atomic<std::uint8_t> running{0};
    std::atomic<std::uint8_t> cancel{0};
    std::atomic<std::uint8_t> preview{0};
    std::atomic<float> progress{0.0f};
    // Raised by a worker-run operation just before it starts writing its result into the picture;
    // from then on the run counts as done whatever the cancel flag says. Cleared as a run begins.
    std::atomic<std::uint8_t> committed{0};

    // Where interface-thread operations report progress; null means nobody is watching.
    void SetProgressSink(IProgress* sink) { m_progressSink = sink; }
    IProgress* progressSink() const { return m_progressSink; }

    // Replaces the clock's seconds as the seed of AddNoise and LensFlare (the batch tool's --seed).
    void SetSeedOverride(std::optional<std::uint32_t> seed) { m_seedOverride = seed; }
    // Seeds the calling thread's random generator as a noise or flare run starts.
    void SeedRandomFromClock() const;

    // Set by an operation that could not complete (memory or FFT planning failure); the picture is
    // then unchanged. The caller clears it before an operation and reads it afterwards.
    void ClearFailure() { m_failed.store(false); }
    bool Failed() const { return m_failed.load(); }
    // Raised by the operation that could not complete; kernels kept outside the class (free
    // functions beside their operation's row) raise it too.
    void ReportFailure() { m_failed.store(true); }

    // Where a preview-capable operation writes: the work image while the preview flag is set,
    // otherwise the picture itself; rows are addressed with the picture's pitch. Null when the
    // preview flag is set but the work image does not have the picture's layout, in which case the
    // operation must do nothing.
    std::uint8_t* OutputBits();

    // ---- operations (each defined in filters/<area>/) ------------------------------------------
    // Convolution and frequency domain
    void Average();
    void GaussianBlur(float radius, std::uint8_t gaussian);
    void MotionBlur(int angle, double radius);
    void HighPass(float radius);
    void Sharpen();
    void FindEdges();
    void UnsharpMask(float radius, float amount);
    void CustomFilter(const int* kernel, int scale, int offset);
    // Geometry
    void Rotate180();
    void Rotate90CW();
    void Rotate90CCW();
    void FlipHorizontal();
    void FlipVertical();
    void RotateArbitrary(float angle);
    void ResizeImage(int newWidth, int newHeight, char method);
    // ResizeImage's method 'l': seam carving and seam insertion (filters/geometry/liquid_resize.cpp).
    void LiquidResize(int newWidth, int newHeight);
    void CanvasSize(int newWidth, int newHeight, char anchor);
    void Offset(int horizontal, int vertical, char edgeMode);
    // Rank and diffusion
    void RankFilter(int radius, int mode);
    void TotalVariationDiffusion(int iterations);
    void BalancedDiffusion(int iterations);
    // Colour and tone
    void Invert();
    void Solarize();
    void BrightnessContrast(float contrast, float brightness);
    void ColorBalance(int red, int green, int blue);
    void HueSaturation(float hue, float saturation, float lightness);
    // HueSaturation's conversions, single precision. `pixel` is 3 bytes blue, green, red, and the
    // triple is read blue first, so hue 0 is pure blue, 120 pure green and 240 pure red.
    static void RgbToHsl(const std::uint8_t* pixel, float& hue, float& saturation, float& lightness);
    static void HslToRgb(float hue, float saturation, float lightness, std::uint8_t* pixel);
    void BlackAndWhite(float reds, float greens, float blues);
    void ShowOriginal();
    void Equalize();
    void AutoColor();
    // Effects
    void AddNoise(float amount, bool uniform, bool monochromatic);
    void LensFlare(int x, int y, float brightness);
    void Mosaic(int cellSize);
    void RedEyeReduction();
    void ObtainGrid();
    int Sign();

    // Lens flare's drawing routines. They write into the engine's current image (the picture, or a
    // scratch layer while LensFlare runs), overwrite rather than blend, and skip pixels outside it.
    struct CFlareColor
    {
        int red = 0;
        int green = 0;
        int blue = 0;
    };
    // A one-pixel line from (x0, y0) in `from` to (x1, y1) in `to`, colour interpolated per step.
    void DrawGradientLine(int x0, int y0, int x1, int y1, CFlareColor from, CFlareColor to);
    // The outline of a circle as a polygon of one-degree segments.
    void DrawCircle(int cx, int cy, int radius, CFlareColor colour);
    // One ghost of the flare: concentric outlines around the point at position t on the line from
    // the flare centre (x, y) (t = 0) through the middle of the picture (t = 1). A disc is brightest
    // at its centre, a ring at its rim. Radius 0 or less draws nothing.
    void DrawFlareElement(int x, int y, int radius, CFlareColor colour, bool ring, double t);
    // target = target + source per channel byte, saturating at 255; both of the same size.
    static void AddLayer(const CImage& source, CImage& target);
    // Every channel byte v of the current image becomes trunc(v * factor), held to 0..255.
    void ScaleLayer(float factor);

    // Shows a bar for the length of one operation and steps it. Picks the calling thread's override
    // (preview renderings install one) or else the engine's sink, and forwards only visible changes.
    class ProgressScope
    {
    public:
        ProgressScope(const CImageProcessor& engine, std::string_view label, int range);
        ~ProgressScope();
        ProgressScope(const ProgressScope&) = delete;
        ProgressScope& operator=(const ProgressScope&) = delete;
        void Step() { Set(m_position + 1); }
        void Set(int position);
        // True when the watcher asks the operation to stop early (stale preview renderings).
        bool StopRequested() const { return m_sink && m_sink->StopRequested(); }

    private:
        IProgress* m_sink;
        int m_range;
        int m_position = 0;
        int m_shown = -1;
    };

    // Worker-thread protocol: Begin raises running, clears cancel and progress; End lowers running as
    // the operation's very last action.
    class WorkerScope
    {
    public:
        explicit WorkerScope(CImageProcessor& engine);
        ~WorkerScope();
        WorkerScope(const WorkerScope&) = delete;
        WorkerScope& operator=(const WorkerScope&) = delete;

    private:
        CImageProcessor& m_engine;
    };

    // Installs a progress sink for the calling thread only, for as long as it lives. Preview
    // renderings use it so that a worker never touches the status bar and can be told to stop.
    class ThreadProgressOverride
    {
    public:
        explicit ThreadProgressOverride(IProgress* sink);
        ~ThreadProgressOverride();
        ThreadProgressOverride(const ThreadProgressOverride&) = delete;
        ThreadProgressOverride& operator=(const ThreadProgressOverride&) = delete;

    private:
        IProgress* m_previous;
    };

private:
    CImage* m_image;
    CImage m_workImage;
    IProgress* m_progressSink = nullptr;
    std::optional<std::uint32_t> m_seedOverride;
    std::atomic<bool> m_failed{false};
};
