// Discrete Fourier transforms of power-of-two length, in place, unscaled.
//
// cdft(n, isgn, a, ip, w): a holds n/2 complex values as (re, im) pairs.
//   isgn = 1:  X[k] = sum_j x[j] * exp(+2 pi i j k / (n/2))
//   isgn = -1: X[k] = sum_j x[j] * exp(-2 pi i j k / (n/2))
//   A forward and a backward transform in turn multiply the input by n/2.
// rdft(n, isgn, a, ip, w): a holds n real values.
//   isgn = 1: a[0] = R(0) (sum), a[1] = R(n/2) (alternating sum), and for
//     0 < k < n/2: a[2k] = R(k) = sum_j a[j] cos(2 pi j k / n),
//                  a[2k+1] = I(k) = sum_j a[j] sin(2 pi j k / n).
//   isgn = -1 takes that layout back to n/2 times the real sequence.
// n must be a power of two with n >= 2; any other n leaves a unchanged.
//
// Work areas: ip[0] is the number of complex-twiddle entries already held in
// w, ip[1] the number of cosine entries of the real transform; a caller sets
// ip[0] = 0 before the first call of a length and may keep ip and w between
// calls of that length to skip the table set-up. ip needs 2 entries, w n/4
// entries for cdft and n/2 for rdft; shorter work areas are tolerated (the
// tables are then built in private storage).
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace orva {

void rdft(int n, int isgn, std::span<double> a, std::span<int> ip, std::span<double> w);
void cdft(int n, int isgn, std::span<double> a, std::span<int> ip, std::span<double> w);

// cdft(n, isgn) of `count` lines side by side, each line's values bit for bit
// what cdft gives it: pair j of line b is (re[j * count + b], im[j * count + b]).
// Running the butterflies over all lines at once lets them use vector
// arithmetic. Lengths cdft leaves alone, and spans shorter than n/2 * count,
// leave the lines unchanged.
void cdft_lines(int n, int isgn, std::span<double> re, std::span<double> im, int count);

// cdft_lines for lines whose n/2 points the caller has already put into
// bit-reversed order (point j at bit_reversed_order(n / 2)[j]), as the
// transform does first: the same values, without the swaps.
void cdft_lines_reversed(int n, int isgn, std::span<double> re, std::span<double> im, int count);
// cdft_lines_reversed for lines of real points: the imaginary parts are taken
// as +0 without being read (im need not be cleared) and written as the
// transform leaves them; the same values as with im cleared.
void cdft_lines_reversed_real(int n, int isgn, std::span<double> re, std::span<double> im,
                              int count);
// Where bit reversal puts each of nc points (nc a power of two).
const std::vector<int>& bit_reversed_order(int nc);

// The radix-2 butterflies of a transform of nc complex points (nc a power of
// two) on `count` lines side by side, point j of line b at re/im[j * stride + b],
// with the caller's twiddles: the stage of half-length h reads its h factors
// w = (re, im) from pair h - 1 of stage_twiddles (nc - 1 pairs in all). The
// points go into bit-reversed order first; each butterfly then sets
// v' = u - w v and u' = u + w v with w v = (vr wr - vi wi, vr wi + vi wr), the
// same operations on every line, so each line comes out as a one-line
// transform with these factors would leave it. Bad arguments change nothing.
void fft_planes(int nc, std::span<const double> stage_twiddles, double* re, double* im, int count,
                std::size_t stride);

// Status of a two-dimensional transform whose work arrays cannot be had.
constexpr int FFT_NO_WORK = 7;
// Writes "\n<name>: could not allocate arrays" and the system's text for
// ENOMEM to standard error; returns FFT_NO_WORK.
int report_fft_no_work(const char* name);

}  // namespace orva
