#include "fit/sinusoid_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace orva {
namespace {

double sinusoid(double x0, double radius, double phi0, double phi) {
    return x0 + radius * std::cos((phi - phi0) * RADIAN);
}

TEST(PhaseAngle, QuadrantsTiesAndTheHalfTurn) {
    // Every quadrant, through p = r cos(phi0), q = r sin(phi0).
    for (double phi0 : {0.0, 30.0, 90.0, 135.0, 179.0, -30.0, -90.0, -135.0, -179.0}) {
        const double p = 4.0 * std::cos(phi0 * RADIAN), q = 4.0 * std::sin(phi0 * RADIAN);
        EXPECT_NEAR(phase_angle(p, q, std::sqrt(p * p + q * q)), phi0, 1e-6) << phi0;
    }
    // Maximum at 180 degrees: +180, also for a negative zero sine part.
    EXPECT_NEAR(phase_angle(-5.0, 0.0, 5.0), 180.0, 1e-5);
    EXPECT_GT(phase_angle(-5.0, 0.0, 5.0), 0.0);
    EXPECT_GT(phase_angle(-5.0, -0.0, 5.0), 0.0);
    // Equal distances (60 each) for (c1, s1) and (c1, s2): the later pair wins.
    EXPECT_NEAR(phase_angle(0.0, 0.5, 1.0), 120.0, 1e-5);
    EXPECT_EQ(phase_angle(0.0, 0.0, 0.0), 0.0);
}

TEST(LeastSquares, RecoversExactSinusoidAtFourQuarterAngles) {
    const double angles[] = {0.0, 90.0, 180.0, 270.0};
    for (double phi0 : {30.0, -45.0, 120.0, -150.0}) {
        SCOPED_TRACE(phi0);
        std::vector<double> vals, weight(4, 1.0);
        for (double a : angles) vals.push_back(sinusoid(10.0, 5.0, phi0, a));
        const std::vector<double> observed = vals;
        PARAMS mp;
        mp.y0 = 77.0;
        mp.var_y0 = 3.0;
        ASSERT_EQ(LeastSquares(mp, vals, angles, weight, 4, nullptr), 0);
        EXPECT_NEAR(mp.x0, 10.0, 1e-9);
        EXPECT_NEAR(mp.radius, 5.0, 1e-9);
        EXPECT_NEAR(mp.phi0, phi0, 1e-6);
        // The stored degree factor is not exactly pi/180, so "180 - b" in the
        // phase rule leaves a phase error of a few 1e-7 degrees.
        EXPECT_NEAR(mp.gofn, 0.0, 1e-12);
        EXPECT_EQ(mp.y0, 77.0);  // not the sinusoid fit's fields
        EXPECT_EQ(mp.var_y0, 3.0);
        for (int i = 0; i < 4; i++) EXPECT_NEAR(vals[i], observed[i], 1e-6);
    }
}

TEST(LeastSquares, GoodnessOfFitAndVariancesFromResiduals) {
    // Eight equally spaced angles: the normal matrix is diag(8, 4, 4), so the
    // variances are gofn / 8, gofn / 4, gofn / 4.
    std::vector<double> angles, vals, weight(8, 1.0);
    const double noise[8] = {0.3, -0.2, 0.1, 0.4, -0.5, 0.2, -0.1, -0.3};
    for (int i = 0; i < 8; i++) {
        angles.push_back(45.0 * i);
        vals.push_back(sinusoid(100.0, 20.0, 60.0, angles[i]) + noise[i]);
    }
    const std::vector<double> observed = vals;
    PARAMS mp;
    ASSERT_EQ(LeastSquares(mp, vals, angles, weight, 8, nullptr), 0);
    double chisq = 0.0;
    for (int i = 0; i < 8; i++) {
        EXPECT_NEAR(vals[i], sinusoid(mp.x0, mp.radius, mp.phi0, angles[i]), 1e-12);
        chisq += (observed[i] - vals[i]) * (observed[i] - vals[i]);
    }
    EXPECT_NEAR(mp.gofn, chisq / 5.0, 1e-12);
    EXPECT_GT(mp.gofn, 0.0);
    EXPECT_NEAR(mp.var_x0, mp.gofn / 8.0, 1e-9);
    EXPECT_NEAR(mp.var_p0, mp.gofn / 4.0, 1e-9);
    EXPECT_NEAR(mp.var_q0, mp.gofn / 4.0, 1e-9);
    EXPECT_NEAR(mp.x0, 100.0 + (0.3 - 0.2 + 0.1 + 0.4 - 0.5 + 0.2 - 0.1 - 0.3) / 8.0, 1e-9);
}

TEST(LeastSquares, ConstantSeriesHasNoAmplitude) {
    const double angles[] = {0.0, 60.0, 120.0, 180.0, 240.0, 300.0};
    std::vector<double> vals(6, 42.0), weight(6, 1.0);
    PARAMS mp;
    ASSERT_EQ(LeastSquares(mp, vals, angles, weight, 6, nullptr), 0);
    EXPECT_NEAR(mp.x0, 42.0, 1e-12);
    EXPECT_NEAR(mp.radius, 0.0, 1e-12);
}

TEST(LeastSquares, SingularNormalMatrixLeavesValuesAndReportsEleven) {
    // All angles equal (at an angle whose cosine and sine are inexact), only
    // two distinct angles, and no weight at all.
    const std::vector<std::vector<double>> angle_sets = {
        {37.0, 37.0, 37.0, 37.0, 37.0}, {10.0, 10.0, 100.0, 100.0, 10.0}, {0, 90, 180, 270, 45}};
    const std::vector<std::vector<double>> weight_sets = {
        {1, 1, 1, 1, 1}, {1, 2, 1, 3, 1}, {0, 0, 0, 0, 0}};
    for (std::size_t set = 0; set < angle_sets.size(); set++) {
        SCOPED_TRACE(set);
        std::vector<double> vals = {5.0, 6.0, 7.0, 8.0, 9.0};
        const std::vector<double> observed = vals;
        PARAMS mp;
        mp.x0 = mp.radius = mp.phi0 = 1.0;
        mp.var_x0 = mp.var_p0 = mp.var_q0 = 1.0;
        mp.gofn = 2.5;
        EXPECT_EQ(LeastSquares(mp, vals, angle_sets[set], weight_sets[set], 5, nullptr),
                  LS_SINGULAR);
        EXPECT_EQ(mp.x0, 0.0);
        EXPECT_EQ(mp.radius, 0.0);
        EXPECT_EQ(mp.phi0, 0.0);
        EXPECT_EQ(mp.var_x0, 0.0);
        EXPECT_EQ(mp.var_q0, 0.0);
        EXPECT_EQ(mp.gofn, 2.5);
        EXPECT_EQ(vals, observed);
    }
}

TEST(LeastSquares, MissingObservationsCarryNoInformation) {
    // Noisy data at 12 angles; the same data with four extra zero entries
    // must give exactly the same fit, and the zero entries get fitted values.
    std::vector<double> angles, vals;
    for (int i = 0; i < 12; i++) {
        angles.push_back(30.0 * i);
        vals.push_back(sinusoid(50.0, 12.0, -70.0, angles[i]) + ((i * 7) % 5 - 2) * 0.3);
    }
    std::vector<double> weight(12, 1.0);
    PARAMS reference;
    std::vector<double> ref_vals = vals;
    ASSERT_EQ(LeastSquares(reference, ref_vals, angles, weight, 12, nullptr), 0);

    std::vector<double> angles_z = angles, vals_z = vals;
    for (double a : {15.0, 95.0, 200.0, 333.0}) {
        angles_z.push_back(a);
        vals_z.push_back(0.0);
    }
    std::vector<double> weight_z(16, 1.0);
    PARAMS mp;
    ASSERT_EQ(LeastSquares(mp, vals_z, angles_z, weight_z, 16, nullptr), 0);
    EXPECT_NEAR(mp.x0, reference.x0, 1e-12);
    EXPECT_NEAR(mp.radius, reference.radius, 1e-12);
    EXPECT_NEAR(mp.phi0, reference.phi0, 1e-10);
    EXPECT_NEAR(mp.gofn, reference.gofn, 1e-12);
    EXPECT_NEAR(mp.var_x0, reference.var_x0, 1e-12);
    for (int i = 12; i < 16; i++)
        EXPECT_NEAR(vals_z[i], sinusoid(mp.x0, mp.radius, mp.phi0, angles_z[i]), 1e-12);
}

TEST(EstWeights2, SmallOrFlatSamplesKeepTheirWeights) {
    std::vector<double> one = {7.0}, w1 = {0.5};
    est_weights2(1, one, w1, nullptr);
    EXPECT_EQ(w1[0], 0.5);

    std::vector<double> flat(10, 2.0), w(10, 1.0);
    w[3] = 0.25;
    est_weights2(10, flat, w, nullptr);
    EXPECT_EQ(w[3], 0.25);
    EXPECT_EQ(w[0], 1.0);
}

TEST(EstWeights2, FarResidualIsCutAndTheRestWeightedByRank) {
    // 40 residuals 0.1 .. 4.0 in steps of 0.1, and number 17 far out.
    const int N = 40;
    std::vector<double> dev(N), w(N, 1.0);
    for (int i = 0; i < N; i++) dev[i] = 0.1 * (i + 1);
    dev[17] = 60.0;
    est_weights2(N, dev, w, nullptr);
    EXPECT_EQ(w[17], 0.0);
    // The median residual (2.2) is raised to 5% of the largest (3.0): below
    // that the top weight, above it 1/d^2.
    const double lambda3 = 3.0;
    EXPECT_NEAR(w[0], 1.0 / (lambda3 * lambda3), 1e-12);
    EXPECT_NEAR(w[30], 1.0 / (dev[30] * dev[30]), 1e-12);
    for (int i = 0; i < N; i++)
        if (i != 17) {
            EXPECT_GT(w[i], 0.0) << i;
        }
}

TEST(EstWeights2, GapInTheLowerPartIsNeverACut) {
    // Twelve residuals: a big jump after the third smallest only.
    std::vector<double> dev = {0.1, 0.2, 0.3, 50.0, 50.1, 50.2, 50.3, 50.4, 50.5, 50.6, 50.7, 50.8};
    std::vector<double> w(dev.size(), 1.0);
    est_weights2(static_cast<int>(dev.size()), dev, w, nullptr);
    for (double x : w) EXPECT_GT(x, 0.0);
}

TEST(EstWeights2, MedianGapFallbackOutliersAndCutWindow) {
    // Most gaps 0: the median gap is half the first positive one above the
    // median position (0.5), so the jump to 10 counts as dominant and is cut.
    std::vector<double> dev = {1.0, 10.0, 1.0, 2.0, 1.0, 1.0};
    std::vector<double> w(dev.size(), 1.0);
    est_weights2(6, dev, w, nullptr);
    EXPECT_EQ(w, (std::vector<double>{1.0, 0.0, 1.0, 0.25, 1.0, 1.0}));

    // Entries that already have weight 0 move the median down: (6 - 2) / 2
    // gives the third smallest residual, 3, as the top-weight bound.
    dev = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0};
    w = {1.0, 1.0, 1.0, 1.0, 0.0, 0.0};
    est_weights2(6, dev, w, nullptr);
    const std::vector<double> expected = {1.0 / 9.0,  1.0 / 9.0,  1.0 / 9.0,
                                          1.0 / 16.0, 1.0 / 25.0, 1.0 / 36.0};
    for (int i = 0; i < 6; i++) EXPECT_DOUBLE_EQ(w[i], expected[i]) << i;

    // A dominant gap after the fourth of seven residuals lies above the walk's
    // bound (2N/3 = 4) but below the cut window ((2N+1)/3 = 5): nothing is cut.
    dev = {1.0, 1.1, 1.2, 1.3, 20.0, 20.1, 20.2};
    w.assign(dev.size(), 1.0);
    est_weights2(7, dev, w, nullptr);
    for (int i = 0; i < 7; i++) {
        const double lambda3 = 1.3;
        const double top = dev[i] >= lambda3 ? dev[i] : lambda3;
        EXPECT_DOUBLE_EQ(w[i], 1.0 / (top * top)) << i;
    }
}

TEST(WeightedLeastSquares, RejectsOneWildDetection) {
    const int N = 40;
    std::vector<double> angles, obs;
    for (int i = 0; i < N; i++) {
        angles.push_back(9.0 * i);
        obs.push_back(sinusoid(300.0, 40.0, 25.0, angles[i]) + ((i * 13) % 7 - 3) * 0.4);
    }
    obs[11] += 150.0;
    std::vector<double> vals(N), weights(N, 1.0);
    PARAMS mp;
    ASSERT_EQ(weightedLeastSquares(mp, obs, vals, angles, N, weights, nullptr), 0);
    EXPECT_EQ(weights[11], 0.0);
    EXPECT_NEAR(mp.x0, 300.0, 0.5);
    EXPECT_NEAR(mp.radius, 40.0, 0.5);
    EXPECT_NEAR(mp.phi0, 25.0, 1.0);
    EXPECT_NEAR(vals[11], sinusoid(mp.x0, mp.radius, mp.phi0, angles[11]), 1e-9);
}

TEST(WeightedLeastSquares, SingularSeriesIsNotAnError) {
    const double angles[] = {20.0, 20.0, 20.0, 20.0};
    const std::vector<double> obs = {3.0, 4.0, 5.0, 6.0};
    std::vector<double> vals(4), weights(4, 1.0);
    PARAMS mp;
    EXPECT_EQ(weightedLeastSquares(mp, obs, vals, angles, 4, weights, nullptr), 0);
    EXPECT_EQ(mp.x0, 0.0);
    EXPECT_EQ(mp.radius, 0.0);
    EXPECT_EQ(mp.phi0, 0.0);
    EXPECT_EQ(vals, obs);
}

TEST(WeightedLeastSquares, StopsAfterThirtyOneFitsWithoutAFinalReweighting) {
    // A fit whose residuals grow and alternate in pattern never converges.
    const int N = 10;
    int calls = 0;
    std::vector<double> last_weights;
    detail::SinusoidFit never_settles = [&](PARAMS& mp, std::span<double> vals,
                                            std::span<const double>, std::span<const double> w,
                                            int n, std::FILE*) {
        const double scale = (calls + 1.0) * (calls + 1.0);
        for (int i = 0; i < n; i++) vals[i] += scale * (1 + (i + 2 * (calls % 2)) % 5);
        last_weights.assign(w.begin(), w.end());
        mp.gofn = 1.0;
        calls++;
        return 0;
    };
    std::vector<double> obs(N, 100.0), vals(N), angles(N), weights(N, 1.0);
    for (int i = 0; i < N; i++) angles[i] = 36.0 * i;
    PARAMS mp;
    EXPECT_EQ(detail::weighted_least_squares_with(never_settles, mp, obs, vals, angles, N, weights,
                                                  nullptr),
              0);
    EXPECT_EQ(calls, 31);
    for (int i = 0; i < N; i++) EXPECT_NEAR(weights[i], last_weights[i], 1e-12) << i;
}

}  // namespace
}  // namespace orva
