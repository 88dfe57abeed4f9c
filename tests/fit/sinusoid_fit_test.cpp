// Sinusoid least squares: exact fits, singular systems, variances, missing
// observations, the robust weights and the reweighting loop.
#include "fit/sinusoid_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "fit/reweighting.h"

namespace orva {
namespace {

double sinusoid(double x0, double radius, double phi0, double phi) {
    return x0 + radius * std::cos((phi - phi0) * RADIAN);
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

TEST(LeastSquares, ExactSinusoidAtFourQuarterAngles) {
    const double angles[] = {0.0, 90.0, 180.0, 270.0}, weight[] = {1, 1, 1, 1};
    for (double phi0 : {30.0, -45.0, 120.0, -150.0}) {
        SCOPED_TRACE(phi0);
        std::vector<double> vals;
        for (double a : angles) vals.push_back(sinusoid(10.0, 5.0, phi0, a));
        const std::vector<double> observed = vals;
        PARAMS mp;
        mp.y0 = mp.var_y0 = 77.0;  // not the sinusoid fit's fields
        ASSERT_EQ(LeastSquares(mp, vals, angles, weight, 4, nullptr), 0);
        EXPECT_NEAR(mp.x0, 10.0, 1e-9);
        EXPECT_NEAR(mp.radius, 5.0, 1e-9);
        EXPECT_NEAR(mp.phi0, phi0, 1e-6);
        EXPECT_NEAR(mp.gofn, 0.0, 1e-12);
        EXPECT_EQ(mp.y0 + mp.var_y0, 154.0);
        for (int i = 0; i < 4; i++) EXPECT_NEAR(vals[i], observed[i], 1e-6);
    }
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
        EXPECT_EQ(LeastSquares(mp, vals, angle_sets[set], weight_sets[set], 5, nullptr),
                  LS_SINGULAR);
        EXPECT_EQ(mp.x0 + mp.radius + mp.phi0 + mp.var_x0 + mp.var_q0, 0.0);
        EXPECT_EQ(mp.gofn, 2.5);
        EXPECT_EQ(vals, observed);
    }
}

TEST(LeastSquares, ResidualsVariancesAndMissingObservations) {
    // Twelve angles 30 degrees apart: the normal matrix is diag(12, 6, 6).
    std::vector<double> angles, vals;
    for (int i = 0; i < 12; i++) {
        angles.push_back(30.0 * i);
        vals.push_back(sinusoid(50.0, 12.0, -70.0, angles[i]) + ((i * 7) % 5 - 2) * 0.3);
    }
    std::vector<double> ref_vals = vals, weight(16, 1.0);
    PARAMS reference, mp;
    ASSERT_EQ(LeastSquares(reference, ref_vals, angles, weight, 12, nullptr), 0);
    double chisq = 0.0;
    for (int i = 0; i < 12; i++) {
        EXPECT_NEAR(ref_vals[i],
                    sinusoid(reference.x0, reference.radius, reference.phi0, angles[i]), 1e-12);
        chisq += (vals[i] - ref_vals[i]) * (vals[i] - ref_vals[i]);
    }
    EXPECT_GT(reference.gofn, 0.0);
    EXPECT_NEAR(reference.gofn, chisq / 9.0, 1e-12);
    EXPECT_NEAR(reference.var_x0, reference.gofn / 12.0, 1e-9);
    EXPECT_NEAR(reference.var_p0, reference.gofn / 6.0, 1e-9);
    EXPECT_NEAR(reference.var_q0, reference.gofn / 6.0, 1e-9);

    // Four extra zero entries change nothing and get fitted values.
    for (double a : {15.0, 95.0, 200.0, 333.0}) {
        angles.push_back(a);
        vals.push_back(0.0);
    }
    ASSERT_EQ(LeastSquares(mp, vals, angles, weight, 16, nullptr), 0);
    EXPECT_NEAR(mp.x0, reference.x0, 1e-12);
    EXPECT_NEAR(mp.radius, reference.radius, 1e-12);
    EXPECT_NEAR(mp.phi0, reference.phi0, 1e-10);
    EXPECT_NEAR(mp.gofn, reference.gofn, 1e-12);
    EXPECT_NEAR(mp.var_x0, reference.var_x0, 1e-12);
    for (int i = 12; i < 16; i++)
        EXPECT_NEAR(vals[i], sinusoid(mp.x0, mp.radius, mp.phi0, angles[i]), 1e-12);
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

TEST(WeightedLeastSquares, RejectsOneWildDetection) {
    const int N = 40;
    std::vector<double> angles, obs, vals(N), weights(N, 1.0);
    for (int i = 0; i < N; i++) {
        angles.push_back(9.0 * i);
        obs.push_back(sinusoid(300.0, 40.0, 25.0, angles[i]) + ((i * 13) % 7 - 3) * 0.4);
    }
    obs[11] += 150.0;
    PARAMS mp;
    ASSERT_EQ(weightedLeastSquares(mp, obs, vals, angles, N, weights, nullptr), 0);
    EXPECT_EQ(weights[11], 0.0);
    EXPECT_NEAR(mp.x0, 300.0, 0.5);
    EXPECT_NEAR(mp.radius, 40.0, 0.5);
    EXPECT_NEAR(mp.phi0, 25.0, 1.0);
    EXPECT_NEAR(vals[11], sinusoid(mp.x0, mp.radius, mp.phi0, angles[11]), 1e-9);

    // A singular series is no error here: the values stay the observations.
    const double same[] = {20.0, 20.0, 20.0, 20.0};
    const std::vector<double> obs4 = {3.0, 4.0, 5.0, 6.0};
    std::vector<double> vals4(4), weights4(4, 1.0);
    EXPECT_EQ(weightedLeastSquares(mp, obs4, vals4, same, 4, weights4, nullptr), 0);
    EXPECT_EQ(mp.x0 + mp.radius + mp.phi0, 0.0);
    EXPECT_EQ(vals4, obs4);
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
