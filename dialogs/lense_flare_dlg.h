#pragma once

#include "core/image.h"
#include "core/image_processor.h"
#include "dialogs/param_dialog.h"

#include <QPoint>
#include <QWidget>

#include <array>
#include <optional>

class QRadioButton;

// "Lens Flare...": the flare centre picked by clicking a thumbnail of the picture, which shows the
// flare as it will look, and the brightness (10..300 %). The thumbnail has an engine of its own;
// the document's picture is only read, once, to make it. values() holds the chosen centre in
// picture pixels (the row's default until one is chosen) and the brightness.
//
// The thumbnail is made at the screen's device pixel ratio: its long side is 200 logical pixels,
// 200 x ratio device pixels, and clicks are mapped in device pixels. At ratio 1 the click mapping
// is the plain one: subtract the letterbox offsets (200 - size) div 2, ignore points outside
// 0..199, and the picture point is trunc(point / scale).
class CLenseFlareDlg : public CParamDialog
{
    Q_OBJECT

public:
    static constexpr int kPickerSize = 200;

    // `ratio` 0 takes the device pixel ratio of the screen the dialog opens on.
    explicit CLenseFlareDlg(const CImage& picture, QWidget* parent = nullptr, double ratio = 0.0,
                            CStartValues start = {});
    ~CLenseFlareDlg() override;

    int brightnessPercent() const;
    // The operation's brightness: the percentage divided by 100 in double precision.
    float brightness() const { return static_cast<float>(value("brightness")); }
    bool centreChosen() const { return m_centre.has_value(); }
    // The chosen centre in thumbnail (device) pixels, and in picture pixels.
    std::optional<QPoint> thumbnailCentre() const { return m_centre; }
    std::optional<QPoint> pictureCentre() const;

    QWidget* picker() const;
    QSlider* brightnessSlider() const { return slider("brightness"); }
    QLineEdit* brightnessBox() const { return valueBox("brightness"); }
    QRadioButton* lensType(int index) const { return m_lensTypes.at(static_cast<std::size_t>(index)); }
    const CImage& thumbnail() const { return m_thumbnail; }
    double scale() const { return m_scale; }
    double ratio() const { return m_ratio; }
    int renderings() const { return m_renderings; }

    // A click at `point` in the picker's logical coordinates, as the mouse delivers it.
    void PickAt(QPointF point);
    // Where the thumbnail's top-left corner sits in the picker, in device pixels.
    QPoint thumbnailOffset() const;

private:
    class CPicker;
    void OnBrightness();
    void RenderFlare();

    double m_renderedBrightness = 1.0;
    double m_ratio = 1.0;
    double m_scale = 1.0;
    CImage m_thumbnail;
    CImage m_clean;
    CImageProcessor m_engine{&m_thumbnail};
    std::optional<QPoint> m_centre;
    int m_renderings = 0;
    CPicker* m_picker = nullptr;
    std::array<QRadioButton*, 4> m_lensTypes{};
};
