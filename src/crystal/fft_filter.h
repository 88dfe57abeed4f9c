// Directional filtering of float images through padded two-dimensional FFTs.
//
// fft_filter smooths (LP) or takes a second derivative of a Gaussian along x
// (HP_X) or y (HP_Y) of a row-major float image, in place. The image is placed
// in the middle of a power-of-two container of doubles, mirrored outwards
// (half-sample reflection), transformed, multiplied by the transform of the
// kernel and transformed back: a cyclic convolution over the container.
// Status: 0; 1 wrong number of dimensions; 2 no signal (or fewer values than
// its sizes); 3 no sizes (or fewer than two); 7 transform work arrays not
// allocated. An unknown mode filters with the identity and returns 0.
//
// Kernels are centred at cell (0, 0) and wrap around: offset i (column) and
// j (row) live at column i (+ width if i < 0) and row j (+ height if j < 0).
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "toolkit/arrays.h"

namespace orva {

enum FilterMode { LP = 0, HP_X = 1, HP_Y = 2 };

// Container sides (smallest power of two >= 32 strictly above each extent),
// offsets of the signal in it, and the radius handed to the kernel builder.
struct FilterGeometry {
    int container_width = 0;
    int container_height = 0;
    int x_off = 0;
    int y_off = 0;
    int radius = 0;
};
FilterGeometry fft_filter_geometry(int width, int height, int radius, int filter_mode);

// signal: size[0] columns by size[1] rows; radius <= 0 picks one from the
// container size.
int fft_filter(std::span<float> signal, int num_of_dim, std::span<const int> size, int radius,
               int filter_mode);

// Lines of one transform length worked on together (pair j of line b at
// j * block + b), kept between the passes of a filtering and from filtering
// to filtering.
struct TransformLines {
    int points = 0;  // complex points per line
    std::vector<double> re, im;
};
struct TransformWork {
    TransformLines columns;
    TransformLines rows;
};

// Kernel spectra of earlier filterings, for a caller that filters many images:
// the transform of a kernel depends only on the container sides, the radius
// and the mode, so it is computed once for each (the last few are kept). The
// working matrices of the last filtering are kept too, so that a filtering of
// the same container size needs no fresh memory. The kept spectra can be
// shared by the KernelSpectra of several threads (share_kept_with); the
// working matrices are each object's own.
class KernelSpectra {
  public:
    // The kernel's transform, rows in blocks of kLineBlock laid out as the
    // row transforms' planes: value (y, x) of the block starting at row y0
    // (nb rows) at y0 * width + x * nb + (y - y0).
    struct Spectrum {
        int width = 0, height = 0, radius = 0, mode = 0;
        std::vector<double> re, im;
    };
    KernelSpectra();
    // From now on this object finds and keeps its spectra among other's.
    void share_kept_with(const KernelSpectra& other);
    std::shared_ptr<const Spectrum> find(int width, int height, int radius, int mode) const;
    void keep(std::shared_ptr<const Spectrum> spectrum);
    // Held while a missing spectrum is computed, so that the threads sharing
    // the kept spectra compute each one once.
    std::unique_lock<std::mutex> computing() const;

    struct Buffers {
        Matrix<double> container, real, imag;
        TransformWork transform;
    };
    Buffers buffers;

  private:
    struct Kept;
    std::shared_ptr<Kept> kept_;
};

// The same filtering, taking the kernel's transform from `spectra` when it is
// there and adding it otherwise. The results are identical to the call above.
int fft_filter(std::span<float> signal, int num_of_dim, std::span<const int> size, int radius,
               int filter_mode, KernelSpectra& spectra);

// Forward transform of the real matrix container (dimy rows of dimx) into
// Real/Imag: all columns first, then all rows.
int fft_2Do(const Matrix<double>& container, Matrix<double>& Real, Matrix<double>& Imag, int dimx,
            int dimy);
// Inverse of fft_2Do, in place, scaled by 1/dimy after the columns and 1/dimx
// after the rows.
int ffti_2Do(Matrix<double>& Real, Matrix<double>& Imag, int dimx, int dimy);

// Kernel builders: fill all width x height cells and return the radius used
// (0 becomes 1, at most half the smaller side, never 0; a negative radius is
// kept and gives the kernel of its magnitude). The log stream is not written.
int set_gaussian_lp(Matrix<double>& lp_ptr, int width, int height, int radius, std::FILE* logfile);
int set_gaussian_hp_x(Matrix<double>& filt_ptr, int width, int height, int radius,
                      std::FILE* logfile);
int set_gaussian_hp_y(Matrix<double>& filt_ptr, int width, int height, int radius,
                      std::FILE* logfile);

}  // namespace orva
