// Result conversion of the version-2.3 method: coordinates, phase, diameter,
// reliability and cross positions.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "v23/conventional_run.h"

namespace orva {
namespace {

using namespace conventional;

TEST(V23Result, InputCoordinatesByLoopPosition) {
    const int border[4] = {1, 7, 5, 2};  // bottom, top, left, right
    struct Case {
        int loop_pos, x, y;
    };
    // Cleaned image 30 x 20, position (4, 6).
    for (const Case c : {Case{0, 4 + 5, 6 + 7}, Case{1, 4 + 5, 20 - 1 - 6 + 7},
                         Case{2, 20 - 1 - 6 + 5, 4 + 7}, Case{3, 6 + 5, 30 - 1 - 4 + 7}}) {
        int x = 4, y = 6;
        to_input_coordinates(c.loop_pos, 30, 20, border, true, x, y);
        EXPECT_EQ(x, c.x) << c.loop_pos;
        EXPECT_EQ(y, c.y) << c.loop_pos;
    }
    // Negative positions move away from the image, and no borders without images.
    int x = -1, y = -3;
    to_input_coordinates(0, 30, 20, border, true, x, y);
    EXPECT_EQ(x, -1 - 5);
    EXPECT_EQ(y, -3 - 7);
    x = -1, y = 20;
    to_input_coordinates(0, 30, 20, border, false, x, y);
    EXPECT_EQ(x, -1);
    EXPECT_EQ(y, 20);
    to_input_coordinates(1, 30, 20, border, false, x, y);
    EXPECT_EQ(y, -1);
}

TEST(V23Result, PhaseRange) {
    EXPECT_EQ(normalised_phase(-180.0, 5.0), 180.0);
    EXPECT_EQ(normalised_phase(190.0, 5.0), -170.0);
    EXPECT_EQ(normalised_phase(180.0, 5.0), 180.0);
    EXPECT_EQ(normalised_phase(-0.5, 5.0), -0.5);  // the result then floors it to -1
    EXPECT_EQ(normalised_phase(77.0, 0.99), 0.0);
    EXPECT_EQ(normalised_phase(77.0, 1.0), 77.0);
}

TEST(V23Result, DiameterAndReliability) {
    std::vector<int> w = {30, 0, 12, 50, 7};
    EXPECT_EQ(object_diameter(w, 4), 12);  // the fifth entry is not an image
    EXPECT_EQ(w[0], 50);
    std::vector<int> one = {50, 20};
    EXPECT_EQ(object_diameter(one, 1), 0);
    std::vector<int> lone = {0, 40, 0};
    EXPECT_EQ(object_diameter(lone, 3), 0);  // only the largest is positive
    std::vector<int> neg = {-1, 5, -2, 9};
    EXPECT_EQ(object_diameter(neg, 4), 5);

    // d = 20, sigma = 5: about 0.7385.
    const double r = v23_reliability(20, 5.0);
    EXPECT_NEAR(r, 0.7385, 5e-4);
    EXPECT_EQ(reliability_percent(r), 73);
    EXPECT_EQ(v23_reliability(20, 0.0), -1.0);
    EXPECT_EQ(reliability_percent(-1.0), -1);
    EXPECT_EQ(v23_reliability(0, 3.0), 0.0);
    EXPECT_GT(v23_reliability(200, 1.0), 0.9999);
    EXPECT_EQ(reliability_percent(0.999), 99);
}

TEST(V23Result, CrossPositions) {
    const int border[4] = {1, 7, 5, 2};
    PARAMS mp;
    mp.x0 = 40.2;
    mp.radius = 10.0;
    mp.phi0 = 90.0;
    int x = 0, y = 0;
    // At 90 degrees the crystal is at x0 + radius: m = floor(50.7) = 50.
    cross_position(0, 100, border, mp, 90.0, 45, 33, x, y);
    EXPECT_EQ(x, 50 + 5);
    EXPECT_EQ(y, 33);
    cross_position(1, 100, border, mp, 270.0, 45, 33, x, y);  // m = floor(30.7)
    EXPECT_EQ(x, 30 + 5);
    cross_position(2, 100, border, mp, 90.0, 45, 33, x, y);
    EXPECT_EQ(x, 45);
    EXPECT_EQ(y, 50 + 7);
    cross_position(3, 100, border, mp, 90.0, 45, 33, x, y);
    EXPECT_EQ(x, 45);
    EXPECT_EQ(y, 100 - 1 - 50 + 7);
}

}  // namespace
}  // namespace orva
