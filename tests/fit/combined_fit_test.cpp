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
};

// Points on x = 200 + 30 cos(phi + 45), y = 150 at 8 angles 45 degrees apart.
Series eight_angle_example() {
    Series s(8);
    for (int i = 0; i < 8; i++) {
        s.phi[i] = 45.0 * i;
        s.obs[0][i] = sinusoid(200.0, 30.0, -45.0, s.phi[i]);
        s.obs[1][i] = 150.0;
    }
    return s;
}

// Three detections per image at 12 angles with small deterministic scatter.
Series noisy_series() {
    Series s(36);
    for (int i = 0; i < 36; i++) {
        s.phi[i] = 30.0 * (i / 3);
        s.obs[0][i] = sinusoid(320.0, 55.0, 100.0, s.phi[i]) + ((i * 5) % 7 - 3) * 0.5;
        s.obs[1][i] = 240.0 + ((i * 3) % 5 - 2) * 0.5;
    }
    return s;
}

std::string read_all(std::FILE* f) {
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
    return text;
}

TEST(WeightedCombinedLS, EightAngleExampleWithUnknownAndKnownAxis) {
    {
        Series s = eight_angle_example();
        PARAMS mp;
        mp.x0 = -1.0;
        ASSERT_EQ(weighted_combined_LS(mp, s.obs, s.est, s.phi, 8, s.weights, nullptr), 0);
        EXPECT_NEAR(mp.x0, 200.0, 1e-9);
        EXPECT_NEAR(mp.radius, 30.0, 1e-9);
        EXPECT_NEAR(mp.phi0, -45.0, 1e-6);
        EXPECT_NEAR(mp.y0, 150.0, 1e-9);
        EXPECT_NEAR(mp.gofn, 0.0, 1e-18);
        for (int i = 0; i < 8; i++) {
            EXPECT_NEAR(s.est[0][i], s.obs[0][i], 1e-9);
            EXPECT_EQ(s.est[1][i], mp.y0);
        }
    }
    {
        Series s = eight_angle_example();
        PARAMS mp;
        mp.x0 = 200.0;
        mp.var_x0 = 9.0;
        ASSERT_EQ(weighted_combined_LS(mp, s.obs, s.est, s.phi, 8, s.weights, nullptr), 0);
        EXPECT_EQ(mp.x0, 200.0);
        EXPECT_EQ(mp.var_x0, 9.0);
        EXPECT_NEAR(mp.radius, 30.0, 1e-9);
        EXPECT_NEAR(mp.phi0, -45.0, 1e-6);
        EXPECT_NEAR(mp.y0, 150.0, 1e-9);
    }
}

TEST(CombinedLS, GoodnessOfFitAndVariancesOfBothVariants) {
    Series s = noisy_series();
    const int N = s.size();
    PARAMS mp1;
    ASSERT_EQ(combined_LS_1(N, s.phi, s.obs, s.est, s.weights, mp1, nullptr), 0);
    double chisq = 0.0;
    for (int i = 0; i < N; i++) {
        const double dx = s.obs[0][i] - s.est[0][i], dy = s.obs[1][i] - s.est[1][i];
        chisq += dx * dx + dy * dy;
    }
    // 36 points at 12 equally spaced angles: normal matrix diag(36, 18, 18, 36)
    // up to the inexact degree factor (relative 1e-8).
    EXPECT_NEAR(mp1.gofn, chisq / (N - 3), 1e-12);
    EXPECT_NEAR(mp1.var_x0, mp1.gofn / 36.0, 1e-9);
    EXPECT_NEAR(mp1.var_p0, mp1.gofn / 18.0, 1e-8);
    EXPECT_NEAR(mp1.var_y0, chisq / (N - 1) / 36.0, 1e-9);
    EXPECT_NEAR(mp1.radius, 55.0, 0.5);
    EXPECT_NEAR(mp1.phi0, 100.0, 1.0);

    PARAMS mp2;
    mp2.x0 = 320.0;
    ASSERT_EQ(combined_LS_2(N, s.phi, s.obs, s.est, s.weights, mp2, nullptr), 0);
    chisq = 0.0;
    for (int i = 0; i < N; i++) {
        EXPECT_NEAR(s.est[0][i], sinusoid(320.0, mp2.radius, mp2.phi0, s.phi[i]), 1e-12);
        const double dx = s.obs[0][i] - s.est[0][i], dy = s.obs[1][i] - s.est[1][i];
        chisq += dx * dx + dy * dy;
    }
    EXPECT_NEAR(mp2.gofn, chisq / (N - 2), 1e-12);
    EXPECT_NEAR(mp2.var_q0, mp2.gofn / 18.0, 1e-8);
}

TEST(WeightedCombinedLS, FarPointIsRejectedByTheSecondFit) {
    for (int row : {0, 1}) {
        SCOPED_TRACE(row);
        Series s = noisy_series();
        s.obs[row][13] += 90.0;
        std::vector<std::vector<double>> seen;
        detail::CombinedFit recording = [&](int n, std::span<const double> cond,
                                            const Matrix<double>& obs, Matrix<double>& est,
                                            std::span<const double> w, PARAMS& mp, std::FILE* f) {
            seen.emplace_back(w.begin(), w.end());
            return combined_LS_1(n, cond, obs, est, w, mp, f);
        };
        PARAMS mp;
        mp.x0 = -1.0;
        ASSERT_EQ(detail::weighted_combined_ls_with(recording, mp, s.obs, s.est, s.phi, s.size(),
                                                    s.weights, nullptr),
                  0);
        ASSERT_GE(seen.size(), 2u);
        EXPECT_EQ(seen[1][13], 0.0);
        EXPECT_EQ(s.weights[13], 0.0);
        EXPECT_NEAR(mp.x0, 320.0, 0.5);
        EXPECT_NEAR(mp.y0, 240.0, 0.3);
        EXPECT_NEAR(mp.radius, 55.0, 0.5);
    }
}

TEST(WeightedCombinedLS, MissingPointsCarryNoInformation) {
    Series s = noisy_series();
    PARAMS reference;
    reference.x0 = -1.0;
    ASSERT_EQ(weighted_combined_LS(reference, s.obs, s.est, s.phi, s.size(), s.weights, nullptr),
              0);

    // The same points followed by four undetected ones (a coordinate of 0).
    Series z(40);
    const Series base = noisy_series();
    for (int i = 0; i < 36; i++) {
        z.phi[i] = base.phi[i];
        z.obs[0][i] = base.obs[0][i];
        z.obs[1][i] = base.obs[1][i];
    }
    const double extra[4][3] = {
        {15.0, 0.0, 0.0}, {75.0, 0.0, 240.0}, {200.0, 300.0, 0.0}, {310.0, 0.0, 0.0}};
    for (int k = 0; k < 4; k++) {
        z.phi[36 + k] = extra[k][0];
        z.obs[0][36 + k] = extra[k][1];
        z.obs[1][36 + k] = extra[k][2];
    }
    PARAMS mp;
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

TEST(WeightedCombinedLS, UnsolvableSystemFailsWithItsOwnStatus) {
    // No weight at all, and no point detected: both variants report the
    // singular matrix on both streams and touch no parameter.
    for (int variant : {1, 2}) {
        for (bool all_missing : {false, true}) {
            SCOPED_TRACE(testing::Message() << variant << " " << all_missing);
            Series s = eight_angle_example();
            if (all_missing)
                for (int i = 0; i < 8; i++) s.obs[0][i] = 0.0;
            else
                std::fill(s.weights.begin(), s.weights.end(), 0.0);
            PARAMS mp;
            mp.x0 = variant == 1 ? -1.0 : 200.0;
            mp.y0 = 5.0;
            mp.radius = 6.0;
            mp.gofn = 7.0;
            std::FILE* log = std::tmpfile();
            ASSERT_NE(log, nullptr);
            testing::internal::CaptureStderr();
            const int status = weighted_combined_LS(mp, s.obs, s.est, s.phi, 8, s.weights, log);
            const std::string err = testing::internal::GetCapturedStderr();
            EXPECT_EQ(status, FIT_SINGULAR);
            EXPECT_EQ(err, "\n#\n#     singular matrix, smax = 0.000000 ");
            EXPECT_EQ(read_all(log), err);
            std::fclose(log);
            EXPECT_EQ(mp.y0, 5.0);
            EXPECT_EQ(mp.radius, 6.0);
            EXPECT_EQ(mp.gofn, 7.0);
        }
    }
}

TEST(WeightedCombinedLS, TooFewPointsGiveNoGoodnessAndOneFit) {
    Series s(3);
    for (int i = 0; i < 3; i++) {
        s.phi[i] = 120.0 * i;
        s.obs[0][i] = sinusoid(100.0, 10.0, 0.0, s.phi[i]) + (i == 1 ? 2.0 : 0.0);
        s.obs[1][i] = 50.0 + i;
    }
    int calls = 0;
    detail::CombinedFit counting = [&](int n, std::span<const double> cond,
                                       const Matrix<double>& obs, Matrix<double>& est,
                                       std::span<const double> w, PARAMS& mp, std::FILE* f) {
        calls++;
        return combined_LS_1(n, cond, obs, est, w, mp, f);
    };
    PARAMS mp;
    mp.x0 = -1.0;
    ASSERT_EQ(
        detail::weighted_combined_ls_with(counting, mp, s.obs, s.est, s.phi, 3, s.weights, nullptr),
        0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(mp.gofn, 0.0);
    EXPECT_EQ(mp.var_x0, 0.0);
    EXPECT_GT(mp.var_y0, 0.0);  // the axial constant has two degrees of freedom
    EXPECT_NEAR(mp.y0, 51.0, 1e-12);
}

TEST(WeightedCombinedLS, NeverMoreThanThirtyOneFits) {
    const int N = 10;
    Series s(N);
    for (int i = 0; i < N; i++) {
        s.phi[i] = 36.0 * i;
        s.obs[0][i] = 100.0;
        s.obs[1][i] = 100.0;
    }
    int calls = 0;
    detail::CombinedFit never_settles = [&](int n, std::span<const double>,
                                            const Matrix<double>& obs, Matrix<double>& est,
                                            std::span<const double>, PARAMS& mp, std::FILE*) {
        const double scale = (calls + 1.0) * (calls + 1.0);
        for (int i = 0; i < n; i++) {
            est[0][i] = obs[0][i] + scale * (1 + (i + 2 * (calls % 2)) % 5);
            est[1][i] = obs[1][i];
        }
        mp.gofn = 1.0;
        calls++;
        return 0;
    };
    PARAMS mp;
    EXPECT_EQ(detail::weighted_combined_ls_with(never_settles, mp, s.obs, s.est, s.phi, N,
                                                s.weights, nullptr),
              0);
    EXPECT_EQ(calls, 31);
}

TEST(Inversion, PseudoInverseAndItsRefusals) {
    // Symmetric, well conditioned: Ai * A = I.
    const double values[3][3] = {{4.0, 1.0, 0.5}, {1.0, 3.0, 0.2}, {0.5, 0.2, 2.0}};
    Matrix<double> a = matrix(3, 3), ai = matrix(3, 3);
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) a[i][j] = values[i][j];
    ASSERT_EQ(inversion(3, a, ai, nullptr), 0);
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            double sum = 0.0;
            for (int k = 0; k < 3; k++) sum += ai[i][k] * values[k][j];
            EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-13);
        }

    // A direction with a singular value below 1e-5 is dropped, not inverted.
    Matrix<double> d = matrix(2, 2), di = matrix(2, 2);
    d[0][0] = 2.0;
    d[1][1] = 1e-7;
    ASSERT_EQ(inversion(2, d, di, nullptr), 0);
    EXPECT_NEAR(di[0][0], 0.5, 1e-15);
    EXPECT_EQ(di[1][1], 0.0);

    // Huge entries: degraded, on both streams, inverse untouched.
    Matrix<double> big = matrix(2, 2), bi = matrix(2, 2);
    big[0][0] = big[1][1] = 1e19;
    bi[0][0] = 3.0;
    std::FILE* log = std::tmpfile();
    ASSERT_NE(log, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(inversion(2, big, bi, log), INV_DEGRADED);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("\n#\n#     degraded matrix, smax = 10000000000000000000.000000 ", 0), 0u)
        << err;
    EXPECT_EQ(read_all(log), err);
    std::fclose(log);
    EXPECT_EQ(bi[0][0], 3.0);
}

}  // namespace
}  // namespace orva
