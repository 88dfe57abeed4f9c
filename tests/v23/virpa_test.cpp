// VIRPA and DEXLA: zoom and padding geometry, disc kernel, spectra, quadrant
// shift, thresholding, object selection, contrast stretch, equalisation, the
// DEXLA response tables, and whole-detector runs on synthetic scenes.
#include "v23/virpa.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include "v23/virpa_image.h"
#include "v23_images.h"

namespace orva {
namespace {

// mx columns by my rows, pixel (c, r) = f(c, r).
Image image_of(int mx, int my, const std::function<double(int, int)>& f) {
    Image im(mx, my);
    for (int r = 0; r < my; ++r)
        for (int c = 0; c < mx; ++c) im.pixel[r][c] = f(c, r);
    return im;
}

bool same(const Image& a, const Image& b) {
    return a.mx == b.mx && a.my == b.my &&
           std::ranges::equal(a.pixel.flat(), b.pixel.flat(),
                              [](double u, double v) { return std::fabs(u - v) < 1e-12; });
}

Image filled(int mx, int my, double v) {
    return image_of(mx, my, [v](int, int) { return v; });
}

TEST(VirpaGeometry, ZoomAndPaddingOfA1024By768ImageAndARamp) {
    for (const auto& [w, h, f] :
         {std::array{1024, 768, 6}, {768, 1024, 6}, {111, 50, 1}, {112, 50, 2}})
        EXPECT_EQ(virpa_zoomfactor(w, h), f) << w << "x" << h;

    const Image work = image_of(1024, 768, [](int c, int r) { return (c % 7) + 10 * (r % 5); });
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

    // A 100 x 80 horizontal ramp 50 .. 248 in a 256 x 256 frame: every padded
    // value stays within the ramp and the outer edge sits at the mean of its
    // two ends, so the periodic image has no jump.
    Image ramp(256, 256);
    const Point g = ramp.paddingZeros(image_of(100, 80, [](int c, int) { return 50 + 2.0 * c; }));
    ASSERT_EQ(g.x, 88);
    ASSERT_EQ(g.y, 78);
    for (double v : ramp.pixel.flat()) {
        EXPECT_GE(v, 50.0 - 1e-9);
        EXPECT_LE(v, 248.0 + 1e-9);
    }
    // First copied row: left edge = (p[R] + p[L]) / 2 with R = 177, L = 78.
    EXPECT_NEAR(ramp.pixel[88][0], (248.0 + 50.0) / 2, 1e-9);
    EXPECT_NEAR(ramp.pixel[88][77], 149.0 + (50.0 - 248.0) * 77 / 156, 1e-9);
}

TEST(VirpaKernels, BallOfRadiusTwo) {
    Image disc(256, 256);
    disc.ball(2);  // 13 pixels around (128, 128)
    EXPECT_TRUE(same(disc, image_of(256, 256, [](int c, int r) {
                         return (c - 128) * (c - 128) + (r - 128) * (r - 128) <= 4 ? 1.0 / 13.06
                                                                                   : 0.0;
                     })));
}

TEST(VirpaSpectra, ShiftSwapsDiagonalQuadrants) {
    const auto value = [](int c, int r) { return c + 10.0 * r; };
    Image im = image_of(8, 4, value);
    im.shift(8, 4);
    EXPECT_TRUE(
        same(im, image_of(8, 4, [&](int c, int r) { return value((c + 4) % 8, (r + 2) % 4); })));
}

TEST(VirpaSpectra, LocalStandardDeviationOfAFlatAndACheckeredField) {
    // Mean of squares minus squared mean inside a disc of radius 5.
    const auto local_dev = [](const Image& in) {
        Image sq(256, 256), disc(256, 256), out(256, 256);
        sq.square(in);
        disc.ball(5);
        Complex fin(256), fsq(256), fdisc(256), m1(256), m2(256);
        fin.FFT_2d(in, 256, 256);
        fsq.FFT_2d(sq, 256, 256);
        fdisc.FFT_2d(disc, 256, 256);
        m1.multiplication(fsq, fdisc, 256);
        m2.multiplication(fin, fdisc, 256);
        m1.FFT_2dInv(256, 256);
        m2.FFT_2dInv(256, 256);
        out.StdDev(m1, m2, 256);
        return out.pixel[100][100];
    };
    EXPECT_NEAR(local_dev(filled(256, 256, 80.0)), 0.0, 1e-3);
    // A checkerboard of 0 and 100: pixel (100, 100) is 0, the disc points of
    // odd offset hold 100, each disc weight is 1 / (25 * 3.14 + 0.5).
    int odd = 0;
    for (int dy = -5; dy <= 5; ++dy)
        for (int dx = -5; dx <= 5; ++dx) odd += dx * dx + dy * dy <= 25 && (dx + dy) % 2 != 0;
    const double mean = odd * 100.0 / (25 * 3.14 + 0.5);
    const double checker =
        local_dev(image_of(256, 256, [](int c, int r) { return (r + c) % 2 ? 100.0 : 0.0; }));
    EXPECT_NEAR(checker, std::sqrt(100.0 * mean - mean * mean), 1e-6);
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
    const auto blocks = [](double big, double small) {
        return image_of(30, 20, [=](int c, int r) {
            if (r >= 3 && r < 8 && c >= 3 && c < 8) return big;
            return r >= 12 && r < 15 && c >= 20 && c < 23 ? small : 0.0;
        });
    };
    Image mask = blocks(255.0, 255.0);
    mask.selectLargeObject(0);
    const double label = mask.pixel[7][7];
    EXPECT_GE(label, 1.0);
    EXPECT_LE(label, 255.0);
    EXPECT_TRUE(same(mask, blocks(label, 0.0)));

    // Hundreds of isolated pixels need more than 255 labels: the rest stay
    // unlabelled, all tie at one pixel and the lowest label alone is kept.
    Image dots = image_of(
        80, 80, [](int c, int r) { return r % 2 && c % 2 && r < 79 && c < 79 ? 255.0 : 0.0; });
    dots.selectLargeObject(0);
    std::vector<double> kept;
    for (double v : dots.pixel.flat())
        if (v != 0.0) kept.push_back(v);
    EXPECT_EQ(kept, std::vector<double>{1.0});

    Image empty = filled(8, 8, 0.0);  // empty before the last pass: left alone
    EXPECT_EQ(empty.selectLargeObject(3), 1.0);

    Point p;
    Image::centroid(mask, 3, p);  // columns 3 .. 7: 125 / (25 + 0.0001) truncates to 4
    EXPECT_EQ(p.x, 4 * 3);
    EXPECT_EQ(p.y, 4 * 3);
    Image::centroid(empty, 3, p);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
}

std::vector<double> row_of(const Image& im) {
    return std::vector<double>(im.pixel[0], im.pixel[0] + im.mx);
}

TEST(VirpaContrast, CentralQuarterStretchedOverTheRange) {
    // c = 4: min + 3/8 range -> 0, min + 5/8 range -> 255.
    const double values[5] = {0, 30, 40, 50, 80};
    Image im = image_of(5, 1, [&](int c, int) { return values[c]; });
    im.contrastEnhancement(4.0);
    EXPECT_EQ(row_of(im), (std::vector<double>{0.0, 0.0, 127.5, 255.0, 255.0}));
    // c = 0 counts as 1 (the whole range); a flat image has no contrast.
    Image one = image_of(3, 1, [](int c, int) { return 10.0 + 10 * c; });
    one.contrastEnhancement(0.0);
    EXPECT_EQ(row_of(one), (std::vector<double>{0.0, 127.5, 255.0}));
    Image flat = filled(4, 1, 99.0);
    flat.contrastEnhancement(4.0);
    EXPECT_EQ(row_of(flat), std::vector<double>(4, 0.0));
}

TEST(DexlaEqualisation, FlatHistogramUnchangedTwoLevelsSpread) {
    // Every level 0 .. 255 four times: the mapping is the identity.
    const Image all = image_of(64, 16, [](int c, int r) { return (r * 64 + c) % 256; });
    Image eq = all;
    eq.histEqualization();
    EXPECT_TRUE(same(eq, all));

    // Half 0, half 100: the lower level stays 0, the upper becomes 255.
    Image two = image_of(16, 16, [](int, int r) { return r < 8 ? 0.0 : 100.0; });
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

TEST(Dexla, ResponseTablesFollowTheMeanOfTheInput) {
    // Half-size image: mid-grey with a 5 x 5 spot of level 1 (level 0 has no
    // dark response) at (20, 20) and one of 255 at (60, 40).
    const Image spots = image_of(100, 70, [](int c, int r) {
        if (std::abs(c - 20) <= 2 && std::abs(r - 20) <= 2) return 1.0;
        return std::abs(c - 60) <= 2 && std::abs(r - 40) <= 2 ? 255.0 : 128.0;
    });
    struct Case {
        unsigned char input_level;
        bool spotted;
        int x, y;
    };
    // Input mean <= 100: no dark table, the bright spot is found; >= 200: no
    // bright table, the dark spot; in between with nothing standing out: (0, 0).
    for (const Case& k :
         {Case{100, true, 120, 80}, Case{200, true, 40, 40}, Case{150, false, 0, 0}}) {
        Image half = k.spotted ? spots : filled(100, 70, 128.0);
        const Point p = half.Dexla(std::vector<unsigned char>(200 * 140, k.input_level), 0);
        EXPECT_EQ(p.x, k.x) << int{k.input_level};
        EXPECT_EQ(p.y, k.y) << int{k.input_level};
    }
}

TEST(VirpaDetector, FindsATexturedBlobAndNothingInAFlatImage) {
    // Tolerances: VIRPA a quarter, DEXLA half of the blob radius.
    for (const auto& k : testing::kBlobCases) {
        SCOPED_TRACE(k.w * 1000 + k.cx);
        const testing::GreyImage scene = testing::blob_scene(k.w, k.h, k.cx, k.cy, k.r);
        std::vector<double> vx(3, -5), vy(3, -5), dx(3, -5), dy(3, -5);
        ASSERT_EQ(virpa_dexla(scene.pix, k.w, k.h, 0, 1, vx, vy, dx, dy, 0, 0), 0);
        EXPECT_NEAR(vx[1], k.cx, k.r / 4.0);
        EXPECT_NEAR(vy[1], k.cy, k.r / 4.0);
        EXPECT_NEAR(dx[1], k.cx, k.r / 2.0);
        EXPECT_NEAR(dy[1], k.cy, k.r / 2.0);
        EXPECT_EQ(vx[0], -5);  // other slots untouched
        EXPECT_EQ(dy[2], -5);
    }
    // A flat image has no texture: VIRPA finds nothing.
    std::vector<double> vx(1, -5), vy(1, -5), dx(1, -5), dy(1, -5);
    const std::vector<unsigned char> flat(50 * 40, 128);
    ASSERT_EQ(virpa_dexla(flat, 50, 40, 0, 0, vx, vy, dx, dy, 0, 0), 0);
    EXPECT_EQ((std::array{vx[0], vy[0]}), (std::array{0.0, 0.0}));
}

}  // namespace
}  // namespace orva
