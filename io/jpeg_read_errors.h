#pragma once

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

// How every libjpeg decompressor of the loaders stops: an error jumps back to the caller's
// setjmp, and a file whose data ends early stops the same way, flagged as truncated.
struct JpegReadErrors
{
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    bool truncated = false;
};

// Points `cinfo` at `errors` with the two handlers below.
void UseJpegReadErrors(jpeg_decompress_struct& cinfo, JpegReadErrors& errors);

[[noreturn]] void JpegReadFail(j_common_ptr cinfo);
// libjpeg fills data that is not in the file with grey and carries on; a picture made up that way
// must not open as if it were whole (a later save would overwrite the original with it). The end
// of the file inside the data is always truncation; a marker inside the data of a sequential file
// means the same thing (progressive files legitimately stop refining early).
void JpegReadWarning(j_common_ptr cinfo, int level);
