// Level operators against plain per-pixel sums, and the byte feature map at
// its limits and with shared buffers. (Maps of whole runs, at both
// resolutions, are fixed by the golden check.)
#include "loop/feature_maps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/images.h"

namespace orva {
namespace {

using Bytes = std::vector<unsigned char>;
using test::geometry;

Bytes random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& v : b) v = static_cast<unsigned char>(rng() % 4 == 0 ? 255 : rng() % 256);
    return b;
}

// Vertical step: columns below `at` get lo, the others hi.
Bytes step(unsigned int w, unsigned int h, unsigned int at, unsigned char lo, unsigned char hi) {
    Bytes b(w * h);
    for (unsigned int i = 0; i < w * h; ++i) b[i] = i % w < at ? lo : hi;
    return b;
}

TEST(FeatureOperators, EdgesRidgesAndSecondDerivativesEqualThePlainSums) {
    // The rms is the root of the mean of the squared responses added up in
    // double in pixel order; the maps hold the responses themselves.
    for (auto [w, h] : {std::pair{3u, 3u}, {17u, 9u}, {64u, 48u}}) {
        const Bytes img = random_bytes(w * h, w);
        auto px = [&](long x, long y) { return int{img[y * w + x]}; };
        double edge_sum = 0.0, deriv_sum = 0.0;
        std::vector<float> want_edges(w * h, 0.0f), want_deriv(w * h, 0.0f),
            want_ridges(w * h, 0.0f);
        for (long y = 1; y + 1 < long{h}; ++y)
            for (long x = 1; x + 1 < long{w}; ++x) {
                const int gy = 2 * (px(x, y + 1) - px(x, y - 1)) + px(x - 1, y + 1) +
                               px(x + 1, y + 1) - px(x - 1, y - 1) - px(x + 1, y - 1);
                const int gx = 2 * (px(x + 1, y) - px(x - 1, y)) + px(x + 1, y - 1) +
                               px(x + 1, y + 1) - px(x - 1, y - 1) - px(x - 1, y + 1);
                edge_sum += gx * gx + gy * gy;
                want_edges[y * w + x] = static_cast<float>(std::sqrt(double(gx * gx + gy * gy)));
                const int hd = 2 * px(x, y) + 2 * px(x, y - 1) - px(x - 1, y + 1) -
                               px(x + 1, y + 1) - px(x - 1, y) - px(x + 1, y);
                const int vd = 2 * px(x, y) + 2 * px(x + 1, y) - px(x, y - 1) - px(x + 1, y - 1) -
                               px(x, y + 1) - px(x + 1, y + 1);
                const int value = std::abs(hd) + std::abs(vd);
                deriv_sum += static_cast<double>(value) * value;
                want_deriv[y * w + x] = static_cast<float>(value);
                const int sum_h = px(x - 1, y) + px(x + 1, y), sum_v = px(x, y - 1) + px(x, y + 1);
                const int ul = px(x - 1, y - 1), ur = px(x + 1, y - 1), dl = px(x - 1, y + 1),
                          dr = px(x + 1, y + 1), c4 = 4 * px(x, y);
                const int a = 2 * (sum_h - sum_v) + c4 - (ul + ur + dl + dr);
                const int b = 2 * (sum_v - sum_h) + c4 - (ul + ur + dl + dr);
                const int d1 = c4 - sum_h - sum_v + 2 * (ul + dr) - 2 * (ur + dl);
                const int d2 = c4 - sum_h - sum_v + 2 * (ur + dl) - 2 * (ul + dr);
                want_ridges[y * w + x] = static_cast<float>(std::max(a, b) + std::max(d1, d2));
            }
        const double n = double(w - 2) * double(h - 2);
        std::vector<float> g(w * h, 5.0f);
        EXPECT_EQ(get_edges_1(w, h, img, g), std::sqrt(edge_sum / n)) << w << "x" << h;
        EXPECT_EQ(g, want_edges);
        EXPECT_EQ(get_2nd_deriv_1(w, h, img, g), std::sqrt(deriv_sum / n)) << w << "x" << h;
        EXPECT_EQ(g, want_deriv);
        get_ridges_1(w, h, img, g);
        EXPECT_EQ(g, want_ridges);
    }
}

TEST(FeatureOperators, HalvingsEqualThePlainWeightedMeans) {
    // (1 2 1) / 4 with rounding across rows and down columns; an even side
    // ends in the rounded mean of its last pair. Odd and even sides, wide
    // enough for whole vector steps and a rest.
    for (auto [w, h] : {std::pair{37u, 6u}, {70u, 7u}}) {
        const Bytes img = random_bytes(w * h, w + h);
        auto mean = [](int a, int b, int c, bool last_pair) {
            return last_pair ? (a + b + 1) >> 1 : (a + 2 * b + c + 2) >> 2;
        };
        Bytes across(w / 2 * h), want_across(w / 2 * h);
        subsample2_h(w, h, img, across);
        for (unsigned y = 0; y < h; ++y)
            for (unsigned x = 0; x < w / 2; ++x) {
                const bool last = w % 2 == 0 && x == w / 2 - 1;
                const unsigned i = y * w + 2 * x;
                want_across[y * (w / 2) + x] = static_cast<unsigned char>(
                    mean(img[i], img[i + 1], last ? 0 : img[i + 2], last));
            }
        EXPECT_EQ(across, want_across) << w << "x" << h;
        Bytes down(w * (h / 2)), want_down(w * (h / 2));
        subsample2_v(static_cast<int>(w), static_cast<int>(h), img, down);
        for (unsigned y = 0; y < h / 2; ++y)
            for (unsigned x = 0; x < w; ++x) {
                const bool last = h % 2 == 0 && y == h / 2 - 1;
                const unsigned i = 2 * y * w + x;
                want_down[y * w + x] = static_cast<unsigned char>(
                    mean(img[i], img[i + w], last ? 0 : img[i + 2 * w], last));
            }
        EXPECT_EQ(down, want_down) << w << "x" << h;
    }
}

std::string feature_messages(const IMAGE& im, const Bytes& img, Bytes& out, int mode, int levels) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_feature(im, img, out, mode, levels, 0), 0);
    return testing::internal::GetCapturedStderr();
}

TEST(GetFeature, LevelLimitsTinyImagesAndFlatImages) {
    const Bytes img = random_bytes(64 * 64, 7);
    Bytes six(img.size()), seven(img.size());
    EXPECT_EQ(feature_messages(geometry(64, 64), img, six, 1, 6), "");
    EXPECT_EQ(feature_messages(geometry(64, 64), img, seven, 1, 7),
              "\n Warning!\n Number of levels is limited to 6!");
    EXPECT_EQ(six, seven);

    // Below 8 x 8, or no level: the output is left as it was.
    Bytes out(56, 77);
    EXPECT_EQ(feature_messages(geometry(7, 8), step(7, 8, 3, 0, 200), out, 1, 3),
              "\n Warning!\n Size of ROI is too small  ");
    EXPECT_EQ(out, Bytes(56, 77));
    out.assign(64, 77);
    get_feature(geometry(8, 8), step(8, 8, 3, 0, 200), out, 1, 0, 0);
    EXPECT_EQ(out, Bytes(64, 77));

    // A flat image gives 0, not NaN, at half resolution; at full resolution
    // the maximum is 0 and the output is left as it was.
    const Bytes flat(32 * 32, 123);
    for (int mode : {1, 2})
        for (int sub : {1, 0}) {
            out.assign(flat.size(), 77);
            get_feature(geometry(32, 32), flat, out, mode, 3, sub);
            EXPECT_EQ(out, Bytes(flat.size(), sub ? 0 : 77)) << mode << " " << sub;
        }

    // At half resolution an odd width leaves the last column and row as they were.
    const Bytes wide = step(33, 33, 16, 20, 220);
    out.assign(wide.size(), 77);
    get_feature(geometry(33, 33), wide, out, 2, 2, 1);
    for (unsigned int k = 0; k < 33; ++k) EXPECT_EQ(out[k * 33 + 32] + out[32 * 33 + k], 2 * 77);
    EXPECT_NE(out[31 * 33 + 31], 77);
}

TEST(FeatureMap, SharedBuffersGiveTheSameMapsAsFreshOnes) {
    // One FeatureWork through images of changing size, mode, level count and
    // resolution, larger before smaller and back: stale contents must never show.
    const unsigned calls[][5] = {{64, 48, 1, 6, 0}, {20, 30, 2, 4, 1}, {64, 48, 1, 6, 0},
                                 {33, 17, 0, 3, 0}, {90, 70, 2, 5, 1}, {16, 16, 1, 2, 0},
                                 {90, 70, 1, 6, 0}};
    FeatureWork work;
    for (const auto& [w, h, mode, levels, sub] : calls) {
        const Bytes img = random_bytes(w * h, w + h);
        Bytes fresh(img.size(), 3), shared(img.size(), 3);
        const IMAGE im = geometry(w, h);
        ASSERT_EQ(get_feature(im, img, fresh, int(mode), int(levels), int(sub)), 0);
        ASSERT_EQ(get_feature(im, img, shared, int(mode), int(levels), int(sub), work), 0);
        EXPECT_EQ(shared, fresh) << w << "x" << h;
    }
}

}  // namespace
}  // namespace orva
