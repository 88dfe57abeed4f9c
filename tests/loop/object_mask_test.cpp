// Object masks by change: partner choice, histogram rules, the smoothing and
// the series mask against plain step-by-step versions, an unsuitable
// background and the saturation of the edge change.
#include "loop/object_mask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/images.h"

namespace orva {
namespace {

using test::geometry;
using Hist = std::vector<unsigned int>;

// A histogram of `fill` with the listed {bin, count} pairs.
Hist hist_of(std::initializer_list<std::pair<int, unsigned int>> bins, unsigned int fill = 0) {
    Hist h(DIFF_BINS, fill);
    for (auto [bin, count] : bins) h[bin] = count;
    return h;
}

TEST(ComparisonPartners, ShortAndLongSeries) {
    const int counts[][2] = {{3, 2}, {5, 4}, {6, 5}, {40, 5}};
    for (const auto& [n, comp] : counts) EXPECT_EQ(number_of_comparisons(n), comp) << n;
    // Steps of N / num_comp through the series, the last partner the image before.
    const struct {
        int q, n, comp;
        std::vector<int> partners;
    } cases[] = {{0, 3, 2, {1, 2}},
                 {1, 3, 2, {2, 0}},
                 {2, 3, 2, {0, 1}},
                 {0, 40, 5, {8, 16, 24, 32, 39}},
                 {35, 40, 5, {3, 11, 19, 27, 34}},
                 {0, 10, 5, {2, 4, 6, 8, 9}}};
    for (const auto& c : cases)
        EXPECT_EQ(comparison_partners(c.q, c.n, c.comp), c.partners) << c.q << " of " << c.n;
}

TEST(HistogramRules, OffsetBackgroundAndTriangleThresholds) {
    EXPECT_EQ(histogram_offset(hist_of({{250, 7}, {258, 7}, {300, 3}})), -5);  // first highest
    // Peak pair (1, 2), sum 1900; divisors 400, 381, 364, 347 for t - k = 1..4,
    // so the sums 950, 55 and 5 are not below 4, 4 and 5; 0 < 5 stops at t = 5.
    EXPECT_EQ(background_threshold(hist_of({{0, 100}, {1, 1000}, {2, 900}, {3, 50}, {4, 5}})), 5);
    // The pair (0, 1) wins with index 1; a higher bin 2 moves the peak to 2.
    EXPECT_EQ(background_threshold(hist_of({{0, 1000}, {1, 10}, {2, 20}})), 3);
    // A flat histogram never drops: the threshold stops 32 bins past the peak.
    EXPECT_EQ(background_threshold(Hist(DIFF_BINS, 1000)), 1 + 32);

    // Chord from 100 down to 0 at bin 5: distances -20, 20, 20, 10; the first wins.
    EXPECT_EQ(
        triangle_threshold(hist_of({{0, 999}, {1, 100}, {2, 40}, {3, 20}, {4, 10}, {5, 0}}, 5)), 2);
    // The chord is truncated, not rounded: 20 - 2 * 6.67 = 6.67 gives 6, which
    // is not above hist[2] = 6, so no distance is positive.
    EXPECT_EQ(triangle_threshold(hist_of({{1, 20}, {2, 6}, {3, 0}}, 1)), 1);
    EXPECT_EQ(triangle_threshold(hist_of({{0, 500}})), 1);  // nothing lower than hist[1]
}

// The 3x3 weights written out term by term.
std::vector<std::int16_t> plain_smoothing(const IMAGE& im, const ByteBuffer& a,
                                          const ByteBuffer& b) {
    const long w = im.width, h = im.height;
    std::vector<std::int16_t> out(im.size);
    if (w < 3 || h < 3) {
        for (long p = 0; p < w * h; ++p) out[p] = static_cast<std::int16_t>(a[p] - b[p]);
        return out;
    }
    auto d = [&](long x, long y) { return a[y * w + x] - b[y * w + x]; };
    for (long y = 1; y < h - 1; ++y)
        for (long x = 1; x < w - 1; ++x) {
            const int sum = d(x - 1, y - 1) + 2 * d(x, y - 1) + d(x + 1, y - 1) + 2 * d(x - 1, y) +
                            4 * d(x, y) + 2 * d(x + 1, y) + d(x - 1, y + 1) + 2 * d(x, y + 1) +
                            d(x + 1, y + 1);
            out[y * w + x] = static_cast<std::int16_t>((sum + 8) / 16);
        }
    for (long y = 1; y < h - 1; ++y) {
        out[y * w] = out[y * w + 1];
        out[y * w + w - 1] = out[y * w + w - 2];
    }
    for (long x = 0; x < w; ++x) {
        out[x] = out[w + x];
        out[(h - 1) * w + x] = out[(h - 2) * w + x];
    }
    return out;
}

ByteBuffer random_image(const IMAGE& im, std::mt19937& rng, int lo = 0, int hi = 255) {
    std::uniform_int_distribution<int> level(lo, hi);
    ByteBuffer img(im.size);
    for (auto& v : img) v = static_cast<unsigned char>(level(rng));
    return img;
}

TEST(SmoothDifference, MatchesTheNineTermSum) {
    std::mt19937 rng(31337);
    for (auto [w, h] :
         {std::pair{1u, 1u}, {2u, 9u}, {9u, 2u}, {3u, 3u}, {4u, 7u}, {37u, 23u}, {64u, 48u}}) {
        const IMAGE im = geometry(w, h);
        const ByteBuffer a = random_image(im, rng), b = random_image(im, rng);
        std::vector<std::int16_t> out(im.size, 1234);
        smooth_difference(im, a, b, out);
        EXPECT_EQ(out, plain_smoothing(im, a, b)) << w << "x" << h;
    }
}

TEST(BackgroundMask, UnsuitableBackgroundGives78) {
    // A third of the pixels unchanged, a third 100 and a third 200 brighter:
    // only 400 of 1200 pixels are background; half of them unchanged is enough.
    const IMAGE im = geometry(40, 30);
    ByteBuffer background(im.size, 0), image(im.size);
    std::vector<std::int16_t> diff(im.size);
    std::vector<unsigned char> mask(im.size, 0);
    for (unsigned long p = 0; p < im.size; ++p)
        image[p] = static_cast<unsigned char>(100 * (p % 3));
    testing::internal::CaptureStderr();
    EXPECT_EQ(background_object_mask(im, image, background, diff, mask), 78);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\n\n|---------------------------------"
              "\n| estimated percentage of background: 16.666667"
              "\n| background image does not seem to be appropriate"
              "\n|---------------------------------\n");
    for (unsigned long p = 0; p < im.size; ++p)
        image[p] = static_cast<unsigned char>(100 * (p % 2));
    EXPECT_EQ(background_object_mask(im, image, background, diff, mask), 0);
}

TEST(SeriesMask, SimilarPairsAndTheVote) {
    // Flags only under a fifth of the average (65 < 71, 75 is not).
    for (const auto& [first, flag] : {std::pair{1ul, 1}, {13ul, 1}, {15ul, 0}})
        EXPECT_EQ(similar_pairs(std::vector<unsigned long>{first, 100, 100}),
                  (std::vector<char>{static_cast<char>(flag), 0, 0}));
    EXPECT_EQ(similar_pairs(std::vector<unsigned long>{0, 0}), (std::vector<char>{0, 0}));

    // Every comparison flagged: every pixel is object. Else only unflagged
    // comparisons vote, and a value at the threshold is background.
    Matrix<std::int16_t> diff(3, 4);
    std::vector<unsigned char> mask(4, 0);
    comparison_mask(diff, 2, std::vector<char>{1, 1}, 5, mask);
    EXPECT_EQ(mask, (std::vector<unsigned char>{1, 1, 1, 1}));
    diff[1][0] = diff[1][1] = 9;
    diff[2][1] = 5;
    diff[2][2] = 6;
    comparison_mask(diff, 2, std::vector<char>{0, 1}, 5, mask);
    EXPECT_EQ(mask, (std::vector<unsigned char>{1, 1, 0, 0}));
    comparison_mask(diff, 2, std::vector<char>{0, 0}, 5, mask);
    EXPECT_EQ(mask, (std::vector<unsigned char>{0, 0, 0, 0}));
}

Hist plain_histogram(std::span<const std::int16_t> d, int offset) {
    Hist hist(DIFF_BINS, 0u);
    for (const std::int16_t v : d) ++hist[v + offset];
    return hist;
}

TEST(SeriesMask, MatchesThePlainStepByStepMask) {
    // Each comparison smoothed, centred, summed, raised by the edge change and
    // counted in its own pass; one partner repeats the image, so that a
    // similar pair is ignored.
    std::mt19937 rng(1618);
    const IMAGE im = geometry(45, 33);
    const int n = 7, num_comp = number_of_comparisons(n);
    for (int q : {0, 3}) {
        std::vector<ByteBuffer> images;
        for (int i = 0; i < n; ++i) {
            images.push_back(random_image(im, rng, 80, 120));
            for (int y = 10; y < 20; ++y)  // a moving bright block
                for (int x = 4 + 5 * i; x < 12 + 5 * i && x < 45; ++x) images[i][y * 45 + x] = 200;
        }
        images[6] = images[0];
        Matrix<unsigned char> grad(n, im.size);
        for (auto& g : grad.flat()) g = static_cast<unsigned char>(rng() % 256);

        Matrix<std::int16_t> want(num_comp + 1, im.size);
        std::vector<unsigned long> sums;
        Hist total(DIFF_BINS, 0u);
        const std::vector<int> partners = comparison_partners(q, n, num_comp);
        for (int j = 1; j <= num_comp; ++j) {
            const int p = partners[j - 1];
            std::vector<std::int16_t> d = plain_smoothing(im, images[q], images[p]);
            const int offset = histogram_offset(plain_histogram(d, DIFF_OFFSET));
            unsigned long sum = 0;
            for (auto& v : d) sum += static_cast<unsigned long>(v = std::abs(v - offset));
            sums.push_back(sum);
            for (unsigned long k = 0; k < im.size; ++k) {
                d[k] = std::min(d[k] + (std::abs(grad[q][k] - grad[p][k]) >> 3), DIFF_MAX);
                ++total[d[k]];
            }
            std::copy(d.begin(), d.end(), want[j]);
        }
        std::vector<unsigned char> want_mask(im.size);
        comparison_mask(want, num_comp, similar_pairs(sums), triangle_threshold(total), want_mask);

        Matrix<std::int16_t> diff(num_comp + 1, im.size);
        std::vector<unsigned char> mask(im.size, 9);
        series_object_mask(im, images, grad, q, num_comp, diff, mask);
        EXPECT_EQ(mask, want_mask) << q;
        for (int j = 1; j <= num_comp; ++j)
            ASSERT_TRUE(std::equal(want.row(j).begin(), want.row(j).end(), diff.row(j).begin()))
                << q << " comparison " << j;
    }
}

TEST(SeriesMask, EdgeChangeSaturatesAt511) {
    // The largest centred difference, 510, plus an edge change of 255 (31).
    const IMAGE im = geometry(8, 8);
    ByteBuffer bright(im.size, 255), dark(im.size, 0);
    for (int y = 3; y < 6; ++y)
        for (int x = 3; x < 6; ++x) bright[y * 8 + x] = 0, dark[y * 8 + x] = 255;
    const std::vector<ByteBuffer> images = {bright, dark, dark};
    Matrix<unsigned char> grad(3, im.size);
    grad[0][4 * 8 + 4] = 255;
    Matrix<std::int16_t> diff(3, im.size);
    std::vector<unsigned char> mask(im.size, 0);
    series_object_mask(im, images, grad, 0, 2, diff, mask);
    EXPECT_EQ(diff[1][4 * 8 + 4], 511);
    EXPECT_EQ(diff[2][4 * 8 + 4], 511);
}

}  // namespace
}  // namespace orva
