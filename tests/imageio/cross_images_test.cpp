// The pictures the program writes: cross images, the centre image, and the
// JPEG writer's failures.
#include "imageio/cross_images.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "image_test_support.h"

namespace orva {
namespace {

using test::Bytes;

Bytes pattern(int width, int height) {
    Bytes grey(std::size_t{1} * width * height);
    for (std::size_t i = 0; i < grey.size(); ++i)
        grey[i] = static_cast<unsigned char>(i % 200 + 20);
    return grey;
}

// The cross is 21 pixels long and 3 thick, clipped at the edges; a centre
// outside the image paints nothing. Every other pixel keeps its grey value.
TEST(CrossImage, RedCrossAroundTheCentre) {
    const int width = 30, height = 25;
    const Bytes grey = pattern(width, height);
    for (const auto& [x0, y0] : {std::pair{15, 12}, std::pair{0, 0}, std::pair{29, 24},
                                 std::pair{5, height}, std::pair{width, 5}, std::pair{-1, 3},
                                 std::pair{3, -1}}) {
        const Bytes rgb = compose_cross_rgb(grey, width, height, x0, y0);
        ASSERT_EQ(rgb.size(), 3u * width * height);
        const bool inside = x0 >= 0 && y0 >= 0 && x0 < width && y0 < height;
        int red = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const int dx = std::abs(x - x0), dy = std::abs(y - y0);
                const bool cross = inside && ((dx <= 10 && dy <= 1) || (dy <= 10 && dx <= 1));
                const std::size_t i = std::size_t{1} * y * width + x;
                const Bytes want = cross ? Bytes{255, 0, 0} : Bytes(3, grey[i]);
                ASSERT_EQ(Bytes(rgb.begin() + 3 * i, rgb.begin() + 3 * i + 3), want)
                    << x0 << "," << y0 << " at " << x << "," << y;
                red += cross;
            }
        }
        if (x0 == 15) {
            EXPECT_EQ(red, 21 * 3 + 21 * 3 - 9);
        }
    }
}

// The dashed cross through (width / 2, height / 2): 255, 0, or -1 where the
// mean shows through. The horizontal dashes are drawn last and win.
int dash_value(int x, int y, int width, int height) {
    const int cx = width / 2, cy = height / 2;
    if (y == cy && x % 8 == 0 && x < width - 4) return 255;
    if (y == cy && x >= 4 && (x - 4) % 8 == 0 && x - 4 < width - 4) return 0;
    if (x == cx && y % 8 == 0 && y < height - 4) return 255;
    if (x == cx && y >= 4 && (y - 4) % 8 == 0 && y - 4 < height - 4) return 0;
    return -1;
}

TEST(CentreImage, MatchesAPixelByPixelAverageForRandomShifts) {
    // Random images shifted every way, partly or wholly out of the frame, and
    // one image of the wrong size that must be left out.
    std::mt19937 rng(6174);
    const int width = 29, height = 19;
    std::uniform_int_distribution<int> level(0, 255), shift(-35, 35);
    std::vector<ByteBuffer> images;
    std::vector<CrossPosition> positions;
    for (int q = 0; q < 9; ++q) {
        ByteBuffer img(std::size_t{1} * width * height);
        for (auto& v : img) v = static_cast<unsigned char>(level(rng));
        images.push_back(q == 4 ? ByteBuffer(10, 7) : img);
        positions.push_back({width / 2 + shift(rng), height / 2 + shift(rng)});
    }
    std::vector<int> sum(std::size_t{1} * width * height), count(sum.size());
    for (int q = 0; q < 9; ++q) {
        if (q == 4) continue;
        const int dx = positions[q].x - width / 2, dy = positions[q].y - height / 2;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (x + dx >= 0 && x + dx < width && y + dy >= 0 && y + dy < height) {
                    sum[y * width + x] += images[q][(y + dy) * width + x + dx];
                    ++count[y * width + x];
                }
    }
    const Bytes mean = compose_centre_image(images, positions, width, height);
    ASSERT_EQ(mean.size(), sum.size());
    int dashes = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int dash = dash_value(x, y, width, height);
            const std::size_t i = std::size_t{1} * y * width + x;
            const int want = dash >= 0 ? dash : count[i] > 0 ? sum[i] / count[i] : 0;
            ASSERT_EQ(mean[i], want) << x << "," << y;
            dashes += dash >= 0;
        }
    // Columns 0, 8, .., 24 with their gaps 4, .., 28 on row 9; rows 0, 8 with
    // their gaps 4, 12 on column 14.
    EXPECT_EQ(dashes, 4 + 4 + 2 + 2);
}

TEST(CrossFiles, WrittenIntoTheWorkingDirectoryOrReported) {
    testing::ScratchDir dir;
    testing::WorkingDir here(dir.path());
    const int width = 24, height = 16;
    IMAGE im;
    im.width = width;
    im.height = height;
    im.size = width * height;
    const ByteBuffer grey = pattern(width, height);
    EXPECT_EQ(set_cross(grey, im, 3, 10, 8), 0);
    EXPECT_EQ(write_centre_image({grey, grey}, std::vector<CrossPosition>(2, {12, 8}), width, height),
              0);
    for (const char* name : {"cross_03.jpg", "centre.jpg"}) {
        const test::Loaded got = test::load(name);
        EXPECT_EQ(got.pixels.size(), std::size_t{width} * height) << name;
        EXPECT_EQ(got.width, width);
    }
    testing::StderrCapture capture;
    // A buffer smaller than its record claims is refused, not read past.
    EXPECT_EQ(set_cross(ByteBuffer(10), im, 4, 1, 1), 2);
    // A file that cannot be opened is reported; the library's refusal of a
    // width above 65500 does not end the run and leaves no file behind.
    const Bytes rgb(std::size_t{3} * 70000, 5);
    write_JPEG_file("no/such/dir.jpg", 100, 8, 8, rgb.data());
    EXPECT_TRUE(capture.text().ends_with(
        "can't open no/such/dir.jpg\n\nORVA: Cannot write no/such/dir.jpg: No such file or "
        "directory\n"));
    testing::StderrCapture second;
    write_JPEG_file("wide.jpg", 100, 70000, 1, rgb.data());
    EXPECT_FALSE(second.text().empty());
    EXPECT_FALSE(std::filesystem::exists("wide.jpg"));
}

}  // namespace
}  // namespace orva
