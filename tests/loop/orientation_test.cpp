// Canonical orientation, border cutting, decimation, marker and crosshair removal.
#include "loop/orientation.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace orva {
namespace {

IMAGE geometry(unsigned int w, unsigned int h) {
    IMAGE im;
    im.width = w;
    im.height = h;
    im.size = static_cast<unsigned long>(w) * h;
    return im;
}

// Source whose pixel value encodes its position: y * W + x.
std::vector<unsigned char> coded(unsigned int w, unsigned int h) {
    std::vector<unsigned char> b(static_cast<std::size_t>(w) * h);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<unsigned char>(i);
    return b;
}

struct Cut {
    IMAGE imc;
    std::vector<unsigned char> pix;
    int status = 0;
    unsigned char at(unsigned int c, unsigned int r) const { return pix[r * imc.width + c]; }
};

Cut cut(const IMAGE& im, const std::vector<unsigned char>& src, int loop_pos, const int* border,
        int sub_flag, int special = 0) {
    Cut out;
    out.status = get_new_format(im, out.imc, loop_pos, border, sub_flag);
    if (out.status != 0) return out;
    out.pix.assign(out.imc.size, 0);
    out.status =
        cut_border(im, src, out.imc, out.pix, loop_pos, special, border, sub_flag, nullptr);
    return out;
}

TEST(Orientation, LeftLoopTurnsRightEdgeToTop) {
    const int none[4] = {0, 0, 0, 0};
    IMAGE im = geometry(5, 3);
    Cut c = cut(im, coded(5, 3), 2, none, 0);
    ASSERT_EQ(c.status, 0);
    EXPECT_EQ(c.imc.width, 3u);
    EXPECT_EQ(c.imc.height, 5u);
    EXPECT_EQ(c.imc.size, 15u);
    EXPECT_EQ(c.at(0, 0), 4);   // source top-right
    EXPECT_EQ(c.at(2, 0), 14);  // source bottom-right
    EXPECT_EQ(c.at(0, 4), 0);   // source top-left
}

TEST(Orientation, AllPositionsWithBordersAndDecimation) {
    // bottom 1, top 2, left 3, right 1 on a 12 x 10 source, halved.
    const int border[4] = {1, 2, 3, 1};
    IMAGE im = geometry(12, 10);
    auto src = coded(12, 10);
    struct Expect {
        int loop_pos;
        unsigned int w, h;
        unsigned char first, last;
    };
    const Expect cases[] = {
        {0, 4, 3, 27, 81},  // (3,2) and (9,6)
        {1, 4, 3, 99, 57},  // (3,8) and (9,4)
        {2, 3, 4, 34, 76},  // (10,2) and (4,6)
        {3, 3, 4, 99, 57},  // (3,8) and (9,4)
    };
    for (const auto& e : cases) {
        SCOPED_TRACE(e.loop_pos);
        Cut c = cut(im, src, e.loop_pos, border, 1);
        ASSERT_EQ(c.status, 0);
        EXPECT_EQ(c.imc.width, e.w);
        EXPECT_EQ(c.imc.height, e.h);
        EXPECT_EQ(c.at(0, 0), e.first);
        EXPECT_EQ(c.at(e.w - 1, e.h - 1), e.last);
    }
}

TEST(Orientation, OddSizesDropTheRemainderWhenHalved) {
    const int none[4] = {0, 0, 0, 0};
    IMAGE imc;
    ASSERT_EQ(get_new_format(geometry(641, 11), imc, 0, none, 1), 0);
    EXPECT_EQ(imc.width, 320u);
    EXPECT_EQ(imc.height, 5u);
    EXPECT_EQ(imc.size, 1600u);
    ASSERT_EQ(get_new_format(geometry(641, 11), imc, 3, none, 1), 0);
    EXPECT_EQ(imc.width, 5u);
    EXPECT_EQ(imc.height, 320u);
}

TEST(Orientation, RefusesUnknownPositionAndUnusableBorders) {
    const int none[4] = {0, 0, 0, 0};
    IMAGE im = geometry(8, 8);
    IMAGE imc;
    imc.width = 77;
    EXPECT_EQ(get_new_format(im, imc, 4, none, 0), 2);
    EXPECT_EQ(get_new_format(im, imc, -1, none, 0), 2);
    EXPECT_EQ(imc.width, 77u);  // untouched

    std::vector<unsigned char> src(64, 9), dst(64, 1);
    IMAGE same = geometry(8, 8);
    EXPECT_EQ(cut_border(im, src, same, dst, 4, 0, none, 0, nullptr), 2);
    EXPECT_EQ(dst, std::vector<unsigned char>(64, 1));  // nothing copied

    const int too_wide[4] = {0, 0, 4, 4};
    const int negative[4] = {0, -1, 0, 0};
    const int leaves_one[4] = {0, 0, 3, 4};
    EXPECT_EQ(get_new_format(im, imc, 0, too_wide, 0), 2);
    EXPECT_EQ(get_new_format(im, imc, 0, negative, 0), 2);
    EXPECT_EQ(get_new_format(im, imc, 0, leaves_one, 1), 2);  // one column halves to none
    // A canonical geometry larger than the borders allow is refused, not read past.
    IMAGE big = geometry(9, 8);
    std::vector<unsigned char> dst72(72, 0);
    EXPECT_EQ(cut_border(im, src, big, dst72, 0, 0, none, 0, nullptr), 2);
}

// Canonical test scene for the marker search: background by column, optional
// vertical bar with its darkest column in the middle.
std::vector<unsigned char> marker_scene(unsigned int w, unsigned int h) {
    std::vector<unsigned char> b(w * h);
    for (unsigned int y = 0; y < h; ++y)
        for (unsigned int x = 0; x < w; ++x) b[y * w + x] = x < 200 ? 100 : 200;
    return b;
}

void draw_vertical_bar(std::vector<unsigned char>& b, unsigned int w, int centre, int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
        for (int x = centre - 4; x <= centre + 4; ++x) b[y * w + x] = 30;
        b[y * w + centre] = 10;
    }
}

TEST(MarkerRemoval, TopBarBecomesRampUnlessItsPositionsDisagree) {
    const unsigned int w = 400, h = 130;
    IMAGE imc = geometry(w, h);
    auto img = marker_scene(w, h);
    draw_vertical_bar(img, w, 200, 0, 50);
    auto before = img;
    remove_edge_markers(imc, img, 0);
    // Ramp from a = 100 (column 195) to b = 200 (column 205) over columns 196..205,
    // on rows 0 .. 51 (bar ends at scan line 40: length 40 + 12).
    for (unsigned int y = 0; y < 52; ++y)
        for (int k = 0; k < 10; ++k) ASSERT_EQ(img[y * w + 196 + k], 100 + 10 * k) << y << " " << k;
    for (unsigned int x = 190; x < 210; ++x) EXPECT_EQ(img[52 * w + x], before[52 * w + x]);
    // Rows 0..51 outside the bar and everything else are unchanged.
    for (unsigned int y = 0; y < h; ++y)
        for (unsigned int x = 0; x < w; ++x)
            if (y >= 52 || x < 196 || x > 205) {
                ASSERT_EQ(img[y * w + x], before[y * w + x]);
            }

    // The darkest pixel of scan line 2 (row 12) two columns off: left alone.
    img = marker_scene(w, h);
    draw_vertical_bar(img, w, 200, 0, 50);
    img[12 * w + 200] = 30;
    img[12 * w + 202] = 5;
    before = img;
    remove_edge_markers(imc, img, 0);
    EXPECT_EQ(img, before);
}

TEST(MarkerRemoval, BottomSearchFallsBackToDefaultColumnShiftedByLeftBorder) {
    // Left border 16: the default bar column is 376 - 16 = 360 in the cut image.
    const unsigned int W = 416, H = 130;
    const int border[4] = {0, 0, 16, 0};
    std::vector<unsigned char> src(W * H, 200);
    // Top scan lines 0 and 2 disagree: the top test fails.
    src[10 * W + 16 + 150] = 5;
    src[12 * W + 16 + 160] = 5;
    // Bottom bar, darkest at cut column 360, rows 90..129.
    for (unsigned int y = 90; y < H; ++y) {
        for (int x = 356; x <= 364; ++x) src[y * W + 16 + x] = 30;
        src[y * W + 16 + 360] = 10;
    }
    Cut c = cut(geometry(W, H), src, 0, border, 0, SPECIAL_EDGE_MARKERS);
    ASSERT_EQ(c.status, 0);
    ASSERT_EQ(c.imc.width, 400u);
    // Bar gone (ramp between two background pixels), the top dots untouched.
    for (unsigned int y = 80; y < H; ++y)
        for (unsigned int x = 340; x < 380; ++x) ASSERT_EQ(c.at(x, y), 200) << x << " " << y;
    EXPECT_EQ(c.at(150, 10), 5);
    EXPECT_EQ(c.at(160, 12), 5);
}

// Bar of darkness 30 over columns c-4..c+4 on rows [y0, y1), with its darkest
// pixel (10) at darkest(y).
template <class Darkest>
void draw_bar_rows(std::vector<unsigned char>& b, unsigned int w, int c, int y0, int y1,
                   Darkest darkest) {
    for (int y = y0; y < y1; ++y) {
        for (int x = c - 4; x <= c + 4; ++x) b[y * w + x] = 30;
        b[y * w + darkest(y)] = 10;
    }
}

TEST(MarkerRemoval, VerticalBarsRoundTheirCentresApartTrackTheBottomBarAndShareTheLength) {
    const unsigned int w = 400, h = 250;
    IMAGE imc = geometry(w, h);
    // Darkest column 200 or 201 by scan line pair: positions 200, 201, 200, 201
    // on scan lines 0, 2, 4, 6.
    auto alternating = [](int k) { return 200 + (k < 0 ? 0 : (k / 2) % 2); };
    auto top_bar = [&](std::vector<unsigned char>& img) {
        draw_bar_rows(img, w, 200, 0, 50, [&](int y) { return alternating(y - 10); });
    };

    // Top centre (802 + 1) >> 2 = 200, bar ends at scan line 40: rows 0..51.
    // Bottom centre (802 + 2) >> 2 = 201. The bottom bar's darkest pixel jumps
    // four columns at scan line 30; tracked within one column it is lost
    // there, so its length is 30 + 12 (rows h-42..h-1) although it goes on to
    // scan line 51.
    auto img = marker_scene(w, h);
    top_bar(img);
    draw_bar_rows(img, w, 200, static_cast<int>(h) - 61, static_cast<int>(h), [&](int y) {
        const int k = static_cast<int>(h) - 10 - y;
        return k >= 30 ? 204 : alternating(k);
    });
    auto before = img;
    remove_edge_markers(imc, img, 0);
    // Top: a = 100 at column 195, b = 200 at column 205.
    for (unsigned int y = 0; y < 52; ++y)
        for (int k = 0; k < 10; ++k) ASSERT_EQ(img[y * w + 196 + k], 100 + 10 * k) << y;
    // Bottom: a = 30 at column 196 (inside the drawn bar), b = 200 at column 206.
    for (unsigned int y = h - 42; y < h; ++y)
        for (int k = 0; k < 10; ++k) ASSERT_EQ(img[y * w + 197 + k], 30 + 17 * k) << y;
    for (unsigned int y = 0; y < h; ++y)
        if (y >= 52 && y < h - 42) {
            for (unsigned int x = 190; x < 210; ++x) ASSERT_EQ(img[y * w + x], before[y * w + x]);
        }

    // A bottom bar dark over every scan line has no length of its own: it
    // keeps the 52 rows found for the top bar.
    img = marker_scene(w, h);
    top_bar(img);
    draw_bar_rows(img, w, 200, 120, static_cast<int>(h), [](int) { return 200; });
    before = img;
    remove_edge_markers(imc, img, 0);
    for (unsigned int y = h - 52; y < h; ++y)
        for (int k = 0; k < 10; ++k) ASSERT_EQ(img[y * w + 196 + k], 100 + 10 * k) << y;
    for (unsigned int x = 190; x < 210; ++x)
        EXPECT_EQ(img[(h - 53) * w + x], before[(h - 53) * w + x]) << x;
}

TEST(MarkerRemoval, SideBarsBecomeRampsDownTheirColumns) {
    const unsigned int w = 300, h = 200;
    IMAGE imc = geometry(w, h);
    // Background 100 above row 101, 200 from there down; uniform along rows, so
    // the top and bottom searches find nothing to change.
    std::vector<unsigned char> img(w * h);
    for (unsigned int y = 0; y < h; ++y)
        for (unsigned int x = 0; x < w; ++x) img[y * w + x] = y < 101 ? 100 : 200;
    // Left bar over columns 0..29, darkest row 100 or 101 by scan line pair:
    // centre (100 + 101 + 100 + 101 + 2) >> 2 = 101, length 20 + 12.
    for (int x = 0; x < 30; ++x) {
        for (int y = 97; y <= 105; ++y) img[y * w + x] = 30;
        img[(100 + (x < 10 ? 0 : ((x - 10) / 2) % 2)) * w + x] = 10;
    }
    // Right bar over the last 40 columns, the same rows: centre 101, length
    // 31 + 12.
    for (int x = w - 40; x < static_cast<int>(w); ++x) {
        const int k = static_cast<int>(w) - 10 - x;
        for (int y = 97; y <= 105; ++y) img[y * w + x] = 30;
        img[(100 + (k < 0 ? 0 : (k / 2) % 2)) * w + x] = 10;
    }
    auto before = img;
    remove_edge_markers(imc, img, 0);
    // Rows 97..106 of columns 0..31 and w-43..w-1, from a = 100 (row 96) to
    // b = 200 (row 106).
    for (unsigned int y = 0; y < h; ++y)
        for (unsigned int x = 0; x < w; ++x) {
            unsigned char want = before[y * w + x];
            if ((x < 32 || x >= w - 43) && y >= 97 && y <= 106)
                want = static_cast<unsigned char>(100 + 10 * (y - 97));
            ASSERT_EQ(img[y * w + x], want) << x << "," << y;
        }
}

TEST(MarkerRemoval, SkipsSearchesThatDoNotFit) {
    // Too few rows for the vertical bars, too few columns for the side bars, and
    // a default column outside the image: nothing is read or written out of range.
    for (auto [w, h] : {std::pair{50u, 50u}, std::pair{60u, 200u}, std::pair{200u, 60u},
                        std::pair{121u, 121u}, std::pair{1u, 1u}}) {
        IMAGE imc = geometry(w, h);
        std::vector<unsigned char> img(w * h);
        for (std::size_t i = 0; i < img.size(); ++i) img[i] = static_cast<unsigned char>(i * 7);
        auto before = img;
        remove_edge_markers(imc, img, 0);
        EXPECT_EQ(img, before) << w << "x" << h;
    }
}

TEST(CrosshairRemoval, FiltersInnerRowsOnly) {
    const unsigned int w = 12, h = 12;
    IMAGE imc = geometry(w, h);
    std::vector<unsigned char> img(w * h, 50);
    for (unsigned int x = 0; x < w; ++x) img[1 * w + x] = img[6 * w + x] = 250;  // lines
    for (unsigned int y = 0; y < h; ++y) img[y * w + 5] = img[y * w + 0] = 250;  // columns
    auto before = img;
    remove_crosshairs(imc, img);
    for (unsigned int x = 0; x < w; ++x) {
        for (unsigned int y : {0u, 1u, 2u, 9u, 10u, 11u})
            EXPECT_EQ(img[y * w + x], before[y * w + x]);
        EXPECT_EQ(img[6 * w + x], x == 0 ? 250 : 50) << x;  // horizontal line removed
    }
    for (unsigned int y = 3; y < 9; ++y) {
        EXPECT_EQ(img[y * w + 5], 50) << y;   // thin vertical line removed
        EXPECT_EQ(img[y * w + 0], 250) << y;  // outer column not filtered across
    }
}

}  // namespace
}  // namespace orva
