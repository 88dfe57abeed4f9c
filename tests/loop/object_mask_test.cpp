// Object masks by change: partner choice, histogram rules, smoothing, the
// background path and the series path with similar partners.
#include "loop/object_mask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace orva {
namespace {

IMAGE geometry(unsigned int w, unsigned int h) {
    IMAGE im;
    im.width = w;
    im.height = h;
    im.size = static_cast<unsigned long>(w) * h;
    return im;
}

// A flat image with a bright square of side `side` at (x0, y0).
ByteBuffer square_image(const IMAGE& im, int x0, int y0, int side, unsigned char ground = 100,
                        unsigned char object = 200) {
    ByteBuffer img(im.size, ground);
    for (int y = y0; y < y0 + side; ++y)
        for (int x = x0; x < x0 + side; ++x) img[y * im.width + x] = object;
    return img;
}

TEST(ComparisonPartners, ShortAndLongSeries) {
    EXPECT_EQ(number_of_comparisons(3), 2);
    EXPECT_EQ(number_of_comparisons(5), 4);
    EXPECT_EQ(number_of_comparisons(6), 5);
    EXPECT_EQ(number_of_comparisons(40), 5);

    // Three images: the next one and the one before.
    EXPECT_EQ(comparison_partners(0, 3, 2), (std::vector<int>{1, 2}));
    EXPECT_EQ(comparison_partners(1, 3, 2), (std::vector<int>{2, 0}));
    EXPECT_EQ(comparison_partners(2, 3, 2), (std::vector<int>{0, 1}));

    // Forty images: steps of 8 through the series, then the image before.
    EXPECT_EQ(comparison_partners(0, 40, 5), (std::vector<int>{8, 16, 24, 32, 39}));
    EXPECT_EQ(comparison_partners(35, 40, 5), (std::vector<int>{3, 11, 19, 27, 34}));

    // Ten images: step 2, the last partner is still the previous image.
    EXPECT_EQ(comparison_partners(0, 10, 5), (std::vector<int>{2, 4, 6, 8, 9}));
}

TEST(HistogramRules, OffsetIsFirstHighestBin) {
    std::vector<unsigned int> hist(DIFF_BINS, 0u);
    hist[250] = 7;
    hist[258] = 7;
    hist[300] = 3;
    EXPECT_EQ(histogram_offset(hist), -5);
}

TEST(HistogramRules, BackgroundThresholdPeakAndDecay) {
    std::vector<unsigned int> hist(DIFF_BINS, 0u);
    // Peak pair (1, 2), sum 1900; divisors 400, 381, 364, 347 for t - k = 1..4,
    // so the sums 950, 55 and 5 are not below 4, 4 and 5; 0 < 5 stops at t = 5.
    hist[0] = 100;
    hist[1] = 1000;
    hist[2] = 900;
    hist[3] = 50;
    hist[4] = 5;
    EXPECT_EQ(background_threshold(hist), 5);

    // The pair (0, 1) wins with index 1; a higher bin 2 moves the peak to 2.
    std::fill(hist.begin(), hist.end(), 0u);
    hist[0] = 1000;
    hist[1] = 10;
    hist[2] = 20;
    EXPECT_EQ(background_threshold(hist), 3);

    // A flat histogram never drops: the threshold stops 32 bins past the peak.
    std::fill(hist.begin(), hist.end(), 1000u);
    EXPECT_EQ(background_threshold(hist), 1 + 32);
}

TEST(HistogramRules, TriangleThreshold) {
    std::vector<unsigned int> hist(DIFF_BINS, 5u);
    // Chord from 100 down to 0 at bin 5: distances -20, 20, 20, 10; first wins.
    hist[0] = 999;
    hist[1] = 100;
    hist[2] = 40;
    hist[3] = 20;
    hist[4] = 10;
    hist[5] = 0;
    EXPECT_EQ(triangle_threshold(hist), 2);

    // The chord is truncated, not rounded: 20 - 2 * 6.67 = 6.67 gives 6, which
    // is not above hist[2] = 6, so no distance is positive.
    std::fill(hist.begin(), hist.end(), 1u);
    hist[1] = 20;
    hist[2] = 6;
    hist[3] = 0;
    EXPECT_EQ(triangle_threshold(hist), 1);

    // No bin lower than hist[1]: the threshold is 1.
    std::fill(hist.begin(), hist.end(), 0u);
    hist[0] = 500;
    EXPECT_EQ(triangle_threshold(hist), 1);
}

TEST(SmoothDifference, TruncatingDivisionAndBorders) {
    const IMAGE im = geometry(6, 5);
    // a - b = -5 everywhere: (16 * -5 + 8) / 16 = -4.5 truncates to -4.
    ByteBuffer a(im.size, 10), b(im.size, 15);
    std::vector<std::int16_t> out(im.size, 99);
    smooth_difference(im, a, b, out);
    for (const std::int16_t v : out) EXPECT_EQ(v, -4);

    // A single -3 in the interior: (-12 + 8) / 16 is 0, not -1.
    std::fill(a.begin(), a.end(), 20);
    b.assign(im.size, 20);
    b[2 * 6 + 2] = 23;
    smooth_difference(im, a, b, out);
    for (const std::int16_t v : out) EXPECT_EQ(v, 0);

    // A single +40 at (1, 1): weights 4, 2, 1 give 10, 5 and 3 (rounded by 8),
    // and the border copies its inner neighbour, corner included.
    b.assign(im.size, 20);
    a.assign(im.size, 20);
    a[1 * 6 + 1] = 60;
    smooth_difference(im, a, b, out);
    EXPECT_EQ(out[1 * 6 + 1], 10);
    EXPECT_EQ(out[1 * 6 + 2], 5);
    EXPECT_EQ(out[2 * 6 + 2], 3);
    EXPECT_EQ(out[0], 10);          // corner from row 1, column 0 from column 1
    EXPECT_EQ(out[1 * 6 + 0], 10);  // column 0 copies column 1
    EXPECT_EQ(out[0 * 6 + 2], 5);   // row 0 copies row 1
    EXPECT_EQ(out[4 * 6 + 1], out[3 * 6 + 1]);
    EXPECT_EQ(out[2 * 6 + 5], out[2 * 6 + 4]);
}

TEST(BackgroundMask, GoodBackgroundWithBrightnessShift) {
    const IMAGE im = geometry(40, 30);
    ByteBuffer background(im.size);
    std::mt19937 rng(7);
    for (auto& v : background) v = static_cast<unsigned char>(60 + rng() % 20);
    // The image is 3 brighter overall and holds a 10 x 8 object 90 brighter.
    ByteBuffer image(background);
    for (auto& v : image) v = static_cast<unsigned char>(v + 3);
    for (int y = 5; y < 13; ++y)
        for (int x = 20; x < 30; ++x)
            image[y * 40 + x] = static_cast<unsigned char>(image[y * 40 + x] + 90);

    std::vector<std::int16_t> diff(im.size);
    std::vector<unsigned char> mask(im.size, 9);
    ASSERT_EQ(background_object_mask(im, image, background, diff, mask), 0);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            EXPECT_EQ(mask[y * 40 + x], (y >= 5 && y < 13 && x >= 20 && x < 30) ? 1 : 0)
                << x << "," << y;
}

TEST(BackgroundMask, UnsuitableBackgroundGives78) {
    // A third of the pixels unchanged, a third 100 and a third 200 brighter:
    // only 400 of 1200 pixels are background.
    const IMAGE im = geometry(40, 30);
    ByteBuffer background(im.size, 0);
    ByteBuffer image(im.size);
    for (unsigned long p = 0; p < im.size; ++p)
        image[p] = static_cast<unsigned char>(100 * (p % 3));
    std::vector<std::int16_t> diff(im.size);
    std::vector<unsigned char> mask(im.size, 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(background_object_mask(im, image, background, diff, mask), 78);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\n\n|---------------------------------"
              "\n| estimated percentage of background: 16.666667"
              "\n| background image does not seem to be appropriate"
              "\n|---------------------------------\n");

    // Half of the pixels unchanged is still enough.
    for (unsigned long p = 0; p < im.size; ++p)
        image[p] = static_cast<unsigned char>(100 * (p % 2));
    EXPECT_EQ(background_object_mask(im, image, background, diff, mask), 0);
}

TEST(SeriesMask, SimilarPairsAreIgnored) {
    // Flags only under a fifth of the average; all flagged cannot happen.
    EXPECT_EQ(similar_pairs(std::vector<unsigned long>{1, 100, 100}), (std::vector<char>{1, 0, 0}));
    EXPECT_EQ(similar_pairs(std::vector<unsigned long>{13, 100, 100}),
              (std::vector<char>{1, 0, 0}));  // 65 < 71
    EXPECT_EQ(similar_pairs(std::vector<unsigned long>{15, 100, 100}),
              (std::vector<char>{0, 0, 0}));  // 75 is not below 71
    EXPECT_EQ(similar_pairs(std::vector<unsigned long>{0, 0}), (std::vector<char>{0, 0}));

    // Every comparison flagged: every pixel is object.
    Matrix<std::int16_t> diff(3, 4);
    std::vector<unsigned char> mask(4, 0);
    comparison_mask(diff, 2, std::vector<char>{1, 1}, 5, mask);
    EXPECT_EQ(mask, (std::vector<unsigned char>{1, 1, 1, 1}));
    // Only unflagged comparisons vote; a value at the threshold is background.
    diff[1][0] = 9;
    diff[1][1] = 9;
    diff[2][1] = 5;
    diff[2][2] = 6;
    comparison_mask(diff, 2, std::vector<char>{0, 1}, 5, mask);
    EXPECT_EQ(mask, (std::vector<unsigned char>{1, 1, 0, 0}));
    comparison_mask(diff, 2, std::vector<char>{0, 0}, 5, mask);
    EXPECT_EQ(mask, (std::vector<unsigned char>{0, 0, 0, 0}));
}

TEST(SeriesMask, ObjectOfImageAgainstMovingPartners) {
    // Four images, three partners each; image 1 is image 0 again (same
    // rotation), which would erase image 0's object if it were not ignored.
    const IMAGE im = geometry(48, 32);
    std::vector<ByteBuffer> images = {square_image(im, 6, 10, 10), square_image(im, 6, 10, 10),
                                      square_image(im, 20, 10, 10), square_image(im, 34, 10, 10)};
    Matrix<unsigned char> grad(4, im.size);  // no edge change
    Matrix<std::int16_t> diff(4, im.size);
    std::vector<unsigned char> mask(im.size, 7);
    series_object_mask(im, images, grad, 0, 3, diff, mask);

    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 48; ++x) {
            const bool inner = x >= 7 && x < 15 && y >= 11 && y < 19;
            const bool far = x < 4 || x > 17 || y < 8 || y > 21;
            if (inner) {
                EXPECT_EQ(mask[y * 48 + x], 1) << x << "," << y;
            }
            if (far) {
                EXPECT_EQ(mask[y * 48 + x], 0) << x << "," << y;
            }
        }
    }
}

TEST(SeriesMask, EdgeChangeAddsAndSaturates) {
    // Identical grey images: only the edge maps differ. A change of 255 adds
    // 31, so the pixel differs from both partners; a change of 8 adds 1,
    // which does not exceed the threshold of 1.
    const IMAGE im = geometry(8, 8);
    std::vector<ByteBuffer> images(3, ByteBuffer(im.size, 50));
    Matrix<unsigned char> grad(3, im.size);
    grad[0][3 * 8 + 3] = 255;
    grad[0][5 * 8 + 5] = 8;
    Matrix<std::int16_t> diff(3, im.size);
    std::vector<unsigned char> mask(im.size, 0);
    series_object_mask(im, images, grad, 0, 2, diff, mask);
    EXPECT_EQ(diff[1][3 * 8 + 3], 31);
    EXPECT_EQ(diff[1][5 * 8 + 5], 1);
    for (unsigned long p = 0; p < im.size; ++p) EXPECT_EQ(mask[p], p == 3 * 8 + 3 ? 1 : 0) << p;

    // The largest centred difference, 510, plus 31 is held at 511.
    ByteBuffer bright(im.size, 255), dark(im.size, 0);
    for (int y = 3; y < 6; ++y)
        for (int x = 3; x < 6; ++x) {
            bright[y * 8 + x] = 0;
            dark[y * 8 + x] = 255;
        }
    images = {bright, dark, dark};
    grad[0][4 * 8 + 4] = 255;
    series_object_mask(im, images, grad, 0, 2, diff, mask);
    EXPECT_EQ(diff[1][4 * 8 + 4], 511);
    EXPECT_EQ(diff[2][4 * 8 + 4], 511);
}

}  // namespace
}  // namespace orva
