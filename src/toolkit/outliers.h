// Rejection of the largest values of a sample when a clearly larger gap than
// usual separates them from the rest.
//
// outlier_detection writes weights[i] = 0.0 for outliers and 1.0 for inliers.
// Only a gap whose upper value lies in the top third of the sorted sample can
// be a cut, and only for N > 5. When all values are equal (or N < 1) no weight
// is written, so the caller's initial weights stand. `out` is accepted and not
// used. deviates and weights need N entries (N is limited to their sizes).
#pragma once

#include <cstdio>
#include <span>

namespace orva {

constexpr double OUTLIER_KAPPA1 = 2.0;  // ratio to the next smaller gap
constexpr double OUTLIER_KAPPA2 = 9.0;  // ratio to the median gap

void outlier_detection(int N, std::span<const double> deviates, std::span<double> weights,
                       std::FILE* out);

}  // namespace orva
