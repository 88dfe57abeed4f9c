// Image, Complex and Point of the VIRPA/DEXLA detectors: construction, copies,
// zoom, squares, the disc kernel, smooth periodic padding, spectra, local
// standard deviation, quadrant shift and the contrast stretch.
//
// Conventions: pixel (column c, row r) is pixel[r][c]; matrices are zero-filled
// on construction; the FFT is the radix-2 transform of telku_convolution (dir 1
// forward unscaled, dir -1 inverse divided by the length), columns before rows.
// Degenerate input: operations on empty images do nothing; a flat image comes
// out of the contrast stretch as all 0.
#include "v23/virpa_image.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "toolkit/vector_clones.h"
#include "v23/telku_convolution.h"

namespace orva {
namespace {

constexpr double BALL_PI = 3.14;
constexpr int MIN_MARGIN = 16;  // smallest left margin of the ramp
constexpr int RIGHT_MARGIN = 17;

Matrix<double> pixels(int mx, int my) {
    if (mx < 1 || my < 1) return Matrix<double>();
    return matrix(my, mx);
}

// Ramp value across the periodic border: from `near` at the image part down to
// the mean of both ends at the outer edge; `pos` counts from that edge.
double ramp(double near, double far, int pos, int denominator) {
    return (far + near) / 2 + (near - far) * pos / denominator;
}

// (cr, ci) = (ar, ai) * (br, bi), element by element, into storage of its own.
ORVA_VECTOR_CLONES
void multiply_row(const double* __restrict ar, const double* __restrict ai,
                  const double* __restrict br, const double* __restrict bi, double* __restrict cr,
                  double* __restrict ci, int m) {
    for (int c = 0; c < m; ++c) {
        cr[c] = ar[c] * br[c] - ai[c] * bi[c];
        ci[c] = ar[c] * bi[c] + ai[c] * br[c];
    }
}

}  // namespace

Complex::Complex(int n) : n(n), Real(matrix(n, n)), Img(matrix(n, n)) {}

void Complex::FFT(int dir, int n, std::span<double> x, std::span<double> y) {
    fft_1D(dir, n, x, y);
}

void Complex::FFT_2d(const Image& im, int nx, int ny) {
    if (im.mx < nx || im.my < ny) return;
    fft_2D(im.pixel, Real, Img, nx, ny);
}

void Complex::FFT_2dInv(int nx, int ny) {
    ffti_2D(Real, Img, nx, ny);
}

void Complex::multiplication(const Complex& a, const Complex& b, int size) {
    const int m = std::min({size, n, a.n, b.n});
    const bool apart = this != &a && this != &b;
    for (int r = 0; r < m; ++r) {
        if (apart) {
            multiply_row(a.Real[r], a.Img[r], b.Real[r], b.Img[r], Real[r], Img[r], m);
            continue;
        }
        for (int c = 0; c < m; ++c) {
            const double ar = a.Real[r][c];
            const double ai = a.Img[r][c];
            const double br = b.Real[r][c];
            const double bi = b.Img[r][c];
            Real[r][c] = ar * br - ai * bi;
            Img[r][c] = ar * bi + ai * br;
        }
    }
}

Image::Image(int mx, int my) : mx(std::max(mx, 0)), my(std::max(my, 0)), pixel(pixels(mx, my)) {}

void Image::data(std::span<const int> src) {
    const std::size_t n = static_cast<std::size_t>(mx) * my;
    if (src.size() < n) return;
    for (int r = 0; r < my; ++r)
        for (int c = 0; c < mx; ++c) pixel[r][c] = src[static_cast<std::size_t>(r) * mx + c];
}

void Image::zoom(const Image& src, int f) {
    zoom_from(src.mx, src.my, f, [&](int r, int c) { return src.pixel[r][c]; });
}

void Image::zoom(std::span<const unsigned char> src, int src_mx, int src_my, int f) {
    if (src.size() < static_cast<std::size_t>(std::max(src_mx, 0)) * std::max(src_my, 0)) return;
    zoom_from(src_mx, src_my, f,
              [&](int r, int c) { return src[static_cast<std::size_t>(r) * src_mx + c]; });
}

template <class Pixel>
void Image::zoom_from(int src_mx, int src_my, int f, Pixel at) {
    if (f < 1) f = 1;
    const int zx = src_mx / f;
    const int zy = src_my / f;
    Matrix<double> z = pixels(zx, zy);
    for (int r = 0; r < zy; ++r)
        for (int c = 0; c < zx; ++c) z[r][c] = at(r * f, c * f);
    mx = zx;
    my = zy;
    pixel = std::move(z);
}

void Image::copy(const Image& src) {
    const int cx = std::min(mx, src.mx);
    const int cy = std::min(my, src.my);
    for (int r = 0; r < cy; ++r) std::copy_n(src.pixel[r], cx, pixel[r]);
}

void Image::square(const Image& src) {
    const int cx = std::min(mx, src.mx);
    const int cy = std::min(my, src.my);
    for (int r = 0; r < cy; ++r)
        for (int c = 0; c < cx; ++c) {
            const int v = static_cast<int>(src.pixel[r][c]);
            pixel[r][c] = static_cast<double>(v) * v;
        }
}

void Image::ball(int r) {
    if (r < 0) return;
    const double value = 1.0 / (r * r * BALL_PI + 0.5);
    const int cx = mx / 2;
    const int cy = my / 2;
    for (int dy = -r; dy <= r; ++dy)
        for (int dx = -r; dx <= r; ++dx) {
            if (dx * dx + dy * dy > r * r) continue;
            const int c = cx + dx;
            const int row = cy + dy;
            if (c >= 0 && c < mx && row >= 0 && row < my) pixel[row][c] = value;
        }
}

Point Image::paddingZeros(const Image& src) {
    if (src.mx < 1 || src.my < 1 || src.mx > mx || src.my > my) return Point(0, 0);
    const int row_off = (my - src.my) / 2;
    const int col_off = (mx - src.mx) / 2;
    for (int r = 0; r < src.my; ++r)
        std::copy_n(src.pixel[r], src.mx, pixel[row_off + r] + col_off);
    if (mx < 2 * RIGHT_MARGIN) return Point(row_off, col_off);

    // Copied rows: ramps in the left and right margins, smoothed downwards.
    const int top = row_off;
    const int bottom = row_off + src.my - 1;
    const int L = std::max(col_off, MIN_MARGIN);
    int R = col_off + src.mx - 1;
    if (mx - 1 - R < RIGHT_MARGIN) R = mx - RIGHT_MARGIN;
    auto smooth_down = [&](int r, int c, double v) {
        if (r > top) v = (v + pixel[r - 1][c]) / 2;
        if (r > top + 1) v = (v + pixel[r - 2][c]) / 2;
        pixel[r][c] = v;
    };
    for (int r = top; r <= bottom; ++r) {
        const double pL = pixel[r][L];
        const double pR = pixel[r][R];
        for (int c = 0; c < L; ++c) smooth_down(r, c, ramp(pL, pR, c, 2 * L));
        for (int c = R; c < mx; ++c) smooth_down(r, c, ramp(pR, pL, mx - 1 - c, 2 * L));
    }

    // Rows above and below: the same column by column, smoothed to the right.
    const int inner_top = std::min(top + 1, bottom);
    const int inner_bottom = std::max(bottom - 1, top);
    const int above = 2 * row_off + 2;
    const int below = std::max(2 * row_off, 1);
    auto smooth_right = [&](int r, int c, double v) {
        if (c >= 1) v = (v + pixel[r][c - 1]) / 2;
        if (c >= 2) v = (v + pixel[r][c - 2]) / 2;
        pixel[r][c] = v;
    };
    for (int c = 0; c < mx; ++c) {
        const double pT = pixel[inner_top][c];
        const double pB = pixel[inner_bottom][c];
        for (int r = 0; r < top; ++r) smooth_right(r, c, ramp(pT, pB, r, above));
        for (int r = bottom + 1; r < my; ++r) smooth_right(r, c, ramp(pB, pT, my - 1 - r, below));
    }
    return Point(row_off, col_off);
}

void Image::StdDev(const Complex& sq, const Complex& lin, int n, int row_begin, int row_end) {
    const int m = std::min({n, mx, my, sq.n, lin.n});
    for (int r = std::max(row_begin, 0); r < std::min(row_end, m); ++r)
        for (int c = 0; c < m; ++c) {
            const double v = sq.Real[r][c] - lin.Real[r][c] * lin.Real[r][c];
            pixel[r][c] = v < 0 ? 0.0 : std::sqrt(v);
        }
}

void Image::shift(int nx, int ny) {
    nx = std::min(nx, mx);
    ny = std::min(ny, my);
    const int hx = nx / 2;
    const int hy = ny / 2;
    for (int r = 0; r < ny; ++r)
        for (int c = 0; c < hx; ++c) std::swap(pixel[r][c], pixel[r][c + hx]);
    for (int c = 0; c < nx; ++c)
        for (int r = 0; r < hy; ++r) std::swap(pixel[r][c], pixel[r + hy][c]);
}

void Image::contrastEnhancement(double c) {
    if (mx < 1 || my < 1) return;
    double lo = pixel[0][0];
    double hi = pixel[0][0];
    for (double v : pixel.flat()) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    contrastEnhancement(c, lo, hi);
}

void Image::contrastEnhancement(double c, double lo, double hi) {
    if (mx < 1 || my < 1) return;
    if (c == 0) c = 1;
    if (hi == lo) {
        std::fill(pixel.flat().begin(), pixel.flat().end(), 0.0);
        return;
    }
    // The central 1/c of the range is stretched over 0 .. 255.
    const double cut = lo + (1 - 1 / c) * (hi - lo) / 2;
    for (double& v : pixel.flat()) v = std::clamp((v - cut) * c * 255 / (hi - lo), 0.0, 255.0);
}

}  // namespace orva
