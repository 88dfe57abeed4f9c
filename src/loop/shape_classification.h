// Loop-shape classification: the object mask is traced row by row along its
// two flanks, closed along its first and last rows, cleaned of outline points
// unusually far from its centre, resampled to N_FFT points and described by
// the Fourier magnitudes of its squared-radius function; the nearest built-in
// prototype (Euclidean distance over FD_USED normalised magnitudes) gives the
// class.
//
// Conventions: x the column, y the row, row 0 at the top; the mask is nonzero
// for object. Rows 0 and H-1 and columns 0 and W-1 are never traced.
// Status: always 0. Fewer than 3 traced rows or fewer than 110 outline points
// give NO_OBJECT with classif 50.
#pragma once

#include <span>

#include "loop/shapes.h"
#include "types.h"

namespace orva {

constexpr int N_FFT = 256;  // resampled outline points
constexpr int FD_LEN = 15;  // magnitudes computed from coefficient 1 on
constexpr int FD_USED = 8;  // magnitudes compared with the prototypes
constexpr int NUM_PROTOTYPES = 50;
constexpr unsigned int MIN_OUTLINE_POINTS = 110;

// Prototype descriptors, their normalisers and their classes.
extern const double features[NUM_PROTOTYPES][FD_USED];
extern const double denom[FD_USED];
extern const int shapes[NUM_PROTOTYPES];

// Fills the outline lists and counts, type and classif of shape. The caller has
// sized the eight coordinate vectors: left/right im.height entries, top/bottom
// im.width entries. loop_type is not used.
int shape_classifier(const IMAGE& im, std::span<const unsigned char> bptr, int loop_type,
                     SHAPE_PARAMS& shape);

// Closed outline of a traced record into x and y (each at least num_coord_left
// + num_coord_bottom + num_coord_right + num_coord_top entries): the left list
// top to bottom, the bottom run left to right, the right list bottom to top,
// the top run right to left. Returns the number of points.
unsigned int closed_outline(const SHAPE_PARAMS& shape, std::span<int> x, std::span<int> y);

// Nearest prototype of the magnitudes mag(1) .. mag(FD_USED): returns its
// class and sets classif to its index (ties keep the lower index); UNKNOWN and
// 50 when no distance is below the start value.
int nearest_prototype(std::span<const double, FD_USED> mag, int& classif);

}  // namespace orva
