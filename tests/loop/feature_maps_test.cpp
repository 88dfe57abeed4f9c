// Pyramid reduction, level operators, scale merging and the byte feature map.
#include "loop/feature_maps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace orva {
namespace {

IMAGE geometry(unsigned int w, unsigned int h) {
    IMAGE im;
    im.width = w;
    im.height = h;
    im.size = static_cast<unsigned long>(w) * h;
    return im;
}

// Vertical step: columns below `at` get lo, the others hi.
std::vector<unsigned char> step(unsigned int w, unsigned int h, unsigned int at, unsigned char lo,
                                unsigned char hi) {
    std::vector<unsigned char> b(w * h);
    for (unsigned int y = 0; y < h; ++y)
        for (unsigned int x = 0; x < w; ++x) b[y * w + x] = x < at ? lo : hi;
    return b;
}

TEST(FeatureOperators, SobelAndSecondDerivativeOnAStepEdge) {
    auto img = step(6, 4, 3, 10, 50);
    std::vector<float> g(24, -7.0f);
    double rms = get_edges_1(6, 4, img, g);
    const std::vector<float> edges = {0, 0, 0,   0,   0, 0,  //
                                      0, 0, 160, 160, 0, 0,  //
                                      0, 0, 160, 160, 0, 0,  //
                                      0, 0, 0,   0,   0, 0};
    EXPECT_EQ(g, edges);
    EXPECT_DOUBLE_EQ(rms, std::sqrt(4.0 * 160 * 160 / 8.0));

    // The same edge lying horizontally responds through gy alone.
    std::vector<unsigned char> flat_t(24);
    for (unsigned int y = 0; y < 6; ++y)
        for (unsigned int x = 0; x < 4; ++x) flat_t[y * 4 + x] = y < 3 ? 10 : 50;
    std::vector<float> gt(24);
    EXPECT_DOUBLE_EQ(get_edges_1(4, 6, flat_t, gt), rms);
    EXPECT_EQ(gt[2 * 4 + 1], 160.0f);
    EXPECT_EQ(gt[3 * 4 + 2], 160.0f);

    rms = get_2nd_deriv_1(6, 4, img, g);
    const std::vector<float> deriv = {0, 0, 0,  0,  0, 0,  //
                                      0, 0, 80, 80, 0, 0,  //
                                      0, 0, 80, 80, 0, 0,  //
                                      0, 0, 0,  0,  0, 0};
    EXPECT_EQ(g, deriv);
    EXPECT_DOUBLE_EQ(rms, std::sqrt(4.0 * 80 * 80 / 8.0));
    // Lying horizontally both second differences respond: 80 + 80.
    EXPECT_DOUBLE_EQ(get_2nd_deriv_1(4, 6, flat_t, gt), std::sqrt(4.0 * 160 * 160 / 8.0));
    EXPECT_EQ(gt[2 * 4 + 1], 160.0f);
    EXPECT_EQ(gt[3 * 4 + 2], 160.0f);
    EXPECT_EQ(gt[1 * 4 + 1], 0.0f);
}

TEST(FeatureOperators, RidgesPeakOnAThinLineAndGoNegativeBesideIt) {
    std::vector<unsigned char> img(25, 0);
    for (unsigned int y = 0; y < 5; ++y) img[y * 5 + 2] = 100;
    std::vector<float> g(25, 3.0f);
    get_ridges_1(5, 5, img, g);
    for (unsigned int y = 0; y < 5; ++y)
        for (unsigned int x = 0; x < 5; ++x) {
            float expect = 0.0f;
            if (y >= 1 && y <= 3 && x == 2) expect = 1000.0f;
            if (y >= 1 && y <= 3 && (x == 1 || x == 3)) expect = -100.0f;
            EXPECT_EQ(g[y * 5 + x], expect) << x << "," << y;
        }
    // As a byte map: 255 on the line, the negative flanks clamped to 0.
    std::vector<unsigned char> line(16 * 16, 0), out(16 * 16, 77);
    for (unsigned int y = 0; y < 16; ++y) line[y * 16 + 8] = 100;
    get_feature(geometry(16, 16), line, out, 0, 1, 0);
    EXPECT_EQ(out[5 * 16 + 8], 255);
    EXPECT_EQ(out[5 * 16 + 7], 0);
    EXPECT_EQ(out[5 * 16 + 9], 0);
}

TEST(Subsampling, RoundsAndHandlesOddAndEvenLengths) {
    // Two rows each, to check the output stride.
    const std::vector<unsigned char> odd = {10, 20, 30, 40, 50,  //
                                            0,  1,  1,  0,  0};
    std::vector<unsigned char> out(4, 99);
    subsample2_h(5, 2, odd, out);
    EXPECT_EQ(out, (std::vector<unsigned char>{20, 40, 1, 0}));

    const std::vector<unsigned char> even = {10, 20, 30, 40, 50, 61,  //
                                             1,  0,  0,  0,  0,  2};
    out.assign(6, 99);
    subsample2_h(6, 2, even, out);
    EXPECT_EQ(out, (std::vector<unsigned char>{20, 40, 56, 0, 0, 1}));

    // Along columns: the same sequences stored column-wise, width 2.
    std::vector<unsigned char> col_odd(10), col_even(12);
    for (int i = 0; i < 5; ++i) {
        col_odd[i * 2] = odd[i];
        col_odd[i * 2 + 1] = odd[5 + i];
    }
    for (int i = 0; i < 6; ++i) {
        col_even[i * 2] = even[i];
        col_even[i * 2 + 1] = even[6 + i];
    }
    out.assign(4, 99);
    subsample2_v(2, 5, col_odd, out);
    EXPECT_EQ(out, (std::vector<unsigned char>{20, 1, 40, 0}));
    out.assign(6, 99);
    subsample2_v(2, 6, col_even, out);
    EXPECT_EQ(out, (std::vector<unsigned char>{20, 0, 40, 0, 56, 1}));

    // A single column or row has nothing to reduce.
    out.assign(2, 99);
    subsample2_h(1, 2, std::vector<unsigned char>{5, 6}, out);
    subsample2_v(2, 1, std::vector<unsigned char>{5, 6}, out);
    EXPECT_EQ(out, (std::vector<unsigned char>{99, 99}));
}

TEST(MergeScales, UpsamplesAlongTheStrongerDirectionAndKeepsTheMaximum) {
    const std::vector<float> coarse = {1, 2, 3, 4, 9, 6, 7, 8, 20};  // 3 x 3
    std::vector<float> fine(7 * 6, 0.0f);
    fine[2 * 7 + 2] = 100.0f;
    fine[5 * 7 + 6] = -1.0f;
    fine[0] = 3.0f;
    merge_scales(7, 6, fine, coarse);
    const std::vector<float> expect = {3.0f, 1.0f, 0.0f,   2.0f, 0.0f,   3.0f,  0.0f,  //
                                       1.0f, 1.0f, 3.25f,  2.0f, 4.25f,  3.0f,  0.0f,  //
                                       2.5f, 2.5f, 100.0f, 5.5f, 6.0f,   4.5f,  0.0f,  //
                                       4.0f, 4.0f, 6.5f,   9.0f, 9.25f,  6.0f,  0.0f,  //
                                       5.5f, 5.5f, 7.0f,   8.5f, 10.75f, 13.0f, 0.0f,  //
                                       0.0f, 0.0f, 0.0f,   0.0f, 0.0f,   0.0f,  0.0f};
    EXPECT_EQ(fine, expect);
}

TEST(GetFeature, LevelsAboveSixAreLimitedWithAWarning) {
    std::mt19937 rng(7);
    std::vector<unsigned char> img(64 * 64);
    for (auto& v : img) v = static_cast<unsigned char>(rng() & 0xff);
    IMAGE im = geometry(64, 64);
    std::vector<unsigned char> six(img.size()), seven(img.size());
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_feature(im, img, six, 1, 6, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_feature(im, img, seven, 1, 7, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\n Warning!\n Number of levels is limited to 6!");
    EXPECT_EQ(six, seven);
}

TEST(GetFeature, RefusesTinyImagesAndZeroLevels) {
    std::vector<unsigned char> img = step(7, 8, 3, 0, 200);
    std::vector<unsigned char> out(56, 77);
    testing::internal::CaptureStderr();
    get_feature(geometry(7, 8), img, out, 1, 3, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\n Warning!\n Size of ROI is too small  ");
    EXPECT_EQ(out, std::vector<unsigned char>(56, 77));
    img = step(8, 8, 3, 0, 200);
    out.assign(64, 77);
    get_feature(geometry(8, 8), img, out, 1, 0, 0);
    EXPECT_EQ(out, std::vector<unsigned char>(64, 77));
}

TEST(GetFeature, EightByEightHalvedComputesOnlyLevelZero) {
    // Half resolution 4 x 4 with a step between columns 1 and 2: the four
    // interior responses are equal, so each is normalised to 8 / rms * rms = 8.
    auto img = step(8, 8, 4, 0, 200);
    std::vector<unsigned char> out(64, 77);
    EXPECT_EQ(get_feature(geometry(8, 8), img, out, 1, 5, 1), 0);
    for (unsigned int y = 0; y < 8; ++y)
        for (unsigned int x = 0; x < 8; ++x) {
            bool interior = x >= 2 && x < 6 && y >= 2 && y < 6;
            EXPECT_EQ(out[y * 8 + x], interior ? 8 : 0) << x << "," << y;
        }
}

TEST(GetFeature, HalfResolutionTruncatesBlockMeansAndRoundsItsValues) {
    // Blocks 3, 3, 3, 2 along one column pair: their mean truncates to 2, a
    // vertical line on a zero level image. The ridge response there is
    // 8 * 2 + 2 * 2 = 20, written as it is; beside the line it is negative.
    const unsigned int W = 16, H = 16;
    std::vector<unsigned char> img(W * H, 0);
    for (unsigned int y = 0; y < H; ++y) {
        img[y * W + 8] = 3;
        img[y * W + 9] = (y % 2) ? 2 : 3;
    }
    std::vector<unsigned char> out(W * H, 77);
    EXPECT_EQ(get_feature(geometry(W, H), img, out, 0, 1, 1), 0);
    for (unsigned int y = 0; y < H; ++y)
        for (unsigned int x = 0; x < W; ++x) {
            const bool line = (x == 8 || x == 9) && y >= 2 && y < 14;
            ASSERT_EQ(out[y * W + x], line ? 20 : 0) << x << "," << y;
        }

    // Edges, 4 x 4 level columns 0, 0, 40, 10: Sobel responses 160 and 40 on
    // the interior columns, rms sqrt(13600); 8 / rms times them is 10.98 and
    // 2.74, rounded to 11 and 3.
    std::vector<unsigned char> steps = step(8, 8, 4, 0, 40);
    for (unsigned int y = 0; y < 8; ++y) steps[y * 8 + 6] = steps[y * 8 + 7] = 10;
    std::vector<unsigned char> edges(64, 77);
    EXPECT_EQ(get_feature(geometry(8, 8), steps, edges, 1, 1, 1), 0);
    for (unsigned int y = 0; y < 8; ++y)
        for (unsigned int x = 0; x < 8; ++x) {
            int want = 0;
            if (y >= 2 && y < 6) want = (x == 2 || x == 3) ? 11 : (x == 4 || x == 5) ? 3 : 0;
            ASSERT_EQ(edges[y * 8 + x], want) << x << "," << y;
        }
}

TEST(GetFeature, LevelBelowSixteenIsComputedButNotMerged) {
    // 40 x 40: levels 40, 20 and 10; the third ends the pyramid and takes no
    // part, so three levels give the two-level map, which differs from one.
    std::mt19937 rng(31);
    std::vector<unsigned char> img(40 * 40);
    for (auto& v : img) v = static_cast<unsigned char>(rng() % 256);
    IMAGE im = geometry(40, 40);
    std::vector<unsigned char> one(img.size()), two(img.size()), three(img.size());
    get_feature(im, img, one, 1, 1, 0);
    get_feature(im, img, two, 1, 2, 0);
    get_feature(im, img, three, 1, 3, 0);
    EXPECT_EQ(three, two);
    EXPECT_NE(two, one);
}

TEST(GetFeature, FlatImageGivesZeroNotNaN) {
    std::vector<unsigned char> img(32 * 32, 123);
    for (int mode : {1, 2}) {
        SCOPED_TRACE(mode);
        std::vector<unsigned char> out(img.size(), 77);
        get_feature(geometry(32, 32), img, out, mode, 3, 1);
        EXPECT_EQ(out, std::vector<unsigned char>(img.size(), 0));
        // Full resolution: the maximum is 0, so the output is left as it was.
        out.assign(img.size(), 77);
        get_feature(geometry(32, 32), img, out, mode, 3, 0);
        EXPECT_EQ(out, std::vector<unsigned char>(img.size(), 77));
    }
}

TEST(GetFeature, FullResolutionScalesTheStrongestEdgeTo255) {
    auto img = step(32, 32, 16, 20, 220);
    std::vector<unsigned char> out(img.size(), 77);
    get_feature(geometry(32, 32), img, out, 1, 1, 0);
    for (unsigned int y = 0; y < 32; ++y)
        for (unsigned int x = 0; x < 32; ++x) {
            bool edge = (x == 15 || x == 16) && y >= 1 && y <= 30;
            ASSERT_EQ(out[y * 32 + x], edge ? 255 : 0) << x << "," << y;
        }
    // Two levels: the coarse edge, upsampled, widens the response; the fine
    // edge stays the maximum.
    get_feature(geometry(32, 32), img, out, 1, 2, 0);
    EXPECT_EQ(out[10 * 32 + 15], 255);
    EXPECT_EQ(out[10 * 32 + 16], 255);
    EXPECT_GT(out[10 * 32 + 14], 0);
    EXPECT_EQ(out[10 * 32 + 5], 0);
}

TEST(GetFeature, HalfResolutionOddWidthLeavesLastColumn) {
    auto img = step(33, 33, 16, 20, 220);
    std::vector<unsigned char> out(img.size(), 77);
    get_feature(geometry(33, 33), img, out, 2, 2, 1);
    for (unsigned int y = 0; y < 33; ++y) {
        EXPECT_EQ(out[y * 33 + 32], 77) << y;
        if (y < 32) {
            EXPECT_NE(out[y * 33 + 31], 77) << y;
        }
    }
    for (unsigned int x = 0; x < 33; ++x) EXPECT_EQ(out[32 * 33 + x], 77) << x;
}

TEST(FeatureMap, SharedBuffersGiveTheSameMapsAsFreshOnes) {
    // One FeatureWork through images of changing size, mode, level count and
    // resolution, larger before smaller and back: stale buffer contents must
    // never show.
    struct Call {
        unsigned w, h;
        int mode, levels, sub;
    };
    const std::vector<Call> calls = {{64, 48, 1, 6, 0}, {20, 30, 2, 4, 1}, {64, 48, 1, 6, 0},
                                     {33, 17, 0, 3, 0}, {90, 70, 2, 5, 1}, {16, 16, 1, 2, 0},
                                     {90, 70, 1, 6, 0}};
    std::mt19937 rng(55);
    FeatureWork work;
    for (std::size_t c = 0; c < calls.size(); ++c) {
        const Call& k = calls[c];
        std::vector<unsigned char> img(k.w * k.h);
        for (auto& v : img) v = static_cast<unsigned char>(rng() % 256);
        std::vector<unsigned char> fresh(img.size(), 3), shared(img.size(), 3);
        ASSERT_EQ(get_feature(geometry(k.w, k.h), img, fresh, k.mode, k.levels, k.sub), 0);
        ASSERT_EQ(get_feature(geometry(k.w, k.h), img, shared, k.mode, k.levels, k.sub, work), 0);
        EXPECT_EQ(shared, fresh) << "call " << c;
    }
}

}  // namespace
}  // namespace orva
