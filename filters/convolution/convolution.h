#pragma once

// What the convolution dialogs share with the engine: the radius slider's mapping and the custom
// filter's files. No toolkit types here; the dialogs wrap these.

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace orvex_convolution {

// Radius slider of the blur, motion blur and unsharp mask dialogs: positions 0..2500 give
// (p / 10)^2 / 250, so 100 -> 0.4, 500 -> 10, 1000 -> 40, 2500 -> 250. Shown with "%3.1f".
float BlurRadiusFromSlider(int position);

// Settings of the custom 5 x 5 filter, as the dialog holds them and as ".ocf" files store them.
struct CCustomFilterSettings
{
    std::int32_t offset = 0;
    std::int32_t scale = 1;
    // Row-major, index 5 * row + column, row 0 the top row: the default sharpens (centre 5, its
    // four direct neighbours -1).
    std::array<std::int32_t, 25> kernel{0, 0, 0,  0, 0, //
                                        0, 0, -1, 0, 0, //
                                        0, -1, 5, -1, 0, //
                                        0, 0, -1, 0, 0, //
                                        0, 0, 0,  0, 0};

    bool operator==(const CCustomFilterSettings&) const = default;
};

// An ".ocf" file: exactly this many bytes of little-endian signed 32-bit integers, offset, scale,
// then the 25 kernel values; no header, no version.
constexpr std::size_t kFilterFileBytes = 108;

std::array<std::uint8_t, kFilterFileBytes> EncodeFilterFile(const CCustomFilterSettings& settings);

// Decodes the first 108 bytes of `bytes` into `settings`. A shorter record would leave part of the
// fields from whatever was there before, so it is refused whole: false, `error` says why, and
// `settings` is untouched. Longer records are read for their first 108 bytes. Values are taken as
// stored (a scale of 0 included: the dialog turns it into 1 as it shows it).
bool DecodeFilterFile(std::span<const std::uint8_t> bytes, CCustomFilterSettings& settings, std::string& error);

// The same on files. On failure `settings` is untouched (reading) and `error` holds a message for
// the user naming the file.
bool ReadFilterFile(const std::filesystem::path& path, CCustomFilterSettings& settings, std::string& error);
bool WriteFilterFile(const std::filesystem::path& path, const CCustomFilterSettings& settings, std::string& error);

} // namespace orvex_convolution
