// The blob and line detectors inside the loop: skipped images, the loop mask,
// and a textured crystal found near its centre.
#include "crystal/centring_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "support/images.h"

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

}  // namespace
}  // namespace orva
