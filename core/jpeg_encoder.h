#pragma once

#include "core/image.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// JPEG encoding straight from the picture's bottom-up blue-green-red rows with libjpeg-turbo, with
// the controls a photograph needs: quality, chroma subsampling and progressive scans.

enum class ChromaSubsampling {
    Automatic, // 4:4:4 at quality 90 and above, 4:2:0 below, as the common image libraries choose
    Full444,
    Half422,
    Quarter420,
};

struct CJpegOptions
{
    static constexpr int kDefaultQuality = 92;
    int quality = kDefaultQuality; // 1..100
    ChromaSubsampling subsampling = ChromaSubsampling::Automatic;
    bool progressive = false;
    int strips = 0; // baseline files are encoded in this many strips at once; 0 picks one per core
};

// The subsampling `options` give in the end (never Automatic).
ChromaSubsampling EffectiveSubsampling(const CJpegOptions& options);

// Encodes the whole picture, baseline files in strips on every core (with a restart marker after
// each row of blocks, so the file does not depend on the number of cores). `iccProfile`, when not empty, is embedded as APP2 ICC_PROFILE markers.
// False (with `reason`) when the picture is empty or memory runs out; `out` is then unspecified.
// `progress`, when given, is called on the calling thread with the fraction done (0..1).
bool EncodeJpeg(const CImage& picture, const CJpegOptions& options, const std::vector<std::uint8_t>& iccProfile,
                std::vector<std::uint8_t>& out, std::string* reason,
                const std::function<void(double)>& progress = nullptr);
