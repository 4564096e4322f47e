#pragma once

#include "core/image_processor.h"

#include <cstddef>
#include <cstdint>

// Where a neighbourhood filter writes. A preview rendering writes the work image directly; a run on
// the picture itself cannot, because the rows it would overwrite are still to be read for the
// neighbours of later rows, so it builds its result in a second picture that Commit swaps in. A
// run that fails or stops before Commit leaves the picture as it was.
class CBesideOutput
{
public:
    // False when there is nothing to write to: no picture, no matching work image, or no memory for
    // the second picture (reported to the engine as a failure).
    bool Begin(CImageProcessor& engine)
    {
        m_picture = engine.image();
        if (!m_picture || m_picture->IsNull() || m_picture->bitsPerPixel() != 24 || m_picture->width() < 1 ||
            m_picture->height() < 1)
            return false;
        std::uint8_t* target = engine.OutputBits();
        if (!target) return false;
        if (target != m_picture->bits()) {
            m_bits = target;
            m_pitch = m_picture->pitch();
            return true;
        }
        if (!m_result.Create(m_picture->width(), m_picture->height(), 24, m_picture->hasAlpha() ? 1u : 0u)) {
            engine.ReportFailure();
            return false;
        }
        m_bits = m_result.bits();
        m_pitch = m_result.pitch();
        return true;
    }
    std::uint8_t* Row(int y) const { return m_bits + static_cast<std::ptrdiff_t>(y) * m_pitch; }
    void Commit()
    {
        if (!m_result.IsNull()) m_picture->SwapWith(m_result);
    }

private:
    CImage* m_picture = nullptr;
    CImage m_result;
    std::uint8_t* m_bits = nullptr;
    std::ptrdiff_t m_pitch = 0;
};
