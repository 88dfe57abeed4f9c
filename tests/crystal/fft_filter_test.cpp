#include "crystal/fft_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/fft.h"

namespace orva {
namespace {

std::vector<float> impulse(int width, int height, int x, int y) {
    std::vector<float> s(static_cast<std::size_t>(width) * height, 0.0f);
    s[static_cast<std::size_t>(y) * width + x] = 1.0f;
    return s;
}

float at(const std::vector<float>& s, int width, int x, int y) {
    return s[static_cast<std::size_t>(y) * width + x];
}

TEST(FftFilterGeometry, ContainerOffsetsAndAutomaticRadius) {
    // 20 x 100: 32 x 128, offsets 6 and 14, LP radius 128 / 24.
    FilterGeometry g = fft_filter_geometry(20, 100, 0, LP);
    EXPECT_EQ(g.container_width, 32);
    EXPECT_EQ(g.container_height, 128);
    EXPECT_EQ(g.x_off, 6);
    EXPECT_EQ(g.y_off, 14);
    EXPECT_EQ(g.radius, 5);

    // An extent equal to a power of two needs the next one; 31 fits in 32.
    EXPECT_EQ(fft_filter_geometry(32, 31, 0, LP).container_width, 64);
    EXPECT_EQ(fft_filter_geometry(32, 31, 0, LP).container_height, 32);

    // 1024 x 10: 2048 x 32; the LP radius 85 is clamped by the builder to 16.
    g = fft_filter_geometry(1024, 10, 0, LP);
    EXPECT_EQ(g.container_width, 2048);
    EXPECT_EQ(g.container_height, 32);
    EXPECT_EQ(g.radius, 85);
    Matrix<double> kernel = matrix(32, 2048);
    EXPECT_EQ(set_gaussian_lp(kernel, 2048, 32, g.radius, stdout), 16);

    // 40 x 40 HP_X: 64 / 48 = 1, raised to 2. An explicit radius is kept.
    EXPECT_EQ(fft_filter_geometry(40, 40, 0, HP_X).container_width, 64);
    EXPECT_EQ(fft_filter_geometry(40, 40, 0, HP_X).radius, 2);
    EXPECT_EQ(fft_filter_geometry(40, 40, 7, HP_Y).radius, 7);
    EXPECT_EQ(fft_filter_geometry(40, 40, 0, 5).radius, 2);
}

TEST(FftFilterKernels, WrappedStorageAndRadiusRules) {
    Matrix<double> m = matrix(8, 16);
    // Radius 4, sigma 2: offset (-1, -2) lives at column 15, row 6.
    EXPECT_EQ(set_gaussian_lp(m, 16, 8, 4, stdout), 4);
    EXPECT_DOUBLE_EQ(m[0][0], 1.0);
    EXPECT_DOUBLE_EQ(m[6][15], std::exp(-5.0 / 8.0));
    EXPECT_DOUBLE_EQ(m[2][1], m[6][15]);
    // Radius 0 becomes 1 (sigma 0.5); larger than half the smaller side is clamped.
    EXPECT_EQ(set_gaussian_lp(m, 16, 8, 0, stdout), 1);
    EXPECT_DOUBLE_EQ(m[0][1], std::exp(-2.0));
    EXPECT_EQ(set_gaussian_lp(m, 16, 8, 9, stdout), 4);
    // A negative radius is neither raised nor clamped; sigma enters squared,
    // so the kernel is that of the radius' magnitude, unclamped.
    Matrix<double> positive = matrix(8, 16);
    EXPECT_EQ(set_gaussian_hp_x(m, 16, 8, -3, stdout), -3);
    set_gaussian_hp_x(positive, 16, 8, 3, stdout);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) EXPECT_EQ(m[y][x], positive[y][x]);
    EXPECT_EQ(set_gaussian_hp_x(m, 16, 8, -9, stdout), -9);
    const double s2 = 4.5 * 4.5;
    const double g1 = std::exp(-1.0 / (2 * s2));
    EXPECT_DOUBLE_EQ(m[0][0], -1.0 / s2);
    EXPECT_DOUBLE_EQ(m[0][1], -g1 / s2 + g1 / (s2 * s2));

    // Second derivatives with sigma 1: -1 at the centre, 0 at distance 1 along
    // the axis, 3 e^-2 at distance 2; across the axis -g.
    EXPECT_EQ(set_gaussian_hp_x(m, 16, 8, 2, stdout), 2);
    EXPECT_DOUBLE_EQ(m[0][0], -1.0);
    EXPECT_NEAR(m[0][1], 0.0, 1e-15);
    EXPECT_DOUBLE_EQ(m[0][14], 3.0 * std::exp(-2.0));
    EXPECT_DOUBLE_EQ(m[2][0], -std::exp(-2.0));
    EXPECT_EQ(set_gaussian_hp_y(m, 16, 8, 2, stdout), 2);
    EXPECT_DOUBLE_EQ(m[6][0], 3.0 * std::exp(-2.0));
    EXPECT_DOUBLE_EQ(m[0][2], -std::exp(-2.0));
}

TEST(FftTransforms, RoundTripAndFrequencyPlacement) {
    const int dimx = 16;
    const int dimy = 8;
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> dist(-3.0, 3.0);
    Matrix<double> input = matrix(dimy, dimx);
    double sum = 0.0;
    for (double& v : input.flat()) {
        v = dist(rng);
        sum += v;
    }
    Matrix<double> re = matrix(dimy, dimx);
    Matrix<double> im = matrix(dimy, dimx);
    ASSERT_EQ(fft_2Do(input, re, im, dimx, dimy), 0);
    EXPECT_NEAR(re[0][0], sum, 1e-12);
    EXPECT_NEAR(im[0][0], 0.0, 1e-12);
    ASSERT_EQ(ffti_2Do(re, im, dimx, dimy), 0);
    for (int y = 0; y < dimy; ++y)
        for (int x = 0; x < dimx; ++x) {
            EXPECT_NEAR(re[y][x], input[y][x], 1e-12);
            EXPECT_NEAR(im[y][x], 0.0, 1e-12);
        }

    // A cosine along x lands in row 0 at columns 1 and dimx - 1, along y in
    // column 0 at rows 1 and dimy - 1.
    const double two_pi = 2.0 * std::acos(-1.0);
    for (int y = 0; y < dimy; ++y)
        for (int x = 0; x < dimx; ++x)
            input[y][x] = std::cos(two_pi * x / dimx) + 2.0 * std::cos(two_pi * y / dimy);
    ASSERT_EQ(fft_2Do(input, re, im, dimx, dimy), 0);
    const double half = dimx * dimy / 2.0;
    EXPECT_NEAR(re[0][1], half, 1e-9);
    EXPECT_NEAR(re[0][dimx - 1], half, 1e-9);
    EXPECT_NEAR(re[1][0], 2.0 * half, 1e-9);
    EXPECT_NEAR(re[dimy - 1][0], 2.0 * half, 1e-9);
    EXPECT_NEAR(re[1][1], 0.0, 1e-9);
    EXPECT_NEAR(re[0][0], 0.0, 1e-9);
}

TEST(FftFilter, LowpassImpulseResponseAndMirror) {
    // 20 x 100 with automatic radius: sigma 2.5, unnormalised Gaussian.
    std::vector<float> s = impulse(20, 100, 10, 50);
    const int size[2] = {20, 100};
    ASSERT_EQ(fft_filter(s, 2, size, 0, LP), 0);
    EXPECT_NEAR(at(s, 20, 10, 50), 1.0, 1e-5);
    EXPECT_NEAR(at(s, 20, 11, 50), std::exp(-1.0 / 12.5), 1e-5);
    EXPECT_NEAR(at(s, 20, 10, 47), std::exp(-9.0 / 12.5), 1e-5);
    EXPECT_NEAR(at(s, 20, 12, 52), std::exp(-8.0 / 12.5), 1e-5);

    // At the left edge the mirrored copy sits one column further out.
    s = impulse(20, 100, 0, 50);
    ASSERT_EQ(fft_filter(s, 2, size, 0, LP), 0);
    EXPECT_NEAR(at(s, 20, 0, 50), 1.0 + std::exp(-1.0 / 12.5), 1e-5);
    EXPECT_NEAR(at(s, 20, 1, 50), std::exp(-1.0 / 12.5) + std::exp(-4.0 / 12.5), 1e-5);
    // Bottom edge likewise.
    s = impulse(20, 100, 10, 99);
    ASSERT_EQ(fft_filter(s, 2, size, 0, LP), 0);
    EXPECT_NEAR(at(s, 20, 10, 99), 1.0 + std::exp(-1.0 / 12.5), 1e-5);
}

TEST(FftFilter, SmallSignalPaddingMatchesADirectConvolution) {
    // 5 x 3 in a 32 x 32 container: x_off 13 and y_off 14 exceed the signal,
    // and both pads are odd (last column and row stay 0). The bottom rows
    // mirror rows the top pass wrote. Built here cell by cell, then convolved
    // directly (cyclically) with the LP kernel of radius 32 / 24 -> 2.
    const int sx = 5, sy = 3, side = 32, x_off = 13, y_off = 14;
    std::vector<float> s(sx * sy);
    for (int k = 0; k < sx * sy; ++k) s[k] = static_cast<float>((k * 37) % 11 + 1);
    std::vector<double> c(side * side, 0.0);
    auto cell = [&c](int x, int y) -> double& { return c[y * side + x]; };
    for (int y = 0; y < sy; ++y)
        for (int x = 0; x < sx; ++x) {
            cell(x_off + x, y_off + y) = s[y * sx + x];
            cell(x_off - 1 - x, y_off + y) = s[y * sx + x];
            cell(x_off + sx + x, y_off + y) = s[y * sx + sx - 1 - x];
        }
    for (int x = 0; x < sx + 2 * x_off; ++x) {
        for (int y = 0; y < y_off; ++y) cell(x, y_off - 1 - y) = cell(x, y_off + y);
        for (int y = 0; y < y_off; ++y) cell(x, y_off + sy + y) = cell(x, y_off + sy - 1 - y);
    }
    Matrix<double> kernel = matrix(side, side);
    ASSERT_EQ(set_gaussian_lp(kernel, side, side, 2, stdout), 2);
    std::vector<double> expected(sx * sy, 0.0);
    for (int y = 0; y < sy; ++y)
        for (int x = 0; x < sx; ++x)
            for (int j = 0; j < side; ++j)
                for (int i = 0; i < side; ++i)
                    expected[y * sx + x] +=
                        cell(i, j) *
                        kernel[(y_off + y - j + side) % side][(x_off + x - i + side) % side];
    const int size[2] = {sx, sy};
    ASSERT_EQ(fft_filter(s, 2, size, 0, LP), 0);
    for (int k = 0; k < sx * sy; ++k) EXPECT_NEAR(s[k], expected[k], 1e-4) << k;
}

TEST(FftFilter, SecondDerivativeImpulseResponses) {
    // 40 x 40, automatic radius 2, sigma 1.
    const int size[2] = {40, 40};
    std::vector<float> s = impulse(40, 40, 20, 20);
    ASSERT_EQ(fft_filter(s, 2, size, 0, HP_X), 0);
    EXPECT_NEAR(at(s, 40, 20, 20), -1.0, 1e-5);
    EXPECT_NEAR(at(s, 40, 21, 20), 0.0, 1e-5);
    EXPECT_NEAR(at(s, 40, 22, 20), 3.0 * std::exp(-2.0), 1e-5);
    EXPECT_NEAR(at(s, 40, 20, 22), -std::exp(-2.0), 1e-5);

    s = impulse(40, 40, 20, 20);
    ASSERT_EQ(fft_filter(s, 2, size, 0, HP_Y), 0);
    EXPECT_NEAR(at(s, 40, 20, 22), 3.0 * std::exp(-2.0), 1e-5);
    EXPECT_NEAR(at(s, 40, 22, 20), -std::exp(-2.0), 1e-5);
}

TEST(FftFilter, KeptKernelSpectraGiveBitIdenticalResults) {
    // A run of filterings sharing one KernelSpectra: repeated sizes, sizes in
    // the same container, other modes and radii, more kernels than are kept,
    // and an unknown mode (reported on every call). Each result must equal,
    // bit for bit, the filtering that builds its kernel afresh.
    struct Call {
        int sx, sy, radius, mode;
    };
    const std::vector<Call> calls = {{40, 30, 0, LP},   {40, 30, 0, LP},  {50, 20, 0, LP},
                                     {70, 30, 0, LP},   {40, 30, 3, LP},  {40, 30, 0, HP_X},
                                     {40, 30, 0, HP_Y}, {33, 65, 0, LP},  {40, 30, 0, LP},
                                     {70, 30, 0, LP},   {40, 30, 0, 9},   {40, 30, 0, 9},
                                     {40, 30, 0, HP_X}, {20, 100, 0, LP}, {20, 100, 0, LP}};
    std::mt19937 rng(8080);
    std::uniform_real_distribution<float> value(0.0f, 255.0f);
    KernelSpectra spectra;
    for (std::size_t c = 0; c < calls.size(); ++c) {
        const Call& call = calls[c];
        std::vector<float> signal(static_cast<std::size_t>(call.sx) * call.sy);
        for (float& v : signal) v = value(rng);
        std::vector<float> fresh = signal;
        const int size[2] = {call.sx, call.sy};
        testing::internal::CaptureStderr();
        ASSERT_EQ(fft_filter(fresh, 2, size, call.radius, call.mode), 0);
        const std::string fresh_messages = testing::internal::GetCapturedStderr();
        testing::internal::CaptureStderr();
        ASSERT_EQ(fft_filter(signal, 2, size, call.radius, call.mode, spectra), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), fresh_messages) << "call " << c;
        ASSERT_EQ(std::memcmp(signal.data(), fresh.data(), signal.size() * sizeof(float)), 0)
            << "call " << c;
    }
}

TEST(FftFilter, LargeWidthLowRowsIsClampedAndFinite) {
    // 1024 x 10: the kernel radius is clamped to 16 (sigma 8); a vertical edge
    // stays a monotone ramp and nothing blows up.
    const int size[2] = {1024, 10};
    std::vector<float> s(1024 * 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 1024; ++x) s[y * 1024 + x] = x < 512 ? 0.0f : 1.0f;
    ASSERT_EQ(fft_filter(s, 2, size, 0, LP), 0);
    for (float v : s) EXPECT_TRUE(std::isfinite(v));
    for (int x = 490; x < 530; ++x) EXPECT_LE(at(s, 1024, x, 5), at(s, 1024, x + 1, 5) + 1e-4f);
    EXPECT_LT(at(s, 1024, 100, 5), 1e-3f);
}

TEST(FftFilter, UnsupportedModeAndBadArguments) {
    const int size[2] = {12, 9};
    std::vector<float> s(12 * 9);
    for (std::size_t k = 0; k < s.size(); ++k) s[k] = static_cast<float>(k % 17);
    const std::vector<float> original = s;

    testing::internal::CaptureStderr();
    EXPECT_EQ(fft_filter(s, 2, size, 0, 5), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\n fft_filter: This filter_mode is not supported (5)!");
    for (std::size_t k = 0; k < s.size(); ++k) EXPECT_NEAR(s[k], original[k], 1e-4);

    s = original;
    testing::internal::CaptureStderr();
    EXPECT_EQ(fft_filter(s, 3, size, 0, LP), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\n fft_filter: Wrong number of dimensions (3)!\n fft_filter: Must be 2!"
              "\n fft_filter: abort!");
    EXPECT_EQ(s, original);

    testing::internal::CaptureStderr();
    EXPECT_EQ(fft_filter({}, 2, size, 0, LP), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\n fft_filter: signal pointer is NULL!\n fft_filter: abort!");
    testing::internal::CaptureStderr();
    EXPECT_EQ(fft_filter(s, 2, {}, 0, LP), 3);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\n fft_filter: Array of sizes is NULL!\n fft_filter: abort!");

    // A signal shorter than its sizes, and negative extents, are refused.
    const int too_big[2] = {12, 10};
    const int negative[2] = {12, -9};
    testing::internal::CaptureStderr();
    EXPECT_EQ(fft_filter(s, 2, too_big, 0, LP), 2);
    EXPECT_EQ(fft_filter(s, 2, negative, 0, LP), 3);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(s, original);
}

}  // namespace
}  // namespace orva
