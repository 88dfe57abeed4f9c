// Corner-feature density and its clusters: value ranges that cannot be
// binned, the first maximum as peak, the threshold, and the labelling with
// its tie rules and label limit. (Whole runs are fixed by the golden check.)
#include "crystal/corner_clusters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

namespace orva {
namespace {

KLT_Feature feature(float x, float y, int val) {
    KLT_Feature f;
    f.x = x;
    f.y = y;
    f.val = val;
    return f;
}

TEST(CornerDensity, EqualValuesOrNoSlotsGiveTwelve) {
    std::vector<double> density(30 * 30, 5.0);
    KLT_FeatureList fl = KLTCreateFeatureList(4);
    EXPECT_EQ(add_feature_density(fl, 3, 30, 30, density), 12);  // all unfilled
    for (auto& f : fl) f = feature(15, 15, 7);
    EXPECT_EQ(add_feature_density(fl, 3, 30, 30, density), 12);
    EXPECT_EQ(add_feature_density(KLT_FeatureList{}, 3, 30, 30, density), 12);
    // An all-zero map has no peak.
    std::vector<double> zero(30 * 30, 0.0);
    int px = 0;
    int py = 0;
    double peak = 0.0;
    EXPECT_FALSE(density_peak(zero, 30, 30, px, py, peak));
}

TEST(CornerDensity, PeakIsTheFirstMaximumAndThresholdClearsTheFrame) {
    const int imx = 6;
    const int imy = 5;
    std::vector<double> d(imx * imy, 1.0);
    d[1 * imx + 4] = 10.0;
    d[3 * imx + 2] = 10.0;
    d[0] = 9.0;
    d[2 * imx + 3] = 7.08;  // 255 * 0.708 = 180.54, above the threshold
    d[2 * imx + 2] = 7.07;  // 180.285, below
    int px = 0;
    int py = 0;
    double peak = 0.0;
    ASSERT_TRUE(density_peak(d, imx, imy, px, py, peak));
    EXPECT_EQ(px, 4);
    EXPECT_EQ(py, 1);
    std::vector<int> b(imx * imy);
    threshold_density(d, peak, imx, imy, b);
    EXPECT_EQ(b[0], 0);  // frame cleared
    EXPECT_EQ(b[1 * imx + 4], 255);
    EXPECT_EQ(b[3 * imx + 2], 255);
    EXPECT_EQ(b[2 * imx + 3], 255);
    EXPECT_EQ(b[2 * imx + 2], 0);
}

// Binary map with the listed pixels set to 255.
std::vector<int> binary(int imx, int imy, const std::vector<std::pair<int, int>>& set) {
    std::vector<int> b(imx * imy, 0);
    for (auto [x, y] : set) b[y * imx + x] = 255;
    return b;
}

TEST(CornerLabels, SeedsGrowAndTiesGoToTheLowerLabel) {
    const int imx = 20;
    const int imy = 12;
    // A bar of 3 is seeded at its last pixel and grown; a 2 x 2 block has no
    // pixel without a positive neighbour when scanned, so it stays unlabelled.
    std::vector<int> b = binary(
        imx, imy,
        {{2, 2}, {3, 2}, {4, 2}, {10, 5}, {11, 5}, {10, 6}, {11, 6}, {2, 8}, {3, 8}, {4, 8}});
    EXPECT_EQ(label_clusters(b, imx, imy), 2);
    EXPECT_EQ(b[2 * imx + 2], 255);
    EXPECT_EQ(b[2 * imx + 3], 255);
    EXPECT_EQ(b[8 * imx + 2], 254);
    EXPECT_EQ(b[5 * imx + 10], -1);
    // Two bars of equal size: the lower label (the later one) wins.
    double cx = 0.0;
    double cy = 0.0;
    ASSERT_TRUE(largest_cluster_centroid(b, imx, imy, cx, cy));
    EXPECT_EQ(cx, 3.0);
    EXPECT_EQ(cy, 8.0);

    // The larger cluster wins over the lower label.
    b = binary(imx, imy, {{2, 2}, {3, 2}, {4, 2}, {5, 2}, {6, 2}, {2, 8}, {3, 8}, {4, 8}});
    EXPECT_EQ(label_clusters(b, imx, imy), 2);
    ASSERT_TRUE(largest_cluster_centroid(b, imx, imy, cx, cy));
    EXPECT_EQ(cx, 4.0);
    EXPECT_EQ(cy, 2.0);

    // Only unlabelled blocks: no cluster.
    b = binary(imx, imy, {{10, 5}, {11, 5}, {10, 6}, {11, 6}});
    EXPECT_EQ(label_clusters(b, imx, imy), 0);
    EXPECT_FALSE(largest_cluster_centroid(b, imx, imy, cx, cy));
}

TEST(CornerLabels, MoreThan255SeedsStayWithinTheLabels) {
    // 19 x 19 isolated pixels: 361 seeds for 255 labels.
    const int imx = 60;
    const int imy = 60;
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
    double cx = 0.0;
    double cy = 0.0;
    ASSERT_TRUE(largest_cluster_centroid(b, imx, imy, cx, cy));
    EXPECT_EQ(cx, set[254].first);
    EXPECT_EQ(cy, set[254].second);
}

}  // namespace
}  // namespace orva
