// The corner-feature detector inside the loop box: boxes too narrow or too
// small skipped, a flat region without density, and boxes and buffers that do
// not fit refused.
#include "crystal/corner_features.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "support/images.h"

namespace orva {
namespace {

using test::geometry;

// Smooth grey background with seeded noise of +-2 grey levels.
ByteBuffer background(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-2, 2);
    ByteBuffer img(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img[static_cast<std::size_t>(y) * w + x] =
                static_cast<unsigned char>(100 + x / 8 + noise(rng));
    return img;
}

// Cells of cell pixels in [x0, x1) x [y0, y1), alternately bright and dark
// with seeded grey levels, so that no two corners are exactly alike.
void texture(ByteBuffer& img, int w, int x0, int y0, int x1, int y1, int cell) {
    std::mt19937 rng(static_cast<unsigned>(x0 * 131 + y0));
    std::uniform_int_distribution<int> bright(180, 250);
    std::uniform_int_distribution<int> dark(5, 70);
    const int ncx = (x1 - x0 + cell - 1) / cell;
    const int ncy = (y1 - y0 + cell - 1) / cell;
    std::vector<unsigned char> level(static_cast<std::size_t>(ncx) * ncy);
    for (int cy = 0; cy < ncy; ++cy)
        for (int cx = 0; cx < ncx; ++cx)
            level[cy * ncx + cx] =
                static_cast<unsigned char>((cx + cy) % 2 ? bright(rng) : dark(rng));
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            img[static_cast<std::size_t>(y) * w + x] =
                level[((y - y0) / cell) * ncx + (x - x0) / cell];
}

SHAPE_PARAMS loop_box(unsigned l, unsigned r, unsigned t, unsigned b) {
    SHAPE_PARAMS s;
    s.type = P050;
    s.box_l = l;
    s.box_r = r;
    s.box_t = t;
    s.box_b = b;
    return s;
}

TEST(CornerFeatures, NarrowTallRegionIsSkippedAndShorterOneProcessed) {
    const int w = 120;
    const int h = 120;
    ByteBuffer img = background(w, h, 5);
    texture(img, w, 12, 12, 38, 80, 3);
    const std::vector<ByteBuffer> images = {img, img, img, img};
    // Box rows 10..74 extend to 80: 30 x 70 (skipped); 10..56 extend to 60:
    // 30 x 50 (processed). Image 2 is empty, image 3 switched off.
    std::vector<SHAPE_PARAMS> shapes = {loop_box(10, 40, 10, 74), loop_box(10, 40, 10, 56),
                                        loop_box(10, 40, 10, 56), loop_box(10, 40, 10, 56)};
    shapes[2].type = NO_OBJECT;
    const int flags[4] = {1, 1, 1, 0};
    int x2[4] = {7, 7, 7, 7};
    int y2[4] = {7, 7, 7, 7};
    testing::internal::CaptureStderr();
    EXPECT_EQ(twodf_all(4, flags, geometry(w, h), images, shapes, x2, y2, nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\n Refining Images:   0 1");
    EXPECT_EQ(x2[0] + y2[0] + x2[2] + y2[2] + x2[3] + y2[3], 0);
    EXPECT_TRUE(x2[1] >= 10 && x2[1] < 40 && y2[1] >= 10 && y2[1] < 60) << x2[1] << "," << y2[1];

    // Below 10 pixels on either side is too small as well.
    shapes = {loop_box(10, 19, 10, 56), loop_box(10, 60, 10, 18)};
    testing::internal::CaptureStderr();
    EXPECT_EQ(twodf_all(2, flags, geometry(w, h), {img, img}, shapes, x2, y2, nullptr), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(x2[0], 0);
    EXPECT_EQ(x2[1], 0);
}

TEST(CornerFeatures, FlatRegionHasNoDensity) {
    // No feature at all: every slot holds -1, the values cannot be binned.
    const ByteBuffer flat(80 * 60, 128);
    double tx[1] = {5.0};
    double ty[1] = {5.0};
    EXPECT_EQ(twodf(flat, 80, 60, 0, tx, ty, 80), 12);
    EXPECT_EQ(tx[0], 0.0);
    EXPECT_EQ(ty[0], 0.0);

    // Through twodf_all the status is passed on and the result is (0, 0).
    const std::vector<ByteBuffer> images = {ByteBuffer(100 * 100, 128)};
    const std::vector<SHAPE_PARAMS> shapes = {loop_box(10, 90, 10, 80)};
    const int flags[1] = {1};
    int x2[1] = {3};
    int y2[1] = {3};
    testing::internal::CaptureStderr();
    EXPECT_EQ(twodf_all(1, flags, geometry(100, 100), images, shapes, x2, y2, nullptr), 12);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(x2[0], 0);
    EXPECT_EQ(y2[0], 0);
}

TEST(CornerFeatures, BadBoxesAndBuffersAreRefused) {
    const int w = 64;
    const int h = 64;
    ByteBuffer img = background(w, h, 9);
    texture(img, w, 10, 10, 50, 50, 4);
    // Box wider than the image, box upside down, image buffer too short.
    const std::vector<SHAPE_PARAMS> shapes = {loop_box(10, 70, 10, 50), loop_box(10, 50, 50, 10),
                                              loop_box(10, 50, 10, 50)};
    const std::vector<ByteBuffer> images = {img, img, ByteBuffer(100, 0)};
    const int flags[3] = {1, 1, 1};
    int x2[3] = {1, 1, 1};
    int y2[3] = {1, 1, 1};
    testing::internal::CaptureStderr();
    EXPECT_EQ(twodf_all(3, flags, geometry(w, h), images, shapes, x2, y2, nullptr), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("loop box of image 0"), std::string::npos);
    EXPECT_NE(err.find("loop box of image 2"), std::string::npos);
    EXPECT_EQ(x2[0] + y2[0] + x2[1] + y2[1] + x2[2] + y2[2], 0);

    // More images asked for than given: only the given ones are written.
    int x3[1] = {4};
    int y3[1] = {4};
    testing::internal::CaptureStderr();
    twodf_all(3, flags, geometry(w, h), images, shapes, x3, y3, nullptr);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(x3[0], 0);

    // twodf itself: index outside its result arrays, empty or short region.
    double tx[1] = {0};
    double ty[1] = {0};
    EXPECT_EQ(twodf(img, w, h, 1, tx, ty, w), 12);
    EXPECT_EQ(twodf(img, 0, h, 0, tx, ty, 0), 12);
    EXPECT_EQ(twodf(std::span<const unsigned char>(img.data(), 10), w, h, 0, tx, ty, w), 12);
}

}  // namespace
}  // namespace orva
