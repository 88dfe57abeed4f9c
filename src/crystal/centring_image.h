// Blob and line positions of the crystal inside the loop of every canonical image.
#pragma once

#include <cstdio>
#include <span>
#include <vector>

#include "loop/shapes.h"
#include "types.h"

namespace orva {

// For every image q with width_flag[q] != 0 and a loop: (x1, y1) the blob
// position, (x2, y2) the line position, canonical-image pixels; a coordinate of
// 0 or -1 means nothing was found. Returns 0, or the status of a failing
// fft_filter (later images are then left as the caller set them).
int algo_1(int numimg, std::span<const int> width_flag, const IMAGE& imc,
           const std::vector<ByteBuffer>& image_ptr, std::span<const SHAPE_PARAMS> shapes,
           std::span<int> x1, std::span<int> y1, std::span<int> x2, std::span<int> y2,
           std::FILE* logfile);

// Steps of algo_1, open to tests.

// Clears mask and sets, for every contour row down to box_b (inclusive), the
// pixels x_coord_left <= x < x_coord_right; loop_width becomes the mean of
// those row widths. False (loop_width 0) when no contour row lies at or above
// box_b.
bool draw_loop_mask(const IMAGE& imc, const SHAPE_PARAMS& shape, std::span<unsigned char> mask,
                    unsigned int& loop_width);

// Erosion of the blob mask (a quarter of the smaller of the mean loop width and
// the box height) and of the line mask (two thirds of it, none below 2).
struct ErosionDepths {
    int line = 0;
    int blob = 0;
};
ErosionDepths erosion_depths(unsigned int loop_width, unsigned int box_height);

}  // namespace orva
