// Result conversion of the version-2.3 method: coordinates, phase, diameter,
// reliability and cross positions.
#include <gtest/gtest.h>

#include <vector>

#include "v23/conventional_run.h"

namespace orva {
namespace {

using namespace conventional;

constexpr int kBorder[4] = {1, 7, 5, 2};  // bottom, top, left, right

TEST(V23Result, InputCoordinatesByLoopPosition) {
    struct Case {
        int loop_pos, x, y;
        bool borders;
        int in_x, in_y;
    };
    // Cleaned image 30 x 20.
    for (const Case c :
         {Case{0, 4, 6, true, 4 + 5, 6 + 7}, Case{1, 4, 6, true, 4 + 5, 20 - 1 - 6 + 7},
          Case{2, 4, 6, true, 20 - 1 - 6 + 5, 4 + 7}, Case{3, 4, 6, true, 6 + 5, 30 - 1 - 4 + 7},
          // Negative positions move away from the image.
          Case{0, -1, -3, true, -1 - 5, -3 - 7},
          // No borders without images.
          Case{0, -1, 20, false, -1, 20}, Case{1, -1, 20, false, -1, -1}}) {
        int x = c.x, y = c.y;
        to_input_coordinates(c.loop_pos, 30, 20, kBorder, c.borders, x, y);
        EXPECT_EQ(x, c.in_x) << c.loop_pos << " " << c.x;
        EXPECT_EQ(y, c.in_y) << c.loop_pos << " " << c.x;
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
    struct Case {
        int loop_pos;
        double phi;
        int x, y;
    };
    // At 90 degrees the crystal is at x0 + radius: m = floor(50.7) = 50; at
    // 270 degrees floor(30.7).
    for (const Case c : {Case{0, 90, 50 + 5, 33}, Case{1, 270, 30 + 5, 33}, Case{2, 90, 45, 50 + 7},
                         Case{3, 90, 45, 100 - 1 - 50 + 7}}) {
        int x = 0, y = 0;
        cross_position(c.loop_pos, 100, kBorder, mp, c.phi, 45, 33, x, y);
        EXPECT_EQ(x, c.x) << c.loop_pos;
        EXPECT_EQ(y, c.y) << c.loop_pos;
    }
}

}  // namespace
}  // namespace orva
