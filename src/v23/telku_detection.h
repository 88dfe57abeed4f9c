// One sub-sampling grid of the TELKU detector: local-contrast map, object
// extent, pin and stem cut, rim erosion, Gaussian smoothing, two highest maxima.
#pragma once

#include <array>
#include <cstdio>
#include <span>
#include <vector>

#include "types.h"

namespace orva {

// Thresholds on the largest profile deviation that start a band / bound the object.
inline constexpr double THRESH_HI_FAC = 0.3;
inline constexpr double THRESH_LO_FAC = 0.05;

// Per-line profile of the contrast map.
struct PROPS {
    unsigned char max = 0;
    unsigned char min = 0;
    double devm = 0.0;  // (max - min) * 0.5
};

// A run of profile lines whose deviation exceeds the high threshold.
struct OBJ {
    int start = 0;
    int end = 0;
    int size = 0;   // end - start
    int bflag = 0;  // touches the first or last profile entry
    int tflag = 0;  // taken
};

// bptr: image of im.width x im.height. Grid (xoff, yoff) samples columns
// xoff + k * sub_samp and rows yoff + k * sub_samp. box[0] / box[1]: mean
// horizontal / vertical object thickness (>= 1), box[2]: object area, all in
// sub-sampled pixels; box stays {0, 0, 0} when no object band is found. The
// maxima are in contrast-map coordinates (map pixel (x, y) is sub-sampled pixel
// (x + 1, y + 1)), -1 when absent. Returns 0 or the code of fast_convolve_2D.
int detection(const IMAGE& im, std::span<const unsigned char> bptr, int sub_samp, int xoff,
              int yoff, std::array<int, 3>& box, int& x_coor, int& y_coor, int& x_coor2,
              int& y_coor2, std::FILE* logfile);

// Contrast map of a w x h byte image: (w - 2) x (h - 2) bytes, row-major.
std::vector<unsigned char> telku_contrast_map(std::span<const unsigned char> img, int w, int h);

// Bands of a profile above hi, kept the way the row scan keeps them (two at
// most) or, with columns = true, the widest one. Returns the number kept.
int telku_bands(std::span<const PROPS> prop, double hi, bool columns, std::array<OBJ, 3>& bands);

}  // namespace orva
