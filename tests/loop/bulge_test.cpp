// Widest loop row below the tip.
#include "loop/bulge.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace orva {
namespace {

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
        {"stem after a narrowing", widths({{11, 40}, {1, 38}, {1, 50}, {1, 30}}), 10, 60,
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
