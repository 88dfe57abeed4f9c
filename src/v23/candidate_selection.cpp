// Choice between the two TELKU candidates of every image of a run.
//
// Method: the top candidates' x must follow x = a sin((ph + angle)/180 pi) + off
// over the rotation angle (degrees) and their y must stay constant. The
// sinusoid is fitted by an adaptive coordinate search (per image: try a and ph
// one step up and down, keep the better step when it lowers that image's
// error; move off along the signed error; the global step factor decays by
// 0.95 per sweep), a common y is the width- and merit-weighted mean of the
// lower two thirds of the top y values, and the first image (from the
// remembered scan start) whose second candidate lies nearer to (model x,
// common y) than its first has its two candidates swapped. Refit and repeat
// until three passes have found nothing to swap. Each swap moves the scan
// start past the swapped image and only a pass without a swap sends it back
// to 0, so even alternating swaps end within 3 (N + 1) passes; that count is
// also kept as an explicit cap.
// Conventions: x column, y row (image pixels), candidates rounded half up; a
// coordinate of -1 is an absent candidate. Status: 0, or 3 when a working
// array cannot be had (outputs then not written) or the arrays are shorter
// than numimg.
// Degenerate input: no top candidate with x >= 0 leaves the model as it is
// and only rounds the outputs; equal widths weight every image alike; no
// merit among the lower y values makes the common y that median.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <functional>
#include <new>
#include <utility>
#include <vector>

#include "v23/telku.h"

namespace orva {
namespace {

constexpr double mu_a = 0.0005;
constexpr double mu_p = 0.001;
constexpr double mu_off = 5e-05;
constexpr double MU_GLOBAL_START = 10.0;
constexpr double MU_GLOBAL_DECAY = 0.95;
constexpr double MU_GLOBAL_MIN = 0.005;
constexpr double CONVERGED_CHANGE = 0.1;
constexpr double START_ERROR = 999999.0;
constexpr int MAX_NUM_LOOPS = 1000;
constexpr int NO_SWAP_PASSES = 3;
constexpr double SELECT_PI = 3.141592654;
constexpr double OFFSET_LIMIT = 2048.0;
constexpr double WIDTH_SLOPE = -10.0;

// Candidate k (0 top, 1 second) of every image.
struct Work {
    std::vector<int> x;  // 2 per image
    std::vector<int> y;
    std::vector<float> angle;
    std::vector<double> fom_x;
    std::vector<double> fom_y;
    std::vector<int> w;
    std::vector<int> flip_flag;  // 1 per image
    std::vector<int> median;     // sorted top y values
    int N = 0;
    int& X(int i, int k) { return x[2 * i + k]; }
    int& Y(int i, int k) { return y[2 * i + k]; }
    int X(int i, int k) const { return x[2 * i + k]; }
    int Y(int i, int k) const { return y[2 * i + k]; }
};

int allocation_failed_3(const char* name) {
    std::fprintf(stderr, "\n Cannot allocate %s!", name);
    errno = ENOMEM;
    std::perror(":");
    return 3;
}

int allocate(Work& wk, int N) {
    const std::size_t two = 2 * static_cast<std::size_t>(N);
    struct Step {
        const char* name;
        std::function<void()> make;
    };
    const Step steps[] = {
        {"x", [&] { wk.x.assign(two, 0); }},
        {"y", [&] { wk.y.assign(two, 0); }},
        {"angle", [&] { wk.angle.assign(two, 0.0f); }},
        {"fom_x", [&] { wk.fom_x.assign(two, 0.0); }},
        {"fom_y", [&] { wk.fom_y.assign(two, 0.0); }},
        {"w", [&] { wk.w.assign(two, 0); }},
        {"flip_flag", [&] { wk.flip_flag.assign(static_cast<std::size_t>(N), 0); }},
        {"fom_y", [&] { wk.median.assign(static_cast<std::size_t>(N), 0); }},
    };
    for (const Step& step : steps) {
        try {
            step.make();
        } catch (const std::bad_alloc&) {
            return allocation_failed_3(step.name);
        }
    }
    wk.N = N;
    return 0;
}

int round_half_up(double v) {
    return static_cast<int>(std::floor(v + 0.5));
}

void start_values(CandidateSelection& m, const Work& wk) {
    double sum = 0.0;
    int count = 0;
    for (int i = 0; i < wk.N; ++i)
        if (wk.X(i, 0) >= 0) {
            sum += wk.X(i, 0);
            ++count;
        }
    m.off = sum / count;
    double squares = 0.0;
    for (int i = 0; i < wk.N; ++i)
        if (wk.X(i, 0) >= 0) squares += (wk.X(i, 0) - m.off) * (wk.X(i, 0) - m.off);
    m.a = std::sqrt(2 * squares / count);
    m.ph = m.off < wk.X(wk.N / 4, 0) ? 0.0 : 180.0;
}

void normalise(CandidateSelection& m) {
    if (m.a < 0) {
        m.a = -m.a;
        m.ph += 180;
    }
    if (m.off > OFFSET_LIMIT) m.off /= 2;
    if (m.ph >= 180) m.ph -= 360;
    if (m.ph <= -180) m.ph += 360;
}

// One step of a parameter up or down, kept only when it brings the model
// closer to this observation than it was.
void try_step(CandidateSelection& m, double& param, double step, double x, double angle,
              double abs_d) {
    const double old = param;
    param = old + step;
    const double e2 = std::fabs(x - function(m, angle));
    param = old - step;
    const double e3 = std::fabs(x - function(m, angle));
    if (e3 < e2)
        param = e3 < abs_d ? old - step : old;
    else
        param = e2 < abs_d ? old + step : old;
}

double squared_error(const CandidateSelection& m, const Work& wk) {
    double err = 0.0;
    for (int i = 0; i < wk.N; ++i)
        if (wk.X(i, 0) != -1) {
            const double r = wk.X(i, 0) - function(m, wk.angle[2 * i]);
            err += r * r;
        }
    return err;
}

// Fits the model to the top candidates; returns the sweeps made and the
// model of the smallest error (the final one when none beat the start error).
int fit(CandidateSelection& m, const Work& wk, CandidateSelection& best) {
    double err_old = START_ERROR;
    double min_err = START_ERROR;
    double mu_global = MU_GLOBAL_START;
    bool have_best = false;
    int sweeps = 0;
    double change = 0.0;
    do {
        for (int i = 0; i < wk.N; ++i) {
            if (wk.X(i, 0) == -1) continue;
            normalise(m);
            const double x = wk.X(i, 0);
            const double angle = wk.angle[2 * i];
            const double fom = wk.fom_x[2 * i];
            const double d = x - function(m, angle);
            const double abs_d = std::fabs(d);
            try_step(m, m.a, fom * abs_d * mu_a * mu_global, x, angle, abs_d);
            try_step(m, m.ph, fom * abs_d * mu_p * mu_global, x, angle, abs_d);
            m.off += fom * mu_off * mu_global * d;
        }
        const double err = squared_error(m, wk);
        change = std::fabs(err_old - err);
        err_old = err;
        mu_global *= MU_GLOBAL_DECAY;
        if (mu_global < MU_GLOBAL_MIN) mu_global = MU_GLOBAL_START;
        if (err < min_err) {
            min_err = err;
            best.a = m.a;
            best.ph = m.ph;
            best.off = m.off;
            have_best = true;
        }
        ++sweeps;
    } while (change > CONVERGED_CHANGE && sweeps < MAX_NUM_LOOPS);
    if (!have_best) {
        best.a = m.a;
        best.ph = m.ph;
        best.off = m.off;
    }
    return sweeps;
}

// Weighted mean of the top y values at or below the median index (2N)/3 of
// their decreasing order; wide objects weigh most.
int common_y(Work& wk, int max_width, int min_width) {
    std::vector<int>& sorted = wk.median;
    for (int i = 0; i < wk.N; ++i) sorted[i] = wk.Y(i, 0);
    std::sort(sorted.begin(), sorted.end(), std::greater<int>());
    const int median_y = sorted[(2 * wk.N) / 3];
    const int mid = (max_width + min_width) / 2;
    double num = 0.0;
    double den = 0.0;
    for (int i = 0; i < wk.N; ++i) {
        if (wk.Y(i, 0) > median_y) continue;
        double fom_w = 1.0;
        if (max_width != min_width)
            fom_w = 1.0 /
                    (1.0 + std::exp((wk.w[2 * i] - mid) * (WIDTH_SLOPE / (max_width - min_width))));
        num += wk.fom_y[2 * i] * wk.Y(i, 0) * fom_w;
        den += wk.fom_y[2 * i] * fom_w;
    }
    if (den == 0.0) return median_y;
    return round_half_up(num / den);
}

void swap_candidates(Work& wk, int i) {
    std::swap(wk.x[2 * i], wk.x[2 * i + 1]);
    std::swap(wk.y[2 * i], wk.y[2 * i + 1]);
    std::swap(wk.fom_x[2 * i], wk.fom_x[2 * i + 1]);
    std::swap(wk.fom_y[2 * i], wk.fom_y[2 * i + 1]);
    wk.flip_flag[i] ^= 1;
}

// The first image from `from` whose second candidate is nearer the model;
// -1 when there is none.
int swap_search(Work& wk, const CandidateSelection& m, int from, int new_y) {
    for (int i = std::max(from, 0); i < wk.N; ++i) {
        if (wk.X(i, 0) < 0 || wk.Y(i, 0) < 0 || wk.X(i, 1) < 0 || wk.Y(i, 1) < 0) continue;
        const double f = function(m, wk.angle[2 * i]);
        const double dy0 = wk.Y(i, 0) - new_y;
        const double dy1 = wk.Y(i, 1) - new_y;
        const double d0 = dy0 * dy0 + (wk.X(i, 0) - f) * (wk.X(i, 0) - f);
        const double d1 = dy1 * dy1 + (wk.X(i, 1) - f) * (wk.X(i, 1) - f);
        if (d1 < d0) {
            swap_candidates(wk, i);
            return i;
        }
    }
    return -1;
}

}  // namespace

CandidateSelection& candidate_selection_state() {
    static CandidateSelection state;
    return state;
}

double function(const CandidateSelection& model, double angle) {
    return model.a * std::sin((model.ph + angle) / 180 * SELECT_PI) + model.off;
}

double function(double angle) {
    return function(candidate_selection_state(), angle);
}

int select_cand(std::span<double> xc0, std::span<double> yc0, std::span<double> xc1,
                std::span<double> yc1, std::span<double> xc0_f, std::span<double> yc0_f,
                std::span<double> xc1_f, std::span<double> yc1_f, std::span<int> width0,
                std::span<const float> angles, int numimg, std::FILE* logfile) {
    return select_cand(candidate_selection_state(), xc0, yc0, xc1, yc1, xc0_f, yc0_f, xc1_f, yc1_f,
                       width0, angles, numimg, logfile);
}

int select_cand(CandidateSelection& state, std::span<double> xc0, std::span<double> yc0,
                std::span<double> xc1, std::span<double> yc1, std::span<double> xc0_f,
                std::span<double> yc0_f, std::span<double> xc1_f, std::span<double> yc1_f,
                std::span<int> width0, std::span<const float> angles, int numimg, std::FILE*) {
    if (numimg <= 0) return 0;
    const std::size_t N = static_cast<std::size_t>(numimg);
    for (std::size_t size :
         {xc0.size(), yc0.size(), xc1.size(), yc1.size(), xc0_f.size(), yc0_f.size(), xc1_f.size(),
          yc1_f.size(), width0.size(), angles.size()})
        if (size < N) {
            std::fprintf(stderr, "\n select_cand: fewer values than images (%d)!", numimg);
            return 3;
        }

    Work wk;
    if (int err = allocate(wk, numimg); err != 0) return err;
    int max_width = 0;
    int min_width = 0;
    int with_top = 0;
    for (int i = 0; i < numimg; ++i) {
        wk.X(i, 0) = round_half_up(xc0[i]);
        wk.Y(i, 0) = round_half_up(yc0[i]);
        wk.X(i, 1) = round_half_up(xc1[i]);
        wk.Y(i, 1) = round_half_up(yc1[i]);
        wk.fom_x[2 * i] = xc0_f[i];
        wk.fom_y[2 * i] = yc0_f[i];
        wk.fom_x[2 * i + 1] = xc1_f[i];
        wk.fom_y[2 * i + 1] = yc1_f[i];
        wk.w[2 * i] = wk.w[2 * i + 1] = width0[i];
        wk.angle[2 * i] = wk.angle[2 * i + 1] = angles[i];
        max_width = i == 0 ? width0[i] : std::max(max_width, width0[i]);
        min_width = i == 0 ? width0[i] : std::min(min_width, width0[i]);
        if (wk.X(i, 0) >= 0) ++with_top;
    }
    if (max_width == 0) max_width = 1;

    if (with_top > 0) {
        CandidateSelection best = state;
        bool first = true;
        bool restart = false;
        int big_stop = 0;
        int passes = 0;
        const int max_passes = NO_SWAP_PASSES * (numimg + 1);
        bool swapped = false;
        do {
            if (first || restart) start_values(state, wk);
            first = false;
            restart = fit(state, wk, best) >= MAX_NUM_LOOPS;
            const int new_y = common_y(wk, max_width, min_width);
            const int i = swap_search(wk, state, state.scan_start, new_y);
            swapped = i >= 0;
            if (swapped) {
                state.scan_start = i + 1;
            } else {
                state.scan_start = 0;
                ++big_stop;
            }
            ++passes;
        } while ((swapped || big_stop < NO_SWAP_PASSES) && passes < max_passes);
        state.a = best.a;
        state.ph = best.ph;
        state.off = best.off;
    }

    for (int i = 0; i < numimg; ++i) {
        xc0[i] = wk.X(i, 0);
        yc0[i] = wk.Y(i, 0);
        xc0_f[i] = wk.fom_x[2 * i];
        yc0_f[i] = wk.fom_y[2 * i];
    }
    return 0;
}

}  // namespace orva
