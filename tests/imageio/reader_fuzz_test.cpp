// Seeded random damage to small valid files of every format: read as the
// program reads them (typed by their first bytes), they are either refused or
// give an image of exactly the size the reader reports.
#include <gtest/gtest.h>

#include <random>

#include "image_test_support.h"

namespace orva {
namespace {

using test::Bytes;

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

TEST(ReaderFuzz, DamagedFilesNeverBreakTheReaders) {
    Bytes samples(std::size_t{3} * 16 * 16);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<unsigned char>(i * 13);
    const auto first = [&](std::size_t n) { return Bytes(samples.begin(), samples.begin() + n); };
    constexpr auto LSF = ByteOrder::LeastSignificantFirst, MSF = ByteOrder::MostSignificantFirst;
    const struct {
        std::vector<Bytes> bases;
        std::uint32_t seed;
        std::size_t tail;
        int min_read;  // the damage must not hide the pixel path
    } families[] = {
        {{test::make_tiff({LSF, 5, 4, 1, 1, false, first(20)}),
          test::make_tiff({MSF, 5, 4, 2, 3, false, first(60)}),
          test::make_tiff({MSF, 5, 4, 0, 0, false, first(20)})},
         20240611, 110, kRounds / 10},
        {{test::make_pnm("P5\n# camera\n8 6\n255\n", first(48)),
          test::make_pnm("P6\n4 4\n255\n", first(48))},
         77, 0, kRounds / 10},
        {{test::make_jpeg(samples, 16, 16, 3, JCS_RGB, 90),
          test::make_png({16, 16, 8, PNG_COLOR_TYPE_RGB, false, false, samples})},
         4242, 0, 1},
    };
    testing::ScratchDir dir;
    for (const auto& family : families) {
        std::mt19937 rng(family.seed);
        int read_back = 0;
        for (int round = 0; round < kRounds; ++round) {
            const Bytes file = mutate(family.bases[round % family.bases.size()], rng, family.tail);
            const test::Loaded got = test::load(dir.write("fuzz.img", file), round % 2);
            if (got.pixels.empty()) continue;
            EXPECT_EQ(got.pixels.size(), std::size_t(got.width) * std::size_t(got.height))
                << family.seed << " round " << round;
            ++read_back;
        }
        EXPECT_GE(read_back, family.min_read) << family.seed;
    }
}

}  // namespace
}  // namespace orva
