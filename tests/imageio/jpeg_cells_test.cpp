// The JPEG writer's coefficient path for mostly single-colour pictures, and
// for points given without their picture, against the library coding the
// rows itself: the files must be the same.
#include "imageio/jpeg_cells.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "image_test_support.h"
#include "imageio/jpeg_io.h"
#include "imageio/jpeg_transform.h"

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

// The coefficients the library stores for a picture of one cell, read back.
std::vector<JCOEF> library_coefficients(const Bytes& rgb, int w, int h) {
    const Bytes file = test::make_jpeg(rgb, w, h, 3, JCS_RGB, 100);
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, file.data(), file.size());
    jpeg_read_header(&d, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&d);
    std::vector<JCOEF> out(6 * DCTSIZE2, 0);
    for (int ci = 0; ci < 3; ++ci)
        for (JDIMENSION r = 0; r < d.comp_info[ci].height_in_blocks; ++r) {
            JBLOCKARRAY row = (*d.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&d),
                                                           arrays[ci], r, 1, FALSE);
            for (JDIMENSION c = 0; c < d.comp_info[ci].width_in_blocks; ++c)
                std::copy_n(row[0][c], DCTSIZE2, out.begin() + (ci == 0 ? 2 * r + c : 3 + ci) * 64);
        }
    jpeg_destroy_decompress(&d);
    return out;
}

TEST(JpegCells, CellCoefficientsAreTheLibrarys) {
    CellQuantisers q;
    auto quantisers = [&q](int quality) {
        jpeg_compress_struct c;
        jpeg_error_mgr err;
        c.err = jpeg_std_error(&err);
        jpeg_create_compress(&c);
        c.in_color_space = JCS_RGB;
        c.input_components = 3;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, quality, TRUE);
        const bool exact = exact_cell_quantisers(c, q);
        jpeg_destroy_compress(&c);
        return exact;
    };
    EXPECT_FALSE(quantisers(75));  // quantisers that are no powers of two
    ASSERT_TRUE(quantisers(100));
    // Every extent a cut cell can have; noise, full-range checkers and ramps.
    std::mt19937 rng(16);
    for (int w = 1; w <= 16; ++w)
        for (int h = 1; h <= 16; ++h) {
            Bytes rgb(3 * std::size_t(w) * h);
            const int kind = static_cast<int>(rng() % 3);
            for (std::size_t k = 0; k < rgb.size(); ++k) {
                const std::size_t x = k / 3 % w, y = k / 3 / w;
                rgb[k] = kind == 0   ? static_cast<unsigned char>(rng())
                         : kind == 1 ? ((x + y + k % 3) % 2 ? 255 : 0)
                                     : static_cast<unsigned char>(17 * x + 9 * y + 80 * (k % 3));
            }
            std::vector<JCOEF> mine(6 * DCTSIZE2, 0);
            cell_coefficients(rgb.data(), 3 * std::size_t(w), w, h, q, mine.data());
            const std::vector<JCOEF> theirs = library_coefficients(rgb, w, h);
            for (int b = 0; b < 6; ++b) {
                if (b < 4 && (b % 2 >= (w + 7) / 8 || b / 2 >= (h + 7) / 8)) continue;  // padding
                ASSERT_TRUE(std::equal(mine.begin() + 64 * b, mine.begin() + 64 * (b + 1),
                                       theirs.begin() + 64 * b))
                    << w << "x" << h << " kind " << kind << " block " << b;
            }
        }
}

}  // namespace
}  // namespace orva
