// Uncompressed 8-bit TIFF reading into grey, both byte orders.
#pragma once

#include "types.h"

namespace orva {

// `type` is TIFF_LITTLE or TIFF_BIG from get_img_type; `uv_flag` 1 takes the
// blue channel of RGB data. Returns 0 with `charImage` filled on success; 2 when
// the buffer cannot be allocated; 0 with `charImage` empty when the file cannot
// be read, `type` is wrong or the file is damaged.
int read_tiff_2(ByteBuffer& charImage, IMAGE& im, const char* in_name, int uv_flag, int type);

}  // namespace orva
