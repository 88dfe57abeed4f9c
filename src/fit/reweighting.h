// The iteratively reweighted fit shared by the sinusoid fit and the combined
// fits: fit, measure the weighted residuals, derive new robust weights with
// est_weights2, and repeat until the weighted mean square of the residuals or
// the weights change by less than the relative bound 0.0005, at most 31 fits.
#pragma once

#include <cstdio>
#include <functional>
#include <span>

namespace orva {

// What one fit of the reweighting loop reports.
struct FitRound {
    int status = 0;     // the loop's status when it ends after this fit
    bool stop = false;  // end now: the fit failed, or it left no degree of freedom
    double norm = 0.0;  // weighted mean squared residual of the fit
};

// Runs the loop. Before each fit the positive weights are scaled to average 1;
// fit_round then fits with `weights` and writes the residual of every entry
// into deviates[0..N). Between fits the new weights come from est_weights2
// on deviates. On return `weights` and `weights_est` hold the weights of the
// last fit. Returns the status of the last fit.
int robust_reweighting(int N, std::span<double> weights, std::span<double> weights_est,
                       std::span<double> deviates, const std::function<FitRound()>& fit_round,
                       std::FILE* logfile);

// Scales the weights so that the positive ones average 1 (nothing when none
// is positive).
void normalise_weights(std::span<double> weights, int N);

}  // namespace orva
