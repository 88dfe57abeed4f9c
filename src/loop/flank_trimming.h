// Flank trimming of an object mask: the mask, widened by smoothing and
// closing, is cut back on every row to the strongest nearby edge of the
// image's edge map.
//
// Rows are y, columns x, row 0 at the top. Mask values: 0 background, 1 object,
// 2 left-flank marker, 3 right-flank marker. An object touching the left border
// within 3 columns (or the right border within 3 columns) is not trimmed on
// that side. A mask with an empty or tiny (at most 8 pixels) bounding box is
// left as it is; an edge map that is constant inside the box skips the
// trimming, but the last two rows are still cleared.
#pragma once

#include <span>

#include "types.h"

namespace orva {

constexpr int LEFT_MARKER = 2;
constexpr int RIGHT_MARKER = 3;

// Bounding box of the nonzero mask pixels, its bottom kept off the last row.
// An empty mask gives top -1, bottom 0, left width, right 0.
struct MaskBox {
    int top = -1;
    int bottom = 0;
    int left = 0;
    int right = 0;
};
MaskBox mask_bounding_box(const IMAGE& im, std::span<const unsigned char> mask);

// Edge threshold G from the edge-map histogram inside box (floor(1.5 ln n)
// bins, n the box's pixel count): half the bin of the largest gap under the
// chord from the peak to the valley after it, back in edge-map units.
// Returns -1 when the edge map is constant inside the box.
int edge_threshold(const IMAGE& im, std::span<const unsigned char> grad, const MaskBox& box);

// Trims the flanks of mask (values 0/1 on entry) at edges of grad and clears
// the mask's last two rows.
void trim_flanks(const IMAGE& im, std::span<unsigned char> mask,
                 std::span<const unsigned char> grad);

}  // namespace orva
