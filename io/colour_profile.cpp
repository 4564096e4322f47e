#include "io/colour_profile.h"

#include "core/parallel.h"

#include <lcms2.h>

#include <string>
#include <unordered_map>
#include <memory>
#include <mutex>

namespace {

struct TransformDeleter
{
    void operator()(void* transform) const
    {
        if (transform) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform));
    }
};
using Transform = std::unique_ptr<void, TransformDeleter>;

// Built on first use per profile (a few milliseconds each) and kept for the life of the program;
// documents rarely bring more than a handful of distinct profiles.
cmsHTRANSFORM TransformFor(const std::vector<std::uint8_t>& icc)
{
    static std::mutex lock;
    static std::unordered_map<std::string, Transform> transforms;
    const std::lock_guard<std::mutex> guard(lock);
    std::string key(reinterpret_cast<const char*>(icc.data()), icc.size());
    const auto found = transforms.find(key);
    if (found != transforms.end()) return static_cast<cmsHTRANSFORM>(found->second.get());

    cmsHTRANSFORM transform = nullptr;
    if (cmsHPROFILE input = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()))) {
        if (cmsGetColorSpace(input) == cmsSigRgbData) {
            cmsHPROFILE srgb = cmsCreate_sRGBProfile();
            // QImage's 32-bit pixels lie in memory as blue, green, red, alpha.
            transform = cmsCreateTransform(input, TYPE_BGRA_8, srgb, TYPE_BGRA_8, INTENT_RELATIVE_COLORIMETRIC,
                                           cmsFLAGS_COPY_ALPHA);
            cmsCloseProfile(srgb);
        }
        cmsCloseProfile(input);
    }
    // A profile that gives no transform is remembered too, so it is not parsed again every paint.
    transforms.emplace(std::move(key), Transform(transform));
    return transform;
}

} // namespace

void ConvertToSrgb(QImage& image, const std::vector<std::uint8_t>& icc)
{
    if (icc.empty() || image.isNull() || image.depth() != 32) return;
    const cmsHTRANSFORM transform = TransformFor(icc);
    if (!transform) return;
    const int w = image.width();
    uchar* const first = image.bits();
    const qsizetype stride = image.bytesPerLine();
    ParallelFor(0, image.height(), [&](int y0, int y1) {
        cmsDoTransformLineStride(transform, first + y0 * stride, first + y0 * stride, static_cast<cmsUInt32Number>(w),
                                 static_cast<cmsUInt32Number>(y1 - y0), static_cast<cmsUInt32Number>(stride),
                                 static_cast<cmsUInt32Number>(stride), 0, 0);
    });
}
