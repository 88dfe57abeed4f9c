// Sinusoid least squares: closed-form weighted 3 x 3 normal equations for
// x0 + p cos(phi) + q sin(phi) (phi in degrees, converted with RADIAN), robust
// weights from gaps between sorted residuals, and the iteratively reweighted
// fit. Conventions and statuses are described in sinusoid_fit.h.
//
// Degenerate input: a normal matrix whose determinant is 0 up to rounding
// (all angles equal, two distinct angles, all weights 0, every value missing)
// gives LS_SINGULAR with x0 = radius = phi0 = 0.
#include "fit/sinusoid_fit.h"

#include <array>
#include <cfloat>
#include <cmath>
#include <new>
#include <vector>

#include "fit/reweighting.h"
#include "toolkit/arrays.h"
#include "toolkit/heap_sort.h"

namespace orva {
namespace {

using Mat3 = std::array<std::array<double, 3>, 3>;

// Robust weight constants: gap ratio, gap over median gap, precision share.
constexpr double KAPPA1 = 2.0;
constexpr double KAPPA2 = 9.0;
constexpr double KAPPA3 = 0.05;

// A determinant this small against the product of the diagonal is rounding
// noise of an exactly singular matrix (the bound of a positive semi-definite
// matrix's determinant is that product).
constexpr double SINGULAR_REL_DET = 64.0 * DBL_EPSILON;

// Rule of Sarrus.
double Determinant_3x3(const Mat3& a) {
    return a[0][0] * a[1][1] * a[2][2] + a[0][1] * a[1][2] * a[2][0] + a[0][2] * a[1][0] * a[2][1] -
           a[0][2] * a[1][1] * a[2][0] - a[0][0] * a[1][2] * a[2][1] - a[0][1] * a[1][0] * a[2][2];
}

// Transposed matrix of cofactors (the adjugate).
Mat3 CoFactor_3x3(const Mat3& a) {
    Mat3 k{};
    k[0][0] = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    k[0][1] = a[0][2] * a[2][1] - a[0][1] * a[2][2];
    k[0][2] = a[0][1] * a[1][2] - a[0][2] * a[1][1];
    k[1][0] = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    k[1][1] = a[0][0] * a[2][2] - a[0][2] * a[2][0];
    k[1][2] = a[0][2] * a[1][0] - a[0][0] * a[1][2];
    k[2][0] = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    k[2][1] = a[0][1] * a[2][0] - a[0][0] * a[2][1];
    k[2][2] = a[0][0] * a[1][1] - a[0][1] * a[1][0];
    return k;
}

// Allocates n zeroed doubles; false (with the caller's message) on failure.
bool try_allocate(std::vector<double>& v, int n) {
    try {
        v.assign(static_cast<std::size_t>(std::max(n, 1)), 0.0);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

}  // namespace

int LeastSquares(PARAMS& mp, std::span<double> vals, std::span<const double> phi,
                 std::span<const double> weight, int N, std::FILE* /*logfile*/) {
    if (N < 0) N = 0;
    // Basis columns 1, cos, sin per observation.
    std::vector<double> fcalc;
    if (!try_allocate(fcalc, 3 * N)) {
        std::fprintf(stderr, "\n%s: Cannot allocate fcalc!", "LeastSquares");
        std::perror(":");
        mp.x0 = mp.radius = mp.phi0 = 0.0;
        return LS_NO_MEMORY;
    }
    for (int i = 0; i < N; i++) {
        fcalc[3 * i] = 1.0;
        fcalc[3 * i + 1] = std::cos(phi[i] * RADIAN);
        fcalc[3 * i + 2] = std::sin(phi[i] * RADIAN);
    }
    mp.var_x0 = mp.var_p0 = mp.var_q0 = 0.0;

    // Normal matrix over the observations that are present (value not 0).
    Mat3 h{};
    for (int i = 0; i < N; i++) {
        if (vals[i] == 0.0) continue;
        const double* b = &fcalc[3 * i];
        for (int j = 0; j < 3; j++)
            for (int k = j; k < 3; k++) h[j][k] += weight[i] * b[j] * b[k];
    }
    for (int j = 1; j < 3; j++)
        for (int k = 0; k < j; k++) h[j][k] = h[k][j];

    const double det = Determinant_3x3(h);
    const Mat3 hk = CoFactor_3x3(h);
    if (std::fabs(det) <= SINGULAR_REL_DET * std::fabs(h[0][0] * h[1][1] * h[2][2])) {
        mp.x0 = mp.radius = mp.phi0 = 0.0;
        return LS_SINGULAR;
    }
    Mat3 hi{};
    for (int j = 0; j < 3; j++)
        for (int k = 0; k < 3; k++) hi[j][k] = hk[j][k] / det;

    // Right-hand side and solution (x0, p, q).
    double g[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < N; i++) {
        if (vals[i] == 0.0) continue;
        for (int j = 0; j < 3; j++) g[j] += weight[i] * vals[i] * fcalc[3 * i + j];
    }
    double solution[3];
    for (int j = 0; j < 3; j++) solution[j] = hi[j][0] * g[0] + hi[j][1] * g[1] + hi[j][2] * g[2];
    const double x0 = solution[0], p = solution[1], q = solution[2];
    const double radius = std::sqrt(p * p + q * q);
    const double phi0 = phase_angle(p, q, radius);

    // Fitted values; residuals of present, weighted observations.
    double chisq = 0.0;
    int dof = -3;
    for (int i = 0; i < N; i++) {
        const double fitted = radius * std::cos((phi[i] - phi0) * RADIAN) + x0;
        if (vals[i] > 0.0 && weight[i] > 0.0) {
            const double residual = vals[i] - fitted;
            chisq += weight[i] * (residual * residual);
            dof++;
        }
        vals[i] = fitted;
    }
    const double gof = dof >= 1 ? chisq / dof : 0.0;

    if (hi[0][0] > 0.0) mp.var_x0 = hi[0][0] * gof;
    if (hi[1][1] > 0.0) mp.var_p0 = hi[1][1] * gof;
    if (hi[2][2] > 0.0) mp.var_q0 = hi[2][2] * gof;
    mp.x0 = x0;
    mp.radius = radius;
    mp.phi0 = phi0;
    mp.gofn = gof;
    return 0;
}

void est_weights2(int N, std::span<const double> deviates, std::span<double> weights,
                  std::FILE* /*out*/) {
    if (N < 2) return;

    int num_outlier = 0;
    double max_deviate = 0.0;
    for (int i = 0; i < N; i++) {
        if (weights[i] == 0.0)
            num_outlier++;
        else if (deviates[i] > max_deviate)
            max_deviate = deviates[i];
    }
    const double precision = max_deviate > 0.0 ? max_deviate * KAPPA3 : 0.0001;

    std::vector<double> dev_sort(deviates.begin(), deviates.begin() + N);
    std::vector<unsigned int> idx_dev(N);
    heap_sort_dui(N, dev_sort, idx_dev);

    // Gaps between neighbouring sorted residuals, and the same sorted.
    std::vector<double> dist_all = vector(N);
    for (int k = 1; k < N; k++) dist_all[k] = dev_sort[k] - dev_sort[k - 1];
    std::vector<double> dist_sort = dist_all;
    std::vector<unsigned int> idx_dist(N);
    heap_sort_dui(N, dist_sort, idx_dist);

    const int mid = (N - num_outlier) / 2;
    double median_dist = dist_sort[mid];
    if (median_dist == 0.0) {
        for (int k = mid; k < N; k++)
            if (dist_sort[k] > 0.0) {
                median_dist = dist_sort[k] / 2.0;
                break;
            }
    }

    // Largest dominant gap in the upper third of the sorted residuals.
    int dist_pos = N;
    double max_dist = dist_sort[0];
    if (N > 5) {
        const int M = 2 * N / 3;
        for (int pos = N - 1; pos > M && dist_sort[pos - 1] > 0.0; pos--) {
            const double dist = dist_sort[pos];
            const double relation = dist / dist_sort[pos - 1];
            if (relation >= KAPPA1 && dist >= median_dist * KAPPA2 && dist > max_dist) {
                dist_pos = static_cast<int>(idx_dist[pos]);
                max_dist = dist;
            }
        }
    }
    if (median_dist == 0.0) return;

    double lambda3 = dev_sort[mid];
    if (lambda3 < precision) lambda3 = precision;
    double lambda1 = dev_sort[N - 1] + 1.0;
    if ((2 * N + 1) / 3 <= dist_pos && dist_pos < N) lambda1 = dev_sort[dist_pos];

    for (int i = 0; i < N; i++) {
        if (deviates[i] >= lambda1)
            weights[i] = 0.0;
        else if (deviates[i] >= lambda3)
            weights[i] = 1.0 / (deviates[i] * deviates[i]);
        else
            weights[i] = 1.0 / (lambda3 * lambda3);
    }
}

int weightedLeastSquares(PARAMS& mp, std::span<const double> vals_obs, std::span<double> vals,
                         std::span<const double> phi, int N, std::span<double> weights_est,
                         std::FILE* logfile) {
    if (N < 0) N = 0;
    std::vector<double> deviates, weights;
    if (!try_allocate(deviates, N)) {
        std::fprintf(stderr, "\n Cannot allocate delta_sq[]\n");
        return LS_NO_MEMORY;
    }
    if (!try_allocate(weights, N)) {
        std::fprintf(stderr, "\n Cannot allocate weights\n");
        return LS_NO_MEMORY;
    }
    std::copy(weights_est.begin(), weights_est.begin() + N, weights.begin());

    auto fit_round = [&]() {
        FitRound round;
        std::copy(vals_obs.begin(), vals_obs.begin() + N, vals.begin());
        round.status = LeastSquares(mp, vals, phi, weights, N, logfile);
        if (round.status >= 1 && round.status <= 10) {
            round.stop = true;
            return round;
        }
        if (round.status == LS_SINGULAR) {
            // Not an error here: carry on from the observations themselves.
            std::copy(vals_obs.begin(), vals_obs.begin() + N, vals.begin());
            round.status = 0;
        }
        if (mp.gofn == 0.0) {
            round.stop = true;
            return round;
        }
        // Weighted mean squared residual over the present observations.
        double sum = 0.0;
        int count = 0;
        for (int i = 0; i < N; i++) {
            if (!(vals_obs[i] > 0.0)) continue;
            deviates[i] = std::fabs(vals[i] - vals_obs[i]);
            sum += weights[i] * (deviates[i] * deviates[i]);
            count++;
        }
        round.norm = count > 0 ? sum / count : 0.0;
        return round;
    };
    return robust_reweighting(N, weights, weights_est, deviates, fit_round, logfile);
}

}  // namespace orva
