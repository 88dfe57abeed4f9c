#include "imageio/cross_images.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <set>
#include <utility>
#include <vector>

#include "image_test_support.h"
#include "imageio/jpeg_io.h"

namespace orva {
namespace {

using test::Bytes;
using Pixel = std::pair<int, int>;  // column, row

Bytes pattern(int width, int height) {
    Bytes grey(std::size_t{1} * width * height);
    for (std::size_t i = 0; i < grey.size(); ++i)
        grey[i] = static_cast<unsigned char>(i % 200 + 20);
    return grey;
}

// The pixels painted red; every other pixel must still be its grey value.
std::set<Pixel> red_pixels(const Bytes& rgb, const Bytes& grey, int width, int height) {
    std::set<Pixel> red;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t i = std::size_t{1} * y * width + x;
            const unsigned char r = rgb[3 * i], g = rgb[3 * i + 1], b = rgb[3 * i + 2];
            if (r == 255 && g == 0 && b == 0)
                red.insert({x, y});
            else
                EXPECT_TRUE(r == grey[i] && g == grey[i] && b == grey[i]) << x << "," << y;
        }
    }
    return red;
}

TEST(CrossImage, CrossAtTheCornerIsClipped) {
    const int width = 30, height = 20;
    const Bytes grey = pattern(width, height);
    const Bytes rgb = compose_cross_rgb(grey, width, height, 0, 0);
    ASSERT_EQ(rgb.size(), 3u * width * height);
    std::set<Pixel> expected;
    for (int i = 0; i <= 10; ++i) {
        for (int t = 0; t <= 1; ++t) {
            expected.insert({i, t});  // columns 0 to 10 of rows 0 and 1
            expected.insert({t, i});  // rows 0 to 10 of columns 0 and 1
        }
    }
    EXPECT_EQ(red_pixels(rgb, grey, width, height), expected);
}

TEST(CrossImage, InnerCrossIsTwentyOneLongAndThreeThick) {
    const int width = 30, height = 25;
    const Bytes grey = pattern(width, height);
    const std::set<Pixel> red =
        red_pixels(compose_cross_rgb(grey, width, height, 15, 12), grey, width, height);
    EXPECT_EQ(red.size(), 21u * 3 + 21u * 3 - 9);
    EXPECT_TRUE(red.count({5, 11}) && red.count({25, 13}) && red.count({14, 2}) &&
                red.count({16, 22}));
    EXPECT_FALSE(red.count({4, 12}) || red.count({26, 12}) || red.count({15, 1}) ||
                 red.count({15, 23}));
}

TEST(CrossImage, CentreOutsideTheImagePaintsNothing) {
    const int width = 20, height = 15;
    const Bytes grey = pattern(width, height);
    for (const auto& [x, y] : {Pixel{5, height}, Pixel{width, 5}, Pixel{-1, 3}, Pixel{3, -1}}) {
        EXPECT_TRUE(
            red_pixels(compose_cross_rgb(grey, width, height, x, y), grey, width, height).empty())
            << x << "," << y;
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

TEST(CentreImage, OneImageCrossedAtTheCentreIsItselfWithTheDashedCross) {
    const int width = 37, height = 21;
    const std::vector<ByteBuffer> images = {pattern(width, height)};
    const CrossPosition at_centre[] = {{width / 2, height / 2}};
    const Bytes mean = compose_centre_image(images, at_centre, width, height);
    ASSERT_EQ(mean.size(), images[0].size());
    int dashes = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int dash = dash_value(x, y, width, height);
            const std::size_t i = std::size_t{1} * y * width + x;
            EXPECT_EQ(mean[i], dash < 0 ? images[0][i] : dash) << x << "," << y;
            dashes += dash >= 0;
        }
    }
    // Columns 0, 8, .., 32 with their gaps 4, .., 36 on row 10; rows 0, 8, 16
    // with their gaps 4, 12, 20 on column 18.
    EXPECT_EQ(dashes, 5 + 5 + 3 + 3);
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
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int dash = dash_value(x, y, width, height);
            const std::size_t i = std::size_t{1} * y * width + x;
            const int want = dash >= 0 ? dash : count[i] > 0 ? sum[i] / count[i] : 0;
            ASSERT_EQ(mean[i], want) << x << "," << y;
        }
}

// Runs `body` with a fresh temporary directory as the working directory.
template <class Body>
void in_temporary_directory(Body body) {
    test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.dir().c_str()), 0);
    body();
    ASSERT_EQ(chdir(previous), 0);
}

TEST(CrossFiles, WrittenIntoTheWorkingDirectory) {
    in_temporary_directory([] {
        const int width = 24, height = 16;
        IMAGE im;
        im.width = width;
        im.height = height;
        im.size = width * height;
        const ByteBuffer grey = pattern(width, height);
        EXPECT_EQ(set_cross(grey, im, 3, 10, 8), 0);
        EXPECT_EQ(
            write_centre_image({grey, grey}, std::vector<CrossPosition>(2, {12, 8}), width, height),
            0);
        for (const char* name : {"cross_03.jpg", "centre.jpg"}) {
            int w = 0, h = 0;
            EXPECT_EQ(read_JPEG_file(name, &w, &h).size(), std::size_t{width} * height) << name;
            EXPECT_EQ(w, width);
            EXPECT_EQ(h, height);
        }
        // A buffer smaller than its record claims is refused, not read past.
        test::StderrCapture quiet;
        EXPECT_EQ(set_cross(ByteBuffer(10), im, 4, 1, 1), 2);
    });
}

}  // namespace
}  // namespace orva
