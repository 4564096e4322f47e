#pragma once

#include "io/direct_decoders.h"

// WebP decoded with libwebp itself: still pictures (lossy or lossless, with or without alpha) and
// the first frame of an animation laid on its canvas, alpha composited over white. The pixels are
// the ones the general reader gave: frames are decoded as non-premultiplied BGRA, and where the
// file's header declares no alpha the colours are taken as they stand.
//
// The RIFF chunks are walked first (CheckWebpStructure), and the canvas and the frame pass the
// declared-size check before anything picture-sized is allocated. Never NotHandled: a file this
// decoder refuses is refused with libwebp's reason.
DirectResult DecodeWebp(const std::uint8_t* data, std::size_t size, CImage& picture, std::string* reason);
