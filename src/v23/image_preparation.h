// Image preparation of the version-2.3 method: cut and clean, region of
// interest, emptiness test, background flattening, pin detection and removal,
// and the robust mean of the axial coordinate over all detectors.
//
// Conventions: images are 8-bit grey, row-major, pixel (x, y) at byte
// y * width + x, x the column, y the row, row 0 at the top. After clean_up the
// pin enters from the bottom edge. roi = {left, right, top, bottom} in pixels
// of the edge image, which is the sub-sampled image without its one-pixel
// frame. Diagnostics go to `logfile` (standard output when null).
#pragma once

#include <cstdio>
#include <span>

#include "types.h"

namespace orva {

// Constants shared by the preparation steps.
namespace preparation {
constexpr int NUM_PARAM = 6;             // terms of the background surface
constexpr double TOL = 1.0e-5;           // relative and absolute singular-value floor
constexpr int SUBSAMPLE_SIDE = 120;      // the sub-sampled image is about this small
constexpr double EMPTY_CONTRAST = 10.0;  // grey levels; below: nothing in the image
constexpr double EMPTY_FRACTION = 0.02;  // share of residuals averaged at each end
// Semi-axes of the cryo-head shadow in the top-left corner (pixels), squared.
constexpr double SHADOW_AXIS_X_SQ = 144400.0;  // 380 * 380
constexpr double SHADOW_AXIS_Y_SQ = 336400.0;  // 580 * 580
constexpr int SHADOW_AXIS_X = 380;
constexpr int SHADOW_AXIS_Y = 580;

// Inside the shadow ellipse with its centre at the top-left corner.
inline bool in_shadow(int x, int y) {
    return static_cast<double>(x) * x / SHADOW_AXIS_X_SQ +
               static_cast<double>(y) * y / SHADOW_AXIS_Y_SQ <
           1.0;
}
}  // namespace preparation

// Cuts the borders (bottom, top, left, right), turns the image so the pin
// enters from the bottom, erases the four overlay bars (image_special 1) and
// the shadow (shadow_flag 1). dptr receives the cleaned image, imc its
// geometry. Returns 0, or 2 for an unknown loop_pos or borders that leave less
// than 3 x 3 pixels.
int clean_up(const IMAGE& im, std::span<const unsigned char> bptr, IMAGE& imc, ByteBuffer& dptr,
             int image_special, int loop_pos, const int* border, int shadow_flag,
             std::FILE* logfile);

// Erases the four dark bars reaching in from the middle of the edges
// (image_special 1), in place on a cleaned image.
void remove_overlay_bars(const IMAGE& imc, std::span<unsigned char> cptr);

// Sets every pixel inside the shadow ellipse to its row's mean value.
void remove_shadow(const IMAGE& imc, std::span<unsigned char> cptr);

// Sub-sampling factor for an image of width x height: about 120 samples along
// the shorter side, at least 1.
int sub_sampling_factor(unsigned int width, unsigned int height);

// Edge image of the inner pixels of `sptr` ((ims.width - 2) x (ims.height - 2)).
ByteBuffer edge_image(std::span<const unsigned char> sptr, const IMAGE& ims, IMAGE& img);

// Sub-samples the image (sptr2, ims), builds its edge image (gptr2, img) and
// finds the region of interest of the object. Returns 0.
int get_roi(std::span<const unsigned char> bptr, const IMAGE& im, ByteBuffer& sptr2, IMAGE& ims,
            ByteBuffer& gptr2, IMAGE& img, int& sub_samp2, int* roi, int q, std::FILE* logfile);

// empty_flag = 1 when the residuals of a quadratic surface through the whole
// sub-sampled image span less than 10 grey levels. Returns 0.
int detect_emptyness(std::span<const unsigned char> sptr, const IMAGE& ims, int sub_samp,
                     int& empty_flag, int q, std::FILE* logfile);

// Background surface a[0..5] (a0 x^2 + a1 x + a2 y^2 + a3 y + a4 x y + a5,
// full-resolution pixels) fitted to the sub-sampled pixels outside the ROI.
// Returns 0.
int get_surface_params(std::span<const unsigned char> sptr, const IMAGE& ims, int sub_samp,
                       double* a, const int* roi, int q, std::FILE* logfile);

// img1 = cptr with the fitted background replaced by the level next to the
// ROI's top-left corner. Returns 0.
int background_compensation(std::span<const unsigned char> cptr, std::span<unsigned char> img1,
                            int imx, int imy, const int* roi, int sub_samp, const double* a, int q,
                            int shadow_flag, std::FILE* logfile);

// Finds the pin in the edge image: pin_pos (full-resolution row of its top,
// -1 none) and pin_len (full-resolution length of the constant-width part at
// the bottom, 0 none). Returns 0.
int detect_pin(std::span<const unsigned char> gptr, const IMAGE& img, int sub_samp, int& pin_pos,
               int& pin_len, std::FILE* logfile);

// Paints the pin out below the first row that looks like the background.
// cptr may be the same buffer as img2. Returns 0.
int remove_pin(std::span<const unsigned char> cptr, std::span<unsigned char> img1,
               std::span<unsigned char> img2, int imx, int imy, const int* roi, int sub_samp, int q,
               int& remove_flag, int pin_len, std::FILE* logfile);

// Robust weighted mean of the positive values of the four detectors over
// numimg images; y_dev and y_devW its plain and weighted standard errors.
// No positive value gives 0, 0, 0.
double get_mean_y(int numimg, std::span<const double> telku0_y, std::span<const double> twodf_y,
                  std::span<const double> virpa_y, std::span<const double> dexla_y, double& y_dev,
                  double& y_devW, std::FILE* logfile);

}  // namespace orva
