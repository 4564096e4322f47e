#pragma once

#include "core/image.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// JPEG encoding straight from the picture's bottom-up blue-green-red rows with libjpeg-turbo, with
// the controls a photograph needs: quality, chroma subsampling and progressive scans.

enum class ChromaSubsampling {
    // 4:4:4 at quality 90 and above and 4:2:0 below, as the common image libraries choose, but
    // never finer than the JPEG the picture was opened from.
    Automatic,
    Full444,
    Half422,
    Quarter420,
};

struct CJpegOptions
{
    static constexpr int kDefaultQuality = 92;
    int quality = kDefaultQuality; // 1..100
    ChromaSubsampling subsampling = ChromaSubsampling::Automatic;
    // How the colour of the JPEG the picture came from was sampled (Automatic when it came from
    // another format or used a sampling we do not write). Chroma that was halved once is not
    // brought back by writing it whole: the file would only grow by a third.
    ChromaSubsampling original = ChromaSubsampling::Automatic;
    bool progressive = false;
    int strips = 0; // baseline files are encoded in this many strips at once; 0 picks one per core
};

// The subsampling `options` give in the end (never Automatic).
ChromaSubsampling EffectiveSubsampling(const CJpegOptions& options);

// The chroma sampling of a JPEG file's frame, from the start of the file up to its frame header
// (`header` may stop anywhere after it); Automatic when there is no frame header in it, the
// picture is greyscale, or the sampling is not one of 4:4:4, 4:2:2 and 4:2:0.
ChromaSubsampling JpegFrameSubsampling(const std::uint8_t* header, std::size_t size);

// Encodes the whole picture, baseline files in strips on every core (with a restart marker after
// each row of blocks, so the file does not depend on the number of cores). `iccProfile`, when not empty, is embedded as APP2 ICC_PROFILE markers.
// False (with `reason`) when the picture is empty or memory runs out; `out` is then unspecified.
// `progress`, when given, is called on the calling thread with the fraction done (0..1).
bool EncodeJpeg(const CImage& picture, const CJpegOptions& options, const std::vector<std::uint8_t>& iccProfile,
                std::vector<std::uint8_t>& out, std::string* reason,
                const std::function<void(double)>& progress = nullptr);
