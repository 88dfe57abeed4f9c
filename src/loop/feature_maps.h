// Multi-scale feature maps: a 2:1 pyramid of the image, a 3x3 feature operator
// on every level (mode 0 ridges, 1 Sobel edge strength, 2 second derivative),
// merged from coarse to fine by the pixelwise maximum of the upsampled coarse map
// and the finer map, and converted to bytes.
//
// Conventions: row-major buffers, pixel (x, y) at y * width + x. The border
// pixels of every level map are 0. A level whose rms response is 0 (flat image)
// stays 0 in modes 1 and 2.
// Status: get_feature returns 0; levels 0 or an image below 8 x 8 leave the
// output untouched.
#pragma once

#include <span>
#include <vector>

#include "types.h"

namespace orva {

// At most this many pyramid levels.
constexpr int NUM_SUBSAMP = 6;

// mode 0 ridges, 1 edges, 2 second derivative; sub_flag 1 works on the
// half-resolution image and writes each value to a 2x2 output block.
int get_feature(const IMAGE& im, std::span<const unsigned char> bptr, std::span<unsigned char> rptr,
                int mode, int levels, int sub_flag);

// Pyramid and map buffers kept by a caller that maps many images, so they
// are not handed back to the system and faulted in again for every image.
struct FeatureWork {
    std::vector<unsigned char> level, half;
    std::vector<std::vector<float>> maps;
    std::vector<float> upsampled;
};
// The same map, with the buffers of `work`; the results are identical.
int get_feature(const IMAGE& im, std::span<const unsigned char> bptr, std::span<unsigned char> rptr,
                int mode, int levels, int sub_flag, FeatureWork& work);

// 2:1 reduction along rows: sptr gets (width >> 1) x height samples.
void subsample2_h(unsigned int width, unsigned int height, std::span<const unsigned char> bptr,
                  std::span<unsigned char> sptr);
// 2:1 reduction along columns: sptr gets width x (height >> 1) samples.
void subsample2_v(int width, int height, std::span<const unsigned char> bptr,
                  std::span<unsigned char> sptr);

// Merges the coarse map s2 ((width >> 1) x (height >> 1)) into the fine map s1
// (width x height) by the pixelwise maximum with the upsampled s2.
void merge_scales(int width, int height, std::span<float> s1, std::span<const float> s2);

// Level operators over the interior pixels; gptr holds width * height values
// with a zero border. The edge and second-derivative operators return the
// root-mean-square response over the interior.
void get_ridges_1(unsigned int width, unsigned int height, std::span<const unsigned char> bptr,
                  std::span<float> gptr);
double get_edges_1(unsigned int width, unsigned int height, std::span<const unsigned char> bptr,
                   std::span<float> gptr);
double get_2nd_deriv_1(unsigned int width, unsigned int height, std::span<const unsigned char> bptr,
                       std::span<float> gptr);

}  // namespace orva
