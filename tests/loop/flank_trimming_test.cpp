// Flank trimming: the scans stop at strong edge maxima and keep one marker,
// leave objects at a border alone, and skip constant edge maps.
#include "loop/flank_trimming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "support/images.h"

namespace orva {
namespace {

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
