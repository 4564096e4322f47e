#include "io/jpeg_read_errors.h"

#include <jerror.h>

void UseJpegReadErrors(jpeg_decompress_struct& cinfo, JpegReadErrors& errors)
{
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JpegReadFail;
    errors.manager.emit_message = JpegReadWarning;
}

void JpegReadFail(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<JpegReadErrors*>(cinfo->err)->jump, 1);
}

void JpegReadWarning(j_common_ptr cinfo, int level)
{
    if (level >= 0) return;
    auto* errors = reinterpret_cast<JpegReadErrors*>(cinfo->err);
    const int code = cinfo->err->msg_code;
    const bool progressive = cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->progressive_mode;
    if (code == JWRN_JPEG_EOF || (code == JWRN_HIT_MARKER && !progressive)) {
        errors->truncated = true;
        std::longjmp(errors->jump, 1);
    }
}
