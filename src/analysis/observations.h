// What the driver makes of the loops and the crystal detectors before the
// motion fit: the crystal-size estimate from the narrowest loop, the bulge
// correction of the loop centres, the loop-tip centres of pre-alignment runs,
// and the observation table of the combined fit with its log table.
//
// Positions are cut-image pixels (x the column, y the row, pin entering from
// the bottom); angles are degrees. A detector position counts only when both
// its coordinates are above 0. An image is empty when its shape type is 0.
#pragma once

#include <span>
#include <vector>

#include "analysis/driver_log.h"
#include "loop/shapes.h"

namespace orva {

constexpr int NUM_ALGOS = 3;  // observations per image at most

// One row per observation: angle, observed point, weight (1.0 until the fit
// replaces it by its final weight) and the fitted point, with the image it
// came from and the name of its detector (for the report).
struct ObservationTable {
    std::vector<double> angle, x, y, weight, est_x, est_y;
    std::vector<int> image;
    std::vector<const char*> detector;

    void add(double a, double xv, double yv, int q = -1, const char* source = "");
    int count() const { return static_cast<int>(angle.size()); }
    // True when some row has both coordinates above 0.
    bool has_position() const;
};

// The narrowest loop lying clear of the side edges: among the non-empty
// images whose box_l is above 4 and whose box_r is below cut_width - 5, the
// first one of smallest width below cut_width. Each non-empty image logs its
// width and the running minimum with row_format (q, width), then " %4d".
struct NarrowestLoop {
    int crystal_size = 0;  // that width, or cut_width when none qualified
    int q_minwidth = -1;   // its image, or -1
};
NarrowestLoop narrowest_loop(std::span<const SHAPE_PARAMS> shapes, int cut_width, DriverLog& log,
                             const char* row_format);

// The smallest loop width of all images, starting from cut_width.
int smallest_width(std::span<const SHAPE_PARAMS> shapes, int cut_width);

// A bulge is a crystal sticking out of the loop only when it is clearly wider
// than the loop: at least 1.5 times and at least 10 pixels more.
bool bulge_accepted(int max_width, int crystal_size);

// Moves image q's loop centre onto the bulge (x_bulge, y_bulge) and every
// image's centre_y down by a third of that shift. Only a bulge below the
// centre of image q moves anything; returns whether it did.
bool apply_bulge(std::span<SHAPE_PARAMS> shapes, int q, int x_bulge, int y_bulge);

// Replaces the centre of every image with an outline by its loop tip: the
// middle of the first traced row.
void use_loop_tips(std::span<SHAPE_PARAMS> shapes);

// One observation per non-empty image: its angle and loop centre.
ObservationTable loop_centre_observations(std::span<const SHAPE_PARAMS> shapes,
                                          std::span<const double> angles);

// Up to three observations per image in angle order: detector 1's first and
// second position, then detector 2's position, each only when both its
// coordinates are above 0.
ObservationTable crystal_observations(std::span<const double> angles, std::span<const int> x1,
                                      std::span<const int> y1, std::span<const int> x2,
                                      std::span<const int> y2, std::span<const int> x3,
                                      std::span<const int> y3);

// The observations of the motion fit: the detector positions, or, when no
// detector found the crystal in any image, the loop centres (*loop_centres
// tells which).
ObservationTable motion_observations(std::span<const double> angles,
                                     std::span<const SHAPE_PARAMS> shapes, std::span<const int> x1,
                                     std::span<const int> y1, std::span<const int> x2,
                                     std::span<const int> y2, std::span<const int> x3,
                                     std::span<const int> y3, bool* loop_centres);

// The table of observations, final weights and fitted points in the run log;
// with mark_angles a "\n#" line precedes every row that starts a new angle.
void log_fit_table(DriverLog& log, const ObservationTable& table, bool mark_angles);

}  // namespace orva
