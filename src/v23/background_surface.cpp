// Background of a cleaned image as a quadratic surface
//   z(x, y) = a0 x^2 + a1 x + a2 y^2 + a3 y + a4 x y + a5
// fitted by least squares through the singular value decomposition, with
// singular values below min(1e-5 * largest, 1e-5) discarded. Three uses: the
// emptiness test (fit through the whole sub-sampled image, then the spread of
// the residuals), the background fit outside the region of interest, and the
// flattening of the full-resolution image to one level.
//
// Conventions: x the column, y the row; the fit runs on sub-sampled pixels and
// get_surface_params converts a to full-resolution pixels. roi in edge-image
// pixels as in get_roi. Status: always 0.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "toolkit/arrays.h"
#include "toolkit/heap_sort.h"
#include "toolkit/svd.h"
#include "toolkit/vector_clones.h"
#include "v23/image_preparation.h"

namespace orva {

namespace {

using namespace preparation;

struct Samples {
    std::vector<double> x, y, z;
    void add(int col, int row, unsigned char v) {
        x.push_back(col);
        y.push_back(row);
        z.push_back(v);
    }
};

double surface(const double* a, double x, double y) {
    return a[0] * x * x + a[1] * x + a[2] * y * y + a[3] * y + a[4] * x * y + a[5];
}

// Least-squares surface through the samples; returns how many singular values
// were discarded.
int fit_surface(const Samples& s, double* a) {
    const int M = static_cast<int>(s.z.size());
    Matrix<double> u = matrix(M, NUM_PARAM);
    for (int i = 0; i < M; ++i) {
        const double x = s.x[i];
        const double y = s.y[i];
        double* row = u[i];
        row[0] = x * x;
        row[1] = x;
        row[2] = y * y;
        row[3] = y;
        row[4] = x * y;
        row[5] = 1.0;
    }
    std::vector<double> w = vector(NUM_PARAM);
    Matrix<double> v = matrix(NUM_PARAM, NUM_PARAM);
    singvaldec(u, M, NUM_PARAM, w, v);

    double smax = 0.0;
    for (double sv : w) smax = std::max(smax, sv);
    const double floor_value = std::min(TOL * smax, TOL);
    int discarded = 0;
    for (double& sv : w) {
        if (sv < floor_value) {
            sv = 0.0;
            ++discarded;
        }
    }
    std::vector<double> solution = vector(NUM_PARAM);
    backsubs(u, w, v, M, NUM_PARAM, s.z, solution);
    std::copy(solution.begin(), solution.end(), a);
    return discarded;
}

// Leaves the n smallest values (ascending) at the front of v and the n
// largest (ascending) at its back, as a full ascending sort (heap_sort_dd)
// leaves them: without NaN, values that sort alike are equal, and the
// magnitudes sorted here have no -0. With a NaN, or overlapping ends, v is
// sorted in full.
void sort_ends(std::vector<double>& v, long n) {
    const long count = static_cast<long>(v.size());
    if (2 * n > count || std::any_of(v.begin(), v.end(), [](double x) { return std::isnan(x); })) {
        heap_sort_dd(static_cast<unsigned long>(count), v);
        return;
    }
    std::nth_element(v.begin(), v.begin() + n, v.end());
    std::sort(v.begin(), v.begin() + n);
    std::nth_element(v.begin() + n, v.end() - n, v.end());
    std::sort(v.end() - n, v.end());
}

// img = floor(cptr - background + level), clamped to 0 .. 255, with the
// background a0 x^2 + a1 x + a2 y^2 + a3 y + a4 x y summed in that order. The
// terms of one column or one row are computed once, the same way.
ORVA_VECTOR_CLONES
void flatten(const unsigned char* cptr, unsigned char* img, int imx, int imy, const double* a,
             double level) {
    std::vector<double> column_terms(static_cast<std::size_t>(imx));  // a0 x^2 + a1 x
    std::vector<double> cross_factor(static_cast<std::size_t>(imx));  // a4 x
    for (int x = 0; x < imx; ++x) {
        const double xd = x;
        column_terms[x] = a[0] * xd * xd + a[1] * xd;
        cross_factor[x] = a[4] * xd;
    }
    for (int y = 0; y < imy; ++y) {
        const double yd = y;
        const double square_term = a[2] * yd * yd;
        const double linear_term = a[3] * yd;
        const unsigned char* __restrict in = cptr + static_cast<std::size_t>(y) * imx;
        unsigned char* __restrict out = img + static_cast<std::size_t>(y) * imx;
        const double* __restrict column = column_terms.data();
        const double* __restrict cross = cross_factor.data();
        for (int x = 0; x < imx; ++x) {
            const double background = column[x] + square_term + linear_term + cross[x] * yd;
            // floor, then clamped to 0 .. 255: the same as clamping first and
            // truncating, which vectorises.
            double v = in[x] - background + level;
            v = v < 0.0 ? 0.0 : v;
            v = 255.0 < v ? 255.0 : v;
            out[x] = static_cast<unsigned char>(static_cast<int>(v));
        }
    }
}

}  // namespace

int detect_emptyness(std::span<const unsigned char> sptr, const IMAGE& ims, int /*sub_samp*/,
                     int& empty_flag, int /*q*/, std::FILE* /*logfile*/) {
    const int w = static_cast<int>(ims.width);
    const int h = static_cast<int>(ims.height);
    Samples all;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) all.add(x, y, sptr[static_cast<std::size_t>(y) * w + x]);
    double a[NUM_PARAM] = {};
    fit_surface(all, a);

    const long count = static_cast<long>(all.z.size());
    std::vector<double> dabs = vector(count);
    for (long i = 0; i < count; ++i) dabs[i] = std::fabs(all.z[i] - surface(a, all.x[i], all.y[i]));
    // Mean of the largest against the mean of the smallest residuals; at
    // least one of each on tiny images.
    const long n = std::max(1L, static_cast<long>(std::floor(EMPTY_FRACTION * count)));
    sort_ends(dabs, n);
    double low = 0.0;
    double high = 0.0;
    for (long i = 0; i < n; ++i) {
        low += dabs[i];
        high += dabs[count - 1 - i];
    }
    const double contrast = high / n - low / n;
    empty_flag = contrast < EMPTY_CONTRAST ? 1 : 0;
    return 0;
}

int get_surface_params(std::span<const unsigned char> sptr, const IMAGE& ims, int sub_samp,
                       double* a, const int* roi, int /*q*/, std::FILE* /*logfile*/) {
    const int w = static_cast<int>(ims.width);
    const int h = static_cast<int>(ims.height);
    // roi lives in the edge image, two columns narrower than this one.
    const int last_column = w - 3;
    int c0 = roi[0];
    int c1 = roi[1];
    int r0 = roi[2];
    if (c1 - c0 > w / 2) {
        if (c0 == 0) {
            if (c1 >= last_column) {
                c0 = w / 4;
                c1 = 3 * w / 4;
            } else {
                c0 = c1 - w / 2;
            }
        } else if (c1 >= last_column) {
            c1 = c0 + w / 2;
        }
    }
    if (r0 == 0) r0 = 1;

    Samples outside;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (x < c0 || x > c1 || y < r0)
                outside.add(x, y, sptr[static_cast<std::size_t>(y) * w + x]);

    double fitted[NUM_PARAM] = {};
    const int discarded = fit_surface(outside, fitted);
    for (int k = 0; k < discarded; ++k)
        std::fprintf(stderr, "\n%s: Singular value! Something wrong!", "get_surface_params");

    const double s = sub_samp;
    a[0] = fitted[0] / (s * s);
    a[1] = fitted[1] / s;
    a[2] = fitted[2] / (s * s);
    a[3] = fitted[3] / s;
    a[4] = fitted[4] / (s * s);
    a[5] = fitted[5];
    return 0;
}

int background_compensation(std::span<const unsigned char> cptr, std::span<unsigned char> img1,
                            int imx, int imy, const int* roi, int sub_samp, const double* a,
                            int /*q*/, int shadow_flag, std::FILE* /*logfile*/) {
    // Reference level: the 2 x 2 pixels just outside the ROI's top-left corner.
    int c = (roi[0] - 1) * sub_samp;
    int r = (roi[2] - 1) * sub_samp;
    if (c <= sub_samp) c = 0;
    if (r <= sub_samp) r = 0;
    c = std::min(c, imx - 1);
    r = std::min(r, imy - 1);
    auto px = [&](int x, int y) {
        if (x < 0 || y < 0) return static_cast<int>(cptr[static_cast<std::size_t>(r) * imx + c]);
        return static_cast<int>(cptr[static_cast<std::size_t>(y) * imx + x]);
    };
    const double ref = 0.25 * (px(c, r) + px(c, r - 1) + px(c - 1, r) + px(c - 1, r - 1));

    flatten(cptr.data(), img1.data(), imx, imy, a, ref - a[5]);

    if (shadow_flag == 1) {
        const auto value = static_cast<unsigned char>(std::floor(ref + 0.5));
        const int rows = std::min(imy, SHADOW_AXIS_Y);
        const int cols = std::min(imx, SHADOW_AXIS_X);
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < cols; ++x)
                if (in_shadow(x, y)) img1[static_cast<std::size_t>(y) * imx + x] = value;
        }
    }
    return 0;
}

}  // namespace orva
