// Radix-2 FFT and Gaussian smoothing for the TELKU detector.
//
// fft_1D: iterative Cooley-Tukey with bit-reversal permutation; the twiddle of
// each stage comes from the half-angle recurrence (c, s) = (-1, 0) ->
// (sqrt((1 + c)/2), -/+ sqrt((1 - c)/2)), so the numbers are those of this
// recurrence, not of a table. dir = 1 is forward (negative exponent, no
// scaling), dir = -1 inverse (divided by the length).
// fft_2D / ffti_2D: columns (dimy points) first, then rows (dimx points);
// matrices are row-major, row = y. Every line gets fft_1D's arithmetic exactly
// (its twiddles from the same recurrence, the same butterflies, the same
// division), but the lines of a pass run side by side through the toolkit's
// planar butterflies, which use vector arithmetic.
// fast_convolve_2D: the signal sits at the origin of a power-of-two container
// (>= 32, >= extent, no mirror padding, rest 0), so the smoothing wraps around
// the container; the kernel is set_gaussian_lp with the radius as given (the
// builder clamps it to half the smaller side). The kernel's spectrum depends
// only on the container and the radius, so each thread keeps the last few it
// computed, and its work planes, from call to call. Status codes as in the
// header; an empty extent leaves the signal as it is.
#include "v23/telku_convolution.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

#include "crystal/fft_filter.h"
#include "toolkit/fft.h"
#include "toolkit/vector_clones.h"

namespace orva {
namespace {

constexpr const char* kConvolveName = "fast_convolve_2D";
constexpr int kMinSide = 32;
constexpr int kMaxExtent = 1 << 24;

bool is_power_of_two(int m) {
    return m >= 1 && (m & (m - 1)) == 0;
}

bool holds(const Matrix<double>& m, int dimx, int dimy) {
    return dimx >= 1 && dimy >= 1 && m.rows() >= dimy && m.cols() >= dimx;
}

constexpr int kColumnStrip = 64;  // columns per pass: a strip of both planes stays in the cache
constexpr int kRowBlock = 64;     // rows transformed together through the work planes

// fft_1D's twiddles of every stage for m points, in the layout fft_planes
// reads (stage of span h from pair h - 1 on), from the same recurrence run the
// same way, so every butterfly sees the factors fft_1D would use.
const std::vector<double>& recurrence_twiddles(int m, int dir) {
    thread_local std::unordered_map<int, std::vector<double>> cache;
    auto [it, fresh] = cache.try_emplace(dir == 1 ? m : -m);
    if (fresh) {
        std::vector<double>& table = it->second;
        table.resize(2 * static_cast<std::size_t>(std::max(m - 1, 0)));
        double c = -1.0;
        double s = 0.0;
        for (int span = 1; span < m; span <<= 1) {
            double* w = table.data() + 2 * (span - 1);
            double u_re = 1.0;
            double u_im = 0.0;
            for (int group = 0; group < span; ++group) {
                w[2 * group] = u_re;
                w[2 * group + 1] = u_im;
                const double z = u_re * c - u_im * s;
                u_im = u_re * s + u_im * c;
                u_re = z;
            }
            s = std::sqrt((1.0 - c) / 2.0);
            if (dir == 1) s = -s;
            c = std::sqrt((1.0 + c) / 2.0);
        }
    }
    return it->second;
}

// Divides the first n values of each of `lines` lines (stride apart) by m, as
// fft_1D finishes an inverse transform.
ORVA_VECTOR_CLONES
void divide_lines(double* re, double* im, int lines, int n, std::size_t stride, int m) {
    const double d = static_cast<double>(m);
    for (int l = 0; l < lines; ++l) {
        double* __restrict r = re + l * stride;
        for (int k = 0; k < n; ++k) r[k] /= d;
        double* __restrict i = im + l * stride;
        for (int k = 0; k < n; ++k) i[k] /= d;
    }
}

// Four doubles, and the 4 x 4 transpose of four rows of them.
typedef double Quad __attribute__((vector_size(32)));
typedef long long QuadIndex __attribute__((vector_size(32)));

// Passed by reference: a vector argument or result would change the calling
// convention between the baseline and the AVX2 copies.
inline void load_quad(Quad& q, const double* p) {
    std::memcpy(&q, p, sizeof q);
}

inline void store_quad(double* p, const Quad& q) {
    std::memcpy(p, &q, sizeof q);
}

inline void transpose_quads(Quad& a, Quad& b, Quad& c, Quad& d) {
    const Quad ab_even = __builtin_shuffle(a, b, QuadIndex{0, 4, 2, 6});
    const Quad ab_odd = __builtin_shuffle(a, b, QuadIndex{1, 5, 3, 7});
    const Quad cd_even = __builtin_shuffle(c, d, QuadIndex{0, 4, 2, 6});
    const Quad cd_odd = __builtin_shuffle(c, d, QuadIndex{1, 5, 3, 7});
    a = __builtin_shuffle(ab_even, cd_even, QuadIndex{0, 1, 4, 5});
    b = __builtin_shuffle(ab_odd, cd_odd, QuadIndex{0, 1, 4, 5});
    c = __builtin_shuffle(ab_even, cd_even, QuadIndex{2, 3, 6, 7});
    d = __builtin_shuffle(ab_odd, cd_odd, QuadIndex{2, 3, 6, 7});
}

// plane[x * nb + b] = rows[b * stride + x] for nb rows of n values.
ORVA_VECTOR_CLONES
void rows_to_plane(const double* rows, std::size_t stride, double* plane, int nb, int n) {
    const int quads = n % 4 == 0 ? nb / 4 * 4 : 0;  // rows moved four at a time
    for (int b = quads; b < nb; ++b)
        for (int x = 0; x < n; ++x) plane[x * nb + b] = rows[b * stride + x];
    for (int b = 0; b < quads; b += 4)
        for (int x = 0; x < n; x += 4) {
            Quad q0;
            load_quad(q0, rows + b * stride + x);
            Quad q1;
            load_quad(q1, rows + (b + 1) * stride + x);
            Quad q2;
            load_quad(q2, rows + (b + 2) * stride + x);
            Quad q3;
            load_quad(q3, rows + (b + 3) * stride + x);
            transpose_quads(q0, q1, q2, q3);
            store_quad(plane + x * nb + b, q0);
            store_quad(plane + (x + 1) * nb + b, q1);
            store_quad(plane + (x + 2) * nb + b, q2);
            store_quad(plane + (x + 3) * nb + b, q3);
        }
}

// rows[b * stride + x] = plane[x * nb + b], the way back; divided by m when
// m is not 0 (the end of an inverse transform).
ORVA_VECTOR_CLONES
void plane_to_rows(const double* plane, double* rows, std::size_t stride, int nb, int n, int m) {
    const int quads = n % 4 == 0 ? nb / 4 * 4 : 0;
    const double d = static_cast<double>(m);
    for (int b = quads; b < nb; ++b)
        for (int x = 0; x < n; ++x)
            rows[b * stride + x] = m != 0 ? plane[x * nb + b] / d : plane[x * nb + b];
    const Quad dq = {d, d, d, d};
    for (int b = 0; b < quads; b += 4)
        for (int x = 0; x < n; x += 4) {
            Quad q0;
            load_quad(q0, plane + x * nb + b);
            Quad q1;
            load_quad(q1, plane + (x + 1) * nb + b);
            Quad q2;
            load_quad(q2, plane + (x + 2) * nb + b);
            Quad q3;
            load_quad(q3, plane + (x + 3) * nb + b);
            if (m != 0) {
                q0 /= dq;
                q1 /= dq;
                q2 /= dq;
                q3 /= dq;
            }
            transpose_quads(q0, q1, q2, q3);
            store_quad(rows + b * stride + x, q0);
            store_quad(rows + (b + 1) * stride + x, q1);
            store_quad(rows + (b + 2) * stride + x, q2);
            store_quad(rows + (b + 3) * stride + x, q3);
        }
}

// Every column of (re, im) in place, as fft_1D(dir, dimy, column) would leave
// it: the columns are the lines of fft_planes, a strip at a time.
void column_pass(Matrix<double>& re, Matrix<double>& im, int dimx, int dimy, int dir) {
    if (!is_power_of_two(dimy)) return;
    const std::vector<double>& twiddles = recurrence_twiddles(dimy, dir);
    const auto stride = static_cast<std::size_t>(re.cols());
    for (int x0 = 0; x0 < dimx; x0 += kColumnStrip) {
        const int nb = std::min(kColumnStrip, dimx - x0);
        fft_planes(dimy, twiddles, re[0] + x0, im[0] + x0, nb, stride);
    }
    if (dir == -1) divide_lines(re[0], im[0], dimy, dimx, stride, dimy);
}

// Rows y_begin .. y_end - 1 of (re, im) in place, each as fft_1D(dir, dimx,
// row) would leave it: blocks of rows are turned into planes, transformed and
// turned back.
int row_pass(Matrix<double>& re, Matrix<double>& im, int dimx, int y_begin, int y_end, int dir,
             const char* name) {
    if (!is_power_of_two(dimx) || y_begin >= y_end) return 0;
    thread_local std::vector<double> work_re;
    thread_local std::vector<double> work_im;
    const std::size_t values = static_cast<std::size_t>(dimx) * kRowBlock;
    try {
        if (work_re.size() < values) work_re.resize(values);
        if (work_im.size() < values) work_im.resize(values);
    } catch (const std::bad_alloc&) {
        return report_fft_no_work(name);
    }
    const std::vector<double>& twiddles = recurrence_twiddles(dimx, dir);
    double* pr = work_re.data();
    double* pi = work_im.data();
    for (int y0 = y_begin; y0 < y_end; y0 += kRowBlock) {
        const int nb = std::min(kRowBlock, y_end - y0);
        const auto stride = static_cast<std::size_t>(re.cols());
        rows_to_plane(re[y0], stride, pr, nb, dimx);
        rows_to_plane(im[y0], stride, pi, nb, dimx);
        fft_planes(dimx, twiddles, pr, pi, nb, static_cast<std::size_t>(nb));
        const int divisor = dir == -1 ? dimx : 0;
        plane_to_rows(pr, re[y0], stride, nb, dimx, divisor);
        plane_to_rows(pi, im[y0], stride, nb, dimx, divisor);
    }
    return 0;
}

// Transforms every column of (re_in, im_in) into (re_out, im_out) and then the
// rows of (re_out, im_out) in `rows` in place, each line exactly as fft_1D
// would. im_in null means a real input. A length that is no power of two
// leaves its lines as they are, as fft_1D does.
int transform_2d(const Matrix<double>& re_in, const Matrix<double>* im_in, Matrix<double>& re_out,
                 Matrix<double>& im_out, int dimx, int dimy, int dir, const char* name,
                 std::span<const RowRange> rows) {
    if (!holds(re_in, dimx, dimy) || (im_in && !holds(*im_in, dimx, dimy)) ||
        !holds(re_out, dimx, dimy) || !holds(im_out, dimx, dimy))
        return report_fft_no_work(name);
    for (int y = 0; y < dimy; ++y) {
        if (&re_in != &re_out) std::copy_n(re_in[y], dimx, re_out[y]);
        if (im_in == nullptr)
            std::fill_n(im_out[y], dimx, 0.0);
        else if (im_in != &im_out)
            std::copy_n((*im_in)[y], dimx, im_out[y]);
    }
    column_pass(re_out, im_out, dimx, dimy, dir);
    for (const RowRange& r : rows) {
        const int err =
            row_pass(re_out, im_out, dimx, std::max(r.begin, 0), std::min(r.end, dimy), dir, name);
        if (err != 0) return err;
    }
    return 0;
}

int transform_2d(const Matrix<double>& re_in, const Matrix<double>* im_in, Matrix<double>& re_out,
                 Matrix<double>& im_out, int dimx, int dimy, int dir, const char* name) {
    const RowRange all{0, dimy};
    return transform_2d(re_in, im_in, re_out, im_out, dimx, dimy, dir, name, {&all, 1});
}

// Spectra of the smoothing kernels used last (the most recent last): a
// Gaussian's spectrum depends only on the container and the radius.
class GaussianSpectra {
  public:
    struct Spectrum {
        int width = 0, height = 0, radius = 0, mode = 0;
        Matrix<double> re, im;
    };
    const Spectrum* find(int width, int height, int radius, int mode) const {
        for (const Spectrum& s : spectra_)
            if (s.width == width && s.height == height && s.radius == radius && s.mode == mode)
                return &s;
        return nullptr;
    }
    void keep(Spectrum spectrum) {
        if (spectra_.size() == kKept) spectra_.erase(spectra_.begin());
        spectra_.push_back(std::move(spectrum));
    }

  private:
    static constexpr std::size_t kKept = 4;
    std::vector<Spectrum> spectra_;
};

// Work planes of fast_convolve_2D and the spectra of the kernels it used.
struct ConvolveWork {
    Matrix<double> real;
    Matrix<double> imag;
    GaussianSpectra kernels;
};

// Points `kernel` at the spectrum of the smoothing kernel of filter_mode on a
// cw x ch container: kept from an earlier call for a Gaussian, computed anew
// (with its message) for the identity of an unsupported mode.
int kernel_spectrum(GaussianSpectra& kept, int cw, int ch, int radius, int filter_mode,
                    const GaussianSpectra::Spectrum*& kernel) {
    if (filter_mode == 0) {
        kernel = kept.find(cw, ch, radius, LP);
        if (kernel != nullptr) return 0;
    }
    Matrix<double> container = matrix(ch, cw);
    if (filter_mode == 0) {
        set_gaussian_lp(container, cw, ch, radius, stdout);
    } else {
        container[0][0] = 1.0;
        std::fprintf(stderr, "\n %s: This filter_mode is not supported (%d)!", kConvolveName,
                     filter_mode);
    }
    GaussianSpectra::Spectrum fresh{cw, ch, radius, LP, matrix(ch, cw), matrix(ch, cw)};
    const int err = fft_2D(container, fresh.re, fresh.im, cw, ch);
    if (err != 0) return err;
    if (filter_mode == 0) {
        kept.keep(std::move(fresh));
        kernel = kept.find(cw, ch, radius, LP);
    } else {
        thread_local GaussianSpectra::Spectrum identity;
        identity = std::move(fresh);
        kernel = &identity;
    }
    return 0;
}

int abort_convolve(int code) {
    std::fprintf(stderr, "\n %s: abort!", kConvolveName);
    return code;
}

}  // namespace

void fft_1D(int dir, int m, std::span<double> x, std::span<double> y) {
    if (!is_power_of_two(m) || x.size() < static_cast<std::size_t>(m) ||
        y.size() < static_cast<std::size_t>(m))
        return;

    // Bit-reversal permutation.
    const int half = m >> 1;
    int j = 0;
    for (int i = 0; i < m - 1; ++i) {
        if (i < j) {
            std::swap(x[i], x[j]);
            std::swap(y[i], y[j]);
        }
        int k = half;
        while (k <= j) {
            j -= k;
            k >>= 1;
        }
        j += k;
    }

    // Butterfly stages of doubling span; (c, s) is the stage's unit rotation.
    double c = -1.0;
    double s = 0.0;
    for (int span = 1; span < m; span <<= 1) {
        const int step = span << 1;
        double u_re = 1.0;
        double u_im = 0.0;
        for (int group = 0; group < span; ++group) {
            for (int i = group; i < m; i += step) {
                const int i1 = i + span;
                const double t_re = u_re * x[i1] - u_im * y[i1];
                const double t_im = u_re * y[i1] + u_im * x[i1];
                x[i1] = x[i] - t_re;
                y[i1] = y[i] - t_im;
                x[i] += t_re;
                y[i] += t_im;
            }
            const double z = u_re * c - u_im * s;
            u_im = u_re * s + u_im * c;
            u_re = z;
        }
        s = std::sqrt((1.0 - c) / 2.0);
        if (dir == 1) s = -s;
        c = std::sqrt((1.0 + c) / 2.0);
    }

    if (dir == -1) {
        for (int i = 0; i < m; ++i) {
            x[i] /= static_cast<double>(m);
            y[i] /= static_cast<double>(m);
        }
    }
}

int fft_2D(const Matrix<double>& ImageIn, Matrix<double>& Real, Matrix<double>& Img, int dimx,
           int dimy) {
    return transform_2d(ImageIn, nullptr, Real, Img, dimx, dimy, 1, "fft_2D");
}

int ffti_2D(Matrix<double>& Real, Matrix<double>& Img, int dimx, int dimy) {
    return transform_2d(Real, &Img, Real, Img, dimx, dimy, -1, "ffti_2D");
}

int ffti_2D(Matrix<double>& Real, Matrix<double>& Img, int dimx, int dimy,
            std::span<const RowRange> rows) {
    return transform_2d(Real, &Img, Real, Img, dimx, dimy, -1, "ffti_2D", rows);
}

int fast_convolve_side(int extent) {
    int side = kMinSide;
    while (side < extent) side *= 2;
    return side;
}

int fast_convolve_2D(std::span<double> signal, int num_of_dim, std::span<const int> size,
                     int radius, int filter_mode) {
    if (num_of_dim != 2) {
        std::fprintf(stderr, "\n %s: Wrong number of dimensions (%d)!", kConvolveName, num_of_dim);
        std::fprintf(stderr, "\n %s: Must be 2!", kConvolveName);
        return abort_convolve(1);
    }
    if (signal.data() == nullptr) {
        std::fprintf(stderr, "\n %s: At least one of the data pointer is NULL!", kConvolveName);
        return abort_convolve(2);
    }
    if (size.data() == nullptr || size.size() < 2) {
        std::fprintf(stderr, "\n %s: Array of sizes is NULL!", kConvolveName);
        return abort_convolve(3);
    }
    const int sx = size[0];
    const int sy = size[1];
    if (sx < 0 || sy < 0 || sx > kMaxExtent || sy > kMaxExtent) {
        std::fprintf(stderr, "\n %s: Array of sizes is not valid!", kConvolveName);
        return abort_convolve(3);
    }
    if (static_cast<long long>(sx) * sy > static_cast<long long>(signal.size())) {
        std::fprintf(stderr, "\n %s: At least one of the data pointer is NULL!", kConvolveName);
        return abort_convolve(2);
    }
    if (sx == 0 || sy == 0) return 0;

    const int cw = fast_convolve_side(sx);
    const int ch = fast_convolve_side(sy);
    // The signal's spectrum is computed in place in work planes kept from call
    // to call; only what the signal does not cover is cleared.
    thread_local ConvolveWork work;
    if (work.real.rows() != ch || work.real.cols() != cw) {
        work.real = matrix(ch, cw);
        work.imag = matrix(ch, cw);
    }
    Matrix<double>& Sreal = work.real;
    Matrix<double>& Simag = work.imag;
    for (int y = 0; y < ch; ++y) {
        double* row = Sreal[y];
        const int copied = y < sy ? sx : 0;
        if (copied > 0) std::copy_n(signal.data() + static_cast<long>(y) * sx, sx, row);
        std::fill(row + copied, row + cw, 0.0);
    }

    int err = fft_2D(Sreal, Sreal, Simag, cw, ch);
    if (err != 0) return err;

    const GaussianSpectra::Spectrum* kernel = nullptr;
    err = kernel_spectrum(work.kernels, cw, ch, radius, filter_mode, kernel);
    if (err != 0) return err;

    // Complex product of the spectra: a cyclic convolution over the container.
    const std::span<double> sr = Sreal.flat();
    const std::span<double> si = Simag.flat();
    const std::span<const double> fr = kernel->re.flat();
    const std::span<const double> fi = kernel->im.flat();
    for (std::size_t k = 0; k < sr.size(); ++k) {
        const double s = sr[k];
        const double t = si[k];
        sr[k] = s * fr[k] - t * fi[k];
        si[k] = t * fr[k] + fi[k] * s;
    }

    // Only the rows of the signal are read back.
    const RowRange signal_rows{0, sy};
    err = ffti_2D(Sreal, Simag, cw, ch, {&signal_rows, 1});
    if (err != 0) return err;
    for (int y = 0; y < sy; ++y)
        std::copy_n(Sreal[y], sx, signal.data() + static_cast<long>(y) * sx);
    return 0;
}

}  // namespace orva
