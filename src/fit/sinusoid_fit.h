// Weighted least-squares fit of one coordinate over the rotation angle to
// x0 + radius * cos(phi - phi0) (angles in degrees, see least_squares.h), the
// robust weights from residual gaps, and the iteratively reweighted fit.
//
// An observed value of exactly 0 marks a missing detection: it stays out of
// the normal matrix, the right-hand side, the goodness of fit and the
// residuals, and still receives its fitted value.
#pragma once

#include <cstdio>
#include <span>

#include "fit/least_squares.h"

namespace orva {

// Statuses of LeastSquares.
constexpr int LS_NO_MEMORY = 2;  // working storage could not be allocated
constexpr int LS_SINGULAR = 11;  // normal matrix singular: x0 = radius = phi0 = 0

// One weighted fit of N observations vals at angles phi (degrees) with weights
// weight. Writes x0, radius, phi0, var_x0, var_p0, var_q0 and gofn of mp
// (y0 and var_y0 untouched) and overwrites every vals[i] by the fitted value.
// Returns 0, LS_SINGULAR or LS_NO_MEMORY. logfile (null: standard output) is
// not written.
int LeastSquares(PARAMS& mp, std::span<double> vals, std::span<const double> phi,
                 std::span<const double> weight, int N, std::FILE* logfile);

// New robust weights from N absolute residuals: residuals up to the median
// share the top weight, larger ones get 1/deviate^2, and everything from a
// dominant gap in the upper third of the sorted residuals up gets 0. Only
// whether a current weight is exactly 0 is read. Fewer than 2 entries or no
// positive gap leave the weights unchanged. out is not written.
void est_weights2(int N, std::span<const double> deviates, std::span<double> weights,
                  std::FILE* out);

// Iteratively reweighted fit: at most 31 calls of LeastSquares, reweighting
// with est_weights2 between them, stopping on convergence of the weighted
// residual norm or of the weights (relative bound 0.0005). vals_obs is not
// modified; vals receives the last fitted values, weights_est the last
// normalised weights. A singular fit is not an error here. Returns 0 or
// LS_NO_MEMORY.
int weightedLeastSquares(PARAMS& mp, std::span<const double> vals_obs, std::span<double> vals,
                         std::span<const double> phi, int N, std::span<double> weights_est,
                         std::FILE* logfile);

}  // namespace orva
