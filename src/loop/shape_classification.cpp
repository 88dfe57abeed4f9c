// Loop-shape classification from the object mask of one canonical image.
//
// Method: flank trace per row (columns 1..W-2, rows 1..H-2), closing runs along
// the first and last traced rows, rejection of rows with far outline points
// (outlier_detection on squared radii), linear resampling of the closed outline
// to N_FFT points, magnitudes of the real DFT of the squared radii divided by
// their sum, nearest prototype by Euclidean distance over FD_USED normalised
// magnitudes.
//
// Conventions: x the column, y the row, row 0 at the top; outline lists in the
// record are filled in place (left/right: one entry per traced row, top/bottom
// runs left to right). Centres are unsigned integer means.
// Degenerate input: fewer than 3 traced rows, fewer than MIN_OUTLINE_POINTS
// outline points, or an outline that loses every row (or collapses onto its
// centre) gives NO_OBJECT with classif 50. Returns 0.
#include "loop/shape_classification.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "toolkit/arrays.h"
#include "toolkit/fft.h"
#include "toolkit/outliers.h"

namespace orva {

namespace {

constexpr int NOT_CLASSIFIED = 50;
constexpr double START_DISTANCE = 999999999.9;

void set_no_object(SHAPE_PARAMS& shape) {
    shape.type = NO_OBJECT;
    shape.classif = NOT_CLASSIFIED;
}

void ensure_size(std::vector<unsigned int>& v, std::size_t n) {
    if (v.size() < n) v.resize(n, 0u);
}

// Left and right flank of every row 1..H-2 holding object pixels.
unsigned int trace_flanks(const IMAGE& im, std::span<const unsigned char> bptr,
                          SHAPE_PARAMS& shape) {
    const long W = im.width;
    const long H = im.height;
    unsigned int L = 0;
    for (long y = 1; y < H - 1; ++y) {
        const unsigned char* row = bptr.data() + y * W;
        long left = 1;
        while (left < W - 1 && row[left] == 0) ++left;
        if (left >= W - 1) continue;
        long right = W - 2;
        while (row[right] == 0) --right;
        shape.x_coord_left[L] = static_cast<unsigned int>(left);
        shape.y_coord_left[L] = static_cast<unsigned int>(y);
        shape.x_coord_right[L] = static_cast<unsigned int>(right);
        shape.y_coord_right[L] = static_cast<unsigned int>(y);
        ++L;
    }
    shape.num_coord_left = shape.num_coord_right = L;
    return L;
}

// Top and bottom runs: the first and the last traced row without its flank
// points, left to right.
void closing_runs(SHAPE_PARAMS& shape) {
    const unsigned int L = shape.num_coord_left;
    const unsigned int last = L - 1;
    shape.num_coord_bottom = 0;
    for (unsigned int x = shape.x_coord_left[last] + 1; x < shape.x_coord_right[last]; ++x) {
        shape.x_coord_bottom[shape.num_coord_bottom] = x;
        shape.y_coord_bottom[shape.num_coord_bottom] = shape.y_coord_left[last];
        ++shape.num_coord_bottom;
    }
    shape.num_coord_top = 0;
    for (unsigned int x = shape.x_coord_left[0] + 1; x < shape.x_coord_right[0]; ++x) {
        shape.x_coord_top[shape.num_coord_top] = x;
        shape.y_coord_top[shape.num_coord_top] = shape.y_coord_left[0];
        ++shape.num_coord_top;
    }
}

unsigned int outline_count(const SHAPE_PARAMS& shape) {
    return shape.num_coord_left + shape.num_coord_bottom + shape.num_coord_right +
           shape.num_coord_top;
}

// Mean of all outline points, unsigned integer division.
void outline_centre(const SHAPE_PARAMS& shape, unsigned int& xc, unsigned int& yc) {
    unsigned long sx = 0;
    unsigned long sy = 0;
    auto add = [&](const std::vector<unsigned int>& xs, const std::vector<unsigned int>& ys,
                   unsigned int n) {
        for (unsigned int i = 0; i < n; ++i) {
            sx += xs[i];
            sy += ys[i];
        }
    };
    add(shape.x_coord_left, shape.y_coord_left, shape.num_coord_left);
    add(shape.x_coord_right, shape.y_coord_right, shape.num_coord_right);
    add(shape.x_coord_bottom, shape.y_coord_bottom, shape.num_coord_bottom);
    add(shape.x_coord_top, shape.y_coord_top, shape.num_coord_top);
    const unsigned long n = outline_count(shape);
    xc = static_cast<unsigned int>(sx / n);
    yc = static_cast<unsigned int>(sy / n);
}

double squared_radius(double x, double y, unsigned int xc, unsigned int yc) {
    double dx = x - static_cast<double>(xc);
    double dy = y - static_cast<double>(yc);
    return dx * dx + dy * dy;
}

// Drops the traced rows with a flank point beyond max_r2 from (xc, yc) when
// the outline has outliers; rebuilds the runs and the centre. False when no
// row is left.
bool drop_far_rows(SHAPE_PARAMS& shape, const std::vector<int>& ox, const std::vector<int>& oy,
                   unsigned int& xc, unsigned int& yc) {
    const int total = static_cast<int>(shape.num_coord_total);
    std::vector<double> r2 = vector(total);
    std::vector<double> weights = vector(total);
    for (int i = 0; i < total; ++i) {
        r2[i] = squared_radius(ox[i], oy[i], xc, yc);
        weights[i] = 1.0;  // stays when all radii are equal
    }
    outlier_detection(total, r2, weights, nullptr);

    bool any_outlier = false;
    double max_r2 = 0.0;
    for (int i = 0; i < total; ++i) {
        if (weights[i] == 0.0)
            any_outlier = true;
        else if (r2[i] > max_r2)
            max_r2 = r2[i];
    }
    if (!any_outlier) return true;

    unsigned int kept = 0;
    for (unsigned int i = 0; i < shape.num_coord_left; ++i) {
        if (squared_radius(shape.x_coord_left[i], shape.y_coord_left[i], xc, yc) > max_r2 ||
            squared_radius(shape.x_coord_right[i], shape.y_coord_right[i], xc, yc) > max_r2)
            continue;
        shape.x_coord_left[kept] = shape.x_coord_left[i];
        shape.y_coord_left[kept] = shape.y_coord_left[i];
        shape.x_coord_right[kept] = shape.x_coord_right[i];
        shape.y_coord_right[kept] = shape.y_coord_right[i];
        ++kept;
    }
    shape.num_coord_left = shape.num_coord_right = kept;
    if (kept == 0) {
        shape.num_coord_top = shape.num_coord_bottom = shape.num_coord_total = 0;
        return false;
    }
    closing_runs(shape);
    shape.num_coord_total = outline_count(shape);
    outline_centre(shape, xc, yc);
    return true;
}

}  // namespace

unsigned int closed_outline(const SHAPE_PARAMS& shape, std::span<int> x, std::span<int> y) {
    unsigned int n = 0;
    auto put = [&](unsigned int px, unsigned int py) {
        x[n] = static_cast<int>(px);
        y[n] = static_cast<int>(py);
        ++n;
    };
    for (unsigned int i = 0; i < shape.num_coord_left; ++i)
        put(shape.x_coord_left[i], shape.y_coord_left[i]);
    for (unsigned int i = 0; i < shape.num_coord_bottom; ++i)
        put(shape.x_coord_bottom[i], shape.y_coord_bottom[i]);
    for (unsigned int i = shape.num_coord_right; i-- > 0;)
        put(shape.x_coord_right[i], shape.y_coord_right[i]);
    for (unsigned int i = shape.num_coord_top; i-- > 0;)
        put(shape.x_coord_top[i], shape.y_coord_top[i]);
    return n;
}

int nearest_prototype(std::span<const double, FD_USED> mag, int& classif) {
    int type = UNKNOWN;
    classif = NOT_CLASSIFIED;
    double best = START_DISTANCE;
    for (int k = 0; k < NUM_PROTOTYPES; ++k) {
        double dist = 0.0;
        for (int i = 0; i < FD_USED; ++i) {
            double d = mag[i] / denom[i] - features[k][i];
            dist += d * d;
        }
        if (dist < best) {  // ties keep the earlier prototype
            best = dist;
            classif = k;
            type = shapes[k];
        }
    }
    return type;
}

int shape_classifier(const IMAGE& im, std::span<const unsigned char> bptr, int /*loop_type*/,
                     SHAPE_PARAMS& shape) {
    shape.num_coord_left = shape.num_coord_right = 0;
    shape.num_coord_top = shape.num_coord_bottom = shape.num_coord_total = 0;
    if (im.width < 3 || im.height < 3 ||
        bptr.size() < static_cast<std::size_t>(im.width) * im.height) {
        set_no_object(shape);
        return 0;
    }
    ensure_size(shape.x_coord_left, im.height);
    ensure_size(shape.y_coord_left, im.height);
    ensure_size(shape.x_coord_right, im.height);
    ensure_size(shape.y_coord_right, im.height);
    ensure_size(shape.x_coord_top, im.width);
    ensure_size(shape.y_coord_top, im.width);
    ensure_size(shape.x_coord_bottom, im.width);
    ensure_size(shape.y_coord_bottom, im.width);

    if (trace_flanks(im, bptr, shape) < 3) {
        set_no_object(shape);
        return 0;
    }
    closing_runs(shape);
    unsigned int xc = 0;
    unsigned int yc = 0;
    outline_centre(shape, xc, yc);
    if (outline_count(shape) < MIN_OUTLINE_POINTS) {
        set_no_object(shape);
        return 0;
    }

    const long capacity = 2 * (static_cast<long>(im.width) + im.height);
    std::vector<int> ox = lvector(capacity);
    std::vector<int> oy = lvector(capacity);
    shape.num_coord_total = closed_outline(shape, ox, oy);
    if (!drop_far_rows(shape, ox, oy, xc, yc)) {
        set_no_object(shape);
        return 0;
    }
    const unsigned int total = closed_outline(shape, ox, oy);
    shape.num_coord_total = total;

    // Squared radius along the outline, resampled to N_FFT points.
    std::vector<double> a = vector(N_FFT);
    const double s = (total - 1) / static_cast<double>(N_FFT);
    for (int i = 0; i < N_FFT; ++i) {
        double f = i * s;
        int j = static_cast<int>(std::floor(f));
        double w = f - j;
        if (j >= static_cast<int>(total) - 1) {
            std::fprintf(stderr, "\nshape_classifier: idx < (int)shape->num_coord_total-1");
            set_no_object(shape);
            return 0;
        }
        double px = (1.0 - w) * ox[j] + w * ox[j + 1];
        double py = (1.0 - w) * oy[j] + w * oy[j + 1];
        a[i] = squared_radius(px, py, xc, yc);
    }

    std::vector<int> ip = ivector(N_FFT / 2);
    std::vector<double> table = vector(N_FFT / 2);
    ip[0] = 0;
    rdft(N_FFT, 1, a, ip, table);
    const double r0 = a[0];
    if (!(r0 > 0.0)) {  // every resampled point on the centre: no shape to describe
        set_no_object(shape);
        return 0;
    }
    double mag[FD_LEN + 1] = {};
    for (int k = 1; k <= FD_LEN; ++k)
        mag[k] = std::sqrt(a[2 * k] * a[2 * k] + a[2 * k + 1] * a[2 * k + 1]) / r0;

    shape.type =
        nearest_prototype(std::span<const double, FD_USED>(mag + 1, FD_USED), shape.classif);
    return 0;
}

}  // namespace orva
