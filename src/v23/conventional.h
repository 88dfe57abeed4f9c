// The version-2.3 analysis driver: per-image preparation, four crystal
// detectors, a robust mean along the spindle and a reweighted sinusoid across it.
#pragma once

#include <cstdio>
#include <vector>

#include "orva_defines.h"

namespace orva {

// Fills x_centre, y_centre, radius, phi, reliability and precentring_flag of
// `xres`. Returns 0, or the first non-zero status of a called routine.
int orva_conventional(ORVAPARAMS& xp, const std::vector<ByteBuffer>& image_arr, ORVARESULT& xres,
                      std::FILE* logoutx);

}  // namespace orva
