// Mask repair, window masking and the centroid of the strongest map values.
//
// smooth_mask examines columns 1 .. width - 2 and rows 1 .. height - 1 only.
// It records the left- and right-most object column of every row from the
// first object row down to the lowest one, filling empty rows on the way with
// the row above. On each flank the row-to-row steps go through the outlier
// test; an outlying inward step starts a fill that holds the flank at its
// position before the step until an outlying outward step, or a regular row
// back within 30 % of the deepest inward position, ends it. An object of at
// most two rows gets only the empty-row filling; an empty mask is unchanged.
//
// get_centremax orders a copy of the map; the threshold is the sorted value at
// (100 - percent) % of the way from the first positive value (never index 0)
// to the end, and the centroid is over the values strictly above it, with
// truncating integer division. A percentage above 100 counts as 100 and the
// threshold index is kept inside the map, so any percentage is safe.
#include "crystal/mask_tools.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "loop/shapes.h"
#include "toolkit/arrays.h"
#include "toolkit/byte_scan.h"
#include "toolkit/heap_sort.h"
#include "toolkit/order_statistics.h"
#include "toolkit/outliers.h"
#include "toolkit/vector_clones.h"

namespace orva {
namespace {

// A flank returning to within this share of the notch depth ends the fill.
constexpr double NOTCH_RETURN_SHARE = 0.3;

void fill_run(std::span<unsigned char> mptr, unsigned int width, unsigned int y, int from, int to) {
    unsigned char* row = mptr.data() + static_cast<std::size_t>(y) * width;
    for (int x = from; x < to; ++x) row[x] = 1;
}

// First and last set column of row y within columns 1 .. width - 2.
bool row_extent(std::span<const unsigned char> mptr, unsigned int width, unsigned int y,
                unsigned int& left, unsigned int& right) {
    const unsigned char* inner = mptr.data() + static_cast<std::size_t>(y) * width + 1;
    const std::size_t n = width - 2;
    const std::size_t first = first_nonzero(inner, n);
    if (first == n) return false;
    left = static_cast<unsigned int>(first + 1);
    right = static_cast<unsigned int>(last_nonzero(inner, n) + 1);
    return true;
}

// One flank pass. inward is +1 for the left flank (its column grows inward)
// and -1 for the right flank; xc/yc are that flank's columns and rows.
void smooth_flank(std::span<unsigned char> mptr, unsigned int width, int N,
                  std::vector<unsigned int>& xc, const std::vector<unsigned int>& yc, int inward) {
    std::vector<int> idiff = ivector(N);
    std::vector<double> abs_diff = vector(N);
    std::vector<double> weights = vector(N);
    weights[0] = 1.0;
    for (int k = 1; k < N; ++k) {
        idiff[k] = static_cast<int>(xc[k]) - static_cast<int>(xc[k - 1]);
        abs_diff[k] = std::abs(idiff[k]);
        weights[k] = 1.0;
    }
    outlier_detection(N, abs_diff, weights, stdout);

    int flag = 0;
    int x0 = 0, x1 = 0, x2 = 0;
    // Fill between the held flank x1 and the current flank x2.
    auto fill = [&](int k) {
        if (inward > 0)
            fill_run(mptr, width, yc[k], x1, x2);
        else
            fill_run(mptr, width, yc[k], x2, x1);
        xc[k] = xc[k - 1];
    };
    for (int k = 1; k < N; ++k) {
        const int step = inward * idiff[k];  // > 0: the flank moves inward
        if (weights[k] == 0.0) {
            if (flag > 0 && step < 0) {
                flag = 0;
                continue;
            }
            if (flag == 0) {
                if (step > 0) flag = 1;
                x0 = static_cast<int>(xc[k]);
            }
            x1 = static_cast<int>(xc[k - 1]);
            x2 = static_cast<int>(xc[k]);
            fill(k);
        } else if (flag != 0) {
            x2 = static_cast<int>(xc[k]);
            x0 = inward > 0 ? std::max(x0, x2) : std::min(x0, x2);
            if (NOTCH_RETURN_SHARE * std::abs(x0 - x1) > std::abs(x2 - x1)) flag = 0;
            fill(k);
        }
    }
}

// Index of the threshold in the ascending values: (100 - percent) % of the
// way from the first positive value (never index 0) to the end.
unsigned long threshold_index(unsigned long N, unsigned long min_pos, unsigned int percent) {
    const unsigned int share = 100u - std::min(percent, 100u);
    const unsigned int spread = share * static_cast<unsigned int>(N - min_pos);
    const auto idx = static_cast<unsigned long>(spread * 0.01 + static_cast<double>(min_pos));
    return std::min(idx, N - 1);
}

// The threshold value of get_centremax; `values` (N > 0) is reordered. Without
// NaN the ascending order puts the c values not above 0 first, so the first
// positive index is c (1 when c is 0, none when all or, for N = 1, index 0
// would be the only candidate), and the threshold is a selection. A NaN makes
// the heap sort's order the reference, so the values are sorted then.
float centremax_threshold(std::vector<float>& values, unsigned int percent) {
    const unsigned long N = values.size();
    if (std::any_of(values.begin(), values.end(), [](float v) { return std::isnan(v); })) {
        heap_sort_f_(N, values);
        unsigned long min_pos = 0;
        for (unsigned long i = 1; i < N; ++i)
            if (values[i] > 0.0f) {
                min_pos = i;
                break;
            }
        return values[threshold_index(N, min_pos, percent)];
    }
    const auto not_positive = static_cast<unsigned long>(
        std::count_if(values.begin(), values.end(), [](float v) { return !(v > 0.0f); }));
    const unsigned long first = std::max(not_positive, 1ul);
    const unsigned long min_pos = first < N ? first : 0;
    return kth_smallest(values, threshold_index(N, min_pos, percent));
}

}  // namespace

void smooth_mask(const IMAGE& im, std::span<unsigned char> mptr) {
    const unsigned int width = im.width;
    const unsigned int height = im.height;
    if (width < 3 || height < 2) return;
    if (mptr.size() < static_cast<std::size_t>(width) * height) return;

    // Lowest object row.
    unsigned int y_bottom = 0;
    unsigned int left = 0, right = 0;
    for (unsigned int y = height - 1; y >= 1; --y)
        if (row_extent(mptr, width, y, left, right)) {
            y_bottom = y;
            break;
        }
    if (y_bottom == 0) return;

    // Flank outline from the top; empty rows inside the object copy the row above.
    SHAPE_PARAMS flanks;
    flanks.x_coord_left = uivector(height);
    flanks.y_coord_left = uivector(height);
    flanks.x_coord_right = uivector(height);
    flanks.y_coord_right = uivector(height);
    int N = 0;
    bool started = false;
    for (unsigned int y = 1; y <= y_bottom; ++y) {
        if (row_extent(mptr, width, y, left, right)) {
            flanks.x_coord_left[N] = left;
            flanks.x_coord_right[N] = right;
            started = true;
        } else if (started) {
            flanks.x_coord_left[N] = flanks.x_coord_left[N - 1];
            flanks.x_coord_right[N] = flanks.x_coord_right[N - 1];
            fill_run(mptr, width, y, static_cast<int>(flanks.x_coord_left[N]),
                     static_cast<int>(flanks.x_coord_right[N]) + 1);
        } else {
            continue;
        }
        flanks.y_coord_left[N] = y;
        flanks.y_coord_right[N] = y;
        ++N;
    }
    flanks.num_coord_left = flanks.num_coord_right = static_cast<unsigned int>(N);
    if (N <= 2) return;

    smooth_flank(mptr, width, N, flanks.x_coord_left, flanks.y_coord_left, +1);
    smooth_flank(mptr, width, N, flanks.x_coord_right, flanks.y_coord_right, -1);
}

namespace {

// Clears every value whose mask byte is 0.
ORVA_VECTOR_CLONES
void keep_masked(float* __restrict g, const unsigned char* __restrict m, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) g[i] = m[i] == 0 ? 0.0f : g[i];
}

}  // namespace

int mask_object(const IMAGE& im, std::span<const unsigned char> mask, std::span<float> gptr,
                std::span<const unsigned int, 4> roi) {
    if (roi[1] <= roi[0] || roi[3] <= roi[2]) return 0;
    const std::size_t win_width = roi[1] - roi[0];
    const std::size_t win_height = roi[3] - roi[2];
    const std::size_t width = im.width;
    const std::size_t mask_size = std::min(mask.size(), width * im.height);
    // Values beyond gptr are not there to clear: the walk stops at its end.
    const std::size_t limit = std::min(win_width * win_height, gptr.size());
    for (std::size_t y = 0; y < win_height && y * win_width < limit; ++y) {
        const std::size_t n = std::min(win_width, limit - y * win_width);
        float* g = gptr.data() + y * win_width;
        // Pixels beyond the image (or the mask buffer) count as outside; both
        // limits leave the inside pixels of a row at its start.
        const std::size_t first = (roi[2] + y) * width + roi[0];
        std::size_t inside = 0;
        if (roi[0] < width && first < mask_size)
            inside = std::min({n, width - roi[0], mask_size - first});
        if (inside > 0) keep_masked(g, mask.data() + first, inside);
        std::fill(g + inside, g + n, 0.0f);
    }
    return 0;
}

ORVA_VECTOR_CLONES
int get_centremax(std::span<const float> bptr, unsigned int width, unsigned int height,
                  unsigned int percent, int& xc, int& yc) {
    const unsigned long N = static_cast<unsigned long>(width) * height;
    if (bptr.data() == nullptr || bptr.size() < N) {
        std::fprintf(stderr, "\n %s: bptr is NULL!", "get_centremax");
        return 2;
    }

    unsigned long count = 0;
    unsigned long sum_x = 0, sum_y = 0;
    if (N > 0) {
        std::vector<float> sorted;
        try {
            sorted.assign(bptr.begin(), bptr.begin() + static_cast<std::ptrdiff_t>(N));
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "\n %s: cannot allocate tmp_ptr!", "get_centremax");
            return 2;
        }
        const float thresh = centremax_threshold(sorted, percent);

        for (unsigned int y = 0; y < height; ++y)
            for (unsigned int x = 0; x < width; ++x)
                if (bptr[static_cast<std::size_t>(y) * width + x] > thresh) {
                    sum_x += x;
                    sum_y += y;
                    ++count;
                }
    }
    if (count > 0) {
        xc = static_cast<int>(sum_x / count);
        yc = static_cast<int>(sum_y / count);
    } else {
        xc = 0;
        yc = 0;
        std::fprintf(stderr, "\n nothing found in get_centremax");
    }
    return 0;
}

}  // namespace orva
