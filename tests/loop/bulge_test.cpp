// Widest loop row below the tip.
#include "loop/bulge.h"

#include <gtest/gtest.h>

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

struct Bulge {
    int y, x, width;
};

Bulge bulge(const SHAPE_PARAMS& s) {
    Bulge b{7, 7, 7};
    EXPECT_EQ(get_bulge_pos(s, &b.y, &b.x, &b.width), 0);
    return b;
}

TEST(Bulge, WidestRowBeforeNarrowing) {
    // Equal maximal rows: the last of them; it is followed by a narrower row.
    Bulge b = bulge(outline({10, 20, 30, 40, 40, 30, 20}, 50, 55));
    EXPECT_EQ(b.y, 54);
    EXPECT_EQ(b.x, 100);
    EXPECT_EQ(b.width, 40);
}

TEST(Bulge, StillWideningGivesNone) {
    // Growing down to the last traced row.
    Bulge b = bulge(outline({10, 12, 14, 16, 18}, 50, 52));
    EXPECT_EQ(b.y, -1);
    EXPECT_EQ(b.x, -1);
    EXPECT_EQ(b.width, -1);
    // Flat sides: equal widths are a new maximum up to the end of the walk.
    b = bulge(outline({20, 20, 20, 20}, 50, 51));
    EXPECT_EQ(b.width, -1);
    // The depth limit (tip 50, centre 52: row 56) ends the walk while widening,
    // although the object narrows further down.
    b = bulge(outline({10, 12, 14, 16, 18, 20, 22, 10, 8}, 50, 52));
    EXPECT_EQ(b.width, -1);
    // One row further down the same outline narrows within the limit.
    b = bulge(outline({10, 12, 14, 16, 18, 20, 22, 10, 8}, 50, 53));
    EXPECT_EQ(b.y, 56);
    EXPECT_EQ(b.width, 22);
}

TEST(Bulge, SingleRowReportsItsWidthWithoutPosition) {
    Bulge b = bulge(outline({31}, 50, 50));
    EXPECT_EQ(b.y, -1);
    EXPECT_EQ(b.x, -1);
    EXPECT_EQ(b.width, 31);
    // Without traced rows nothing is read.
    SHAPE_PARAMS empty;
    b = bulge(empty);
    EXPECT_EQ(b.width, -1);
}

TEST(Bulge, SuddenWideningMarksTheStem) {
    // Width 40 for rows 0..11, a jump to 50 at index 12 (50 - 40 > 5, 50 > 48)
    // ends the walk: the last 40 was a new maximum, so there is no bulge.
    std::vector<int> widths(12, 40);
    widths.push_back(50);
    widths.push_back(30);
    Bulge b = bulge(outline(widths, 10, 60));
    EXPECT_EQ(b.width, -1);
    // A narrower row before the jump: the bulge is the last 40.
    widths[11] = 38;
    b = bulge(outline(widths, 10, 60));
    EXPECT_EQ(b.y, 20);
    EXPECT_EQ(b.width, 40);
    // The same jump within the first rows (index 10) is not a stem.
    std::vector<int> early(10, 40);
    early.push_back(50);
    early.push_back(30);
    b = bulge(outline(early, 10, 60));
    EXPECT_EQ(b.y, 20);
    EXPECT_EQ(b.width, 50);
    // A widening by more than 5 pixels but under 20 % continues the walk.
    std::vector<int> mild(12, 100);
    mild.push_back(106);
    mild.push_back(90);
    b = bulge(outline(mild, 10, 60));
    EXPECT_EQ(b.y, 22);
    EXPECT_EQ(b.width, 106);
    EXPECT_EQ(b.x, 100);
}

}  // namespace
}  // namespace orva
