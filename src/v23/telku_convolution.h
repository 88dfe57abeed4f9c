// Radix-2 complex FFT, the two-dimensional transforms built on it, and the
// Gaussian smoothing of a double signal used by the TELKU detector.
#pragma once

#include <span>

#include "toolkit/arrays.h"

namespace orva {

// In-place complex FFT of m points (m a power of two), x real and y imaginary
// parts. dir = 1: forward, kernel exp(-2 pi i j k / m), unscaled; dir = -1:
// inverse, divided by m. Any other m leaves the data unchanged.
void fft_1D(int dir, int m, std::span<double> x, std::span<double> y);

// Forward transform of the real matrix ImageIn (dimy rows of dimx): every
// column (dimy points) first, then every row (dimx points). Returns 0, or 7
// when the line buffers cannot be had (or a matrix is smaller than dimy x dimx).
int fft_2D(const Matrix<double>& ImageIn, Matrix<double>& Real, Matrix<double>& Img, int dimx,
           int dimy);
// Inverse of fft_2D in place (carries 1/(dimx * dimy)). Returns 0 or 7.
int ffti_2D(Matrix<double>& Real, Matrix<double>& Img, int dimx, int dimy);

// Rows begin .. end - 1 (clipped to 0 .. dimy).
struct RowRange {
    int begin = 0;
    int end = 0;
};
// The inverse for a caller that reads only some rows: the rows in `rows`
// (disjoint ranges) come out as ffti_2D gives them, the others hold the column
// pass alone.
int ffti_2D(Matrix<double>& Real, Matrix<double>& Img, int dimx, int dimy,
            std::span<const RowRange> rows);

// Side of the square-free container for one signal extent: the smallest power
// of two that is at least 32 and at least the extent.
int fast_convolve_side(int extent);

// Cyclic Gaussian smoothing (filter_mode 0) of signal, size[0] columns by
// size[1] rows, placed at the origin of a zero container; any other mode
// filters with the identity. Status: 0; 1 dimensions; 2 no signal; 3 no sizes;
// 4 allocation; 7 transform line buffers.
int fast_convolve_2D(std::span<double> signal, int num_of_dim, std::span<const int> size,
                     int radius, int filter_mode);

}  // namespace orva
