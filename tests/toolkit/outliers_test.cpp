#include "toolkit/outliers.h"

#include <gtest/gtest.h>

#include <vector>

namespace orva {
namespace {

TEST(OutlierDetection, CutsOnlyLargeGapsInTheUpperThird) {
    struct Case {
        const char* what;
        std::vector<double> values;
        std::vector<int> cut;  // indices whose weight becomes 0
        double initial = 1.0;  // the caller's weights, overwritten unless all values are equal
    };
    const Case cases[] = {
        {"one far value among twelve", {3, 1, 7, 5, 100, 2, 12, 4, 6, 8, 9, 10, 11}, {4}, 0.5},
        {"eleven plus one", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 60}, {11}},
        // The top gap (22) is not twice the next one (20): cut from 30 up.
        {"two high values", {52, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 30}, {0, 11}},
        {"gap in the lower two thirds",
         {0, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110},
         {},
         0.5},
        {"low outlier", {-500, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110}, {}},
        {"gap of exactly nine median gaps", {0, 0, 0, 0, 0, 0, 5, 10, 15, 20, 25, 70}, {11}},
        // The sorted gap at N/2 is 0: the median gap is the next nonzero one (5).
        {"gap 44 of median 5", {0, 0, 0, 0, 0, 0, 0, 5, 10, 15, 20, 64}, {}},
        {"gap 45 of median 5", {0, 0, 0, 0, 0, 0, 0, 5, 10, 15, 20, 65}, {11}},
        // Sorted 0..8, 18, 28, 29: two gaps of 10. The heap scheme ranks the
        // gap below 28 second largest, so 18 stays; a stable ranking would cut it.
        {"equal largest gaps", {28, 1, 18, 3, 29, 5, 0, 7, 8, 2, 4, 6}, {0, 4}, 0.5},
        {"five values", {1, 2, 3, 4, 1000}, {}, 0.5},
        // s(N-1) + 1.0 rounds to s(N-1) here; no value may be dropped for that.
        {"huge values", {1e17, 2e17, 3e17, 4e17, 5e17, 6e17, 7e17, 8e17}, {}, 0.5},
    };
    for (const Case& c : cases) {
        std::vector<double> w(c.values.size(), c.initial);
        outlier_detection(static_cast<int>(c.values.size()), c.values, w, stdout);
        std::vector<double> want(c.values.size(), 1.0);
        for (int i : c.cut) want[i] = 0.0;
        EXPECT_EQ(w, want) << c.what;
    }
}

TEST(OutlierDetection, FlatSamplesKeepTheCallersWeights) {
    for (std::size_t n : {9u, 1u}) {
        const std::vector<double> v(n, 4.25);
        std::vector<double> w(n, 0.5);
        outlier_detection(static_cast<int>(n), v, w, stdout);
        EXPECT_EQ(w, std::vector<double>(n, 0.5));
    }
    std::vector<double> none;
    outlier_detection(0, none, none, stdout);
}

}  // namespace
}  // namespace orva
