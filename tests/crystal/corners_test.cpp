// Corner features (the 2DF detector): the selection's quicksort order of ties
// and greedy minimum-distance walk, no features in flat or tiny regions; the
// density's value ranges, first maximum and threshold; the cluster labels with
// their tie rules and limit; loop boxes skipped, refused or without density.
// (Whole runs are fixed by the golden check.)
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "crystal/corner_clusters.h"
#include "crystal/corner_features.h"
#include "crystal/feature_selection.h"
#include "support/images.h"

namespace orva {
namespace {

// Grey image with a checkerboard of cell-sized squares in [x0, x1) x [y0, y1).
std::vector<unsigned char> checker(int w, int h, int x0, int y0, int x1, int y1, int cell) {
    std::vector<unsigned char> img(static_cast<std::size_t>(w) * h, 120);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            img[static_cast<std::size_t>(y) * w + x] =
                (((x - x0) / cell + (y - y0) / cell) % 2) ? 230 : 20;
    return img;
}

TEST(CandidateSort, QuicksortOrderOfTies) {
    // Worked by hand: the middle element is the first pivot, the front part
    // is sorted after the back part when it is not smaller.
    std::vector<KLT_Candidate> list = {{0, 0, 5}, {1, 0, 3}, {2, 0, 5}, {3, 0, 3}, {4, 0, 5}};
    sort_candidates(list);
    std::vector<int> order;
    for (const auto& c : list) order.push_back(c.x);
    EXPECT_EQ(order, (std::vector<int>{0, 4, 2, 3, 1}));
}

TEST(CandidateSort, APrefixSortedOnDemandIsTheFullSortsPrefix) {
    std::mt19937 rng(3);
    for (int trial = 0; trial < 30; ++trial) {
        // Few distinct values: many ties, whose order the quicksort fixes.
        std::vector<KLT_Candidate> list(1 + rng() % 400);
        for (std::size_t k = 0; k < list.size(); ++k)
            list[k] = {static_cast<int>(k), 0, static_cast<int>(rng() % (1 + trial))};
        std::vector<KLT_Candidate> full = list;
        sort_candidates(full);
        SortedPrefix prefix(list);
        const std::size_t reach = rng() % (list.size() + 1);
        for (std::size_t k = 0; k < reach; ++k) ASSERT_EQ(prefix.at(k)->x, full[k].x) << trial;
        EXPECT_EQ(prefix.at(list.size()), nullptr);
    }
}

TEST(GreedySelection, KeepsMinimumDistanceAndEigenvalueFloor) {
    // mindist 5: the occupied square has half side 4.
    const std::vector<KLT_Candidate> sorted = {{10, 10, 100}, {12, 10, 90}, {15, 10, 80},
                                               {14, 14, 75},  {10, 14, 70}, {10, 15, 60},
                                               {30, 30, 4},   {40, 40, 5}};
    // (12, 10) and later (14, 14), (10, 14) are too close to the first; value
    // 4 is below the floor, 5 is not; the last slot stays unfilled.
    KLT_FeatureList fl = KLTCreateFeatureList(5);
    enforce_minimum_distance(sorted, fl, 50, 50, 5, 5);
    std::vector<std::array<float, 3>> got;
    for (const KLT_Feature& f : fl) got.push_back({f.x, f.y, float(f.val)});
    EXPECT_EQ(got, (std::vector<std::array<float, 3>>{
                       {10, 10, 100}, {15, 10, 80}, {10, 15, 60}, {40, 40, 5}, {-1, -1, -1}}));
    EXPECT_EQ(fl[4].aff_Axx, 1.0f);

    // Slots run out: the rest of the list is not looked at.
    fl = KLTCreateFeatureList(2);
    enforce_minimum_distance(sorted, fl, 50, 50, 5, 5);
    EXPECT_EQ(fl[1].x, 15.0f);

    // A floor below 1 is raised to 1.
    fl = KLTCreateFeatureList(2);
    enforce_minimum_distance(std::vector<KLT_Candidate>{{5, 5, 0}, {20, 20, 1}}, fl, 30, 30, 3, 0);
    EXPECT_EQ((std::array{fl[0].x, float(fl[1].val)}), (std::array{20.0f, -1.0f}));
}

TEST(GoodFeatures, TinyAndFlatRegionsGiveUnfilledSlots) {
    // A flat image has no value of at least 5; a region smaller than twice the
    // border has no candidates; a 20-wide region uses the smallest gradient
    // sigma and still selects inside its border.
    const std::vector<unsigned char> flat(60 * 60, 90);
    KLT_FeatureList fl = KLTCreateFeatureList(30);
    KLTSelectGoodFeatures(KLTCreateTrackingContext(60, 60, 60), flat, 60, 60, fl);
    for (const auto& f : fl) EXPECT_EQ(f.val, -1);

    const auto tiny = checker(12, 12, 0, 0, 12, 12, 3);
    fl = KLTCreateFeatureList(6);
    KLTSelectGoodFeatures(KLTCreateTrackingContext(12, 12, 12), tiny, 12, 12, fl);
    for (const auto& f : fl) EXPECT_EQ(f.val, -1);

    const auto small = checker(20, 40, 2, 2, 18, 38, 3);
    const KLT_TrackingContext tc = KLTCreateTrackingContext(40, 20, 20);
    fl = KLTCreateFeatureList(10);
    KLTSelectGoodFeatures(tc, small, 20, 40, fl);
    int found = 0;
    for (const auto& f : fl)
        if (f.val >= 0) {
            ++found;
            EXPECT_GE(f.x, tc.borderx);
            EXPECT_LT(f.x, 20 - tc.borderx);
        }
    EXPECT_GT(found, 0);

    // A buffer shorter than its sizes is not read.
    fl = KLTCreateFeatureList(3);
    KLTSelectGoodFeatures(tc, std::span<const unsigned char>(small.data(), 100), 20, 40, fl);
    for (const auto& f : fl) EXPECT_EQ(f.val, -1);
}

KLT_Feature feature(float x, float y, int val) {
    KLT_Feature f;
    f.x = x;
    f.y = y;
    f.val = val;
    return f;
}

TEST(CornerDensity, KernelOfOneSpacingIsNotKeptForAnother) {
    // The kernel of mindist 2, then of 1, then of 2 again: the first map again.
    const KLT_FeatureList fl = {feature(10, 12, 3), feature(20, 15, 9)};
    std::vector<double> first(40 * 40), other(40 * 40), again(40 * 40);
    ASSERT_EQ(add_feature_density(fl, 2, 40, 40, first), 0);
    ASSERT_EQ(add_feature_density(fl, 1, 40, 40, other), 0);
    ASSERT_EQ(add_feature_density(fl, 2, 40, 40, again), 0);
    EXPECT_NE(first, other);
    EXPECT_EQ(first, again);
    EXPECT_DOUBLE_EQ(first[19 + 14 * 40], 1.0);  // the kernel's centre, one pixel up and left
}

TEST(CornerDensity, EqualValuesOrNoSlotsGiveTwelve) {
    std::vector<double> density(30 * 30, 5.0);
    KLT_FeatureList fl = KLTCreateFeatureList(4);
    EXPECT_EQ(add_feature_density(fl, 3, 30, 30, density), 12);  // all unfilled
    for (auto& f : fl) f = feature(15, 15, 7);
    EXPECT_EQ(add_feature_density(fl, 3, 30, 30, density), 12);
    EXPECT_EQ(add_feature_density(KLT_FeatureList{}, 3, 30, 30, density), 12);
    // An all-zero map has no peak.
    int px = 0, py = 0;
    double peak = 0.0;
    EXPECT_FALSE(density_peak(std::vector<double>(30 * 30, 0.0), 30, 30, px, py, peak));
}

TEST(CornerDensity, PeakIsTheFirstMaximumAndThresholdClearsTheFrame) {
    const int imx = 6, imy = 5;
    std::vector<double> d(imx * imy, 1.0);
    d[1 * imx + 4] = 10.0;
    d[3 * imx + 2] = 10.0;
    d[0] = 9.0;
    d[2 * imx + 3] = 7.08;  // 255 * 0.708 = 180.54, above the threshold
    d[2 * imx + 2] = 7.07;  // 180.285, below
    int px = 0, py = 0;
    double peak = 0.0;
    ASSERT_TRUE(density_peak(d, imx, imy, px, py, peak));
    EXPECT_EQ((std::array{px, py}), (std::array{4, 1}));
    std::vector<int> b(imx * imy);
    threshold_density(d, peak, imx, imy, b);  // the frame is cleared
    EXPECT_EQ((std::array{b[0], b[1 * imx + 4], b[3 * imx + 2], b[2 * imx + 3], b[2 * imx + 2]}),
              (std::array{0, 255, 255, 255, 0}));
}

// Binary map with the listed pixels set to 255.
std::vector<int> binary(int imx, int imy, const std::vector<std::pair<int, int>>& set) {
    std::vector<int> b(imx * imy, 0);
    for (auto [x, y] : set) b[y * imx + x] = 255;
    return b;
}

TEST(CornerLabels, SeedsGrowAndTiesGoToTheLowerLabel) {
    const int imx = 20, imy = 12;
    // A bar of 3 is seeded at its last pixel and grown; a 2 x 2 block has no
    // pixel without a positive neighbour when scanned, so it stays unlabelled.
    std::vector<int> b = binary(
        imx, imy,
        {{2, 2}, {3, 2}, {4, 2}, {10, 5}, {11, 5}, {10, 6}, {11, 6}, {2, 8}, {3, 8}, {4, 8}});
    EXPECT_EQ(label_clusters(b, imx, imy), 2);
    EXPECT_EQ((std::array{b[2 * imx + 2], b[2 * imx + 3], b[8 * imx + 2], b[5 * imx + 10]}),
              (std::array{255, 255, 254, -1}));
    // Two bars of equal size: the lower label (the later one) wins.
    double cx = 0.0, cy = 0.0;
    ASSERT_TRUE(largest_cluster_centroid(b, imx, imy, cx, cy));
    EXPECT_EQ((std::array{cx, cy}), (std::array{3.0, 8.0}));

    // The larger cluster wins over the lower label.
    b = binary(imx, imy, {{2, 2}, {3, 2}, {4, 2}, {5, 2}, {6, 2}, {2, 8}, {3, 8}, {4, 8}});
    EXPECT_EQ(label_clusters(b, imx, imy), 2);
    ASSERT_TRUE(largest_cluster_centroid(b, imx, imy, cx, cy));
    EXPECT_EQ((std::array{cx, cy}), (std::array{4.0, 2.0}));

    // Only unlabelled blocks: no cluster.
    b = binary(imx, imy, {{10, 5}, {11, 5}, {10, 6}, {11, 6}});
    EXPECT_EQ(label_clusters(b, imx, imy), 0);
    EXPECT_FALSE(largest_cluster_centroid(b, imx, imy, cx, cy));
}

TEST(CornerLabels, MoreThan255SeedsStayWithinTheLabels) {
    // 19 x 19 isolated pixels: 361 seeds for 255 labels.
    const int imx = 60, imy = 60;
    std::vector<std::pair<int, int>> set;
    for (int y = 2; y < 58; y += 3)
        for (int x = 2; x < 58; x += 3) set.push_back({x, y});
    ASSERT_EQ(set.size(), 361u);
    std::vector<int> b = binary(imx, imy, set);
    EXPECT_EQ(label_clusters(b, imx, imy), 255);
    std::set<int> labels;
    for (int v : b) {
        EXPECT_GE(v, -1);
        EXPECT_LE(v, 255);
        if (v > 0) labels.insert(v);
    }
    EXPECT_EQ(labels.size(), 255u);
    // All clusters hold one pixel: label 1, the 255th seed in scan order, wins.
    double cx = 0.0, cy = 0.0;
    ASSERT_TRUE(largest_cluster_centroid(b, imx, imy, cx, cy));
    EXPECT_EQ((std::pair{int(cx), int(cy)}), set[254]);
}

// The labelling as first written: every growing pass goes through every row.
void label_every_row(std::vector<int>& b, int imx, int imy) {
    const int dx[8] = {-1, 0, 1, -1, 1, -1, 0, 1}, dy[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
    auto at = [&](int x, int y) -> int& { return b[static_cast<std::size_t>(y) * imx + x]; };
    int next = 255;
    for (int y = 1; y < imy - 1; ++y)
        for (int x = 1; x < imx - 1; ++x) {
            if (at(x, y) != 255) continue;
            bool positive = false;
            for (int k = 0; k < 8; ++k) positive = positive || at(x + dx[k], y + dy[k]) > 0;
            if (!positive) {
                at(x, y) = next >= 1 ? next-- : -1;
                continue;
            }
            at(x, y) = -1;
            for (int k = 0; k < 8; ++k)
                if (at(x + dx[k], y + dy[k]) > 0) at(x + dx[k], y + dy[k]) = -1;
        }
    for (bool converted = next < 255; converted;) {
        converted = false;
        for (int y = 1; y < imy - 1; ++y)
            for (int x = 1; x < imx - 1; ++x) {
                if (at(x, y) <= 0) continue;
                for (int k = 0; k < 8; ++k) at(x, y) = std::max(at(x, y), at(x + dx[k], y + dy[k]));
                for (int k = 0; k < 8; ++k)
                    if (at(x + dx[k], y + dy[k]) == -1) {
                        at(x + dx[k], y + dy[k]) = at(x, y);
                        converted = true;
                    }
            }
    }
}

TEST(CornerLabels, GrowingOnlyChangedRowsGivesTheSameLabels) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 40; ++trial) {
        const int imx = 8 + static_cast<int>(rng() % 60), imy = 8 + static_cast<int>(rng() % 60);
        // Blobs of random discs, some touching: seeds that meet while growing.
        std::vector<int> b(static_cast<std::size_t>(imx) * imy, 0);
        for (int d = static_cast<int>(rng() % 12); d >= 0; --d) {
            const int cx = static_cast<int>(rng() % imx), cy = static_cast<int>(rng() % imy);
            const int r = 1 + static_cast<int>(rng() % 9);
            for (int y = 1; y < imy - 1; ++y)
                for (int x = 1; x < imx - 1; ++x)
                    if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r && rng() % 8 != 0)
                        b[static_cast<std::size_t>(y) * imx + x] = 255;
        }
        std::vector<int> plain = b;
        label_every_row(plain, imx, imy);
        label_clusters(b, imx, imy);
        ASSERT_EQ(b, plain) << "trial " << trial;
    }
}

using test::geometry;

// Smooth grey background with seeded noise of +-2 grey levels.
ByteBuffer background(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-2, 2);
    ByteBuffer img(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img[static_cast<std::size_t>(y) * w + x] =
                static_cast<unsigned char>(100 + x / 8 + noise(rng));
    return img;
}

// Cells of cell pixels in [x0, x1) x [y0, y1), alternately bright and dark
// with seeded grey levels, so that no two corners are exactly alike.
void texture(ByteBuffer& img, int w, int x0, int y0, int x1, int y1, int cell) {
    std::mt19937 rng(static_cast<unsigned>(x0 * 131 + y0));
    std::uniform_int_distribution<int> bright(180, 250);
    std::uniform_int_distribution<int> dark(5, 70);
    const int ncx = (x1 - x0 + cell - 1) / cell;
    const int ncy = (y1 - y0 + cell - 1) / cell;
    std::vector<unsigned char> level(static_cast<std::size_t>(ncx) * ncy);
    for (int cy = 0; cy < ncy; ++cy)
        for (int cx = 0; cx < ncx; ++cx)
            level[cy * ncx + cx] =
                static_cast<unsigned char>((cx + cy) % 2 ? bright(rng) : dark(rng));
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            img[static_cast<std::size_t>(y) * w + x] =
                level[((y - y0) / cell) * ncx + (x - x0) / cell];
}

SHAPE_PARAMS loop_box(unsigned l, unsigned r, unsigned t, unsigned b) {
    SHAPE_PARAMS s;
    s.type = P050;
    s.box_l = l;
    s.box_r = r;
    s.box_t = t;
    s.box_b = b;
    return s;
}

TEST(CornerFeatures, NarrowTallRegionIsSkippedAndShorterOneProcessed) {
    const int w = 120, h = 120;
    ByteBuffer img = background(w, h, 5);
    texture(img, w, 12, 12, 38, 80, 3);
    const std::vector<ByteBuffer> images = {img, img, img, img};
    // Box rows 10..74 extend to 80: 30 x 70 (skipped); 10..56 extend to 60:
    // 30 x 50 (processed). Image 2 is empty, image 3 switched off.
    std::vector<SHAPE_PARAMS> shapes = {loop_box(10, 40, 10, 74), loop_box(10, 40, 10, 56),
                                        loop_box(10, 40, 10, 56), loop_box(10, 40, 10, 56)};
    shapes[2].type = NO_OBJECT;
    const int flags[4] = {1, 1, 1, 0};
    int x2[4] = {7, 7, 7, 7}, y2[4] = {7, 7, 7, 7};
    testing::internal::CaptureStderr();
    EXPECT_EQ(twodf_all(4, flags, geometry(w, h), images, shapes, x2, y2, nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\n Refining Images:   0 1");
    EXPECT_EQ(x2[0] + y2[0] + x2[2] + y2[2] + x2[3] + y2[3], 0);
    EXPECT_TRUE(x2[1] >= 10 && x2[1] < 40 && y2[1] >= 10 && y2[1] < 60) << x2[1] << "," << y2[1];

    // Below 10 pixels on either side is too small as well.
    shapes = {loop_box(10, 19, 10, 56), loop_box(10, 60, 10, 18)};
    testing::internal::CaptureStderr();
    EXPECT_EQ(twodf_all(2, flags, geometry(w, h), {img, img}, shapes, x2, y2, nullptr), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(x2[0] + x2[1], 0);
}

TEST(CornerFeatures, FlatRegionHasNoDensity) {
    // No feature at all: every slot holds -1, the values cannot be binned.
    const ByteBuffer flat(80 * 60, 128);
    double tx[1] = {5.0}, ty[1] = {5.0};
    EXPECT_EQ(twodf(flat, 80, 60, 0, tx, ty, 80), 12);
    EXPECT_EQ(tx[0] + ty[0], 0.0);

    // Through twodf_all the status is passed on and the result is (0, 0).
    const std::vector<ByteBuffer> images = {ByteBuffer(100 * 100, 128)};
    const std::vector<SHAPE_PARAMS> shapes = {loop_box(10, 90, 10, 80)};
    const int flags[1] = {1};
    int x2[1] = {3}, y2[1] = {3};
    testing::internal::CaptureStderr();
    EXPECT_EQ(twodf_all(1, flags, geometry(100, 100), images, shapes, x2, y2, nullptr), 12);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(x2[0] + y2[0], 0);
}

TEST(CornerFeatures, BadBoxesAndBuffersAreRefused) {
    const int w = 64, h = 64;
    ByteBuffer img = background(w, h, 9);
    texture(img, w, 10, 10, 50, 50, 4);
    // Box wider than the image, box upside down, image buffer too short.
    const std::vector<SHAPE_PARAMS> shapes = {loop_box(10, 70, 10, 50), loop_box(10, 50, 50, 10),
                                              loop_box(10, 50, 10, 50)};
    const std::vector<ByteBuffer> images = {img, img, ByteBuffer(100, 0)};
    const int flags[3] = {1, 1, 1};
    int x2[3] = {1, 1, 1}, y2[3] = {1, 1, 1};
    testing::internal::CaptureStderr();
    EXPECT_EQ(twodf_all(3, flags, geometry(w, h), images, shapes, x2, y2, nullptr), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("loop box of image 0"), std::string::npos);
    EXPECT_NE(err.find("loop box of image 2"), std::string::npos);
    EXPECT_EQ(x2[0] + y2[0] + x2[1] + y2[1] + x2[2] + y2[2], 0);

    // More images asked for than given: only the given ones are written.
    int x3[1] = {4}, y3[1] = {4};
    testing::internal::CaptureStderr();
    twodf_all(3, flags, geometry(w, h), images, shapes, x3, y3, nullptr);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(x3[0], 0);

    // twodf itself: index outside its result arrays, empty or short region.
    double tx[1] = {0}, ty[1] = {0};
    EXPECT_EQ(twodf(img, w, h, 1, tx, ty, w), 12);
    EXPECT_EQ(twodf(img, 0, h, 0, tx, ty, 0), 12);
    EXPECT_EQ(twodf(std::span<const unsigned char>(img.data(), 10), w, h, 0, tx, ty, w), 12);
}

}  // namespace
}  // namespace orva
