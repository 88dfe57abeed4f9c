// Flank trimming: each row of the mask's bounding box is scanned from the left
// until the first strong edge maximum (edge map value at least G and larger
// than its right neighbour); the object pixels passed before it are cleared
// except the last, which keeps the left-flank marker 2. When the left scan
// stopped, the same is done from the right with marker 3. G comes from a
// triangle rule on a small histogram of the edge map inside the box.
// Rows are y, columns x; mask values 0, 1, 2, 3 as in the header.
#include "loop/flank_trimming.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "toolkit/byte_scan.h"
#include "toolkit/fast_floor.h"

namespace orva {

namespace {

constexpr long MIN_BOX_PIXELS = 8;  // boxes this small are not trimmed
constexpr double BIN_LOG_FACTOR = 1.5;
constexpr int MAX_EDGE_BINS = 255;
constexpr int BORDER_REACH = 3;  // object within this many columns of a border
constexpr int CLEARED_ROWS = 2;  // rows at the bottom cleared after trimming

// Scans row y from the left; returns true when it stopped (edge or border).
bool trim_left(unsigned char* m, const unsigned char* g, int left, int right, int G) {
    int s = -1;
    int e = -1;
    bool stopped = false;
    for (int x = left; x < right; ++x) {
        if (s < 0 && m[x] != 0) {
            s = x;
            if (x < BORDER_REACH) {
                stopped = true;
                break;
            }
        }
        if (g[x + 1] < g[x] && g[x] >= G) {
            stopped = true;
            break;
        }
        if (m[x] != 0) {
            m[x] = LEFT_MARKER;
            e = x;
        }
    }
    if (stopped && s >= 0)
        for (int x = s; x < e; ++x)
            if (m[x] == LEFT_MARKER) m[x] = 0;
    return stopped;
}

// Scans row y from the right (mirror of trim_left, marking only plain object).
void trim_right(unsigned char* m, const unsigned char* g, int left, int right, int width, int G) {
    int e = -1;
    int s = right;
    bool stopped = false;
    for (int x = right; x > left; --x) {
        if (e < 0 && m[x] != 0) {
            e = x;
            if (x > width - 1 - BORDER_REACH) {
                stopped = true;
                break;
            }
        }
        if (g[x - 1] < g[x] && g[x] >= G) {
            stopped = true;
            break;
        }
        if (m[x] == 1) {
            m[x] = RIGHT_MARKER;
            s = x;
        }
    }
    if (stopped && e >= 0)
        for (int x = s + 1; x <= e; ++x)
            if (m[x] == RIGHT_MARKER) m[x] = 0;
}

}  // namespace

MaskBox mask_bounding_box(const IMAGE& im, std::span<const unsigned char> mask) {
    const int w = static_cast<int>(im.width);
    const int h = static_cast<int>(im.height);
    MaskBox box;
    box.left = w;
    for (int y = 0; y < h; ++y) {
        const unsigned char* row = mask.data() + static_cast<long>(y) * w;
        const auto first = static_cast<int>(first_nonzero(row, static_cast<std::size_t>(w)));
        if (first == w) continue;
        if (box.top < 0) box.top = y;
        box.bottom = y;
        box.left = std::min(box.left, first);
        box.right =
            std::max(box.right, static_cast<int>(last_nonzero(row, static_cast<std::size_t>(w))));
    }
    if (box.bottom == h - 1) box.bottom = h - 2;
    return box;
}

int edge_threshold(const IMAGE& im, std::span<const unsigned char> grad, const MaskBox& box) {
    const long w = im.width;
    const long n = static_cast<long>(box.bottom - box.top + 1) * (box.right - box.left + 1);
    const int bins =
        std::min(static_cast<int>(std::floor(BIN_LOG_FACTOR * std::log(static_cast<double>(n)))),
                 MAX_EDGE_BINS);

    int min_val = grad[box.top * w + box.left];
    int max_val = min_val;
    for (int y = box.top; y <= box.bottom; ++y) {
        for (int x = box.left; x <= box.right; ++x) {
            min_val = std::min<int>(min_val, grad[y * w + x]);
            max_val = std::max<int>(max_val, grad[y * w + x]);
        }
    }
    if (max_val == min_val) return -1;

    // The bin depends on the byte value alone: work it out once per value.
    const double scale = static_cast<double>(bins - 1) / (max_val - min_val);
    std::array<int, 256> bin_of{};
    for (int g = min_val; g <= max_val; ++g)
        bin_of[g] =
            std::clamp(static_cast<int>(floor_to_long((g - min_val) * scale + 0.5)), 0, bins - 1);
    // Counts per byte value first, in four partial tables so that runs of
    // equal values do not wait on each other, then per bin.
    std::array<std::array<unsigned int, 256>, 4> count{};
    for (int y = box.top; y <= box.bottom; ++y) {
        const unsigned char* row = grad.data() + static_cast<long>(y) * w;
        int x = box.left;
        for (; x + 3 <= box.right; x += 4) {
            ++count[0][row[x]];
            ++count[1][row[x + 1]];
            ++count[2][row[x + 2]];
            ++count[3][row[x + 3]];
        }
        for (; x <= box.right; ++x) ++count[0][row[x]];
    }
    std::vector<unsigned int> hist(bins, 0u);
    for (int g = min_val; g <= max_val; ++g)
        hist[bin_of[g]] += count[0][g] + count[1][g] + count[2][g] + count[3][g];

    // Peak, then the first lowest bin after it.
    int kmax = 0;
    for (int k = 1; k < bins; ++k)
        if (hist[k] > hist[kmax]) kmax = k;
    int kmin = kmax;
    for (int k = kmax + 1; k < bins; ++k)
        if (hist[k] < hist[kmin]) kmin = k;

    // Largest gap under the chord from the peak to the valley; ties go later.
    int kbest = -1;
    if (kmin > kmax) {
        const double slope =
            static_cast<double>(hist[kmax] - hist[kmin]) / static_cast<double>(kmax - kmin);
        double best_distance = 0.0;
        for (int k = kmax; k < kmin; ++k) {
            const double distance =
                std::floor(hist[kmax] + (k - kmax) * slope) - static_cast<double>(hist[k]);
            if (distance >= best_distance) {
                best_distance = distance;
                kbest = k;
            }
        }
    }
    kbest >>= 1;
    if (kbest < 0) return 0;
    return static_cast<int>(min_val + kbest / scale);
}

void trim_flanks(const IMAGE& im, std::span<unsigned char> mask,
                 std::span<const unsigned char> grad) {
    const int w = static_cast<int>(im.width);
    const int h = static_cast<int>(im.height);
    if (w >= 2 && h >= 2) {
        const MaskBox box = mask_bounding_box(im, mask);
        const long n = static_cast<long>(box.bottom - box.top + 1) * (box.right - box.left + 1);
        // An empty or tiny mask is left entirely as it is, bottom rows included.
        if (box.top < 0 || n <= MIN_BOX_PIXELS) return;
        const int G = edge_threshold(im, grad, box);
        if (G >= 0) {
            for (int y = box.top; y <= box.bottom; ++y) {
                unsigned char* m = mask.data() + static_cast<long>(y) * w;
                const unsigned char* g = grad.data() + static_cast<long>(y) * w;
                if (trim_left(m, g, box.left, box.right, G))
                    trim_right(m, g, box.left, box.right, w, G);
            }
        }
    }
    const int first_cleared = std::max(0, h - CLEARED_ROWS);
    std::fill(mask.begin() + static_cast<long>(first_cleared) * w,
              mask.begin() + static_cast<long>(h) * w, 0);
}

}  // namespace orva
