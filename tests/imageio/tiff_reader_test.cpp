#include "imageio/tiff_reader.h"

#include <gtest/gtest.h>

#include "image_test_support.h"
#include "imageio/image_type.h"

namespace orva {
namespace {

using test::Bytes;
using test::make_tiff;
using test::TempDir;
using test::TiffSpec;

constexpr ByteOrder kOrders[] = {ByteOrder::MostSignificantFirst, ByteOrder::LeastSignificantFirst};

int type_for(ByteOrder order) {
    return order == ByteOrder::MostSignificantFirst ? TIFF_LITTLE : TIFF_BIG;
}

struct Loaded {
    int status = -1;
    ByteBuffer pixels;
    IMAGE im;
};

Loaded load(const TempDir& dir, const Bytes& file, ByteOrder order, int uv_flag = 0) {
    Loaded out;
    test::StderrCapture quiet;
    const std::string name = dir.write("image.tif", file);
    out.status = read_tiff_2(out.pixels, out.im, name.c_str(), uv_flag, type_for(order));
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

TEST(TiffReader, GreyInBothByteOrdersTypeDetectedFromTheFile) {
    TempDir dir;
    for (ByteOrder order : kOrders) {
        const TiffSpec s = grey_spec(order, 1);
        const std::string name = dir.write("g.tif", make_tiff(s));
        ASSERT_EQ(get_img_type(name.c_str()), type_for(order));
        ByteBuffer pixels;
        IMAGE im;
        EXPECT_EQ(read_tiff_2(pixels, im, name.c_str(), 0, get_img_type(name.c_str())), 0);
        EXPECT_EQ(pixels, s.samples);
        EXPECT_EQ(im.width, 4u);
        EXPECT_EQ(im.height, 3u);
        EXPECT_EQ(im.size, 12ul);
    }
}

TEST(TiffReader, ShortEntriesTakeTheFirstTwoValueBytes) {
    TempDir dir;
    for (ByteOrder order : kOrders) {
        TiffSpec s = grey_spec(order, 1);
        s.short_values = true;
        s.rows_per_strip = 2;
        const Loaded got = load(dir, make_tiff(s), order);
        EXPECT_EQ(got.pixels, s.samples);
        EXPECT_EQ(got.im.width, 4u);
    }
}

TEST(TiffReader, WhiteIsZeroIsInverted) {
    TempDir dir;
    for (ByteOrder order : kOrders) {
        const TiffSpec s = grey_spec(order, 0);
        const Loaded got = load(dir, make_tiff(s), order);
        ASSERT_EQ(got.pixels.size(), s.samples.size());
        for (std::size_t i = 0; i < s.samples.size(); ++i)
            EXPECT_EQ(got.pixels[i], 255 - s.samples[i]);
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
            // 64 + 128 + 64 limited; 25 + 25 + 5; 0 + 1 + 0; 1 + 1 + 1; 3 + 0 + 50.
            const Loaded plain = load(dir, file, order, 0);
            EXPECT_EQ(plain.pixels, (Bytes{255, 55, 0, 1, 3, 9, 53, 8, 8}))
                << "rows per strip " << rows_per_strip;
            const Loaded uv = load(dir, file, order, 1);
            EXPECT_EQ(uv.pixels, (Bytes{255, 20, 0, 1, 2, 9, 200, 7, 7}));
            EXPECT_EQ(uv.im.size, 9ul);
        }
    }
}

TEST(TiffReader, RowsPerStripBeyondHeightMeansOneStrip) {
    TempDir dir;
    for (ByteOrder order : kOrders) {
        TiffSpec s = grey_spec(order, 1);
        s.rows_per_strip = 0xFFFFFFFFu;
        const Loaded got = load(dir, make_tiff(s), order);
        EXPECT_EQ(got.status, 0);
        EXPECT_EQ(got.pixels, s.samples);
    }
}

TEST(TiffReader, EntryCountUsesItsLowOrderByteOnly) {
    TempDir dir;
    for (ByteOrder order : kOrders) {
        const TiffSpec s = grey_spec(order, 1);
        Bytes file = make_tiff(s);
        const std::size_t ifd = decode_u32(file.data() + 4, order);
        test::put_u16(file, ifd, decode_u16(file.data() + ifd, order) | 0x0100, order);
        EXPECT_EQ(load(dir, file, order).pixels, s.samples);
    }
}

TEST(TiffReader, OtherFieldTypesRepeatThePreviousValue) {
    TempDir dir;
    const ByteOrder order = ByteOrder::LeastSignificantFirst;
    TiffSpec s = grey_spec(order, 1);
    s.width = 3;
    s.height = 3;
    s.samples.resize(9);
    Bytes file = make_tiff(s);
    // Height as a RATIONAL entry: the reader takes the width's value instead.
    const std::size_t height_value = test::tiff_value_at(file, order, 257);
    test::put_u16(file, height_value - 6, 5, order);
    test::put_u32(file, height_value, 1000, order);
    const Loaded got = load(dir, file, order);
    EXPECT_EQ(got.im.height, 3u);
    EXPECT_EQ(got.pixels, s.samples);

    // Only the low-order byte of the field type counts, in either byte order:
    // 0x0104 is a LONG and 0x0103 a SHORT.
    for (ByteOrder each : kOrders) {
        TiffSpec t = grey_spec(each, 1);
        t.short_values = true;
        Bytes f = make_tiff(t);
        const std::size_t width_type = test::tiff_value_at(f, each, 256) - 6;
        test::put_u16(f, width_type, 0x0103, each);
        const std::size_t offsets_type = test::tiff_value_at(f, each, 273) - 6;
        test::put_u16(f, offsets_type, 0x0104, each);
        const Loaded high = load(dir, f, each);
        EXPECT_EQ(high.im.width, 4u);
        EXPECT_EQ(high.pixels, t.samples);
    }
}

TEST(TiffReader, StripsBeyondTheImageAreCutAndMissingOnesStayZero) {
    TempDir dir;
    for (ByteOrder order : kOrders) {
        TiffSpec s = grey_spec(order, 1);
        s.rows_per_strip = 1;
        Bytes file = make_tiff(s);
        const std::size_t counts =
            decode_u32(file.data() + test::tiff_value_at(file, order, 279), order);
        // First strip claims the whole data block and more; later strips then
        // find the buffer full.
        test::put_u32(file, counts, 12 + 40, order);
        EXPECT_EQ(load(dir, file, order).pixels, s.samples);
        // Strips of no bytes leave their rows zero.
        test::put_u32(file, counts, 4, order);
        test::put_u32(file, counts + 4, 0, order);
        Bytes expected = s.samples;
        std::fill(expected.begin() + 8, expected.end(), 0);
        // The third strip now lands where the second one's rows were.
        std::copy(s.samples.begin() + 8, s.samples.end(), expected.begin() + 4);
        const Loaded got = load(dir, file, order);
        EXPECT_EQ(got.status, 0);
        EXPECT_EQ(got.pixels, expected);
    }
}

TEST(TiffReader, DamagedFilesGiveNoImage) {
    TempDir dir;
    for (ByteOrder order : kOrders) {
        TiffSpec s = grey_spec(order, 2);
        s.samples.resize(36, 80);
        s.rows_per_strip = 1;
        const Bytes good = make_tiff(s);
        ASSERT_EQ(load(dir, good, order).pixels.size(), 12u);
        auto with = [&](std::uint32_t tag, std::uint32_t value) {
            Bytes f = good;
            test::put_u32(f, test::tiff_value_at(f, order, tag), value, order);
            return f;
        };
        const std::size_t offsets =
            decode_u32(good.data() + test::tiff_value_at(good, order, 273), order);
        const std::size_t counts =
            decode_u32(good.data() + test::tiff_value_at(good, order, 279), order);
        Bytes directory_beyond = good;
        test::put_u32(directory_beyond, 4, 0x7FFFFFF0u, order);
        Bytes strip_beyond = good;
        test::put_u32(strip_beyond, offsets + 8, static_cast<std::uint32_t>(good.size()) - 2,
                      order);
        Bytes strip_wraps = good;
        test::put_u32(strip_wraps, offsets + 4, 0xFFFFFFF0u, order);
        test::put_u32(strip_wraps, counts + 4, 0xFFFFFFF0u, order);
        Bytes truncated_directory(good.begin(), good.end() - 20);
        Bytes single_strip_beyond = with(278, 3);
        test::put_u32(single_strip_beyond, test::tiff_value_at(good, order, 273),
                      static_cast<std::uint32_t>(good.size()) - 10, order);
        const std::vector<std::pair<const char*, Bytes>> cases = {
            {"header only", Bytes(good.begin(), good.begin() + 8)},
            {"directory beyond the end", directory_beyond},
            {"directory cut short", truncated_directory},
            {"zero width", with(256, 0)},
            {"huge height", with(257, 0xFFFFFFFFu)},
            {"huge width", with(256, 0x40000000u)},
            {"zero rows per strip", with(278, 0)},
            {"strip table beyond the end", with(273, 0xFFFFFFF0u)},
            {"count table beyond the end", with(279, static_cast<std::uint32_t>(good.size()) - 4)},
            {"strip beyond the end", strip_beyond},
            {"strip offset near 2^32", strip_wraps},
            {"single strip beyond the end", single_strip_beyond},
            {"zero height", with(257, 0)},
        };
        for (const auto& [what, file] : cases) {
            const Loaded got = load(dir, file, order);
            EXPECT_EQ(got.status, 0) << what;
            EXPECT_TRUE(got.pixels.empty()) << what;
        }
    }
}

TEST(TiffReader, WrongTypeOrMissingFileGivesNoImage) {
    TempDir dir;
    const std::string name =
        dir.write("g.tif", make_tiff(grey_spec(ByteOrder::LeastSignificantFirst, 1)));
    ByteBuffer pixels;
    IMAGE im;
    {
        test::StderrCapture quiet;
        EXPECT_EQ(read_tiff_2(pixels, im, name.c_str(), 0, JPEG), 0);
    }
    EXPECT_TRUE(pixels.empty());
    test::StderrCapture capture;
    const std::string absent = dir.path("absent.tif");
    EXPECT_EQ(read_tiff_2(pixels, im, absent.c_str(), 0, TIFF_BIG), 0);
    EXPECT_TRUE(pixels.empty());
    EXPECT_EQ(capture.text(), "\nread_tiff: Cannot open file " + absent +
                                  " for reading!:: No such file or directory\n");
}

}  // namespace
}  // namespace orva
