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

// The detectors' values image by image (TELKU, 2DF, VIRPA, DEXLA), their
// weights and their squared distances from the latest mean.
struct Sample {
    std::vector<double> v, w, d2;
    int observations = 0;  // positive values
};

Sample gather(int numimg, std::span<const double> telku0_y, std::span<const double> twodf_y,
              std::span<const double> virpa_y, std::span<const double> dexla_y) {
    const int N = DETECTORS * numimg;
    Sample s{vector(N), vector(N), vector(N)};
    for (int i = 0; i < numimg; ++i) {
        s.v[DETECTORS * i + 0] = telku0_y[i];
        s.v[DETECTORS * i + 1] = twodf_y[i];
        s.v[DETECTORS * i + 2] = virpa_y[i];
        s.v[DETECTORS * i + 3] = dexla_y[i];
    }
    for (int k = 0; k < N; ++k) {
        s.w[k] = s.v[k] > 0 ? 1.0 : 0.0;
        if (s.v[k] > 0) ++s.observations;
    }
    return s;
}

double weighted_mean(const Sample& s) {
    double sw = 0.0;
    double swv = 0.0;
    for (std::size_t k = 0; k < s.v.size(); ++k) {
        sw += s.w[k];
        swv += s.w[k] * s.v[k];
    }
    return swv / sw;
}

// Sets the squared distances of the observations from `mean`; returns the
// weighted spread s^2, or -1 when fewer than two values are weighted or they
// all coincide (nothing left to reweight).
double spread_about(double mean, Sample& s) {
    double swd2 = 0.0;
    int weighted = 0;
    for (std::size_t k = 0; k < s.v.size(); ++k) {
        if (!(s.v[k] > 0)) continue;
        s.d2[k] = (s.v[k] - mean) * (s.v[k] - mean);
        if (s.w[k] > 0) {
            swd2 += s.w[k] * s.d2[k];
            ++weighted;
        }
    }
    if (weighted < 2 || swd2 == 0.0) return -1.0;
    return swd2 / (weighted - 1);
}

// The next weights (not yet normalised) into w_new; returns how many are
// positive, and their mean in `norm`.
int robust_weights(const Sample& s, double s2, double cutoff, std::vector<double>& w_new,
                   bool& rejected, double& norm) {
    double sum_new = 0.0;
    int positive_new = 0;
    for (std::size_t k = 0; k < s.v.size(); ++k) {
        if (!(s.v[k] > 0)) {
            w_new[k] = 0.0;
        } else if (s.d2[k] > cutoff) {
            w_new[k] = 0.0;
            rejected = true;
        } else if (s.d2[k] > s2) {
            w_new[k] = 1.0 / s.d2[k];
        } else {
            w_new[k] = 1.0 / s2;
        }
        if (w_new[k] > 0) {
            sum_new += w_new[k];
            ++positive_new;
        }
    }
    if (positive_new > 0) norm = sum_new / positive_new;
    return positive_new;
}

// Takes w_new / norm as the weights; returns the mean change per value.
double replace_weights(std::vector<double>& w, std::vector<double>& w_new, double norm) {
    double change = 0.0;
    for (std::size_t k = 0; k < w.size(); ++k) {
        w_new[k] /= norm;
        change += std::fabs(w[k] - w_new[k]);
        w[k] = w_new[k];
    }
    return change / static_cast<double>(w.size());
}

double reweighted_mean(Sample& s) {
    std::vector<double> w_new = vector(static_cast<long>(s.v.size()));
    double mean = 0.0;
    double previous_mean = 0.0;
    double first_cutoff = 0.0;
    for (int iter = 0; iter <= ITER_MAX; ++iter) {
        mean = weighted_mean(s);
        const double s2 = spread_about(mean, s);
        if (s2 < 0.0 || iter >= ITER_MAX) break;

        const double cutoff = std::max(CUTOFF_FACTOR * s2, first_cutoff);
        bool rejected = false;
        double norm = 0.0;
        if (robust_weights(s, s2, cutoff, w_new, rejected, norm) == 0) break;
        if (rejected && first_cutoff == 0.0) first_cutoff = cutoff;
        const double change = replace_weights(s.w, w_new, norm);
        const bool settled = iter > 0 && std::fabs(mean - previous_mean) < MEAN_MOVE_STOP;
        previous_mean = mean;
        if (change < WEIGHT_CHANGE_STOP || settled) break;
    }
    return mean;
}

void standard_errors(const Sample& s, double& y_dev, double& y_devW) {
    double sum_d2 = 0.0;
    double sum_wd2 = 0.0;
    double sum_w = 0.0;
    int m = 0;
    for (std::size_t k = 0; k < s.v.size(); ++k) {
        if (!(s.v[k] > 0)) continue;
        sum_d2 += s.d2[k];
        if (s.w[k] > 0) {
            sum_wd2 += s.w[k] * s.d2[k];
            sum_w += s.w[k];
            ++m;
        }
    }
    const int n = s.observations;
    if (n >= 2) y_dev = std::sqrt(sum_d2 / (n - 1)) / std::sqrt(static_cast<double>(n - 1));
    if (m >= 2) y_devW = std::sqrt((sum_wd2 / sum_w) / (m - 1));
}

}  // namespace

double get_mean_y(int numimg, std::span<const double> telku0_y, std::span<const double> twodf_y,
                  std::span<const double> virpa_y, std::span<const double> dexla_y, double& y_dev,
                  double& y_devW, std::FILE* /*logfile*/) {
    y_dev = 0.0;
    y_devW = 0.0;
    if (numimg < 1) return 0.0;
    Sample s = gather(numimg, telku0_y, twodf_y, virpa_y, dexla_y);
    if (s.observations == 0) return 0.0;
    const double mean = reweighted_mean(s);
    standard_errors(s, y_dev, y_devW);
    return mean;
}

}  // namespace orva
