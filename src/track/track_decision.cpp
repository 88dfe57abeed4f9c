// Evidence, decision rule and reliability of the TRACK method (see track_decision.h).
#include "track/track_decision.h"

#include <algorithm>
#include <cmath>

namespace orva {

namespace {

// The decision threshold and the reliability scale, chosen on the tuning scenes:
// MIN_PROBABILITY is the lowest at which no more scenes without a crystal pass
// than with the candidates' weights before they saw the sharp edge, so that the
// crystals those weights win cost no false alarms; at RELIABLE_PROBABILITY and
// above, 95 % of the answers were right.
constexpr double MIN_PROBABILITY = 0.62;
constexpr double RELIABLE_PROBABILITY = 0.8;
constexpr double FIGURE_AT_MIN = 0.3;       // reliability at the threshold
constexpr double FIGURE_AT_RELIABLE = 0.7;  // reliability where answers became trustworthy
// A "no crystal" answer: on the tuning scenes nearly every one whose best
// trajectory stayed below NO_CRYSTAL_CLEAR was right, while above it most runs
// had missed a crystal.
constexpr double NO_CRYSTAL_CLEAR = 0.12;

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

double upper_quartile(std::vector<double> v) {
    if (v.empty()) return 0.0;
    const std::size_t k = (3 * v.size()) / 4;
    std::nth_element(v.begin(), v.begin() + k, v.end());
    return v[k];
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
    std::vector<double> elongation, contrast, size, motion, depth, span, sharp;
    for (const Match& m : fit.matches) {
        const Candidate& c = images[m.image].candidates[m.candidate];
        sum2 += m.dx * m.dx + m.dy * m.dy;
        log_weight += std::log(std::max(c.weight, 1e-3));
        if (c.rank == 0) ++top;
        elongation.push_back(c.elongation);
        contrast.push_back(std::log(std::max(c.contrast, 1.0)));
        size.push_back(std::log(std::max(c.size, 1.0)));
        motion.push_back(c.motion);
        depth.push_back(c.depth);
        span.push_back(c.span);
        sharp.push_back(c.sharp_edge);
    }
    const double n = static_cast<double>(fit.matches.size());
    e.residual = std::sqrt(sum2 / n) / std::max(fit.size, 1.0);
    e.mean_log_weight = log_weight / n;
    e.top = static_cast<double>(top) / usable;
    e.roundness = median(elongation);
    e.contrast_spread = spread(contrast);
    e.size_spread = spread(size);
    e.motion = median(motion);
    e.depth = upper_quartile(depth);
    e.span = upper_quartile(span);
    e.sharp_edge = median(sharp);
    return e;
}

// A logistic model fitted on the trajectories found in the tuning scenes of the
// accuracy benchmark: crystal or not.
double crystal_probability(const Evidence& e) {
    const double round = std::log(std::clamp(e.roundness, 1.0, 20.0));
    const double z = -7.0020 + 3.0575 * e.share + 0.3842 * e.top + 0.7949 * e.mean_log_weight +
                     1.1871 * e.residual + 1.3644 * e.lead + 2.7972 * round +
                     0.8297 * e.contrast_spread + 0.0880 * e.size_spread - 0.1028 * e.support +
                     0.8307 * std::log(std::max(e.size, 1.0)) +
                     0.2161 * std::log(std::max(e.usable, 1)) +
                     0.6274 * (e.radius < 0.5 * e.size ? 1.0 : 0.0) - 0.2438 * e.lead * e.lead -
                     1.6611 * round * round - 0.3942 * e.depth + 1.6132 * std::log(1.0 + e.span);
    // The candidates' dark edge seen sharp, fitted on top of the rest: ice and
    // bubbles in an empty loop move like a crystal but are even inside.
    const double sharp = std::log(std::clamp(e.sharp_edge, 0.5, 5.0));
    const double z2 = -0.9425 + 1.0421 * z + 2.5354 * sharp - 1.0078 * sharp * sharp;
    return 1.0 / (1.0 + std::exp(-z2));
}

bool is_crystal(double probability) {
    return probability >= MIN_PROBABILITY;
}

// Piecewise linear through (0, 0), the threshold, the trustworthy point and (1, 1).
double track_reliability(double probability) {
    const double p = std::clamp(probability, 0.0, 1.0);
    if (p < MIN_PROBABILITY) return FIGURE_AT_MIN * p / MIN_PROBABILITY;
    if (p < RELIABLE_PROBABILITY)
        return FIGURE_AT_MIN + (FIGURE_AT_RELIABLE - FIGURE_AT_MIN) * (p - MIN_PROBABILITY) /
                                   (RELIABLE_PROBABILITY - MIN_PROBABILITY);
    return FIGURE_AT_RELIABLE +
           (1.0 - FIGURE_AT_RELIABLE) * (p - RELIABLE_PROBABILITY) / (1.0 - RELIABLE_PROBABILITY);
}

// Piecewise linear through (0, 1), the clear point at the trustworthy figure,
// and (threshold, 0).
double no_crystal_reliability(double probability) {
    const double p = std::clamp(probability, 0.0, MIN_PROBABILITY);
    if (p < NO_CRYSTAL_CLEAR) return 1.0 - (1.0 - FIGURE_AT_RELIABLE) * p / NO_CRYSTAL_CLEAR;
    return FIGURE_AT_RELIABLE * (MIN_PROBABILITY - p) / (MIN_PROBABILITY - NO_CRYSTAL_CLEAR);
}

}  // namespace orva
