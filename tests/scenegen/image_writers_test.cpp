// Every file the generator writes reads back through the program's own readers
// with the same size and pixels (JPEG within its loss).
#include "image_writers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "imageio/image_type.h"
#include "imageio/jpeg_io.h"
#include "imageio/pgm_reader.h"
#include "imageio/png_reader.h"
#include "imageio/tiff_reader.h"
#include "scene_support.h"

namespace orva::scenegen {
namespace {

constexpr int W = 37;  // odd sizes catch row-length mistakes
constexpr int H = 23;

// Kept below 246, where the PNG reader saturates colour pixels to white.
ByteBuffer pattern() {
    ByteBuffer g(W * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) g[y * W + x] = static_cast<unsigned char>(30 + 4 * x + 3 * y);
    return g;
}

// Reads a file the way the program's loader dispatches on its type.
ByteBuffer read_back(const std::string& path, int& w, int& h, int& type) {
    type = get_img_type(path.c_str());
    IMAGE im;
    ByteBuffer out;
    switch (type) {
        case PGM_SUPPORTED:
            read_pgm(out, im, path.c_str());
            break;
        case TIFF_LITTLE:
        case TIFF_BIG:
            read_tiff_2(out, im, path.c_str(), 0, type);
            break;
        case JPEG:
            return read_JPEG_file(path.c_str(), &w, &h);
        case PNG:
            return loadpng(path.c_str(), &w, &h);
        default:
            return {};
    }
    w = static_cast<int>(im.width);
    h = static_cast<int>(im.height);
    return out;
}

int largest_difference(const ByteBuffer& a, const ByteBuffer& b) {
    int d = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) d = std::max(d, std::abs(a[i] - b[i]));
    return d;
}

TEST(ScenegenWriters, EveryFormatReadsBackThroughTheProgramReaders) {
    testing::ScratchDir dir;
    ASSERT_TRUE(dir.ok());
    struct Case {
        ImageFormat format;
        bool colour;
        int type;
        int tolerance;
    };
    // "II" files are least significant byte first, which the type codes call TIFF_BIG.
    const Case cases[] = {
        {ImageFormat::Pgm, false, PGM_SUPPORTED, 0}, {ImageFormat::Ppm, false, PGM_SUPPORTED, 1},
        {ImageFormat::TiffII, false, TIFF_BIG, 0},   {ImageFormat::TiffMM, false, TIFF_LITTLE, 0},
        {ImageFormat::TiffII, true, TIFF_BIG, 1},    {ImageFormat::TiffMM, true, TIFF_LITTLE, 1},
        {ImageFormat::Png, false, PNG, 0},           {ImageFormat::Png, true, PNG, 1},
        {ImageFormat::Jpeg, false, JPEG, 6},
    };
    const ByteBuffer grey = pattern();
    int n = 0;
    for (const Case& c : cases) {
        char name[32];
        std::snprintf(name, sizeof name, "f%d.%s", n++, format_extension(c.format));
        const std::string path = dir.file(name);
        std::string error;
        ASSERT_EQ(write_image(path, c.format, grey, W, H, c.colour, false, 95, error), 0) << error;
        int w = 0, h = 0, type = 0;
        const ByteBuffer back = read_back(path, w, h, type);
        EXPECT_EQ(type, c.type) << path;
        ASSERT_EQ(w, W) << path;
        ASSERT_EQ(h, H) << path;
        ASSERT_EQ(back.size(), grey.size()) << path;
        EXPECT_LE(largest_difference(back, grey), c.tolerance) << path;
    }
}

TEST(ScenegenWriters, TiffWithOneRowPerStripAndUnwritablePathIsReported) {
    testing::ScratchDir dir;
    ASSERT_TRUE(dir.ok());
    // Three rows give three one-row strips: every strip table entry is used.
    ByteBuffer grey = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    for (bool big : {false, true}) {
        const std::string path = dir.file(big ? "mm.tif" : "ii.tif");
        std::string error;
        ASSERT_EQ(write_tiff(path, grey, 3, 3, 1, big, error), 0) << error;
        int w = 0, h = 0, type = 0;
        EXPECT_EQ(read_back(path, w, h, type), grey);
    }
    std::string error;
    EXPECT_EQ(write_pgm(dir.file("no/such/folder/x.pgm"), grey, 3, 3, error), 1);
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace orva::scenegen
