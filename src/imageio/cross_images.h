// Colour copies of the images with a red cross at the predicted crystal
// position ("cross_%02d.jpg"), and the centre-aligned mean image ("centre.jpg").
#pragma once

#include <span>
#include <vector>

#include "types.h"

namespace orva {

// Writes "cross_%02d.jpg" (q = index in the angle-sorted list) with the cross at
// column x0, row y0. Returns 0, or 2 when the working buffers cannot be had.
int set_cross(std::span<const unsigned char> charImage, const IMAGE& im, int q, int x0, int y0);

struct CrossPosition {
    int x = 0;  // column
    int y = 0;  // row
};

// The cross image as interleaved R, G, B bytes: the grey image (at least
// width * height bytes) with the red cross at column x0, row y0. A centre
// outside the image leaves it unmarked.
ByteBuffer compose_cross_rgb(std::span<const unsigned char> grey, int width, int height, int x0,
                             int y0);

// The grey centre-aligned mean image with its dashed cross, width * height bytes.
ByteBuffer compose_centre_image(const std::vector<ByteBuffer>& images,
                                std::span<const CrossPosition> positions, int width, int height);

// Writes "centre.jpg": the mean of all images, each shifted so that its cross
// position lies at the image centre, with a dashed cross through the centre.
// Returns 0, or 2 when the working buffers cannot be had.
int write_centre_image(const std::vector<ByteBuffer>& images,
                       std::span<const CrossPosition> positions, int width, int height);

}  // namespace orva
