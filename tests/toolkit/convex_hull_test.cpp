// Convex hull: small sets with ties, collinear and repeated points as a table;
// random clouds and a circle of 500 points (beyond the initial vertex
// capacity) covered by a hull that turns left at every vertex.
#include "toolkit/convex_hull.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
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

TEST(ConvexHull, CloudsAreCoveredByALeftTurningHull) {
    std::mt19937 rng(31337);
    std::vector<std::vector<point>> sets;
    for (int trial = 0; trial < 50; ++trial) {  // integer grid: many ties
        sets.emplace_back();
        for (int k = 0; k < 4 + trial * 7; ++k) {
            const double x = rng() % 41;
            sets.back().emplace_back(x, rng() % 41);
        }
    }
    // 500 points on a circle, none in line with two others, in a caller's
    // array with no spare entry: all are vertices.
    sets.emplace_back();
    for (int k = 0; k < 500; ++k) {
        const double a = 2.0 * M_PI * ((k * 37) % 500) / 500.0;
        sets.back().emplace_back(1000.0 * std::cos(a), 1000.0 * std::sin(a));
    }
    for (const std::vector<point>& original : sets) {
        std::vector<point> pts = original;
        polygon hull;
        ASSERT_EQ(convex_hull(pts, static_cast<int>(pts.size()), hull), 0);
        ASSERT_GE(hull.n, 3);
        if (original.size() == 500) {
            EXPECT_EQ(hull.n, 500);
        }
        for (int i = 0; i < hull.n; ++i) {
            const point& a = hull.p[i];
            const point& b = hull.p[(i + 1) % hull.n];
            EXPECT_TRUE(ccw(a, b, hull.p[(i + 2) % hull.n])) << i;
            for (const point& q : original) {
                ASSERT_FALSE(cw(a, b, q)) << q[X] << " " << q[Y];
            }
        }
    }
}

}  // namespace
}  // namespace orva
