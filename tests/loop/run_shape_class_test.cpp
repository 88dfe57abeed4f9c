// Run shape class from the image classes, and the loop part of one image.
#include "loop/run_shape_class.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "support/images.h"

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

std::vector<int> repeated(std::initializer_list<std::pair<int, int>> runs) {  // {count, class}
    std::vector<int> t;
    for (auto [n, type] : runs) t.insert(t.end(), n, type);
    return t;
}

TEST(RunShapeClass, PairsTiesUpperClassesAndReliability) {
    const struct {
        const char* what;
        std::vector<int> types;
        unsigned int top0;
        int special, type;
        float reliability;  // not checked when NaN
    } cases[] = {
        {"tie with the starting pair (3, 4) keeps it", {P100, P100, P060, P050}, 40, 0, P060, 0.5f},
        {"a strictly larger earlier pair", {P100, P100, P080, P050}, 40, 0, P100, NAN},
        {"upper class more than twice the lower", {P040, P035, P035, P035}, 40, 0, P035, 1.0f},
        {"exactly twice keeps the lower", {P040, P035, P035}, 40, 0, P040, NAN},
        {"unknown images left out", {P060, P050, UNKNOWN, P025}, 40, 0, P060, 1.0f / 3.0f},
        {"all unknown", {UNKNOWN, UNKNOWN}, 40, 0, UNKNOWN, -1.0f},
        {"all empty", {NO_OBJECT, NO_OBJECT, NO_OBJECT}, 40, 0, NO_OBJECT, -1.0f},
        {"UV images", {P080, P080}, 40, UV_SPECIAL, UV_IMAGE, 0.0f},
        // Best pair (12, 13), and image 0's object within the top 5 %: the pin fills the view.
        {"pin only", repeated({{8, P005}, {1, PIN_ONLY}, {1, P100}}), 4, 0, PIN_ONLY, 0.9f},
        // At 5 %: not the pin; without the two smallest pairs (1, 2) comes
        // before the equally frequent (13, 14).
        {"repeated search", repeated({{8, P005}, {1, PIN_ONLY}, {1, P100}}), 5, 0, P100, 0.9f},
        {"all agree", repeated({{10, P005}}), 50, 0, P005, NAN},
        {"the repeated search reaches (14, 15)", repeated({{6, P005}, {2, UV_IMAGE}, {2, UNKNOWN}}),
         50, 0, UV_IMAGE, 0.5f},
    };
    for (const auto& c : cases) {
        const RunShape run = run_shape_class(records(c.types, c.top0), c.special, H);
        EXPECT_EQ(run.type, c.type) << c.what;
        if (!std::isnan(c.reliability)) {
            EXPECT_FLOAT_EQ(run.reliability, c.reliability) << c.what;
        }
    }
}

// An outline of `rows` traced rows from row `top` down; left flank at
// 10 + i % 3, right flank at 30 + i.
SHAPE_PARAMS outline(int type, unsigned int rows, unsigned int top = 20) {
    SHAPE_PARAMS s;
    s.type = type;
    for (auto* v : {&s.x_coord_left, &s.y_coord_left, &s.x_coord_right, &s.y_coord_right})
        v->assign(H, 0);
    s.num_coord_left = s.num_coord_right = rows;
    for (unsigned int i = 0; i < rows; ++i) {
        s.y_coord_left[i] = s.y_coord_right[i] = top + i;
        s.x_coord_left[i] = 10 + i % 3;
        s.x_coord_right[i] = 30 + i;
    }
    return s;
}

// box_t, box_b, box_l, box_r, centre_x, centre_y, width
std::array<unsigned int, 7> box_of(const SHAPE_PARAMS& s) {
    return {s.box_t, s.box_b, s.box_l, s.box_r, s.centre_x, s.centre_y, s.width};
}

TEST(LoopPart, RowsKeptInsideTheOutlineByOwnOrRunClass) {
    const IMAGE im = test::geometry(64, H);
    const RunShape reliable{P050, 1.0f};
    const std::array<unsigned int, 7> one_row = {20, 21, 10, 30, 20, 20, 20};
    // 5 % of 10 rows is 0 rows: one row is used.
    SHAPE_PARAMS s = outline(P005, 10);
    EXPECT_EQ(loop_part(s, reliable, im, false), LoopShare::Local);
    EXPECT_EQ(box_of(s), one_row);
    // 100 % of 10 rows: 9 rows, the box ends on the last traced row. Lefts
    // 10,11,12,...; rights 30..38: sums 99 + 306 over 18.
    s = outline(P100, 10);
    loop_part(s, reliable, im, false);
    EXPECT_EQ(box_of(s), (std::array<unsigned int, 7>{20, 29, 10, 38, 405 / 18, 432 / 18, 23}));
    // A single traced row left after far rows were dropped: the part is that
    // row, and the box ends on the next entry, which still holds the row
    // traced below it; also for a full-loop class, whose share would be 0 rows.
    for (int type : {P005, P100}) {
        s = outline(type, 2);
        s.num_coord_left = s.num_coord_right = 1;
        loop_part(s, reliable, im, false);
        EXPECT_EQ(box_of(s), one_row) << type;
    }

    // Own class P050 gives 10 of 20 rows, the run class P020 4 rows: the run
    // class below a reliability of 0.6, for a top in row 2 (< 3 % of 100),
    // and for UV images, which take it (75 %) as their own.
    const struct {
        RunShape run;
        unsigned int top;
        bool uv;
        LoopShare share;
        unsigned int box_b;
    } cases[] = {{{P020, 0.59f}, 20, false, LoopShare::Global, 24},
                 {{P020, 0.6f}, 20, false, LoopShare::Local, 30},
                 {{P020, 1.0f}, 2, false, LoopShare::Global, 6},
                 {{UV_IMAGE, 0.0f}, 20, true, LoopShare::Global, 35}};
    for (const auto& c : cases) {
        s = outline(P050, 20, c.top);
        EXPECT_EQ(loop_part(s, c.run, im, c.uv), c.share);
        EXPECT_EQ(s.box_b, c.box_b) << c.run.reliability << " " << c.top;
        if (c.uv) {
            EXPECT_EQ(s.type, UV_IMAGE);
        }
    }

    // An empty image keeps its box, has no centre and the full width.
    s = outline(NO_OBJECT, 0);
    s.box_l = 1, s.box_r = 2, s.box_t = 3, s.box_b = 4, s.centre_x = s.centre_y = 9;
    EXPECT_EQ(loop_part(s, reliable, im, false), LoopShare::Empty);
    EXPECT_EQ(box_of(s), (std::array<unsigned int, 7>{3, 4, 1, 2, 0, 0, 64}));
}

}  // namespace
}  // namespace orva
