// Rank filters: 3x3 medians of byte masks and float maps, exact medians of
// five and seven integers.
//
// Images are row-major, pixel (x, y) at y * width + x. The 3x3 filters work in
// place from a padded copy: the row above the top row repeats the top row, the
// row below the bottom row repeats the bottom row, the columns left and right
// of the image (and the four corners) are 0. They return 0; a buffer smaller
// than the geometry gives status 5 (ERR_NOT_DEFINED) and leaves it untouched.
#pragma once

#include <span>

#include "types.h"

namespace orva {

int median_filter(const IMAGE& im, std::span<unsigned char> bptr);
int fmedian_filter(int width, int height, std::span<float> bptr);

// Median of the 9 values of three 3-value rows.
unsigned char med3x3(std::span<const unsigned char, 3> r0, std::span<const unsigned char, 3> r1,
                     std::span<const unsigned char, 3> r2);
float fmed3x3(std::span<const float, 3> r0, std::span<const float, 3> r1,
              std::span<const float, 3> r2);

// Third smallest of five, fourth smallest of seven.
int imedian5(int a, int b, int c, int d, int e);
int imedian7(int a, int b, int c, int d, int e, int f, int g);

}  // namespace orva
