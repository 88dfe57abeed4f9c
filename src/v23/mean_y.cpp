// Robust mean of the coordinate along the spindle axis over all detectors and
// images: an iteratively reweighted mean in which values further than the
// weighted spread get weight 1/d^2 and values beyond three times the squared
// spread (never less than the cut that first rejected a value) get weight 0.
//
// Only positive values are observations; a value of 0 or -1 is a detector that
// found nothing. The reweighting stops when the weights change by less than
// 0.001 per value, when the mean moves by less than 0.1 pixel, after 21 passes,
// or when the remaining values no longer spread (fewer than two of them, or
// all equal): then the current mean is final.
// Returns the mean; y_dev is the plain standard error of the positive values
// about it, y_devW the weighted one over the values still weighted. No
// positive value gives 0 with both errors 0.
#include <algorithm>
#include <cmath>
#include <vector>

#include "toolkit/arrays.h"
#include "v23/image_preparation.h"

namespace orva {

namespace {

constexpr int ITER_MAX = 20;
constexpr double WEIGHT_CHANGE_STOP = 0.001;
constexpr double MEAN_MOVE_STOP = 0.1;
constexpr double CUTOFF_FACTOR = 3.0;
constexpr int DETECTORS = 4;

}  // namespace

double get_mean_y(int numimg, std::span<const double> telku0_y, std::span<const double> twodf_y,
                  std::span<const double> virpa_y, std::span<const double> dexla_y, double& y_dev,
                  double& y_devW, std::FILE* /*logfile*/) {
    y_dev = 0.0;
    y_devW = 0.0;
    if (numimg < 1) return 0.0;
    const int N = DETECTORS * numimg;
    std::vector<double> v = vector(N);
    std::vector<double> w = vector(N);
    std::vector<double> d2 = vector(N);
    std::vector<double> w_new = vector(N);
    int n = 0;
    for (int i = 0; i < numimg; ++i) {
        v[DETECTORS * i + 0] = telku0_y[i];
        v[DETECTORS * i + 1] = twodf_y[i];
        v[DETECTORS * i + 2] = virpa_y[i];
        v[DETECTORS * i + 3] = dexla_y[i];
    }
    for (int k = 0; k < N; ++k) {
        w[k] = v[k] > 0 ? 1.0 : 0.0;
        if (v[k] > 0) ++n;
    }
    if (n == 0) return 0.0;

    double mean = 0.0;
    double previous_mean = 0.0;
    double first_cutoff = 0.0;
    for (int iter = 0; iter <= ITER_MAX; ++iter) {
        double sw = 0.0;
        double swv = 0.0;
        for (int k = 0; k < N; ++k) {
            sw += w[k];
            swv += w[k] * v[k];
        }
        mean = swv / sw;

        double swd2 = 0.0;
        int weighted = 0;
        for (int k = 0; k < N; ++k) {
            if (!(v[k] > 0)) continue;
            d2[k] = (v[k] - mean) * (v[k] - mean);
            if (w[k] > 0) {
                swd2 += w[k] * d2[k];
                ++weighted;
            }
        }
        // A single value or values that all coincide leave nothing to reweight.
        if (weighted < 2 || swd2 == 0.0) break;
        const double s2 = swd2 / (weighted - 1);
        if (iter >= ITER_MAX) break;

        const double cutoff = std::max(CUTOFF_FACTOR * s2, first_cutoff);
        bool rejected = false;
        double sum_new = 0.0;
        int positive_new = 0;
        for (int k = 0; k < N; ++k) {
            if (!(v[k] > 0)) {
                w_new[k] = 0.0;
            } else if (d2[k] > cutoff) {
                w_new[k] = 0.0;
                rejected = true;
            } else if (d2[k] > s2) {
                w_new[k] = 1.0 / d2[k];
            } else {
                w_new[k] = 1.0 / s2;
            }
            if (w_new[k] > 0) {
                sum_new += w_new[k];
                ++positive_new;
            }
        }
        if (positive_new == 0) break;
        if (rejected && first_cutoff == 0.0) first_cutoff = cutoff;
        const double norm = sum_new / positive_new;
        double change = 0.0;
        for (int k = 0; k < N; ++k) {
            w_new[k] /= norm;
            change += std::fabs(w[k] - w_new[k]);
            w[k] = w_new[k];
        }
        change /= N;
        const bool settled = iter > 0 && std::fabs(mean - previous_mean) < MEAN_MOVE_STOP;
        previous_mean = mean;
        if (change < WEIGHT_CHANGE_STOP || settled) break;
    }

    double sum_d2 = 0.0;
    double sum_wd2 = 0.0;
    double sum_w = 0.0;
    int m = 0;
    for (int k = 0; k < N; ++k) {
        if (!(v[k] > 0)) continue;
        sum_d2 += d2[k];
        if (w[k] > 0) {
            sum_wd2 += w[k] * d2[k];
            sum_w += w[k];
            ++m;
        }
    }
    if (n >= 2) y_dev = std::sqrt(sum_d2 / (n - 1)) / std::sqrt(static_cast<double>(n - 1));
    if (m >= 2) y_devW = std::sqrt((sum_wd2 / sum_w) / (m - 1));
    return mean;
}

}  // namespace orva
