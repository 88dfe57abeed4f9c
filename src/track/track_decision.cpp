// Evidence, decision rule and reliability of the TRACK method (see track_decision.h).
#include "track/track_decision.h"

#include <algorithm>
#include <cmath>

namespace orva {

namespace {

constexpr double MIN_PROBABILITY = 0.5;

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

double spread(const std::vector<double>& v) {
    if (v.size() < 2) return 0.0;
    double mean = 0.0;
    for (double x : v) mean += x;
    mean /= static_cast<double>(v.size());
    double ss = 0.0;
    for (double x : v) ss += (x - mean) * (x - mean);
    return std::sqrt(ss / static_cast<double>(v.size() - 1));
}

}  // namespace

Evidence evidence_of(std::span<const TrackImage> images, std::span<const TrajectoryFit> found,
                     std::size_t k, int usable) {
    Evidence e;
    const TrajectoryFit& fit = found[k];
    e.usable = usable;
    e.supporting = static_cast<int>(fit.matches.size());
    if (usable <= 0 || fit.matches.empty()) return e;
    e.share = fit.score / usable;
    e.support = static_cast<double>(e.supporting) / usable;
    double other = 0.0;
    for (std::size_t j = 0; j < found.size(); ++j)
        if (j != k) other = std::max(other, found[j].score);
    e.lead = (fit.score - other) / std::max({fit.score, other, 1e-9});
    e.radius = fit.t.radius();
    e.size = fit.size;
    double sum2 = 0.0, log_weight = 0.0;
    int top = 0;
    std::vector<double> elongation, contrast, size, motion;
    for (const Match& m : fit.matches) {
        const Candidate& c = images[m.image].candidates[m.candidate];
        sum2 += m.dx * m.dx + m.dy * m.dy;
        log_weight += std::log(std::max(c.weight, 1e-3));
        if (c.rank == 0) ++top;
        elongation.push_back(c.elongation);
        contrast.push_back(std::log(std::max(c.contrast, 1.0)));
        size.push_back(std::log(std::max(c.size, 1.0)));
        motion.push_back(c.motion);
    }
    const double n = static_cast<double>(fit.matches.size());
    e.residual = std::sqrt(sum2 / n) / std::max(fit.size, 1.0);
    e.mean_log_weight = log_weight / n;
    e.top = static_cast<double>(top) / usable;
    e.roundness = median(elongation);
    e.contrast_spread = spread(contrast);
    e.size_spread = spread(size);
    e.motion = median(motion);
    return e;
}

// A logistic model fitted on the trajectories found in the tuning scenes of the
// accuracy benchmark: crystal or not.
double crystal_probability(const Evidence& e) {
    const double round = std::log(std::clamp(e.roundness, 1.0, 20.0));
    const double z =
        -1.7057 + 2.9955 * e.share + 0.8759 * e.top + 0.8510 * e.mean_log_weight +
        0.1617 * e.residual + 0.5597 * e.lead + 4.1105 * round - 0.1153 * e.contrast_spread +
        0.3340 * e.size_spread + 0.2259 * e.support - 0.1979 * std::log(std::max(e.size, 1.0)) +
        0.3427 * std::log(std::max(e.usable, 1)) + 0.1275 * (e.radius < 0.5 * e.size ? 1.0 : 0.0) -
        0.7667 * e.lead * e.lead - 2.0938 * round * round;
    return 1.0 / (1.0 + std::exp(-z));
}

bool is_crystal(double probability) {
    return probability >= MIN_PROBABILITY;
}

double track_reliability(double probability) {
    return probability;
}

}  // namespace orva
