// Run shape class from the image classes, and the loop part of one image.
#include "loop/run_shape_class.h"

#include <gtest/gtest.h>

#include <vector>

namespace orva {
namespace {

constexpr unsigned int H = 100;

// One record per class; image 0's object starts at row `top0`.
std::vector<SHAPE_PARAMS> records(std::vector<int> types, unsigned int top0 = 40) {
    std::vector<SHAPE_PARAMS> shapes(types.size());
    for (std::size_t q = 0; q < types.size(); ++q) {
        shapes[q].type = types[q];
        shapes[q].y_coord_left.assign(H, 0);
        shapes[q].y_coord_left[0] = q == 0 ? top0 : 40;
    }
    return shapes;
}

TEST(RunShapeClass, TieWithPair34KeepsIt) {
    // (1, 2) and (3, 4) both hold two images: the starting pair (3, 4) stays.
    const RunShape run = run_shape_class(records({P100, P100, P060, P050}), 0, H);
    EXPECT_EQ(run.type, P060);
    EXPECT_FLOAT_EQ(run.reliability, 0.5f);

    // A strictly larger earlier pair wins.
    EXPECT_EQ(run_shape_class(records({P100, P100, P080, P050}), 0, H).type, P100);
}

TEST(RunShapeClass, UpperClassWhenMoreThanTwiceTheLower) {
    RunShape run = run_shape_class(records({P040, P035, P035, P035}), 0, H);
    EXPECT_EQ(run.type, P035);
    EXPECT_FLOAT_EQ(run.reliability, 1.0f);
    // Exactly twice keeps the lower class.
    run = run_shape_class(records({P040, P035, P035}), 0, H);
    EXPECT_EQ(run.type, P040);
}

TEST(RunShapeClass, ReliabilityLeavesOutUnknownImages) {
    RunShape run = run_shape_class(records({P060, P050, UNKNOWN, P025}), 0, H);
    EXPECT_EQ(run.type, P060);
    EXPECT_FLOAT_EQ(run.reliability, 1.0f / 3.0f);

    run = run_shape_class(records({UNKNOWN, UNKNOWN}), 0, H);
    EXPECT_EQ(run.type, UNKNOWN);
    EXPECT_EQ(run.reliability, -1.0f);
    run = run_shape_class(records({NO_OBJECT, NO_OBJECT, NO_OBJECT}), 0, H);
    EXPECT_EQ(run.type, NO_OBJECT);
    EXPECT_EQ(run.reliability, -1.0f);

    run = run_shape_class(records({P080, P080}), UV_SPECIAL, H);
    EXPECT_EQ(run.type, UV_IMAGE);
    EXPECT_EQ(run.reliability, 0.0f);
}

TEST(RunShapeClass, PinOnlyAndTheRepeatedSearch) {
    // Eight P005, one PIN_ONLY, one P100: best pair (12, 13), reliability 0.9,
    // and image 0's object starts within the top 5 %: the pin fills the view.
    std::vector<int> types(8, P005);
    types.push_back(PIN_ONLY);
    types.push_back(P100);
    RunShape run = run_shape_class(records(types, 4), 0, H);
    EXPECT_EQ(run.type, PIN_ONLY);
    EXPECT_FLOAT_EQ(run.reliability, 0.9f);

    // Object top at 5 %: not the pin; the search without the two smallest
    // pairs finds (1, 2) before the equally frequent (13, 14).
    run = run_shape_class(records(types, 5), 0, H);
    EXPECT_EQ(run.type, P100);
    EXPECT_FLOAT_EQ(run.reliability, 0.9f);

    // All images agree (reliability exactly 1): the class stays P005.
    run = run_shape_class(records(std::vector<int>(10, P005), 50), 0, H);
    EXPECT_EQ(run.type, P005);

    // The repeated search reaches the pair (14, 15).
    run = run_shape_class(
        records({P005, P005, P005, P005, P005, P005, UV_IMAGE, UV_IMAGE, UNKNOWN, UNKNOWN}, 50), 0,
        H);
    EXPECT_EQ(run.type, UV_IMAGE);
    EXPECT_FLOAT_EQ(run.reliability, 0.5f);
}

// An outline of `rows` traced rows from row 20 down; left flank at 10 + i % 3,
// right flank at 30 + i.
SHAPE_PARAMS outline(int type, unsigned int rows) {
    SHAPE_PARAMS s;
    s.type = type;
    for (auto* v : {&s.x_coord_left, &s.y_coord_left, &s.x_coord_right, &s.y_coord_right})
        v->assign(H, 0);
    s.num_coord_left = s.num_coord_right = rows;
    for (unsigned int i = 0; i < rows; ++i) {
        s.y_coord_left[i] = s.y_coord_right[i] = 20 + i;
        s.x_coord_left[i] = 10 + i % 3;
        s.x_coord_right[i] = 30 + i;
    }
    return s;
}

IMAGE canonical() {
    IMAGE im;
    im.width = 64;
    im.height = H;
    im.size = 64 * H;
    return im;
}

TEST(LoopPart, RowsAreKeptInsideTheOutline) {
    const IMAGE im = canonical();
    const RunShape reliable{P050, 1.0f};

    // 5 % of 10 rows is 0 rows: one row is used.
    SHAPE_PARAMS s = outline(P005, 10);
    EXPECT_EQ(loop_part(s, reliable, im, false), LoopShare::Local);
    EXPECT_EQ(s.box_t, 20u);
    EXPECT_EQ(s.box_b, 21u);
    EXPECT_EQ(s.box_l, 10u);
    EXPECT_EQ(s.box_r, 30u);
    EXPECT_EQ(s.centre_x, 20u);
    EXPECT_EQ(s.centre_y, 20u);
    EXPECT_EQ(s.width, 20u);

    // 100 % of 10 rows: 9 rows, the box ends on the last traced row.
    s = outline(P100, 10);
    loop_part(s, reliable, im, false);
    EXPECT_EQ(s.box_b, 29u);
    EXPECT_EQ(s.box_l, 10u);
    EXPECT_EQ(s.box_r, 38u);
    // Lefts 10,11,12,10,11,12,10,11,12; rights 30..38: sums 99 + 306 over 18.
    EXPECT_EQ(s.centre_x, 405u / 18u);
    EXPECT_EQ(s.centre_y, (2u * (20 + 28) * 9 / 2) / 18u);
    EXPECT_EQ(s.width, (306u - 99u) / 9u);

    // A single traced row left after far rows were dropped: the part is that
    // row, and the box ends on the next entry, which still holds the row
    // traced below it before the drop.
    s = outline(P005, 2);
    s.num_coord_left = s.num_coord_right = 1;
    loop_part(s, reliable, im, false);
    EXPECT_EQ(s.box_t, 20u);
    EXPECT_EQ(s.box_b, 21u);
    EXPECT_EQ(s.width, 20u);
    EXPECT_EQ(s.centre_x, 20u);
    // The same for a full-loop class, where the share would be 0 rows.
    s = outline(P100, 2);
    s.num_coord_left = s.num_coord_right = 1;
    loop_part(s, reliable, im, false);
    EXPECT_EQ(s.box_b, 21u);
    EXPECT_EQ(s.width, 20u);
}

TEST(LoopPart, RunClassWhenTopOrReliabilityIsDoubtful) {
    const IMAGE im = canonical();
    // Own class P050 gives 10 of 20 rows, the run class P020 4 rows.
    SHAPE_PARAMS s = outline(P050, 20);
    EXPECT_EQ(loop_part(s, RunShape{P020, 0.59f}, im, false), LoopShare::Global);
    EXPECT_EQ(s.box_b, 24u);
    s = outline(P050, 20);
    EXPECT_EQ(loop_part(s, RunShape{P020, 0.6f}, im, false), LoopShare::Local);
    EXPECT_EQ(s.box_b, 30u);

    // Object top in row 2 (< 3 % of 100): the run class.
    s = outline(P050, 20);
    for (unsigned int i = 0; i < 20; ++i) s.y_coord_left[i] = s.y_coord_right[i] = 2 + i;
    EXPECT_EQ(loop_part(s, RunShape{P020, 1.0f}, im, false), LoopShare::Global);
    EXPECT_EQ(s.box_b, 6u);

    // UV images take the run class (75 %) as their own.
    s = outline(P050, 20);
    loop_part(s, RunShape{UV_IMAGE, 0.0f}, im, true);
    EXPECT_EQ(s.type, UV_IMAGE);
    EXPECT_EQ(s.box_b, 35u);
}

TEST(LoopPart, EmptyImageKeepsItsBox) {
    const IMAGE im = canonical();
    SHAPE_PARAMS s = outline(NO_OBJECT, 0);
    s.box_l = 1;
    s.box_r = 2;
    s.box_t = 3;
    s.box_b = 4;
    s.centre_x = s.centre_y = 9;
    EXPECT_EQ(loop_part(s, RunShape{P050, 1.0f}, im, false), LoopShare::Empty);
    EXPECT_EQ(s.centre_x, 0u);
    EXPECT_EQ(s.centre_y, 0u);
    EXPECT_EQ(s.width, 64u);
    EXPECT_EQ(s.box_l + s.box_r + s.box_t + s.box_b, 10u);
}

}  // namespace
}  // namespace orva
