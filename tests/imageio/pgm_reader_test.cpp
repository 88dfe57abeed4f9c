#include "imageio/pgm_reader.h"

#include <gtest/gtest.h>

#include "image_test_support.h"

namespace orva {
namespace {

using test::Bytes;
using test::make_pnm;
using test::TempDir;

struct Loaded {
    ByteBuffer pixels;
    IMAGE im;
};

Loaded load(const TempDir& dir, const Bytes& file) {
    Loaded out;
    test::StderrCapture quiet;
    EXPECT_EQ(read_pgm(out.pixels, out.im, dir.write("image.pnm", file).c_str()), 0);
    return out;
}

TEST(PgmReader, HeadersAndGreyConversion) {
    TempDir dir;
    // Pixel values that look like white space or '#' must not be skipped.
    const Bytes pixels = {'\n', ' ', '#', 4, 5, 6};
    struct Case {
        std::string header;
        Bytes data, want;
        unsigned width;
        int max_value, bit_depth;
    };
    const Case cases[] = {
        {"P5\n# first comment\n# second\n3 2\n255\n", pixels, pixels, 3, 255, 8},
        {"#lead\nP5\n#c\n3 2\n#m\n255\n", pixels, pixels, 3, 255, 8},
        {"P5 3 2 100   trailing words\n", pixels, pixels, 3, 100, 7},
        // 30 + 29.5 + 2.2 + 0.5 = 62.2; 0.55 + 0.5 rounds up to 1.
        {"P6\n3 2\n255\n",
         {100, 50, 20, 255, 255, 255, 0, 0, 0, 0, 0, 5, 1, 1, 1, 0, 0, 0},
         {62, 255, 0, 1, 1, 0},
         3,
         255,
         8},
    };
    for (const Case& c : cases) {
        const Loaded got = load(dir, make_pnm(c.header, c.data));
        EXPECT_EQ(got.pixels, c.want) << c.header;
        EXPECT_EQ(got.im.width, c.width);
        EXPECT_EQ(got.im.height, 2u);
        EXPECT_EQ(got.im.size, 6ul);
        EXPECT_EQ(got.im.max_value, c.max_value);
        EXPECT_EQ(got.im.bit_depth, c.bit_depth);
    }
}

TEST(PgmReader, AbsurdOrTruncatedFilesGiveNoBuffer) {
    TempDir dir;
    const Bytes some(64, 1);
    for (const char* header : {
             "P5\n0 4\n255\n",                     // zero width
             "P5\n4 -2\n255\n",                    // negative height
             "P5\n99999999999999999999 2\n255\n",  // beyond any integer
             "P5\n4294967296 1\n255\n",            // beyond the image record
             "P5\n100000 100000\n255\n",           // far more pixels than the file holds
             "P5\n9 8\n255\n",                     // one byte short
             "P6\n8 8\n255\n",                     // 64 bytes are not 64 RGB pixels
             "P5\n2 2\n256\n",                     // two-byte samples
             "P5\n2 2\n0\n",
             "P5\n2 2\n",     // no maximum value
             "P5\n2\n255\n",  // no height
             "P5\nwide 2\n255\n",
         }) {
        EXPECT_TRUE(load(dir, make_pnm(header, some)).pixels.empty()) << header;
    }
    EXPECT_TRUE(load(dir, make_pnm("P5\n1 1\n255", {})).pixels.empty());
}

TEST(PgmReader, OtherFormatsAndMissingFilesAreReported) {
    TempDir dir;
    ByteBuffer pixels;
    IMAGE im;
    const std::string absent = dir.path("absent.pgm");
    test::StderrCapture capture;
    EXPECT_EQ(read_pgm(pixels, im, dir.write("t.pgm", make_pnm("P2\n2 1\n255\n1 2\n", {})).c_str()),
              0);
    EXPECT_TRUE(pixels.empty());
    EXPECT_EQ(read_pgm(pixels, im, absent.c_str()), 0);
    EXPECT_TRUE(pixels.empty());
    const std::string text = capture.text();
    EXPECT_NE(text.find("\n pgm_header: only Portable Map Formats P5/6 is supported (P2)"),
              std::string::npos);
    EXPECT_NE(text.find("\nread_pgm: Cannot open file " + absent +
                        " for reading!:: No such file or directory\n"),
              std::string::npos);
}

}  // namespace
}  // namespace orva
