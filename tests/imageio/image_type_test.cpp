#include "imageio/image_type.h"

#include <gtest/gtest.h>

#include "image_test_support.h"
#include "imageio/png_reader.h"

namespace orva {
namespace {

using test::Bytes;
using test::TempDir;

int type_of(const TempDir& dir, const Bytes& head) {
    return get_img_type(dir.write("f", head).c_str());
}

TEST(ImageType, FirstBytesDecideTheType) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    // Shorter than the eight bytes read: the missing bytes match nothing.
    EXPECT_EQ(type_of(dir, {'P', '5'}), PGM_SUPPORTED);
    EXPECT_EQ(type_of(dir, {'P', '6', '\n', '1', ' ', '1', '\n', '2', '5', '5'}), PGM_SUPPORTED);
    EXPECT_EQ(type_of(dir, {'P', '2', '\n'}), PGM_NOT_SUPPORTED);
    EXPECT_EQ(type_of(dir, {'P'}), PGM_NOT_SUPPORTED);
    EXPECT_EQ(type_of(dir, {'M', 'M', 0, 42, 0, 0, 0, 8}), TIFF_LITTLE);
    EXPECT_EQ(type_of(dir, {'I', 'I', 42, 0, 8, 0, 0, 0}), TIFF_BIG);
    // The 42 at the place of the other byte order is not a supported TIFF.
    EXPECT_EQ(type_of(dir, {'M', 'M', 42, 0, 0, 0, 0, 8}), TIFF_NOT_SUPPORTED);
    EXPECT_EQ(type_of(dir, {'I', 'I', 0, 42, 8, 0, 0, 0}), TIFF_NOT_SUPPORTED);
    EXPECT_EQ(type_of(dir, {'I', 'I'}), TIFF_NOT_SUPPORTED);
    EXPECT_EQ(type_of(dir, {0xFF, 0xD8, 0xFF, 0xE0}), JPEG);
    EXPECT_EQ(type_of(dir, {0xFF, 0xD8, 0xFE, 0xE0}), UNKNOWN_IMGTYPE);
    EXPECT_EQ(type_of(dir, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}), PNG);
    EXPECT_EQ(type_of(dir, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A}), UNKNOWN_IMGTYPE);
    EXPECT_EQ(type_of(dir, {'D', 'A', 'T', 'A', '_', 'S', 'T', 'A', 'R', 'T'}), UNKNOWN_IMGTYPE);
    EXPECT_EQ(type_of(dir, {}), UNKNOWN_IMGTYPE);
}

TEST(ImageType, MissingFileIsAReadErrorWithTheSystemReason) {
    TempDir dir;
    const std::string name = dir.path("absent.pgm");
    test::StderrCapture capture;
    EXPECT_EQ(get_img_type(name.c_str()), READ_ERROR);
    EXPECT_EQ(capture.text(), "\nget_img_type: Cannot open file " + name +
                                  " for reading!:: No such file or directory\n");
}

TEST(ImageType, PngSignatureTest) {
    TempDir dir;
    const Bytes signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_EQ(check_if_png(dir.write("a.png", signature).c_str()), 1);
    EXPECT_EQ(
        check_if_png(dir.write("b.png", Bytes(signature.begin(), signature.end() - 1)).c_str()), 0);
    EXPECT_EQ(check_if_png(dir.write("c.png", Bytes{'P', '5'}).c_str()), 0);
    EXPECT_EQ(check_if_png(dir.path("absent.png").c_str()), 0);
}

}  // namespace
}  // namespace orva
