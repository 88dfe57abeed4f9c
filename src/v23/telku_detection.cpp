// One sub-sampling grid of the TELKU crystal detector.
//
// Method: the grid's sub-sampled copy is turned into a local-contrast map
// (second differences and Sobel-like sums over 3 x 3, bytes); per-row and
// per-column max/min profiles give bands of strong contrast and from them the
// object's row range [roi_top, roi_bottom] and column range [roi_left,
// roi_right]. Row thickness times row contrast ("stemval") finds where the loop
// ends and the stem and pin begin; the map below is cleared, the bright wire
// rim is eroded by the object thickness, and the rest is smoothed with a
// Gaussian whose radius follows the thickness. The two highest strict local
// maxima are the grid's candidates.
// Conventions: map pixel (x, y) is column x, row y; it belongs to sub-sampled
// pixel (x + 1, y + 1). Status: 0, or the code of fast_convolve_2D.
// Degenerate input: an image too small for a 3 x 3 map, or no contrast band in
// either direction, gives no maxima (-1) and box {0, 0, 0}.
#include "v23/telku_detection.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "toolkit/arrays.h"
#include "v23/telku_convolution.h"

namespace orva {
namespace {

constexpr double THICK_FAC = 0.66667;
constexpr double PINVAL_FAC = 0.75;
constexpr double STEMVAL_FAC = 0.35;
constexpr double LOOPVAL_FAC = 0.55;
constexpr int THICKNESS_1 = 4;
constexpr int THICKNESS_2 = 7;
constexpr int THICKNESS_3 = 10;
constexpr int THICKNESS_4 = 15;
constexpr int THICKNESS_5 = 22;
constexpr int MAX_RADIUS = 12;
constexpr int RADIUS_FULL_THICKNESS = 30;
constexpr double RADIUS_SLOPE = 0.3448275862068966;   // 10 / 29
constexpr double RADIUS_OFFSET = 10.344827586206897;  // 300 / 29

// The contrast map and what is found on it.
struct Map {
    int w = 0;  // W''
    int h = 0;  // H''
    std::vector<unsigned char> v;
    unsigned char& at(int x, int y) { return v[static_cast<std::size_t>(y) * w + x]; }
    unsigned char at(int x, int y) const { return v[static_cast<std::size_t>(y) * w + x]; }
    void clear(int x, int y) {
        if (x >= 0 && x < w && y >= 0 && y < h) at(x, y) = 0;
    }
};

struct Roi {
    int top = 0;
    int bottom = 1;
    int left = 0;
    int right = 1;
};

std::vector<PROPS> profiles(const Map& m, bool rows) {
    const int n = rows ? m.h : m.w;
    const int len = rows ? m.w : m.h;
    std::vector<PROPS> prop(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        unsigned char mx = 0;
        unsigned char mn = 255;
        for (int k = 0; k < len; ++k) {
            const unsigned char v = rows ? m.at(k, i) : m.at(i, k);
            mx = std::max(mx, v);
            mn = std::min(mn, v);
        }
        prop[i].max = mx;
        prop[i].min = mn;
        prop[i].devm = (mx - mn) * 0.5;
    }
    return prop;
}

double largest_devm(const std::vector<PROPS>& prop) {
    double best = 0.0;
    for (const PROPS& p : prop) best = std::max(best, p.devm);
    return best;
}

double mean_devm(const std::vector<PROPS>& prop, int from, int to) {
    double sum = 0.0;
    for (int i = from; i <= to; ++i) sum += prop[i].devm;
    return sum / (to - from + 1);
}

// Row range of the object from the kept row bands.
void row_range(const std::vector<PROPS>& pr, const std::array<OBJ, 3>& bands, int kept, double lo,
               Roi& roi) {
    const int h = static_cast<int>(pr.size());
    int bottom = kept == 2 ? bands[1].end : bands[0].end;
    int i = bands[0].start;
    while (i >= 0 && pr[i].devm > lo) --i;
    roi.top = std::min(i + 1, h - 1);
    i = bottom;
    while (i < h && pr[i].devm > lo) ++i;
    roi.bottom = i < h ? i : h - 1;
}

void column_range(const std::vector<PROPS>& pc, const OBJ& band, double lo, Roi& roi) {
    const int w = static_cast<int>(pc.size());
    int i = band.start;
    while (i >= 0 && pc[i].devm >= lo) --i;
    roi.left = std::min(i + 1, w - 1);
    i = band.end;
    while (i < w && pc[i].devm >= lo) ++i;
    roi.right = i == 0 ? 0 : i - 1;
}

// Per-row extent of the map above a threshold, inside the search range.
struct RowExtent {
    int x0 = 0;
    int x1 = 0;
    std::vector<int> start;
    std::vector<int> end;
    std::vector<int> thickness;
    std::vector<int> stemval;
};

RowExtent row_thickness(const Map& m, const std::vector<PROPS>& pr, const Roi& roi) {
    RowExtent e;
    const double thresh = THICK_FAC * mean_devm(pr, roi.top, roi.bottom);
    const int half = (roi.right - roi.left) / 2;
    e.x0 = std::max(0, roi.left - half);
    e.x1 = std::min(m.w - 1, roi.right + half);
    e.start.assign(m.h, 0);
    e.end.assign(m.h, 0);
    e.thickness.assign(m.h, 0);
    e.stemval.assign(m.h, 0);
    for (int y = 0; y < m.h; ++y) {
        int start = e.x0;
        if (roi.left != 0) {
            int x = e.x0;
            while (x <= e.x1 && m.at(x, y) <= thresh) ++x;
            start = std::min(x, m.w - 1);
        }
        int end = e.x1;
        if (roi.right != m.w - 1) {
            int x = e.x1;
            while (x >= e.x0 && m.at(x, y) <= thresh) --x;
            end = std::max(x, 0);
        }
        e.start[y] = start;
        e.end[y] = end;
        e.thickness[y] = std::max(0, end - start);
        e.stemval[y] = static_cast<int>(std::floor(e.thickness[y] * pr[y].devm));
    }
    return e;
}

double mean_stemval_inside(const std::vector<int>& stemval, const Roi& roi) {
    const int count = roi.bottom - roi.top - 1;
    if (count <= 0) return 0.0;
    double sum = 0.0;
    for (int y = roi.top + 1; y < roi.bottom; ++y) sum += stemval[y];
    return sum / count;
}

// Scanning up from the bottom: pin (thick), stem (thin), then the loop again.
// Returns true when the loop row was found (roi.bottom then cut there).
bool cut_pin_and_stem(const std::vector<int>& stemval, double stemval_mean, Roi& roi) {
    const int pinval_cut = static_cast<int>(PINVAL_FAC * stemval_mean);
    const int stemval_cut = static_cast<int>(STEMVAL_FAC * stemval_mean);
    const int loopval_cut = static_cast<int>(LOOPVAL_FAC * stemval_mean);
    int phase = 0;
    for (int y = roi.bottom - 1; y > roi.top; --y) {
        if (phase == 0) {
            if (stemval[y] < pinval_cut) phase = 1;
        } else if (phase == 1) {
            if (stemval[y] < stemval_cut) phase = 2;
        } else if (stemval[y] > loopval_cut) {
            roi.bottom = std::min(roi.bottom, y);
            return true;
        }
    }
    return false;
}

// No loop row above a stem: cut at the sharpest drop of the running mean of
// stemval (seen from the bottom), then at the top of the part above the mean.
void cut_at_largest_step(const std::vector<int>& stemval, double stemval_mean, int h, Roi& roi) {
    std::vector<int> running(h, 0);
    long sum = 0;
    for (int y = h - 1; y >= 0; --y) {
        sum += stemval[y];
        running[y] = static_cast<int>(sum / (h - y));
    }
    const int width = roi.right - roi.left;
    int best = -1;
    int best_step = 0;
    if (width != 0) {
        for (int y = roi.bottom - 1; y > roi.top; --y) {
            const int step = running[y + 1] - running[y];
            if (step * 10 / width > 3 && (best < 0 || step > best_step)) {
                best = y;
                best_step = step;
            }
        }
    }
    if (best < 0) return;
    if (best - roi.top > 5) roi.bottom = best;

    double total = stemval_mean;
    for (int y = roi.top + 1; y < roi.bottom; ++y) total += stemval[y];
    const double mean = total / (roi.bottom - roi.top);
    int end_of_stem = roi.bottom;
    bool below_seen = false;
    for (int y = roi.bottom; y >= roi.top; --y) {
        if (stemval[y] < mean)
            below_seen = true;
        else if (below_seen && stemval[y] > mean)
            end_of_stem = y;
    }
    roi.bottom = std::min(roi.bottom, end_of_stem);
    if (roi.top == roi.bottom) {
        if (roi.bottom < h - 1)
            ++roi.bottom;
        else
            --roi.top;
    }
}

// Thin rows below the object's thick part are stem: move the bottom up to them.
void cut_stem_rows(const std::vector<int>& thickness, int h, Roi& roi) {
    if (roi.bottom <= roi.top) return;
    const auto first = thickness.begin() + roi.top + 1;
    const auto last = thickness.begin() + roi.bottom + 1;
    const int thickness_mean =
        (*std::max_element(first, last) - *std::min_element(first, last)) / 2;
    const int lower_third = h - (h - roi.top) / 3;
    int ystem = -1;
    for (int y = h - 1; y > roi.top; --y) {
        if (thickness[y] <= thickness_mean)
            ystem = y;
        else if (y < lower_third)
            break;
    }
    if (ystem < 0) return;
    if (ystem - roi.top > 20) ystem -= (ystem - roi.top) / 8;
    roi.bottom = std::min(roi.bottom, ystem);
}

// Rounded mean of the positive row thicknesses of the object (or, when it has
// none, of up to five positive rows from its bottom down), at least 1.
int mean_row_thickness(const std::vector<int>& thickness, int h, const Roi& roi) {
    long sum = 0;
    int count = 0;
    for (int y = roi.top; y <= roi.bottom; ++y)
        if (thickness[y] > 0) {
            sum += thickness[y];
            ++count;
        }
    for (int y = roi.bottom; count == 0 && y < h; ++y) {
        if (thickness[y] <= 0) continue;
        for (int k = y; k < h && count < 5; ++k)
            if (thickness[k] > 0) {
                sum += thickness[k];
                ++count;
            }
    }
    if (count == 0) return 1;
    return std::max(1, static_cast<int>(std::floor(static_cast<double>(sum) / count + 0.5)));
}

struct ColumnExtent {
    std::vector<int> start;
    std::vector<int> end;
};

ColumnExtent column_thickness(const Map& copy, const std::vector<PROPS>& pc, const Roi& roi,
                              int& mean_thickness) {
    ColumnExtent e;
    e.start.assign(copy.w, 0);
    e.end.assign(copy.w, 0);
    const double thresh = THICK_FAC * mean_devm(pc, roi.left, roi.right);
    for (int x = 0; x < copy.w; ++x) {
        int y = 0;
        while (y < copy.h && copy.at(x, y) <= thresh) ++y;
        e.start[x] = y;
        y = copy.h - 1;
        while (y >= 0 && copy.at(x, y) <= thresh) --y;
        e.end[x] = std::max(y, 0);
    }
    long sum = 0;
    int count = 0;
    for (int x = roi.left + 1; x < roi.right; ++x) {
        const int t = e.end[x] - e.start[x];
        if (t > 0) {
            sum += t;
            ++count;
        }
    }
    mean_thickness = count > 0 ? std::max(1, static_cast<int>(sum / count)) : 1;
    return e;
}

// Clears the bright rim: depth pixels inward from each row end and below each
// column start (one at each column end).
void erode_wire(Map& m, const RowExtent& rows, const ColumnExtent& cols, int t) {
    if (t <= THICKNESS_1) return;
    const int depth =
        1 + (t > THICKNESS_2) + (t > THICKNESS_3) + (t > THICKNESS_4) + (t > THICKNESS_5);
    for (int y = 0; y < m.h; ++y)
        for (int k = 0; k < depth; ++k) {
            m.clear(rows.start[y] + k, y);
            m.clear(rows.end[y] - k, y);
        }
    for (int x = 0; x < m.w; ++x) {
        m.clear(x, cols.start[x]);
        m.clear(x, cols.end[x]);
        for (int k = 1; k < depth; ++k) m.clear(x, cols.start[x] + k);
    }
}

int object_area(const Map& m, const std::vector<PROPS>& pr, const Roi& roi, int x0, int x1) {
    const double thresh = THICK_FAC * mean_devm(pr, roi.top, roi.bottom);
    int area = 0;
    for (int y = 0; y < m.h; ++y) {
        int first = -1;
        int last = -1;
        for (int x = x0; x <= x1; ++x)
            if (m.at(x, y) > thresh) {
                if (first < 0) first = x;
                last = x;
            }
        if (first >= 0 && last - first > 0) area += last - first;
    }
    return area;
}

int smoothing_radius(int t) {
    if (t >= RADIUS_FULL_THICKNESS) return MAX_RADIUS;
    return static_cast<int>(MAX_RADIUS + t * RADIUS_SLOPE - RADIUS_OFFSET);
}

// The two highest strict 8-neighbour maxima of the smoothed map.
void two_maxima(const Matrix<double>& s, int w, int h, int& x1, int& y1, int& x2, int& y2) {
    double best = 0.0;
    double second = 0.0;
    for (int y = 1; y <= h - 2; ++y)
        for (int x = 1; x <= w - 2; ++x) {
            const double v = s[y][x];
            bool is_max = true;
            for (int dy = -1; dy <= 1 && is_max; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if ((dx != 0 || dy != 0) && !(v > s[y + dy][x + dx])) {
                        is_max = false;
                        break;
                    }
            if (!is_max) continue;
            if (v > best) {
                second = best;
                x2 = x1;
                y2 = y1;
                best = v;
                x1 = x;
                y1 = y;
            } else if (v > second) {
                second = v;
                x2 = x;
                y2 = y;
            }
        }
}

}  // namespace

std::vector<unsigned char> telku_contrast_map(std::span<const unsigned char> img, int w, int h) {
    if (w < 3 || h < 3 || img.size() < static_cast<std::size_t>(w) * h) return {};
    std::vector<unsigned char> map(static_cast<std::size_t>(w - 2) * (h - 2), 0);
    auto p = [&](int x, int y) {
        return static_cast<int>(img[static_cast<std::size_t>(y) * w + x]);
    };
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
            const int c = p(x, y);
            const int u = p(x, y - 1);
            const int d = p(x, y + 1);
            const int l = p(x - 1, y);
            const int r = p(x + 1, y);
            const int ul = p(x - 1, y - 1);
            const int ur = p(x + 1, y - 1);
            const int dl = p(x - 1, y + 1);
            const int dr = p(x + 1, y + 1);
            const int a = 2 * c - (u + d);
            const int b = 2 * c - (l + r);
            const int e = 2 * c - (ul + dr);
            const int f = 2 * c - (dl + ur);
            const int g = (ul + l + dl) - (ur + r + dr);
            const int hh = (ul + u + ur) - (dl + d + dr);
            const int value = (std::abs(std::abs(a) - std::abs(b)) +
                               std::abs(std::abs(e) - std::abs(f)) + std::abs(g) + std::abs(hh)) /
                              4;
            map[static_cast<std::size_t>(y - 1) * (w - 2) + (x - 1)] =
                static_cast<unsigned char>(std::min(value, 255));
        }
    return map;
}

int telku_bands(std::span<const PROPS> prop, double hi, bool columns, std::array<OBJ, 3>& bands) {
    const int n = static_cast<int>(prop.size());
    int kept = 0;
    auto keep = [&](const OBJ& band) {
        if (kept == 0) {
            bands[0] = band;
            bands[0].tflag = 1;
            kept = 1;
        } else if (columns) {
            if (band.size > bands[0].size) bands[0] = band;
        } else if (kept == 1) {
            if ((!bands[0].bflag && !band.bflag) || bands[0].size < 2) {
                if (band.size > bands[0].size) bands[0] = band;
            } else {
                bands[1] = band;
                kept = 2;
            }
        } else if (band.bflag || band.size > bands[1].size) {
            bands[1] = band;
        }
    };
    OBJ cur;
    bool inside = false;
    for (int i = 0; i < n; ++i) {
        if (!inside) {
            if (!(prop[i].devm > hi)) continue;
            cur = OBJ{};
            cur.start = i;
            cur.bflag = i == 0 ? 1 : 0;
            cur.tflag = 1;
            inside = true;
            if (i < n - 1) continue;
        } else if (!(prop[i].devm < hi) && i < n - 1) {
            continue;
        }
        // The band ends here: at a weaker line or at the last line.
        cur.end = i;
        if (i == n - 1) cur.bflag = 1;
        cur.size = cur.end - cur.start;
        inside = false;
        keep(cur);
    }
    return kept;
}

int detection(const IMAGE& im, std::span<const unsigned char> bptr, int sub_samp, int xoff,
              int yoff, std::array<int, 3>& box, int& x_coor, int& y_coor, int& x_coor2,
              int& y_coor2, std::FILE*) {
    x_coor = y_coor = x_coor2 = y_coor2 = -1;
    box = {0, 0, 0};
    const int W = static_cast<int>(im.width);
    const int H = static_cast<int>(im.height);
    const int s = sub_samp;
    if (s < 1 || W < 1 || H < 1 || xoff < 0 || yoff < 0 ||
        bptr.size() < static_cast<std::size_t>(W) * H)
        return 0;

    // 1. Sub-sample on this grid.
    int ws = W / s;
    int hs = H / s;
    while (ws > 0 && xoff + (ws - 1) * s >= W) --ws;
    while (hs > 0 && yoff + (hs - 1) * s >= H) --hs;
    if (ws < 5 || hs < 5) return 0;
    std::vector<unsigned char> sub(static_cast<std::size_t>(ws) * hs);
    for (int y = 0; y < hs; ++y)
        for (int x = 0; x < ws; ++x)
            sub[static_cast<std::size_t>(y) * ws + x] =
                bptr[static_cast<std::size_t>(yoff + y * s) * W + xoff + x * s];

    // 2.-3. Contrast map and its profiles.
    Map map;
    map.w = ws - 2;
    map.h = hs - 2;
    map.v = telku_contrast_map(sub, ws, hs);
    const std::vector<PROPS> pr = profiles(map, true);
    const std::vector<PROPS> pc = profiles(map, false);

    // 4.-6. Bands and the object's extent.
    const double row_dev = largest_devm(pr);
    const double col_dev = largest_devm(pc);
    std::array<OBJ, 3> rbands{};
    std::array<OBJ, 3> cbands{};
    const int rkept = telku_bands(pr, THRESH_HI_FAC * row_dev, false, rbands);
    const int ckept = telku_bands(pc, THRESH_HI_FAC * col_dev, true, cbands);
    if (rkept == 0 && ckept == 0) return 0;
    Roi roi;
    if (rkept > 0) row_range(pr, rbands, rkept, THRESH_LO_FAC * row_dev, roi);
    if (ckept > 0) column_range(pc, cbands[0], THRESH_LO_FAC * col_dev, roi);
    const Map copy = map;

    // 7.-10. Thickness per row, pin and stem cut.
    const RowExtent rows = row_thickness(map, pr, roi);
    double stemval_mean = mean_stemval_inside(rows.stemval, roi);
    if (!cut_pin_and_stem(rows.stemval, stemval_mean, roi))
        cut_at_largest_step(rows.stemval, stemval_mean, map.h, roi);
    cut_stem_rows(rows.thickness, map.h, roi);
    for (int y = roi.bottom + 1; y < map.h; ++y)
        for (int x = 0; x < map.w; ++x) map.at(x, y) = 0;

    // 11.-13. Thickness, rim erosion and area.
    box[0] = mean_row_thickness(rows.thickness, map.h, roi);
    const ColumnExtent cols = column_thickness(copy, pc, roi, box[1]);
    const int t = std::min(box[0], box[1]);
    erode_wire(map, rows, cols, t);
    box[2] = object_area(map, pr, roi, rows.x0, rows.x1);

    // 14. Smoothing (last row and column left at 0).
    Matrix<double> smooth = matrix(map.h, map.w);
    for (int y = 0; y < map.h - 1; ++y)
        for (int x = 0; x < map.w - 1; ++x) smooth[y][x] = map.at(x, y);
    const int size[2] = {map.w, map.h};
    const int err = fast_convolve_2D(smooth.flat(), 2, size, smoothing_radius(t), 0);
    if (err != 0) return err;

    // 15. The two highest maxima.
    two_maxima(smooth, map.w, map.h, x_coor, y_coor, x_coor2, y_coor2);
    return 0;
}

}  // namespace orva
