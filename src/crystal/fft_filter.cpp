// Directional filtering of float images through padded two-dimensional FFTs.
//
// Method: the image is copied into the middle of a power-of-two container of
// doubles (at least 32 and strictly larger than each extent), mirrored outwards
// with the border pixel repeated, transformed column by column and then row by
// row, multiplied cell by cell with the spectrum of a Gaussian-based kernel and
// transformed back; the real part of the middle is the filtered image. The
// kernel's transform can be kept between calls (KernelSpectra). The padded
// container is read straight from the signal, the product with the kernel is
// taken as the row transforms come out, and the way back runs its row
// transforms, and stores results, only for the signal's rows and columns.
// Between the passes the spectrum is kept in blocks of 16 columns, so that
// column transforms run in place and row passes turn contiguous tiles.
// Conventions: size[0] columns (x), size[1] rows (y), row-major; kernel offset
// (i, j) lives at column i, row j of the container, wrapped when negative.
// Status: 0; 1 wrong number of dimensions; 2 no signal, or fewer values than
// size[0] * size[1]; 3 no sizes, fewer than two, or an extent outside
// 0 .. 2^28; 7 transform work arrays not allocated (signal untouched).
// An empty extent leaves the signal as it is and returns 0.
#include "crystal/fft_filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "toolkit/fft.h"
#include "toolkit/vector_clones.h"

namespace orva {
namespace {

constexpr const char* kFilterName = "fft_filter";
constexpr int kMinContainer = 32;
constexpr int kMaxExtent = 1 << 28;  // keeps container sides and FFT lengths in int
constexpr long kLineBlock = 16;      // lines transformed together in each pass

// Sizes the work set for lines of n complex points; false when memory is short.
bool prepare_line_work(TransformLines& work, int n) {
    if (work.points == n) return true;
    try {
        work.re.assign(static_cast<std::size_t>(n) * kLineBlock, 0.0);
        work.im.assign(static_cast<std::size_t>(n) * kLineBlock, 0.0);
    } catch (const std::bad_alloc&) {
        work = TransformLines{};
        return false;
    }
    work.points = n;
    return true;
}

bool fits(const Matrix<double>& m, int dimx, int dimy) {
    return dimx >= 1 && dimy >= 1 && m.rows() >= dimy && m.cols() >= dimx;
}

// n doubles from src to dst; a whole block, the usual case, as a copy of
// fixed size that the compiler keeps inline.
inline void copy_block(const double* src, long n, double* dst) {
    if (n == kLineBlock)
        std::memcpy(dst, src, kLineBlock * sizeof(double));
    else
        std::copy_n(src, n, dst);
}

// Columns per tile of a transposition between rows and planes: the plane
// lines a tile touches (kTile * kLineBlock values) stay in the first-level
// cache while the rows of the block are walked.
constexpr long kTile = 32;

// Rows y0 .. y0 + nb - 1 of (re, im) into the planes: value x of row b at
// x * nb + b.
void rows_to_planes(const Matrix<double>& re, const Matrix<double>& im, long y0, long nb, long dimx,
                    double* __restrict pr, double* __restrict pi) {
    for (long x0 = 0; x0 < dimx; x0 += kTile) {
        const long x1 = std::min(x0 + kTile, dimx);
        for (long b = 0; b < nb; ++b) {
            const double* r = re[y0 + b];
            const double* i = im[y0 + b];
            for (long x = x0; x < x1; ++x) {
                pr[x * nb + b] = r[x];
                pi[x * nb + b] = i[x];
            }
        }
    }
}

// Column pass: every column of (re, im) is transformed as cdft(2 * dimy, isgn)
// would and multiplied by scale when scale differs from 1; rows out_begin ..
// out_end - 1 of the result are written to (re_out, im_out) (the others are
// not scaled either). im_in may be null (real input). Blocks of columns are
// read row-wise into the work planes.
void column_pass(const Matrix<double>& re_in, const Matrix<double>* im_in, Matrix<double>& re_out,
                 Matrix<double>& im_out, int dimx, int dimy, int isgn, double scale,
                 TransformLines& work, int out_begin, int out_end) {
    for (long x0 = 0; x0 < dimx; x0 += kLineBlock) {
        const long nb = std::min<long>(kLineBlock, dimx - x0);
        const std::size_t values = static_cast<std::size_t>(dimy) * nb;
        double* pr = work.re.data();
        double* pi = work.im.data();
        for (long y = 0; y < dimy; ++y) {
            copy_block(re_in[y] + x0, nb, pr + y * nb);
            if (im_in != nullptr)
                copy_block((*im_in)[y] + x0, nb, pi + y * nb);
            else
                std::fill_n(pi + y * nb, nb, 0.0);
        }
        cdft_lines(2 * dimy, isgn, {pr, values}, {pi, values}, static_cast<int>(nb));
        for (long y = out_begin; y < out_end; ++y) {
            double* r = re_out[y] + x0;
            double* i = im_out[y] + x0;
            if (scale != 1.0) {
                for (long b = 0; b < nb; ++b) {
                    r[b] = pr[y * nb + b] * scale;
                    i[b] = pi[y * nb + b] * scale;
                }
            } else {
                copy_block(pr + y * nb, nb, r);
                copy_block(pi + y * nb, nb, i);
            }
        }
    }
}

// Where the cells of the padded container come from: cell (y, x) holds the
// signal value at row row[y], column col[x], or 0 where either is -1. These
// are the cells of a cleared container into which the signal is copied, each
// signal row mirrored outwards (half-sample reflection: the border pixel is
// repeated), then the top rows mirrored and after them the bottom rows, each
// reading the rows as they are then. The container itself is never made.
struct PaddingMap {
    std::vector<int> row, col;
};

PaddingMap padding_map(int sx, int sy, int x_off, int y_off, int cw, int ch) {
    PaddingMap map;
    map.col.assign(static_cast<std::size_t>(cw), -1);
    map.row.assign(static_cast<std::size_t>(ch), -1);
    for (int x = 0; x < sx; ++x) map.col[x_off + x] = x;
    for (int x = 0; x < x_off && x < sx; ++x) {
        map.col[x_off - 1 - x] = x;
        map.col[x_off + sx + x] = sx - 1 - x;
    }
    // The mirrored rows copy only the columns written above, which are
    // exactly the columns with a source; the rest of every row stays 0.
    for (int y = 0; y < sy; ++y) map.row[y_off + y] = y;
    for (int y = 0; y < y_off; ++y) map.row[y_off - 1 - y] = map.row[y_off + y];
    for (int y = 0; y < y_off; ++y) map.row[y_off + sy + y] = map.row[y_off + sy - 1 - y];
    return map;
}

// The spectrum of the padded signal during a filtering, cw x ch cells kept
// in blocks of kLineBlock columns: cell (y, x) at
// (x / kLineBlock) * ch * kLineBlock + y * kLineBlock + x % kLineBlock.
// A block is then the plane layout of its columns' transforms, and the
// kLineBlock x kLineBlock tiles a row pass turns are contiguous. cw is a
// power of two of at least 32, so the blocks are full.
struct BlockedSpectrum {
    double* re;
    double* im;
    long width;
    long height;
    // Offset of the tile of rows y0 .. y0 + kLineBlock - 1 in block j.
    std::size_t tile(long j, long y0) const {
        return static_cast<std::size_t>((j * height + y0) * kLineBlock);
    }
};

// Forward column pass of the padded signal, as column_pass would run it on
// the container (real input, no scaling): every block of columns is read
// from the signal straight into its place and transformed there.
void padded_column_pass(std::span<const float> signal, int sx, const PaddingMap& map,
                        BlockedSpectrum& out) {
    const long dimy = out.height;
    const std::size_t values = static_cast<std::size_t>(dimy) * kLineBlock;
    const std::vector<int>& order = bit_reversed_order(static_cast<int>(dimy));
    for (long j = 0; j < out.width / kLineBlock; ++j) {
        double* __restrict br = out.re + out.tile(j, 0);
        double* __restrict bi = out.im + out.tile(j, 0);
        // Source columns of the block; signal columns come side by side.
        int source[kLineBlock];
        bool side_by_side = true;
        for (long c = 0; c < kLineBlock; ++c) {
            source[c] = map.col[static_cast<std::size_t>(j * kLineBlock + c)];
            side_by_side = side_by_side && source[c] == source[0] + c;
        }
        side_by_side = side_by_side && source[0] >= 0;
        // Rows go straight to their bit-reversed places, where the transform
        // would first move them.
        for (long y = 0; y < dimy; ++y) {
            const int r = map.row[static_cast<std::size_t>(y)];
            double* dst = br + static_cast<long>(order[static_cast<std::size_t>(y)]) * kLineBlock;
            if (r < 0) {
                std::fill_n(dst, kLineBlock, 0.0);
                continue;
            }
            const float* src = signal.data() + static_cast<long>(r) * sx;
            if (side_by_side) {
                for (long c = 0; c < kLineBlock; ++c)
                    dst[c] = static_cast<double>(src[source[0] + c]);
            } else {
                for (long c = 0; c < kLineBlock; ++c)
                    dst[c] = source[c] >= 0 ? static_cast<double>(src[source[c]]) : 0.0;
            }
        }
        // The signal is real: the transform takes its imaginary parts as 0.
        cdft_lines_reversed_real(static_cast<int>(2 * dimy), 1, {br, values}, {bi, values},
                                 static_cast<int>(kLineBlock));
    }
}

// The spectrum (re, im) of dimy rows of dimx in the row-block plane layout
// of KernelSpectra::Spectrum.
void to_row_planes(const Matrix<double>& re, const Matrix<double>& im, int dimx, int dimy,
                   std::vector<double>& plane_re, std::vector<double>& plane_im) {
    plane_re.resize(static_cast<std::size_t>(dimx) * dimy);
    plane_im.resize(static_cast<std::size_t>(dimx) * dimy);
    for (long y0 = 0; y0 < dimy; y0 += kLineBlock) {
        const long nb = std::min<long>(kLineBlock, dimy - y0);
        rows_to_planes(re, im, y0, nb, dimx, plane_re.data() + y0 * dimx,
                       plane_im.data() + y0 * dimx);
    }
}

// Four values side by side, for moving 4 x 4 squares of a tile at once; the
// type may sit anywhere a double may and may alias doubles.
typedef double Doubles4 __attribute__((vector_size(32), aligned(8), __may_alias__));
typedef long long Index4 __attribute__((vector_size(32)));

// The 4 x 4 square whose rows start at src, src + src_step, ... turned into
// columns: row k of the result goes to dst[k].
[[gnu::always_inline]] inline void turn4(const double* src, long src_step, double* const dst[4]) {
    const Doubles4 r0 = *reinterpret_cast<const Doubles4*>(src);
    const Doubles4 r1 = *reinterpret_cast<const Doubles4*>(src + src_step);
    const Doubles4 r2 = *reinterpret_cast<const Doubles4*>(src + 2 * src_step);
    const Doubles4 r3 = *reinterpret_cast<const Doubles4*>(src + 3 * src_step);
    const Doubles4 t0 = __builtin_shuffle(r0, r1, Index4{0, 4, 2, 6});
    const Doubles4 t1 = __builtin_shuffle(r0, r1, Index4{1, 5, 3, 7});
    const Doubles4 t2 = __builtin_shuffle(r2, r3, Index4{0, 4, 2, 6});
    const Doubles4 t3 = __builtin_shuffle(r2, r3, Index4{1, 5, 3, 7});
    *reinterpret_cast<Doubles4*>(dst[0]) = __builtin_shuffle(t0, t2, Index4{0, 1, 4, 5});
    *reinterpret_cast<Doubles4*>(dst[1]) = __builtin_shuffle(t1, t3, Index4{0, 1, 4, 5});
    *reinterpret_cast<Doubles4*>(dst[2]) = __builtin_shuffle(t0, t2, Index4{2, 3, 6, 7});
    *reinterpret_cast<Doubles4*>(dst[3]) = __builtin_shuffle(t1, t3, Index4{2, 3, 6, 7});
}

// Rows y0 .. y0 + nb - 1 of the blocked spectrum into the planes, value x of
// row b at order[x] * nb + b (order: the bit-reversed places the row
// transforms start from), one contiguous tile at a time, in squares of 4 x 4
// when nb allows; and back, in natural order.
[[gnu::always_inline]] inline void tiles_to_planes(const BlockedSpectrum& s, long y0, long nb,
                                                   const int* order, double* __restrict pr,
                                                   double* __restrict pi) {
    for (long j = 0; j < s.width / kLineBlock; ++j) {
        const double* tr = s.re + s.tile(j, y0);
        const double* ti = s.im + s.tile(j, y0);
        if (nb % 4 == 0) {
            for (long c = 0; c < kLineBlock; c += 4)
                for (long b = 0; b < nb; b += 4) {
                    double* to_re[4];
                    double* to_im[4];
                    for (long k = 0; k < 4; ++k) {
                        const long at = static_cast<long>(order[j * kLineBlock + c + k]) * nb + b;
                        to_re[k] = pr + at;
                        to_im[k] = pi + at;
                    }
                    turn4(tr + b * kLineBlock + c, kLineBlock, to_re);
                    turn4(ti + b * kLineBlock + c, kLineBlock, to_im);
                }
            continue;
        }
        for (long c = 0; c < kLineBlock; ++c) {
            const long at = static_cast<long>(order[j * kLineBlock + c]) * nb;
            for (long b = 0; b < nb; ++b) {
                pr[at + b] = tr[b * kLineBlock + c];
                pi[at + b] = ti[b * kLineBlock + c];
            }
        }
    }
}

[[gnu::always_inline]] inline void planes_to_tiles(const double* __restrict pr,
                                                   const double* __restrict pi, long y0, long nb,
                                                   BlockedSpectrum& s) {
    for (long j = 0; j < s.width / kLineBlock; ++j) {
        double* tr = s.re + s.tile(j, y0);
        double* ti = s.im + s.tile(j, y0);
        if (nb % 4 == 0) {
            for (long b = 0; b < nb; b += 4)
                for (long c = 0; c < kLineBlock; c += 4) {
                    double* to_re[4];
                    double* to_im[4];
                    for (long k = 0; k < 4; ++k) {
                        to_re[k] = tr + (b + k) * kLineBlock + c;
                        to_im[k] = ti + (b + k) * kLineBlock + c;
                    }
                    turn4(pr + (j * kLineBlock + c) * nb + b, nb, to_re);
                    turn4(pi + (j * kLineBlock + c) * nb + b, nb, to_im);
                }
            continue;
        }
        for (long b = 0; b < nb; ++b)
            for (long c = 0; c < kLineBlock; ++c) {
                tr[b * kLineBlock + c] = pr[(j * kLineBlock + c) * nb + b];
                ti[b * kLineBlock + c] = pi[(j * kLineBlock + c) * nb + b];
            }
    }
}

// Forward row pass in place over all rows, each transformed spectrum value
// multiplied at once by the kernel's: the complex product of the two
// spectra, a cyclic convolution over the container. The kernel comes in the
// planes' own layout, so the product runs straight along them.
ORVA_VECTOR_CLONES
void row_pass_times_kernel(BlockedSpectrum& s, const KernelSpectra::Spectrum& kernel,
                           TransformLines& work) {
    const long dimx = s.width;
    const int* order = bit_reversed_order(static_cast<int>(dimx)).data();
    for (long y0 = 0; y0 < s.height; y0 += kLineBlock) {
        const long nb = std::min<long>(kLineBlock, s.height - y0);
        const std::size_t values = static_cast<std::size_t>(dimx) * nb;
        double* __restrict pr = work.re.data();
        double* __restrict pi = work.im.data();
        tiles_to_planes(s, y0, nb, order, pr, pi);
        cdft_lines_reversed(static_cast<int>(2 * dimx), 1, {pr, values}, {pi, values},
                            static_cast<int>(nb));
        const double* __restrict fr = kernel.re.data() + y0 * dimx;
        const double* __restrict fi = kernel.im.data() + y0 * dimx;
        for (std::size_t k = 0; k < values; ++k) {
            const double a = pr[k];
            const double t = pi[k];
            pr[k] = a * fr[k] - t * fi[k];
            pi[k] = t * fr[k] + fi[k] * a;
        }
        planes_to_tiles(pr, pi, y0, nb, s);
    }
}

// Inverse column pass in place, each block being its columns' planes; rows
// y_begin .. y_end - 1 are then scaled (the others are not read again).
ORVA_VECTOR_CLONES
void inverse_column_pass(BlockedSpectrum& s, double scale, long y_begin, long y_end) {
    const std::size_t values = static_cast<std::size_t>(s.height) * kLineBlock;
    for (long j = 0; j < s.width / kLineBlock; ++j) {
        double* __restrict br = s.re + s.tile(j, 0);
        double* __restrict bi = s.im + s.tile(j, 0);
        cdft_lines(static_cast<int>(2 * s.height), -1, {br, values}, {bi, values},
                   static_cast<int>(kLineBlock));
        if (scale == 1.0) continue;
        for (long k = y_begin * kLineBlock; k < y_end * kLineBlock; ++k) {
            br[k] = br[k] * scale;
            bi[k] = bi[k] * scale;
        }
    }
}

// Inverse row pass over the sy signal rows (container rows y_off ..), scaled
// by 1 / dimx, with the real parts of the signal's columns stored straight
// into the signal.
ORVA_VECTOR_CLONES
void row_pass_to_signal(const BlockedSpectrum& s, int y_off, int x_off, std::span<float> signal,
                        int sx, int sy, TransformLines& work) {
    const long dimx = s.width;
    const int* order = bit_reversed_order(static_cast<int>(dimx)).data();
    const double scale = 1.0 / static_cast<double>(dimx);
    for (long y0 = 0; y0 < sy; y0 += kLineBlock) {
        const long nb = std::min<long>(kLineBlock, sy - y0);
        const std::size_t values = static_cast<std::size_t>(dimx) * nb;
        double* pr = work.re.data();
        double* pi = work.im.data();
        tiles_to_planes(s, y_off + y0, nb, order, pr, pi);
        cdft_lines_reversed(static_cast<int>(2 * dimx), -1, {pr, values}, {pi, values},
                            static_cast<int>(nb));
        for (long x0 = 0; x0 < sx; x0 += kTile) {
            const long x1 = std::min(x0 + kTile, static_cast<long>(sx));
            for (long b = 0; b < nb; ++b) {
                float* dst = signal.data() + (y0 + b) * sx;
                for (long x = x0; x < x1; ++x) {
                    const double v = pr[(x_off + x) * nb + b];
                    dst[x] = static_cast<float>(scale != 1.0 ? v * scale : v);
                }
            }
        }
    }
}

// Row pass in place: rows y_begin .. y_end - 1 of (re, im) transformed as
// cdft(2 * dimx, isgn) would, each on its own, in blocks turned into planes.
void row_pass(Matrix<double>& re, Matrix<double>& im, int dimx, int y_begin, int y_end, int isgn,
              double scale, TransformLines& work) {
    for (long y0 = y_begin; y0 < y_end; y0 += kLineBlock) {
        const long nb = std::min<long>(kLineBlock, y_end - y0);
        const std::size_t values = static_cast<std::size_t>(dimx) * nb;
        double* pr = work.re.data();
        double* pi = work.im.data();
        for (long b = 0; b < nb; ++b) {
            const double* r = re[y0 + b];
            const double* i = im[y0 + b];
            for (long x = 0; x < dimx; ++x) {
                pr[x * nb + b] = r[x];
                pi[x * nb + b] = i[x];
            }
        }
        cdft_lines(2 * dimx, isgn, {pr, values}, {pi, values}, static_cast<int>(nb));
        for (long b = 0; b < nb; ++b) {
            double* r = re[y0 + b];
            double* i = im[y0 + b];
            for (long x = 0; x < dimx; ++x) {
                r[x] = scale != 1.0 ? pr[x * nb + b] * scale : pr[x * nb + b];
                i[x] = scale != 1.0 ? pi[x * nb + b] * scale : pi[x * nb + b];
            }
        }
    }
}

int forward_2d(const Matrix<double>& container, Matrix<double>& Real, Matrix<double>& Imag,
               int dimx, int dimy, TransformWork& work) {
    const char* name = "fft_2Do";
    if (!fits(container, dimx, dimy) || !fits(Real, dimx, dimy) || !fits(Imag, dimx, dimy))
        return report_fft_no_work(name);
    if (!prepare_line_work(work.columns, dimy)) return report_fft_no_work(name);
    column_pass(container, nullptr, Real, Imag, dimx, dimy, 1, 1.0, work.columns, 0, dimy);
    if (!prepare_line_work(work.rows, dimx)) return report_fft_no_work(name);
    row_pass(Real, Imag, dimx, 0, dimy, 1, 1.0, work.rows);
    return 0;
}

// Inverse transform; only rows y_begin .. y_end - 1 get their row pass, the
// others hold the column pass alone (callers that read a band of rows).
int inverse_2d(Matrix<double>& Real, Matrix<double>& Imag, int dimx, int dimy, int y_begin,
               int y_end, TransformWork& work) {
    const char* name = "ffti_2D";
    if (!fits(Real, dimx, dimy) || !fits(Imag, dimx, dimy)) return report_fft_no_work(name);
    if (!prepare_line_work(work.columns, dimy)) return report_fft_no_work(name);
    column_pass(Real, &Imag, Real, Imag, dimx, dimy, -1, 1.0 / dimy, work.columns, 0, dimy);
    if (!prepare_line_work(work.rows, dimx)) return report_fft_no_work(name);
    row_pass(Real, Imag, dimx, y_begin, y_end, -1, 1.0 / dimx, work.rows);
    return 0;
}

// m as a rows x cols matrix: kept as it is when it has that shape, else
// reshaped in the storage it has. Its values are left as they are: every
// use here writes all cells before reading them.
Matrix<double>& sized(Matrix<double>& m, int rows, int cols) {
    if (m.rows() != rows || m.cols() != cols) m.reshape(rows, cols);
    return m;
}

// Smallest power of two >= 32 that is strictly greater than extent.
int container_side(int extent) {
    int side = kMinContainer;
    while (extent >= side) side *= 2;
    return side;
}

int abort_filter(int code) {
    std::fprintf(stderr, "\n %s: abort!", kFilterName);
    return code;
}

int write_kernel(Matrix<double>& container, int cw, int ch, int radius, int filter_mode) {
    switch (filter_mode) {
        case LP:
            return set_gaussian_lp(container, cw, ch, radius, stdout);
        case HP_X:
            return set_gaussian_hp_x(container, cw, ch, radius, stdout);
        case HP_Y:
            return set_gaussian_hp_y(container, cw, ch, radius, stdout);
        default:
            std::fill(container.flat().begin(), container.flat().end(), 0.0);
            container[0][0] = 1.0;
            std::fprintf(stderr, "\n %s: This filter_mode is not supported (%d)!", kFilterName,
                         filter_mode);
            return radius;
    }
}

// Which kernel formula a builder stores.
enum class KernelKind { Lowpass, SecondX, SecondY };

int build_kernel(Matrix<double>& m, int width, int height, int radius, KernelKind kind) {
    // A radius of 0 becomes 1; larger than half the smaller side is clamped to
    // it, but a side below 2 must not clamp it to 0 (sigma 0). A negative
    // radius is kept: its sigma enters only squared.
    if (radius == 0) radius = 1;
    const int xr = width / 2;
    const int yr = height / 2;
    const int rad = std::min(xr, std::min(yr, radius));
    if (radius != rad) radius = rad;
    if (radius == 0) radius = 1;
    if (width < 1 || height < 1 || m.rows() < height || m.cols() < width) return radius;

    const double sigma = 0.5 * radius;
    const double sigma2 = sigma * sigma;
    const double sigma4 = sigma2 * sigma2;
    const double two_sigma2 = 2 * sigma2;
    for (long j = -yr; j <= yr; ++j) {
        double* row = m[j < 0 ? j + height : j];
        for (long i = -xr; i <= xr; ++i) {
            const double g = std::exp(-static_cast<double>(i * i + j * j) / two_sigma2);
            double value = g;
            if (kind == KernelKind::SecondX)
                value = -g / sigma2 + static_cast<double>(i * i) * g / sigma4;
            else if (kind == KernelKind::SecondY)
                value = -g / sigma2 + static_cast<double>(j * j) * g / sigma4;
            row[i < 0 ? i + width : i] = value;
        }
    }
    return radius;
}

}  // namespace

int set_gaussian_lp(Matrix<double>& lp_ptr, int width, int height, int radius, std::FILE*) {
    return build_kernel(lp_ptr, width, height, radius, KernelKind::Lowpass);
}

int set_gaussian_hp_x(Matrix<double>& filt_ptr, int width, int height, int radius, std::FILE*) {
    return build_kernel(filt_ptr, width, height, radius, KernelKind::SecondX);
}

int set_gaussian_hp_y(Matrix<double>& filt_ptr, int width, int height, int radius, std::FILE*) {
    return build_kernel(filt_ptr, width, height, radius, KernelKind::SecondY);
}

FilterGeometry fft_filter_geometry(int width, int height, int radius, int filter_mode) {
    FilterGeometry g;
    g.container_width = container_side(width);
    g.container_height = container_side(height);
    g.x_off = (g.container_width - width) / 2;
    g.y_off = (g.container_height - height) / 2;
    if (radius <= 0) {
        if (filter_mode == LP)
            radius = std::max(g.container_width, g.container_height) / 24;
        else if (filter_mode == HP_X || filter_mode == HP_Y)
            radius = std::min(g.container_width, g.container_height) / 48;
        if (radius <= 1) radius = 2;
    }
    g.radius = radius;
    return g;
}

int fft_2Do(const Matrix<double>& container, Matrix<double>& Real, Matrix<double>& Imag, int dimx,
            int dimy) {
    TransformWork work;
    return forward_2d(container, Real, Imag, dimx, dimy, work);
}

int ffti_2Do(Matrix<double>& Real, Matrix<double>& Imag, int dimx, int dimy) {
    TransformWork work;
    return inverse_2d(Real, Imag, dimx, dimy, 0, dimy, work);
}

// The kept spectra, most recent last; any thread may look them up or add one.
struct KernelSpectra::Kept {
    static constexpr std::size_t kKept = 4;
    std::mutex mutex;
    std::mutex compute;
    std::vector<std::shared_ptr<const Spectrum>> spectra;
};

KernelSpectra::KernelSpectra() : kept_(std::make_shared<Kept>()) {}

void KernelSpectra::share_kept_with(const KernelSpectra& other) {
    kept_ = other.kept_;
}

std::shared_ptr<const KernelSpectra::Spectrum> KernelSpectra::find(int width, int height,
                                                                   int radius, int mode) const {
    std::lock_guard<std::mutex> lock(kept_->mutex);
    for (const std::shared_ptr<const Spectrum>& s : kept_->spectra)
        if (s->width == width && s->height == height && s->radius == radius && s->mode == mode)
            return s;
    return nullptr;
}

std::unique_lock<std::mutex> KernelSpectra::computing() const {
    return std::unique_lock<std::mutex>(kept_->compute);
}

void KernelSpectra::keep(std::shared_ptr<const Spectrum> spectrum) {
    std::lock_guard<std::mutex> lock(kept_->mutex);
    // Another thread may have kept the same kernel meanwhile.
    for (const std::shared_ptr<const Spectrum>& s : kept_->spectra)
        if (s->width == spectrum->width && s->height == spectrum->height &&
            s->radius == spectrum->radius && s->mode == spectrum->mode)
            return;
    if (kept_->spectra.size() == Kept::kKept) kept_->spectra.erase(kept_->spectra.begin());
    kept_->spectra.push_back(std::move(spectrum));
}

int fft_filter(std::span<float> signal, int num_of_dim, std::span<const int> size, int radius,
               int filter_mode) {
    KernelSpectra spectra;
    return fft_filter(signal, num_of_dim, size, radius, filter_mode, spectra);
}

int fft_filter(std::span<float> signal, int num_of_dim, std::span<const int> size, int radius,
               int filter_mode, KernelSpectra& spectra) {
    if (num_of_dim != 2) {
        std::fprintf(stderr, "\n %s: Wrong number of dimensions (%d)!", kFilterName, num_of_dim);
        std::fprintf(stderr, "\n %s: Must be 2!", kFilterName);
        return abort_filter(1);
    }
    if (signal.data() == nullptr) {
        std::fprintf(stderr, "\n %s: signal pointer is NULL!", kFilterName);
        return abort_filter(2);
    }
    if (size.data() == nullptr) {
        std::fprintf(stderr, "\n %s: Array of sizes is NULL!", kFilterName);
        return abort_filter(3);
    }
    if (size.size() < 2 || size[0] < 0 || size[1] < 0 || size[0] > kMaxExtent ||
        size[1] > kMaxExtent) {
        std::fprintf(stderr, "\n %s: Array of sizes is not valid!", kFilterName);
        return abort_filter(3);
    }
    const int sx = size[0];
    const int sy = size[1];
    if (static_cast<long long>(sx) * sy > static_cast<long long>(signal.size())) {
        std::fprintf(stderr, "\n %s: signal holds fewer than %d x %d values!", kFilterName, sx, sy);
        return abort_filter(2);
    }

    const FilterGeometry geometry = fft_filter_geometry(sx, sy, radius, filter_mode);
    const int cw = geometry.container_width;
    const int ch = geometry.container_height;
    radius = geometry.radius;

    // The kernel's spectrum first (the container is only its scratch), so
    // that the signal's spectrum can be multiplied by it as it comes out of
    // the row pass. An unknown mode reports itself on every call, so only
    // known kernels are kept.
    KernelSpectra::Buffers& buffers = spectra.buffers;
    TransformWork& work = buffers.transform;
    const bool known_mode = filter_mode == LP || filter_mode == HP_X || filter_mode == HP_Y;
    std::shared_ptr<const KernelSpectra::Spectrum> kernel =
        known_mode ? spectra.find(cw, ch, radius, filter_mode) : nullptr;
    std::unique_lock<std::mutex> computing;
    if (kernel == nullptr && known_mode) {
        // Another thread may be computing it: wait, then look again.
        computing = spectra.computing();
        kernel = spectra.find(cw, ch, radius, filter_mode);
    }
    if (kernel == nullptr) {
        Matrix<double>& container = sized(buffers.container, ch, cw);
        // The kernel's transform goes through the signal's matrices, which
        // are filled afresh below.
        Matrix<double>& kernel_re = sized(buffers.real, ch, cw);
        Matrix<double>& kernel_im = sized(buffers.imag, ch, cw);
        write_kernel(container, cw, ch, radius, filter_mode);
        const int err = forward_2d(container, kernel_re, kernel_im, cw, ch, work);
        if (err != 0) return err;
        auto fresh = std::make_shared<KernelSpectra::Spectrum>();
        *fresh = {cw, ch, radius, filter_mode, {}, {}};
        to_row_planes(kernel_re, kernel_im, cw, ch, fresh->re, fresh->im);
        kernel = std::move(fresh);
        if (known_mode) spectra.keep(kernel);
    }
    if (computing.owns_lock()) computing.unlock();

    // Signal spectrum times kernel spectrum, then back; only the signal's
    // rows and columns of the result are worked out to the end.
    Matrix<double>& Sreal = sized(buffers.real, ch, cw);
    Matrix<double>& Simag = sized(buffers.imag, ch, cw);
    const int x_off = geometry.x_off;
    const int y_off = geometry.y_off;
    if (!prepare_line_work(work.columns, ch) || !prepare_line_work(work.rows, cw))
        return report_fft_no_work("fft_2Do");
    BlockedSpectrum spectrum{Sreal.data(), Simag.data(), cw, ch};
    padded_column_pass(signal, sx, padding_map(sx, sy, x_off, y_off, cw, ch), spectrum);
    row_pass_times_kernel(spectrum, *kernel, work.rows);

    inverse_column_pass(spectrum, 1.0 / ch, y_off, y_off + sy);
    row_pass_to_signal(spectrum, y_off, x_off, signal, sx, sy, work.rows);
    return 0;
}

}  // namespace orva
