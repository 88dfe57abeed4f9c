// Median filters: the exchange network against a full sort, the padding of
// the edges, reads of unfiltered values only, and the exact small medians.
#include "toolkit/rank_filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <tuple>
#include <vector>

#include "support/images.h"

namespace orva {
namespace {

using test::geometry;

TEST(Med3x3, ExchangeNetworkGivesTheExactMedian) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> few(0, 3), any(0, 255);
    std::uniform_real_distribution<float> real(-5.0f, 5.0f);
    for (int t = 0; t < 20000; ++t) {
        std::array<unsigned char, 9> b;
        std::array<float, 9> f;
        for (int i = 0; i < 9; ++i) {
            b[i] = static_cast<unsigned char>(t % 2 ? few(rng) : any(rng));
            f[i] = t % 3 ? real(rng) : static_cast<float>(few(rng));
        }
        auto bs = b;
        auto fs = f;
        std::nth_element(bs.begin(), bs.begin() + 4, bs.end());
        std::nth_element(fs.begin(), fs.begin() + 4, fs.end());
        using BR = std::span<const unsigned char, 3>;
        using FR = std::span<const float, 3>;
        ASSERT_EQ(med3x3(BR(&b[0], 3), BR(&b[3], 3), BR(&b[6], 3)), bs[4]);
        ASSERT_EQ(fmed3x3(FR(&f[0], 3), FR(&f[3], 3), FR(&f[6], 3)), fs[4]);
    }
}

TEST(MedianFilter, PadsWithZeroColumnsAndRepeatedEdgeRows) {
    // A set column 0 loses its missing left neighbours to zeros; a set top or
    // bottom row sees itself beyond the edge, so it survives away from the sides.
    using Mask = std::vector<unsigned char>;
    const Mask col0 = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    Mask top(20, 0), top_want(20, 0), bottom(20, 0), bottom_want(20, 0);
    for (int x = 0; x < 5; ++x) {
        top[x] = 1;
        bottom[15 + x] = 9;
        if (x > 0 && x < 4) top_want[x] = 1, bottom_want[15 + x] = 9;
    }
    for (auto [w, h, mask, want] :
         {std::tuple{4u, 3u, col0, Mask(12, 0)}, std::tuple{5u, 4u, top, top_want},
          std::tuple{5u, 4u, bottom, bottom_want}}) {
        ASSERT_EQ(median_filter(geometry(w, h), mask), 0);
        EXPECT_EQ(mask, want);
    }
}

TEST(MedianFilter, ReadsOnlyUnfilteredValues) {
    // Worked by hand from the padded copy; an in-place pass would differ.
    std::vector<unsigned char> img = {1, 9, 3, 4, 5, 6};
    ASSERT_EQ(median_filter(geometry(3, 2), img), 0);
    EXPECT_EQ(img, (std::vector<unsigned char>{1, 4, 3, 4, 5, 5}));

    std::vector<float> f = {1.5f, 2.5f, 3.5f, -4.0f, 5.5f, 6.5f};
    ASSERT_EQ(fmedian_filter(3, 2, f), 0);
    EXPECT_EQ(f, (std::vector<float>{1.5f, 2.5f, 2.5f, 0.0f, 3.5f, 3.5f}));

    // A buffer shorter than the image is refused.
    img.assign(5, 3);
    EXPECT_EQ(median_filter(geometry(3, 2), img), 5);
    f.assign(5, 3.0f);
    EXPECT_EQ(fmedian_filter(3, 2, f), 5);
    EXPECT_EQ(fmedian_filter(-3, 2, f), 5);
}

TEST(IntegerMedians, AnyOrderAndDuplicates) {
    std::array<int, 7> v = {-4, 2, 2, 9, 11, 11, 30};
    do {
        ASSERT_EQ(imedian7(v[0], v[1], v[2], v[3], v[4], v[5], v[6]), 9);
    } while (std::next_permutation(v.begin(), v.end()));
    std::array<int, 5> u = {-7, 3, 3, 5, 100};
    do {
        ASSERT_EQ(imedian5(u[0], u[1], u[2], u[3], u[4]), 3);
    } while (std::next_permutation(u.begin(), u.end()));
}

}  // namespace
}  // namespace orva
