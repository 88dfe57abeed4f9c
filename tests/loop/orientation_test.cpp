// Canonical orientation and border cutting against the source pixel of every
// position, refusals, marker and crosshair removal.
#include "loop/orientation.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "support/images.h"

namespace orva {
namespace {

using Bytes = std::vector<unsigned char>;
using test::geometry;

TEST(Orientation, EveryPixelComesFromItsSourcePixel) {
    // All positions, with and without halving, seeded borders and a canonical
    // geometry at or below the largest one; turned images run over several
    // bands of rows, and over whole and partial tiles of 16 columns.
    std::mt19937 rng(4711);
    const long W = 75, H = 53;
    Bytes src(W * H);
    for (auto& v : src) v = static_cast<unsigned char>(rng());
    const IMAGE im = geometry(W, H);
    for (int loop_pos = 0; loop_pos < 4; ++loop_pos)
        for (int sub = 0; sub < 2; ++sub)
            for (int trial = 0; trial < 4; ++trial) {
                int b[4];
                for (int& v : b) v = static_cast<int>(rng() % 4);
                IMAGE imc;
                ASSERT_EQ(get_new_format(im, imc, loop_pos, b, sub), 0);
                if (trial % 2 == 1) imc = geometry(imc.width - 1, imc.height - 1);
                Bytes out(imc.size, 0);
                ASSERT_EQ(cut_border(im, src, imc, out, loop_pos, 0, b, sub, nullptr), 0);
                const long s = sub ? 2 : 1;
                for (long r = 0; r < long{imc.height}; ++r)
                    for (long c = 0; c < long{imc.width}; ++c) {
                        const long x = loop_pos < 2    ? b[2] + s * c
                                       : loop_pos == 2 ? W - 1 - b[3] - s * r
                                                       : b[2] + s * r;
                        const long y = loop_pos == 0   ? b[1] + s * r
                                       : loop_pos == 1 ? H - 1 - b[0] - s * r
                                       : loop_pos == 2 ? b[1] + s * c
                                                       : H - 1 - b[0] - s * c;
                        ASSERT_EQ(out[r * imc.width + c], src[y * W + x])
                            << "pos " << loop_pos << " sub " << sub << " at " << c << "," << r;
                    }
            }
}

TEST(Orientation, RefusesUnknownPositionAndUnusableBorders) {
    const int none[4] = {0, 0, 0, 0};
    const IMAGE im = geometry(8, 8);
    IMAGE imc;
    imc.width = 77;
    EXPECT_EQ(get_new_format(im, imc, 4, none, 0), 2);
    EXPECT_EQ(get_new_format(im, imc, -1, none, 0), 2);
    EXPECT_EQ(imc.width, 77u);  // untouched

    Bytes src(64, 9), dst(64, 1);
    EXPECT_EQ(cut_border(im, src, geometry(8, 8), dst, 4, 0, none, 0, nullptr), 2);
    EXPECT_EQ(dst, Bytes(64, 1));  // nothing copied

    // Too wide, negative, or one column that halves to none.
    const int borders[][5] = {{0, 0, 4, 4, 0}, {0, -1, 0, 0, 0}, {0, 0, 3, 4, 1}};
    for (const auto& b : borders) EXPECT_EQ(get_new_format(im, imc, 0, b, b[4]), 2) << b[2];
    // A canonical geometry larger than the borders allow is refused, not read past.
    Bytes dst72(72, 0);
    EXPECT_EQ(cut_border(im, src, geometry(9, 8), dst72, 0, 0, none, 0, nullptr), 2);
}

// Background by column (100 left of column 200, else 200).
Bytes marker_scene(unsigned int w, unsigned int h) {
    Bytes b(w * h);
    for (unsigned int i = 0; i < w * h; ++i) b[i] = i % w < 200 ? 100 : 200;
    return b;
}

// A vertical bar of darkness 30 over columns c-4..c+4 on rows [y0, y1), its
// darkest pixel (10) at column darkest(y).
template <class Darkest>
void draw_bar_rows(Bytes& b, unsigned int w, int c, int y0, int y1, Darkest darkest) {
    for (int y = y0; y < y1; ++y) {
        for (int x = c - 4; x <= c + 4; ++x) b[y * w + x] = 30;
        b[y * w + darkest(y)] = 10;
    }
}

// A ramp a + step * k over ten pixels, k counted along x (or down y when
// `down`) from x0 (y0), in the rectangle x0..x1 by y0..y1 (inclusive).
struct Ramp {
    unsigned int x0, x1, y0, y1;
    int a, step;
    bool down = false;
};

// img equals before but for the ramps.
void expect_ramps(const Bytes& img, const Bytes& before, unsigned int w,
                  std::initializer_list<Ramp> ramps) {
    for (unsigned int i = 0; i < img.size(); ++i) {
        const unsigned int x = i % w, y = i / w;
        int want = before[i];
        for (const Ramp& r : ramps)
            if (x >= r.x0 && x <= r.x1 && y >= r.y0 && y <= r.y1)
                want = r.a + r.step * static_cast<int>(r.down ? y - r.y0 : x - r.x0);
        ASSERT_EQ(img[i], want) << x << "," << y;
    }
}

TEST(MarkerRemoval, TopBarBecomesRampUnlessItsPositionsDisagree) {
    const unsigned int w = 400, h = 130;
    Bytes img = marker_scene(w, h);
    draw_bar_rows(img, w, 200, 0, 50, [](int) { return 200; });
    Bytes before = img;
    remove_edge_markers(geometry(w, h), img, 0);
    // From a = 100 (column 195) to b = 200 (column 205) over columns 196..205,
    // on rows 0 .. 51 (the bar ends at scan line 40: length 40 + 12).
    expect_ramps(img, before, w, {{196, 205, 0, 51, 100, 10}});

    // The darkest pixel of scan line 2 (row 12) two columns off: left alone.
    img = marker_scene(w, h);
    draw_bar_rows(img, w, 200, 0, 50, [](int y) { return y == 12 ? 202 : 200; });
    img[12 * w + 202] = 5;
    before = img;
    remove_edge_markers(geometry(w, h), img, 0);
    EXPECT_EQ(img, before);
}

TEST(MarkerRemoval, BottomSearchFallsBackToDefaultColumnShiftedByLeftBorder) {
    // Left border 16: the default bar column is 376 - 16 = 360 in the cut image.
    const unsigned int W = 416, H = 130;
    const int border[4] = {0, 0, 16, 0};
    Bytes src(W * H, 200);
    // Top scan lines 0 and 2 disagree: the top test fails.
    src[10 * W + 16 + 150] = 5;
    src[12 * W + 16 + 160] = 5;
    draw_bar_rows(src, W, 16 + 360, 90, H, [](int) { return 16 + 360; });
    IMAGE imc;
    ASSERT_EQ(get_new_format(geometry(W, H), imc, 0, border, 0), 0);
    Bytes cut(imc.size);
    ASSERT_EQ(
        cut_border(geometry(W, H), src, imc, cut, 0, SPECIAL_EDGE_MARKERS, border, 0, nullptr), 0);
    // Bar gone (a ramp between two background pixels), the top dots untouched.
    for (unsigned int i = 0; i < cut.size(); ++i)
        if (i / 400 >= 80) {
            ASSERT_EQ(cut[i], 200) << i % 400 << "," << i / 400;
        }
    EXPECT_EQ(cut[10 * 400 + 150] + cut[12 * 400 + 160], 10);
}

TEST(MarkerRemoval, VerticalBarsRoundTheirCentresApartTrackTheBottomBarAndShareTheLength) {
    const unsigned int w = 400, h = 250;
    // Darkest column 200 or 201 by scan line pair: positions 200, 201, 200, 201
    // on scan lines 0, 2, 4, 6.
    auto alternating = [](int k) { return 200 + (k < 0 ? 0 : (k / 2) % 2); };
    auto scene = [&] {
        Bytes img = marker_scene(w, h);
        draw_bar_rows(img, w, 200, 0, 50, [&](int y) { return alternating(y - 10); });
        return img;
    };
    // Top centre (802 + 1) >> 2 = 200, bar ends at scan line 40: rows 0..51.
    // Bottom centre (802 + 2) >> 2 = 201. The bottom bar's darkest pixel jumps
    // four columns at scan line 30; tracked within one column it is lost
    // there, so its length is 30 + 12 (rows h-42..h-1) although it goes on.
    Bytes img = scene();
    draw_bar_rows(img, w, 200, int(h) - 61, int(h), [&](int y) {
        const int k = int(h) - 10 - y;
        return k >= 30 ? 204 : alternating(k);
    });
    Bytes before = img;
    remove_edge_markers(geometry(w, h), img, 0);
    // Bottom: a = 30 at column 196 (inside the drawn bar), b = 200 at column 206.
    expect_ramps(img, before, w, {{196, 205, 0, 51, 100, 10}, {197, 206, h - 42, h - 1, 30, 17}});

    // A bottom bar dark over every scan line has no length of its own: it
    // keeps the 52 rows found for the top bar.
    img = scene();
    draw_bar_rows(img, w, 200, 120, int(h), [](int) { return 200; });
    before = img;
    remove_edge_markers(geometry(w, h), img, 0);
    expect_ramps(img, before, w, {{196, 205, 0, 51, 100, 10}, {196, 205, h - 52, h - 1, 100, 10}});
}

TEST(MarkerRemoval, SideBarsBecomeRampsDownTheirColumns) {
    const unsigned int w = 300, h = 200;
    // Background 100 above row 101, 200 from there down; uniform along rows, so
    // the top and bottom searches find nothing to change.
    Bytes img(w * h);
    for (unsigned int i = 0; i < w * h; ++i) img[i] = i / w < 101 ? 100 : 200;
    // Left bar over columns 0..29, darkest row 100 or 101 by scan line pair:
    // centre (100 + 101 + 100 + 101 + 2) >> 2 = 101, length 20 + 12. Right bar
    // over the last 40 columns, the same rows: centre 101, length 31 + 12.
    for (int x = 0; x < int(w); ++x) {
        if (x >= 30 && x < int(w) - 40) continue;
        const int k = x < 30 ? x - 10 : int(w) - 10 - x;
        for (int y = 97; y <= 105; ++y) img[y * w + x] = 30;
        img[(100 + (k < 0 ? 0 : (k / 2) % 2)) * w + x] = 10;
    }
    const Bytes before = img;
    remove_edge_markers(geometry(w, h), img, 0);
    // Rows 97..106 from a = 100 (row 96) to b = 200 (row 106).
    expect_ramps(img, before, w,
                 {{0, 31, 97, 106, 100, 10, true}, {w - 43, w - 1, 97, 106, 100, 10, true}});
}

TEST(MarkerRemoval, SkipsSearchesThatDoNotFit) {
    // Too few rows for the vertical bars, too few columns for the side bars, and
    // a default column outside the image: nothing is read or written out of range.
    for (auto [w, h] : {std::pair{50u, 50u}, {60u, 200u}, {200u, 60u}, {121u, 121u}, {1u, 1u}}) {
        Bytes img(w * h);
        for (std::size_t i = 0; i < img.size(); ++i) img[i] = static_cast<unsigned char>(i * 7);
        const Bytes before = img;
        remove_edge_markers(geometry(w, h), img, 0);
        EXPECT_EQ(img, before) << w << "x" << h;
    }
}

TEST(CrosshairRemoval, FiltersInnerRowsOnly) {
    const unsigned int w = 12, h = 12;
    Bytes img(w * h, 50);
    for (unsigned int x = 0; x < w; ++x) img[1 * w + x] = img[6 * w + x] = 250;  // lines
    for (unsigned int y = 0; y < h; ++y) img[y * w + 5] = img[y * w + 0] = 250;  // columns
    Bytes want = img;
    for (unsigned int x = 1; x < w; ++x) want[6 * w + x] = 50;  // horizontal line removed
    for (unsigned int y = 3; y < 9; ++y) want[y * w + 5] = 50;  // thin vertical line removed
    remove_crosshairs(geometry(w, h), img);  // rows 0..2 and 9..11 and column 0 stay
    EXPECT_EQ(img, want);
}

}  // namespace
}  // namespace orva
