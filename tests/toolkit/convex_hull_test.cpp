// Convex hull: small sets with ties, collinear and repeated points as a
// table, and a circle of 500 points (beyond the initial vertex capacity).
#include "toolkit/convex_hull.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace orva {
namespace {

using Pairs = std::vector<std::pair<double, double>>;

TEST(ConvexHull, SmallSetsGiveTheExpectedVertices) {
    const struct {
        const char* what;
        std::vector<point> pts;
        Pairs want;
    } cases[] = {
        {"square with centre",
         {{0.5, 0.5}, {1, 1}, {0, 1}, {1, 0}, {0, 0}},
         {{0, 0}, {1, 0}, {1, 1}, {0, 1}}},
        {"square, every corner twice",
         {{1, 1}, {0, 1}, {0.5, 0.5}, {1, 0}, {0, 0}, {1, 1}, {0, 0}, {0, 1}, {1, 0}},
         {{0, 0}, {1, 0}, {1, 1}, {0, 1}}},
        {"collinear: only the pivot", {{3, 3}, {1, 1}, {4, 4}, {2, 2}, {5, 5}}, {{1, 1}}},
        {"points on an edge", {{0, 0}, {2, 0}, {4, 0}, {0, 4}, {1, 0}}, {{0, 0}, {4, 0}, {0, 4}}},
        {"one point repeated", std::vector<point>(6, point{2, 3}), {{2, 3}}},
        // (2, 1e-7) deviates from the x axis by far less than EPSILON in area.
        {"nearly collinear", {{0, 0}, {2, 1e-7}, {4, 0}, {2, 3}}, {{0, 0}, {4, 0}, {2, 3}}},
        {"three points copied as given", {{5, 1}, {0, 0}, {5, 1}}, {{5, 1}, {0, 0}, {5, 1}}},
        {"none", {}, {}},
    };
    for (auto c : cases) {
        polygon hull;
        ASSERT_EQ(convex_hull(c.pts, static_cast<int>(c.pts.size()), hull), 0) << c.what;
        Pairs got;
        for (int i = 0; i < hull.n; ++i) got.emplace_back(hull.p[i][X], hull.p[i][Y]);
        EXPECT_EQ(got, c.want) << c.what;
    }
}

TEST(ConvexHull, FiveHundredPointsOnACircleAreAllVertices) {
    // None in line with two others, in a caller's array with no spare entry,
    // beyond the initial vertex capacity; the hull turns left everywhere.
    std::vector<point> pts;
    for (int k = 0; k < 500; ++k) {
        const double a = 2.0 * M_PI * ((k * 37) % 500) / 500.0;
        pts.emplace_back(1000.0 * std::cos(a), 1000.0 * std::sin(a));
    }
    polygon hull;
    ASSERT_EQ(convex_hull(pts, 500, hull), 0);
    ASSERT_EQ(hull.n, 500);
    for (int i = 0; i < hull.n; ++i)
        EXPECT_TRUE(ccw(hull.p[i], hull.p[(i + 1) % 500], hull.p[(i + 2) % 500])) << i;
}

}  // namespace
}  // namespace orva
