// Masks and objects of the VIRPA detector: thresholding of the local standard
// deviation into a 0/255 mask, keeping the largest labelled object, centroid.
//
// Conventions: pixel (column c, row r) is pixel[r][c]; an offset Point holds
// the row in x and the column in y; a centroid Point holds the column in x and
// the row in y, multiplied by the zoom factor.
// Labelling: a positive pixel with a positive 8-neighbour marks itself and
// those neighbours (-1); a positive pixel without one is a seed and takes the
// next label counting down from 255 (at most 255 labels, later seeds stay
// unlabelled). Labels then spread over marked neighbours until nothing
// changes; the label covering most pixels (lowest on ties) is kept.
// Degenerate input: a mask without object stays (or becomes) empty and its
// centroid is (0, 0).
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "toolkit/vector_clones.h"
#include "v23/virpa_image.h"

namespace orva {
namespace {

constexpr double MASK_VALUE = 255.0;
constexpr double START_THRESHOLD = 74.0;
constexpr double THRESHOLD_DECAY = 0.9;
constexpr int THRESHOLD_TRIES = 5;
constexpr int MAX_LABEL = 255;
constexpr double CIRCLE_FACTOR = 6.28;
constexpr double MARKED = -1.0;

// out[c] = 255 where src[c] >= t, else 0, for c < n; returns how many are 255.
ORVA_VECTOR_CLONES
int threshold_row(const double* __restrict src, double* __restrict out, int n, double t) {
    int count = 0;
    for (int c = 0; c < n; ++c) {
        const bool set = src[c] >= t;
        out[c] = set ? MASK_VALUE : 0.0;
        count += set;
    }
    return count;
}

}  // namespace

int Image::getactualimage(Image& dst, const Point& off, double, double) const {
    // Window columns whose source column lies inside this map; the rest read 0.
    const int inside_from = std::clamp(-off.y, 0, dst.mx);
    const int inside_to = std::clamp(mx - off.y, inside_from, dst.mx);
    double t = START_THRESHOLD;
    int count = 0;
    for (int tries = 0; tries < THRESHOLD_TRIES; ++tries) {
        count = 0;
        const bool zero_set = 0.0 >= t;
        for (int r = 0; r < dst.my; ++r) {
            const int rr = off.x + r;
            double* out = dst.pixel[r];
            const bool row_inside = rr >= 0 && rr < my;
            const int from = row_inside ? inside_from : dst.mx;
            const int to = row_inside ? inside_to : dst.mx;
            for (int c = 0; c < from; ++c) out[c] = zero_set ? MASK_VALUE : 0.0;
            count += zero_set ? from : 0;
            if (to > from)
                count += threshold_row(pixel[rr] + off.y + from, out + from, to - from, t);
            for (int c = to; c < dst.mx; ++c) out[c] = zero_set ? MASK_VALUE : 0.0;
            count += zero_set ? dst.mx - to : 0;
        }
        if (count != 0) break;
        t *= THRESHOLD_DECAY;
    }
    return count;
}

double Image::selectLargeObject(int loop_cnt) {
    long count = 0;
    for (double v : pixel.flat()) count += v == MASK_VALUE;
    double ratio = 1.0;
    if (count > 0) {
        const double rounds = std::round(count / CIRCLE_FACTOR);
        if (rounds > 0) ratio = count / rounds;
    }
    if (!(count > 0 || loop_cnt > 9) || mx < 1 || my < 1) return ratio;

    for (int c = 0; c < mx; ++c) pixel[0][c] = pixel[my - 1][c] = 0.0;
    for (int r = 0; r < my; ++r) pixel[r][0] = pixel[r][mx - 1] = 0.0;

    std::vector<int> label(static_cast<std::size_t>(mx) * my, 0);
    auto lab = [&](int r, int c) -> int& { return label[static_cast<std::size_t>(r) * mx + c]; };

    // Seeds.
    int next = MAX_LABEL;
    for (int r = 1; r < my - 1; ++r)
        for (int c = 1; c < mx - 1; ++c) {
            if (!(pixel[r][c] > 0)) continue;
            bool neighbour = false;
            for (int dr = -1; dr <= 1; ++dr)
                for (int dc = -1; dc <= 1; ++dc)
                    if ((dr || dc) && pixel[r + dr][c + dc] > 0) {
                        pixel[r + dr][c + dc] = MARKED;
                        neighbour = true;
                    }
            if (neighbour)
                pixel[r][c] = MARKED;
            else if (next >= 1)
                lab(r, c) = next--;
        }

    // Spread the labels over the marked pixels.
    bool changed = true;
    while (changed) {
        changed = false;
        for (int r = 1; r < my - 1; ++r)
            for (int c = 1; c < mx - 1; ++c) {
                if (lab(r, c) <= 0) continue;
                int largest = lab(r, c);
                for (int dr = -1; dr <= 1; ++dr)
                    for (int dc = -1; dc <= 1; ++dc)
                        largest = std::max(largest, lab(r + dr, c + dc));
                if (largest != lab(r, c)) {
                    lab(r, c) = largest;
                    changed = true;
                }
                for (int dr = -1; dr <= 1; ++dr)
                    for (int dc = -1; dc <= 1; ++dc)
                        if (pixel[r + dr][c + dc] == MARKED) {
                            pixel[r + dr][c + dc] = 0.0;
                            lab(r + dr, c + dc) = largest;
                            changed = true;
                        }
            }
    }

    std::array<long, MAX_LABEL + 1> cover{};
    for (int v : label)
        if (v >= 1 && v <= MAX_LABEL) ++cover[v];
    int kept = 0;
    for (int v = 1; v <= MAX_LABEL; ++v)
        if (cover[v] > cover[kept]) kept = v;  // cover[0] stays 0
    for (int r = 0; r < my; ++r)
        for (int c = 0; c < mx; ++c) pixel[r][c] = kept > 0 && lab(r, c) == kept ? kept : 0.0;
    return ratio;
}

void Image::centroid(const Image& img, int f, Point& p) {
    long sum_c = 0;
    long sum_r = 0;
    long count = 0;
    for (int r = 0; r < img.my; ++r)
        for (int c = 0; c < img.mx; ++c)
            if (static_cast<int>(img.pixel[r][c]) != 0) {
                sum_c += c;
                sum_r += r;
                ++count;
            }
    p.x = static_cast<int>(sum_c / (count + 0.0001)) * f;
    p.y = static_cast<int>(sum_r / (count + 0.0001)) * f;
}

}  // namespace orva
