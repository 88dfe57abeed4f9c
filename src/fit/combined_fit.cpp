// Combined weighted least squares of both image coordinates: one normal
// system for (x0, p, q, y0), or (p, q, y0) around a known x0, solved through
// the SVD pseudo-inverse, and the robust reweighting on point distances.
// Angles in degrees (RADIAN); conventions and statuses in combined_fit.h.
//
// Degenerate input: no usable observation (all weights 0, every point
// missing) makes the normal matrix singular, which inversion reports and the
// fits return as FIT_SINGULAR without touching the parameters. Fewer points
// than unknowns give gofn 0 and end the reweighting after that fit.
#include "fit/combined_fit.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "fit/reweighting.h"
#include "toolkit/svd.h"

namespace orva {
namespace {

constexpr double TOL2 = 1.0e-6;      // smallest acceptable largest singular value
constexpr double DEGRADED = 1e18;    // largest acceptable largest singular value
constexpr double REL_THRESH = 1e-5;  // singular values below smax * this count as 0
constexpr double ABS_THRESH = 1e-5;  // ... and never more than this

// A coordinate of exactly 0 marks a point that was not found.
bool missing(const Matrix<double>& obs, int i) {
    return obs[0][i] == 0.0 || obs[1][i] == 0.0;
}

std::FILE* or_stdout(std::FILE* stream) {
    return stream ? stream : stdout;
}

// Cosine and sine of every angle.
struct Basis {
    std::vector<double> cosine, sine;
    Basis(int N, std::span<const double> cond)
        : cosine(vector(std::max(N, 1))), sine(vector(std::max(N, 1))) {
        for (int i = 0; i < N; i++) {
            cosine[i] = std::cos(cond[i] * RADIAN);
            sine[i] = std::sin(cond[i] * RADIAN);
        }
    }
};

// Fitted points and the weighted squared distances of the present points
// with positive weight; returns their number through cnt.
double estimate_points(int N, std::span<const double> cond, const Matrix<double>& obs,
                       Matrix<double>& est, std::span<const double> weight, double x0, double y0,
                       double radius, double phi0, int& cnt) {
    double chisq = 0.0;
    cnt = 0;
    for (int i = 0; i < N; i++) {
        est[0][i] = radius * std::cos((cond[i] - phi0) * RADIAN) + x0;
        est[1][i] = y0;
        if (weight[i] > 0.0 && !missing(obs, i)) {
            const double dx = obs[0][i] - est[0][i];
            const double dy = obs[1][i] - est[1][i];
            chisq += weight[i] * (dx * dx + dy * dy);
            cnt++;
        }
    }
    return chisq;
}

// Copies the upper triangle of h into the lower one.
void symmetrise(Matrix<double>& h, int M) {
    for (int j = 1; j < M; j++)
        for (int k = 0; k < j; k++) h[j][k] = h[k][j];
}

}  // namespace

int inversion(int M, Matrix<double>& A, Matrix<double>& Ai, std::FILE* out) {
    std::vector<double> s = vector(M);
    Matrix<double> v = matrix(M, M);
    singvaldec(A, M, M, s, v);

    double smax = 0.0;
    for (int i = 0; i < M; i++)
        if (s[i] > smax) smax = s[i];
    if (smax < TOL2) {
        std::fprintf(stderr, "\n#\n#     singular matrix, smax = %f ", smax);
        std::fprintf(or_stdout(out), "\n#\n#     singular matrix, smax = %f ", smax);
        return INV_SINGULAR;
    }
    if (smax > DEGRADED) {
        std::fprintf(stderr, "\n#\n#     degraded matrix, smax = %f ", smax);
        std::fprintf(or_stdout(out), "\n#\n#     degraded matrix, smax = %f ", smax);
        return INV_DEGRADED;
    }
    const double thresh = smax * REL_THRESH < ABS_THRESH ? smax * REL_THRESH : ABS_THRESH;

    // T = V * diag(1/s) with negligible values dropped, then Ai = T * transpose(U).
    Matrix<double> t = matrix(M, M);
    for (int j = 0; j < M; j++)
        for (int i = 0; i < M; i++) t[j][i] = s[i] > thresh ? v[j][i] / s[i] : 0.0;
    multmatsqT(M, Ai, t, A);
    return 0;
}

namespace {

// The common end of both fits: solves the normal system h * solution = g of
// M unknowns through the pseudo-inverse, the last three being p, q and y0
// (M = 4: x0 comes first; M = 3: x0 is the known mp.x0), then writes the
// fitted points, the goodness of fit and the parameters with the variances
// whose diagonal element is positive. h is destroyed. Returns 0, or
// FIT_SINGULAR with mp untouched.
int solve_and_estimate(int M, Matrix<double>& h, const double* g, int N,
                       std::span<const double> cond, const Matrix<double>& obs, Matrix<double>& est,
                       std::span<const double> weight, PARAMS& mp, std::FILE* logfile) {
    Matrix<double> ai = matrix(M, M);
    symmetrise(h, M);
    if (inversion(M, h, ai, logfile) != 0) return FIT_SINGULAR;

    double solution[4];
    for (int j = 0; j < M; j++) {
        solution[j] = 0.0;
        for (int k = 0; k < M; k++) solution[j] += ai[j][k] * g[k];
    }
    const bool x0_unknown = M == 4;
    const int first = M - 3;  // index of p
    const double x0 = x0_unknown ? solution[0] : mp.x0;
    const double p = solution[first], q = solution[first + 1], y0 = solution[first + 2];
    const double radius = std::sqrt(p * p + q * q);
    const double phi0 = phase_angle(p, q, radius);

    // Degrees of freedom: the moving coordinate has M - 1 unknowns, the axial one 1.
    int cnt = 0;
    const double chisq = estimate_points(N, cond, obs, est, weight, x0, y0, radius, phi0, cnt);
    const int moving = M - 1;
    const double gofx = cnt >= moving + 1 ? chisq / (cnt - moving) : 0.0;
    const double gofy = cnt >= 2 ? chisq / (cnt - 1) : 0.0;

    if (x0_unknown && ai[0][0] > 0.0) mp.var_x0 = ai[0][0] * gofx;
    if (ai[first][first] > 0.0) mp.var_p0 = ai[first][first] * gofx;
    if (ai[first + 1][first + 1] > 0.0) mp.var_q0 = ai[first + 1][first + 1] * gofx;
    if (ai[first + 2][first + 2] > 0.0) mp.var_y0 = ai[first + 2][first + 2] * gofy;
    mp.gofn = gofx;
    mp.radius = radius;
    mp.phi0 = phi0;
    mp.x0 = x0;
    mp.y0 = y0;
    return 0;
}

}  // namespace

int combined_LS_1(int N, std::span<const double> cond, const Matrix<double>& obs,
                  Matrix<double>& est, std::span<const double> weight, PARAMS& mp,
                  std::FILE* logfile) {
    constexpr int NUM_PARAM = 4;
    const Basis basis(N, cond);
    Matrix<double> h = matrix(NUM_PARAM, NUM_PARAM);

    // Upper-left block as the sinusoid fit; the axial constant on its own.
    double g[NUM_PARAM] = {0.0, 0.0, 0.0, 0.0};
    for (int i = 0; i < N; i++) {
        if (missing(obs, i)) continue;
        const double b[3] = {1.0, basis.cosine[i], basis.sine[i]};
        for (int j = 0; j < 3; j++) {
            for (int k = j; k < 3; k++) h[j][k] += weight[i] * b[j] * b[k];
            g[j] += weight[i] * obs[0][i] * b[j];
        }
        h[3][3] += weight[i];
        g[3] += weight[i] * obs[1][i];
    }
    return solve_and_estimate(NUM_PARAM, h, g, N, cond, obs, est, weight, mp, logfile);
}

int combined_LS_2(int N, std::span<const double> cond, const Matrix<double>& obs,
                  Matrix<double>& est, std::span<const double> weight, PARAMS& mp,
                  std::FILE* logfile) {
    constexpr int NUM_PARAM = 3;
    const double x0 = mp.x0;
    const Basis basis(N, cond);
    Matrix<double> h = matrix(NUM_PARAM, NUM_PARAM);

    double g[NUM_PARAM] = {0.0, 0.0, 0.0};
    for (int i = 0; i < N; i++) {
        if (missing(obs, i)) continue;
        const double c = basis.cosine[i], s = basis.sine[i];
        h[0][0] += weight[i] * c * c;
        h[0][1] += weight[i] * s * c;
        h[1][1] += weight[i] * s * s;
        h[2][2] += weight[i];
        g[0] += weight[i] * (obs[0][i] - x0) * c;
        g[1] += weight[i] * (obs[0][i] - x0) * s;
        g[2] += weight[i] * obs[1][i];
    }
    return solve_and_estimate(NUM_PARAM, h, g, N, cond, obs, est, weight, mp, logfile);
}

namespace detail {
namespace {

// The reweighting loop over points that are all present. Returns the status
// of the last fit; fitted tells whether any fit succeeded.
int reweighting_loop(const CombinedFit& fit, PARAMS& mp, const Matrix<double>& obs,
                     Matrix<double>& est, std::span<const double> phi, int N,
                     std::span<double> weights_est, std::FILE* logfile, bool& fitted) {
    std::vector<double> weights(weights_est.begin(), weights_est.begin() + N);
    std::vector<double> deviates = vector(std::max(N, 1));
    fitted = false;

    auto fit_round = [&]() {
        FitRound round;
        round.status = fit(N, phi, obs, est, weights, mp, logfile);
        // Any failure ends the loop: a fit that could not be solved must not
        // pass for a fit of zeros.
        round.stop = round.status != 0;
        if (round.stop) return round;
        fitted = true;
        round.stop = mp.gofn == 0.0;
        if (round.stop) return round;

        // Point distances; weighted mean square over the weighted points.
        double chisq = 0.0;
        int count = 0;
        for (int i = 0; i < N; i++) {
            const double dx = est[0][i] - obs[0][i];
            const double dy = est[1][i] - obs[1][i];
            const double d2 = dx * dx + dy * dy;
            deviates[i] = std::sqrt(d2);
            if (weights[i] > 0.0) {
                chisq += weights[i] * d2;
                count++;
            }
        }
        round.norm = count > 0 ? chisq / count : 0.0;
        return round;
    };
    return robust_reweighting(N, weights, weights_est, deviates, fit_round, logfile);
}

}  // namespace

int weighted_combined_ls_with(const CombinedFit& fit, PARAMS& mp, const Matrix<double>& ls_obs,
                              Matrix<double>& ls_est, std::span<const double> phi, int N,
                              std::span<double> weights_est, std::FILE* logfile) {
    // Missing points take no part in the fits nor in the robust weighting, so
    // the result is the same as if the caller had left them out.
    std::vector<int> present;
    for (int i = 0; i < N; i++)
        if (!missing(ls_obs, i)) present.push_back(i);
    const int n = static_cast<int>(present.size());
    const int rows = std::max(n, 1);
    Matrix<double> obs = matrix(2, rows), est = matrix(2, rows);
    std::vector<double> cond = vector(rows), weights = vector(rows);
    for (int k = 0; k < n; k++) {
        const int i = present[k];
        obs[0][k] = ls_obs[0][i];
        obs[1][k] = ls_obs[1][i];
        cond[k] = phi[i];
        weights[k] = weights_est[i];
    }

    bool fitted = false;
    const int status = reweighting_loop(fit, mp, obs, est, std::span<const double>(cond.data(), n),
                                        n, std::span<double>(weights.data(), n), logfile, fitted);

    for (int k = 0; k < n; k++) weights_est[present[k]] = weights[k];
    for (int i = 0, k = 0; i < N; i++) {
        const bool is_present = k < n && present[k] == i;
        if (!is_present) weights_est[i] = 0.0;
        if (fitted) {
            ls_est[0][i] =
                is_present ? est[0][k] : mp.radius * std::cos((phi[i] - mp.phi0) * RADIAN) + mp.x0;
            ls_est[1][i] = is_present ? est[1][k] : mp.y0;
        }
        if (is_present) k++;
    }
    return status;
}

}  // namespace detail

int weighted_combined_LS(PARAMS& mp, const Matrix<double>& ls_obs, Matrix<double>& ls_est,
                         std::span<const double> phi, int N, std::span<double> weights_est,
                         std::FILE* logfile) {
    // The variant is fixed for the whole call by x0 on entry.
    const bool fit1_flag = mp.x0 < 0.0;
    return detail::weighted_combined_ls_with(fit1_flag ? combined_LS_1 : combined_LS_2, mp, ls_obs,
                                             ls_est, phi, N, weights_est, logfile);
}

}  // namespace orva
