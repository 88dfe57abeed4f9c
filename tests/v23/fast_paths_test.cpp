// The version-2.3 fast routines against their plain versions on seeded input:
// order statistics from byte counts against a heap sort, and the TELKU
// two-dimensional transforms against fft_1D line by line, bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "toolkit/heap_sort.h"
#include "v23/byte_counts.h"
#include "v23/telku_convolution.h"

namespace orva {
namespace {

TEST(ByteCounts, OrderStatisticsEqualThoseOfTheSortedBytes) {
    std::mt19937 rng(5);
    for (int n : {1, 7, 768, 5000}) {
        std::vector<unsigned char> bytes(n);
        const int spread = n % 2 ? 256 : 12;  // wide and heavily tied sets
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(100 + rng() % spread);
        ByteCounts counts;
        count_bytes(bytes, counts);
        std::vector<unsigned char> sorted = bytes;
        heap_sort_uc(sorted.size(), sorted);
        long low = 0, high = 0;
        for (int k = 0; k < n; ++k) {
            ASSERT_EQ(kth_smallest_byte(counts, k), sorted[k]) << n << " " << k;
            low += sorted[k];
            high += sorted[n - 1 - k];
            ASSERT_EQ(sum_of_smallest_bytes(counts, k + 1), low);
            ASSERT_EQ(sum_of_largest_bytes(counts, k + 1), high);
        }
    }
}

// Every column with fft_1D, then every row.
void plain_transform_2d(Matrix<double>& re, Matrix<double>& im, int dimx, int dimy, int dir) {
    std::vector<double> cr(dimy), ci(dimy);
    for (int x = 0; x < dimx; ++x) {
        for (int y = 0; y < dimy; ++y) cr[y] = re[y][x], ci[y] = im[y][x];
        fft_1D(dir, dimy, cr, ci);
        for (int y = 0; y < dimy; ++y) re[y][x] = cr[y], im[y][x] = ci[y];
    }
    for (int y = 0; y < dimy; ++y) fft_1D(dir, dimx, re.row(y).first(dimx), im.row(y).first(dimx));
}

TEST(TelkuFft, TwoDimensionalTransformsEqualColumnThenRowLinesBitForBit) {
    // {dimx, dimy, matrix columns}: container sizes, a length that is no power
    // of two (left alone), single lines and matrices wider than the transform.
    const int cases[][3] = {{256, 128, 256}, {32, 64, 40}, {48, 32, 48}, {1, 16, 3}, {64, 1, 64}};
    std::mt19937 rng(23);
    std::uniform_real_distribution<double> value(-300.0, 300.0);
    for (const auto& [dimx, dimy, cols] : cases) {
        auto same_bits = [&](const Matrix<double>& a, const Matrix<double>& b) {
            for (int y = 0; y < dimy; ++y)
                ASSERT_EQ(std::memcmp(a[y], b[y], sizeof(double) * dimx), 0)
                    << dimx << "x" << dimy << " row " << y;
        };
        Matrix<double> in = matrix(dimy, cols);
        for (double& v : in.flat()) v = std::floor(value(rng));
        Matrix<double> re = matrix(dimy, cols), im = matrix(dimy, cols);
        Matrix<double> ref_re = in, ref_im = matrix(dimy, cols);
        ASSERT_EQ(fft_2D(in, re, im, dimx, dimy), 0);
        plain_transform_2d(ref_re, ref_im, dimx, dimy, 1);
        same_bits(re, ref_re);
        same_bits(im, ref_im);
        for (double& v : re.flat()) v += value(rng) * 1e-3;  // a spectrum of no real image
        ref_re = re;
        ref_im = im;
        Matrix<double> band_re = re, band_im = im;
        ASSERT_EQ(ffti_2D(re, im, dimx, dimy), 0);
        plain_transform_2d(ref_re, ref_im, dimx, dimy, -1);
        same_bits(re, ref_re);
        same_bits(im, ref_im);
        // Inverse rows of two bands only: those rows as in the full inverse.
        const RowRange bands[] = {{dimy - 1, dimy}, {1, dimy / 2}};
        ASSERT_EQ(ffti_2D(band_re, band_im, dimx, dimy, bands), 0);
        for (const RowRange& b : bands)
            for (int y = b.begin; y < b.end; ++y)
                ASSERT_EQ(std::memcmp(band_re[y], re[y], sizeof(double) * dimx), 0) << y;
    }
}

}  // namespace
}  // namespace orva
