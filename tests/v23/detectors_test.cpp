// The version-2.3 detectors' known answers: TELKU (contrast stretch, the
// clustering of grid maxima, whole runs on synthetic scenes) and VIRPA and
// DEXLA (an overfull level's equalisation, the DEXLA response tables, whole
// runs). (Transforms and smoothing of whole runs are fixed by the golden check.)
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include "v23/telku.h"
#include "v23/telku_clusters.h"
#include "v23/telku_convolution.h"
#include "v23/virpa.h"
#include "v23/virpa_image.h"
#include "v23_images.h"

namespace orva {
namespace {

using testing::GreyImage;
using Bytes = std::vector<unsigned char>;

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

// mx columns by my rows, pixel (c, r) = f(c, r).
Image image_of(int mx, int my, const std::function<double(int, int)>& f) {
    Image im(mx, my);
    for (int r = 0; r < my; ++r)
        for (int c = 0; c < mx; ++c) im.pixel[r][c] = f(c, r);
    return im;
}

Image filled(int mx, int my, double v) {
    return image_of(mx, my, [v](int, int) { return v; });
}

TEST(DexlaEqualisation, AnOverfullLevelEndsAtTheTop) {
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
    // Input mean <= 100: no dark table, the bright spot is found; >= 200: no
    // bright table, the dark spot; in between with nothing standing out: (0, 0).
    for (const auto& [level, spotted, x, y] :
         {std::array{100, 1, 120, 80}, {200, 1, 40, 40}, {150, 0, 0, 0}}) {
        Image half = spotted ? spots : filled(100, 70, 128.0);
        const Point p =
            half.Dexla(std::vector<unsigned char>(200 * 140, static_cast<unsigned char>(level)), 0);
        EXPECT_EQ((std::array{p.x, p.y}), (std::array{x, y})) << level;
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
        EXPECT_EQ(vx[0] + dy[2], -10);  // other slots untouched
    }
    // A flat image has no texture: VIRPA finds nothing.
    std::vector<double> vx(1, -5), vy(1, -5), dx(1, -5), dy(1, -5);
    const std::vector<unsigned char> flat(50 * 40, 128);
    ASSERT_EQ(virpa_dexla(flat, 50, 40, 0, 0, vx, vy, dx, dy, 0, 0), 0);
    EXPECT_EQ((std::array{vx[0], vy[0]}), (std::array{0.0, 0.0}));
}

}  // namespace
}  // namespace orva
