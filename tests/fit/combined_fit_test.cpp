// Combined fits of both coordinates: known answers with an unknown and a
// known axis, goodness of fit and variances, a far point rejected, missing
// points ignored, unsolvable systems, and the pseudo-inverse.
#include "fit/combined_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

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

// Three detections per image at 12 angles with small deterministic scatter,
// followed by `extra` empty rows.
Series noisy_series(int extra = 0) {
    Series s(36 + extra);
    for (int i = 0; i < 36; i++) {
        const double phi = 30.0 * (i / 3);
        s.set(i, phi, sinusoid(320.0, 55.0, 100.0, phi) + ((i * 5) % 7 - 3) * 0.5,
              240.0 + ((i * 3) % 5 - 2) * 0.5);
    }
    return s;
}

double chisq(const Series& s) {
    double sum = 0.0;
    for (int i = 0; i < s.size(); i++) {
        const double dx = s.obs[0][i] - s.est[0][i], dy = s.obs[1][i] - s.est[1][i];
        sum += dx * dx + dy * dy;
    }
    return sum;
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

TEST(CombinedLS, GoodnessOfFitAndVariancesOfBothVariants) {
    // 36 points at 12 equally spaced angles: normal matrix diag(36, 18, 18, 36)
    // up to the inexact degree factor (relative 1e-8).
    Series s = noisy_series();
    const int N = s.size();
    PARAMS mp1;
    ASSERT_EQ(combined_LS_1(N, s.phi, s.obs, s.est, s.weights, mp1, nullptr), 0);
    EXPECT_NEAR(mp1.gofn, chisq(s) / (N - 3), 1e-12);
    EXPECT_NEAR(mp1.var_x0, mp1.gofn / 36.0, 1e-9);
    EXPECT_NEAR(mp1.var_p0, mp1.gofn / 18.0, 1e-8);
    EXPECT_NEAR(mp1.var_y0, chisq(s) / (N - 1) / 36.0, 1e-9);
    EXPECT_NEAR(mp1.radius, 55.0, 0.5);
    EXPECT_NEAR(mp1.phi0, 100.0, 1.0);

    PARAMS mp2;
    mp2.x0 = 320.0;
    ASSERT_EQ(combined_LS_2(N, s.phi, s.obs, s.est, s.weights, mp2, nullptr), 0);
    for (int i = 0; i < N; i++)
        EXPECT_NEAR(s.est[0][i], sinusoid(320.0, mp2.radius, mp2.phi0, s.phi[i]), 1e-12);
    EXPECT_NEAR(mp2.gofn, chisq(s) / (N - 2), 1e-12);
    EXPECT_NEAR(mp2.var_q0, mp2.gofn / 18.0, 1e-8);
}

TEST(WeightedCombinedLS, FarPointRejectedMissingPointsIgnored) {
    for (int row : {0, 1}) {
        SCOPED_TRACE(row);
        Series s = noisy_series(), z = noisy_series(4);
        s.obs[row][13] += 90.0;
        z.obs[row][13] += 90.0;
        std::vector<std::vector<double>> seen;
        PARAMS reference, mp;
        ASSERT_EQ(counted_fit(s, reference, seen), 0);
        ASSERT_GE(seen.size(), 2u);
        EXPECT_EQ(seen[1][13], 0.0);  // from the second fit on
        EXPECT_EQ(s.weights[13], 0.0);
        EXPECT_NEAR(reference.x0, 320.0, 0.5);
        EXPECT_NEAR(reference.y0, 240.0, 0.3);
        EXPECT_NEAR(reference.radius, 55.0, 0.5);

        // The same points followed by four undetected ones (a coordinate of 0).
        z.set(36, 15.0, 0.0, 0.0);
        z.set(37, 75.0, 0.0, 240.0);
        z.set(38, 200.0, 300.0, 0.0);
        z.set(39, 310.0, 0.0, 0.0);
        mp.x0 = -1.0;
        ASSERT_EQ(weighted_combined_LS(mp, z.obs, z.est, z.phi, 40, z.weights, nullptr), 0);
        EXPECT_NEAR(mp.x0, reference.x0, 1e-9);
        EXPECT_NEAR(mp.y0, reference.y0, 1e-9);
        EXPECT_NEAR(mp.radius, reference.radius, 1e-9);
        EXPECT_NEAR(mp.phi0, reference.phi0, 1e-7);
        EXPECT_NEAR(mp.gofn, reference.gofn, 1e-9 * reference.gofn);
        for (int i = 0; i < 36; i++) EXPECT_EQ(z.weights[i], s.weights[i]) << i;
        for (int i = 36; i < 40; i++) {
            EXPECT_EQ(z.weights[i], 0.0);
            EXPECT_NEAR(z.est[0][i], sinusoid(mp.x0, mp.radius, mp.phi0, z.phi[i]), 1e-9);
            EXPECT_EQ(z.est[1][i], mp.y0);
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
            EXPECT_EQ(weighted_combined_LS(mp, s.obs, s.est, s.phi, 8, s.weights, nullptr),
                      FIT_SINGULAR);
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
    EXPECT_EQ(inversion(2, d, di, log), INV_DEGRADED);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "\n#\n#     degraded matrix, smax = 10000000000000000000.000000 ");
    EXPECT_EQ(read_all(log), err);
    std::fclose(log);
    EXPECT_EQ(di[0][0], 3.0);
}

}  // namespace
}  // namespace orva
