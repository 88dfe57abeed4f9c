#include "toolkit/outliers.h"

#include <gtest/gtest.h>

#include <vector>

namespace orva {
namespace {

std::vector<double> weights_of(const std::vector<double>& values, double initial = 1.0) {
    std::vector<double> w(values.size(), initial);
    outlier_detection(static_cast<int>(values.size()), values, w, stdout);
    return w;
}

TEST(OutlierDetection, FarValuesAboveAnEvenSampleAreCut) {
    // Twelve evenly spaced values and one far value placed among them.
    std::vector<double> v = {3, 1, 7, 5, 100, 2, 12, 4, 6, 8, 9, 10, 11};
    std::vector<double> want(v.size(), 1.0);
    want[4] = 0.0;
    EXPECT_EQ(weights_of(v, 0.5), want);

    // Eleven plus one.
    v = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 60};
    want.assign(v.size(), 1.0);
    want[11] = 0.0;
    EXPECT_EQ(weights_of(v), want);

    // Two high values: the lower gap (20) is cut, as the top gap (22) is not
    // twice the next smaller one; everything from the cut value up goes.
    v = {52, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 30};
    want.assign(v.size(), 1.0);
    want[0] = want[11] = 0.0;
    EXPECT_EQ(weights_of(v), want);
}

TEST(OutlierDetection, LargeGapInTheLowerTwoThirdsIsNeverACut) {
    std::vector<double> v = {0, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110};
    EXPECT_EQ(weights_of(v, 0.5), std::vector<double>(v.size(), 1.0));
    // A low outlier is not looked for either.
    v = {-500, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110};
    EXPECT_EQ(weights_of(v), std::vector<double>(v.size(), 1.0));
}

TEST(OutlierDetection, GapMustReachNineMedianGaps) {
    // Median gap 5, top gap 45: exactly nine medians is enough.
    std::vector<double> v = {0, 0, 0, 0, 0, 0, 5, 10, 15, 20, 25, 70};
    std::vector<double> want(v.size(), 1.0);
    want[11] = 0.0;
    EXPECT_EQ(weights_of(v), want);

    // The sorted gap at N/2 is 0, so the median gap is the first nonzero one
    // after it (5); a top gap of 44 is then kept.
    v = {0, 0, 0, 0, 0, 0, 0, 5, 10, 15, 20, 64};
    EXPECT_EQ(weights_of(v), std::vector<double>(v.size(), 1.0));
    v = {0, 0, 0, 0, 0, 0, 0, 5, 10, 15, 20, 65};
    want.assign(v.size(), 1.0);
    want[11] = 0.0;
    EXPECT_EQ(weights_of(v), want);
}

TEST(OutlierDetection, EqualLargestGapsResolveInTheHeapSortOrder) {
    // Sorted 0..8, 18, 28, 29: two gaps of 10 (below 18 and below 28). The
    // largest is not twice the next (equal) one; the second largest is cut.
    // The heap scheme ranks the gap below 28 second largest, so 18 stays; a
    // stable ranking would cut from 18.
    std::vector<double> v = {28, 1, 18, 3, 29, 5, 0, 7, 8, 2, 4, 6};
    std::vector<double> want(v.size(), 1.0);
    want[0] = want[4] = 0.0;
    EXPECT_EQ(weights_of(v, 0.5), want);
}

TEST(OutlierDetection, SmallOrFlatSamples) {
    // N <= 5: never an outlier, every weight written.
    std::vector<double> v = {1, 2, 3, 4, 1000};
    EXPECT_EQ(weights_of(v, 0.5), std::vector<double>(v.size(), 1.0));
    // All equal: the caller's weights stand.
    v.assign(9, 4.25);
    EXPECT_EQ(weights_of(v, 0.5), std::vector<double>(v.size(), 0.5));
    v = {7.0};
    EXPECT_EQ(weights_of(v, 0.5), std::vector<double>(1, 0.5));
    std::vector<double> none;
    outlier_detection(0, none, none, stdout);
}

TEST(OutlierDetection, HugeValuesWithoutACutStayInliers) {
    // s(N-1) + 1.0 rounds to s(N-1) here; no value may be dropped for that.
    std::vector<double> v = {1e17, 2e17, 3e17, 4e17, 5e17, 6e17, 7e17, 8e17};
    EXPECT_EQ(weights_of(v, 0.5), std::vector<double>(v.size(), 1.0));
}

}  // namespace
}  // namespace orva
