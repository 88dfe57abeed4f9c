// The analysis driver's preparations before any image is touched: checks of
// the run parameters, the border widths actually cut, the angles folded into
// [0, 360) with the quadrant coverage, the choice of analysis method, the
// half-resolution switch and the known axis position in cut-image pixels.
//
// Angles are degrees. Borders are ordered bottom, top, left, right. Statuses:
// 0, RUN_PARAMETER_ERROR (1) for a parameter out of range, or
// AXIS_OUTSIDE_IMAGE (16) for a known axis position outside the analysed image.
#pragma once

#include <span>

#include "types.h"

namespace orva {

constexpr int RUN_PARAMETER_ERROR = 1;
constexpr int AXIS_OUTSIDE_IMAGE = 17;
constexpr int MIN_RUN_IMAGES = 1;
constexpr int MAX_RUN_IMAGES = 36;
// Images whose width plus height exceed this are analysed at half resolution.
constexpr int HALF_RESOLUTION_SUM = 1800;

// 0 when loop_pos is 0..3; else the range message on standard error and 1.
int check_loop_position(int loop_pos);
// 0 when num_images is 1..36; else the range message on standard error and 1.
int check_image_count(int num_images);

// The borders cut from the images: edge-marker images (image_special 1) keep
// at least 8 columns on the right, image_special 2 cuts 18 rows at the top.
void adjust_borders(const int* job_border, int image_special, int* border);

// Adds 360 to every angle below 0 and returns the quadrants [0, 90),
// [90, 180), [180, 270), [270, 360) that hold an angle, as bits 0 to 3.
unsigned normalise_angles(std::span<float> angles);
// One warning block on standard error for each quadrant without an image.
void warn_missing_quadrants(unsigned quadrants);

// True when the run goes to the version-2.3 method: too few images for the
// default motion fit, or VERS23 without pre-alignment.
bool use_version23_method(int num_images, int centre_coord, int prealignment_flag, int vers23_flag);

// 1 when the images are analysed at half resolution, else 0.
int subsampling_flag(int width, int height);

// The known spindle-axis position in cut-image pixels, or -1.0 when none was
// given (centre_coord below 1). imc is the cut geometry; for a loop entering
// from the right the cut columns run against the input rows, so the position
// is mirrored there.
// 0 when no axis position is given (centre_coord below 1) or it lies in the
// part of the image the borders leave: a column from border[2] to
// width - 1 - border[3] for loop positions 0 and 1, a row from border[1] to
// height - 1 - border[0] for 2 and 3. Else a message and AXIS_OUTSIDE_IMAGE:
// a fit around an axis outside the picture would only make up a result.
int check_known_axis(int centre_coord, int loop_pos, const int* border, int width, int height);

double preset_axis(int centre_coord, int loop_pos, const int* border, int sub_flag,
                   const IMAGE& imc);

}  // namespace orva
