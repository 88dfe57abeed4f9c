#include "imageio/tiff_reader.h"

#include <gtest/gtest.h>

#include <functional>

#include "image_test_support.h"
#include "imageio/image_type.h"

namespace orva {
namespace {

using test::Bytes;
using test::make_tiff;
using test::TempDir;
using test::TiffSpec;

constexpr ByteOrder kOrders[] = {ByteOrder::MostSignificantFirst, ByteOrder::LeastSignificantFirst};

struct Loaded {
    ByteBuffer pixels;
    IMAGE im;
};

// Reads with the type the file's own header gives.
Loaded load(const TempDir& dir, const Bytes& file, int uv_flag = 0) {
    Loaded out;
    test::StderrCapture quiet;
    const std::string name = dir.write("image.tif", file);
    EXPECT_EQ(read_tiff_2(out.pixels, out.im, name.c_str(), uv_flag, get_img_type(name.c_str())),
              0);
    return out;
}

TiffSpec grey_spec(ByteOrder order, std::uint32_t photometric) {
    TiffSpec s;
    s.order = order;
    s.width = 4;
    s.height = 3;
    s.photometric = photometric;
    s.samples = {0, 1, 2, 3, 10, 20, 30, 40, 100, 200, 254, 255};
    return s;
}

TEST(TiffReader, GreyLayoutsAllReadTheSameSamples) {
    TempDir dir;
    for (ByteOrder order : kOrders) {
        const TiffSpec base = grey_spec(order, 1);
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
        for (const Bytes& file :
             {plain, make_tiff(shorts), make_tiff(huge_rps), high_count, high_types}) {
            const Loaded got = load(dir, file);
            EXPECT_EQ(got.pixels, base.samples);
            EXPECT_EQ(got.im.width, 4u);
            EXPECT_EQ(got.im.height, 3u);
        }
        const Loaded inverted = load(dir, make_tiff(grey_spec(order, 0)));
        ASSERT_EQ(inverted.pixels.size(), 12u);
        for (std::size_t i = 0; i < 12; ++i) EXPECT_EQ(inverted.pixels[i], 255 - base.samples[i]);
    }
}

TEST(TiffReader, RgbStripsWithAndWithoutUvLight) {
    TempDir dir;
    const Bytes rgb = {255, 255, 255, 100, 50, 20, 0, 0, 0,  //
                       1,   1,   1,   2,   2,  2,  9, 9, 9,  //
                       10,  0,   200};                       // then two pixels (7, 7, 7)
    for (ByteOrder order : kOrders) {
        for (std::uint32_t rows_per_strip : {0u, 1u, 2u}) {
            TiffSpec s;
            s.order = order;
            s.width = 3;
            s.height = 3;
            s.photometric = 2;
            s.rows_per_strip = rows_per_strip;
            s.samples.assign(27, 7);
            std::copy(rgb.begin(), rgb.end(), s.samples.begin());
            const Bytes file = make_tiff(s);
            EXPECT_EQ(load(dir, file, 0).pixels, (Bytes{255, 55, 0, 1, 3, 9, 53, 8, 8}))
                << "rows per strip " << rows_per_strip;
            EXPECT_EQ(load(dir, file, 1).pixels, (Bytes{255, 20, 0, 1, 2, 9, 200, 7, 7}));
        }
    }
}

TEST(TiffReader, OverlongStripsAreCutAndEmptyOnesStayZero) {
    TempDir dir;
    for (ByteOrder order : kOrders) {
        TiffSpec s = grey_spec(order, 1);
        s.rows_per_strip = 1;
        Bytes file = make_tiff(s);
        const std::size_t counts =
            decode_u32(file.data() + test::tiff_value_at(file, order, 279), order);
        test::put_u32(file, counts, 12 + 40, order);
        EXPECT_EQ(load(dir, file).pixels, s.samples);
        test::put_u32(file, counts, 4, order);
        test::put_u32(file, counts + 4, 0, order);
        Bytes expected(12, 0);  // the third strip lands where the second one's rows were
        std::copy(s.samples.begin(), s.samples.begin() + 4, expected.begin());
        std::copy(s.samples.begin() + 8, s.samples.end(), expected.begin() + 4);
        EXPECT_EQ(load(dir, file).pixels, expected);
    }
}

TEST(TiffReader, DamagedFilesGiveNoImage) {
    TempDir dir;
    for (ByteOrder order : kOrders) {
        TiffSpec s = grey_spec(order, 2);
        s.samples.resize(36, 80);
        s.rows_per_strip = 1;
        const Bytes good = make_tiff(s);
        ASSERT_EQ(load(dir, good).pixels.size(), 12u);
        const auto size = static_cast<std::uint32_t>(good.size());
        auto with = [&](std::uint32_t tag, std::uint32_t value) {
            Bytes f = good;
            test::put_u32(f, test::tiff_value_at(f, order, tag), value, order);
            return f;
        };
        const std::size_t offsets =
            decode_u32(good.data() + test::tiff_value_at(good, order, 273), order);
        const std::size_t counts =
            decode_u32(good.data() + test::tiff_value_at(good, order, 279), order);
        Bytes directory_beyond = good, strip_beyond = good, strip_wraps = good;
        test::put_u32(directory_beyond, 4, 0x7FFFFFF0u, order);
        test::put_u32(strip_beyond, offsets + 8, size - 2, order);
        test::put_u32(strip_wraps, offsets + 4, 0xFFFFFFF0u, order);
        test::put_u32(strip_wraps, counts + 4, 0xFFFFFFF0u, order);
        Bytes single_strip_beyond = with(278, 3);
        test::put_u32(single_strip_beyond, test::tiff_value_at(good, order, 273), size - 10, order);
        const std::vector<std::pair<const char*, Bytes>> cases = {
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
            {"single strip beyond the end", single_strip_beyond},
        };
        for (const auto& [what, file] : cases) EXPECT_TRUE(load(dir, file).pixels.empty()) << what;
    }
}

TEST(TiffReader, WrongTypeOrMissingFileGivesNoImage) {
    TempDir dir;
    const std::string name =
        dir.write("g.tif", make_tiff(grey_spec(ByteOrder::LeastSignificantFirst, 1)));
    ByteBuffer pixels;
    IMAGE im;
    test::StderrCapture capture;
    EXPECT_EQ(read_tiff_2(pixels, im, name.c_str(), 0, JPEG), 0);
    EXPECT_TRUE(pixels.empty());
    const std::string absent = dir.path("absent.tif");
    EXPECT_EQ(read_tiff_2(pixels, im, absent.c_str(), 0, TIFF_BIG), 0);
    EXPECT_TRUE(pixels.empty());
    EXPECT_NE(capture.text().find("\nread_tiff: Cannot open file " + absent +
                                  " for reading!:: No such file or directory\n"),
              std::string::npos);
}

}  // namespace
}  // namespace orva
