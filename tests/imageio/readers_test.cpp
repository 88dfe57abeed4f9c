// The image readers: type detection, the layouts each reader takes and the
// grey values it makes of them, damaged files, and missing files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>

#include "image_test_support.h"

namespace orva {
namespace {

using test::Bytes;
using test::make_tiff;
using test::PngSpec;
using test::TiffSpec;
constexpr ByteOrder kOrders[] = {ByteOrder::MostSignificantFirst, ByteOrder::LeastSignificantFirst};

TEST(Readers, FirstBytesDecideTheType) {
    testing::ScratchDir dir;
    // Shorter than the eight bytes read: the missing bytes match nothing.
    const std::pair<Bytes, int> cases[] = {
        {{'P', '5'}, PGM_SUPPORTED},
        {{'P', '6', '\n', '1', ' ', '1', '\n', '2', '5', '5'}, PGM_SUPPORTED},
        {{'P', '2', '\n'}, PGM_NOT_SUPPORTED},
        {{'P'}, PGM_NOT_SUPPORTED},
        {{'M', 'M', 0, 42, 0, 0, 0, 8}, TIFF_LITTLE},
        {{'I', 'I', 42, 0, 8, 0, 0, 0}, TIFF_BIG},
        // The 42 at the place of the other byte order is not a supported TIFF.
        {{'M', 'M', 42, 0, 0, 0, 0, 8}, TIFF_NOT_SUPPORTED},
        {{'I', 'I', 0, 42, 8, 0, 0, 0}, TIFF_NOT_SUPPORTED},
        {{'I', 'I'}, TIFF_NOT_SUPPORTED},
        {{0xFF, 0xD8, 0xFF, 0xE0}, JPEG},
        {{0xFF, 0xD8, 0xFE, 0xE0}, UNKNOWN_IMGTYPE},
        {{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, PNG},
        {{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A}, UNKNOWN_IMGTYPE},
        {{'D', 'A', 'T', 'A', '_', 'S', 'T', 'A', 'R', 'T'}, UNKNOWN_IMGTYPE},
        {{}, UNKNOWN_IMGTYPE},
    };
    for (const auto& [head, type] : cases)
        EXPECT_EQ(get_img_type(dir.write("f", head).c_str()), type) << head.size();
}

struct Layout {
    std::string what;
    Bytes file;
    Bytes want;
    long width, height;
    int uv_flag = 0;
};

// Every layout of a reader next to the grey pixels it must give.
std::vector<Layout> layouts() {
    std::vector<Layout> out;
    // PGM/PPM: comments, header on one line; pixel values that look like white
    // space or '#' are not skipped. P6 grey: 30 + 29.5 + 2.2 + 0.5 = 62.2, and
    // 0.55 + 0.5 rounds up to 1.
    const Bytes pgm = {'\n', ' ', '#', 4, 5, 6};
    for (const char* header :
         {"P5\n# first comment\n#c\n3 2\n#m\n255\n", "P5 3 2 100   trailing words\n"})
        out.push_back({header, test::make_pnm(header, pgm), pgm, 3, 2});
    out.push_back({"P6",
                   test::make_pnm("P6\n3 2\n255\n",
                                  {100, 50, 20, 255, 255, 255, 0, 0, 0, 0, 0, 5, 1, 1, 1, 0, 0, 0}),
                   {62, 255, 0, 1, 1, 0},
                   3,
                   2});

    // TIFF, in both byte orders.
    const Bytes grey = {0, 1, 2, 3, 10, 20, 30, 40, 100, 200, 254, 255};
    Bytes inverted;
    for (unsigned char v : grey) inverted.push_back(static_cast<unsigned char>(255 - v));
    const Bytes rgb = {255, 255, 255, 100, 50, 20, 0,   0, 0, 1, 1, 1, 2, 2,
                       2,   9,   9,   9,   10, 0,  200, 7, 7, 7, 7, 7, 7};
    for (ByteOrder order : kOrders) {
        const TiffSpec base{order, 4, 3, 1, 0, false, grey};
        const Bytes plain = make_tiff(base);
        TiffSpec shorts = base;  // SHORT entries in several strips
        shorts.short_values = true;
        shorts.rows_per_strip = 2;
        TiffSpec huge_rps = base;  // more rows per strip than rows: one strip
        huge_rps.rows_per_strip = 0xFFFFFFFFu;
        // Only the low-order byte of the entry count and of a field type counts.
        Bytes high_count = plain;
        const std::size_t ifd = decode_u32(plain.data() + 4, order);
        test::put_u16(high_count, ifd, decode_u16(plain.data() + ifd, order) | 0x0100, order);
        Bytes high_types = make_tiff(shorts);
        test::put_u16(high_types, test::tiff_value_at(high_types, order, 256) - 6, 0x0103, order);
        test::put_u16(high_types, test::tiff_value_at(high_types, order, 273) - 6, 0x0104, order);
        // Over-long strips are cut; an empty strip leaves its rows zero and the
        // next strip lands where its rows were.
        TiffSpec strips = base;
        strips.rows_per_strip = 1;
        Bytes overlong = make_tiff(strips), empty_strip = overlong;
        const std::size_t counts =
            decode_u32(overlong.data() + test::tiff_value_at(overlong, order, 279), order);
        test::put_u32(overlong, counts, 12 + 40, order);
        test::put_u32(empty_strip, counts, 4, order);
        test::put_u32(empty_strip, counts + 4, 0, order);
        Bytes shifted(12, 0);
        std::copy(grey.begin(), grey.begin() + 4, shifted.begin());
        std::copy(grey.begin() + 8, grey.end(), shifted.begin() + 4);
        const auto add = [&](const char* what, const Bytes& file, const Bytes& want) {
            out.push_back({what, file, want, 4, 3});
        };
        add("plain", plain, grey);
        add("shorts", make_tiff(shorts), grey);
        add("huge rows per strip", make_tiff(huge_rps), grey);
        add("high count", high_count, grey);
        add("high types", high_types, grey);
        add("white is zero", make_tiff({order, 4, 3, 0, 0, false, grey}), inverted);
        add("overlong strip", overlong, grey);
        add("empty strip", empty_strip, shifted);
        // RGB: (R + 2) / 4 + (G + 1) / 2 + (B + 2) / 4, or B alone under UV light.
        for (std::uint32_t rows_per_strip : {0u, 1u, 2u}) {
            const Bytes file = make_tiff({order, 3, 3, 2, rows_per_strip, false, rgb});
            out.push_back({"rgb", file, {255, 55, 0, 1, 3, 9, 53, 8, 8}, 3, 3});
            out.push_back({"rgb uv", file, {255, 20, 0, 1, 2, 9, 200, 7, 7}, 3, 3, 1});
        }
    }

    // PNG: RGB grey saturates from 246 (245 is the largest value kept), with or
    // without interlacing and transparency; grey of any depth becomes 8-bit;
    // palette and alpha images stay zero.
    PngSpec png{4, 2, 8, PNG_COLOR_TYPE_RGB, false, false, {250, 250, 250, 240, 240, 240,
                                                            100, 50,  20,  0,   0,   0,  //
                                                            246, 246, 246, 245, 245, 245,
                                                            255, 0,   255, 255, 255, 255}};
    const Bytes png_grey = {255, 240, 62, 0, 255, 245, 105, 255};
    out.push_back({"png rgb", test::make_png(png), png_grey, 4, 2});
    png.interlaced = true;
    out.push_back({"png interlaced", test::make_png(png), png_grey, 4, 2});
    png.interlaced = false;
    png.transparency = true;
    out.push_back({"png transparency", test::make_png(png), png_grey, 4, 2});
    const Bytes levels = {0, 1, 127, 128, 254, 255};
    out.push_back({"png grey 8",
                   test::make_png({3, 2, 8, PNG_COLOR_TYPE_GRAY, false, false, levels}), levels, 3,
                   2});
    out.push_back(
        {"png grey 16",
         test::make_png({2, 1, 16, PNG_COLOR_TYPE_GRAY, false, false, {0x12, 0xFF, 0xAB, 0x01}}),
         {0x12, 0xAB},
         2,
         1});
    out.push_back({"png grey 1",
                   test::make_png({3, 1, 1, PNG_COLOR_TYPE_GRAY, false, false, {0xA0}}),
                   {255, 0, 255},
                   3,
                   1});
    for (const auto& [type, samples] :
         {std::pair{PNG_COLOR_TYPE_PALETTE, 1}, std::pair{PNG_COLOR_TYPE_RGBA, 4},
          std::pair{PNG_COLOR_TYPE_GRAY_ALPHA, 2}})
        out.push_back({"png " + std::to_string(type),
                       test::make_png({3, 2, 8, type, false, false, Bytes(6 * samples, 1)}),
                       Bytes(6, 0), 3, 2});
    return out;
}

TEST(Readers, LayoutsGiveTheirGreyPixels) {
    testing::ScratchDir dir;
    for (const Layout& c : layouts()) {
        const test::Loaded got = test::load(dir.write("image", c.file), c.uv_flag);
        EXPECT_EQ(got.pixels, c.want) << c.what;
        EXPECT_EQ(got.width, c.width) << c.what;
        EXPECT_EQ(got.height, c.height) << c.what;
    }
}

// Decodes a valid JPEG to its samples with the library defaults, the way the reader sees them.
Bytes decode_samples(const Bytes& file, int& components) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), file.size());
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
    return out;
}

// Every pixel of a JPEG, grey or not, is the rounded weighted sum of its
// decoded samples (a grey file's are copied): left half (100, 50, 20), right
// half every grey level.
TEST(Readers, JpegGreyIsTheRoundedWeightedSumOfTheDecodedSamples) {
    testing::ScratchDir dir;
    Bytes rgb(std::size_t{3} * 32 * 16), grey(32 * 16), grey_rgb(rgb.size());
    for (std::size_t i = 0; i < grey.size(); ++i) {
        const bool level = i % 32 >= 16;
        grey[i] = static_cast<unsigned char>(i % 32 * 8);
        rgb[3 * i] = level ? static_cast<unsigned char>(i / 32 * 16 + i % 16) : 100;
        rgb[3 * i + 1] = level ? rgb[3 * i] : 50;
        rgb[3 * i + 2] = level ? rgb[3 * i] : 20;
        // A grey picture stored in colour, read from its luminance alone.
        std::fill_n(grey_rgb.begin() + 3 * i, 3, static_cast<unsigned char>(i * 37 % 256));
    }
    for (const Bytes& file :
         {test::make_jpeg(rgb, 32, 16, 3, JCS_RGB), test::make_jpeg(grey, 32, 16, 1, JCS_GRAYSCALE),
          test::make_jpeg(grey_rgb, 32, 16, 3, JCS_RGB, 75)}) {
        int components = 0;
        const Bytes samples = decode_samples(file, components);
        const test::Loaded got = test::load(dir.write("image.jpg", file));
        ASSERT_EQ(got.pixels.size(), 512u);
        EXPECT_EQ(got.width, 32);
        EXPECT_EQ(got.height, 16);
        for (std::size_t i = 0; i < got.pixels.size(); ++i) {
            const unsigned char* s = &samples[components * i];
            const int want =
                components == 1
                    ? s[0]
                    : std::min(255, static_cast<int>(0.3 * s[0] + 0.59 * s[1] + 0.11 * s[2] + 0.5));
            ASSERT_EQ(got.pixels[i], want) << i;
        }
    }
}

// Damaged files of every reader give no image, and the program goes on.
TEST(Readers, DamagedFilesGiveNoImage) {
    testing::ScratchDir dir;
    std::vector<std::pair<std::string, Bytes>> cases;
    const Bytes some(64, 1);
    for (const char* header : {"P5\n0 4\n255\n",                     // zero width
                               "P5\n4 -2\n255\n",                    // negative height
                               "P5\n99999999999999999999 2\n255\n",  // beyond any integer
                               "P5\n4294967296 1\n255\n",            // beyond the image record
                               "P5\n100000 100000\n255\n",  // far more pixels than the file holds
                               "P5\n9 8\n255\n",            // one byte short
                               "P6\n8 8\n255\n",            // 64 bytes are not 64 RGB pixels
                               "P5\n2 2\n256\n",            // two-byte samples
                               "P5\n2 2\n0\n", "P5\n2 2\n", "P5\n2\n255\n", "P5\nwide 2\n255\n"})
        cases.push_back({header, test::make_pnm(header, some)});
    cases.push_back({"P5 no pixels", test::make_pnm("P5\n1 1\n255", {})});

    for (ByteOrder order : kOrders) {
        Bytes samples(36, 80);
        const Bytes good = make_tiff({order, 4, 3, 2, 1, false, samples});
        const auto size = static_cast<std::uint32_t>(good.size());
        const auto at = [&](std::uint32_t tag) { return test::tiff_value_at(good, order, tag); };
        const auto with = [&](std::uint32_t tag, std::uint32_t value) {
            Bytes f = good;
            test::put_u32(f, at(tag), value, order);
            return f;
        };
        const std::size_t offsets = decode_u32(good.data() + at(273), order);
        const std::size_t counts = decode_u32(good.data() + at(279), order);
        Bytes directory_beyond = good, strip_beyond = good, strip_wraps = good;
        test::put_u32(directory_beyond, 4, 0x7FFFFFF0u, order);
        test::put_u32(strip_beyond, offsets + 8, size - 2, order);
        test::put_u32(strip_wraps, offsets + 4, 0xFFFFFFF0u, order);
        test::put_u32(strip_wraps, counts + 4, 0xFFFFFFF0u, order);
        Bytes single_strip_beyond = with(278, 3);
        test::put_u32(single_strip_beyond, at(273), size - 10, order);
        for (auto& [what, file] : std::vector<std::pair<std::string, Bytes>>{
                 {"header only", Bytes(good.begin(), good.begin() + 8)},
                 {"directory beyond the end", directory_beyond},
                 {"directory cut short", Bytes(good.begin(), good.end() - 20)},
                 {"zero width", with(256, 0)},
                 {"zero height", with(257, 0)},
                 {"huge height", with(257, 0xFFFFFFFFu)},
                 {"huge width", with(256, 0x40000000u)},
                 {"zero rows per strip", with(278, 0)},
                 {"strip table beyond the end", with(273, 0xFFFFFFF0u)},
                 {"count table beyond the end", with(279, size - 4)},
                 {"strip beyond the end", strip_beyond},
                 {"strip offset near 2^32", strip_wraps},
                 {"single strip beyond the end", single_strip_beyond}})
            cases.push_back({"tiff " + what, file});
    }

    Bytes noise(std::size_t{3} * 64 * 64);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<unsigned char>(i * 7919 % 251);
    const Bytes png = test::make_png({64, 64, 8, PNG_COLOR_TYPE_RGB, false, false, noise});
    const Bytes jpeg = test::make_jpeg(noise, 64, 64, 3, JCS_RGB);
    for (std::size_t keep :
         {std::size_t{8}, std::size_t{20}, std::size_t{40}, png.size() / 2, png.size() - 13})
        cases.push_back(
            {"png cut " + std::to_string(keep), Bytes(png.begin(), png.begin() + keep)});
    for (std::size_t keep : {std::size_t{3}, std::size_t{100}, jpeg.size() / 2, jpeg.size() - 2})
        cases.push_back(
            {"jpeg cut " + std::to_string(keep), Bytes(jpeg.begin(), jpeg.begin() + keep)});
    Bytes grey_noise = noise;
    for (std::size_t i = 0; i < grey_noise.size(); ++i) grey_noise[i] = noise[i / 3 * 3];
    const Bytes grey_jpeg = test::make_jpeg(grey_noise, 64, 64, 3, JCS_RGB);
    cases.push_back(
        {"grey jpeg cut", Bytes(grey_jpeg.begin(), grey_jpeg.begin() + grey_jpeg.size() / 2)});
    Bytes png_garbage = png, jpeg_garbage = {0xFF, 0xD8, 0xFF};
    for (std::size_t i = 8; i < png_garbage.size(); ++i)
        png_garbage[i] = static_cast<unsigned char>(i * 31);
    for (int i = 0; i < 500; ++i) jpeg_garbage.push_back(static_cast<unsigned char>(i * 37));
    cases.push_back({"png garbage", png_garbage});
    cases.push_back({"jpeg garbage", jpeg_garbage});
    for (const auto& [what, file] : cases)
        EXPECT_TRUE(test::load(dir.write("damaged", file)).pixels.empty()) << what;

    // A PNG size far beyond any camera (yet within libpng's own limits), with a
    // valid header checksum, and a JPEG of four colour components, are named.
    Bytes wide = png;
    wide[17] = wide[21] = 0x0F;  // width and height 0x000F0040
    const unsigned long crc = crc32(0, wide.data() + 12, 17);
    for (int i = 0; i < 4; ++i) wide[29 + i] = static_cast<unsigned char>(crc >> (24 - 8 * i));
    const Bytes cmyk = test::make_jpeg(Bytes(std::size_t{4} * 8 * 8, 90), 8, 8, 4, JCS_CMYK);
    for (const auto& [message, file] :
         {std::pair{"image size 983104 x 983104", wide}, std::pair{"4 colour components", cmyk}}) {
        const test::Loaded got = test::load(dir.write("damaged", file));
        EXPECT_TRUE(got.pixels.empty()) << message;
        EXPECT_NE(got.messages.find(message), std::string::npos) << got.messages;
    }
}

// A file that goes away between the type test and the reading is reported
// with the system's reason.
TEST(Readers, MissingFilesAreReported) {
    testing::ScratchDir dir;
    const std::string absent = dir.file("absent");
    const std::string reason = absent + " for reading!:: No such file or directory\n";
    ByteBuffer pixels;
    IMAGE im;
    int w = 0, h = 0;
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { get_img_type(absent.c_str()); }, "\nget_img_type: Cannot open file " + reason},
        {[&] { read_pgm(pixels, im, absent.c_str()); }, "\nread_pgm: Cannot open file " + reason},
        {[&] { read_tiff_2(pixels, im, absent.c_str(), 0, TIFF_BIG); },
         "\nread_tiff: Cannot open file " + reason},
        {[&] { pixels = loadpng(absent.c_str(), &w, &h); }, "can't open " + absent + "\n"},
        {[&] { pixels = read_JPEG_file(absent.c_str(), &w, &h); }, "can't open " + absent + "\n"},
    };
    for (const auto& [read, message] : cases) {
        testing::StderrCapture capture;
        read();
        EXPECT_NE(capture.text().find(message), std::string::npos) << message;
        EXPECT_TRUE(pixels.empty());
    }
}

}  // namespace
}  // namespace orva
