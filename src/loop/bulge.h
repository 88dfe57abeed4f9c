// Bulge position: the widest traced row of the loop below its tip, within
// three tip-to-centre distances of the tip, stopping at a sudden widening
// (the stem). Reports -1, -1, -1 when the object is still widening where the
// walk ends.
//
// Conventions: canonical-image pixels, x the column, y the row, row 0 at the top.
// Status: 0.
#pragma once

#include "loop/shapes.h"

namespace orva {

// Reads centre_y, num_coord_left and the left and right outline lists (at least
// one traced row).
int get_bulge_pos(const SHAPE_PARAMS& shape, int* y_bulge, int* x_bulge, int* max_width);

}  // namespace orva
