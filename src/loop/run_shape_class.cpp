// Run-wide shape class and the loop part of every image.
//
// The run class comes from a histogram of the images' classes: the most
// frequent pair of adjacent classes wins, the pair (3, 4) keeping ties; the
// upper class of the pair is taken when it holds more than twice the lower.
// A run whose best pair starts at P010 or P005 while image 0's object reaches
// the top 5 % of the view is PIN_ONLY when reliable; otherwise, unless every
// image agreed, the two smallest pairs are excluded and the search repeated.
// The loop part of an image is its first `rows` traced rows, rows being the
// class's percentage of the traced rows; all divisions are unsigned.
#include "loop/run_shape_class.h"

#include <algorithm>
#include <cmath>

namespace orva {

namespace {

constexpr int START_PAIR = P060;            // the pair (3, 4) starts the search
constexpr int LAST_PAIR = UV_IMAGE - 1;     // pairs up to (13, 14)
constexpr int LAST_PAIR_REPEAT = UV_IMAGE;  // the repeated search reaches (14, 15)
constexpr double PIN_TOP_SHARE = 0.05;      // object top within 5 % of the height
constexpr double PIN_RELIABILITY = 0.8;
constexpr double TOP_SHARE = 0.03;  // top within 3 %: the image's own class is unsure
constexpr double LOCAL_RELIABILITY = 0.6;

unsigned int first_or_zero(const std::vector<unsigned int>& v) {
    return v.empty() ? 0u : v[0];
}

}  // namespace

int best_adjacent_pair(std::span<const int, NUM_SHAPE_CLASSES> hist_shape, bool skip_small,
                       int* count) {
    int lower = START_PAIR;
    int best = hist_shape[START_PAIR] + hist_shape[START_PAIR + 1];
    const int last = skip_small ? LAST_PAIR_REPEAT : LAST_PAIR;
    for (int i = 1; i <= last; ++i) {
        if (skip_small && (i == P010 || i == P005)) continue;
        const int sum = hist_shape[i] + hist_shape[i + 1];
        if (sum > best) {
            best = sum;
            lower = i;
        }
    }
    *count = best;
    return lower;
}

RunShape run_shape_class(std::span<const SHAPE_PARAMS> shapes, int image_special,
                         unsigned int height) {
    RunShape run;
    if (image_special == UV_SPECIAL) {
        run.type = UV_IMAGE;
        run.reliability = 0.0f;
        return run;
    }
    const int num_images = static_cast<int>(shapes.size());
    int hist_shape[NUM_SHAPE_CLASSES] = {};
    for (const SHAPE_PARAMS& s : shapes)
        if (s.type >= 0 && s.type < NUM_SHAPE_CLASSES) ++hist_shape[s.type];

    int pair_count = 0;
    const int lower = best_adjacent_pair(hist_shape, false, &pair_count);
    run.type = hist_shape[lower + 1] > 2 * hist_shape[lower] ? lower + 1 : lower;

    if (hist_shape[UNKNOWN] == num_images || hist_shape[NO_OBJECT] == num_images) {
        run.type = hist_shape[UNKNOWN] == num_images ? UNKNOWN : NO_OBJECT;
        run.reliability = -1.0f;
        return run;
    }
    run.reliability = static_cast<float>(pair_count - hist_shape[UNKNOWN]) /
                      static_cast<float>(num_images - hist_shape[UNKNOWN]);

    if (lower == P010 || lower == P005) {
        const unsigned int top = shapes.empty() ? 0u : first_or_zero(shapes[0].y_coord_left);
        if (top < PIN_TOP_SHARE * height && run.reliability > PIN_RELIABILITY) {
            run.type = PIN_ONLY;
        } else if (run.reliability != 1.0f) {
            int count = 0;
            run.type = best_adjacent_pair(hist_shape, true, &count);
        }
    }
    return run;
}

LoopShare loop_part(SHAPE_PARAMS& shape, const RunShape& run, const IMAGE& imc, bool uv) {
    // Entries the outline arrays can give (the records are normally sized to
    // the image height, beyond the traced rows).
    const unsigned int capacity = static_cast<unsigned int>(
        std::min({shape.x_coord_left.size(), shape.y_coord_left.size(), shape.x_coord_right.size(),
                  shape.y_coord_right.size()}));
    if (shape.type == NO_OBJECT || capacity == 0) {
        shape.centre_x = 0;
        shape.centre_y = 0;
        shape.width = imc.width;
        return LoopShare::Empty;
    }
    if (uv) shape.type = run.type;

    const bool global =
        shape.y_coord_left[0] < TOP_SHARE * imc.height || run.reliability < LOCAL_RELIABILITY;
    const int type = global ? run.type : shape.type;
    const int percent = type >= 0 && type < NUM_SHAPE_CLASSES ? shape2percent[type] : 0;

    unsigned int rows = static_cast<unsigned int>(
        std::floor(static_cast<unsigned int>(percent) * shape.num_coord_left / 100.0));
    if (rows == 0)
        rows = 1;
    else if (rows >= shape.num_coord_left)
        rows = shape.num_coord_left - 1;
    // A single traced row of a full-loop class leaves 0 rows: keep that row
    // rather than divide by 0.
    if (rows == 0) rows = 1;
    rows = std::min(rows, capacity);
    // The box ends on the entry after the loop part, even when that lies
    // beyond the traced rows (a single traced row).
    const unsigned int bottom_entry = std::min(rows, capacity - 1);

    shape.box_t = shape.y_coord_right[0];
    shape.box_b = shape.y_coord_right[bottom_entry];
    unsigned int box_l = shape.x_coord_left[0];
    unsigned int box_r = shape.x_coord_right[0];
    unsigned long sum_x = 0, sum_y = 0, sum_width = 0;
    for (unsigned int i = 0; i < rows; ++i) {
        box_l = std::min(box_l, shape.x_coord_left[i]);
        box_r = std::max(box_r, shape.x_coord_right[i]);
        sum_x += shape.x_coord_left[i] + shape.x_coord_right[i];
        sum_y += shape.y_coord_left[i] + shape.y_coord_right[i];
        sum_width += shape.x_coord_right[i] - shape.x_coord_left[i];
    }
    shape.box_l = box_l;
    shape.box_r = box_r;
    shape.centre_x = static_cast<unsigned int>(sum_x / (2ul * rows));
    shape.centre_y = static_cast<unsigned int>(sum_y / (2ul * rows));
    shape.width = static_cast<unsigned int>(sum_width / rows);
    return global ? LoopShare::Global : LoopShare::Local;
}

}  // namespace orva
