// Line detection: Hough votes against a plain per-pixel walk, the pair
// search, the pair figures, runs along a line, and whole windows with two
// dark bars.
#include "crystal/line_detection.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "support/images.h"

namespace orva {
namespace {

IMAGE window_of(unsigned int width, unsigned int height) {
    return test::geometry(width, height);
}

// Weight 1 on the given columns for rows first..last, 0 elsewhere.
std::vector<float> column_weights(unsigned int width, unsigned int height,
                                  std::vector<unsigned int> columns, unsigned int first,
                                  unsigned int last) {
    std::vector<float> w(static_cast<std::size_t>(width) * height, 0.0f);
    for (unsigned int c : columns)
        for (unsigned int y = first; y <= last; ++y) w[y * width + c] = 1.0f;
    return w;
}

LINE_SEGMENT segment(unsigned int xs, unsigned int ys, unsigned int xe, unsigned int ye,
                     unsigned int len, unsigned int r, unsigned int deg) {
    LINE_SEGMENT s;
    s.xs = xs;
    s.ys = ys;
    s.xe = xe;
    s.ye = ye;
    s.len = len;
    s.r = r;
    s.deg = deg;
    return s;
}

TEST(HoughLines, VotesAreTheWeightsAddedCellByCellInPixelOrder) {
    // Weights of very different sizes (the order of float additions shows),
    // zero, negative and NaN weights that must not vote, odd window shapes.
    std::mt19937 rng(2468);
    std::uniform_real_distribution<float> weight(-1.0f, 1.0f);
    for (auto [w, h] : std::vector<std::pair<unsigned, unsigned>>{{1, 1}, {7, 3}, {40, 25}}) {
        std::vector<float> p(w * h);
        for (float& v : p) v = weight(rng) * (rng() % 3 == 0 ? 1e6f : 1.0f);
        p[0] = 0.0f;
        p[p.size() / 2] = std::nanf("");
        const int r_M = static_cast<int>(std::ceil(std::sqrt(double(w) * w + double(h) * h)));
        Matrix<float> want = fmatrix(182, 2 * r_M + 3);
        for (int deg = 0; deg < 180; ++deg) {
            const double phi = deg * 3.14159265358979323846 / 180.0;
            for (unsigned y = 0; y < h; ++y)
                for (unsigned x = 0; x < w; ++x)
                    if (p[y * w + x] > 0.0f)
                        want[deg + 1][static_cast<long>(
                                          std::floor(x * std::cos(phi) + y * std::sin(phi) + 0.5)) +
                                      r_M + 1] += p[y * w + x];
        }
        const Matrix<float> got = hough_votes(window_of(w, h), p);
        ASSERT_EQ(got.rows(), want.rows());
        ASSERT_EQ(got.cols(), want.cols());
        EXPECT_EQ(std::memcmp(got.data(), want.data(), want.flat().size() * sizeof(float)), 0)
            << w << "x" << h;
    }
}

TEST(HoughLines, PairOfColumnsMoreThanThreeBinsApart) {
    // Columns, rows 0..19: bin 0, facing squarely; the mean of their end points.
    const IMAGE win = window_of(64, 64);
    struct Case {
        unsigned int a, b;
        int x2, y2;
    };
    for (const Case& c : {Case{10, 30, 20, 9}, Case{10, 13, -1, -1}, Case{10, 14, 12, 9}}) {
        int x2 = 0, y2 = 0;
        EXPECT_EQ(hough_lines(win, {}, column_weights(64, 64, {c.a, c.b}, 0, 19), x2, y2), 0);
        EXPECT_EQ(x2, c.x2) << c.a << "," << c.b;
        EXPECT_EQ(y2, c.y2) << c.a << "," << c.b;
    }
    // No positive weight: negative and -inf weights never vote.
    std::vector<float> w(64 * 64, -INFINITY);
    for (unsigned int y = 0; y < 20; ++y) w[y * 64 + 3] = w[y * 64 + 20] = -1.0f;
    int x2 = 5, y2 = 5;
    hough_lines(win, {}, w, x2, y2);
    EXPECT_EQ(x2, -1);
    EXPECT_EQ(y2, -1);
}

TEST(PairFigures, ThetaDiffWrapsAroundTheCircle) {
    const float cases[][3] = {{350, 10, 20}, {10, 350, 20}, {370, 5, 5},
                              {5, 370, 5},   {0, 180, 180}, {0, 181, 179}};
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ(theta_diff(c[0], c[1]), c[2]) << c[0] << " " << c[1];
}

TEST(PairFigures, RelationScoreComparesShorterLengthWithSpacing) {
    // Lengths and r of the two segments: spacing 10 equal to the shorter
    // length gives 1; half or twice it, ratio 0.5 either way; no run at all,
    // ratio 0; zero length and spacing stay finite.
    const double half = std::exp(-0.5 * 0.25);
    const double cases[][5] = {{10, 100, 40, 110, 1.0},
                               {5, 100, 40, 110, half},
                               {20, 110, 40, 100, half},
                               {0, 100, 40, 110, std::exp(-0.5)},
                               {0, 100, 0, 100, 1.0}};
    for (const auto& [len1, r1, len2, r2, score] : cases) {
        const auto end1 = static_cast<unsigned>(std::max(len1 - 1, 0.0));
        const auto end2 = static_cast<unsigned>(std::max(len2 - 1, 0.0));
        EXPECT_DOUBLE_EQ(
            get_relation_score(segment(0, 0, 0, end1, unsigned(len1), unsigned(r1), 0),
                               segment(0, 0, 0, end2, unsigned(len2), unsigned(r2), 0)),
            score)
            << len1 << " " << r1;
    }
}

TEST(PairFigures, LineDistFacesAlongTheBinIndexAsDegrees) {
    // Side by side horizontally in bin 0: facing squarely.
    EXPECT_EQ(get_line_dist_p(segment(10, 0, 10, 19, 20, 10, 0), segment(30, 0, 30, 19, 20, 30, 0)),
              100);
    // Midpoints straight above each other: 90 degrees off bin 0.
    EXPECT_EQ(
        get_line_dist_p(segment(10, 0, 10, 19, 20, 10, 0), segment(10, 40, 10, 59, 20, 30, 0)), 0);
    // Coinciding midpoints have no direction.
    EXPECT_EQ(get_line_dist_p(segment(10, 0, 10, 20, 21, 10, 0), segment(0, 10, 20, 10, 21, 30, 0)),
              0);
    // The bin index, not the normal angle 2 * deg: bin 20 at a 20-degree offset faces squarely.
    const double tan20 = std::tan(20.0 * 3.14159265358979323846 / 180.0);
    const auto dy = static_cast<unsigned int>(std::lround(1000 * tan20));
    EXPECT_EQ(get_line_dist_p(segment(0, 0, 0, 0, 1, 10, 20),
                              segment(500, dy / 2, 500, dy - dy / 2, 1, 30, 20)),
              100);
    // 30.07 degrees off (doubled midpoints 1000 and 579 apart) no longer counts.
    EXPECT_EQ(get_line_dist_p(segment(0, 0, 0, 0, 1, 10, 0), segment(500, 289, 500, 290, 1, 30, 0)),
              0);
    // 30 degrees off still counts (cos^2 = 0.75), 31 does not.
    EXPECT_EQ(
        get_line_dist_p(segment(10, 0, 10, 19, 20, 10, 30), segment(30, 0, 30, 19, 20, 30, 30)),
        75);
    EXPECT_EQ(
        get_line_dist_p(segment(10, 0, 10, 19, 20, 10, 31), segment(30, 0, 30, 19, 20, 30, 31)), 0);
}

// Bright window (200) with two dark vertical bars, 2 pixels wide, at columns
// left and right, rows top..bottom.
std::vector<unsigned char> two_bars(unsigned int width, unsigned int height, unsigned int left,
                                    unsigned int right, unsigned int top, unsigned int bottom) {
    std::vector<unsigned char> g(static_cast<std::size_t>(width) * height, 200);
    for (unsigned int y = top; y <= bottom; ++y)
        for (unsigned int c : {left, left + 1, right, right + 1}) g[y * width + c] = 40;
    return g;
}

TEST(GetLines2, TwoDarkBarsInsideTheMask) {
    // 100 x 90 image; window columns 20..83, rows 10..73 (64 x 64).
    IMAGE im = window_of(100, 90);
    const std::array<unsigned int, 4> roi = {20, 84, 10, 74};
    std::vector<unsigned char> mask(im.size, 1);
    const std::vector<unsigned char> win = two_bars(64, 64, 20, 40, 12, 51);
    int x2 = 0, y2 = 0;
    EXPECT_EQ(get_lines2(im, mask, win, roi, x2, y2), 0);
    EXPECT_NEAR(x2, 31, 1);
    EXPECT_NEAR(y2, 31, 2);

    // Masked away: the ridge map is all zero.
    std::vector<unsigned char> none(im.size, 0);
    get_lines2(im, none, win, roi, x2, y2);
    EXPECT_EQ(x2, -1);
    EXPECT_EQ(y2, -1);

    // The mask is read at image positions: unset over the right bar only, no pair.
    std::vector<unsigned char> left_only(im.size, 1);
    for (unsigned int y = 0; y < 90; ++y)
        for (unsigned int x = 20 + 36; x < 100; ++x) left_only[y * 100 + x] = 0;
    get_lines2(im, left_only, win, roi, x2, y2);
    EXPECT_EQ(x2, -1);
    EXPECT_EQ(y2, -1);
}

TEST(GetLines2, SmallOrBadWindowsGiveNoPosition) {
    IMAGE im = window_of(100, 90);
    std::vector<unsigned char> mask(im.size, 1);
    const std::vector<unsigned char> win = two_bars(64, 64, 4, 9, 0, 63);
    int x2 = 0, y2 = 0;
    // 15 columns: too narrow, not even read.
    get_lines2(im, mask, {}, std::array<unsigned int, 4>{20, 35, 10, 74}, x2, y2);
    EXPECT_EQ(x2, -1);
    EXPECT_EQ(y2, -1);
    get_lines2(im, mask, {}, std::array<unsigned int, 4>{20, 84, 10, 25}, x2, y2);
    EXPECT_EQ(x2, -1);
    // 16 columns is enough: bars at window columns 4 and 9 of a 16-wide window.
    const std::vector<unsigned char> narrow = two_bars(16, 64, 3, 11, 0, 63);
    get_lines2(im, mask, narrow, std::array<unsigned int, 4>{20, 36, 10, 74}, x2, y2);
    EXPECT_NEAR(x2, 8, 1);
    EXPECT_NEAR(y2, 31, 2);
    // Reversed or out-of-image windows and short buffers are refused.
    x2 = y2 = 0;
    get_lines2(im, mask, win, std::array<unsigned int, 4>{84, 20, 10, 74}, x2, y2);
    EXPECT_EQ(x2, -1);
    get_lines2(im, mask, win, std::array<unsigned int, 4>{50, 114, 10, 74}, x2, y2);
    EXPECT_EQ(x2, -1);
    get_lines2(im, mask, std::span<const unsigned char>(win).first(100),
               std::array<unsigned int, 4>{20, 84, 10, 74}, x2, y2);
    EXPECT_EQ(x2, -1);
}

}  // namespace
}  // namespace orva
