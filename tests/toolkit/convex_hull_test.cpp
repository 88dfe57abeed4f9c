#include "toolkit/convex_hull.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace orva {
namespace {

std::vector<std::pair<double, double>> vertices(const polygon& h) {
    std::vector<std::pair<double, double>> v;
    for (int i = 0; i < h.n; ++i) v.emplace_back(h.p[i][X], h.p[i][Y]);
    return v;
}

double polygon_area(const polygon& h) {
    double a = 0.0;
    for (int i = 0; i < h.n; ++i) {
        const point& p = h.p[i];
        const point& q = h.p[(i + 1) % h.n];
        a += p[X] * q[Y] - q[X] * p[Y];
    }
    return a / 2.0;
}

using Pairs = std::vector<std::pair<double, double>>;

TEST(ConvexHull, SmallSetsGiveTheExpectedVertices) {
    struct Case {
        const char* what;
        std::vector<point> pts;
        Pairs want;
    };
    const Case cases[] = {
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
    for (Case c : cases) {
        polygon hull;
        ASSERT_EQ(convex_hull(c.pts, static_cast<int>(c.pts.size()), hull), 0) << c.what;
        EXPECT_EQ(vertices(hull), c.want) << c.what;
        if (hull.n > 3) {
            EXPECT_GT(polygon_area(hull), 0.0) << c.what;
        }
    }
}

// Every input point lies inside or on the hull, and the hull turns left at
// every vertex.
void expect_convex_cover(const polygon& hull, const std::vector<point>& pts) {
    ASSERT_GE(hull.n, 3);
    for (int i = 0; i < hull.n; ++i) {
        const point& a = hull.p[i];
        const point& b = hull.p[(i + 1) % hull.n];
        const point& c = hull.p[(i + 2) % hull.n];
        EXPECT_TRUE(ccw(a, b, c)) << i;
        for (const point& q : pts) ASSERT_FALSE(cw(a, b, q)) << q[X] << " " << q[Y];
    }
}

TEST(ConvexHull, KeepsMoreThanTwoHundredVertices) {
    // 500 points on a circle, none in line with two others, in a caller's
    // array with no spare entry.
    std::vector<point> pts;
    for (int k = 0; k < 500; ++k) {
        const double a = 2.0 * M_PI * ((k * 37) % 500) / 500.0;
        pts.emplace_back(1000.0 * std::cos(a), 1000.0 * std::sin(a));
    }
    const auto original = pts;
    polygon hull;
    ASSERT_EQ(convex_hull(pts, 500, hull), 0);
    EXPECT_EQ(hull.n, 500);
    ASSERT_GE(hull.p.size(), 500u);
    expect_convex_cover(hull, original);
}

TEST(ConvexHull, RandomCloudsAreCovered) {
    std::mt19937 rng(31337);
    std::uniform_int_distribution<int> coord(0, 40);  // integer grid: many ties
    for (int trial = 0; trial < 50; ++trial) {
        std::vector<point> pts;
        for (int k = 0; k < 4 + trial * 7; ++k) pts.emplace_back(coord(rng), coord(rng));
        const auto original = pts;
        polygon hull;
        ASSERT_EQ(convex_hull(pts, static_cast<int>(pts.size()), hull), 0);
        expect_convex_cover(hull, original);
    }
}

}  // namespace
}  // namespace orva
