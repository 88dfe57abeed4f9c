// Closing and erosion against plain versions that apply the disc and the
// peeling rules pixel by pixel, on seeded random masks; median filters (the
// exchange network against a full sort, edge padding, reads of unfiltered
// values only, the exact small medians); buffers that are too short or end at
// the image are not overrun.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "support/images.h"
#include "toolkit/morphology.h"
#include "toolkit/rank_filters.h"

namespace orva {
namespace {

using test::geometry;

// The disc as a literal list of offsets.
std::vector<std::pair<int, int>> disc_offsets() {
    std::vector<std::pair<int, int>> d;
    auto rows = [&](int dy, int half) {
        for (int dx = -half; dx <= half; ++dx) d.emplace_back(dx, dy);
    };
    for (int dy : {0, 1, -1, 2, -2}) rows(dy, 8);
    for (int dy : {3, -3, 4, -4}) rows(dy, 7);
    for (int dy : {5, -5}) rows(dy, 6);
    for (int dy : {6, -6}) rows(dy, 5);
    for (int dy : {7, -7}) rows(dy, 4);
    for (int dy : {8, -8}) rows(dy, 2);
    return d;
}

// Plain closing: dilate every set pixel into a padded frame, erode back.
std::vector<unsigned char> reference_closing(int w, int h, const std::vector<unsigned char>& m) {
    const auto disc = disc_offsets();
    const int pw = w + 16, ph = h + 16;
    std::vector<unsigned char> pad(static_cast<size_t>(pw) * ph, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (m[y * w + x])
                for (auto [dx, dy] : disc) pad[(y + 8 + dy) * pw + x + 8 + dx] = 1;
    std::vector<unsigned char> out(m.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool all = true;
            for (auto [dx, dy] : disc) all = all && pad[(y + 8 + dy) * pw + x + 8 + dx];
            out[y * w + x] = all ? 1 : 0;
        }
    return out;
}

TEST(Closing17x17, MatchesPlainClosingOnRandomMasks) {
    std::mt19937 rng(20240611);
    // Widths around the 64-pixel word edges of the frame, thin strips, tiny images.
    const std::vector<std::pair<int, int>> sizes = {{1, 1},   {3, 2},   {47, 20},   {48, 31},
                                                    {49, 17}, {112, 9}, {113, 40},  {2, 70},
                                                    {130, 3}, {64, 64}, {200, 150}, {70, 260}};
    for (auto [w, h] : sizes) {
        // Large images with a sparse mask are worked on only around the blobs.
        for (double density : {0.0, 0.001, 0.01, 0.05, 0.2, 0.6}) {
            std::bernoulli_distribution set(density);
            std::vector<unsigned char> m(static_cast<size_t>(w) * h);
            for (auto& v : m) v = set(rng) ? 1 : 0;
            // Blobs touching the borders.
            std::uniform_int_distribution<int> px(0, w - 1), py(0, h - 1);
            for (int b = 0; b < 3; ++b) {
                const int cx = px(rng), cy = py(rng);
                for (int y = cy - 4; y <= cy + 4; ++y)
                    for (int x = cx - 6; x <= cx + 6; ++x)
                        if (x >= 0 && x < w && y >= 0 && y < h) m[y * w + x] = 200;
            }
            const auto want = reference_closing(w, h, m);
            ASSERT_EQ(closing17x17(geometry(w, h), m), 0);
            ASSERT_EQ(m, want) << w << "x" << h << " density " << density;
        }
    }
}

TEST(Closing17x17, RefusesTooSmallBuffer) {
    std::vector<unsigned char> m(10, 1);
    EXPECT_EQ(closing17x17(geometry(4, 4), m), 5);
    EXPECT_EQ(m, std::vector<unsigned char>(10, 1));
}

// Plain peeling: every row from both sides, then every column walked from
// the top and from the bottom, exactly as the erosion is defined.
void reference_erosion(long width, long height, std::vector<unsigned char>& m, long s) {
    for (long y = 0; y < height; ++y) {
        unsigned char* row = m.data() + y * width;
        for (long x = 0; x < width; ++x) {
            if (!row[x]) continue;
            row[x] = 0;
            if (x > 4)
                for (long k = x + 1; k <= x + s - 1 && k < width; ++k) row[k] = 0;
            break;
        }
        for (long x = width - 1; x >= 1; --x) {
            if (!row[x]) continue;
            row[x] = 0;
            if (x <= width - 5)
                for (long k = x - 1; k >= x - s + 1 && k > 0; --k) row[k] = 0;
            break;
        }
    }
    const long depth = s / 2 - 1;
    for (long x = 0; x < width; ++x) {
        unsigned char* col = m.data() + x;
        for (long y = 0; y < height; ++y) {
            if (!col[y * width]) continue;
            for (long k = y; k <= y + depth && k < height; ++k) col[k * width] = 0;
            col[y * width] = 0;
            break;
        }
        for (long y = height - 1; y >= 1; --y) {
            if (!col[y * width]) continue;
            col[y * width] = 0;
            for (long k = y - 1; k >= y - depth && k > 0; --k) col[k * width] = 0;
            break;
        }
    }
}

TEST(ErodeMask, MatchesPlainPeelingOnRandomMasks) {
    std::mt19937 rng(5150);
    const std::vector<std::pair<int, int>> sizes = {{1, 1},  {2, 7},   {9, 1},   {13, 11},
                                                    {64, 3}, {65, 40}, {120, 90}};
    for (auto [w, h] : sizes) {
        for (int strength : {-3, 0, 1, 2, 3, 4, 7, 12, 40}) {
            for (double density : {0.0, 0.02, 0.3, 0.9}) {
                std::bernoulli_distribution set(density);
                std::uniform_int_distribution<int> value(1, 255);
                std::vector<unsigned char> m(static_cast<size_t>(w) * h, 0);
                // A filled blob (a mask as the loop gives it) plus scattered pixels
                // carrying values other than 1, which must be kept.
                std::uniform_int_distribution<int> px(0, w - 1), py(0, h - 1);
                const int x0 = px(rng), x1 = px(rng), y0 = py(rng), y1 = py(rng);
                for (int y = std::min(y0, y1); y <= std::max(y0, y1); ++y)
                    for (int x = std::min(x0, x1); x <= std::max(x0, x1); ++x)
                        if (density > 0) m[y * w + x] = 1;
                for (auto& v : m)
                    if (set(rng)) v = static_cast<unsigned char>(value(rng));
                auto want = m;
                reference_erosion(w, h, want, strength);
                ASSERT_EQ(erode_mask(geometry(w, h), m, strength), 0);
                ASSERT_EQ(m, want)
                    << w << "x" << h << " strength " << strength << " density " << density;
            }
        }
    }
}

TEST(ErodeMask, DeepColumnPeelStopsAtTheImageEdge) {
    const unsigned w = 10, h = 6;
    std::vector<unsigned char> m(w * h, 0);
    for (unsigned y = 3; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) m[y * w + x] = 1;
    std::vector<unsigned char> guard(64, 0xAB);
    m.insert(m.end(), guard.begin(), guard.end());  // bytes past the image
    ASSERT_EQ(erode_mask(geometry(w, h), m, 40), 0);
    EXPECT_EQ(std::vector<unsigned char>(m.begin(), m.begin() + w * h),
              std::vector<unsigned char>(w * h, 0));
    EXPECT_EQ(std::vector<unsigned char>(m.begin() + w * h, m.end()), guard);
}

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
