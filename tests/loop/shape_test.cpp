// Loop outlines: tracing, the classes of small and thin objects, prototype
// matching, the run's shape class, the loop part of one image and the widest
// row below the tip. (Classes of whole runs are fixed by the golden check.)
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "loop/bulge.h"
#include "loop/run_shape_class.h"
#include "loop/shape_classification.h"
#include "support/images.h"

namespace orva {
namespace {

using test::geometry;

// A record sized as the loop extraction sizes it, with stale values set.
SHAPE_PARAMS sized_record(const IMAGE& im) {
    SHAPE_PARAMS s;
    for (auto* v : {&s.x_coord_left, &s.y_coord_left, &s.x_coord_right, &s.y_coord_right})
        v->assign(im.height, 0);
    for (auto* v : {&s.x_coord_top, &s.y_coord_top, &s.x_coord_bottom, &s.y_coord_bottom})
        v->assign(im.width, 0);
    s.classif = 3;
    s.type = P100;
    return s;
}

struct Mask {
    IMAGE im;
    std::vector<unsigned char> pix;
    Mask(unsigned int w, unsigned int h) : im(geometry(w, h)), pix(w * h, 0) {}
    void set(int x, int y) { pix[y * im.width + x] = 1; }
    void rect(int x0, int y0, int x1, int y1) {  // inclusive
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) set(x, y);
    }
    void disc(int cx, int cy, int r) {
        for (int y = cy - r; y <= cy + r; ++y)
            for (int x = cx - r; x <= cx + r; ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) set(x, y);
    }
};

SHAPE_PARAMS classify(const Mask& m) {
    SHAPE_PARAMS s = sized_record(m.im);
    EXPECT_EQ(shape_classifier(m.im, m.pix, 0, s), 0);
    return s;
}

// type, class and the outline counts: left, right, top, bottom.
std::array<unsigned int, 6> figures(const SHAPE_PARAMS& s) {
    return {static_cast<unsigned int>(s.type),
            static_cast<unsigned int>(s.classif),
            s.num_coord_left,
            s.num_coord_right,
            s.num_coord_top,
            s.num_coord_bottom};
}

TEST(ShapeClassifier, SmallOrThinObjectsAreNoObject) {
    // 10 x 10 square: 10 rows but only 36 outline points.
    Mask square(40, 40);
    square.rect(10, 10, 19, 19);
    EXPECT_EQ(figures(classify(square)),
              (std::array<unsigned int, 6>{NO_OBJECT, 50, 10, 10, 8, 8}));
    // Two wide rows: too few rows whatever the outline length.
    Mask two_rows(200, 20);
    two_rows.rect(5, 5, 190, 6);
    const SHAPE_PARAMS s = classify(two_rows);
    EXPECT_EQ((std::array{s.type, s.classif, int(s.num_coord_left)}), (std::array{0, 50, 2}));
    // Object pixels only on the outermost rows and columns are never traced.
    Mask frame(60, 60);
    for (int k = 0; k < 60; ++k)
        frame.set(k, 0), frame.set(k, 59), frame.set(0, k), frame.set(59, k);
    const std::array<unsigned int, 6> f = figures(classify(frame));
    EXPECT_EQ(f[0] + f[2], 0u);  // no object, nothing traced
}

TEST(ShapeClassifier, OutlineRunsAroundTheObjectInOrder) {
    Mask m(10, 8);
    m.rect(3, 2, 6, 4);
    m.set(0, 3);  // column 0 is not traced
    SHAPE_PARAMS s = classify(m);
    std::vector<int> x(36), y(36);
    unsigned int n = closed_outline(s, x, y);
    ASSERT_EQ(n, 10u);
    x.resize(n);
    y.resize(n);
    // Down the left flank, along the bottom, up the right flank, back along the top.
    EXPECT_EQ(x, (std::vector<int>{3, 3, 3, 4, 5, 6, 6, 6, 5, 4}));
    EXPECT_EQ(y, (std::vector<int>{2, 3, 4, 4, 4, 4, 3, 2, 2, 2}));
    // The stored runs are left to right.
    EXPECT_EQ(s.x_coord_top[0], 4u);
    EXPECT_EQ(s.x_coord_top[1], 5u);
    EXPECT_EQ(s.y_coord_bottom[0], 4u);
}

TEST(NearestPrototype, NothingNearIsUnclassified) {
    // Nothing within the start distance: unclassified.
    std::array<double, 8> far;
    far.fill(1e5);
    int classif = -1;
    EXPECT_EQ(nearest_prototype(far, classif), UNKNOWN);
    EXPECT_EQ(classif, 50);
}

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

// Traced rows from row `top` downwards with the given widths; each row's left
// flank at 100 - width / 2, so the midpoint is 100 for even widths.
SHAPE_PARAMS outline(const std::vector<int>& widths, unsigned int top, unsigned int centre_y) {
    SHAPE_PARAMS s;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        unsigned int left = 100 - widths[i] / 2;
        s.x_coord_left.push_back(left);
        s.x_coord_right.push_back(left + widths[i]);
        s.y_coord_left.push_back(top + static_cast<unsigned int>(i));
        s.y_coord_right.push_back(top + static_cast<unsigned int>(i));
    }
    s.num_coord_left = s.num_coord_right = static_cast<unsigned int>(widths.size());
    s.centre_y = centre_y;
    return s;
}

std::vector<int> widths(std::initializer_list<std::pair<int, int>> runs) {  // {count, width}
    std::vector<int> w;
    for (auto [n, width] : runs) w.insert(w.end(), n, width);
    return w;
}

TEST(Bulge, WidestRowBeforeNarrowingWithinTheDepthLimit) {
    const struct {
        const char* what;
        std::vector<int> widths;
        unsigned int top, centre_y;
        std::array<int, 3> yxw;  // row, column, width; -1 for none
    } cases[] = {
        {"equal maxima: the last", {10, 20, 30, 40, 40, 30, 20}, 50, 55, {54, 100, 40}},
        {"widening to the end", {10, 12, 14, 16, 18}, 50, 52, {-1, -1, -1}},
        {"flat sides", {20, 20, 20, 20}, 50, 51, {-1, -1, -1}},
        // Tip 50, centre 52: the depth limit (row 56) ends the walk while widening.
        {"depth limit", {10, 12, 14, 16, 18, 20, 22, 10, 8}, 50, 52, {-1, -1, -1}},
        {"one row deeper", {10, 12, 14, 16, 18, 20, 22, 10, 8}, 50, 53, {56, 100, 22}},
        {"single row: width only", {31}, 50, 50, {-1, -1, 31}},
        {"no rows", {}, 50, 50, {-1, -1, -1}},
        // A jump of more than 5 pixels and 20 % after ten rows is the stem.
        {"stem after a maximum", widths({{12, 40}, {1, 50}, {1, 30}}), 10, 60, {-1, -1, -1}},
        {"stem after a narrowing",
         widths({{11, 40}, {1, 38}, {1, 50}, {1, 30}}),
         10,
         60,
         {20, 100, 40}},
        {"jump within ten rows", widths({{10, 40}, {1, 50}, {1, 30}}), 10, 60, {20, 100, 50}},
        {"jump under 20 %", widths({{12, 100}, {1, 106}, {1, 90}}), 10, 60, {22, 100, 106}},
    };
    for (const auto& c : cases) {
        std::array<int, 3> got{7, 7, 7};
        EXPECT_EQ(get_bulge_pos(outline(c.widths, c.top, c.centre_y), &got[0], &got[1], &got[2]),
                  0);
        EXPECT_EQ(got, c.yxw) << c.what;
    }
}

}  // namespace
}  // namespace orva
