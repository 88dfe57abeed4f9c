// Cleaning of one input image for the version-2.3 method: cut the job's
// borders, turn the image so that the pin enters from the bottom, erase the
// four dark overlay bars of MAR images and paint out a cryo-head shadow.
//
// Conventions: border[0] rows are cut at the bottom, border[1] at the top,
// border[2] columns at the left, border[3] at the right; pixel (x, y) is byte
// y * width + x. The bars are 10 pixels wide and reach in from the middle of
// each edge; each is traced as the darkest pixel of up to 110 scan lines
// starting 10 pixels inside the edge. A bar whose trace is inconsistent keeps
// its default place (columns 363, rows 267, length 112) except the bottom bar,
// which then has column 0 and, having no left neighbour, is not erased; a bar
// too close to the image edge for its two neighbour samples is left alone.
// Status: 0; 2 for an unknown loop_pos or borders leaving less than 3 x 3.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "loop/orientation.h"
#include "toolkit/arrays.h"
#include "v23/image_preparation.h"

namespace orva {

namespace {

using namespace preparation;

constexpr int MIN_CLEANED_SIDE = 3;  // the edge image needs an inner pixel
constexpr int BAR_LINES = 110;       // scan lines per bar
constexpr int BAR_INSET = 10;        // first scan line, pixels inside the edge
constexpr int BAR_HALF = 5;          // half the bar width
constexpr int BAR_WIDTH = 10;
constexpr int DEFAULT_BAR_COLUMN = 363;  // top and bottom bars
constexpr int DEFAULT_BAR_ROW = 267;     // left and right bars
constexpr int DEFAULT_BAR_LENGTH = 112;
constexpr int BOTTOM_WINDOW = 10;    // half window around the top bar's column
constexpr int TRACK_FROM_LINE = 11;  // from here the bottom bar is tracked +-1
constexpr int BAR_END_FIRST_LINE = 5;
constexpr int BAR_LENGTH_EXTRA = BAR_INSET + 1;

// Darkest value and its first position on each scan line of one bar.
struct DarkTrace {
    int lines = 0;
    std::array<int, BAR_LINES> g{};  // darkest value
    std::array<int, BAR_LINES> p{};  // its position across the bar
};

// Darkest pixel among positions [from, to) of one scan line, clipped to
// [0, limit); value 255 at position 0 when the window is empty.
template <class Pixel>
void darkest_on_line(DarkTrace& t, int k, int from, int to, int limit, Pixel pixel) {
    from = std::max(from, 0);
    to = std::min(to, limit);
    int g = 255;
    int p = 0;
    for (int i = from; i < to; ++i) {
        const int v = pixel(i);
        if (v < g) {
            g = v;
            p = i;
        }
    }
    t.g[k] = g;
    t.p[k] = p;
}

// Lines 0, 2 and 4 agree within one pixel.
bool consistent(const DarkTrace& t) {
    return t.lines > 6 && std::abs(t.p[0] - t.p[2]) <= 1 && std::abs(t.p[4] - t.p[2]) <= 1;
}

int bar_centre(const DarkTrace& t) {
    return (t.p[0] + t.p[2] + t.p[4] + t.p[6] + 2) >> 2;
}

// The bar ends at the first line from 5 on that is clearly brighter than its
// start; otherwise the length stays as it was.
void bar_length(const DarkTrace& t, int& length) {
    const int mean = (t.g[0] + t.g[2] + t.g[4] + t.g[6] + 2) >> 2;
    for (int k = BAR_END_FIRST_LINE; k < t.lines; ++k) {
        if (t.g[k] > 2 * mean) {
            length = k + BAR_LENGTH_EXTRA;
            return;
        }
    }
}

// Integer ramp across a bar: the 10 pixels centre-4 .. centre+5 between the
// samples at centre-5 and centre+5. `at(i)` addresses position i across.
template <class At>
void ramp_across(int centre, int extent, At at) {
    if (centre - BAR_HALF < 0 || centre + BAR_HALF >= extent) return;
    const int a = at(centre - BAR_HALF);
    const int b = at(centre + BAR_HALF);
    for (int k = 0; k < BAR_WIDTH; ++k)
        at(centre - BAR_HALF + 1 + k) =
            static_cast<unsigned char>(((BAR_WIDTH - k) * a + k * b) / BAR_WIDTH);
}

}  // namespace

void remove_overlay_bars(const IMAGE& imc, std::span<unsigned char> cptr) {
    const int w = static_cast<int>(imc.width);
    const int h = static_cast<int>(imc.height);
    auto px = [&](int x, int y) -> unsigned char& {
        return cptr[static_cast<std::size_t>(y) * w + x];
    };

    int top_col = DEFAULT_BAR_COLUMN;
    int bottom_col = DEFAULT_BAR_COLUMN;
    int left_row = DEFAULT_BAR_ROW;
    int right_row = DEFAULT_BAR_ROW;
    int top_length = DEFAULT_BAR_LENGTH;
    int bottom_length = DEFAULT_BAR_LENGTH;
    int left_length = DEFAULT_BAR_LENGTH;
    int right_length = DEFAULT_BAR_LENGTH;

    // Top bar: rows downwards, searched over the middle half of the columns.
    DarkTrace top;
    for (int k = 0; k < BAR_LINES && BAR_INSET + k < h; ++k, ++top.lines)
        darkest_on_line(top, k, w / 4, 3 * w / 4, w, [&](int x) { return px(x, BAR_INSET + k); });
    if (consistent(top)) {
        top_col = bar_centre(top);
        bar_length(top, top_length);
    }

    // Bottom bar: rows upwards near the top bar's column, then tracked.
    DarkTrace bottom;
    for (int k = 0; k < BAR_LINES && h - BAR_INSET - k >= 0; ++k, ++bottom.lines) {
        const int row = h - BAR_INSET - k;
        const int from = k < TRACK_FROM_LINE ? top_col - BOTTOM_WINDOW : bottom.p[k - 1] - 1;
        const int to = k < TRACK_FROM_LINE ? top_col + BOTTOM_WINDOW : bottom.p[k - 1] + 2;
        darkest_on_line(bottom, k, from, to, w, [&](int x) { return px(x, row); });
    }
    if (consistent(bottom)) {
        bottom_col = bar_centre(bottom);
        bar_length(bottom, bottom_length);
    } else {
        bottom_col = 0;
    }

    // Left and right bars: columns inwards, searched over the middle half of the rows.
    DarkTrace left;
    for (int k = 0; k < BAR_LINES && BAR_INSET + k < w; ++k, ++left.lines)
        darkest_on_line(left, k, h / 4, 3 * h / 4, h, [&](int y) { return px(BAR_INSET + k, y); });
    if (consistent(left)) {
        left_row = bar_centre(left);
        bar_length(left, left_length);
    }
    DarkTrace right;
    for (int k = 0; k < BAR_LINES && w - BAR_INSET - k >= 0; ++k, ++right.lines)
        darkest_on_line(right, k, h / 4, 3 * h / 4, h,
                        [&](int y) { return px(w - BAR_INSET - k, y); });
    if (consistent(right)) {
        right_row = bar_centre(right);
        bar_length(right, right_length);
    }

    // Each bar is erased over its own length, from its edge inwards.
    for (int y = 0; y < std::min(top_length, h); ++y)
        ramp_across(top_col, w, [&](int x) -> unsigned char& { return px(x, y); });
    for (int y = h - 1; y >= std::max(h - bottom_length, 0); --y)
        ramp_across(bottom_col, w, [&](int x) -> unsigned char& { return px(x, y); });
    for (int x = 0; x < std::min(left_length, w); ++x)
        ramp_across(left_row, h, [&](int y) -> unsigned char& { return px(x, y); });
    for (int x = w - 1; x >= std::max(w - right_length, 0); --x)
        ramp_across(right_row, h, [&](int y) -> unsigned char& { return px(x, y); });
}

void remove_shadow(const IMAGE& imc, std::span<unsigned char> cptr) {
    const int w = static_cast<int>(imc.width);
    const int h = static_cast<int>(imc.height);
    const int rows = std::min(h, SHADOW_AXIS_Y);
    const int cols = std::min(w, SHADOW_AXIS_X);
    for (int y = 0; y < rows; ++y) {
        unsigned char* line = cptr.data() + static_cast<std::size_t>(y) * w;
        // The row's level: all but its last pixel, over the full width.
        double sum = 0.0;
        for (int x = 0; x < w - 1; ++x) sum += line[x];
        const double level = sum / w;
        const auto value = static_cast<unsigned char>(std::floor(level + 0.5));
        for (int x = 0; x < cols; ++x)
            if (in_shadow(x, y)) line[x] = value;
    }
}

int clean_up(const IMAGE& im, std::span<const unsigned char> bptr, IMAGE& imc, ByteBuffer& dptr,
             int image_special, int loop_pos, const int* border, int shadow_flag,
             std::FILE* logfile) {
    if (loop_pos < 0 || loop_pos > 3) {
        std::fprintf(stderr, "\n Unknown value for loop_pos (%d)", loop_pos);
        return 2;
    }
    IMAGE cut;
    if (get_new_format(im, cut, loop_pos, border, 0) != 0) return 2;
    if (cut.width < MIN_CLEANED_SIDE || cut.height < MIN_CLEANED_SIDE) {
        std::fprintf(stderr, "\n%s: Image of %u x %u is too small after cutting the borders!",
                     "clean_up", cut.width, cut.height);
        return 2;
    }
    ByteBuffer cleaned = ucvector(static_cast<long>(cut.size));
    if (cut_border(im, bptr, cut, cleaned, loop_pos, 0, border, 0, logfile) != 0) return 2;

    if (image_special == 1) remove_overlay_bars(cut, cleaned);
    if (shadow_flag == 1) remove_shadow(cut, cleaned);

    imc.width = cut.width;
    imc.height = cut.height;
    imc.size = cut.size;
    dptr = std::move(cleaned);
    return 0;
}

}  // namespace orva
