// The JPEG writer's coefficient path for mostly single-colour pictures, and
// for points given without their picture, against the library coding the
// rows itself: the files must be the same.
#include "imageio/jpeg_cells.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "image_test_support.h"
#include "imageio/jpeg_io.h"

namespace orva {
namespace {

using test::Bytes;

// A white picture with black borders, grey and tinted areas, scattered single
// points and, when `noisy`, a band of random pixels (many mixed cells).
Bytes mask_like(int width, int height, bool noisy, std::mt19937& rng) {
    Bytes rgb(3 * std::size_t(width) * height, 255);
    auto set = [&](int x, int y, unsigned char r, unsigned char g, unsigned char b) {
        unsigned char* p = rgb.data() + 3 * (std::size_t(y) * width + x);
        p[0] = r, p[1] = g, p[2] = b;
    };
    for (int y = 0; y < height; ++y) {
        set(0, y, 0, 0, 0);
        set(width - 1, y, 0, 0, 0);
        for (int x = width / 4; x < width / 2; ++x) set(x, y, 210, 210, 210);
        if (y < height / 3)
            for (int x = width / 2; x < 3 * width / 4; ++x) set(x, y, 40, 200, 90);
    }
    for (int k = 0; k < width * height / 1500; ++k)
        set(int(rng() % width), int(rng() % height), 255, 0, 0);
    if (noisy)
        for (int y = height / 2; y < height / 2 + 40 && y < height; ++y)
            for (int x = 0; x < width; ++x)
                set(x, y, static_cast<unsigned char>(rng()), static_cast<unsigned char>(rng()),
                    static_cast<unsigned char>(rng()));
    return rgb;
}

TEST(JpegCells, WritesTheLibrarysOwnFile) {
    // Sizes around the 8- and 16-pixel cells, a one-pixel picture and one
    // with more mixed cells than one strip row holds (and a shorter last cell
    // row); qualities 100 and 75.
    const int sizes[][2] = {{1, 1}, {17, 9}, {33, 250}, {100, 97}, {130, 77}, {4500, 160}};
    std::mt19937 rng(2024);
    testing::ScratchDir dir;
    int coded_by_cells = 0;
    for (const auto& [w, h] : sizes)
        for (int quality : {100, 75}) {
            const Bytes rgb = mask_like(w, h, w > 1000, rng);
            FlatCells cells;
            coded_by_cells += flat_cells(quality, w, h, rgb.data(), cells);
            const std::string path = dir.file("p.jpg");
            ASSERT_TRUE(write_JPEG_file(path.c_str(), quality, w, h, rgb.data()));
            std::ifstream in(path, std::ios::binary);
            const Bytes written{std::istreambuf_iterator<char>(in), {}};
            ASSERT_EQ(written, test::make_jpeg(rgb, w, h, 3, JCS_RGB, quality))
                << w << "x" << h << " q" << quality;
        }
    EXPECT_EQ(coded_by_cells, 10);  // all but the 100 x 97 picture

    // Points on a background, given as points: the file of the same picture.
    // Some points repeat, fall outside, or fill a whole corner cell.
    const unsigned char bg[3] = {0, 0, 0}, ink[3] = {255, 255, 255};
    for (const auto& [w, h] : sizes) {
        std::vector<std::pair<int, int>> points = {{-1, 0}, {w, 0}, {0, h}, {w - 1, h - 1}};
        for (int k = 0; k < (w + h) / 8; ++k) points.emplace_back(rng() % w, rng() % h);
        points.push_back(points.back());
        Bytes rgb(3 * std::size_t(w) * h, 0);
        for (const auto& [x, y] : points)
            if (x >= 0 && x < w && y >= 0 && y < h)
                std::fill_n(rgb.begin() + 3 * (std::size_t(y) * w + x), 3, 255);
        FlatCells cells;
        if (!point_cells(100, w, h, bg, ink, points, cells)) continue;
        const std::string path = dir.file("points.jpg");
        ASSERT_TRUE(write_JPEG_file(path.c_str(), 100, cells));
        std::ifstream in(path, std::ios::binary);
        const Bytes written{std::istreambuf_iterator<char>(in), {}};
        ASSERT_EQ(written, test::make_jpeg(rgb, w, h, 3, JCS_RGB)) << "points " << w << "x" << h;
        ++coded_by_cells;
    }
    EXPECT_EQ(coded_by_cells, 15);

    // A camera-like picture has too few single-colour cells.
    Bytes noise(3 * 64 * 64);
    for (unsigned char& v : noise) v = static_cast<unsigned char>(rng());
    FlatCells cells;
    EXPECT_FALSE(flat_cells(100, 64, 64, noise.data(), cells));
}

}  // namespace
}  // namespace orva
