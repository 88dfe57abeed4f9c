// Region of interest of the object in a cleaned image: sub-sample to about 120
// pixels along the shorter side, build an edge image from second differences
// and side sums of the 3 x 3 neighbourhood, and find the band of rows and the
// band of columns whose edge contrast (half the max - min spread of the
// profile) is high.
//
// Conventions: the edge image drops the one-pixel frame of the sub-sampled
// image, so edge pixel (x, y) belongs to sub-sampled pixel (x + 1, y + 1);
// roi = {left, right, top, bottom} in edge-image pixels. A run of a profile
// starts at an entry above the high threshold and ends at the first entry
// below it (that entry's index is its end) or at the last entry. Without any
// run the rows give top 0, bottom 1 and the columns left 0, right 1.
// Status: always 0.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "toolkit/arrays.h"
#include "v23/image_preparation.h"

namespace orva {

namespace {

using preparation::SUBSAMPLE_SIDE;

constexpr double THRESH_HI_FAC = 0.3;   // runs of the region search
constexpr double THRESH_LO_FAC = 0.05;  // extension of a run to the region

// Profile of one row or column of the edge image.
struct PROPS {
    unsigned char max = 0;
    unsigned char min = 0;
    double devm = 0.0;  // (max - min) * 0.5
};

// A run of rows or columns whose devm exceeds the high threshold.
struct OBJ {
    int start = 0;
    int end = 0;
    int size = 0;   // end - start
    int bflag = 0;  // the run touches the first or last row (column)
    int tflag = 0;  // the run has been taken as the first or second object
};

PROPS profile(std::span<const unsigned char> values, std::size_t first, std::size_t count,
              std::size_t stride) {
    PROPS p;
    p.max = 0;
    p.min = 255;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char v = values[first + i * stride];
        p.max = std::max(p.max, v);
        p.min = std::min(p.min, v);
    }
    p.devm = (p.max - p.min) * 0.5;
    return p;
}

// Runs of devm above hi, in order of their start.
std::vector<OBJ> high_runs(const std::vector<double>& devm, double hi) {
    std::vector<OBJ> runs;
    const int n = static_cast<int>(devm.size());
    bool inside = false;
    OBJ run;
    for (int i = 0; i < n; ++i) {
        const bool last = i == n - 1;
        if (!inside) {
            if (!(devm[i] > hi)) continue;
            inside = true;
            run.start = i;
            if (!last) continue;
        } else if (!(devm[i] < hi) && !last) {
            continue;
        }
        run.end = i;
        run.size = run.end - run.start;
        run.bflag = (run.start == 0 || run.end == n - 1) ? 1 : 0;
        runs.push_back(run);
        inside = false;
    }
    return runs;
}

double largest(const std::vector<double>& devm) {
    double m = 0.0;
    for (double d : devm) m = std::max(m, d);
    return m;
}

// Rows: the object band and where its contrast fades out.
void row_extent(const std::vector<double>& devm, int& top, int& bottom) {
    const int n = static_cast<int>(devm.size());
    const double top_devm = largest(devm);
    const double hi = THRESH_HI_FAC * top_devm;
    const double lo = THRESH_LO_FAC * top_devm;

    OBJ obj[2];
    int held = 0;
    for (const OBJ& run : high_runs(devm, hi)) {
        if (held == 0) {
            obj[0] = run;
            obj[0].tflag = 1;
            held = 1;
        } else if (held == 1) {
            if ((!run.bflag && !obj[0].bflag) || obj[0].size < 2) {
                if (run.size > obj[0].size) obj[0] = run;
                obj[0].tflag = 1;
            } else {
                obj[1] = run;
                obj[1].tflag = 1;
                held = 2;
            }
        } else if (run.bflag || run.size > obj[1].size) {
            obj[1] = run;
            obj[1].tflag = 1;
        }
    }
    if (held == 0) {
        top = 0;
        bottom = 1;
        return;
    }
    bottom = held == 2 ? obj[1].end : obj[0].end;
    int r = obj[0].start - 1;
    while (r >= 0 && devm[r] > lo) --r;
    top = std::min(r + 1, n - 1);
    while (bottom < n - 1 && devm[bottom] > lo) ++bottom;
}

// Columns: later runs join the first one when the object reaches the top
// edge (a loop seen from the side), else the longest run wins.
void column_extent(const std::vector<double>& devm, int top, int& left, int& right) {
    const int n = static_cast<int>(devm.size());
    const double top_devm = largest(devm);
    const double hi = THRESH_HI_FAC * top_devm;
    const double lo = THRESH_LO_FAC * top_devm;

    OBJ obj;
    bool held = false;
    for (const OBJ& run : high_runs(devm, hi)) {
        if (!held) {
            obj = run;
            held = true;
        } else if (top == 0) {
            obj.end = run.end;
            obj.size = obj.end - obj.start;
        } else if (run.size > obj.size) {
            obj = run;
        }
    }
    if (!held) {
        left = 0;
        right = 1;
        return;
    }
    int c = obj.start - 1;
    while (c >= 0 && !(devm[c] < lo)) --c;
    left = std::min(c + 1, n - 1);
    c = obj.end;
    while (c < n && !(devm[c] < lo)) ++c;
    right = std::max(c - 1, 0);
}

}  // namespace

int sub_sampling_factor(unsigned int width, unsigned int height) {
    const unsigned int shorter = std::min(width, height);
    const int s = static_cast<int>(std::floor(shorter / static_cast<double>(SUBSAMPLE_SIDE) + 0.5));
    return std::max(s, 1);
}

ByteBuffer edge_image(std::span<const unsigned char> sptr, const IMAGE& ims, IMAGE& img) {
    const int w = static_cast<int>(ims.width);
    const int h = static_cast<int>(ims.height);
    img.width = ims.width - 2;
    img.height = ims.height - 2;
    img.size = static_cast<unsigned long>(img.width) * img.height;
    ByteBuffer gptr = ucvector(static_cast<long>(img.size));
    auto s = [&](int x, int y) {
        return static_cast<int>(sptr[static_cast<std::size_t>(y) * w + x]);
    };
    for (int y = 1; y < h - 1; ++y) {
        for (int x = 1; x < w - 1; ++x) {
            const int c2 = 2 * s(x, y);
            const int n = s(x, y - 1), so = s(x, y + 1), we = s(x - 1, y), e = s(x + 1, y);
            const int nw = s(x - 1, y - 1), ne = s(x + 1, y - 1);
            const int sw = s(x - 1, y + 1), se = s(x + 1, y + 1);
            const int d1 = std::abs(c2 - (n + so)) - std::abs(c2 - (we + e));
            const int d2 = std::abs(c2 - (nw + se)) - std::abs(c2 - (sw + ne));
            const int d3 = (nw + we + sw) - (ne + e + se);
            const int d4 = (nw + n + ne) - (sw + so + se);
            const int value = (std::abs(d1) + std::abs(d2) + std::abs(d3) + std::abs(d4)) / 4;
            gptr[static_cast<std::size_t>(y - 1) * img.width + (x - 1)] =
                static_cast<unsigned char>(std::min(value, 255));
        }
    }
    return gptr;
}

int get_roi(std::span<const unsigned char> bptr, const IMAGE& im, ByteBuffer& sptr2, IMAGE& ims,
            ByteBuffer& gptr2, IMAGE& img, int& sub_samp2, int* roi, int /*q*/,
            std::FILE* /*logfile*/) {
    const int sub_samp = sub_sampling_factor(im.width, im.height);
    ims.width = im.width / sub_samp;
    ims.height = im.height / sub_samp;
    ims.size = static_cast<unsigned long>(ims.width) * ims.height;
    ByteBuffer sptr = ucvector(static_cast<long>(ims.size));
    for (unsigned int y = 0; y < ims.height; ++y)
        for (unsigned int x = 0; x < ims.width; ++x)
            sptr[static_cast<std::size_t>(y) * ims.width + x] =
                bptr[static_cast<std::size_t>(y) * sub_samp * im.width +
                     static_cast<std::size_t>(x) * sub_samp];

    ByteBuffer gptr = edge_image(sptr, ims, img);
    std::vector<double> rows(img.height);
    for (unsigned int y = 0; y < img.height; ++y)
        rows[y] = profile(gptr, static_cast<std::size_t>(y) * img.width, img.width, 1).devm;
    std::vector<double> cols(img.width);
    for (unsigned int x = 0; x < img.width; ++x)
        cols[x] = profile(gptr, x, img.height, img.width).devm;

    row_extent(rows, roi[2], roi[3]);
    column_extent(cols, roi[2], roi[0], roi[1]);

    sptr2 = std::move(sptr);
    gptr2 = std::move(gptr);
    sub_samp2 = sub_samp;
    return 0;
}

}  // namespace orva
