// Removal of instrument marks from a canonical image, in place.
//
// Edge markers: four dark bars, 10 pixels wide, reach in from the middle of the
// four edges. Each bar is searched over MAX_IDX scan lines (the darkest pixel of
// each line inside a window and its first position), accepted when the first
// even scan lines agree within one pixel, measured in length where the line
// minimum first exceeds twice the bar's mean darkness, and replaced by an
// integer ramp between the pixels just outside it. A search whose scan lines or
// window do not fit in the image is skipped (the bar is left alone).
//
// Crosshairs: a 5-wide horizontal median pass followed by a 7-high vertical
// median pass; the two outer columns on each side are not filtered
// horizontally and the three outer rows at top and bottom keep their values.
//
// Conventions: pixel (x, y) at y * width + x, row 0 at the top.
#include <array>
#include <cstdlib>
#include <vector>

#include "loop/orientation.h"
#include "toolkit/arrays.h"
#include "toolkit/rank_filters.h"

namespace orva {

namespace {

constexpr int BAR_HALF_WIDTH = 5;
constexpr int FIRST_SCAN_LINE = 10;  // scan lines start this far inside the edge
constexpr int DEFAULT_BAR_COLUMN = 376;
constexpr int BAR_LENGTH_MARGIN = 12;
constexpr int TRACK_FROM = 11;  // the bottom bar is tracked from this scan line on

// Darkest value of each scan line and its first position.
struct BarScan {
    std::array<int, MAX_IDX> g{};
    std::array<int, MAX_IDX> p{};
};

// Darkest value over positions [from, to) of one line, first position of it;
// starts at 255 and position 0.
template <class Pixel>
void darkest(Pixel pixel, int from, int to, int& g, int& p) {
    g = 255;
    p = 0;
    for (int pos = from; pos < to; ++pos) {
        int v = pixel(pos);
        if (v < g) {
            g = v;
            p = pos;
        }
    }
}

bool consistent(const BarScan& s) {
    return std::abs(s.p[0] - s.p[2]) <= 1 && std::abs(s.p[4] - s.p[2]) <= 1;
}

int bar_centre(const BarScan& s, int rounding) {
    return (s.p[0] + s.p[2] + s.p[4] + s.p[6] + rounding) >> 2;
}

// The bar ends where a scan line gets clearly brighter than the bar's start;
// without such a line the previous length stands.
int bar_length(const BarScan& s, int length) {
    int mean = (s.g[0] + s.g[2] + s.g[4] + s.g[6] + 2) >> 2;
    for (int k = 5; k < MAX_IDX; ++k)
        if (s.g[k] > 2 * mean) return k + BAR_LENGTH_MARGIN;
    return length;
}

// Replaces the 10 pixels centre-4 .. centre+5 of one line (pixel i of the line
// at buf[base + i * step]) by a ramp between the pixels at centre-5 and
// centre+5, read before writing.
void fill_ramp(std::span<unsigned char> buf, long base, long step, int centre) {
    int a = buf[base + (centre - BAR_HALF_WIDTH) * step];
    int b = buf[base + (centre + BAR_HALF_WIDTH) * step];
    for (int k = 0; k < 2 * BAR_HALF_WIDTH; ++k)
        buf[base + (centre - 4 + k) * step] =
            static_cast<unsigned char>(((10 - k) * a + k * b) / 10);
}

// True when a ramp around centre stays inside a line of n pixels.
bool ramp_fits(int centre, int n) {
    return centre - BAR_HALF_WIDTH >= 0 && centre + BAR_HALF_WIDTH < n;
}

}  // namespace

void remove_edge_markers(const IMAGE& imc, std::span<unsigned char> cptr, int b2) {
    const int w = static_cast<int>(imc.width);
    const int h = static_cast<int>(imc.height);
    // Every scan line from FIRST_SCAN_LINE to FIRST_SCAN_LINE + MAX_IDX - 1 must exist.
    const bool rows_fit = h >= FIRST_SCAN_LINE + MAX_IDX;
    const bool cols_fit = w >= FIRST_SCAN_LINE + MAX_IDX;
    int bar_column = DEFAULT_BAR_COLUMN - b2;
    int length_v = MAX_IDX;
    int length_h = MAX_IDX;
    BarScan s;

    // Top bar: rows 10.., middle half of the columns.
    if (rows_fit) {
        for (int k = 0; k < MAX_IDX; ++k) {
            long row = (FIRST_SCAN_LINE + k) * static_cast<long>(w);
            darkest([&](int x) { return int{cptr[row + x]}; }, static_cast<int>(imc.width >> 2),
                    3 * w / 4, s.g[k], s.p[k]);
        }
        if (consistent(s)) {
            bar_column = bar_centre(s, 1);
            length_v = bar_length(s, length_v);
            if (ramp_fits(bar_column, w))
                for (int y = 0; y < length_v && y < h; ++y)
                    fill_ramp(cptr, static_cast<long>(y) * w, 1, bar_column);
        }
    }

    // Bottom bar: rows h-10 upwards, around the top bar's column, then tracked.
    if (rows_fit && bar_column - 10 >= 0 && bar_column + 10 <= w) {
        for (int k = 0; k < MAX_IDX; ++k) {
            long row = static_cast<long>(h - FIRST_SCAN_LINE - k) * w;
            auto pixel = [&](int x) { return int{cptr[row + x]}; };
            if (k < TRACK_FROM) {
                darkest(pixel, bar_column - 10, bar_column + 10, s.g[k], s.p[k]);
            } else {
                int from = s.p[k - 1] - 1 < 0 ? 0 : s.p[k - 1] - 1;
                int to = s.p[k - 1] + 2 > w ? w : s.p[k - 1] + 2;
                darkest(pixel, from, to, s.g[k], s.p[k]);
            }
        }
        if (consistent(s)) {
            int centre = bar_centre(s, 2);
            length_v = bar_length(s, length_v);
            if (ramp_fits(centre, w))
                for (int i = 0; i < length_v && h - 1 - i >= 0; ++i)
                    fill_ramp(cptr, static_cast<long>(h - 1 - i) * w, 1, centre);
        }
    }

    if (!cols_fit) return;
    const int row_from = static_cast<int>(imc.height >> 2);
    const int row_to = 3 * h / 4;

    // Left bar: columns 10.., middle half of the rows; the ramp runs down the column.
    for (int k = 0; k < MAX_IDX; ++k) {
        int col = FIRST_SCAN_LINE + k;
        darkest([&](int y) { return int{cptr[static_cast<long>(y) * w + col]}; }, row_from, row_to,
                s.g[k], s.p[k]);
    }
    if (consistent(s)) {
        int centre = bar_centre(s, 2);
        length_h = bar_length(s, length_h);
        if (ramp_fits(centre, h))
            for (int x = 0; x < length_h && x < w; ++x) fill_ramp(cptr, x, w, centre);
    }

    // Right bar: columns w-10 leftwards.
    for (int k = 0; k < MAX_IDX; ++k) {
        int col = w - FIRST_SCAN_LINE - k;
        darkest([&](int y) { return int{cptr[static_cast<long>(y) * w + col]}; }, row_from, row_to,
                s.g[k], s.p[k]);
    }
    if (!consistent(s)) return;
    int centre = bar_centre(s, 2);
    length_h = bar_length(s, length_h);
    if (ramp_fits(centre, h))
        for (int x = w - length_h < 0 ? 0 : w - length_h; x < w; ++x) fill_ramp(cptr, x, w, centre);
}

void remove_crosshairs(const IMAGE& imc, std::span<unsigned char> cptr) {
    const long w = imc.width;
    const long h = imc.height;
    if (w < 1 || h < 1) return;
    std::vector<unsigned char> tmp = ucvector(w * h);

    // Horizontal pass; the two outer columns on each side are copied.
    for (long y = 0; y < h; ++y) {
        const unsigned char* in = cptr.data() + y * w;
        unsigned char* out = tmp.data() + y * w;
        for (long x = 0; x < w; ++x) out[x] = in[x];
        for (long x = 2; x < w - 2; ++x)
            out[x] = static_cast<unsigned char>(
                imedian5(in[x - 2], in[x - 1], in[x], in[x + 1], in[x + 2]));
    }

    // Vertical pass back; the three outer rows keep their unfiltered values.
    for (long y = 3; y < h - 3; ++y)
        for (long x = 0; x < w; ++x) {
            auto t = [&](long dy) { return int{tmp[(y + dy) * w + x]}; };
            cptr[y * w + x] =
                static_cast<unsigned char>(imedian7(t(-3), t(-2), t(-1), t(0), t(1), t(2), t(3)));
        }
}

}  // namespace orva
