// DEXLA crystal position: clusters of very dark or very bright pixels after
// histogram equalisation.
//
// histEqualization: levels are mapped in order to 256 output levels of about
// (mx my)/256 pixels each; a level that fits at least half into the current
// output level joins it. The lowest occupied level becomes 0 and the highest
// output level used becomes 255. Levels left over at the top once all output
// levels are full belong to the brightest pixels and become 255 as well.
// Dexla: per pixel a dark response (when the mean of the sampled input bytes
// is above 100) and a bright response (when it is below 200), both smooth
// steps of tanh; the two are combined leaning to the smaller, averaged over
// 11 x 11, scaled to 0 .. 255; the centroid of the top 0.2 % (values at or
// above the 99.8th percentile) is the position, doubled back to full size.
// Conventions: this image is the half-size copy, pixel[r][c]; the result holds
// the column in x and the row in y. Degenerate input: no dark or bright pixel
// at all (every response 0), or an image too small for the 11 x 11 mean, gives
// (0, 0).
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "v23/byte_counts.h"
#include "v23/virpa_image.h"

namespace orva {
namespace {

constexpr int LEVELS = 256;
constexpr int DARK_MEAN = 100;
constexpr int BRIGHT_MEAN = 200;
constexpr int DARK_LEVEL = 10;
constexpr int BRIGHT_LEVEL = 245;
constexpr double STEP_SLOPE = 0.4;
constexpr int BOX_HALF = 5;
constexpr int BOX_AREA = 121;
constexpr int BOX_MARGIN = 6;
constexpr long PERCENTILE_PER_MILLE = 998;
constexpr int TO_FULL_SIZE = 2;

int level_of(double v) {
    return std::clamp(static_cast<int>(v), 0, LEVELS - 1);
}

}  // namespace

void Image::histEqualization() {
    const long n = static_cast<long>(mx) * my;
    if (n == 0) return;
    std::array<long, LEVELS> hist{};
    for (double v : pixel.flat()) ++hist[level_of(v)];
    const long target = n / LEVELS;

    std::array<int, LEVELS> out{};
    std::array<bool, LEVELS> taken{};
    int lowest = 0;
    while (hist[lowest] == 0) ++lowest;
    out[lowest] = 0;
    taken[lowest] = true;
    long remaining = target - hist[lowest];
    int next = lowest + 1;
    for (int L = 1; L < LEVELS; ++L) {
        remaining += target;
        while (remaining >= 0 && next < LEVELS) {
            const long h = hist[next];
            if (!(h <= remaining || h - remaining <= h / 2)) break;
            out[next] = L;
            taken[next] = true;
            remaining -= h;
            ++next;
        }
    }
    int top = -1;
    for (int v = 0; v < LEVELS; ++v)
        if (taken[v] && hist[v] > 0) top = std::max(top, out[v]);
    for (int v = 0; v < LEVELS; ++v) {
        if (v > lowest && !taken[v])
            out[v] = LEVELS - 1;
        else if (taken[v] && out[v] == top)
            out[v] = LEVELS - 1;
    }
    for (double& v : pixel.flat()) v = out[level_of(v)];
}

Point Image::Dexla(std::span<const unsigned char> img, int) {
    const long n = static_cast<long>(mx) * my;
    if (n == 0) return Point(0, 0);

    // Mean of the first mx * my input bytes decides which responses count.
    const long sampled = std::min<long>(n, static_cast<long>(img.size()));
    long sum = 0;
    for (long k = 0; k < sampled; ++k) sum += img[k];
    const long m = sampled > 0 ? sum / sampled : 0;
    std::array<int, LEVELS> dark{};
    std::array<int, LEVELS> bright{};
    if (m > DARK_MEAN)
        for (int v = 1; v < LEVELS; ++v)
            dark[v] = static_cast<int>(255 * (1 - std::tanh((v - DARK_LEVEL) * STEP_SLOPE)) / 2);
    if (m < BRIGHT_MEAN)
        for (int v = 0; v < LEVELS; ++v)
            bright[v] =
                static_cast<int>(255 * (1 + std::tanh((v - BRIGHT_LEVEL) * STEP_SLOPE)) / 2);

    // The two responses combined, leaning to the smaller, per level.
    std::array<int, LEVELS> combined{};
    for (int v = 0; v < LEVELS; ++v) {
        const int a = dark[v];
        const int b = bright[v];
        combined[v] = b < a ? (a + 2 * b) / 3 : (b + 2 * a) / 3;
    }
    std::vector<int> response(static_cast<std::size_t>(n));
    for (int r = 0; r < my; ++r)
        for (int c = 0; c < mx; ++c)
            response[static_cast<std::size_t>(r) * mx + c] = combined[level_of(pixel[r][c])];

    // 11 x 11 mean, pixels at least BOX_MARGIN from every edge. The box sums
    // run along columns and then along the row (integer sums, so the order
    // of the additions does not matter).
    std::vector<int> mean(static_cast<std::size_t>(n), 0);
    std::vector<int> column(static_cast<std::size_t>(mx), 0);
    auto resp = [&](int r, int c) { return response[static_cast<std::size_t>(r) * mx + c]; };
    int largest = 0;
    const int last_row = mx > 2 * BOX_MARGIN ? my - BOX_MARGIN : BOX_MARGIN;
    for (int r = BOX_MARGIN; r < last_row; ++r) {
        for (int c = 0; c < mx; ++c) {
            if (r == BOX_MARGIN) {
                for (int dr = -BOX_HALF; dr <= BOX_HALF; ++dr) column[c] += resp(r + dr, c);
            } else {
                column[c] += resp(r + BOX_HALF, c) - resp(r - BOX_HALF - 1, c);
            }
        }
        int box = 0;
        for (int c = BOX_MARGIN - BOX_HALF; c < BOX_MARGIN + BOX_HALF; ++c) box += column[c];
        for (int c = BOX_MARGIN; c < mx - BOX_MARGIN; ++c) {
            box += column[c + BOX_HALF];
            const int value = box / BOX_AREA;
            box -= column[c - BOX_HALF];
            mean[static_cast<std::size_t>(r) * mx + c] = value;
            largest = std::max(largest, value);
        }
    }
    if (largest == 0) return Point(0, 0);

    // Means run from 0 to largest (at most 255): scale each level once.
    std::array<int, LEVELS> scaled{};
    for (int level = 0; level <= largest; ++level)
        scaled[level] = static_cast<int>(std::floor(level * 255.0 / largest + 0.5));
    ByteCounts counts{};
    for (long k = 0; k < n; ++k) {
        mean[k] = scaled[mean[k]];
        ++counts[mean[k]];
    }
    const long at = std::min((n * PERCENTILE_PER_MILLE + 500) / 1000, n - 1);
    const int threshold = kth_smallest_byte(counts, at);

    long sum_c = 0;
    long sum_r = 0;
    long count = 0;
    for (int r = 0; r < my; ++r)
        for (int c = 0; c < mx; ++c)
            if (mean[static_cast<std::size_t>(r) * mx + c] >= threshold) {
                sum_c += c;
                sum_r += r;
                ++count;
            }
    if (count == 0) return Point(0, 0);
    return Point(static_cast<int>(sum_c / count * TO_FULL_SIZE),
                 static_cast<int>(sum_r / count * TO_FULL_SIZE));
}

}  // namespace orva
