// The fit of the observed crystal (or loop) positions over the rotation angle:
// x = x0 + radius * cos(angle - phi0) across the spindle axis, y = y0 along
// it, in cut-image pixels, angles in degrees.
//
// With too few non-empty images for the motion model (below 3 without a known
// axis, below 2 with one) x0 and y0 are the mean positions and radius and phi0
// stay as they are. Otherwise the robust combined fit runs on all rows, with
// x0 unknown or held at the known axis position. Statuses: 0, or the status
// of the combined fit (FIT_SINGULAR when its normal matrix is singular).
#pragma once

#include "analysis/observations.h"
#include "fit/least_squares.h"

namespace orva {

// Smallest number of non-empty images for the motion model.
int motion_fit_threshold(bool known_centre);

// x0 = mean of the x values above 0, y0 = mean of the y values above 0; a
// coordinate without any such value is left as it is.
void mean_position(const ObservationTable& table, PARAMS& mp);

// table must hold at least one row (see ObservationTable::has_position).
// Writes mp and, after the combined fit, the final weights and the fitted
// points of every row.
int centre_fit(PARAMS& mp, ObservationTable& table, int numimg_processed, bool known_centre,
               double x0_preset);

}  // namespace orva
