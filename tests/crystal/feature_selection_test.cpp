// Good-feature selection: the quicksort's order of ties, the greedy
// minimum-distance walk, and no features in flat or tiny regions.
#include "crystal/feature_selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "crystal/corner_features.h"

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

TEST(GreedySelection, KeepsMinimumDistanceAndEigenvalueFloor) {
    // mindist 5: the occupied square has half side 4.
    const std::vector<KLT_Candidate> sorted = {{10, 10, 100}, {12, 10, 90}, {15, 10, 80},
                                               {14, 14, 75},  {10, 14, 70}, {10, 15, 60},
                                               {30, 30, 4},   {40, 40, 5}};
    KLT_FeatureList fl = KLTCreateFeatureList(5);
    enforce_minimum_distance(sorted, fl, 50, 50, 5, 5);
    EXPECT_EQ(fl[0].x, 10.0f);
    EXPECT_EQ(fl[0].val, 100);
    EXPECT_EQ(fl[1].x, 15.0f);  // (12, 10) and later (14, 14), (10, 14) are too close
    EXPECT_EQ(fl[2].y, 15.0f);
    EXPECT_EQ(fl[3].x, 40.0f);  // value 4 is below the floor, 5 is not
    EXPECT_EQ(fl[3].val, 5);
    EXPECT_EQ(fl[4].x, -1.0f);
    EXPECT_EQ(fl[4].y, -1.0f);
    EXPECT_EQ(fl[4].val, -1);
    EXPECT_EQ(fl[4].aff_Axx, 1.0f);

    // Slots run out: the rest of the list is not looked at.
    fl = KLTCreateFeatureList(2);
    enforce_minimum_distance(sorted, fl, 50, 50, 5, 5);
    EXPECT_EQ(fl[1].x, 15.0f);

    // A floor below 1 is raised to 1.
    const std::vector<KLT_Candidate> weak = {{5, 5, 0}, {20, 20, 1}};
    fl = KLTCreateFeatureList(2);
    enforce_minimum_distance(weak, fl, 30, 30, 3, 0);
    EXPECT_EQ(fl[0].x, 20.0f);
    EXPECT_EQ(fl[1].val, -1);
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

}  // namespace
}  // namespace orva
