// Small mask operations of the crystal search: repair of an eroded loop mask,
// clearing a float window outside a mask, and the centroid of the strongest
// values of a float map.
//
// Conventions: masks are full-image row-major bytes (pixel (x, y) at
// y * width + x, nonzero = inside); windows are row-major floats placed in the
// image by roi = {left, right, top, bottom} (columns left <= x < right, rows
// top <= y < bottom).
#pragma once

#include <span>

#include "types.h"

namespace orva {

// Fills empty rows inside the object with the extent of the row above, and
// fills notches of the left and right flanks (inward steps flagged by the
// outlier test) back to the flank position before the step. Writes 1.
void smooth_mask(const IMAGE& im, std::span<unsigned char> mptr);

// Window values whose image pixel lies outside the mask become 0. Returns 0.
int mask_object(const IMAGE& im, std::span<const unsigned char> mask, std::span<float> gptr,
                std::span<const unsigned int, 4> roi);

// Centroid (window pixels) of the values above the (100 - percent)th
// percentile of the positive values. Returns 0 (with (0, 0) and a warning when
// no value lies above it), or 2 for a missing map or a failed allocation.
int get_centremax(std::span<const float> bptr, unsigned int width, unsigned int height,
                  unsigned int percent, int& xc, int& yc);

}  // namespace orva
