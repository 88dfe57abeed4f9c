// The centring image inside the loop: skipped images, the loop mask, a
// textured crystal found near its centre; the mask tools (empty rows and
// flank notches filled, window values outside the mask cleared) and the
// centroid of the strongest values against a fully sorted threshold.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "crystal/centring_image.h"
#include "crystal/mask_tools.h"
#include "support/images.h"
#include "toolkit/heap_sort.h"

namespace orva {
namespace {

using test::geometry;

// A loop record whose contour rows first..last run from column left to right,
// with the loop box of its top `rows` rows, as the loop extraction sets it.
SHAPE_PARAMS rectangular_loop(unsigned int first, unsigned int last, unsigned int left,
                              unsigned int right, unsigned int rows) {
    SHAPE_PARAMS s;
    s.type = P050;
    for (unsigned int y = first; y <= last; ++y) {
        s.x_coord_left.push_back(left);
        s.y_coord_left.push_back(y);
        s.x_coord_right.push_back(right);
        s.y_coord_right.push_back(y);
    }
    s.num_coord_left = s.num_coord_right = last - first + 1;
    s.box_l = left;
    s.box_r = right;
    s.box_t = first;
    s.box_b = first + rows;
    return s;
}

struct Positions {
    std::vector<int> x1, y1, x2, y2;
    explicit Positions(std::size_t n, int fill = 7)
        : x1(n, fill), y1(n, fill), x2(n, fill), y2(n, fill) {}
};

int run(const IMAGE& imc, const std::vector<ByteBuffer>& images,
        const std::vector<SHAPE_PARAMS>& shapes, Positions& p, std::vector<int> flags = {}) {
    if (flags.empty()) flags.assign(images.size(), 1);
    return algo_1(static_cast<int>(images.size()), flags, imc, images, shapes, p.x1, p.y1, p.x2,
                  p.y2, nullptr);
}

TEST(CentringImage, SkippedImagesGetZeroAndNoIndex) {
    const IMAGE imc = geometry(60, 50);
    std::vector<ByteBuffer> images(3, ByteBuffer(imc.size, 128));
    std::vector<SHAPE_PARAMS> shapes(3);
    shapes[0] = rectangular_loop(5, 40, 10, 50, 30);
    shapes[0].type = NO_OBJECT;                        // empty image
    shapes[1] = rectangular_loop(5, 40, 10, 50, 30);   // switched off below
    shapes[2] = rectangular_loop(20, 40, 10, 50, 10);  // all contour rows
    shapes[2].box_t = 5;                               // below the box bottom
    shapes[2].box_b = 15;
    Positions p(3);
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(imc, images, shapes, p, {1, 0, 1}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\n Centring Images:   2");
    const std::vector<int> zeros(3, 0);
    EXPECT_TRUE(p.x1 == zeros && p.y1 == zeros && p.x2 == zeros && p.y2 == zeros);
}

TEST(CentringImage, LoopMaskStopsBelowTheBoxBottom) {
    const IMAGE imc = geometry(30, 20);
    SHAPE_PARAMS s = rectangular_loop(2, 15, 5, 9, 6);  // box_b = 8
    s.x_coord_right[0] = 12;                            // widths 7, 4, 4, ... : mean 29 / 7 = 4
    std::vector<unsigned char> mask(imc.size, 9);
    unsigned int loop_width = 0;
    ASSERT_TRUE(draw_loop_mask(imc, s, mask, loop_width));
    EXPECT_EQ(loop_width, 4u);
    for (unsigned int y = 0; y < 20; ++y)
        for (unsigned int x = 0; x < 30; ++x) {
            const bool in_rows = y >= 2 && y <= 8;  // row box_b itself belongs to the loop
            const unsigned int right = y == 2 ? 12 : 9;
            const bool set = in_rows && x >= 5 && x < right;  // right contour pixel stays 0
            EXPECT_EQ(mask[y * 30 + x], set ? 1 : 0) << x << "," << y;
        }

    // No contour row at or above box_b: nothing drawn, no width.
    s.box_b = 1;
    EXPECT_FALSE(draw_loop_mask(imc, s, mask, loop_width));
    EXPECT_EQ(loop_width, 0u);
    EXPECT_EQ(std::count(mask.begin(), mask.end(), 0), 600);
}

// Canonical 200 x 220 image: bright noisy background, a dark loop rim and a
// dark crystal textured in 4 x 4 blocks, a parallelogram with corners
// (85, 70), (115, 70), (110, 100), (80, 100) and a soft 6-pixel edge, as a
// camera blurs it. Its centre is (97.5, 85).
ByteBuffer crystal_scene() {
    const unsigned int W = 200, H = 220;
    ByteBuffer img(W * H);
    std::mt19937 rng(2024);
    std::vector<int> texture(W * H);
    for (int& t : texture) t = static_cast<int>(rng() % 141) - 70;
    const double slant = 6.0 / std::sqrt(37.0);  // distance per column across a side edge
    for (unsigned int y = 0; y < H; ++y)
        for (unsigned int x = 0; x < W; ++x) {
            double v = 180 + static_cast<int>(rng() % 11) - 5;
            if ((x >= 38 && x <= 42) || (x >= 158 && x <= 162)) v = 70;  // loop rim
            // Signed distance inside the parallelogram; sides at x = 85 - (y - 70) / 6
            // and x = 115 - (y - 70) / 6.
            const double shift = (static_cast<double>(y) - 70.0) / 6.0;
            const double inside = std::min(
                {y - 70.0, 100.0 - y, (x - (85 - shift)) * slant, ((115 - shift) - x) * slant});
            const double cover = std::clamp((inside + 3.0) / 6.0, 0.0, 1.0);
            const double crystal = 100 + texture[(y / 4) * W + x / 4];
            v = v * (1 - cover) + crystal * cover;
            img[y * W + x] = static_cast<unsigned char>(std::clamp(v, 0.0, 255.0));
        }
    return img;
}

TEST(CentringImage, FindsATexturedCrystalInsideTheLoop) {
    const IMAGE imc = geometry(200, 220);
    std::vector<ByteBuffer> images = {crystal_scene()};
    std::vector<SHAPE_PARAMS> shapes = {rectangular_loop(30, 190, 40, 160, 110)};
    Positions p(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(imc, images, shapes, p), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\n Centring Images:   0");
    // Both estimates land inside the crystal, near its centre.
    EXPECT_NEAR(p.x1[0], 97.5, 8);
    EXPECT_NEAR(p.y1[0], 85, 8);
    EXPECT_NEAR(p.x2[0], 97.5, 5);
    EXPECT_NEAR(p.y2[0], 85, 5);
}

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

TEST(MaskObject, MatchesAPixelByPixelWalkOnRandomWindows) {
    // Windows reaching past the right and bottom edges, a mask buffer shorter
    // than the image and a window buffer shorter than the window.
    std::mt19937 rng(777);
    const IMAGE im = geometry(45, 30);
    for (int trial = 0; trial < 60; ++trial) {
        std::vector<unsigned char> mask(im.size - (trial % 3 == 0 ? 100 : 0));
        for (auto& v : mask) v = static_cast<unsigned char>(rng() % 3);
        const auto x0 = static_cast<unsigned int>(rng() % 50),
                   y0 = static_cast<unsigned int>(rng() % 35);
        const auto ww = static_cast<unsigned int>(1 + rng() % 40),
                   wh = static_cast<unsigned int>(1 + rng() % 20);
        const std::array<unsigned int, 4> roi = {x0, x0 + ww, y0, y0 + wh};
        std::vector<float> win(trial % 4 == 0 ? ww * wh / 2 : ww * wh);
        std::iota(win.begin(), win.end(), 1.0f);
        std::vector<float> want = win;
        for (std::size_t w = 0; w < std::min<std::size_t>(want.size(), ww * wh); ++w) {
            const std::size_t ix = roi[0] + w % ww, p = (roi[2] + w / ww) * 45 + ix;
            if (ix >= 45 || p >= mask.size() || mask[p] == 0) want[w] = 0.0f;
        }
        EXPECT_EQ(mask_object(im, mask, win, roi), 0);
        ASSERT_EQ(win, want) << "trial " << trial;
    }
}

// The threshold and centroid as defined: a full heap sort of the map; the
// first index is never the first positive one.
std::pair<int, int> plain_centremax(const std::vector<float>& map, unsigned int width,
                                    unsigned int percent) {
    const unsigned long N = map.size();
    std::vector<float> sorted = map;
    heap_sort_f_(N, sorted);
    unsigned long min_pos = 0;
    for (unsigned long i = 1; i < N && min_pos == 0; ++i)
        if (sorted[i] > 0.0f) min_pos = i;
    const unsigned int spread =
        (100u - std::min(percent, 100u)) * static_cast<unsigned>(N - min_pos);
    const float thresh =
        sorted[std::min(static_cast<unsigned long>(spread * 0.01 + min_pos), N - 1)];
    unsigned long count = 0, sx = 0, sy = 0;
    for (unsigned long i = 0; i < N; ++i)
        if (map[i] > thresh) sx += i % width, sy += i / width, ++count;
    if (count == 0) return {0, 0};
    return {static_cast<int>(sx / count), static_cast<int>(sy / count)};
}

TEST(GetCentremax, MatchesTheFullySortedThreshold) {
    // Filtered maps: mostly zeros (masked), small negative ringing, -0, ties,
    // the odd NaN, all equal, all positive, nothing positive; every
    // percentage from none to all.
    std::mt19937 rng(90210);
    std::uniform_int_distribution<int> kind(0, 9), level(0, 40);
    std::normal_distribution<float> ringing(0.0f, 2.0f);
    for (auto [w, h] : {std::pair{1u, 1u}, {2u, 1u}, {7u, 5u}, {40u, 30u}}) {
        for (int trial = 0; trial < 12; ++trial) {
            std::vector<float> map(w * h);
            for (float& v : map) {
                const int k = kind(rng);
                v = k < 4 ? 0.0f : k == 4 ? -0.0f : k < 7 ? ringing(rng) : float(level(rng));
            }
            if (trial % 4 == 3) map[rng() % map.size()] = std::nanf("");
            if (trial % 6 == 5) std::fill(map.begin(), map.end(), 2.5f);
            if (trial % 6 == 4)
                for (std::size_t i = 0; i < map.size(); ++i) map[i] = 1.0f + float(i % 13);
            if (trial % 6 == 2)
                for (float& v : map) v = -std::fabs(v);
            for (unsigned int percent : {0u, 1u, 5u, 50u, 99u, 100u, 150u}) {
                int xc = -7, yc = -7;
                testing::internal::CaptureStderr();
                ASSERT_EQ(get_centremax(map, w, h, percent, xc, yc), 0);
                const std::string err = testing::internal::GetCapturedStderr();
                const std::pair<int, int> want = plain_centremax(map, w, percent);
                EXPECT_EQ(std::make_pair(xc, yc), want)
                    << w << "x" << h << " trial " << trial << " percent " << percent;
                if (want == std::pair{0, 0}) {
                    EXPECT_TRUE(err.empty() || err == "\n nothing found in get_centremax");
                }
            }
        }
    }
    // A missing or short map.
    int xc = 5, yc = 5;
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_centremax({}, 32, 32, 1, xc, yc), 2);
    EXPECT_EQ(get_centremax(std::vector<float>(100, 1.0f), 32, 32, 1, xc, yc), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\n get_centremax: bptr is NULL!\n get_centremax: bptr is NULL!");
    EXPECT_EQ(xc + yc, 10);
}

}  // namespace
}  // namespace orva
