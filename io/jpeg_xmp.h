#pragma once

#include <exiv2/exiv2.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// XMP in JPEG files beyond the 64 KB one segment holds, laid out as the XMP standard defines it: the
// main packet stays in the usual XMP segment and names, in xmpNote:HasExtendedXMP, the MD5 of an
// extended packet that follows in APP1 extension segments, each carrying that digest, the extended
// packet's full length and the offset of its piece. Readers that do not know the extension still
// find a whole, valid main packet. Photo software writes such packets (edit histories, previews).

struct CJpegXmp
{
    std::string standard; // the packet for the XMP segment; empty when there is no XMP
    std::string extended; // the properties that did not fit; empty when everything fits
    std::string digest;   // the extended packet's MD5 in 32 upper-case hex digits
};

// The key of the property in the main packet that names the extended packet.
inline constexpr const char* kHasExtendedXmpKey = "Xmp.xmpNote.HasExtendedXMP";

// Serialises `xmp` for a JPEG: whole in the main packet when it fits; otherwise top-level properties
// fill the main packet in their order and the others go, whole, into the extended packet (a property
// is never split). False when the XMP toolkit cannot serialise the data.
bool SplitXmpForJpeg(const Exiv2::XmpData& xmp, CJpegXmp& out);

// Inserts the XMP segment and the extension segments of `xmp` into the JPEG `file`, after its leading
// JFIF and EXIF segments. The file must not already carry an XMP segment. False when `file` is not a
// JPEG; it is then unchanged.
bool InsertJpegXmp(std::vector<std::uint8_t>& file, const CJpegXmp& xmp);

// The extended packet named by `digest`, pieced together from the extension segments of the JPEG at
// `data`; empty when they are missing or leave gaps. The digest itself is not checked against the
// bytes: a packet that is whole is worth keeping even when a writer computed its digest differently.
std::string ReadExtendedXmp(const std::uint8_t* data, std::size_t size, const std::string& digest);
