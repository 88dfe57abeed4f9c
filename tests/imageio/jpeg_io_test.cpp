#include "imageio/jpeg_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

// jpeglib.h expects FILE and size_t to be declared first.
#include <jpeglib.h>

#include "image_test_support.h"

namespace orva {
namespace {

using test::Bytes;
using test::TempDir;

// Decodes a valid file to its output samples with the library defaults, the
// way the reader sees them.
Bytes decode_samples(const std::string& name, int& components) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    components = cinfo.output_components;
    const std::size_t stride = std::size_t{cinfo.output_width} * components;
    Bytes out(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.data() + cinfo.output_scanline * stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    return out;
}

// Encodes samples of any colour space the library accepts as input.
void encode(const std::string& name, const Bytes& samples, int width, int height, int components,
            J_COLOR_SPACE space) {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(samples.data()) +
                       std::size_t{cinfo.next_scanline} * width * components;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
}

struct Loaded {
    ByteBuffer pixels;
    int width = -1;
    int height = -1;
    std::string messages;
};

Loaded load(const std::string& name) {
    Loaded out;
    test::StderrCapture capture;
    out.pixels = read_JPEG_file(name.c_str(), &out.width, &out.height);
    out.messages = capture.text();
    return out;
}

TEST(JpegIo, RgbFileBecomesRoundedWeightedGreyOfTheDecodedSamples) {
    // Left half the pixel (100, 50, 20), right half every grey level 0 to 255:
    // every pixel, grey or not, is the rounded weighted sum of its samples.
    TempDir dir;
    const std::string name = dir.path("rgb.jpg");
    Bytes rgb(std::size_t{3} * 32 * 16);
    for (std::size_t i = 0; i < rgb.size() / 3; ++i) {
        const bool grey = i % 32 >= 16;
        rgb[3 * i] = grey ? static_cast<unsigned char>(i / 32 * 16 + i % 16) : 100;
        rgb[3 * i + 1] = grey ? rgb[3 * i] : 50;
        rgb[3 * i + 2] = grey ? rgb[3 * i] : 20;
    }
    write_JPEG_file(name.c_str(), 100, 32, 16, rgb.data());
    int components = 0;
    const Bytes samples = decode_samples(name, components);
    ASSERT_EQ(components, 3);
    const Loaded got = load(name);
    ASSERT_EQ(got.pixels.size(), 512u);
    EXPECT_EQ(got.width, 32);
    EXPECT_EQ(got.height, 16);
    for (std::size_t i = 0; i < got.pixels.size(); ++i) {
        const int r = samples[3 * i], g = samples[3 * i + 1], b = samples[3 * i + 2];
        const int want = std::min(255, static_cast<int>(0.3 * r + 0.59 * g + 0.11 * b + 0.5));
        ASSERT_EQ(got.pixels[i], want) << i;
        if (i % 32 < 12) {
            EXPECT_NEAR(got.pixels[i], 62, 1);  // quality 100 stays within one
        }
    }
}

TEST(JpegIo, GreyFileIsCopied) {
    TempDir dir;
    const std::string name = dir.path("grey.jpg");
    Bytes grey(24 * 8);
    for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<unsigned char>(i % 24 * 10);
    encode(name, grey, 24, 8, 1, JCS_GRAYSCALE);
    int components = 0;
    const Bytes decoded = decode_samples(name, components);
    ASSERT_EQ(components, 1);
    const Loaded got = load(name);
    EXPECT_EQ(got.pixels, decoded);
    EXPECT_EQ(got.width, 24);
    EXPECT_EQ(got.height, 8);
}

TEST(JpegIo, DamagedFilesGiveNoImageAndTheProgramGoesOn) {
    TempDir dir;
    const std::string good = dir.path("good.jpg");
    Bytes noise(std::size_t{3} * 64 * 64);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<unsigned char>(i * 7919 % 253);
    write_JPEG_file(good.c_str(), 100, 64, 64, noise.data());
    const Bytes bytes = test::read_all(good);
    ASSERT_EQ(load(good).pixels.size(), 64u * 64u);

    for (std::size_t keep :
         {std::size_t{3}, std::size_t{100}, bytes.size() / 2, bytes.size() - 2}) {
        const Loaded got = load(
            dir.write("cut.jpg", Bytes(bytes.begin(), bytes.begin() + static_cast<long>(keep))));
        EXPECT_TRUE(got.pixels.empty()) << "kept " << keep;
        EXPECT_FALSE(got.messages.empty());
    }
    Bytes garbage = {0xFF, 0xD8, 0xFF};
    for (int i = 0; i < 500; ++i) garbage.push_back(static_cast<unsigned char>(i * 37));
    EXPECT_TRUE(load(dir.write("garbage.jpg", garbage)).pixels.empty());

    const std::string cmyk = dir.path("cmyk.jpg");
    encode(cmyk, Bytes(std::size_t{4} * 8 * 8, 90), 8, 8, 4, JCS_CMYK);
    const Loaded four = load(cmyk);
    EXPECT_TRUE(four.pixels.empty());
    EXPECT_NE(four.messages.find("4 colour components"), std::string::npos);

    const std::string absent = dir.path("absent.jpg");
    const Loaded missing = load(absent);
    EXPECT_TRUE(missing.pixels.empty());
    EXPECT_EQ(missing.messages, "can't open " + absent + "\n");
}

TEST(JpegIo, WriterReportsAndSkipsWhatItCannotWrite) {
    TempDir dir;
    const Bytes rgb(std::size_t{3} * 8 * 8, 7);
    const std::string unwritable = dir.path("no/such/dir.jpg");
    {
        test::StderrCapture capture;
        write_JPEG_file(unwritable.c_str(), 100, 8, 8, rgb.data());
        EXPECT_EQ(capture.text(), "can't open " + unwritable + "\n\nORVA: Cannot write " +
                                      unwritable + ": No such file or directory\n");
    }
    // The library refuses widths above 65500; its error must not end the run,
    // and no half-written file stays behind.
    const std::string too_wide = dir.path("wide.jpg");
    const Bytes row(std::size_t{3} * 70000, 5);
    {
        test::StderrCapture capture;
        write_JPEG_file(too_wide.c_str(), 100, 70000, 1, row.data());
        EXPECT_FALSE(capture.text().empty());
    }
    EXPECT_FALSE(std::filesystem::exists(too_wide));
}

}  // namespace
}  // namespace orva
