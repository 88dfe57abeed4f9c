// Pair hypotheses, scoring and refinement of crystal trajectories (see
// trajectory_search.h).
#include "track/trajectory_search.h"

#include <algorithm>
#include <cmath>

#include "fit/least_squares.h"
#include "parallel/image_map.h"
#include "toolkit/vector_clones.h"

namespace orva {

namespace {

constexpr double MIN_TOLERANCE = 3.0;     // pixels
constexpr double TOLERANCE_SHARE = 0.35;  // of the candidate's size
constexpr int PAIR_RANKS = 6;             // candidates per image that make pairs
constexpr double MIN_PAIR_SINE = 0.3;     // |sin| of the angle between a pair's images
constexpr int REFINED = 8;                // hypotheses refined
constexpr int REFINE_ROUNDS = 3;
constexpr double SIZE_SPREAD = 0.6;  // of ln(size / typical size) that halves little

struct Hypothesis {
    Trajectory t;
    double score = 0.0;
};

double size_agreement(double size, double typical) {
    if (typical <= 0.0) return 1.0;
    const double d = std::log(size / typical) / SIZE_SPREAD;
    return std::exp(-0.5 * d * d);
}

// What the pair search reads of an image: the cosine and sine of its angle (as
// Trajectory::x_at takes them) and its free candidates, packed four to a
// vector; the lanes beyond the last candidate weigh nothing.
typedef double Doubles4 __attribute__((vector_size(32), aligned(8)));
struct QuickPoints {
    Doubles4 x, y, tol2, weight;
};
struct QuickImage {
    double c = 1.0, s = 0.0;
    std::vector<QuickPoints> points;
};

std::vector<QuickImage> quick_images(std::span<const TrackImage> images,
                                     const std::vector<std::vector<char>>& taken) {
    std::vector<QuickImage> quick(images.size());
    for (std::size_t q = 0; q < images.size(); ++q) {
        const double phi = images[q].angle * RADIAN;
        quick[q].c = std::cos(phi);
        quick[q].s = std::sin(phi);
        const auto& cands = images[q].candidates;
        int lane = 0;
        for (std::size_t k = 0; k < cands.size(); ++k) {
            if (taken[q][k]) continue;
            if (lane == 0) {
                QuickPoints none{};
                none.tol2 = Doubles4{1.0, 1.0, 1.0, 1.0};
                quick[q].points.push_back(none);
            }
            QuickPoints& b = quick[q].points.back();
            const double tol = match_tolerance(cands[k]);
            b.x[lane] = cands[k].x;
            b.y[lane] = cands[k].y;
            b.tol2[lane] = tol * tol;
            b.weight[lane] = cands[k].weight;
            lane = (lane + 1) % 4;
        }
    }
    return quick;
}

// Score only (no match list): the hot loop of the pair search. Each image
// adds its best candidate's weight * (1 - e2); the largest of the same values,
// taken four at a time, is the same number.
ORVA_VECTOR_CLONES
double quick_score(const std::vector<QuickImage>& quick, const Trajectory& t) {
    double score = 0.0;
    for (const QuickImage& image : quick) {
        const double px = t.x0 + t.a * image.c + t.b * image.s;
        Doubles4 best = {0.0, 0.0, 0.0, 0.0};
        for (const QuickPoints& c : image.points) {
            const Doubles4 dx = c.x - px, dy = c.y - t.y;
            const Doubles4 d2 = dx * dx + dy * dy;
            const Doubles4 v = c.weight * (1.0 - d2 / c.tol2);
            best = d2 < c.tol2 && v > best ? v : best;
        }
        score += std::max(std::max(best[0], best[1]), std::max(best[2], best[3]));
    }
    return score;
}

// Weighted least squares of the matches: x = x0 + a cos + b sin (x0 held when
// fixed), y constant. Weights: contribution over tolerance squared.
void refit(std::span<const TrackImage> images, TrajectoryFit& fit, bool fix_axis) {
    const int unknowns = fix_axis ? 2 : 3;
    double n[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    double r[3] = {0, 0, 0};
    double sw = 0.0, swy = 0.0;
    for (const Match& m : fit.matches) {
        const Candidate& c = images[m.image].candidates[m.candidate];
        const double w = std::max(m.contribution, 1e-3) / (m.tolerance * m.tolerance);
        const double phi = images[m.image].angle * RADIAN;
        const double f[3] = {std::cos(phi), std::sin(phi), 1.0};
        const double target = fix_axis ? c.x - fit.t.x0 : c.x;
        for (int i = 0; i < unknowns; ++i) {
            r[i] += w * f[i] * target;
            for (int j = 0; j < unknowns; ++j) n[i][j] += w * f[i] * f[j];
        }
        sw += w;
        swy += w * c.y;
    }
    if (sw <= 0.0) return;
    // Inverse of the normal matrix by cofactors (2x2 or 3x3).
    double inv[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    if (unknowns == 2) {
        const double det = n[0][0] * n[1][1] - n[0][1] * n[1][0];
        if (std::fabs(det) < 1e-12) return;
        inv[0][0] = n[1][1] / det;
        inv[1][1] = n[0][0] / det;
        inv[0][1] = inv[1][0] = -n[0][1] / det;
    } else {
        const double c00 = n[1][1] * n[2][2] - n[1][2] * n[2][1];
        const double c01 = n[1][2] * n[2][0] - n[1][0] * n[2][2];
        const double c02 = n[1][0] * n[2][1] - n[1][1] * n[2][0];
        const double det = n[0][0] * c00 + n[0][1] * c01 + n[0][2] * c02;
        if (std::fabs(det) < 1e-12) return;
        inv[0][0] = c00 / det;
        inv[0][1] = (n[0][2] * n[2][1] - n[0][1] * n[2][2]) / det;
        inv[0][2] = (n[0][1] * n[1][2] - n[0][2] * n[1][1]) / det;
        inv[1][0] = c01 / det;
        inv[1][1] = (n[0][0] * n[2][2] - n[0][2] * n[2][0]) / det;
        inv[1][2] = (n[0][2] * n[1][0] - n[0][0] * n[1][2]) / det;
        inv[2][0] = c02 / det;
        inv[2][1] = (n[0][1] * n[2][0] - n[0][0] * n[2][1]) / det;
        inv[2][2] = (n[0][0] * n[1][1] - n[0][1] * n[1][0]) / det;
    }
    double p[3] = {0, 0, 0};
    for (int i = 0; i < unknowns; ++i)
        for (int j = 0; j < unknowns; ++j) p[i] += inv[i][j] * r[j];
    fit.t.a = p[0];
    fit.t.b = p[1];
    if (!fix_axis) fit.t.x0 = p[2];
    fit.t.y = swy / sw;

    // Residual scale and variances.
    double chi2 = 0.0;
    for (const Match& m : fit.matches) {
        const Candidate& c = images[m.image].candidates[m.candidate];
        const double w = std::max(m.contribution, 1e-3) / (m.tolerance * m.tolerance);
        const double dx = c.x - fit.t.x_at(images[m.image].angle), dy = c.y - fit.t.y;
        chi2 += w * (dx * dx + dy * dy);
    }
    const int dof = 2 * static_cast<int>(fit.matches.size()) - unknowns - 1;
    fit.gof = dof > 0 ? chi2 / dof : 0.0;
    const double scale = dof > 0 ? fit.gof : 0.0;
    fit.var_a = scale * inv[0][0];
    fit.var_b = scale * inv[1][1];
    fit.var_x0 = fix_axis ? 0.0 : scale * inv[2][2];
    fit.var_y = scale / sw;
}

}  // namespace

double Trajectory::x_at(double angle_deg) const {
    const double phi = angle_deg * RADIAN;
    return x0 + a * std::cos(phi) + b * std::sin(phi);
}

double Trajectory::radius() const {
    return std::hypot(a, b);
}

double match_tolerance(const Candidate& c) {
    return std::max(MIN_TOLERANCE, TOLERANCE_SHARE * c.size);
}

TrajectoryFit score_trajectory(std::span<const TrackImage> images, const Trajectory& t,
                               const std::vector<std::vector<char>>& taken, double typical_size) {
    TrajectoryFit fit;
    fit.t = t;
    std::vector<double> sizes;
    for (std::size_t q = 0; q < images.size(); ++q) {
        const double px = t.x_at(images[q].angle);
        Match best;
        best.contribution = 0.0;
        const auto& cands = images[q].candidates;
        for (std::size_t k = 0; k < cands.size(); ++k) {
            if (taken[q][k]) continue;
            const Candidate& c = cands[k];
            const double tol = match_tolerance(c);
            const double dx = c.x - px, dy = c.y - t.y;
            const double e2 = (dx * dx + dy * dy) / (tol * tol);
            if (e2 >= 1.0) continue;
            const double v = c.weight * (1.0 - e2) * size_agreement(c.size, typical_size);
            if (v <= best.contribution) continue;
            best.image = static_cast<int>(q);
            best.candidate = static_cast<int>(k);
            best.dx = dx;
            best.dy = dy;
            best.tolerance = tol;
            best.contribution = v;
        }
        if (best.contribution > 0.0) {
            fit.matches.push_back(best);
            fit.score += best.contribution;
            sizes.push_back(cands[best.candidate].size);
        }
    }
    if (!sizes.empty()) {
        std::nth_element(sizes.begin(), sizes.begin() + sizes.size() / 2, sizes.end());
        fit.size = sizes[sizes.size() / 2];
    }
    return fit;
}

namespace {

// The REFINED best pair hypotheses whose first image is p.
void pair_hypotheses(std::span<const TrackImage> images, const std::vector<QuickImage>& quick,
                     const SearchSettings& settings, const std::vector<std::vector<char>>& taken,
                     int p, std::vector<Hypothesis>& top) {
    top.clear();
    const int n = static_cast<int>(images.size());
    const double cp = quick[p].c, sp = quick[p].s;
    for (int q = p + 1; q < n; ++q) {
        const double cq = quick[q].c, sq = quick[q].s;
        const double det = cp * sq - sp * cq;  // sin(phi_q - phi_p)
        if (std::fabs(det) < MIN_PAIR_SINE) continue;
        const auto& ci = images[p].candidates;
        const auto& cj = images[q].candidates;
        for (std::size_t i = 0; i < ci.size(); ++i) {
            if (ci[i].rank >= PAIR_RANKS || taken[p][i]) continue;
            for (std::size_t j = 0; j < cj.size(); ++j) {
                if (cj[j].rank >= PAIR_RANKS || taken[q][j]) continue;
                const double tol = std::max(match_tolerance(ci[i]), match_tolerance(cj[j]));
                if (std::fabs(ci[i].y - cj[j].y) > tol) continue;
                Hypothesis h;
                h.t.x0 = settings.axis;
                const double u = ci[i].x - settings.axis, v = cj[j].x - settings.axis;
                h.t.a = (u * sq - v * sp) / det;
                h.t.b = (v * cp - u * cq) / det;
                h.t.y = 0.5 * (ci[i].y + cj[j].y);
                h.score = quick_score(quick, h.t);
                if (static_cast<int>(top.size()) < REFINED) {
                    top.push_back(h);
                } else if (h.score > top.back().score) {
                    top.back() = h;
                } else {
                    continue;
                }
                std::stable_sort(
                    top.begin(), top.end(),
                    [](const Hypothesis& x, const Hypothesis& y) { return x.score > y.score; });
            }
        }
    }
}

}  // namespace

bool angles_fix_trajectory(std::span<const double> angles) {
    for (std::size_t p = 0; p < angles.size(); ++p)
        for (std::size_t q = p + 1; q < angles.size(); ++q)
            if (std::fabs(std::sin((angles[q] - angles[p]) * RADIAN)) >= MIN_PAIR_SINE) return true;
    return false;
}

TrajectoryFit best_trajectory(std::span<const TrackImage> images, const SearchSettings& settings,
                              const std::vector<std::vector<char>>& taken) {
    // The pairs of each first image are scored side by side; the best of all,
    // taken in image order, are refined.
    const int n = static_cast<int>(images.size());
    std::vector<std::vector<Hypothesis>> per_image(static_cast<std::size_t>(n));
    const std::vector<QuickImage> quick = quick_images(images, taken);
    map_images(n, [&](int p, int /*slot*/) {
        pair_hypotheses(images, quick, settings, taken, p, per_image[p]);
        return 0;
    });
    std::vector<Hypothesis> top;
    for (const auto& list : per_image) top.insert(top.end(), list.begin(), list.end());
    std::stable_sort(top.begin(), top.end(),
                     [](const Hypothesis& x, const Hypothesis& y) { return x.score > y.score; });
    if (static_cast<int>(top.size()) > REFINED) top.resize(REFINED);

    TrajectoryFit best;
    for (const Hypothesis& h : top) {
        TrajectoryFit fit = score_trajectory(images, h.t, taken, 0.0);
        for (int round = 0; round < REFINE_ROUNDS && fit.found(); ++round) {
            const bool fix_axis = settings.axis_known || fit.matches.size() < 4;
            if (fix_axis) fit.t.x0 = settings.axis;
            TrajectoryFit refined = fit;
            refit(images, refined, fix_axis);
            TrajectoryFit rescored = score_trajectory(images, refined.t, taken, fit.size);
            if (!rescored.found()) break;
            rescored.var_x0 = refined.var_x0;
            rescored.var_a = refined.var_a;
            rescored.var_b = refined.var_b;
            rescored.var_y = refined.var_y;
            rescored.gof = refined.gof;
            fit = rescored;
        }
        if (fit.score > best.score) best = fit;
    }
    return best;
}

}  // namespace orva
