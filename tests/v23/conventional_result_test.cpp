// Result conversion of the version-2.3 method: coordinates, phase, diameter,
// reliability and cross positions.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "v23/conventional_run.h"

namespace orva {
namespace {

using namespace conventional;

constexpr int kBorder[4] = {1, 7, 5, 2};  // bottom, top, left, right

TEST(V23Result, InputCoordinatesByLoopPosition) {
    // Cleaned image 30 x 20: loop_pos, position, borders added, input position.
    for (const auto& [loop_pos, cx, cy, borders, in_x, in_y] :
         {std::array{0, 4, 6, 1, 4 + 5, 6 + 7},
          {1, 4, 6, 1, 4 + 5, 20 - 1 - 6 + 7},
          {2, 4, 6, 1, 20 - 1 - 6 + 5, 4 + 7},
          {3, 4, 6, 1, 6 + 5, 30 - 1 - 4 + 7},
          {0, -1, -3, 1, -1 - 5, -3 - 7},  // negative positions move away from the image
          {0, -1, 20, 0, -1, 20},
          {1, -1, 20, 0, -1, -1}}) {  // no borders without images
        int x = cx, y = cy;
        to_input_coordinates(loop_pos, 30, 20, kBorder, borders == 1, x, y);
        EXPECT_EQ(x, in_x) << loop_pos << " " << cx;
        EXPECT_EQ(y, in_y) << loop_pos << " " << cx;
    }
}

TEST(V23Result, PhaseDiameterAndReliability) {
    EXPECT_EQ(normalised_phase(-180.0, 5.0), 180.0);
    EXPECT_EQ(normalised_phase(190.0, 5.0), -170.0);
    EXPECT_EQ(normalised_phase(180.0, 5.0), 180.0);
    EXPECT_EQ(normalised_phase(-0.5, 5.0), -0.5);  // the result then floors it to -1
    EXPECT_EQ(normalised_phase(77.0, 0.99), 0.0);
    EXPECT_EQ(normalised_phase(77.0, 1.0), 77.0);

    std::vector<int> w = {30, 0, 12, 50, 7};
    EXPECT_EQ(object_diameter(w, 4), 12);  // the fifth entry is not an image
    EXPECT_EQ(w[0], 50);
    struct Case {
        std::vector<int> widths;
        int n, diameter;
    };
    for (Case c : {Case{{50, 20}, 1, 0}, Case{{0, 40, 0}, 3, 0}, Case{{-1, 5, -2, 9}, 4, 5}})
        EXPECT_EQ(object_diameter(c.widths, c.n), c.diameter) << c.n;

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
    PARAMS mp;
    mp.x0 = 40.2;
    mp.radius = 10.0;
    mp.phi0 = 90.0;
    // At 90 degrees the crystal is at x0 + radius: m = floor(50.7) = 50; at
    // 270 degrees floor(30.7).
    for (const auto& [loop_pos, phi, cx, cy] : {std::array{0, 90, 50 + 5, 33},
                                                {1, 270, 30 + 5, 33},
                                                {2, 90, 45, 50 + 7},
                                                {3, 90, 45, 100 - 1 - 50 + 7}}) {
        int x = 0, y = 0;
        cross_position(loop_pos, 100, kBorder, mp, phi, 45, 33, x, y);
        EXPECT_EQ(x, cx) << loop_pos;
        EXPECT_EQ(y, cy) << loop_pos;
    }
}

}  // namespace
}  // namespace orva
