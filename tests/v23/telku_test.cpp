// TELKU detector: grid set-up, contrast stretch, contrast map and bands, the
// clustering of grid maxima, the radix-2 FFT and the wrapped Gaussian
// smoothing, and whole-detector runs on synthetic scenes.
#include "v23/telku.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "v23/synthetic_blob.h"
#include "v23/telku_clusters.h"
#include "v23/telku_convolution.h"
#include "v23/telku_detection.h"

namespace orva {
namespace {

constexpr double kTwoPi = 6.283185307179586;

TEST(TelkuGrids, SubsamplingFactorAndGridOffsets) {
    // 240 x 200: floor(200 / 120 + 0.5) = 2, three grids (0,0), (0,1), (1,0).
    EXPECT_EQ(telku_subsampling(240, 200), 2);
    EXPECT_EQ(TELKU_XOFF[0], 0);
    EXPECT_EQ(TELKU_YOFF[0], 0);
    EXPECT_EQ(TELKU_XOFF[1], 0);
    EXPECT_EQ(TELKU_YOFF[1], 1);
    EXPECT_EQ(TELKU_XOFF[2], 1);
    EXPECT_EQ(TELKU_YOFF[2], 0);
    // 1300 x 1100 gives 9 (17 grids); every grid offset stays below s.
    EXPECT_EQ(telku_subsampling(1300, 1100), 9);
    for (int t = 0; t < 2 * 9 - 1; ++t) {
        EXPECT_LT(TELKU_XOFF[t], 9);
        EXPECT_LT(TELKU_YOFF[t], 9);
    }
    // Rounding at the half and the limits 1 .. 9.
    EXPECT_EQ(telku_subsampling(500, 179), 1);
    EXPECT_EQ(telku_subsampling(500, 180), 2);
    EXPECT_EQ(telku_subsampling(20, 20), 1);
    EXPECT_EQ(telku_subsampling(5000, 4000), 9);
}

TEST(TelkuGrids, AGridContributesItsMaximaInImagePixels) {
    TelkuCandidates cand;
    // Grid 2 of s = 2 samples from column 1: map (10, 20) is image (21, 40).
    telku_add_grid(cand, 2, 2, 10, 20, 30, 5);
    ASSERT_EQ(cand.cnt_all, 2);
    EXPECT_EQ(cand.xco[0], 21);
    EXPECT_EQ(cand.yco[0], 40);
    EXPECT_EQ(cand.flag[0], 1);
    EXPECT_EQ(cand.xco[1], 61);
    EXPECT_EQ(cand.yco[1], 10);
    EXPECT_EQ(cand.flag[1], 2);
    // Only one maximum: one candidate, the -1 pair is not used.
    telku_add_grid(cand, 2, 1, 7, 8, -1, -1);
    ASSERT_EQ(cand.cnt_all, 3);
    EXPECT_EQ(cand.xco[2], 14);
    EXPECT_EQ(cand.yco[2], 17);
    EXPECT_EQ(cand.flag[2], 1);
    // A highest maximum on the map's first row or column gives nothing.
    telku_add_grid(cand, 2, 0, 0, 8, 5, 5);
    telku_add_grid(cand, 2, 0, -1, -1, -1, -1);
    EXPECT_EQ(cand.cnt_all, 3);
}

TEST(TelkuStretch, RepeatedLevelsSpanTheRange) {
    // 10 and 200 are the lowest and highest levels seen twice or more.
    std::vector<unsigned char> img = {10, 10, 5, 200, 200, 200, 250, 105, 0};
    telku_stretch(img);
    // (v - 10) * 255 / 190, clamped and rounded down.
    const std::vector<unsigned char> expect = {0, 0, 0, 255, 255, 255, 255, 127, 0};
    EXPECT_EQ(img, expect);

    // No level occurs twice: the range is 0 .. 1.
    std::vector<unsigned char> sparse = {0, 1, 2, 3};
    telku_stretch(sparse);
    EXPECT_EQ(sparse, (std::vector<unsigned char>{0, 255, 255, 255}));

    // One repeated level only: nothing to stretch, the image is kept.
    std::vector<unsigned char> flat = {40, 40, 40, 90};
    telku_stretch(flat);
    EXPECT_EQ(flat, (std::vector<unsigned char>{40, 40, 40, 90}));
}

TEST(TelkuMap, ContrastMapRespondsToLinesNotToPoints) {
    // A vertical line of 100 in column 2 of a 5 x 5 image.
    std::vector<unsigned char> img(25, 0);
    for (int y = 0; y < 5; ++y) img[y * 5 + 2] = 100;
    std::vector<unsigned char> map = telku_contrast_map(img, 5, 5);
    ASSERT_EQ(map.size(), 9u);
    // On the line ||a| - |b|| = 200; beside it ||a| - |b|| = 100 and |g| = 300.
    EXPECT_EQ(map[1 * 3 + 1], 50);
    EXPECT_EQ(map[1 * 3 + 0], 100);
    EXPECT_EQ(map[1 * 3 + 2], 100);

    // The same line lying horizontally gives the transposed map.
    std::vector<unsigned char> rows(25, 0);
    for (int x = 0; x < 5; ++x) rows[2 * 5 + x] = 100;
    std::vector<unsigned char> tmap = telku_contrast_map(rows, 5, 5);
    EXPECT_EQ(tmap[1 * 3 + 1], 50);
    EXPECT_EQ(tmap[0 * 3 + 1], 100);
    EXPECT_EQ(tmap[2 * 3 + 1], 100);

    // A single bright point and a flat image have no contrast.
    std::vector<unsigned char> point(25, 0);
    point[12] = 200;
    EXPECT_EQ(telku_contrast_map(point, 5, 5)[4], 0);
    std::vector<unsigned char> flat(25, 77);
    for (unsigned char v : telku_contrast_map(flat, 5, 5)) EXPECT_EQ(v, 0);

    // Too small for a map.
    EXPECT_TRUE(telku_contrast_map(flat, 2, 5).empty());
}

std::vector<PROPS> profile(const std::vector<double>& devm) {
    std::vector<PROPS> p(devm.size());
    for (std::size_t i = 0; i < devm.size(); ++i) p[i].devm = devm[i];
    return p;
}

TEST(TelkuBands, RowsKeepABorderBandBesideTheObjectColumnsTheWidest) {
    std::array<OBJ, 3> bands{};
    // Two inner bands: the longer (5 .. 8) stays the only one.
    auto p = profile({0, 10, 10, 0, 0, 10, 10, 10, 0, 0});
    ASSERT_EQ(telku_bands(p, 3.0, false, bands), 1);
    EXPECT_EQ(bands[0].start, 5);
    EXPECT_EQ(bands[0].end, 8);
    EXPECT_EQ(bands[0].size, 3);
    EXPECT_EQ(bands[0].bflag, 0);

    // The first band touches the top: a later band is kept as a second one.
    p = profile({10, 10, 0, 0, 10, 10, 10, 0, 0, 0});
    ASSERT_EQ(telku_bands(p, 3.0, false, bands), 2);
    EXPECT_EQ(bands[0].start, 0);
    EXPECT_EQ(bands[0].bflag, 1);
    EXPECT_EQ(bands[1].start, 4);
    EXPECT_EQ(bands[1].end, 7);

    // A band running to the last line ends there and touches the border.
    p = profile({0, 0, 10, 10, 10});
    ASSERT_EQ(telku_bands(p, 3.0, false, bands), 1);
    EXPECT_EQ(bands[0].start, 2);
    EXPECT_EQ(bands[0].end, 4);
    EXPECT_EQ(bands[0].bflag, 1);

    // Columns: the widest band, whatever touches the border.
    p = profile({10, 10, 0, 10, 10, 10, 10, 0, 10, 0});
    ASSERT_EQ(telku_bands(p, 3.0, true, bands), 1);
    EXPECT_EQ(bands[0].start, 3);
    EXPECT_EQ(bands[0].end, 7);

    // Equal to the threshold neither starts nor ends a band.
    p = profile({3, 3, 3});
    EXPECT_EQ(telku_bands(p, 3.0, false, bands), 0);
}

void add(TelkuCandidates& c, int x, int y, int flag) {
    c.xco[c.cnt_all] = x;
    c.yco[c.cnt_all] = y;
    c.flag[c.cnt_all] = flag;
    ++c.cnt_all;
}

TEST(TelkuCluster, SixCandidatesClusterFiveDoNot) {
    // Three grids, each with its highest maximum near (100, 100) and its second
    // near (150, 60).
    TelkuCandidates c;
    add(c, 100, 100, 1);
    add(c, 150, 60, 2);
    add(c, 101, 100, 1);
    add(c, 151, 61, 2);
    add(c, 100, 101, 1);
    add(c, 150, 61, 2);
    TelkuChoice r = telku_cluster(c, 3, 10, 12);
    // The farthest seed lies among the second maxima; that cluster is demoted.
    EXPECT_EQ(r.xc[0], 100);
    EXPECT_EQ(r.yc[0], 100);
    EXPECT_EQ(r.xc[1], 150);
    EXPECT_EQ(r.yc[1], 61);
    // j = 10, scale (3 + 3) / 6, x spread of {100, 101, 100}: variance 2/9.
    EXPECT_NEAR(r.fomx[0], 10.0 / (std::sqrt(2.0 / 9.0) + 10.0), 1e-5);
    EXPECT_NEAR(r.fomy[0], 10.0 / (std::sqrt(2.0 / 9.0) + 10.0), 1e-5);
    EXPECT_NEAR(r.fomx[1], 10.0 / (std::sqrt(2.0 / 9.0) + 10.0), 1e-5);

    // Five candidates of three grids are too few (5 <= 3 + 2).
    c.cnt_all = 5;
    r = telku_cluster(c, 3, 10, 12);
    EXPECT_EQ(r.xc[0], -1);
    EXPECT_EQ(r.yc[0], -1);
    EXPECT_EQ(r.xc[1], -1);
    EXPECT_EQ(r.yc[1], -1);
    EXPECT_EQ(r.fomx[0], 0.0f);
    EXPECT_EQ(r.fomy[1], 0.0f);
}

TEST(TelkuCluster, DenseGroupsWinOverAStrayCandidate) {
    // Exactly num_tests candidates agree within a ninth of the largest spread:
    // they form cluster 1 and the next densest group cluster 2; the stray one
    // at (10, 190) is left out instead of seeding a cluster.
    TelkuCandidates c;
    add(c, 100, 100, 1);
    add(c, 150, 60, 2);
    add(c, 101, 100, 1);
    add(c, 151, 60, 2);
    add(c, 100, 101, 1);
    add(c, 10, 190, 2);
    const TelkuChoice r = telku_cluster(c, 3, 20, 20);
    EXPECT_EQ(r.xc[0], 100);
    EXPECT_EQ(r.yc[0], 100);
    EXPECT_EQ(r.xc[1], 151);  // 150.5 rounds up
    EXPECT_EQ(r.yc[1], 60);
    // Cluster 2: two second maxima, scale (3 + 2) / 6, x variance 1/4.
    EXPECT_NEAR(r.fomx[1], 20.0 * (5.0 / 6.0) / (0.5 + 20.0), 1e-5);
    EXPECT_NEAR(r.fomy[1], 5.0 / 6.0, 1e-5);
}

TEST(TelkuCluster, CoincidingCandidatesGiveOneCandidate) {
    // Every maximum on the same pixel: no spread to bin by, no second seed.
    TelkuCandidates c;
    for (int k = 0; k < 6; ++k) add(c, 42, 24, 1 + k % 2);
    const TelkuChoice r = telku_cluster(c, 3, 8, 9);
    EXPECT_EQ(r.xc[0], 42);
    EXPECT_EQ(r.yc[0], 24);
    EXPECT_FLOAT_EQ(r.fomx[0], 1.0f);
    EXPECT_FLOAT_EQ(r.fomy[0], 1.0f);
    EXPECT_EQ(r.xc[1], -1);
    EXPECT_EQ(r.fomx[1], 0.0f);
}

TEST(TelkuFft, ForwardKernelSignScalingAndRoundTrip) {
    // Impulse at position 1 of 8: X[k] = exp(-2 pi i k / 8), unscaled.
    std::vector<double> x(8, 0.0), y(8, 0.0);
    x[1] = 1.0;
    fft_1D(1, 8, x, y);
    for (int k = 0; k < 8; ++k) {
        EXPECT_NEAR(x[k], std::cos(kTwoPi * k / 8), 1e-12) << k;
        EXPECT_NEAR(y[k], -std::sin(kTwoPi * k / 8), 1e-12) << k;
    }
    // The inverse divides by the length and returns the impulse.
    fft_1D(-1, 8, x, y);
    for (int k = 0; k < 8; ++k) {
        EXPECT_NEAR(x[k], k == 1 ? 1.0 : 0.0, 1e-12);
        EXPECT_NEAR(y[k], 0.0, 1e-12);
    }

    // A seeded random length-256 vector comes back within rounding.
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(-100.0, 100.0);
    std::vector<double> re(256), im(256);
    for (int k = 0; k < 256; ++k) {
        re[k] = u(rng);
        im[k] = u(rng);
    }
    const std::vector<double> re0 = re, im0 = im;
    fft_1D(1, 256, re, im);
    double sum = 0.0;
    for (double v : re0) sum += v;
    EXPECT_NEAR(re[0], sum, 1e-9);  // forward is not scaled
    fft_1D(-1, 256, re, im);
    for (int k = 0; k < 256; ++k) {
        EXPECT_NEAR(re[k], re0[k], 1e-10);
        EXPECT_NEAR(im[k], im0[k], 1e-10);
    }

    // A length that is no power of two is left alone.
    std::vector<double> odd = {1, 2, 3}, odd_im = {0, 0, 0};
    fft_1D(1, 3, odd, odd_im);
    EXPECT_EQ(odd, (std::vector<double>{1, 2, 3}));
}

TEST(TelkuFft, TwoDimensionalTransformsOnANonSquareMatrix) {
    // 16 columns by 8 rows; impulse at column 3, row 1.
    Matrix<double> in = matrix(8, 16);
    in[1][3] = 1.0;
    Matrix<double> re = matrix(8, 16), im = matrix(8, 16);
    ASSERT_EQ(fft_2D(in, re, im, 16, 8), 0);
    // X[v][u] = exp(-2 pi i (3 u / 16 + 1 v / 8)).
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 16; ++u) {
            const double phase = -kTwoPi * (3.0 * u / 16 + 1.0 * v / 8);
            EXPECT_NEAR(re[v][u], std::cos(phase), 1e-12);
            EXPECT_NEAR(im[v][u], std::sin(phase), 1e-12);
        }
    ASSERT_EQ(ffti_2D(re, im, 16, 8), 0);
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 16; ++u) EXPECT_NEAR(re[v][u], in[v][u], 1e-12);

    // Matrices smaller than the transform are refused.
    Matrix<double> small = matrix(4, 4);
    testing::internal::CaptureStderr();
    EXPECT_EQ(fft_2D(small, re, im, 16, 8), 7);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("fft_2D: could not allocate arrays"),
              std::string::npos);
}

std::vector<double> smoothed_impulse(int width, int height) {
    std::vector<double> s(static_cast<std::size_t>(width) * height, 0.0);
    s[0] = 1.0;
    const int size[2] = {width, height};
    EXPECT_EQ(fast_convolve_2D(s, 2, size, 2, 0), 0);
    return s;
}

TEST(TelkuSmoothing, ThirtyTwoSquareWrapsWiderDoesNot) {
    EXPECT_EQ(fast_convolve_side(32), 32);
    EXPECT_EQ(fast_convolve_side(33), 64);
    EXPECT_EQ(fast_convolve_side(5), 32);

    // Radius 2, sigma 1: the impulse at (0, 0) becomes exp(-(dx^2 + dy^2) / 2).
    std::vector<double> s = smoothed_impulse(32, 32);
    EXPECT_NEAR(s[0], 1.0, 1e-12);
    EXPECT_NEAR(s[1], std::exp(-0.5), 1e-12);
    // No padding: the kernel wraps round to the last column and row.
    EXPECT_NEAR(s[31], std::exp(-0.5), 1e-12);
    EXPECT_NEAR(s[31 * 32 + 31], std::exp(-1.0), 1e-12);

    // 33 columns need a 64-wide container: column 32 gets nothing back.
    std::vector<double> wide = smoothed_impulse(33, 32);
    EXPECT_NEAR(wide[32], 0.0, 1e-12);
    EXPECT_NEAR(wide[31 * 33], std::exp(-0.5), 1e-12);  // rows still wrap
}

TEST(TelkuSmoothing, ArgumentErrorsAndUnknownMode) {
    std::vector<double> s(16, 3.0);
    const int size[2] = {4, 4};
    testing::internal::CaptureStderr();
    EXPECT_EQ(fast_convolve_2D(s, 3, size, 2, 0), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("\n fast_convolve_2D: Wrong number of dimensions (3)!"), std::string::npos);
    EXPECT_NE(err.find("\n fast_convolve_2D: abort!"), std::string::npos);

    testing::internal::CaptureStderr();
    EXPECT_EQ(fast_convolve_2D(std::span<double>(), 2, size, 2, 0), 2);
    EXPECT_EQ(fast_convolve_2D(s, 2, std::span<const int>(), 2, 0), 3);
    testing::internal::GetCapturedStderr();

    // Mode 1: identity kernel and the message; the signal is unchanged.
    testing::internal::CaptureStderr();
    EXPECT_EQ(fast_convolve_2D(s, 2, size, 2, 1), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "\n fast_convolve_2D: This filter_mode is not supported (1)!"),
              std::string::npos);
    for (double v : s) EXPECT_NEAR(v, 3.0, 1e-12);
}

TEST(TelkuDetector, FindsATexturedBlobOnAFlatBackground) {
    struct Case {
        int w, h, cx, cy, r;
    };
    // Tolerance: a quarter of the blob radius.
    for (const Case& k :
         {Case{240, 200, 140, 90, 30}, Case{240, 200, 80, 120, 25}, Case{400, 300, 250, 140, 40}}) {
        SCOPED_TRACE(k.w * 1000 + k.cx);
        blob::BlobScene scene = blob::make_blob_scene(k.w, k.h, k.cx, k.cy, k.r, 180, 20, 220, 12);
        IMAGE im;
        im.width = k.w;
        im.height = k.h;
        int xc[2], yc[2], owidth, oheight, oarea;
        float fomx[2], fomy[2];
        ASSERT_EQ(telku(scene.pixels, im, stdout, xc, yc, fomx, fomy, &owidth, &oheight, &oarea),
                  0);
        EXPECT_EQ(im.size, static_cast<unsigned long>(k.w) * k.h);
        EXPECT_NEAR(xc[0], k.cx, k.r / 4.0);
        EXPECT_NEAR(yc[0], k.cy, k.r / 4.0);
        EXPECT_GT(fomx[0], 0.5f);
        EXPECT_LE(fomx[0], 1.0f);
        const int s = telku_subsampling(k.w, k.h);
        EXPECT_EQ(owidth % s, 0);
        EXPECT_EQ(oarea % (s * s), 0);
        EXPECT_GT(oarea, 0);
    }
}

TEST(TelkuDetector, StemAndPinBelowTheLoopAreCutOff) {
    // Loop at (120, 70) on a stem into a pin from the bottom of a 240 x 200
    // image: every grid's highest maximum lies in the loop, and the object
    // area stays that of the loop, not of loop, stem and pin.
    const std::vector<unsigned char> img = blob::make_loop_on_pin_scene(240, 200, 120, 70);
    IMAGE im;
    im.width = 240;
    im.height = 200;
    for (int t = 0; t < 3; ++t) {
        SCOPED_TRACE(t);
        std::array<int, 3> box{};
        int x1 = -1, y1 = -1, x2 = -1, y2 = -1;
        ASSERT_EQ(detection(im, img, 2, TELKU_XOFF[t], TELKU_YOFF[t], box, x1, y1, x2, y2, stdout),
                  0);
        EXPECT_NEAR(x1 * 2 + TELKU_XOFF[t], 120, 6);
        EXPECT_NEAR(y1 * 2 + TELKU_YOFF[t], 70, 6);
        // Loop radius 15 in sub-sampled pixels: thickness about 30, area
        // below that of the disc (erosion takes the rim).
        EXPECT_NEAR(box[0], 26, 4);
        EXPECT_GT(box[2], 200);
        EXPECT_LT(box[2], 707);
    }
    std::vector<unsigned char> copy = img;
    int xc[2], yc[2], owidth, oheight, oarea;
    float fomx[2], fomy[2];
    ASSERT_EQ(telku(copy, im, stdout, xc, yc, fomx, fomy, &owidth, &oheight, &oarea), 0);
    EXPECT_NEAR(xc[0], 120, 6);
    EXPECT_NEAR(yc[0], 70, 6);
}

TEST(TelkuDetector, NothingToFindGivesAbsentCandidates) {
    int xc[2] = {5, 5}, yc[2] = {5, 5}, owidth = 5, oheight = 5, oarea = 5;
    float fomx[2] = {5, 5}, fomy[2] = {5, 5};
    // Flat image: no band in either direction on any grid.
    std::vector<unsigned char> flat(240 * 200, 128);
    IMAGE im;
    im.width = 240;
    im.height = 200;
    ASSERT_EQ(telku(flat, im, stdout, xc, yc, fomx, fomy, &owidth, &oheight, &oarea), 0);
    EXPECT_EQ(xc[0], -1);
    EXPECT_EQ(yc[1], -1);
    EXPECT_EQ(fomx[0], 0.0f);
    EXPECT_EQ(owidth, 0);
    EXPECT_EQ(oarea, 0);

    // An image smaller than the sub-sampling needs, and a short buffer.
    std::vector<unsigned char> tiny(4 * 4, 9);
    im.width = 4;
    im.height = 4;
    ASSERT_EQ(telku(tiny, im, stdout, xc, yc, fomx, fomy, &owidth, &oheight, &oarea), 0);
    EXPECT_EQ(xc[0], -1);
    im.width = 100;
    im.height = 100;
    ASSERT_EQ(telku(tiny, im, stdout, xc, yc, fomx, fomy, &owidth, &oheight, &oarea), 0);
    EXPECT_EQ(xc[1], -1);
}

}  // namespace
}  // namespace orva
