#include "imageio/pgm_reader.h"

#include <gtest/gtest.h>

#include <numeric>

#include "image_test_support.h"

namespace orva {
namespace {

using test::Bytes;
using test::make_pnm;
using test::TempDir;

struct Loaded {
    int status = -1;
    ByteBuffer pixels;
    IMAGE im;
};

Loaded load(const TempDir& dir, const Bytes& file) {
    Loaded out;
    test::StderrCapture quiet;
    out.status = read_pgm(out.pixels, out.im, dir.write("image.pnm", file).c_str());
    return out;
}

TEST(PgmReader, CommentLinesBeforeTheSizeLine) {
    TempDir dir;
    const Bytes pixels = {1, 2, 3, 4, 5, 6};
    const Loaded got = load(dir, make_pnm("P5\n# first comment\n# second\n3 2\n255\n", pixels));
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.pixels, pixels);
    EXPECT_EQ(got.im.width, 3u);
    EXPECT_EQ(got.im.height, 2u);
    EXPECT_EQ(got.im.size, 6ul);
    EXPECT_EQ(got.im.max_value, 255);
    EXPECT_EQ(got.im.bit_depth, 8);
}

TEST(PgmReader, PixelDataStartsRightAfterTheMaximumValueLine) {
    TempDir dir;
    Bytes pixels(640 * 480);
    std::iota(pixels.begin(), pixels.end(), 0);  // 0, 1, ... wrapping at 256
    // Pixel values that look like white space must not be skipped.
    pixels[0] = '\n';
    pixels[1] = ' ';
    pixels.back() = 77;
    const Loaded got = load(dir, make_pnm("P5\n640 480\n255\n", pixels));
    EXPECT_EQ(got.status, 0);
    ASSERT_EQ(got.pixels.size(), pixels.size());
    EXPECT_EQ(got.im.width, 640u);
    EXPECT_EQ(got.im.height, 480u);
    EXPECT_EQ(got.pixels, pixels);
}

TEST(PgmReader, HeaderOnOneLineAndRestOfMaximumLineSkipped) {
    TempDir dir;
    const Bytes pixels = {9, 8, 7};
    const Loaded got = load(dir, make_pnm("P5 3 1 100   trailing words\n", pixels));
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.pixels, pixels);
    EXPECT_EQ(got.im.max_value, 100);
    EXPECT_EQ(got.im.bit_depth, 7);
}

TEST(PgmReader, PpmPixelsBecomeRoundedWeightedGrey) {
    TempDir dir;
    const Bytes rgb = {100, 50, 20, 255, 255, 255, 0, 0, 0, 0, 0, 5, 1, 1, 1};
    const Loaded got = load(dir, make_pnm("P6\n5 1\n255\n", rgb));
    EXPECT_EQ(got.status, 0);
    // 30 + 29.5 + 2.2 + 0.5 = 62.2; 0.55 + 0.5 rounds up to 1.
    EXPECT_EQ(got.pixels, (Bytes{62, 255, 0, 1, 1}));
}

TEST(PgmReader, HeaderLeavesTheStreamAtTheFirstPixel) {
    TempDir dir;
    const std::string name =
        dir.write("h.pgm", make_pnm("#lead\nP5\n#c\n2 2\n#m\n255\n", {13, 1, 2, 3}));
    std::FILE* f = std::fopen(name.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    IMAGE im;
    EXPECT_EQ(pgm_header(im, f), 5);
    EXPECT_EQ(std::fgetc(f), 13);
    std::fclose(f);
    EXPECT_EQ(im.size, 4ul);
}

TEST(PgmReader, AbsurdHeadersAreRefusedWithoutBuffer) {
    TempDir dir;
    const Bytes some(64, 1);
    for (const char* header : {
             "P5\n0 4\n255\n",                     // zero width
             "P5\n4 -2\n255\n",                    // negative height
             "P5\n99999999999999999999 2\n255\n",  // beyond any integer
             "P5\n4294967296 1\n255\n",            // beyond the image record
             "P5\n100000 100000\n255\n",           // far more pixels than the file holds
             "P6\n8 8\n255\n",                     // 64 bytes are not 64 RGB pixels
             "P5\n2 2\n256\n",                     // two-byte samples
             "P5\n2 2\n65535\n",
             "P5\n2 2\n0\n",
             "P5\n2 2\n",     // no maximum value
             "P5\n2\n255\n",  // no height
             "P5\nwide 2\n255\n",
         }) {
        const Loaded got = load(dir, make_pnm(header, some));
        EXPECT_EQ(got.status, 0) << header;
        EXPECT_TRUE(got.pixels.empty()) << header;
    }
    // The file ends inside the maximum-value line.
    const Loaded got = load(dir, make_pnm("P5\n1 1\n255", {}));
    EXPECT_TRUE(got.pixels.empty());
}

TEST(PgmReader, TruncatedPixelDataGivesNoBuffer) {
    TempDir dir;
    for (const auto& [header, bytes] :
         {std::pair{"P5\n4 4\n255\n", 15}, std::pair{"P6\n2 2\n255\n", 11}}) {
        const Loaded got = load(dir, make_pnm(header, Bytes(bytes, 50)));
        EXPECT_EQ(got.status, 0) << header;
        EXPECT_TRUE(got.pixels.empty()) << header;
    }
}

TEST(PgmReader, OtherFormatsAndMissingFilesGiveNoBuffer) {
    TempDir dir;
    {
        test::StderrCapture capture;
        ByteBuffer pixels;
        IMAGE im;
        EXPECT_EQ(
            read_pgm(pixels, im, dir.write("t.pgm", make_pnm("P2\n2 1\n255\n1 2\n", {})).c_str()),
            0);
        EXPECT_TRUE(pixels.empty());
        EXPECT_NE(
            capture.text().find("\n pgm_header: only Portable Map Formats P5/6 is supported (P2)"),
            std::string::npos);
    }
    {
        test::StderrCapture capture;
        ByteBuffer pixels;
        IMAGE im;
        const std::string name = dir.path("absent.pgm");
        EXPECT_EQ(read_pgm(pixels, im, name.c_str()), 0);
        EXPECT_TRUE(pixels.empty());
        EXPECT_EQ(capture.text(), "\nread_pgm: Cannot open file " + name +
                                      " for reading!:: No such file or directory\n");
    }
}

}  // namespace
}  // namespace orva
