// The fits: the phase angle, sinusoid least squares (exact fits, singular
// systems), the robust weights and the reweighting loop; the combined fits of
// both coordinates (known answers with an unknown and a known axis, a far
// point rejected, missing points ignored, unsolvable systems) and the
// pseudo-inverse. Statuses are the documented numbers. (Goodness of fit and
// variances of whole runs are fixed by the golden check.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "fit/combined_fit.h"
#include "fit/reweighting.h"
#include "fit/sinusoid_fit.h"

namespace orva {
namespace {

double sinusoid(double x0, double radius, double phi0, double phi) {
    return x0 + radius * std::cos((phi - phi0) * RADIAN);
}

struct Series {
    std::vector<double> phi;
    Matrix<double> obs, est;
    std::vector<double> weights;
    explicit Series(int n) : phi(n), obs(matrix(2, n)), est(matrix(2, n)), weights(n, 1.0) {}
    int size() const { return static_cast<int>(phi.size()); }
    void set(int i, double angle, double x, double y) {
        phi[i] = angle;
        obs[0][i] = x;
        obs[1][i] = y;
    }
};

// Points on x = 200 + 30 cos(phi + 45), y = 150 at 8 angles 45 degrees apart.
Series eight_angle_example() {
    Series s(8);
    for (int i = 0; i < 8; i++) s.set(i, 45.0 * i, sinusoid(200.0, 30.0, -45.0, 45.0 * i), 150.0);
    return s;
}

std::string read_all(std::FILE* f) {
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
    return text;
}

// Runs the reweighting loop with `fit` wrapped so its calls are counted and
// the weights of each call recorded.
int counted_fit(Series& s, PARAMS& mp, std::vector<std::vector<double>>& seen,
                const detail::CombinedFit& fit = combined_LS_1) {
    detail::CombinedFit recording = [&](int n, std::span<const double> cond,
                                        const Matrix<double>& obs, Matrix<double>& est,
                                        std::span<const double> w, PARAMS& p, std::FILE* f) {
        seen.emplace_back(w.begin(), w.end());
        return fit(n, cond, obs, est, w, p, f);
    };
    return detail::weighted_combined_ls_with(recording, mp, s.obs, s.est, s.phi, s.size(),
                                             s.weights, nullptr);
}

TEST(WeightedCombinedLS, EightAngleExampleWithUnknownAndKnownAxis) {
    for (double x0_in : {-1.0, 200.0}) {
        SCOPED_TRACE(x0_in);
        Series s = eight_angle_example();
        PARAMS mp;
        mp.x0 = x0_in;
        mp.var_x0 = 9.0;
        ASSERT_EQ(weighted_combined_LS(mp, s.obs, s.est, s.phi, 8, s.weights, nullptr), 0);
        EXPECT_NEAR(mp.x0, 200.0, 1e-9);
        EXPECT_NEAR(mp.radius, 30.0, 1e-9);
        EXPECT_NEAR(mp.phi0, -45.0, 1e-6);
        EXPECT_NEAR(mp.y0, 150.0, 1e-9);
        EXPECT_NEAR(mp.gofn, 0.0, 1e-18);
        EXPECT_EQ(mp.var_x0 == 9.0, x0_in > 0.0);  // a known axis keeps its variance
        for (int i = 0; i < 8; i++) {
            EXPECT_NEAR(s.est[0][i], s.obs[0][i], 1e-9);
            EXPECT_EQ(s.est[1][i], mp.y0);
        }
    }
}

TEST(WeightedCombinedLS, UnsolvableSystemFailsWithItsOwnStatus) {
    // No weight at all, or no point detected: both variants report the
    // singular matrix on standard error and the log (null: standard output)
    // and touch no parameter.
    for (int variant : {1, 2}) {
        for (bool all_missing : {false, true}) {
            SCOPED_TRACE(testing::Message() << variant << " " << all_missing);
            Series s = eight_angle_example();
            for (int i = 0; i < 8; i++) (all_missing ? s.obs[0][i] : s.weights[i]) = 0.0;
            PARAMS mp;
            mp.x0 = variant == 1 ? -1.0 : 200.0;
            mp.y0 = mp.radius = mp.gofn = 5.0;
            testing::internal::CaptureStderr();
            testing::internal::CaptureStdout();
            EXPECT_EQ(weighted_combined_LS(mp, s.obs, s.est, s.phi, 8, s.weights, nullptr), 21);
            const std::string err = testing::internal::GetCapturedStderr();
            EXPECT_EQ(err, "\n#\n#     singular matrix, smax = 0.000000 ");
            EXPECT_EQ(testing::internal::GetCapturedStdout(), err);
            EXPECT_EQ(mp.y0 + mp.radius + mp.gofn, 15.0);
        }
    }
}

TEST(WeightedCombinedLS, FitLimits) {
    // Three points leave no degree of freedom for x: no goodness, one fit.
    Series few(3);
    for (int i = 0; i < 3; i++)
        few.set(i, 120.0 * i, sinusoid(100.0, 10.0, 0.0, 120.0 * i) + (i == 1 ? 2.0 : 0.0),
                50.0 + i);
    std::vector<std::vector<double>> seen;
    PARAMS mp;
    ASSERT_EQ(counted_fit(few, mp, seen), 0);
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(mp.gofn + mp.var_x0, 0.0);
    EXPECT_GT(mp.var_y0, 0.0);  // the axial constant has two degrees of freedom
    EXPECT_NEAR(mp.y0, 51.0, 1e-12);
}

TEST(Inversion, SmallSingularValuesAreDroppedHugeOnesRefused) {
    // A direction with a singular value below 1e-5 is dropped, not inverted.
    Matrix<double> d = matrix(2, 2), di = matrix(2, 2);
    d[0][0] = 2.0;
    d[1][1] = 1e-7;
    ASSERT_EQ(inversion(2, d, di, nullptr), 0);
    EXPECT_NEAR(di[0][0], 0.5, 1e-15);
    EXPECT_EQ(di[1][1], 0.0);

    // Huge entries: degraded, on both streams, inverse untouched.
    d[0][0] = d[1][1] = 1e19;
    d[0][1] = d[1][0] = 0.0;
    di[0][0] = 3.0;
    std::FILE* log = std::tmpfile();
    testing::internal::CaptureStderr();
    EXPECT_EQ(inversion(2, d, di, log), 2);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "\n#\n#     degraded matrix, smax = 10000000000000000000.000000 ");
    EXPECT_EQ(read_all(log), err);
    std::fclose(log);
    EXPECT_EQ(di[0][0], 3.0);
}

TEST(PhaseAngle, QuadrantsTiesAndTheHalfTurn) {
    for (double phi0 : {0.0, 30.0, 90.0, 135.0, 179.0, -30.0, -90.0, -135.0, -179.0}) {
        const double p = 4.0 * std::cos(phi0 * RADIAN), q = 4.0 * std::sin(phi0 * RADIAN);
        EXPECT_NEAR(phase_angle(p, q, std::sqrt(p * p + q * q)), phi0, 1e-6) << phi0;
    }
    // A maximum at 180 degrees is +180, also for a negative zero sine part.
    EXPECT_NEAR(phase_angle(-5.0, 0.0, 5.0), 180.0, 1e-5);
    EXPECT_NEAR(phase_angle(-5.0, -0.0, 5.0), 180.0, 1e-5);
    // Equal distances (60 each) for (c1, s1) and (c1, s2): the later pair wins.
    EXPECT_NEAR(phase_angle(0.0, 0.5, 1.0), 120.0, 1e-5);
    EXPECT_EQ(phase_angle(0.0, 0.0, 0.0), 0.0);
}

TEST(LeastSquares, SingularNormalMatrixLeavesValuesAndReportsEleven) {
    // All angles equal (cosine and sine inexact), two distinct angles, no weight.
    const std::vector<double> angle_sets[] = {
        {37, 37, 37, 37, 37}, {10, 10, 100, 100, 10}, {0, 90, 180, 270, 45}};
    const std::vector<double> weight_sets[] = {{1, 1, 1, 1, 1}, {1, 2, 1, 3, 1}, {0, 0, 0, 0, 0}};
    for (int set = 0; set < 3; set++) {
        SCOPED_TRACE(set);
        std::vector<double> vals = {5.0, 6.0, 7.0, 8.0, 9.0};
        const std::vector<double> observed = vals;
        PARAMS mp{1, 1, 1, 1, 1, 1, 1, 1, 2.5};
        EXPECT_EQ(LeastSquares(mp, vals, angle_sets[set], weight_sets[set], 5, nullptr), 11);
        EXPECT_EQ(mp.x0 + mp.radius + mp.phi0 + mp.var_x0 + mp.var_q0, 0.0);
        EXPECT_EQ(mp.gofn, 2.5);
        EXPECT_EQ(vals, observed);
    }
}

TEST(EstWeights2, TopWeightRankWeightsAndCut) {
    // Expected: 0 from `cut` up, else 1 / max(d, lambda3)^2.
    struct Case {
        std::vector<double> dev, weight;
        double lambda3, cut;
    };
    std::vector<double> far(40);
    for (int i = 0; i < 40; i++) far[i] = 0.1 * (i + 1);
    far[17] = 60.0;
    const Case cases[] = {
        // Median residual 2.2 raised to 5% of the largest, 3.0; the far one cut.
        {far, std::vector<double>(40, 1.0), 3.0, 60.0},
        // A big jump in the lower part of the sorted residuals is never a cut.
        {{0.1, 0.2, 0.3, 50, 50.1, 50.2, 50.3, 50.4, 50.5, 50.6, 50.7, 50.8},
         std::vector<double>(12, 1.0),
         50.3,
         1e9},
        // Most gaps 0: the median gap falls back to half the first positive one.
        {{1, 10, 1, 2, 1, 1}, {1, 1, 1, 1, 1, 1}, 1.0, 10.0},
        // Entries already at weight 0 move the median down to the third residual.
        {{1, 2, 3, 4, 5, 6}, {1, 1, 1, 1, 0, 0}, 3.0, 1e9},
        // A gap above the walk's bound (2N/3 = 4) but below the cut window (5).
        {{1.0, 1.1, 1.2, 1.3, 20.0, 20.1, 20.2}, std::vector<double>(7, 1.0), 1.3, 1e9},
        // The dominant gap (10 after 1s) sits at the walk's bound, 2N/3 = 6,
        // in the sorted gaps: not looked at; the gaps above it are too even.
        {{0, 1, 2, 3, 4, 5, 15, 26, 38}, std::vector<double>(9, 1.0), 4.0, 1e9},
    };
    for (const Case& c : cases) {
        std::vector<double> w = c.weight;
        est_weights2(static_cast<int>(w.size()), c.dev, w, nullptr);
        for (std::size_t i = 0; i < w.size(); i++) {
            const double top = std::max(c.dev[i], c.lambda3);
            EXPECT_DOUBLE_EQ(w[i], c.dev[i] >= c.cut ? 0.0 : 1.0 / (top * top))
                << "case with " << w.size() << " entries, entry " << i;
        }
    }
    // One entry, or no positive gap at all: the weights stay as they are.
    std::vector<double> one = {7.0}, w1 = {0.5}, flat(10, 2.0), w(10, 1.0);
    w[3] = 0.25;
    const std::vector<double> before = w;
    est_weights2(1, one, w1, nullptr);
    est_weights2(10, flat, w, nullptr);
    EXPECT_EQ(w1[0], 0.5);
    EXPECT_EQ(w, before);
}

TEST(WeightedLeastSquares, SingularSeriesIsNoError) {
    // The values stay the observations.
    const double same[] = {20.0, 20.0, 20.0, 20.0};
    const std::vector<double> obs = {3.0, 4.0, 5.0, 6.0};
    std::vector<double> vals(4), weights(4, 1.0);
    PARAMS mp;
    EXPECT_EQ(weightedLeastSquares(mp, obs, vals, same, 4, weights, nullptr), 0);
    EXPECT_EQ(mp.x0 + mp.radius + mp.phi0, 0.0);
    EXPECT_EQ(vals, obs);
}

TEST(RobustReweighting, StopsAfterThirtyOneFitsWithoutAFinalReweighting) {
    // Residuals that grow and alternate in pattern never converge; the weights
    // of the last fit are what the caller gets.
    const int N = 10;
    int calls = 0;
    std::vector<double> weights(N, 1.0), weights_est(N, 1.0), deviates(N), last;
    auto never_settles = [&]() {
        const double scale = (calls + 1.0) * (calls + 1.0);
        for (int i = 0; i < N; i++) deviates[i] = scale * (1 + (i + 2 * (calls % 2)) % 5);
        last = weights;
        calls++;
        return FitRound{0, false, scale * scale};
    };
    EXPECT_EQ(robust_reweighting(N, weights, weights_est, deviates, never_settles, nullptr), 0);
    EXPECT_EQ(calls, 31);
    EXPECT_EQ(weights_est, last);

    // A fit that stops the loop ends it with its status.
    calls = 0;
    auto failing = [&]() { return FitRound{7, ++calls == 2, 1.0 / calls}; };
    EXPECT_EQ(robust_reweighting(N, weights, weights_est, deviates, failing, nullptr), 7);
    EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace orva
