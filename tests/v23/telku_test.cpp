// TELKU detector: grid set-up, contrast stretch, contrast map and bands, the
// clustering of grid maxima, the radix-2 FFT and the wrapped Gaussian
// smoothing, and whole-detector runs on synthetic scenes.
#include "v23/telku.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "v23/telku_clusters.h"
#include "v23/telku_convolution.h"
#include "v23/telku_detection.h"
#include "v23_images.h"

namespace orva {
namespace {

using testing::GreyImage;
using Bytes = std::vector<unsigned char>;
constexpr double kTwoPi = 6.283185307179586;

TEST(TelkuGrids, SubsamplingFactorGridsAndTheirCandidates) {
    // floor(shorter side / 120 + 0.5), limited to 1 .. 9.
    const int cases[][3] = {{240, 200, 2}, {1300, 1100, 9}, {500, 179, 1},
                            {500, 180, 2}, {20, 20, 1},     {5000, 4000, 9}};
    for (const auto& [w, h, s] : cases) EXPECT_EQ(telku_subsampling(w, h), s) << w << "x" << h;
    // s = 2 and s = 9 use 3 and 17 distinct grids, each starting inside the first cell.
    for (int s : {2, 9}) {
        std::set<std::pair<int, int>> grids;
        for (int t = 0; t < 2 * s - 1; ++t) {
            EXPECT_LT(std::max(TELKU_XOFF[t], TELKU_YOFF[t]), s);
            grids.insert({TELKU_XOFF[t], TELKU_YOFF[t]});
        }
        EXPECT_EQ(grids.size(), 2u * s - 1);
    }

    TelkuCandidates cand;
    telku_add_grid(cand, 2, 2, 10, 20, 30, 5);   // grid 2 of s = 2 samples from column 1
    telku_add_grid(cand, 2, 1, 7, 8, -1, -1);    // one maximum: one candidate
    telku_add_grid(cand, 2, 0, 0, 8, 5, 5);      // highest on the map's first column: none
    telku_add_grid(cand, 2, 0, -1, -1, -1, -1);  // nothing
    ASSERT_EQ(cand.cnt_all, 3);
    const std::array<int, 3> expect[3] = {{21, 40, 1}, {61, 10, 2}, {14, 17, 1}};  // x, y, flag
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ((std::array{cand.xco[k], cand.yco[k], cand.flag[k]}), expect[k]) << k;
}

TEST(TelkuStretch, RepeatedLevelsSpanTheRange) {
    struct Case {
        Bytes in, out;
    };
    for (Case c :
         {// 10 and 200 are the extreme repeated levels: (v - 10) * 255 / 190.
          Case{{10, 10, 5, 200, 200, 200, 250, 105, 0}, {0, 0, 0, 255, 255, 255, 255, 127, 0}},
          Case{{0, 1, 2, 3}, {0, 255, 255, 255}},       // none repeated: range 0 .. 1
          Case{{40, 40, 40, 90}, {40, 40, 40, 90}}}) {  // one repeated level: kept
        telku_stretch(c.in);
        EXPECT_EQ(c.in, c.out);
    }
}

TEST(TelkuMap, ContrastMapRespondsToLinesNotToPoints) {
    // A line of 100 through the middle of a 5 x 5 image: on it ||a| - |b|| = 200,
    // beside it 100 with |g| = 300.
    for (bool vertical : {true, false}) {
        Bytes img(25, 0);
        for (int k = 0; k < 5; ++k) img[vertical ? k * 5 + 2 : 10 + k] = 100;
        const Bytes map = telku_contrast_map(img, 5, 5);
        ASSERT_EQ(map.size(), 9u);
        EXPECT_EQ(map[4], 50);
        EXPECT_EQ(map[vertical ? 3 : 1], 100);
        EXPECT_EQ(map[vertical ? 5 : 7], 100);
    }
    Bytes point(25, 0);
    point[12] = 200;
    EXPECT_EQ(telku_contrast_map(point, 5, 5)[4], 0);
    const Bytes flat(25, 77);
    EXPECT_EQ(telku_contrast_map(flat, 5, 5), Bytes(9, 0));
    EXPECT_TRUE(telku_contrast_map(flat, 2, 5).empty());
}

TEST(TelkuBands, RowsKeepABorderBandBesideTheObjectColumnsTheWidest) {
    struct Case {
        std::vector<double> devm;
        bool columns;
        std::vector<std::array<int, 3>> bands;  // start, end, bflag
    };
    const Case cases[] = {
        {{0, 10, 10, 0, 0, 10, 10, 10, 0, 0}, false, {{5, 8, 0}}},  // the longer inner band
        {{10, 10, 0, 0, 10, 10, 10, 0, 0, 0}, false, {{0, 2, 1}, {4, 7, 0}}},  // top band + one
        {{0, 0, 10, 10, 10}, false, {{2, 4, 1}}},                    // ends on the last line
        {{10, 10, 0, 10, 10, 10, 10, 0, 10, 0}, true, {{3, 7, 0}}},  // columns: the widest
        {{3, 3, 3}, false, {}},  // equal to the threshold: no band
    };
    for (const Case& c : cases) {
        std::vector<PROPS> p(c.devm.size());
        for (std::size_t i = 0; i < p.size(); ++i) p[i].devm = c.devm[i];
        std::array<OBJ, 3> bands{};
        ASSERT_EQ(telku_bands(p, 3.0, c.columns, bands), static_cast<int>(c.bands.size()));
        for (std::size_t k = 0; k < c.bands.size(); ++k) {
            const auto& [start, end, bflag] = c.bands[k];
            EXPECT_EQ((std::array{bands[k].start, bands[k].end, bands[k].size, bands[k].bflag}),
                      (std::array{start, end, end - start, bflag}))
                << k;
        }
    }
}

TelkuCandidates candidates(std::initializer_list<std::array<int, 3>> list) {
    TelkuCandidates c;
    for (const auto& [x, y, flag] : list) {
        c.xco[c.cnt_all] = x;
        c.yco[c.cnt_all] = y;
        c.flag[c.cnt_all++] = flag;
    }
    return c;
}

using Pair = std::array<int, 2>;

TEST(TelkuCluster, SixCandidatesClusterFiveDoNotDenseGroupsWinCoincidingGiveOne) {
    // Three grids, highest maxima near (100, 100), second ones near (150, 60).
    TelkuCandidates c = candidates(
        {{100, 100, 1}, {150, 60, 2}, {101, 100, 1}, {151, 61, 2}, {100, 101, 1}, {150, 61, 2}});
    TelkuChoice r = telku_cluster(c, 3, 10, 12);
    // The farthest seed lies among the second maxima; that cluster is demoted.
    EXPECT_EQ(r.xc, (Pair{100, 150}));
    EXPECT_EQ(r.yc, (Pair{100, 61}));
    // j = 10, scale (3 + 3) / 6, x spread of {100, 101, 100}: variance 2/9.
    const double merit = 10.0 / (std::sqrt(2.0 / 9.0) + 10.0);
    EXPECT_NEAR(r.fomx[0], merit, 1e-5);
    EXPECT_NEAR(r.fomy[0], merit, 1e-5);
    EXPECT_NEAR(r.fomx[1], merit, 1e-5);

    c.cnt_all = 5;  // too few for three grids (5 <= 3 + 2)
    r = telku_cluster(c, 3, 10, 12);
    EXPECT_EQ(r.xc, (Pair{-1, -1}));
    EXPECT_EQ(r.yc, (Pair{-1, -1}));
    EXPECT_EQ(r.fomx[0], 0.0f);
    EXPECT_EQ(r.fomy[1], 0.0f);

    // Exactly num_tests candidates agree within a ninth of the largest spread:
    // they form cluster 1, the next densest group cluster 2; the stray one at
    // (10, 190) seeds nothing.
    const TelkuCandidates dense = candidates(
        {{100, 100, 1}, {150, 60, 2}, {101, 100, 1}, {151, 60, 2}, {100, 101, 1}, {10, 190, 2}});
    r = telku_cluster(dense, 3, 20, 20);
    EXPECT_EQ(r.xc, (Pair{100, 151}));  // 150.5 rounds up
    EXPECT_EQ(r.yc, (Pair{100, 60}));
    // Cluster 2: two second maxima, scale (3 + 2) / 6, x variance 1/4.
    EXPECT_NEAR(r.fomx[1], 20.0 * (5.0 / 6.0) / (0.5 + 20.0), 1e-5);
    EXPECT_NEAR(r.fomy[1], 5.0 / 6.0, 1e-5);

    // Every maximum on one pixel: no spread to bin by, no second seed.
    r = telku_cluster(
        candidates({{42, 24, 1}, {42, 24, 2}, {42, 24, 1}, {42, 24, 2}, {42, 24, 1}, {42, 24, 2}}),
        3, 8, 9);
    EXPECT_EQ(r.xc, (Pair{42, -1}));
    EXPECT_EQ(r.yc[0], 24);
    EXPECT_FLOAT_EQ(r.fomx[0], 1.0f);
    EXPECT_FLOAT_EQ(r.fomy[0], 1.0f);
    EXPECT_EQ(r.fomx[1], 0.0f);
}

TEST(TelkuFft, OneDimensionalKernelSignScalingAndRoundTrip) {
    // Impulse at position 3 of 256: X[k] = exp(-2 pi i 3 k / 256), unscaled;
    // the inverse divides by the length and returns the impulse.
    std::vector<double> x(256, 0.0), y(256, 0.0);
    x[3] = 1.0;
    fft_1D(1, 256, x, y);
    for (int k = 0; k < 256; ++k) {
        EXPECT_NEAR(x[k], std::cos(kTwoPi * 3 * k / 256), 1e-12) << k;
        EXPECT_NEAR(y[k], -std::sin(kTwoPi * 3 * k / 256), 1e-12) << k;
    }
    fft_1D(-1, 256, x, y);
    for (int k = 0; k < 256; ++k) {
        EXPECT_NEAR(x[k], k == 3 ? 1.0 : 0.0, 1e-12) << k;
        EXPECT_NEAR(y[k], 0.0, 1e-12) << k;
    }
}

// The plain transform the optimised passes must match bit for bit: every
// column with fft_1D, then every row.
void plain_transform_2d(Matrix<double>& re, Matrix<double>& im, int dimx, int dimy, int dir) {
    std::vector<double> cr(dimy), ci(dimy);
    for (int x = 0; x < dimx; ++x) {
        for (int y = 0; y < dimy; ++y) cr[y] = re[y][x], ci[y] = im[y][x];
        fft_1D(dir, dimy, cr, ci);
        for (int y = 0; y < dimy; ++y) re[y][x] = cr[y], im[y][x] = ci[y];
    }
    for (int y = 0; y < dimy; ++y) fft_1D(dir, dimx, re.row(y).first(dimx), im.row(y).first(dimx));
}

TEST(TelkuFft, TwoDimensionalTransformsEqualColumnThenRowReferenceBitForBit) {
    // {dimx, dimy, matrix columns}: container sizes, a length that is no power
    // of two (left alone), single lines and matrices wider than the transform.
    const int cases[][3] = {{256, 128, 256}, {32, 64, 40}, {48, 32, 48}, {1, 16, 3}, {64, 1, 64}};
    std::mt19937 rng(23);
    std::uniform_real_distribution<double> value(-300.0, 300.0);
    for (const auto& [dimx, dimy, cols] : cases) {
        auto same_bits = [&](const Matrix<double>& a, const Matrix<double>& b) {
            for (int y = 0; y < dimy; ++y)
                ASSERT_EQ(std::memcmp(a[y], b[y], sizeof(double) * dimx), 0)
                    << dimx << "x" << dimy << " row " << y;
        };
        Matrix<double> in = matrix(dimy, cols);
        for (double& v : in.flat()) v = std::floor(value(rng));
        Matrix<double> re = matrix(dimy, cols), im = matrix(dimy, cols);
        Matrix<double> ref_re = in, ref_im = matrix(dimy, cols);
        ASSERT_EQ(fft_2D(in, re, im, dimx, dimy), 0);
        plain_transform_2d(ref_re, ref_im, dimx, dimy, 1);
        same_bits(re, ref_re);
        same_bits(im, ref_im);
        for (double& v : re.flat()) v += value(rng) * 1e-3;  // a spectrum of no real image
        ref_re = re;
        ref_im = im;
        Matrix<double> band_re = re, band_im = im;
        ASSERT_EQ(ffti_2D(re, im, dimx, dimy), 0);
        plain_transform_2d(ref_re, ref_im, dimx, dimy, -1);
        same_bits(re, ref_re);
        same_bits(im, ref_im);
        // Inverse rows of two bands only: those rows as in the full inverse.
        const RowRange bands[] = {{dimy - 1, dimy}, {1, dimy / 2}};
        ASSERT_EQ(ffti_2D(band_re, band_im, dimx, dimy, bands), 0);
        for (const RowRange& b : bands)
            for (int y = b.begin; y < b.end; ++y)
                ASSERT_EQ(std::memcmp(band_re[y], re[y], sizeof(double) * dimx), 0) << y;
    }
}

std::vector<double> smoothed_impulse(int width, int height) {
    std::vector<double> s(static_cast<std::size_t>(width) * height, 0.0);
    s[0] = 1.0;
    const int size[2] = {width, height};
    EXPECT_EQ(fast_convolve_2D(s, 2, size, 2, 0), 0);
    return s;
}

TEST(TelkuSmoothing, ThirtyTwoSquareWrapsWiderDoesNot) {
    EXPECT_EQ(fast_convolve_side(5), 32);  // never below 32

    // Radius 2, sigma 1: the impulse at (0, 0) becomes exp(-(dx^2 + dy^2) / 2),
    // wrapping round to the last column and row without padding.
    const std::vector<double> s = smoothed_impulse(32, 32);
    EXPECT_NEAR(s[0], 1.0, 1e-12);
    EXPECT_NEAR(s[1], std::exp(-0.5), 1e-12);
    EXPECT_NEAR(s[31], std::exp(-0.5), 1e-12);
    EXPECT_NEAR(s[31 * 32 + 31], std::exp(-1.0), 1e-12);

    // 33 columns need a 64-wide container: column 32 gets nothing back.
    const std::vector<double> wide = smoothed_impulse(33, 32);
    EXPECT_NEAR(wide[32], 0.0, 1e-12);
    EXPECT_NEAR(wide[31 * 33], std::exp(-0.5), 1e-12);  // rows still wrap
}

struct TelkuOut {
    int xc[2] = {5, 5}, yc[2] = {5, 5}, owidth = 5, oheight = 5, oarea = 5;
    float fomx[2] = {5, 5}, fomy[2] = {5, 5};
    unsigned long size = 0;
};

TelkuOut run_telku(GreyImage g) {
    TelkuOut o;
    g.im.size = 0;  // set by the detector
    EXPECT_EQ(
        telku(g.pix, g.im, stdout, o.xc, o.yc, o.fomx, o.fomy, &o.owidth, &o.oheight, &o.oarea), 0);
    o.size = g.im.size;
    return o;
}

TEST(TelkuDetector, FindsATexturedBlobAndNothingInAFlatImage) {
    for (const auto& k : testing::kBlobCases) {  // within a quarter of the radius
        SCOPED_TRACE(k.w * 1000 + k.cx);
        const TelkuOut o = run_telku(testing::blob_scene(k.w, k.h, k.cx, k.cy, k.r));
        EXPECT_EQ(o.size, static_cast<unsigned long>(k.w) * k.h);
        EXPECT_NEAR(o.xc[0], k.cx, k.r / 4.0);
        EXPECT_NEAR(o.yc[0], k.cy, k.r / 4.0);
        EXPECT_GT(o.fomx[0], 0.5f);
        EXPECT_LE(o.fomx[0], 1.0f);
        const int s = telku_subsampling(k.w, k.h);  // sizes come in image pixels
        EXPECT_EQ(o.owidth % s, 0);
        EXPECT_EQ(o.oarea % (s * s), 0);
        EXPECT_GT(o.oarea, 0);
    }
    // Flat image: no band in either direction on any grid.
    const TelkuOut o = run_telku(GreyImage(240, 200, 128));
    EXPECT_EQ((std::array{o.xc[1], o.yc[0], o.owidth, o.oarea}), (std::array{-1, -1, 0, 0}));
    EXPECT_EQ(o.fomx[0], 0.0f);
    EXPECT_EQ(run_telku(GreyImage(4, 4, 9)).xc[0], -1);  // smaller than the sub-sampling needs
}

TEST(TelkuDetector, StemAndPinBelowTheLoopAreCutOff) {
    // Every grid's highest maximum lies in the loop at (120, 70), and the
    // object area stays that of the loop, not of loop, stem and pin.
    const GreyImage scene = testing::loop_on_pin_scene(240, 200, 120, 70);
    for (int t = 0; t < 3; ++t) {
        SCOPED_TRACE(t);
        std::array<int, 3> box{};
        int x1 = -1, y1 = -1, x2 = -1, y2 = -1;
        ASSERT_EQ(detection(scene.im, scene.pix, 2, TELKU_XOFF[t], TELKU_YOFF[t], box, x1, y1, x2,
                            y2, stdout),
                  0);
        EXPECT_NEAR(x1 * 2 + TELKU_XOFF[t], 120, 6);
        EXPECT_NEAR(y1 * 2 + TELKU_YOFF[t], 70, 6);
        // Loop radius 15 sub-sampled pixels: thickness about 30, area below
        // that of the disc (erosion takes the rim).
        EXPECT_NEAR(box[0], 26, 4);
        EXPECT_GT(box[2], 200);
        EXPECT_LT(box[2], 707);
    }
}

}  // namespace
}  // namespace orva
