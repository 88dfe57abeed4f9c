// Crystal-size estimate, bulge rules, loop tips, observation tables, and the
// centre fit (a mean with too few images, the motion fit with an unknown or a
// known axis). (The log's fit table is fixed by the golden check.)
#include "analysis/observations.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "analysis/centre_fit.h"
#include "log_capture.h"

namespace orva {
namespace {

SHAPE_PARAMS loop(int width, int box_l, int box_r, int cx = 50, int cy = 40) {
    SHAPE_PARAMS s;
    s.type = P060;
    s.width = static_cast<unsigned>(width);
    s.box_l = static_cast<unsigned>(box_l);
    s.box_r = static_cast<unsigned>(box_r);
    s.centre_x = static_cast<unsigned>(cx);
    s.centre_y = static_cast<unsigned>(cy);
    return s;
}

TEST(CrystalSize, NarrowestLoopClearOfTheSides) {
    const std::vector<SHAPE_PARAMS> shapes = {loop(60, 10, 80),
                                              loop(30, 4, 80) /* touches the left strip */,
                                              loop(25, 10, 95) /* reaches cut_width - 5 */,
                                              loop(40, 5, 94),
                                              SHAPE_PARAMS{},
                                              loop(40, 10, 50) /* not below 40 */,
                                              loop(35, 10, 50)};
    testing::LogCapture capture;
    const NarrowestLoop found = narrowest_loop(shapes, 100, capture.log, "\n#%2d: %4d");
    EXPECT_EQ(found.q_minwidth, 6);
    EXPECT_EQ(found.crystal_size, 35);
    EXPECT_EQ(capture.body(),
              "\n# 0:   60   60\n# 1:   30   60\n# 2:   25   60\n# 3:   40   40"
              "\n# 5:   40   40\n# 6:   35   35");

    DriverLog off;
    const NarrowestLoop none = narrowest_loop(std::span(shapes).subspan(1, 2), 100, off, "%d%d");
    EXPECT_EQ(none.q_minwidth, -1);
    EXPECT_EQ(none.crystal_size, 100);

    // The pin-only estimate takes every image.
    EXPECT_EQ(smallest_width(std::span(shapes).first(2), 100), 30);
    EXPECT_EQ(smallest_width(std::span(shapes).first(1), 50), 50);
}

TEST(Bulge, AcceptedOnlyWhenClearlyWiderAndBelowTheCentre) {
    // At least 10 more (10: 19 / 20) and 1.5 times as wide (40: 59 / 60); -1 is none.
    const int cases[][3] = {{19, 10, 0}, {20, 10, 1}, {59, 40, 0}, {60, 40, 1}, {-1, 0, 0}};
    for (const auto& c : cases) EXPECT_EQ(bulge_accepted(c[0], c[1]), c[2] == 1) << c[0];

    std::vector<SHAPE_PARAMS> shapes = {loop(50, 5, 90, 40, 30), loop(30, 5, 90, 44, 20),
                                        loop(50, 5, 90, 47, 33)};
    const auto centres = [&shapes] {
        std::vector<unsigned> out;
        for (const SHAPE_PARAMS& s : shapes) out.insert(out.end(), {s.centre_x, s.centre_y});
        return out;
    };
    EXPECT_TRUE(apply_bulge(shapes, 1, 52, 31));  // 11 rows down: the others move by 3
    EXPECT_EQ(centres(), (std::vector<unsigned>{40, 33, 52, 31, 47, 36}));
    EXPECT_FALSE(apply_bulge(shapes, 1, 60, 31));  // at the centre: nothing moves
    EXPECT_EQ(centres(), (std::vector<unsigned>{40, 33, 52, 31, 47, 36}));
}

TEST(LoopTips, MiddleOfTheFirstTracedRow) {
    std::vector<SHAPE_PARAMS> shapes = {loop(50, 5, 90, 40, 30), loop(50, 5, 90, 40, 30)};
    shapes[0].x_coord_left = {21, 20};
    shapes[0].x_coord_right = {30, 31};
    shapes[0].y_coord_left = {12, 13};
    shapes[0].num_coord_left = 2;
    use_loop_tips(shapes);  // image 1 has no outline and keeps its centre
    EXPECT_EQ(shapes[0].centre_x, 25u);
    EXPECT_EQ(shapes[0].centre_y, 12u);
    EXPECT_EQ(shapes[1].centre_x, 40u);
}

TEST(Observations, DetectorOrderPositivePositionsOrLoopCentres) {
    const std::vector<double> angles = {10.0, 20.0, 30.0};
    // Image 0: detector 1's first position has x 0; image 1: its second
    // position lacks y; image 2: detector 2 reports -1.
    const std::vector<int> x1 = {0, 101, 201}, y1 = {5, 102, 202};
    const std::vector<int> x2 = {3, 111, 211}, y2 = {4, 0, 212};
    const std::vector<int> x3 = {7, 121, -1}, y3 = {8, 122, -1};
    const ObservationTable t = crystal_observations(angles, x1, y1, x2, y2, x3, y3);
    EXPECT_EQ(t.angle, (std::vector<double>{10, 10, 20, 20, 30, 30}));
    EXPECT_EQ(t.x, (std::vector<double>{3, 7, 101, 121, 201, 211}));
    EXPECT_EQ(t.y, (std::vector<double>{4, 8, 102, 122, 202, 212}));
    EXPECT_EQ(t.weight, std::vector<double>(6, 1.0));

    // Loop centres when no detector found anything; empty images give none.
    const std::vector<SHAPE_PARAMS> shapes = {loop(5, 5, 9, 11, 12), SHAPE_PARAMS{},
                                              loop(5, 5, 9, 13, 14)};
    const std::vector<int> none(3, 0), minus(3, -1);
    bool loop_centres = false;
    ObservationTable m =
        motion_observations(angles, shapes, none, none, minus, minus, none, none, &loop_centres);
    EXPECT_TRUE(loop_centres);
    EXPECT_EQ(m.angle, (std::vector<double>{10.0, 30.0}));
    EXPECT_EQ(m.x, (std::vector<double>{11.0, 13.0}));
    EXPECT_TRUE(m.has_position());

    const std::vector<int> one = {0, 0, 7};  // a single position is a crystal observation
    m = motion_observations(angles, shapes, none, none, none, none, one, one, &loop_centres);
    EXPECT_FALSE(loop_centres);
    EXPECT_EQ(m.x, std::vector<double>{7.0});
    // Loop centres at x 0 are no position either.
    EXPECT_FALSE(loop_centre_observations(std::span(shapes).subspan(1, 1), angles).has_position());
}

TEST(CentreFit, MeansBelowTheImageThreshold) {
    ObservationTable t;
    t.add(0.0, 100.0, 40.0);
    t.add(0.0, 0.0, 60.0);  // x missing: only its y counts
    t.add(90.0, 110.0, -3.0);
    PARAMS mp;
    mp.radius = 7.0;
    mp.phi0 = 12.0;
    EXPECT_EQ(centre_fit(mp, t, 2, false, -1.0), 0);  // 3 images needed
    EXPECT_DOUBLE_EQ(mp.x0, 105.0);
    EXPECT_DOUBLE_EQ(mp.y0, 50.0);
    EXPECT_EQ(mp.radius + mp.phi0, 19.0);  // as the width fit left them

    PARAMS known;
    EXPECT_EQ(centre_fit(known, t, 1, true, 80.0), 0);  // 2 needed with a known axis
    EXPECT_DOUBLE_EQ(known.x0, 105.0);
}

TEST(CentreFit, MotionFitReplacesTheWidthFitAndHoldsAKnownAxis) {
    for (const bool known : {false, true}) {
        SCOPED_TRACE(known);
        ObservationTable t;
        for (int i = 0; i < 8; ++i)
            t.add(45.0 * i, 200.0 + 30.0 * std::cos((45.0 * i - 60.0) * RADIAN), 150.0);
        PARAMS mp;
        mp.x0 = 55.0;  // what the loop-width fit left
        ASSERT_EQ(centre_fit(mp, t, known ? 2 : 3, known, known ? 190.0 : 123.0), 0);
        EXPECT_NEAR(mp.x0, known ? 190.0 : 200.0, known ? 0.0 : 1e-6);  // a known one exactly
        EXPECT_NEAR(mp.y0, 150.0, 1e-6);
        EXPECT_NEAR(mp.radius, 30.0, 1e-6);
        EXPECT_NEAR(mp.phi0, 60.0, 1e-4);
        EXPECT_NEAR(t.est_x[3] - t.x[3], known ? -10.0 : 0.0, 1e-6);
    }
}

}  // namespace
}  // namespace orva
