// Combined weighted least squares of both image coordinates over the rotation
// angle (degrees): row 0 of the observations moves on
// x0 + radius * cos(phi - phi0), row 1 (along the spindle axis) stays at y0.
// One weight per observation applies to both rows; the reweighting works on
// the Euclidean distance between observed and fitted point.
//
// Observations are a 2 x N matrix (row 0 moving, row 1 axial coordinate);
// estimates have the same shape. A point with a coordinate of exactly 0 is a
// missing detection: it stays out of the normal matrix, the right-hand side,
// the goodness of fit and the residuals, and still receives its estimate.
#pragma once

#include <cstdio>
#include <functional>
#include <span>

#include "fit/least_squares.h"
#include "toolkit/arrays.h"

namespace orva {

// Statuses of inversion.
constexpr int INV_SINGULAR = 1;  // largest singular value below 1.0e-6
constexpr int INV_DEGRADED = 2;  // largest singular value above 1e18

// Status of the combined fits when the normal matrix could not be inverted
// (singular or degraded, reported by inversion): no parameter is written.
constexpr int FIT_SINGULAR = 21;

// Pseudo-inverse of the square M x M matrix A into Ai through the singular
// value decomposition; singular values up to min(1e-5 * smax, 1e-5) are
// treated as 0. A is destroyed. Returns 0, INV_SINGULAR or INV_DEGRADED, the
// latter two with a message on standard error and on out (null: standard
// output) and Ai untouched.
int inversion(int M, Matrix<double>& A, Matrix<double>& Ai, std::FILE* out);

// One weighted fit with unknown x0: solves x0, p, q, y0; writes x0, y0,
// radius, phi0, the four variances (where their diagonal element is > 0) and
// gofn of mp, and est. Returns 0 or FIT_SINGULAR.
int combined_LS_1(int N, std::span<const double> cond, const Matrix<double>& obs,
                  Matrix<double>& est, std::span<const double> weight, PARAMS& mp,
                  std::FILE* logfile);

// One weighted fit with x0 fixed at mp.x0: solves p, q, y0; writes y0,
// radius, phi0, var_p0, var_q0, var_y0 and gofn, and est (x0, var_x0 kept).
// Returns 0 or FIT_SINGULAR.
int combined_LS_2(int N, std::span<const double> cond, const Matrix<double>& obs,
                  Matrix<double>& est, std::span<const double> weight, PARAMS& mp,
                  std::FILE* logfile);

// Robust combined fit: mp.x0 < 0 on entry selects the fit with unknown x0,
// else x0 is the known axis position. At most 31 fits, reweighted with
// est_weights2 on the point distances, stopping on convergence (relative
// bound 0.0005) or when there are no degrees of freedom. Missing points are
// left out of the fits and of the reweighting altogether (the result is the
// same as without them); they get weight 0 and the fitted point as estimate.
// Writes mp, ls_est and the last normalised weights into weights_est.
// Returns 0 or FIT_SINGULAR (mp and ls_est then hold the last successful
// fit, or are untouched when there was none).
int weighted_combined_LS(PARAMS& mp, const Matrix<double>& ls_obs, Matrix<double>& ls_est,
                         std::span<const double> phi, int N, std::span<double> weights_est,
                         std::FILE* logfile);

namespace detail {
// The single fit the reweighting loop calls; replaceable so the loop's own
// limits can be checked.
using CombinedFit =
    std::function<int(int, std::span<const double>, const Matrix<double>&, Matrix<double>&,
                      std::span<const double>, PARAMS&, std::FILE*)>;
int weighted_combined_ls_with(const CombinedFit& fit, PARAMS& mp, const Matrix<double>& ls_obs,
                              Matrix<double>& ls_est, std::span<const double> phi, int N,
                              std::span<double> weights_est, std::FILE* logfile);
}  // namespace detail

}  // namespace orva
