// Small double-valued images, complex 2-D spectra and integer points used by
// the VIRPA and DEXLA crystal detectors.
#pragma once

#include <span>

#include "toolkit/arrays.h"

namespace orva {

struct Image;

// Integer point. Where a routine returns an offset, x holds the row and y the
// column (as stated at that routine).
class Point {
  public:
    Point() = default;
    Point(int x, int y) : x(x), y(y) {}
    int getx() const { return x; }
    int gety() const { return y; }
    void setx(int v) { x = v; }
    void sety(int v) { y = v; }

    int x = 0;
    int y = 0;
};

// n x n complex matrix (Real[r][c], Img[r][c]), zero-filled.
class Complex {
  public:
    explicit Complex(int n);

    // One-dimensional complex FFT of n points in place (dir 1 forward,
    // -1 inverse divided by n).
    static void FFT(int dir, int n, std::span<double> x, std::span<double> y);
    // this = 2-D transform of the real image (columns first, then rows).
    void FFT_2d(const Image& im, int nx, int ny);
    // Inverse 2-D transform in place (carries 1/(nx ny)).
    void FFT_2dInv(int nx, int ny);
    // this = a * b, element by element.
    void multiplication(const Complex& a, const Complex& b, int n);

    int n = 0;
    Matrix<double> Real;
    Matrix<double> Img;
};

// mx x my image of doubles; pixel (column c, row r) is pixel[r][c].
struct Image {
    Image(int mx, int my);

    void data(std::span<const int> src);  // mx * my values, row-major
    void zoom(const Image& src, int f);
    // The same zoom of a byte image of src_mx x src_my, without a full copy.
    void zoom(std::span<const unsigned char> src, int src_mx, int src_my, int f);
    void copy(const Image& src);
    void square(const Image& src);
    void ball(int r);
    // Places src in the middle and continues it smoothly across the borders of
    // this (periodic) image. Returns the row offset in x, the column offset in y.
    Point paddingZeros(const Image& src);
    // sqrt(sq - lin^2) (0 where negative) of the real parts, rows row_begin ..
    // row_end - 1 of the first n x n (all rows by default).
    void StdDev(const Complex& sq, const Complex& lin, int n, int row_begin = 0,
                int row_end = 1 << 30);
    void shift(int nx, int ny);
    // Thresholds the window of this map at offset off (row off.x, column off.y)
    // into dst as 0 / 255; returns the number of 255s.
    int getactualimage(Image& dst, const Point& off, double, double) const;
    double selectLargeObject(int loop_cnt);
    static void centroid(const Image& img, int f, Point& p);
    void contrastEnhancement(double c);
    // contrastEnhancement with the range lo .. hi of a larger image this was
    // sampled from.
    void contrastEnhancement(double c, double lo, double hi);
    void histEqualization();
    // DEXLA position (full-size pixels) of this half-size equalised image;
    // img is the full-size input. (0, 0) when nothing stands out.
    Point Dexla(std::span<const unsigned char> img, int q);

    double at(int c, int r) const { return pixel[r][c]; }

    int mx = 0;
    int my = 0;
    Matrix<double> pixel;  // empty when mx or my is 0
    double mean = 0.0;
    double dev = 0.0;

  private:
    // Every f-th pixel of every f-th row of a src_mx x src_my image read by at(r, c).
    template <class Pixel>
    void zoom_from(int src_mx, int src_my, int f, Pixel at);
};

// Sub-sampling that brings the longer side to at most about 224 pixels.
int virpa_zoomfactor(int imx, int imy);

// Adaptive-radius search on the zoomed image: `zoomed` is overwritten by the
// last mask, `final_image` (zoomed's size) receives the mask of the pass that
// stopped the search (stays as it is when none did), `f` the padding offsets.
// Returns the number of passes made (10 when the search did not stop).
int virpa_radius_search(Image& zoomed, Image& final_image, Point& f);

}  // namespace orva
