// Object masks by change: the loop is what differs from the background image,
// or, without one, what differs between images of the same rotation series.
//
// Differences are signed 16-bit values; their histograms have 512 bins with the
// value v counted in bin v + 255 (DIFF_OFFSET). Masks are row-major bytes of the
// canonical geometry, 1 object and 0 background.
// Status: background_object_mask returns 0, or 78 when fewer than half of the
// pixels come out as background.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "toolkit/arrays.h"
#include "types.h"

namespace orva {

constexpr int NUM_COMPARE = 5;    // comparison partners per image in longer series
constexpr int DIFF_BINS = 512;    // histogram bins of (absolute) differences
constexpr int DIFF_OFFSET = 255;  // bin of a zero signed difference
constexpr int DIFF_MAX = 511;     // largest value of a difference with edge change
constexpr int BACKGROUND_UNSUITABLE = 78;

// Partners compared with each image: N - 1 for short series, else NUM_COMPARE.
int number_of_comparisons(int num_images);

// Partners j = 1..num_comp of image q (entry j - 1): spread by N / num_comp
// through the series, the last one being the image before q.
std::vector<int> comparison_partners(int q, int num_images, int num_comp);

// Offset of the most frequent signed difference: the first highest bin minus 255.
int histogram_offset(std::span<const unsigned int> hist);

// Threshold on |difference - offset| above the histogram's noise peak: the
// first pair of bins that falls below the peak pair's sum divided by a factor
// growing towards the peak, at most 31 bins past it and below 255.
int background_threshold(std::span<const unsigned int> hist);

// Triangle threshold of the summed comparison histogram: the chord runs from
// bin 0 at height hist[1] to the first lowest bin m in 2..199; the result is the
// first bin below m with the largest distance under the chord, or 1.
int triangle_threshold(std::span<const unsigned int> hist);

// Flags the comparisons (entry j - 1 for partner j) whose summed difference
// is under a fifth of the average: partners at nearly the same rotation.
std::vector<char> similar_pairs(std::span<const unsigned long> sum_diff);

// Object where every informative comparison (rows 1..num_comp of diff, flag
// entry j - 1 clear) exceeds threshold; all pixels when every one is flagged.
void comparison_mask(const Matrix<std::int16_t>& diff, int num_comp, std::span<const char> sim_flag,
                     int threshold, std::span<unsigned char> mask);

// 3x3 (1 2 1 / 2 4 2 / 1 2 1) smoothing of a - b with rounding-by-8 and
// truncating division by 16; border pixels copy their inner neighbour. Images
// narrower or lower than 3 pixels keep the plain difference.
void smooth_difference(const IMAGE& im, std::span<const unsigned char> a,
                       std::span<const unsigned char> b, std::span<std::int16_t> out);

// Mask of image against background; diff is scratch of im.size values.
// Writes the four-line warning to standard error and returns 78 for an
// unsuitable background.
int background_object_mask(const IMAGE& im, std::span<const unsigned char> image,
                           std::span<const unsigned char> background, std::span<std::int16_t> diff,
                           std::span<unsigned char> mask);

// Mask of image q of the series: an object pixel differs from every
// informative partner by more than the triangle threshold. diff has at least
// num_comp + 1 rows of im.size values (rows 1..num_comp are used); grad holds
// the edge map of every image.
void series_object_mask(const IMAGE& im, std::span<const ByteBuffer> images,
                        std::span<const ByteBuffer> grad, int q, int num_comp,
                        Matrix<std::int16_t>& diff, std::span<unsigned char> mask);

}  // namespace orva
