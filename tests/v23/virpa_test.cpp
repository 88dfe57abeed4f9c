// VIRPA and DEXLA: zoom and padding geometry, disc kernel, spectra, quadrant
// shift, thresholding, object selection, contrast stretch, equalisation, the
// DEXLA response tables, and whole-detector runs on synthetic scenes.
#include "v23/virpa.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "v23/synthetic_blob.h"
#include "v23/virpa_image.h"

namespace orva {
namespace {

Image filled(int mx, int my, double v) {
    Image im(mx, my);
    for (double& p : im.pixel.flat()) p = v;
    return im;
}

TEST(VirpaGeometry, ZoomAndPaddingOfA1024By768Image) {
    EXPECT_EQ(virpa_zoomfactor(1024, 768), 6);
    EXPECT_EQ(virpa_zoomfactor(768, 1024), 6);
    EXPECT_EQ(virpa_zoomfactor(111, 50), 1);
    EXPECT_EQ(virpa_zoomfactor(112, 50), 2);

    Image work(1024, 768);
    for (int r = 0; r < 768; ++r)
        for (int c = 0; c < 1024; ++c) work.pixel[r][c] = (c % 7) + 10 * (r % 5);
    Image zoomed(0, 0);
    zoomed.zoom(work, 6);
    ASSERT_EQ(zoomed.mx, 170);
    ASSERT_EQ(zoomed.my, 128);
    EXPECT_EQ(zoomed.pixel[3][5], work.pixel[18][30]);

    Image in(256, 256);
    const Point f = in.paddingZeros(zoomed);
    EXPECT_EQ(f.x, 64);  // row offset
    EXPECT_EQ(f.y, 43);  // column offset
    EXPECT_EQ(in.pixel[64 + 10][43 + 20], zoomed.pixel[10][20]);
    EXPECT_EQ(in.pixel[64 + 127][43 + 168], zoomed.pixel[127][168]);
    // The last copied column starts the right-hand ramp and is replaced.
    EXPECT_NE(in.pixel[64 + 127][43 + 169], zoomed.pixel[127][169]);
}

TEST(VirpaGeometry, PaddingContinuesTheImageSmoothlyAcrossThePeriod) {
    // A 100 x 80 horizontal ramp in a 256 x 256 frame: every padded value
    // stays within the image's range and the outer edge sits at the mean of
    // the two ends, so the periodic image has no jump.
    Image src(100, 80);
    for (int r = 0; r < 80; ++r)
        for (int c = 0; c < 100; ++c) src.pixel[r][c] = 50 + 2.0 * c;
    Image in(256, 256);
    const Point f = in.paddingZeros(src);
    ASSERT_EQ(f.x, 88);
    ASSERT_EQ(f.y, 78);
    for (double v : in.pixel.flat()) {
        EXPECT_GE(v, 50.0 - 1e-9);
        EXPECT_LE(v, 248.0 + 1e-9);
    }
    // First copied row: left edge = (p[R] + p[L]) / 2 with R = 177, L = 78.
    EXPECT_NEAR(in.pixel[88][0], (248.0 + 50.0) / 2, 1e-9);
    EXPECT_NEAR(in.pixel[88][77], 149.0 + (50.0 - 248.0) * 77 / 156, 1e-9);
    // Neighbouring columns across the wrap differ little.
    EXPECT_LT(std::fabs(in.pixel[120][0] - in.pixel[120][255]), 3.0);
    EXPECT_LT(std::fabs(in.pixel[0][100] - in.pixel[255][100]), 5.0);
}

TEST(VirpaKernels, BallOfRadiusTwo) {
    Image disc(256, 256);
    disc.ball(2);
    int set = 0;
    double sum = 0.0;
    for (int r = 0; r < 256; ++r)
        for (int c = 0; c < 256; ++c)
            if (disc.pixel[r][c] != 0.0) {
                ++set;
                sum += disc.pixel[r][c];
                EXPECT_DOUBLE_EQ(disc.pixel[r][c], 1.0 / 13.06);
                EXPECT_LE((c - 128) * (c - 128) + (r - 128) * (r - 128), 4);
            }
    EXPECT_EQ(set, 13);
    EXPECT_NEAR(sum, 13 / 13.06, 1e-12);
}

TEST(VirpaSpectra, RoundTripProductAndShift) {
    // FFT then inverse on a length-256 vector returns the input.
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(0.0, 255.0);
    std::vector<double> x(256), y(256, 0.0);
    for (double& v : x) v = u(rng);
    const std::vector<double> x0 = x;
    Complex::FFT(1, 256, x, y);
    Complex::FFT(-1, 256, x, y);
    for (int k = 0; k < 256; ++k) EXPECT_NEAR(x[k], x0[k], 1e-10);

    // Convolving with a unit impulse at (128, 128) and shifting the quadrants
    // gives the image back in place.
    Image img(256, 256);
    for (double& v : img.pixel.flat()) v = u(rng);
    Image delta(256, 256);
    delta.pixel[128][128] = 1.0;
    Complex a(256), b(256), prod(256);
    a.FFT_2d(img, 256, 256);
    b.FFT_2d(delta, 256, 256);
    prod.multiplication(a, b, 256);
    prod.FFT_2dInv(256, 256);
    Image back(256, 256);
    for (int r = 0; r < 256; ++r)
        for (int c = 0; c < 256; ++c) back.pixel[r][c] = prod.Real[r][c];
    back.shift(256, 256);
    for (int r = 0; r < 256; r += 17)
        for (int c = 0; c < 256; c += 13) EXPECT_NEAR(back.pixel[r][c], img.pixel[r][c], 1e-9);
}

TEST(VirpaSpectra, LocalStandardDeviationOfAFlatAndACheckeredField) {
    // Mean of squares minus squared mean inside a disc: 0 on a flat field,
    // half the step on a fine checkerboard of 0 and 100 (deviation 50).
    const auto local_dev = [](const Image& in) {
        Image sq(256, 256);
        sq.square(in);
        Complex fin(256), fsq(256), fdisc(256), m1(256), m2(256);
        fin.FFT_2d(in, 256, 256);
        fsq.FFT_2d(sq, 256, 256);
        Image disc(256, 256);
        disc.ball(5);
        fdisc.FFT_2d(disc, 256, 256);
        m1.multiplication(fsq, fdisc, 256);
        m2.multiplication(fin, fdisc, 256);
        m1.FFT_2dInv(256, 256);
        m2.FFT_2dInv(256, 256);
        Image out(256, 256);
        out.StdDev(m1, m2, 256);
        return out;
    };
    Image flat = filled(256, 256, 80.0);
    EXPECT_NEAR(local_dev(flat).pixel[100][100], 0.0, 1e-3);
    Image checker(256, 256);
    for (int r = 0; r < 256; ++r)
        for (int c = 0; c < 256; ++c) checker.pixel[r][c] = (r + c) % 2 ? 100.0 : 0.0;
    // Pixel (100, 100) is 0; the disc points of odd offset hold 100. The disc
    // weights are 1 / (25 * 3.14 + 0.5) each.
    int odd = 0;
    for (int dy = -5; dy <= 5; ++dy)
        for (int dx = -5; dx <= 5; ++dx)
            if (dx * dx + dy * dy <= 25 && (dx + dy) % 2 != 0) ++odd;
    const double weight = 1.0 / (25 * 3.14 + 0.5);
    const double mean_sq = odd * 10000.0 * weight;
    const double mean = odd * 100.0 * weight;
    EXPECT_NEAR(local_dev(checker).pixel[100][100], std::sqrt(mean_sq - mean * mean), 1e-6);
}

TEST(VirpaMask, ThresholdRelaxesAtMostFiveTimes) {
    Image map = filled(20, 20, 10.0);
    map.pixel[5][7] = 60.0;  // found at the third threshold, 74 * 0.81 = 59.94
    Image dst(10, 10);
    EXPECT_EQ(map.getactualimage(dst, Point(2, 3), 0.0, 0.0), 1);
    EXPECT_EQ(dst.pixel[3][4], 255.0);  // window row 2, column 3
    EXPECT_EQ(dst.pixel[0][0], 0.0);

    map.pixel[5][7] = 48.6;  // just above the fifth threshold, 74 * 0.9^4
    EXPECT_EQ(map.getactualimage(dst, Point(2, 3), 0.0, 0.0), 1);
    map.pixel[5][7] = 48.5;  // below it: nothing after five tries
    EXPECT_EQ(map.getactualimage(dst, Point(2, 3), 0.0, 0.0), 0);
}

TEST(VirpaObjects, LargestObjectSurvivesAndLabelsStopAt255) {
    // A 5 x 5 block and a 3 x 3 block: only the larger stays, valued by its
    // label (each block's seed is its last pixel in scan order).
    Image mask(30, 20);
    for (int r = 3; r < 8; ++r)
        for (int c = 3; c < 8; ++c) mask.pixel[r][c] = 255.0;
    for (int r = 12; r < 15; ++r)
        for (int c = 20; c < 23; ++c) mask.pixel[r][c] = 255.0;
    mask.selectLargeObject(0);
    int big = 0, small = 0;
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 30; ++c) {
            if (mask.pixel[r][c] == 0.0) continue;
            (c < 15 ? big : small) += 1;
            EXPECT_GE(mask.pixel[r][c], 1.0);
            EXPECT_LE(mask.pixel[r][c], 255.0);
        }
    EXPECT_EQ(big, 25);
    EXPECT_EQ(small, 0);

    // Hundreds of isolated pixels need more than 255 labels: the rest stay
    // unlabelled, one pixel object is kept, nothing is written out of range.
    Image dots(80, 80);
    for (int r = 1; r < 79; r += 2)
        for (int c = 1; c < 79; c += 2) dots.pixel[r][c] = 255.0;
    dots.selectLargeObject(0);
    int kept = 0;
    for (double v : dots.pixel.flat())
        if (v != 0.0) {
            ++kept;
            EXPECT_EQ(v, 1.0);  // all tie at one pixel: the lowest label wins
        }
    EXPECT_EQ(kept, 1);

    // An empty mask before the last pass is left alone.
    Image empty = filled(8, 8, 0.0);
    EXPECT_EQ(empty.selectLargeObject(3), 1.0);

    Point p;
    Image::centroid(mask, 3, p);
    // Columns 3 .. 7: 125 / (25 + 0.0001) truncates to 4.
    EXPECT_EQ(p.x, 4 * 3);
    EXPECT_EQ(p.y, 4 * 3);
    Image::centroid(empty, 3, p);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
}

TEST(VirpaContrast, CentralQuarterStretchedOverTheRange) {
    Image im(5, 1);
    const double values[5] = {0, 30, 40, 50, 80};
    for (int c = 0; c < 5; ++c) im.pixel[0][c] = values[c];
    im.contrastEnhancement(4.0);
    // min + 3/8 range -> 0, min + 5/8 range -> 255.
    EXPECT_DOUBLE_EQ(im.pixel[0][0], 0.0);
    EXPECT_DOUBLE_EQ(im.pixel[0][1], 0.0);
    EXPECT_DOUBLE_EQ(im.pixel[0][2], 127.5);
    EXPECT_DOUBLE_EQ(im.pixel[0][3], 255.0);
    EXPECT_DOUBLE_EQ(im.pixel[0][4], 255.0);

    // c = 0 counts as 1 (the whole range); a flat image has no contrast.
    Image one(3, 1);
    one.pixel[0][0] = 10;
    one.pixel[0][1] = 20;
    one.pixel[0][2] = 30;
    one.contrastEnhancement(0.0);
    EXPECT_DOUBLE_EQ(one.pixel[0][1], 127.5);
    Image flat = filled(4, 4, 99.0);
    flat.contrastEnhancement(4.0);
    for (double v : flat.pixel.flat()) EXPECT_EQ(v, 0.0);
}

TEST(DexlaEqualisation, FlatHistogramUnchangedTwoLevelsSpread) {
    // Every level 0 .. 255 four times: the mapping is the identity.
    Image all(64, 16);
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 64; ++c) all.pixel[r][c] = (r * 64 + c) % 256;
    Image copy = all;
    all.histEqualization();
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 64; ++c) EXPECT_EQ(all.pixel[r][c], copy.pixel[r][c]);

    // Half 0, half 100: the lower level stays 0, the upper becomes 255.
    Image two(16, 16);
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) two.pixel[r][c] = r < 8 ? 0.0 : 100.0;
    two.histEqualization();
    EXPECT_EQ(two.pixel[0][0], 0.0);
    EXPECT_EQ(two.pixel[15][15], 255.0);

    // 496 pixels (target 1 per level) nearly all on one level: its share runs
    // past the last output level, so the brighter level above it is never
    // reached; it belongs to the brightest pixels and ends at the top, not at 0.
    Image glare = filled(16, 31, 50.0);
    glare.pixel[0][0] = 10.0;
    glare.pixel[1][1] = 240.0;
    glare.histEqualization();
    EXPECT_EQ(glare.pixel[0][0], 0.0);
    EXPECT_EQ(glare.pixel[1][1], 255.0);
    EXPECT_EQ(glare.pixel[5][5], 255.0);
}

// Half-size image: mid-grey with a very dark spot (level 1; level 0 has no
// dark response) at (20, 20) and a very bright one at (60, 40), each 5 x 5.
Image two_spots() {
    Image im = filled(100, 70, 128.0);
    for (int r = -2; r <= 2; ++r)
        for (int c = -2; c <= 2; ++c) {
            im.pixel[20 + r][20 + c] = 1.0;
            im.pixel[40 + r][60 + c] = 255.0;
        }
    return im;
}

TEST(Dexla, ResponseTablesFollowTheMeanOfTheInput) {
    // Dark input (mean <= 100): no dark table, the bright spot is found.
    std::vector<unsigned char> dark_input(200 * 140, 100);
    Point p = two_spots().Dexla(dark_input, 0);
    EXPECT_EQ(p.x, 120);
    EXPECT_EQ(p.y, 80);
    // Bright input (mean >= 200): no bright table, the dark spot is found.
    std::vector<unsigned char> bright_input(200 * 140, 200);
    p = two_spots().Dexla(bright_input, 0);
    EXPECT_EQ(p.x, 40);
    EXPECT_EQ(p.y, 40);
    // In between both count; with nothing dark or bright the result is (0, 0).
    std::vector<unsigned char> mid_input(200 * 140, 150);
    p = filled(100, 70, 128.0).Dexla(mid_input, 0);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
}

TEST(VirpaDetector, FindsATexturedBlobOnAFlatBackground) {
    struct Case {
        int w, h, cx, cy, r;
    };
    // Tolerances: VIRPA a quarter, DEXLA half of the blob radius.
    for (const Case& k : {Case{240, 200, 140, 90, 30}, Case{240, 200, 80, 120, 25},
                          Case{400, 300, 250, 140, 40}, Case{1024, 768, 600, 400, 80}}) {
        SCOPED_TRACE(k.w * 1000 + k.cx);
        const blob::BlobScene scene =
            blob::make_blob_scene(k.w, k.h, k.cx, k.cy, k.r, 180, 20, 220, 12);
        std::vector<double> vx(3, -5), vy(3, -5), dx(3, -5), dy(3, -5);
        ASSERT_EQ(virpa_dexla(scene.pixels, k.w, k.h, 0, 1, vx, vy, dx, dy, 0, 0), 0);
        EXPECT_NEAR(vx[1], k.cx, k.r / 4.0);
        EXPECT_NEAR(vy[1], k.cy, k.r / 4.0);
        EXPECT_NEAR(dx[1], k.cx, k.r / 2.0);
        EXPECT_NEAR(dy[1], k.cy, k.r / 2.0);
        EXPECT_EQ(vx[0], -5);  // other slots untouched
        EXPECT_EQ(dy[2], -5);
    }
}

TEST(VirpaDetector, BadArgumentsAndBlankImages) {
    std::vector<double> vx(2, -5), vy(2, -5), dx(2, -5), dy(2, -5);
    std::vector<unsigned char> img(50 * 40, 128);
    testing::internal::CaptureStderr();
    EXPECT_EQ(virpa_dexla(img, 60, 40, 0, 0, vx, vy, dx, dy, 0, 0), 3);
    EXPECT_EQ(virpa_dexla(img, 50, 40, 0, 2, vx, vy, dx, dy, 0, 0), 3);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("virpa_dexla"), std::string::npos);
    EXPECT_EQ(vx[0], -5);

    // A flat image: no texture, nothing dark or bright.
    ASSERT_EQ(virpa_dexla(img, 50, 40, 0, 0, vx, vy, dx, dy, 0, 0), 0);
    EXPECT_EQ(vx[0], 0);
    EXPECT_EQ(vy[0], 0);
    // A one-pixel-high image zooms to nothing and still returns.
    std::vector<unsigned char> line(300, 7);
    ASSERT_EQ(virpa_dexla(line, 300, 1, 0, 1, vx, vy, dx, dy, 0, 0), 0);
    EXPECT_EQ(vx[1], 0);
    EXPECT_EQ(dx[1], 0);
}

}  // namespace
}  // namespace orva
