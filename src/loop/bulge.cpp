// Bulge position: walking down the traced rows from the loop tip, the widest
// row before the depth limit (tip + 3 tip-to-centre distances, at most the last
// traced row) or before a sudden widening (more than 5 pixels and 20 %, from
// the 12th row on) that marks the stem.
//
// Equal widths count as a new maximum. When the last examined row was still a
// new maximum the loop has no bulge and all results are -1. A record without
// traced rows gives -1 as well. Returns 0.
#include "loop/bulge.h"

namespace orva {

namespace {

constexpr unsigned int FIRST_STEM_ROW = 11;  // sudden widening counts from here on
constexpr int STEM_JUMP_PIXELS = 5;

}  // namespace

int get_bulge_pos(const SHAPE_PARAMS& shape, int* y_bulge, int* x_bulge, int* max_width) {
    const unsigned int L = shape.num_coord_left;
    if (L == 0 || shape.x_coord_left.size() < L || shape.x_coord_right.size() < L ||
        shape.y_coord_left.size() < L) {
        *y_bulge = *x_bulge = *max_width = -1;
        return 0;
    }
    const auto& xl = shape.x_coord_left;
    const auto& xr = shape.x_coord_right;
    const auto& yl = shape.y_coord_left;

    // Tip row plus three times the tip-to-centre distance.
    long y_limit = static_cast<long>(shape.centre_y) +
                   2 * (static_cast<long>(shape.centre_y) - static_cast<long>(yl[0]));
    if (static_cast<long>(yl[L - 1]) < y_limit) y_limit = yl[L - 1];

    int best = static_cast<int>(xr[0]) - static_cast<int>(xl[0]);
    int best_row = -1;
    int best_col = -1;
    bool still_widening = false;
    for (unsigned int i = 1; i < L; ++i) {
        if (static_cast<long>(yl[i]) > y_limit) break;
        int w = static_cast<int>(xr[i]) - static_cast<int>(xl[i]);
        if (i >= FIRST_STEM_ROW && w - best > STEM_JUMP_PIXELS && w > (12 * best + 5) / 10) break;
        if (w >= best) {
            best = w;
            best_row = static_cast<int>(yl[i]);
            best_col = static_cast<int>((xr[i] + xl[i]) >> 1);
            still_widening = true;
        } else {
            still_widening = false;
        }
    }
    if (still_widening) {
        *y_bulge = *x_bulge = *max_width = -1;
    } else {
        *y_bulge = best_row;
        *x_bulge = best_col;
        *max_width = best;
    }
    return 0;
}

}  // namespace orva
