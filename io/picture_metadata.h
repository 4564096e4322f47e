#pragma once

#include "core/image.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// How `CPictureMetadata::WriteInto` names a block it had to leave out whole.
inline constexpr char kExifTooLarge[] = "EXIF (larger than a JPEG segment holds)";
inline constexpr char kXmpNotEncoded[] = "XMP (could not be encoded)";

// What a photograph carries besides its pixels: EXIF (camera, date, GPS...), XMP, IPTC and the
// embedded colour profile. Read when a file is opened and written back when it is saved, so that
// opening, editing and saving a photograph loses nothing but what the edit made untrue.
class CPictureMetadata
{
public:
    CPictureMetadata();
    ~CPictureMetadata();
    CPictureMetadata(const CPictureMetadata&);
    CPictureMetadata& operator=(const CPictureMetadata&);
    CPictureMetadata(CPictureMetadata&&) noexcept;
    CPictureMetadata& operator=(CPictureMetadata&&) noexcept;

    // Reads the metadata of the file at `path`. A file without any, or one the reader does not
    // understand, leaves the object empty: metadata never makes opening fail.
    static CPictureMetadata Read(const QString& path);
    // The same for a file's `size` bytes at `data`.
    static CPictureMetadata ReadFromMemory(const std::uint8_t* data, std::size_t size);

    // True when there is no EXIF, XMP or IPTC (the colour profile aside).
    bool HasNoTags() const;
    bool IsEmpty() const { return HasNoTags() && m_icc.empty(); }

    // The EXIF orientation, 1..8; 1 when absent or out of range. The only reading of it: loading
    // turns the stored pixels upright by this value, and saving writes 1 for the upright pixels, so
    // what is shown and what is saved cannot disagree.
    int orientation() const;

    // The embedded ICC profile, byte for byte; empty when untagged.
    const std::vector<std::uint8_t>& iccProfile() const { return m_icc; }
    void SetIccProfile(std::vector<std::uint8_t> icc) { m_icc = std::move(icc); }

    // Blocks the file carried that were damaged and are left out of every save, one line each
    // ("colour profile (damaged)"). The sound blocks are kept.
    const QStringList& damaged() const { return m_damaged; }

    // Drops EXIF, XMP and IPTC (GPS, camera, names, dates); the colour profile stays, since it
    // tells how the pixel values are meant to look and identifies nobody.
    void StripTags();

    // Rewrites the encoded file in `file` (JPEG, PNG, TIFF or WebP) so that it carries these tags
    // describing a `width` x `height` upright picture: orientation 1, the pixel dimensions updated,
    // any embedded thumbnail dropped since it shows the old pixels. With `withIcc` the colour
    // profile is embedded too (for the writers that cannot do it themselves). A JPEG carries XMP
    // beyond its 64 KB segment in extension segments. What the file's format cannot hold is left
    // out and named in `leftOut` ("EXIF (larger than a JPEG segment holds)"); the rest is written.
    // False with `reason` when the file cannot be rewritten; `file` is then unchanged.
    bool WriteInto(std::vector<std::uint8_t>& file, int width, int height, bool withIcc, std::string* reason,
                   QStringList* leftOut = nullptr) const;

    // The same tags, made true of a `width` x `height` upright picture as WriteInto makes them, as
    // the blocks a writer that places them itself stores: EXIF as a little-endian TIFF structure
    // (header, IFD0 and its sub-directories, offsets counted from the header), the XMP packet and
    // the IPTC records. A block is empty when there is nothing to put in it. False with `reason`
    // when the tags cannot be encoded.
    struct Blocks
    {
        std::vector<std::uint8_t> exif;
        std::string xmp;
        std::vector<std::uint8_t> iptc;
    };
    bool EncodeBlocks(int width, int height, Blocks& blocks, std::string* reason) const;

private:
    struct Tags;
    std::unique_ptr<Tags> m_tags; // null when the file had none
    std::vector<std::uint8_t> m_icc;
    QStringList m_damaged;
};

// Turns a picture stored in EXIF orientation `orientation` (2..8) upright; 1 and anything out of
// range leave it as it is. False when memory runs out; the picture is then unchanged.
bool ApplyOrientation(CImage& picture, int orientation);
