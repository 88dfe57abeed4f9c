// Seeded random damage to small valid files: every reader must either refuse
// the file or return an image of exactly the size it reports.
#include <gtest/gtest.h>

#include <random>

#include "image_test_support.h"
#include "imageio/image_type.h"
#include "imageio/jpeg_io.h"
#include "imageio/pgm_reader.h"
#include "imageio/png_reader.h"
#include "imageio/tiff_reader.h"

namespace orva {
namespace {

using test::Bytes;
using test::TempDir;

constexpr int kRounds = 300;

// One to six changes: single bytes, four-byte runs of 0xFF or 0x00 (huge or
// zero numbers), a cut, or inserted bytes. Half of the byte changes go to the
// last `tail` bytes, where the TIFF directory lives.
Bytes mutate(const Bytes& original, std::mt19937& rng, std::size_t tail) {
    Bytes b = original;
    const int changes = std::uniform_int_distribution<int>(1, 6)(rng);
    for (int c = 0; c < changes && !b.empty(); ++c) {
        const std::size_t n = b.size();
        std::size_t at = std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
        if (rng() % 2 && tail > 0 && tail <= n)
            at = n - tail + std::uniform_int_distribution<std::size_t>(0, tail - 1)(rng);
        switch (rng() % 5) {
            case 0:
            case 1:
                b[at] = static_cast<unsigned char>(rng());
                break;
            case 2:
                for (std::size_t i = at; i < std::min(n, at + 4); ++i)
                    b[i] = rng() % 2 ? 0xFF : 0x00;
                break;
            case 3:
                b.resize(at);
                break;
            default:
                b.insert(b.begin() + static_cast<long>(at), static_cast<unsigned char>(rng()));
                break;
        }
    }
    return b;
}

test::TiffSpec tiff_spec(ByteOrder order, std::uint32_t photometric, std::uint32_t rows_per_strip) {
    test::TiffSpec s;
    s.order = order;
    s.width = 5;
    s.height = 4;
    s.photometric = photometric;
    s.rows_per_strip = rows_per_strip;
    s.samples.resize(photometric == 2 ? 60 : 20);
    for (std::size_t i = 0; i < s.samples.size(); ++i)
        s.samples[i] = static_cast<unsigned char>(i * 13);
    return s;
}

// Damages each base file in turn and hands it to `read`, which returns the
// pixels and the size it reports; at least `min_read` rounds must give pixels.
template <class Read>
void fuzz(const std::vector<Bytes>& bases, std::uint32_t seed, std::size_t tail, int min_read,
          Read read) {
    TempDir dir;
    std::mt19937 rng(seed);
    test::StderrCapture quiet;
    int read_back = 0;
    for (int round = 0; round < kRounds; ++round) {
        const std::string name =
            dir.write("fuzz.img", mutate(bases[round % bases.size()], rng, tail));
        std::size_t reported = 0;
        const ByteBuffer pixels = read(name, round, reported);
        if (!pixels.empty()) {
            EXPECT_EQ(pixels.size(), reported) << "round " << round;
            ++read_back;
        }
    }
    EXPECT_GE(read_back, min_read);  // the damage must not hide the pixel path
}

TEST(ReaderFuzz, DamagedFilesNeverBreakTheReaders) {
    fuzz({test::make_tiff(tiff_spec(ByteOrder::LeastSignificantFirst, 1, 1)),
          test::make_tiff(tiff_spec(ByteOrder::MostSignificantFirst, 2, 3)),
          test::make_tiff(tiff_spec(ByteOrder::MostSignificantFirst, 0, 0))},
         20240611, 110, kRounds / 10, [](const std::string& name, int round, std::size_t& n) {
             ByteBuffer pixels;
             IMAGE im;
             EXPECT_EQ(read_tiff_2(pixels, im, name.c_str(), round % 2, get_img_type(name.c_str())),
                       0);
             n = std::size_t{im.width} * im.height;
             return pixels;
         });
    Bytes grey(48);
    for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<unsigned char>(i * 5);
    fuzz({test::make_pnm("P5\n# camera\n8 6\n255\n", grey), test::make_pnm("P6\n4 4\n255\n", grey)},
         77, 0, kRounds / 10, [](const std::string& name, int, std::size_t& n) {
             ByteBuffer pixels;
             IMAGE im;
             EXPECT_EQ(read_pgm(pixels, im, name.c_str()), 0);
             n = std::size_t{im.width} * im.height;
             if (!pixels.empty()) {
                 EXPECT_EQ(im.size, pixels.size());
             }
             return pixels;
         });

    TempDir dir;
    Bytes rgb(std::size_t{3} * 16 * 16);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<unsigned char>(i * 11);
    const std::string jpeg = dir.path("base.jpg");
    write_JPEG_file(jpeg.c_str(), 90, 16, 16, rgb.data());
    test::PngSpec png;
    png.width = 16;
    png.height = 16;
    png.samples = rgb;
    const std::string png_name = dir.path("base.png");
    ASSERT_TRUE(test::write_png(png_name, png));
    fuzz({test::read_all(jpeg), test::read_all(png_name)}, 4242, 0, 1,
         [](const std::string& name, int round, std::size_t& n) {
             int width = -1, height = -1;
             ByteBuffer pixels = round % 2 ? loadpng(name.c_str(), &width, &height)
                                           : read_JPEG_file(name.c_str(), &width, &height);
             n = std::size_t(width) * std::size_t(height);
             return pixels;
         });
}

}  // namespace
}  // namespace orva
