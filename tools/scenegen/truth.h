// Ground truth of a rendered series: the values the program's result file should
// hold, in the program's own conventions, and the file that records them.
//
// Result frame (input-image pixels):
//   X_CENTRE: the spindle axis; a column counted from the left for loop positions
//             0 and 1, a row counted from the top for 2 and 3.
//   Y_CENTRE: the position along the axis; a row counted from the top for 0 and 1,
//             a column counted from the left for 2 and 3.
// The program fits the motion in the canonical view, so TARGET_ANGLE is the
// angle at which the crystal is furthest right of the axis there (the scene's
// phase, in (-180, 180]). In the result frame the crystal then lies at
// X_CENTRE + RADIUS for loop positions 0, 1 and 2 and at X_CENTRE - RADIUS for
// position 3, where the canonical columns run against the input rows.
#pragma once

#include <cstdio>
#include <string>

#include "geometry.h"
#include "scene.h"

namespace orva::scenegen {

// Canonical point (column c, row r) in the result frame: x along X_CENTRE's
// direction, y along Y_CENTRE's.
Point2 canonical_to_result(double c, double r, int loop_position, int width, int height);

// +1 or -1: how a canonical column offset shows along X_CENTRE's direction.
int result_motion_sign(int loop_position);

// The name of a crystal shape as the truth file and the option --crystal-shape spell it.
const char* crystal_shape_name(CrystalShape s);

struct Truth {
    SceneKind kind = SceneKind::Crystal;
    int loop_position = 0;
    int width = 0;
    int height = 0;
    int num_images = 0;
    bool half_resolution = false;  // the program halves images when width + height > 1800

    // What the result file should hold for this job; `has_motion` false when
    // TARGET_ANGLE and RADIUS are not defined (empty view).
    bool has_motion = true;
    bool has_angle = true;
    double target_angle = 0.0;
    double radius = 0.0;
    double x_centre = 0.0;
    double y_centre = 0.0;
    int precentring = 0;

    // Parts of the scene, all in the result frame; absent parts are not written.
    double axis = 0.0;
    double crystal_x = 0.0, crystal_y = 0.0;  // centre of the crystal's circle
    double crystal_size = 0.0;                // largest extent of the crystal body
    double crystal_diameter = 0.0;            // mean projected area-equivalent diameter
    double loop_x = 0.0, loop_y = 0.0;        // centre of the ring's extent
    double loop_width = 0.0;                  // mean over images and loop rows, result-file units
    double loop_width_px = 0.0;               // the same in input pixels
    double loop_width_max = 0.0;              // outer in-plane width of the ring
    double loop_radius = 0.0;                 // motion of the loop's centre, see geometry.h
    double loop_phase = 0.0;                  // degrees, (-180, 180]
    double pin_tip_x = 0.0, pin_tip_y = 0.0;  // the end of the pin that shows
};

Truth compute_truth(const Scene& scene);

// Writes the truth as "KEY value" lines with '#' comments. Returns 0, or 1 with
// a message when the file cannot be written.
int write_truth(const std::string& path, const Scene& scene, const Truth& truth,
                std::string& error);

}  // namespace orva::scenegen
