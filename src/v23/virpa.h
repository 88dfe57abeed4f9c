// VIRPA (adaptive-radius local standard deviation) and DEXLA (very dark and very
// bright pixel clusters) crystal detectors.
#pragma once

#include <span>

namespace orva {

// `img1`: pin-free, background-compensated image of imx x imy. Writes element q
// of the four result arrays (image pixels). Returns 0, or 3.
int virpa_dexla(std::span<const unsigned char> img1, int imx, int imy, int image_special, int q,
                std::span<double> virpa_x, std::span<double> virpa_y, std::span<double> dexla_x,
                std::span<double> dexla_y, int roi_width, int roi_height);

}  // namespace orva
