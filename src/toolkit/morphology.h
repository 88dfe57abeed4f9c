// Binary morphology on byte masks: closing with a 17x17 disc and an
// outside-in peeling erosion.
//
// Masks are row-major byte buffers of im.width * im.height pixels, pixel (x, y)
// at y * width + x; any nonzero value counts as set. Both functions work in
// place and return 0; a buffer smaller than the geometry gives status 5
// (ERR_NOT_DEFINED) with its message and leaves the buffer untouched. An image
// of zero width or height is left as it is.
#pragma once

#include <span>

#include "types.h"

namespace orva {

// Binary closing with a 221-pixel disc (row half-widths 8,8,8,7,7,6,5,4,2 for
// |dy| = 0..8). Pixels outside the image count as unset before the dilation,
// so the result equals the closing on an unbounded empty plane. Output 0/1.
int closing17x17(const IMAGE& im, std::span<unsigned char> bptr);

// Peels the outer pixels of a mask by `strength` (s): per row from the left
// and right, then per column from the top and bottom, on the same buffer.
// Values that are not cleared keep their value.
int erode_mask(const IMAGE& im, std::span<unsigned char> bptr, int strength);

}  // namespace orva
