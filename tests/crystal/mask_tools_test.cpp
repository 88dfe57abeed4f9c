// Mask tools: empty rows and flank notches filled, window values outside the
// mask cleared, and the centroid of the strongest values of a map.
#include "crystal/mask_tools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "support/images.h"

namespace orva {
namespace {

using test::geometry;

struct Mask {
    unsigned int width, height;
    std::vector<unsigned char> px;
    Mask(unsigned int w, unsigned int h) : width(w), height(h), px(w * h, 0) {}
    void run(unsigned int y, unsigned int from, unsigned int to) {  // from <= x <= to
        for (unsigned int x = from; x <= to; ++x) px[y * width + x] = 1;
    }
    void clear_row(unsigned int y) {
        std::fill_n(px.begin() + static_cast<long>(y) * width, width, 0);
    }
    bool at(unsigned int x, unsigned int y) const { return px[y * width + x] != 0; }
    // Left- and right-most set columns of row y (-1 when empty).
    int left(unsigned int y) const {
        for (unsigned int x = 0; x < width; ++x)
            if (at(x, y)) return static_cast<int>(x);
        return -1;
    }
    int right(unsigned int y) const {
        for (int x = static_cast<int>(width) - 1; x >= 0; --x)
            if (at(static_cast<unsigned int>(x), y)) return x;
        return -1;
    }
    int count(unsigned int y) const {
        return static_cast<int>(std::count(px.begin() + static_cast<long>(y) * width,
                                           px.begin() + static_cast<long>(y + 1) * width, 1));
    }
};

// Rectangle rows 5..44, columns 10..49 (40 wide); every seventh row starts one
// column further in, so the flank steps are not all equal and a 10-pixel step
// stands out for the outlier test.
Mask jittered_rectangle() {
    Mask m(64, 60);
    for (unsigned int y = 5; y <= 44; ++y) m.run(y, y % 7 == 0 ? 11 : 10, y % 7 == 0 ? 48 : 49);
    return m;
}

TEST(SmoothMask, FillsEmptyRowsInsideTheObjectOnly) {
    Mask m(40, 30);
    for (unsigned int y = 5; y <= 15; ++y) m.run(y, 10, 30);
    m.run(9, 8, 30);  // wider row above the gap
    m.clear_row(10);
    m.clear_row(11);
    const Mask before = m;
    smooth_mask(geometry(40, 30), m.px);
    // Both empty rows take the extent of row 9 (inclusive of its right end).
    for (unsigned int y : {10u, 11u}) {
        EXPECT_EQ(m.left(y), 8);
        EXPECT_EQ(m.right(y), 30);
        EXPECT_EQ(m.count(y), 23);
    }
    // Rows above the object and below its last row stay empty.
    for (unsigned int y : {0u, 4u, 16u, 29u}) EXPECT_EQ(m.count(y), 0);
    for (unsigned int y = 0; y < 30; ++y) {
        if (y == 10 || y == 11) continue;
        for (unsigned int x = 0; x < 40; ++x) EXPECT_EQ(m.at(x, y), before.at(x, y));
    }
}

TEST(SmoothMask, EmptyAndTwoRowMasksAndBorderPixels) {
    Mask empty(20, 20);
    smooth_mask(geometry(20, 20), empty.px);
    EXPECT_EQ(std::count(empty.px.begin(), empty.px.end(), 1), 0);

    // Two rows with a big flank jump: at most two rows, nothing is smoothed.
    Mask two(40, 20);
    two.run(5, 5, 30);
    two.run(6, 20, 30);
    const Mask before = two;
    smooth_mask(geometry(40, 20), two.px);
    EXPECT_EQ(two.px, before.px);

    // Row 0 and the outer columns are not examined: an object there alone is no object.
    Mask border(20, 20);
    border.run(0, 0, 19);
    for (unsigned int y = 1; y < 20; ++y) border.px[y * 20] = border.px[y * 20 + 19] = 1;
    const Mask border_before = border;
    smooth_mask(geometry(20, 20), border.px);
    EXPECT_EQ(border.px, border_before.px);
}

TEST(SmoothMask, FillsNotchesOfBothFlanks) {
    // Left: rows 20..24 start at column 20 instead of 10. Right: rows 30..33
    // end at 39; filled up to, not including, the held right-most column 49.
    Mask m = jittered_rectangle();
    for (unsigned int y = 20; y <= 24; ++y) {
        m.clear_row(y);
        m.run(y, 20, 49);
    }
    for (unsigned int y = 30; y <= 33; ++y) {
        m.clear_row(y);
        m.run(y, y % 7 == 0 ? 11 : 10, 39);
    }
    smooth_mask(geometry(64, 60), m.px);
    for (unsigned int y = 20; y <= 24; ++y) EXPECT_EQ(m.left(y) * 100 + m.count(y), 1040) << y;
    for (unsigned int y = 30; y <= 33; ++y) {
        EXPECT_EQ(m.right(y), 48) << "row " << y;
        EXPECT_EQ(m.count(y), 48 - m.left(y) + 1);
    }
    // The rows after the notches are not touched (the outward step ends the fill).
    EXPECT_EQ(std::vector<int>({m.left(25), m.left(28), m.right(34), m.right(35)}),
              std::vector<int>({10, 11, 49, 48}));
}

TEST(SmoothMask, GradualReturnEndsTheFillWithinThirtyPercent) {
    // Left flank jumps in by 20 at row 20 (the only outlier), stays for three
    // rows, then comes back in steps of 4: 16, 12, 8, 4, 4, 4, 0.
    Mask m = jittered_rectangle();
    const unsigned int inset[] = {20, 20, 20, 16, 12, 8, 4, 4, 4};
    for (unsigned int k = 0; k < 9; ++k) {
        m.clear_row(20 + k);
        m.run(20 + k, 10 + inset[k], 49);
    }
    smooth_mask(geometry(64, 60), m.px);
    // Rows up to the one back within 30 % of the depth 20 (inset 4 < 6) are filled.
    for (unsigned int y = 20; y <= 26; ++y) EXPECT_EQ(m.left(y), 10) << "row " << y;
    // After that the flank is left where it was.
    EXPECT_EQ(m.left(27), 14);
    EXPECT_EQ(m.left(28), 14);
}

TEST(MaskObject, ClearsWindowValuesOutsideTheMask) {
    const IMAGE im = geometry(10, 8);
    std::vector<unsigned char> mask(80, 0);
    mask[3 * 10 + 4] = 1;  // image (4, 3) = window (2, 1)
    mask[4 * 10 + 6] = 7;  // image (6, 4) = window (4, 2), any nonzero value
    mask[0] = 1;           // outside the window
    const std::array<unsigned int, 4> roi = {2, 7, 2, 5};  // 5 x 3 window
    std::vector<float> win(15);
    std::iota(win.begin(), win.end(), 1.0f);
    EXPECT_EQ(mask_object(im, mask, win, roi), 0);
    for (unsigned int i = 0; i < 15; ++i) {
        const bool inside = i == 1 * 5 + 2 || i == 2 * 5 + 4;
        EXPECT_FLOAT_EQ(win[i], inside ? static_cast<float>(i + 1) : 0.0f) << i;
    }
}

// 32 x 32 map: the values 1..1000 at seeded random places, 24 zeros.
std::vector<float> shuffled_map() {
    std::vector<float> map(1024, 0.0f);
    for (unsigned int v = 1; v <= 1000; ++v) map[v - 1] = static_cast<float>(v);
    std::mt19937 rng(12345);
    std::shuffle(map.begin(), map.end(), rng);
    return map;
}

TEST(GetCentremax, CentroidOfTheTopPercentOfThePositiveValues) {
    const std::vector<float> map = shuffled_map();
    // min_pos 24, idx 24 + 990 = 1014 -> threshold 991: the nine values 992..1000.
    unsigned long sx = 0, sy = 0;
    for (unsigned int i = 0; i < 1024; ++i)
        if (map[i] > 991.0f) sx += i % 32, sy += i / 32;
    int xc = -1, yc = -1;
    EXPECT_EQ(get_centremax(map, 32, 32, 1, xc, yc), 0);
    EXPECT_EQ(xc, static_cast<int>(sx / 9));
    EXPECT_EQ(yc, static_cast<int>(sy / 9));

    // Window rows and columns are not swapped for a non-square map.
    std::vector<float> wide(40 * 10, 0.0f);
    wide[7 * 40 + 33] = 5.0f;
    for (unsigned int i = 0; i < 100; ++i) wide[i] += 1.0f;  // rows 0..2 get small values
    EXPECT_EQ(get_centremax(wide, 40, 10, 1, xc, yc), 0);
    EXPECT_EQ(xc, 33);
    EXPECT_EQ(yc, 7);
}

TEST(GetCentremax, TiesAtTheThresholdAreExcluded) {
    // Sorted: 24 zeros, 986 ones, 7 fives (1010..1016), 7 sevens: threshold sorted[1014] = 5.
    std::vector<float> map(1024, 1.0f);
    std::fill_n(map.begin(), 24, 0.0f);
    const unsigned int fives[] = {100, 200, 300, 400, 500, 600, 700};
    const unsigned int sevens[] = {33, 65, 97, 129, 161, 193, 225};  // column 1, rows 1..7
    for (unsigned int i : fives) map[i] = 5.0f;
    for (unsigned int i : sevens) map[i] = 7.0f;
    int xc = -1, yc = -1;
    get_centremax(map, 32, 32, 1, xc, yc);
    EXPECT_EQ(xc, 1);
    EXPECT_EQ(yc, 4);

    // All the top values equal: nothing lies above the threshold.
    std::fill(map.begin(), map.end(), 3.0f);
    testing::internal::CaptureStderr();
    get_centremax(map, 32, 32, 1, xc, yc);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\n nothing found in get_centremax");
    EXPECT_EQ(xc, 0);
    EXPECT_EQ(yc, 0);
}

TEST(GetCentremax, EmptyMapsAndOddPercentages) {
    std::vector<float> zeros(1024, 0.0f);
    int xc = 9, yc = 9;
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_centremax(zeros, 32, 32, 1, xc, yc), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\n nothing found in get_centremax");
    EXPECT_EQ(xc, 0);
    EXPECT_EQ(yc, 0);

    // Percent 0 with no positive value would index past the end; percent above
    // 100 counts as 100 (all values above the smallest positive one).
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_centremax(zeros, 32, 32, 0, xc, yc), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(xc, 0);
    std::vector<float> map = shuffled_map();
    int x100 = 0, y100 = 0;
    EXPECT_EQ(get_centremax(map, 32, 32, 100, x100, y100), 0);
    EXPECT_EQ(get_centremax(map, 32, 32, 250, xc, yc), 0);
    EXPECT_EQ(xc, x100);
    EXPECT_EQ(yc, y100);
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_centremax(map, 32, 32, 0, xc, yc), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\n nothing found in get_centremax");
    // All values positive: index 0 is still never the first positive one, so
    // at 100 % the smallest value is the threshold and not counted.
    EXPECT_EQ(get_centremax(std::vector<float>{1.0f, 2.0f, 3.0f, 4.0f}, 2, 2, 100, xc, yc), 0);
    EXPECT_EQ(xc, 0);
    EXPECT_EQ(yc, 1);

    // A missing or short map.
    testing::internal::CaptureStderr();
    xc = yc = 5;
    EXPECT_EQ(get_centremax({}, 32, 32, 1, xc, yc), 2);
    EXPECT_EQ(get_centremax(std::span<const float>(map).first(100), 32, 32, 1, xc, yc), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\n get_centremax: bptr is NULL!\n get_centremax: bptr is NULL!");
    EXPECT_EQ(xc, 5);
}

}  // namespace
}  // namespace orva
