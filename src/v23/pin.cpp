// The pin that holds the loop: found in the edge image as a band of rows of one
// common object width, and painted out of the full-resolution image below the
// lowest row that still looks like the background.
//
// Conventions: the pin enters from the bottom edge (cleaned orientation);
// pin_pos is the full-resolution row of the first row of the common width
// (0 when that is the top row, -1 for no pin); pin_len the full-resolution
// length of the common-width band reaching the bottom (0 none). roi in
// edge-image pixels as in get_roi. Painting replaces each pixel strictly
// between the left and right limits by a distance-weighted mean of samples
// just outside them (integer arithmetic, truncating).
// Status: always 0.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "toolkit/arrays.h"
#include "v23/byte_counts.h"
#include "v23/image_preparation.h"

namespace orva {

namespace {

constexpr double PIN_ROW_SHARE = 0.6;  // rows of the common width for a pin
constexpr int TOP_TOLERANCE = 1;       // width tolerance for the pin's top row
constexpr int BAND_TOLERANCE = 2;      // width tolerance along the band
constexpr int ROW_SHARE_DIVISOR = 10;  // (2 imx + 1) / 10: a fifth of a row
constexpr int UNUSUAL_STEP = 5;        // grey levels off the image's mean row
constexpr int DARK_IMAGE = 100;        // mean grey level below: dark image

bool near(int width, int target, int tolerance) {
    return width >= target - tolerance && width <= target + tolerance;
}

// Object width of every edge-image row: from the first to the last pixel
// above a third of the row's spread; negative for a row without any.
std::vector<int> row_widths(std::span<const unsigned char> gptr, int w, int h) {
    std::vector<int> width = ivector(h);
    for (int y = 0; y < h; ++y) {
        const unsigned char* row = gptr.data() + static_cast<std::size_t>(y) * w;
        const auto [lo, hi] = std::minmax_element(row, row + w);
        const int t = (*hi - *lo) / 3;
        int start = 0;
        while (start < w && row[start] <= t) ++start;
        int end = w - 1;
        while (end > 0 && row[end] <= t) --end;
        width[y] = end - start;
    }
    return width;
}

}  // namespace

int detect_pin(std::span<const unsigned char> gptr, const IMAGE& img, int sub_samp, int& pin_pos,
               int& pin_len, std::FILE* /*logfile*/) {
    const int w = static_cast<int>(img.width);
    const int h = static_cast<int>(img.height);
    const std::vector<int> width = row_widths(gptr, w, h);

    // Most frequent positive width (the smallest on ties).
    std::vector<int> histo = ivector(w + 2);
    for (int y = 0; y < h; ++y)
        if (width[y] > 0) ++histo[width[y]];
    int max_pos = 0;
    int max_hist = 0;
    for (int k = 1; k < w; ++k) {
        if (histo[k] > max_hist) {
            max_hist = histo[k];
            max_pos = k;
        }
    }

    int top = -1;
    for (int y = 0; y < h; ++y) {
        if (near(width[y], max_pos, TOP_TOLERANCE)) {
            top = y;
            break;
        }
    }

    // The common-width band that starts nearest the bottom.
    pin_len = 0;
    int start = h - 1;
    while (start >= 0 && !near(width[start], max_pos, BAND_TOLERANCE)) --start;
    if (start >= 0 && max_pos > 0) {
        int end = start - 1;
        while (end >= 0 && near(width[end], max_pos, BAND_TOLERANCE)) --end;
        const int len = start - end;
        pin_len = (len / 4 < h - start) ? 0 : len * sub_samp;
    }

    pin_pos = -1;
    if (max_pos > 0 && max_pos < w - 1) {
        const int share = histo[max_pos - 1] + histo[max_pos] + histo[max_pos + 1];
        if (share > PIN_ROW_SHARE * h) {
            pin_pos = 0;
            if (top > 0) pin_pos = top * sub_samp;
        }
    }
    // An object already wide at the top is a loop, not a pin.
    int top_rows = 0;
    for (int y = 0; y < std::min(h, 3); ++y) top_rows += width[y];
    if (top_rows > 3 * max_pos) pin_pos = -1;
    return 0;
}

namespace {

// Mean grey level of the darkest and of the brightest fifth of each row.
struct RowLevels {
    std::vector<int> dark, light;
    double mean = 0.0, mean_dark = 0.0, mean_light = 0.0;
};

RowLevels row_levels(std::span<const unsigned char> cptr, int imx, int imy) {
    RowLevels lv;
    lv.dark = ivector(imy);
    lv.light = ivector(imy);
    const int n = std::max(1, (2 * imx + 1) / ROW_SHARE_DIVISOR);
    ByteCounts counts;
    // Every partial sum of bytes is a whole number far below 2^53, so this
    // integer total is the total a double sum in pixel order gives.
    long total = 0;
    for (int y = 0; y < imy; ++y) {
        const unsigned char* row = cptr.data() + static_cast<std::size_t>(y) * imx;
        count_bytes({row, static_cast<std::size_t>(imx)}, counts);
        for (int v = 1; v < 256; ++v) total += v * counts[v];
        lv.dark[y] = static_cast<int>(sum_of_smallest_bytes(counts, n) / n);
        lv.light[y] = static_cast<int>(sum_of_largest_bytes(counts, n) / n);
        lv.mean_dark += lv.dark[y];
        lv.mean_light += lv.light[y];
    }
    lv.mean = static_cast<double>(total) / (static_cast<double>(imx) * imy);
    lv.mean_dark /= imy;
    lv.mean_light /= imy;
    return lv;
}

// First row, from the bottom up, whose darkest (bright image) or brightest
// (dark image) fifth looks like the image's average; imy when the scan gets
// to the top row.
int background_row(const RowLevels& lv, int imy) {
    const bool dark_image = lv.mean < DARK_IMAGE;
    int y = imy - 1;
    for (; y > 0; --y) {
        const bool unusual = dark_image ? lv.light[y] > lv.mean_light + UNUSUAL_STEP
                                        : lv.dark[y] < lv.mean_dark - UNUSUAL_STEP;
        if (!unusual) break;
    }
    return y > 0 ? y : imy;
}

// Fills the columns strictly between left and right of rows cut_row .. imy-1.
// right_row_up: the cut row takes its right sample from the row above.
void paint_out(std::span<unsigned char> img, int imx, int imy, int left, int right, int cut_row,
               bool right_row_up) {
    const int span = right - left;
    if (span < 2) return;
    auto px = [&](int x, int y) {
        return static_cast<int>(img[static_cast<std::size_t>(y) * imx + x]);
    };
    for (int y = cut_row; y < imy; ++y) {
        int lsum = 0;
        int rsum = 0;
        int samples = 0;
        if (y == cut_row) {
            lsum = px(left - 1, y);
            rsum = px(right + 1, right_row_up ? y - 1 : y);
            samples = 1;
        } else if (y == cut_row + 1) {
            lsum = px(left - 1, y) + px(left - 1, y - 1);
            rsum = px(right + 1, y) + px(right + 1, y - 1);
            samples = 2;
        } else {
            for (int r = y - 2; r <= y; ++r) {
                lsum += px(left - 1, r) + px(left - 2, r);
                rsum += px(right + 1, r) + px(right + 2, r);
            }
            samples = 6;
        }
        unsigned char* row = img.data() + static_cast<std::size_t>(y) * imx;
        for (int x = left + 1; x < right; ++x)
            row[x] = static_cast<unsigned char>(((right - x) * lsum + (x - left) * rsum) /
                                                (samples * span));
    }
}

}  // namespace

int remove_pin(std::span<const unsigned char> cptr, std::span<unsigned char> img1,
               std::span<unsigned char> img2, int imx, int imy, const int* roi, int sub_samp,
               int /*q*/, int& remove_flag, int pin_len, std::FILE* /*logfile*/) {
    const std::size_t size = static_cast<std::size_t>(imx) * imy;
    std::memmove(img1.data(), cptr.data(), size);
    if (img2.data() != cptr.data()) std::memmove(img2.data(), cptr.data(), size);

    // Columns and top of the pin area, in full-resolution pixels.
    int left = (roi[0] - 1) * sub_samp;
    if (left <= sub_samp) left = 0;
    int right = (roi[1] + 1) * sub_samp + (sub_samp + 1) / 2 + 1;
    if (right >= imx - sub_samp) right = imx - 1;
    int top = (roi[2] - 1) * sub_samp;
    if (top <= sub_samp) top = 0;

    const RowLevels lv = row_levels(cptr, imx, imy);
    int cut_row = background_row(lv, imy);

    remove_flag = 0;
    if (!(pin_len > 0 || 2 * (imy - cut_row) < imy - top)) return 0;
    if (cut_row > imy / 4) {
        if (cut_row < imy - 1) cut_row = std::max(cut_row - imy / 50, imy / 4);
        remove_flag = 1;
    } else {
        cut_row = imy;
        remove_flag = 0;
    }
    left = std::max(left, 2);
    right = std::min(right, imx - 3);
    paint_out(img1, imx, imy, left, right, cut_row, false);
    paint_out(img2, imx, imy, left, right, cut_row, true);
    return 0;
}

}  // namespace orva
