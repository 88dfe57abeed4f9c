// Canonical orientation of the camera images: cut the excluded border strips,
// turn or flip so that the pin enters from the bottom edge, optionally decimate
// by two, then optionally remove dark edge markers or crosshair lines.
//
// Conventions: pixel (x, y) is byte y * width + x, x the column, y the row,
// row 0 at the top. border[0] rows are excluded at the bottom, border[1] at the
// top, border[2] columns at the left, border[3] at the right. loop_pos: 0 loop
// from the bottom, 1 from the top, 2 from the left, 3 from the right.
// Status: 0 success, 2 loop_pos outside 0..3.
#pragma once

#include <cstdio>
#include <span>

#include "types.h"

namespace orva {

// Edge markers are searched over this many scan lines per edge.
constexpr int MAX_IDX = 112;

// image_special values handled by cut_border.
constexpr int SPECIAL_EDGE_MARKERS = 1;
constexpr int SPECIAL_CROSSHAIRS = 5;

// Sets imc.width, imc.height and imc.size of the canonical image; nothing else
// of imc is touched.
int get_new_format(const IMAGE& im, IMAGE& imc, int loop_pos, const int* border, int sub_flag);

// Fills the canonical image cptr (geometry imc from get_new_format with the same
// loop_pos, border and sub_flag) from the source bptr (geometry im), then removes
// markers (image_special 1) or crosshairs (5). logfile is not used.
int cut_border(const IMAGE& im, std::span<const unsigned char> bptr, const IMAGE& imc,
               std::span<unsigned char> cptr, int loop_pos, int image_special, const int* border,
               int sub_flag, std::FILE* logfile);

// Replaces the four dark bars reaching in from the middle of the edges by
// ramps between their neighbours. b2: the left border width (it moves the
// default column of the top and bottom bars).
void remove_edge_markers(const IMAGE& imc, std::span<unsigned char> cptr, int b2);

// Separable 5-wide horizontal then 7-high vertical median filter.
void remove_crosshairs(const IMAGE& imc, std::span<unsigned char> cptr);

}  // namespace orva
