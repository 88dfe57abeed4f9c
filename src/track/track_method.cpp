// The TRACK crystal search of a run (see track_method.h).
//
// Order: the default detectors (their positions become candidates), the shared
// candidate context (series maximum and its scale space), every image's
// candidates, the axis prior from the loop centres (or the known axis), the
// best trajectory, then the next ones made of the remaining candidates (the
// margin over the second, and how many crystals there seem to be), the decision
// and the reliability. Everything for the run log is collected in out.log.
#include "track/track_method.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "crystal/corner_features.h"
#include "fit/sinusoid_fit.h"
#include "parallel/image_map.h"
#include "toolkit/arrays.h"

namespace orva {

namespace {

constexpr int MIN_IMAGES = 3;        // images with a loop a trajectory is searched in
constexpr int MAX_TRAJECTORIES = 4;  // looked for beyond the best, for the margin and the count

void append(std::string& log, const char* format, ...) __attribute__((format(printf, 2, 3)));
void append(std::string& log, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    log += line;
}

// The axis from the motion of the loop centres; the mean centre column when
// the fit cannot be made.
double axis_from_loops(std::span<const SHAPE_PARAMS> shapes, std::span<const double> angles) {
    std::vector<double> vals, phi, weight;
    for (std::size_t q = 0; q < shapes.size() && q < angles.size(); ++q) {
        if (shapes[q].type == NO_OBJECT) continue;
        vals.push_back(shapes[q].centre_x);
        phi.push_back(angles[q]);
        weight.push_back(1.0);
    }
    if (vals.empty()) return 0.0;
    double mean = 0.0;
    for (double v : vals) mean += v;
    mean /= static_cast<double>(vals.size());
    if (vals.size() < 3) return mean;
    PARAMS mp;
    if (LeastSquares(mp, vals, phi, weight, static_cast<int>(vals.size()), nullptr) != 0)
        return mean;
    return mp.x0;
}

constexpr double OPPOSITE_TOLERANCE = 1.0;  // degrees from half a turn
constexpr int OPPOSITE_RANKS = 8;
constexpr double AXIS_REACH = 40.0;  // pixels searched either side of the loop's axis
constexpr double AXIS_KERNEL = 2.0;  // pixels

// The axis from images half a turn apart: any point of the sample lies at x0 + d
// in one and at x0 - d in the other, so the mean column of two candidates in the
// same row votes for x0. The densest vote near the prior wins; the prior stays
// when no two images are half a turn apart.
double axis_from_opposites(const std::vector<TrackImage>& images, double prior) {
    std::vector<std::pair<double, double>> votes;  // column, weight
    for (std::size_t i = 0; i < images.size(); ++i)
        for (std::size_t j = i + 1; j < images.size(); ++j) {
            const double turn = std::fmod(std::fabs(images[j].angle - images[i].angle), 360.0);
            if (std::fabs(turn - 180.0) > OPPOSITE_TOLERANCE) continue;
            for (const Candidate& a : images[i].candidates) {
                if (a.rank >= OPPOSITE_RANKS) continue;
                for (const Candidate& b : images[j].candidates) {
                    if (b.rank >= OPPOSITE_RANKS) continue;
                    if (std::fabs(a.y - b.y) > std::max(match_tolerance(a), match_tolerance(b)))
                        continue;
                    const double x = 0.5 * (a.x + b.x);
                    if (std::fabs(x - prior) <= AXIS_REACH)
                        votes.emplace_back(x, a.weight * b.weight);
                }
            }
        }
    if (votes.empty()) return prior;
    double best = prior, best_density = -1.0;
    for (double x = prior - AXIS_REACH; x <= prior + AXIS_REACH; x += 0.5) {
        double density = 0.0;
        for (const auto& [v, w] : votes) {
            const double d = (x - v) / AXIS_KERNEL;
            density += w * std::exp(-0.5 * d * d);
        }
        if (density > best_density) {
            best_density = density;
            best = x;
        }
    }
    return best;
}

// The corner-cluster position of every image: the one default detector whose
// positions help the search (the blob and line detectors, which work on a loop
// eroded by a quarter of its width, add nothing on the tuning scenes and cost a
// third of the run).
void default_positions(const TrackInput& in, std::vector<DefaultPosition>& out) {
    const int n = static_cast<int>(in.shapes.size());
    std::vector<int> flag(n, 1);
    std::vector<int> x = ivector(n), y = ivector(n);
    // A failing corner search leaves its positions at 0: they are not used.
    twodf_all(n, flag, in.imc, *in.images, in.shapes, x, y, stdout);
    out.assign(n, DefaultPosition());
    for (int q = 0; q < n; ++q) {
        out[q].x = x[q];
        out[q].y = y[q];
    }
}

constexpr double SAME_AXIS = 5.0;  // pixels

// True when trajectory t turns about the axis of `best` but stays clear of it:
// the rms distance of their positions over the images exceeds half their sizes.
bool another_object(const std::vector<TrackImage>& images, const TrajectoryFit& best,
                    const TrajectoryFit& t) {
    if (std::fabs(t.t.x0 - best.t.x0) > SAME_AXIS || images.empty()) return false;
    double sum2 = 0.0;
    for (const TrackImage& image : images) {
        const double dx = t.t.x_at(image.angle) - best.t.x_at(image.angle);
        const double dy = t.t.y - best.t.y;
        sum2 += dx * dx + dy * dy;
    }
    return std::sqrt(sum2 / static_cast<double>(images.size())) > 0.5 * (best.size + t.size);
}

const char* source_tag(int source) {
    return source == DEFAULT_CORNERS ? "C" : "";
}

void log_candidates(std::string& log, const std::vector<TrackImage>& images,
                    const TrajectoryFit& best) {
    append(log, "\n#\n# TRACK candidates per image (x,y size weight; C: corner");
    append(log, " cluster; * supports the trajectory)");
    for (std::size_t q = 0; q < images.size(); ++q) {
        int match = -1;
        for (const Match& m : best.matches)
            if (m.image == static_cast<int>(q)) match = m.candidate;
        append(log, "\n# %2zu %6.1f:", q, images[q].angle);
        const auto& cands = images[q].candidates;
        for (std::size_t k = 0; k < cands.size(); ++k) {
            const Candidate& c = cands[k];
            append(log, " %.0f,%.0f %.0f %.2f%s%s", c.x, c.y, c.size, c.weight,
                   source_tag(c.source), static_cast<int>(k) == match ? "*" : "");
        }
    }
}

void log_trajectory(std::string& log, std::size_t k, const TrajectoryFit& fit, const Evidence& e,
                    double probability, double choice) {
    append(log,
           "\n# trajectory %zu: x0 %.1f a %.1f b %.1f y %.1f radius %.1f size %.1f score %.2f "
           "images %d/%d",
           k, fit.t.x0, fit.t.a, fit.t.b, fit.t.y, fit.t.radius(), fit.size, fit.score,
           e.supporting, e.usable);
    append(log, "\n#   share %.3f top %.3f weight %.3f residual %.3f lead %.3f round %.3f", e.share,
           e.top, e.mean_log_weight, e.residual, e.lead, e.roundness);
    append(log, " spread %.3f %.3f motion %.2f depth %.2f span %.2f sharp %.3f", e.contrast_spread,
           e.size_spread, e.motion, e.depth, e.span, e.sharp_edge);
    append(log, " clear %.2f outline %.3f %.3f %.3f probability %.3f choice %.2f", e.clearance,
           e.area_spread, e.outline_spread, e.outline_elongation, probability, choice);
}

}  // namespace

int track_crystal(const TrackInput& in, TrackResult& out) {
    out = TrackResult();
    const int n = static_cast<int>(std::min(in.shapes.size(), in.angles.size()));
    std::vector<DefaultPosition> defaults;
    default_positions(in, defaults);

    const std::span<const ByteBuffer> images(in.images->data(), n);
    const CandidateContext ctx =
        candidate_context(in.imc, images, in.shapes.first(n), !in.half_resolution);
    std::fprintf(stderr, "\n Tracking Images:   ");
    int usable = 0;
    out.images.resize(n);
    for (int q = 0; q < n; ++q) {
        out.images[q].angle = in.angles[q];
        if (in.shapes[q].type != NO_OBJECT) ++usable;
    }
    // Each image's candidates depend on that image and the shared context only;
    // the buffers of a thread are reused from image to image.
    std::vector<CandidateWork> work(static_cast<std::size_t>(map_slots(n)));
    map_images(n, [&](int q, int slot) {
        if (in.shapes[q].type == NO_OBJECT) return 0;
        std::fprintf(stderr, " %d", q);
        out.images[q].candidates =
            collect_candidates(ctx, images[q], in.shapes[q], defaults[q], work[slot]);
        return 0;
    });

    SearchSettings settings;
    settings.axis_known = in.axis_known;
    settings.axis = in.axis_known ? in.axis
                                  : axis_from_opposites(
                                        out.images, axis_from_loops(in.shapes.first(n), in.angles));
    out.axis_prior = settings.axis;
    std::vector<std::vector<char>> taken(n);
    for (int q = 0; q < n; ++q) taken[q].assign(out.images[q].candidates.size(), 0);

    append(out.log, "\n#\n# TRACK: %d images with a loop, axis prior %.1f%s", usable, settings.axis,
           in.axis_known ? " (known)" : " (loop centres)");
    // Views at one angle (or half a turn apart) say nothing about where an object
    // is in depth: neither a crystal nor its absence can be told from them. (A
    // series that could tell but shows the loop only in such views has nothing to
    // follow, as when one or two images show it.)
    out.angles_too_close = usable >= MIN_IMAGES && !angles_fix_trajectory(in.angles.first(n));
    std::vector<TrajectoryFit> found;
    // Two views fit any pair of points: a trajectory needs a third to confirm it.
    for (int k = 0; usable >= MIN_IMAGES && !out.angles_too_close && k <= MAX_TRAJECTORIES; ++k) {
        TrajectoryFit fit = best_trajectory(out.images, settings, taken);
        if (!fit.found()) break;
        for (const Match& m : fit.matches) taken[m.image][m.candidate] = 1;
        found.push_back(fit);
    }
    // There is a crystal when the most crystal-like trajectory passes; the one
    // centred is the one the choice score prefers. Another counts as a second
    // crystal when it passes too, turns about the same axis and is a different object.
    std::size_t best = 0, likeliest = 0;
    std::vector<double> probability(found.size(), 0.0), score(found.size(), 0.0);
    for (std::size_t k = 0; k < found.size(); ++k) {
        const Evidence e = evidence_of(out.images, found, k, usable);
        probability[k] = crystal_probability(e);
        score[k] = choice_score(e, probability[k]);
        if (probability[k] > probability[likeliest]) likeliest = k;
        if (score[k] > score[best]) best = k;
        log_trajectory(out.log, k, found[k], e, probability[k], score[k]);
    }
    if (!found.empty()) {
        out.best = found[best];
        out.evidence = evidence_of(out.images, found, best, usable);
        out.probability = probability[likeliest];
        out.crystal = is_crystal(out.probability);
        out.reliability = out.crystal ? track_reliability(out.probability)
                                      : no_crystal_reliability(out.probability);
        for (std::size_t k = 0; out.crystal && k < found.size(); ++k)
            if (k == best ||
                (is_crystal(probability[k]) && another_object(out.images, found[best], found[k])))
                ++out.crystals;
    }
    if (found.empty()) out.reliability = no_crystal_reliability(0.0);
    if (out.angles_too_close) {
        out.reliability = 0.0;
        append(out.log, "\n# no two images are far enough apart in angle");
    }
    append(
        out.log,
        "\n# decision: %s (trajectory %zu), reliability %.3f, trajectories passing as crystals %d",
        out.crystal ? "crystal" : "no crystal", best, out.reliability, out.crystals);
    log_candidates(out.log, out.images, out.best);
    return 0;
}

}  // namespace orva
