// The reweighting loop of the robust fits and the weight normalisation; see
// reweighting.h.
#include "fit/reweighting.h"

#include <algorithm>
#include <cmath>

#include "fit/sinusoid_fit.h"

namespace orva {
namespace {

constexpr int ITER_MAX = 30;
constexpr double CONVERGENCE = 0.0005;
constexpr double START_NORM = 1e30;

}  // namespace

int robust_reweighting(int N, std::span<double> weights, std::span<double> weights_est,
                       std::span<double> deviates, const std::function<FitRound()>& fit_round,
                       std::FILE* logfile) {
    int status = 0;
    double norm_old = START_NORM;
    for (int iter = 0; iter <= ITER_MAX; iter++) {
        normalise_weights(weights, N);
        const FitRound round = fit_round();
        status = round.status;
        if (round.stop) break;
        const double relative = norm_old != 0.0 ? std::fabs(norm_old - round.norm) / norm_old : 0.0;
        if (relative < CONVERGENCE) break;
        norm_old = round.norm;

        // The last fit is not followed by a reweighting nobody would use.
        if (iter < ITER_MAX) {
            std::copy(weights.begin(), weights.begin() + N, weights_est.begin());
            est_weights2(N, deviates, weights_est, logfile);
            normalise_weights(weights_est, N);
            double change = 0.0;
            for (int i = 0; i < N; i++) change += std::fabs(weights[i] - weights_est[i]);
            if (N > 0) change /= static_cast<double>(N) * N;
            std::copy(weights_est.begin(), weights_est.begin() + N, weights.begin());
            if (change < CONVERGENCE) break;
        }
    }
    return status;
}

void normalise_weights(std::span<double> weights, int N) {
    double sum = 0.0;
    int count = 0;
    for (int i = 0; i < N; i++)
        if (weights[i] > 0.0) {
            sum += weights[i];
            count++;
        }
    if (sum != 0.0) {
        const double factor = count / sum;
        for (int i = 0; i < N; i++) weights[i] *= factor;
    }
}

}  // namespace orva
