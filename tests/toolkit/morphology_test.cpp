// Closing and erosion against plain versions that apply the disc and the
// peeling rules pixel by pixel, on seeded random masks; buffers that are too
// short or end at the image are not overrun.
#include "toolkit/morphology.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "support/images.h"

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

}  // namespace
}  // namespace orva
