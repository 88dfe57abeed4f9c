#include "imageio/png_reader.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include "image_test_support.h"

namespace orva {
namespace {

using test::Bytes;
using test::PngSpec;
using test::TempDir;
using test::write_png;

struct Loaded {
    ByteBuffer pixels;
    int width = -1;
    int height = -1;
};

Loaded load(const std::string& name) {
    Loaded out;
    test::StderrCapture quiet;
    out.pixels = loadpng(name.c_str(), &out.width, &out.height);
    return out;
}

Loaded write_and_load(const TempDir& dir, const PngSpec& s) {
    const std::string name = dir.path("image.png");
    EXPECT_TRUE(write_png(name, s));
    return load(name);
}

PngSpec rgb_spec() {
    PngSpec s;
    s.width = 4;
    s.height = 2;
    s.samples = {250, 250, 250, 240, 240, 240, 100, 50, 20,  0,   0,   0,  //
                 246, 246, 246, 245, 245, 245, 255, 0,  255, 255, 255, 255};
    return s;
}

// 246 and above saturate to 255; 245 is the largest value kept.
const Bytes kRgbGrey = {255, 240, 62, 0, 255, 245, 105, 255};

TEST(PngReader, RgbGreySaturatesFrom246) {
    TempDir dir;
    for (int variant = 0; variant < 3; ++variant) {
        PngSpec s = rgb_spec();
        s.interlaced = variant == 1;
        s.transparency = variant == 2;
        const Loaded got = write_and_load(dir, s);
        EXPECT_EQ(got.pixels, kRgbGrey) << "variant " << variant;
        EXPECT_EQ(got.width, 4);
        EXPECT_EQ(got.height, 2);
    }
}

TEST(PngReader, GreyDepthsGiveEightBitGrey) {
    TempDir dir;
    PngSpec grey8;
    grey8.width = 3;
    grey8.height = 2;
    grey8.color_type = PNG_COLOR_TYPE_GRAY;
    grey8.samples = {0, 1, 127, 128, 254, 255};
    EXPECT_EQ(write_and_load(dir, grey8).pixels, grey8.samples);

    PngSpec grey16 = grey8;
    grey16.bit_depth = 16;
    grey16.width = 2;
    grey16.height = 1;
    grey16.samples = {0x12, 0xFF, 0xAB, 0x01};  // most significant byte first
    EXPECT_EQ(write_and_load(dir, grey16).pixels, (Bytes{0x12, 0xAB}));

    PngSpec grey1 = grey8;
    grey1.bit_depth = 1;
    grey1.width = 3;
    grey1.height = 1;
    grey1.samples = {0b10100000};
    EXPECT_EQ(write_and_load(dir, grey1).pixels, (Bytes{255, 0, 255}));
}

TEST(PngReader, PaletteAndAlphaImagesStayZero) {
    TempDir dir;
    PngSpec s;
    s.width = 3;
    s.height = 2;
    for (const auto& [type, samples] :
         {std::pair{PNG_COLOR_TYPE_PALETTE, 1}, std::pair{PNG_COLOR_TYPE_RGBA, 4},
          std::pair{PNG_COLOR_TYPE_GRAY_ALPHA, 2}}) {
        s.color_type = type;
        s.samples.assign(std::size_t{6} * samples, 1);
        const Loaded got = write_and_load(dir, s);
        EXPECT_EQ(got.pixels, Bytes(6, 0)) << type;
        EXPECT_EQ(got.width, 3);
    }
}

TEST(PngReader, DamagedOrMissingFilesGiveNoImage) {
    TempDir dir;
    PngSpec s;
    s.width = 64;
    s.height = 64;
    s.samples.resize(64 * 64 * 3);
    for (std::size_t i = 0; i < s.samples.size(); ++i)
        s.samples[i] = static_cast<unsigned char>(i * 7919 % 251);
    const std::string good = dir.path("good.png");
    ASSERT_TRUE(write_png(good, s));
    const Bytes bytes = test::read_all(good);
    ASSERT_EQ(load(good).pixels.size(), 64u * 64u);

    for (std::size_t keep : {std::size_t{4}, std::size_t{8}, std::size_t{20}, std::size_t{40},
                             bytes.size() / 2, bytes.size() - 13}) {
        const Bytes cut(bytes.begin(), bytes.begin() + static_cast<long>(keep));
        const Loaded got = load(dir.write("cut.png", cut));
        EXPECT_TRUE(got.pixels.empty()) << "kept " << keep;
    }
    Bytes garbage = bytes;
    for (std::size_t i = 8; i < garbage.size(); ++i)
        garbage[i] = static_cast<unsigned char>(i * 31);
    EXPECT_TRUE(load(dir.write("garbage.png", garbage)).pixels.empty());

    // A size far beyond any camera (yet within libpng's own limits), with a
    // valid header checksum.
    Bytes wide = bytes;
    const std::size_t ihdr = 8 + 8;  // length and type of the first chunk
    wide[ihdr + 1] = 0x0F;           // width 0x000F0040
    wide[ihdr + 5] = 0x0F;           // height 0x000F0040
    const unsigned long crc = crc32(0, wide.data() + 12, 17);
    for (int i = 0; i < 4; ++i) wide[29 + i] = static_cast<unsigned char>(crc >> (24 - 8 * i));
    {
        const std::string name = dir.write("wide.png", wide);
        test::StderrCapture capture;
        int width = -1;
        int height = -1;
        EXPECT_TRUE(loadpng(name.c_str(), &width, &height).empty());
        EXPECT_NE(capture.text().find("image size 983104 x 983104"), std::string::npos);
    }

    // Not opened: reported, and the program goes on.
    const std::string absent = dir.path("absent.png");
    test::StderrCapture capture;
    int width = -1;
    int height = -1;
    EXPECT_TRUE(loadpng(absent.c_str(), &width, &height).empty());
    EXPECT_EQ(capture.text(), "can't open " + absent + "\n");
}

}  // namespace
}  // namespace orva
