// Object masks by change and their flanks: partner choice, histogram rules,
// the smoothing, the series mask and the edge threshold against plain
// step-by-step versions, an unsuitable background, the saturation of the edge
// change, and the flank scans with their markers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "loop/flank_trimming.h"
#include "loop/object_mask.h"
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
    // The largest sums either way, on the widths the vector unit takes in
    // whole steps and with a remainder.
    for (const unsigned w : {34u, 53u}) {
        const IMAGE im = geometry(w, 5);
        const ByteBuffer high = random_image(im, rng, 250, 255), low = random_image(im, rng, 0, 5);
        std::vector<std::int16_t> out(im.size);
        smooth_difference(im, high, low, out);
        EXPECT_EQ(out, plain_smoothing(im, high, low)) << w;
        smooth_difference(im, low, high, out);
        EXPECT_EQ(out, plain_smoothing(im, low, high)) << w;
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

TEST(SeriesMask, VoteMatchesAPlainVoteOnRandomRows) {
    // One to five comparisons, random flags, the ends of the 16-bit range and
    // thresholds beyond them; a row length the vector unit leaves a rest of.
    std::mt19937 rng(4242);
    const std::size_t n = 77;
    for (int num_comp = 1; num_comp <= 5; ++num_comp) {
        for (const int threshold : {-40000, -32768, -1, 0, 7, 32766, 32767, 40000}) {
            Matrix<std::int16_t> diff(num_comp + 1, n);
            std::vector<char> flags(num_comp);
            for (int j = 1; j <= num_comp; ++j) {
                flags[j - 1] = static_cast<char>(rng() % 3 == 0);
                for (std::size_t p = 0; p < n; ++p)
                    diff[j][p] = static_cast<std::int16_t>(p % 11 == 0 ? (p % 2 ? 32767 : -32768)
                                                                       : int(rng() % 21) - 10);
            }
            std::vector<unsigned char> want(n, 1), mask(n, 7);
            for (int j = 1; j <= num_comp; ++j)
                for (std::size_t p = 0; p < n; ++p)
                    if (!flags[j - 1] && diff[j][p] <= threshold) want[p] = 0;
            comparison_mask(diff, num_comp, flags, threshold, mask);
            ASSERT_EQ(mask, want) << num_comp << " comparisons, threshold " << threshold;
        }
    }
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
        std::vector<ByteBuffer> grad(n, ByteBuffer(im.size));
        for (ByteBuffer& row : grad)
            for (auto& g : row) g = static_cast<unsigned char>(rng() % 256);

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
    std::vector<ByteBuffer> grad(3, ByteBuffer(im.size));
    grad[0][4 * 8 + 4] = 255;
    Matrix<std::int16_t> diff(3, im.size);
    std::vector<unsigned char> mask(im.size, 0);
    series_object_mask(im, images, grad, 0, 2, diff, mask);
    EXPECT_EQ(diff[1][4 * 8 + 4], 511);
    EXPECT_EQ(diff[2][4 * 8 + 4], 511);
}

constexpr int W = 40;
constexpr int H = 12;

IMAGE geometry() {
    return test::geometry(W, H);
}

// Object in rows 2..9, columns x0..x1.
std::vector<unsigned char> block_mask(int x0, int x1) {
    std::vector<unsigned char> mask(W * H, 0);
    for (int y = 2; y <= 9; ++y)
        for (int x = x0; x <= x1; ++x) mask[y * W + x] = 1;
    return mask;
}

// Edge map 10 everywhere with ridges of 200 at the given columns.
std::vector<unsigned char> ridge_map(std::vector<int> columns) {
    std::vector<unsigned char> grad(W * H, 10);
    for (int y = 0; y < H; ++y)
        for (int c : columns) grad[y * W + c] = 200;
    return grad;
}

TEST(FlankTrimming, BoundingBoxAndEdgeThreshold) {
    const IMAGE im = geometry();
    std::vector<unsigned char> mask = block_mask(5, 30);
    mask[(H - 1) * W + 7] = 1;               // reaches the last row: the box stops one row above
    mask[6 * W + 3] = mask[7 * W + 33] = 1;  // the widest extents lie in later rows
    const MaskBox box = mask_bounding_box(im, mask);
    EXPECT_EQ(box.top, 2);
    EXPECT_EQ(box.bottom, H - 2);
    EXPECT_EQ(box.left, 3);
    EXPECT_EQ(box.right, 33);

    const MaskBox empty = mask_bounding_box(im, std::vector<unsigned char>(W * H, 0));
    EXPECT_EQ(empty.top, -1);
    EXPECT_EQ(empty.left, W);

    // Two-valued map: peak at bin 0, valley at bin 1, gap 0 at k = 0 -> G = min.
    EXPECT_EQ(edge_threshold(im, ridge_map({10, 25}), box), 10);
    EXPECT_EQ(edge_threshold(im, std::vector<unsigned char>(W * H, 50), box), -1);
}

// The edge threshold as defined, every pixel's bin worked out on its own.
int plain_edge_threshold(const std::vector<unsigned char>& grad, const MaskBox& box) {
    const long n = static_cast<long>(box.bottom - box.top + 1) * (box.right - box.left + 1);
    const int bins = std::min(static_cast<int>(std::floor(1.5 * std::log(double(n)))), 255);
    int lo = 255, hi = 0;
    for (int y = box.top; y <= box.bottom; ++y)
        for (int x = box.left; x <= box.right; ++x)
            lo = std::min<int>(lo, grad[y * W + x]), hi = std::max<int>(hi, grad[y * W + x]);
    if (lo == hi) return -1;
    const double scale = static_cast<double>(bins - 1) / (hi - lo);
    std::vector<unsigned int> hist(bins, 0u);
    for (int y = box.top; y <= box.bottom; ++y)
        for (int x = box.left; x <= box.right; ++x) {
            const int bin = static_cast<int>(std::floor((grad[y * W + x] - lo) * scale + 0.5));
            ++hist[std::clamp(bin, 0, bins - 1)];
        }
    int kmax = 0;
    for (int k = 1; k < bins; ++k)
        if (hist[k] > hist[kmax]) kmax = k;
    int kmin = kmax;
    for (int k = kmax + 1; k < bins; ++k)
        if (hist[k] < hist[kmin]) kmin = k;
    int kbest = -1;
    if (kmin > kmax) {
        const double slope = double(hist[kmax] - hist[kmin]) / double(kmax - kmin);
        double best = 0.0;
        for (int k = kmax; k < kmin; ++k) {
            const double d = std::floor(hist[kmax] + (k - kmax) * slope) - double(hist[k]);
            if (d >= best) best = d, kbest = k;
        }
    }
    kbest >>= 1;
    if (kbest < 0) return 0;
    return static_cast<int>(lo + kbest / scale);
}

TEST(FlankTrimming, EdgeThresholdFollowsThePlainHistogramOnRandomMaps) {
    std::mt19937 rng(8642);
    const IMAGE im = geometry();
    for (int trial = 0; trial < 60; ++trial) {
        std::vector<unsigned char> grad(W * H);
        const int spread = 1 + static_cast<int>(rng() % 255);
        const int base = static_cast<int>(rng() % (256 - spread + 1));
        for (auto& v : grad)
            v = static_cast<unsigned char>(base + static_cast<int>(rng() % spread));
        MaskBox box;
        box.left = static_cast<int>(rng() % 10);
        box.right = box.left + 3 + static_cast<int>(rng() % 25);
        box.top = static_cast<int>(rng() % 4);
        box.bottom = box.top + 2 + static_cast<int>(rng() % 6);
        EXPECT_EQ(edge_threshold(im, grad, box), plain_edge_threshold(grad, box)) << trial;
    }
}

TEST(FlankTrimming, ScansStopAtEdgesKeepMarkersAndSpareTheBorders) {
    // Block columns; left marker column, first and last column kept, right
    // marker column (-1: none). A flank within three columns of the border
    // stops its scan at once.
    const int cases[][6] = {
        {5, 30, 9, 10, 25, 26}, {2, 30, -1, 2, 25, 26}, {5, W - 3, 9, 10, W - 3, -1}};
    for (const auto& [x0, x1, left, first, last, right] : cases) {
        std::vector<unsigned char> mask = block_mask(x0, x1);
        trim_flanks(geometry(), mask, ridge_map({10, 25}));
        for (int y = 2; y <= 9; ++y)
            for (int x = 0; x < W; ++x) {
                const int want = x == left    ? LEFT_MARKER
                                 : x == right ? RIGHT_MARKER
                                              : x >= first && x <= last;
                ASSERT_EQ(mask[y * W + x], want) << x0 << ": " << x << "," << y;
            }
    }
}

TEST(FlankTrimming, ConstantEdgeMapSkipsTrimmingButClearsLastRows) {
    const IMAGE im = geometry();
    std::vector<unsigned char> mask(W * H, 0);
    for (int y = 2; y < H; ++y)
        for (int x = 5; x <= 30; ++x) mask[y * W + x] = 1;
    std::vector<unsigned char> expected = mask;
    for (int x = 0; x < W; ++x) expected[(H - 1) * W + x] = expected[(H - 2) * W + x] = 0;
    trim_flanks(im, mask, std::vector<unsigned char>(W * H, 50));
    EXPECT_EQ(mask, expected);
}

TEST(FlankTrimming, TinyObjectIsLeftAsItIs) {
    // Four pixels across the last two rows: the box (one row high after
    // keeping it off the last row) holds too few pixels for any trimming, and
    // the bottom rows keep their pixels too.
    const IMAGE im = geometry();
    std::vector<unsigned char> mask(W * H, 0);
    for (int y = H - 2; y < H; ++y)
        for (int x = 5; x <= 6; ++x) mask[y * W + x] = 1;
    const std::vector<unsigned char> expected = mask;
    trim_flanks(im, mask, ridge_map({6}));
    EXPECT_EQ(mask, expected);

    // Nine columns: trimmed, and the bottom rows cleared.
    for (int x = 5; x <= 13; ++x) mask[(H - 2) * W + x] = mask[(H - 1) * W + x] = 1;
    trim_flanks(im, mask, ridge_map({6}));
    for (int x = 0; x < W; ++x) EXPECT_EQ(mask[(H - 1) * W + x], 0) << x;
}

}  // namespace
}  // namespace orva
