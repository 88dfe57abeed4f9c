// FFT filtering: container geometry, kernel storage and radius rules, a small
// signal against a direct convolution of its mirrored container, the
// filtering bit for bit against the plain transforms, kept kernel spectra bit
// for bit against fresh ones, and refusals.
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

TEST(FftFilterGeometry, ContainerOffsetsAndAutomaticRadius) {
    // Width, height, radius, mode; container, offsets, radius. An extent equal
    // to a power of two needs the next one; the automatic radius is the
    // container's larger side over 24 (LP) or 48 (second derivatives), at least 2.
    const int cases[][9] = {
        {20, 100, 0, LP, 32, 128, 6, 14, 5},      {32, 31, 0, LP, 64, 32, 16, 0, 2},
        {1024, 10, 0, LP, 2048, 32, 512, 11, 85}, {40, 40, 0, HP_X, 64, 64, 12, 12, 2},
        {40, 40, 7, HP_Y, 64, 64, 12, 12, 7},     {40, 40, 0, 5, 64, 64, 12, 12, 2}};
    for (const auto& c : cases) {
        const FilterGeometry g = fft_filter_geometry(c[0], c[1], c[2], c[3]);
        EXPECT_EQ(
            (std::vector<int>{g.container_width, g.container_height, g.x_off, g.y_off, g.radius}),
            (std::vector<int>(c + 4, c + 9)))
            << c[0] << " x " << c[1];
    }
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
    // The builder clamps the automatic LP radius of a 2048 x 32 container.
    Matrix<double> wide = matrix(32, 2048);
    EXPECT_EQ(set_gaussian_lp(wide, 2048, 32, 85, stdout), 16);
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

// The filtering as written out plainly: the mirrored container, its spectrum
// and the kernel's by fft_2Do, their product, ffti_2Do, the real middle.
std::vector<float> plain_filter(const std::vector<float>& s, int sx, int sy, int mode) {
    const FilterGeometry g = fft_filter_geometry(sx, sy, 0, mode);
    const int cw = g.container_width, ch = g.container_height;
    Matrix<double> c = matrix(ch, cw);
    for (int y = 0; y < sy; ++y)
        for (int x = 0; x < sx; ++x) {
            c[g.y_off + y][g.x_off + x] = s[y * sx + x];
            if (x < g.x_off) {
                c[g.y_off + y][g.x_off - 1 - x] = s[y * sx + x];
                c[g.y_off + y][g.x_off + sx + x] = s[y * sx + sx - 1 - x];
            }
        }
    // Top rows first; the bottom rows then mirror what the top pass wrote.
    for (int x = 0; x < cw; ++x) {
        for (int y = 0; y < g.y_off; ++y) c[g.y_off - 1 - y][x] = c[g.y_off + y][x];
        for (int y = 0; y < g.y_off; ++y) c[g.y_off + sy + y][x] = c[g.y_off + sy - 1 - y][x];
    }
    Matrix<double> k = matrix(ch, cw), kr = matrix(ch, cw), ki = matrix(ch, cw);
    if (mode == LP) set_gaussian_lp(k, cw, ch, g.radius, stdout);
    if (mode == HP_X) set_gaussian_hp_x(k, cw, ch, g.radius, stdout);
    Matrix<double> re = matrix(ch, cw), im = matrix(ch, cw);
    EXPECT_EQ(fft_2Do(k, kr, ki, cw, ch), 0);
    EXPECT_EQ(fft_2Do(c, re, im, cw, ch), 0);
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            const double a = re[y][x], t = im[y][x];
            re[y][x] = a * kr[y][x] - t * ki[y][x];
            im[y][x] = t * kr[y][x] + ki[y][x] * a;
        }
    EXPECT_EQ(ffti_2Do(re, im, cw, ch), 0);
    std::vector<float> out(s.size());
    for (int y = 0; y < sy; ++y)
        for (int x = 0; x < sx; ++x)
            out[y * sx + x] = static_cast<float>(re[g.y_off + y][g.x_off + x]);
    return out;
}

TEST(FftFilter, BitIdenticalToThePlainTransforms) {
    // Signals wider and narrower than their container's half, odd sizes, a
    // pad wider than the signal, and both kernels.
    const int sizes[][2] = {{40, 30}, {5, 3}, {33, 65}, {100, 37}, {64, 17}};
    std::mt19937 rng(4242);
    std::uniform_real_distribution<float> value(0.0f, 255.0f);
    for (const auto& [sx, sy] : sizes)
        for (int mode : {LP, HP_X}) {
            std::vector<float> s(static_cast<std::size_t>(sx) * sy);
            for (float& v : s) v = value(rng);
            const std::vector<float> want = plain_filter(s, sx, sy, mode);
            const int size[2] = {sx, sy};
            ASSERT_EQ(fft_filter(s, 2, size, 0, mode), 0);
            ASSERT_EQ(std::memcmp(s.data(), want.data(), s.size() * sizeof(float)), 0)
                << sx << "x" << sy << " mode " << mode;
        }
}

TEST(FftFilter, UnsupportedModeAndBadArguments) {
    const int size[2] = {12, 9}, too_big[2] = {12, 10}, negative[2] = {12, -9};
    std::vector<float> original(12 * 9);
    for (std::size_t k = 0; k < original.size(); ++k) original[k] = static_cast<float>(k % 17);
    const struct {
        int dims;
        const int* sizes;
        bool signal;
        int mode, status;
        const char* message;
    } cases[] = {
        {2, size, true, 5, 0, "\n fft_filter: This filter_mode is not supported (5)!"},
        {3, size, true, LP, 1,
         "\n fft_filter: Wrong number of dimensions (3)!\n fft_filter: Must be 2!"
         "\n fft_filter: abort!"},
        {2, size, false, LP, 2, "\n fft_filter: signal pointer is NULL!\n fft_filter: abort!"},
        {2, nullptr, true, LP, 3, "\n fft_filter: Array of sizes is NULL!\n fft_filter: abort!"},
        {2, too_big, true, LP, 2, nullptr},  // a signal shorter than its sizes
        {2, negative, true, LP, 3, nullptr},
    };
    for (const auto& c : cases) {
        std::vector<float> s = original;
        testing::internal::CaptureStderr();
        const int status = fft_filter(
            c.signal ? std::span<float>(s) : std::span<float>(), c.dims,
            c.sizes ? std::span<const int>(c.sizes, 2) : std::span<const int>(), 0, c.mode);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, c.status) << c.dims << " " << c.mode;
        if (c.message) {
            EXPECT_EQ(err, c.message);
        }
        // An unsupported mode still filters (as nothing); the others leave the signal.
        for (std::size_t k = 0; k < s.size(); ++k) ASSERT_NEAR(s[k], original[k], 1e-4) << k;
    }
}

}  // namespace
}  // namespace orva
