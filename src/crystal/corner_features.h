// Corner-cluster position of a crystal inside the loop box.
//
// twodf selects up to 200 good corner features of a grey region (largest
// smaller eigenvalue of the gradient structure matrix, a minimum distance
// apart), spreads a Gaussian over each of the stronger ones, thresholds the
// summed density at 180.3122 on a 0..255 scale and returns the centroid of
// the largest region above it (region pixels: x column, y row). twodf_all runs
// it over the loop box of every canonical image.
// Status of twodf: 0; 11 density buffers not allocated; 12 no feature density
// (also when all feature values are equal, or the region is empty or larger
// than its buffer). Status of twodf_all: 0, 23 region buffer not allocated, or
// the code of the last failing twodf.
#pragma once

#include <cstdio>
#include <span>
#include <vector>

#include "loop/shapes.h"
#include "types.h"

namespace orva {

// Writes x2[q], y2[q] (canonical-image pixel, or 0, 0 when nothing is found or
// the image is skipped). logfile is not written.
int twodf_all(int numimg, std::span<const int> width_flag, const IMAGE& imc,
              const std::vector<ByteBuffer>& image_ptr, std::span<const SHAPE_PARAMS> shapes,
              std::span<int> x2, std::span<int> y2, std::FILE* logfile);

// Feature slots of a region imx wide cut from a box roi_width wide.
int twodf_feature_slots(int imx, int roi_width);

// img1: imx columns by imy rows. Writes twodf_x[q], twodf_y[q] (region pixel;
// 0, 0 on failure). roi_width selects the tracking-context defaults.
int twodf(std::span<const unsigned char> img1, int imx, int imy, int q, std::span<double> twodf_x,
          std::span<double> twodf_y, int roi_width);

}  // namespace orva
