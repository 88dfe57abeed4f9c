// Crystal-size estimate, bulge rules, loop tips, observation tables and the
// fit table of the log.
#include "analysis/observations.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

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

std::string contents(std::FILE* f) {
    std::rewind(f);
    std::string text;
    for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) text += static_cast<char>(c);
    return text;
}

// The log text written after the header.
std::string logged(std::FILE* f) {
    const std::string all = contents(f);
    const std::string header_end = "cleaned image\n# --------------------------------------------";
    return all.substr(all.find(header_end) + header_end.size());
}

TEST(NarrowestLoop, SkipsEmptyAndEdgeBoxesAndKeepsTheFirstOfEqualWidths) {
    std::vector<SHAPE_PARAMS> shapes = {
        loop(60, 10, 80), loop(30, 4, 80),  // touches the left strip
        loop(25, 10, 95),                   // reaches cut_width - 5
        loop(40, 5, 94),  SHAPE_PARAMS{},   // empty
        loop(40, 10, 50),                   // not below the current 40
        loop(35, 10, 50),
    };
    std::FILE* f = std::tmpfile();
    DriverLog log;
    log.attach(f);
    const NarrowestLoop found = narrowest_loop(shapes, 100, log, "\n#%2d: %4d");
    EXPECT_EQ(found.q_minwidth, 6);
    EXPECT_EQ(found.crystal_size, 35);
    log.close(0);
    EXPECT_EQ(logged(f),
              "\n# 0:   60   60\n# 1:   30   60\n# 2:   25   60\n# 3:   40   40"
              "\n# 5:   40   40\n# 6:   35   35\n# total duration: 0\n");
    std::fclose(f);

    DriverLog off;
    const std::vector<SHAPE_PARAMS> none = {loop(30, 2, 50), SHAPE_PARAMS{}};
    const NarrowestLoop nothing = narrowest_loop(none, 100, off, "%d %d");
    EXPECT_EQ(nothing.q_minwidth, -1);
    EXPECT_EQ(nothing.crystal_size, 100);
}

TEST(NarrowestLoop, SmallestWidthCountsEveryImage) {
    const std::vector<SHAPE_PARAMS> shapes = {loop(60, 0, 99), loop(45, 0, 99), SHAPE_PARAMS{}};
    EXPECT_EQ(smallest_width(std::span(shapes).first(2), 100), 45);
    EXPECT_EQ(smallest_width(shapes, 100), 0);
    EXPECT_EQ(smallest_width(std::span(shapes).first(1), 50), 50);
}

TEST(Bulge, AcceptedOnlyWhenClearlyWider) {
    EXPECT_FALSE(bulge_accepted(19, 10));  // below 10 + 10
    EXPECT_TRUE(bulge_accepted(20, 10));
    EXPECT_FALSE(bulge_accepted(59, 40));  // below 1.5 * 40
    EXPECT_TRUE(bulge_accepted(60, 40));
    EXPECT_FALSE(bulge_accepted(-1, 0));  // no bulge found
    EXPECT_TRUE(bulge_accepted(10, 0));
}

TEST(Bulge, MovesTheNarrowLoopOntoItAndTheOthersByAThird) {
    std::vector<SHAPE_PARAMS> shapes = {loop(50, 5, 90, 40, 30), loop(30, 5, 90, 44, 20),
                                        loop(50, 5, 90, 47, 33)};
    EXPECT_TRUE(apply_bulge(shapes, 1, 52, 31));  // 11 rows below: others move by 3
    EXPECT_EQ(shapes[0].centre_y, 33u);
    EXPECT_EQ(shapes[2].centre_y, 36u);
    EXPECT_EQ(shapes[0].centre_x, 40u);
    EXPECT_EQ(shapes[1].centre_x, 52u);
    EXPECT_EQ(shapes[1].centre_y, 31u);

    // A bulge at or above the loop centre moves nothing.
    EXPECT_FALSE(apply_bulge(shapes, 1, 60, 31));
    EXPECT_FALSE(apply_bulge(shapes, 1, 60, 10));
    EXPECT_EQ(shapes[1].centre_x, 52u);
    EXPECT_EQ(shapes[0].centre_y, 33u);
}

TEST(LoopTips, MiddleOfTheFirstTracedRow) {
    std::vector<SHAPE_PARAMS> shapes(2);
    shapes[0] = loop(50, 5, 90, 40, 30);
    shapes[0].x_coord_left = {21, 20};
    shapes[0].x_coord_right = {30, 31};
    shapes[0].y_coord_left = {12, 13};
    shapes[0].num_coord_left = 2;
    shapes[1] = loop(50, 5, 90, 40, 30);  // no outline: keeps its centre
    use_loop_tips(shapes);
    EXPECT_EQ(shapes[0].centre_x, 25u);
    EXPECT_EQ(shapes[0].centre_y, 12u);
    EXPECT_EQ(shapes[1].centre_x, 40u);
    EXPECT_EQ(shapes[1].centre_y, 30u);
}

TEST(Observations, LoopCentresOfNonEmptyImages) {
    const std::vector<SHAPE_PARAMS> shapes = {loop(5, 5, 9, 11, 12), SHAPE_PARAMS{},
                                              loop(5, 5, 9, 0, 14)};
    const std::vector<double> angles = {0.0, 90.0, 180.0};
    const ObservationTable t = loop_centre_observations(shapes, angles);
    ASSERT_EQ(t.count(), 2);
    EXPECT_EQ(t.angle[1], 180.0);
    EXPECT_EQ(t.x[0], 11.0);
    EXPECT_EQ(t.y[1], 14.0);
    EXPECT_EQ(t.weight[1], 1.0);
    EXPECT_TRUE(t.has_position());
    const ObservationTable only_zero =
        loop_centre_observations(std::span(shapes).subspan(1), std::span(angles).subspan(1));
    EXPECT_FALSE(only_zero.has_position());  // x 0 is no position
}

TEST(Observations, DetectorOrderAndOnlyPositivePositions) {
    const std::vector<double> angles = {10.0, 20.0, 30.0};
    // Image 0: detector 1's first position has x 0; image 1: only its second
    // position lacks y; image 2: detector 2 reports -1.
    const std::vector<int> x1 = {0, 101, 201}, y1 = {5, 102, 202};
    const std::vector<int> x2 = {3, 111, 211}, y2 = {4, 0, 212};
    const std::vector<int> x3 = {7, 121, -1}, y3 = {8, 122, -1};
    const ObservationTable t = crystal_observations(angles, x1, y1, x2, y2, x3, y3);
    ASSERT_EQ(t.count(), 6);
    const double want_angle[6] = {10, 10, 20, 20, 30, 30};
    const double want_x[6] = {3, 7, 101, 121, 201, 211};
    const double want_y[6] = {4, 8, 102, 122, 202, 212};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(t.angle[i], want_angle[i]) << i;
        EXPECT_EQ(t.x[i], want_x[i]) << i;
        EXPECT_EQ(t.y[i], want_y[i]) << i;
        EXPECT_EQ(t.weight[i], 1.0);
    }
    const std::vector<int> zeros(3, 0);
    EXPECT_FALSE(
        crystal_observations(angles, zeros, zeros, zeros, zeros, zeros, zeros).has_position());
}

TEST(Observations, LoopCentresWhenNoDetectorFoundAnything) {
    const std::vector<double> angles = {0.0, 90.0, 180.0};
    const std::vector<SHAPE_PARAMS> shapes = {loop(5, 5, 9, 11, 12), SHAPE_PARAMS{},
                                              loop(5, 5, 9, 13, 14)};
    std::vector<int> none(3, 0), minus(3, -1);
    bool loop_centres = false;
    ObservationTable t =
        motion_observations(angles, shapes, none, none, minus, minus, none, none, &loop_centres);
    EXPECT_TRUE(loop_centres);
    ASSERT_EQ(t.count(), 2);
    EXPECT_EQ(t.x[1], 13.0);
    EXPECT_EQ(t.angle[1], 180.0);

    // A single position anywhere is a crystal observation.
    std::vector<int> one = {0, 0, 7};
    t = motion_observations(angles, shapes, none, none, none, none, one, one, &loop_centres);
    EXPECT_FALSE(loop_centres);
    ASSERT_EQ(t.count(), 1);
    EXPECT_EQ(t.x[0], 7.0);
}

TEST(FitTable, RowsAndAngleSeparators) {
    ObservationTable t;
    t.add(0.0, 100.0, 50.0);
    t.add(0.0, 104.0, 53.0);
    t.add(45.5, 90.0, 40.0);
    t.weight = {1.0, 0.5, 0.0};
    t.est_x = {101.0, 101.0, 96.25};
    t.est_y = {50.0, 50.0, 50.0};
    std::FILE* f = std::tmpfile();
    DriverLog log;
    log.attach(f);
    log_fit_table(log, t, true);
    log.close(0);
    const std::string head =
        "\n#\n# final coord after LS\n#  phi     x     y    weight Final_x Final_y    dx    dy    "
        "dr";
    EXPECT_EQ(logged(f), head +
                             "\n#"
                             "\n   0.0    100     50  1.000  101.0   50.0   -1.0    0.0    1.0"
                             "\n   0.0    104     53  0.500  101.0   50.0    3.0    3.0    4.2"
                             "\n#"
                             "\n  45.5     90     40  0.000   96.2   50.0   -6.2  -10.0   11.8"
                             "\n# total duration: 0\n");
    std::fclose(f);

    std::FILE* g = std::tmpfile();
    DriverLog plain;
    plain.attach(g);
    log_fit_table(plain, t, false);
    plain.close(0);
    EXPECT_EQ(logged(g).find("\n#\n "), std::string::npos);
    std::fclose(g);
}

}  // namespace
}  // namespace orva
