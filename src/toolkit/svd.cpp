// Golub-Reinsch singular value decomposition: Householder reduction to upper
// bidiagonal form, accumulation of the right and left transformations, then
// implicit-shift QR sweeps on the bidiagonal form with Givens rotations.
// Conventions and the non-convergence exit are described in svd.h. The
// matrix is worked on as a column-major copy (kept per thread), which turns
// the long passes of tall matrices into contiguous, vectorised loops without
// changing any operation or its order.
#include "toolkit/svd.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <vector>

#include "toolkit/vector_clones.h"
#include "toolkit/program_end.h"

namespace orva {
namespace {

constexpr int MAX_SWEEP_TESTS = 30;

// |magnitude| carrying the sign of sign_of (+ for 0).
double with_sign(double magnitude, double sign_of) {
    return sign_of >= 0.0 ? std::fabs(magnitude) : -std::fabs(magnitude);
}

// Negligible relative to the norm of the bidiagonal form.
bool negligible(double value, double anorm) {
    return std::fabs(value) + anorm == anorm;
}

[[noreturn]] void no_convergence() {
    std::fprintf(stderr, "\nNo convergence after 30 iterations(SVD)\n");
    end_program(SVD_NO_CONVERGENCE);
}

// The matrix being decomposed, held column by column so that the passes
// down a column (the Householder updates, the rotations of U) run over
// contiguous memory and use vector arithmetic; every element still sees the
// operations of the row-major formulation in the same order.
struct Columns {
    int M = 0;
    int N = 0;
    std::vector<double>& data;
    double* col(int j) { return data.data() + static_cast<std::size_t>(j) * M; }
    double& at(int row, int j) { return data[static_cast<std::size_t>(j) * M + row]; }
};

// Householder reduction of a to bidiagonal form: diagonal into w, the
// super-diagonal into rv1 (rv1[0] = 0). Returns anorm. row_sum holds M values.
ORVA_VECTOR_CLONES
double bidiagonalise(Columns& a, std::span<double> w, std::vector<double>& rv1,
                     std::vector<double>& row_sum) {
    const int M = a.M;
    const int N = a.N;
    double g = 0.0, scale = 0.0, anorm = 0.0;
    for (int i = 0; i < N; i++) {
        const int l = i + 1;
        rv1[i] = scale * g;
        g = 0.0;
        double s = 0.0;
        scale = 0.0;
        // Column i below the diagonal.
        if (i < M) {
            double* ci = a.col(i);
            for (int k = i; k < M; k++) scale += std::fabs(ci[k]);
            if (scale != 0.0) {
                for (int k = i; k < M; k++) ci[k] /= scale;
                for (int k = i; k < M; k++) s += ci[k] * ci[k];
                double f = ci[i];
                g = -with_sign(std::sqrt(s), f);
                const double h = f * g - s;
                ci[i] = f - g;
                for (int j = l; j < N; j++) {
                    double* cj = a.col(j);
                    s = 0.0;
                    for (int k = i; k < M; k++) s += ci[k] * cj[k];
                    f = s / h;
                    for (int k = i; k < M; k++) cj[k] += f * ci[k];
                }
                for (int k = i; k < M; k++) ci[k] *= scale;
            }
        }
        w[i] = scale * g;
        g = 0.0;
        s = 0.0;
        scale = 0.0;
        // Row i right of the super-diagonal.
        if (i < M && i != N - 1) {
            for (int k = l; k < N; k++) scale += std::fabs(a.at(i, k));
            if (scale != 0.0) {
                for (int k = l; k < N; k++) {
                    a.at(i, k) /= scale;
                    s += a.at(i, k) * a.at(i, k);
                }
                const double f = a.at(i, l);
                g = -with_sign(std::sqrt(s), f);
                const double h = f * g - s;
                a.at(i, l) = f - g;
                for (int k = l; k < N; k++) rv1[k] = a.at(i, k) / h;
                // Every row j > i: s_j = sum over k of a[j][k] a[i][k] (k in
                // order), then a[j][k] += s_j rv1[k]; the rows side by side.
                double* sj = row_sum.data();
                for (int j = l; j < M; j++) sj[j] = 0.0;
                for (int k = l; k < N; k++) {
                    const double aik = a.at(i, k);
                    const double* ck = a.col(k);
                    for (int j = l; j < M; j++) sj[j] += ck[j] * aik;
                }
                for (int k = l; k < N; k++) {
                    const double rk = rv1[k];
                    double* ck = a.col(k);
                    for (int j = l; j < M; j++) ck[j] += sj[j] * rk;
                }
                for (int k = l; k < N; k++) a.at(i, k) *= scale;
            }
        }
        anorm = std::max(anorm, std::fabs(w[i]) + std::fabs(rv1[i]));
    }
    return anorm;
}

// Right-hand transformations into v, from the last index down.
void accumulate_right(Columns& a, int N, const std::vector<double>& rv1, Matrix<double>& v) {
    double g = 0.0;
    int l = N;
    for (int i = N - 1; i >= 0; i--) {
        if (i < N - 1) {
            if (g != 0.0) {
                // Double division avoids a possible underflow.
                for (int j = l; j < N; j++) v[j][i] = (a.at(i, j) / a.at(i, l)) / g;
                for (int j = l; j < N; j++) {
                    double s = 0.0;
                    for (int k = l; k < N; k++) s += a.at(i, k) * v[k][j];
                    for (int k = l; k < N; k++) v[k][j] += s * v[k][i];
                }
            }
            for (int j = l; j < N; j++) v[i][j] = v[j][i] = 0.0;
        }
        v[i][i] = 1.0;
        g = rv1[i];
        l = i;
    }
}

// Left-hand transformations into a, which becomes U.
ORVA_VECTOR_CLONES
void accumulate_left(Columns& a, std::span<const double> w) {
    const int M = a.M;
    const int N = a.N;
    for (int i = std::min(M, N) - 1; i >= 0; i--) {
        const int l = i + 1;
        double* ci = a.col(i);
        double g = w[i];
        for (int j = l; j < N; j++) a.at(i, j) = 0.0;
        if (g != 0.0) {
            g = 1.0 / g;
            for (int j = l; j < N; j++) {
                double* cj = a.col(j);
                double s = 0.0;
                for (int k = l; k < M; k++) s += ci[k] * cj[k];
                const double f = (s / ci[i]) * g;
                for (int k = i; k < M; k++) cj[k] += f * ci[k];
            }
            for (int j = i; j < M; j++) ci[j] *= g;
        } else {
            for (int j = i; j < M; j++) ci[j] = 0.0;
        }
        ++ci[i];
    }
}

// Rotates two columns of n values by (c, s): ci' = ci c + cj s,
// cj' = cj c - ci s.
[[gnu::always_inline]] inline void rotate(double* __restrict ci, double* __restrict cj, int n,
                                          double c, double s) {
    for (int r = 0; r < n; r++) {
        const double y = ci[r];
        const double z = cj[r];
        ci[r] = y * c + z * s;
        cj[r] = z * c - y * s;
    }
}

// The same on columns i and j of a row-major matrix.
void rotate_columns(Matrix<double>& m, int rows, int i, int j, double c, double s) {
    for (int r = 0; r < rows; r++) {
        const double y = m[r][i];
        const double z = m[r][j];
        m[r][i] = y * c + z * s;
        m[r][j] = z * c - y * s;
    }
}

// Diagonalises the bidiagonal form (w, rv1) by implicit-shift QR sweeps.
ORVA_VECTOR_CLONES
void diagonalise(Columns& a, std::span<double> w, std::vector<double>& rv1, Matrix<double>& v,
                 double anorm) {
    const int M = a.M;
    const int N = a.N;
    for (int k = N - 1; k >= 0; k--) {
        for (int test = 1; test <= MAX_SWEEP_TESTS; test++) {
            // Look for a split: rv1[l] negligible, or w[l-1] negligible.
            // rv1[0] is always 0, so l = 0 always splits.
            bool cancel = true;
            int l = k;
            for (; l >= 0; l--) {
                if (l == 0 || negligible(rv1[l], anorm)) {
                    cancel = false;
                    break;
                }
                if (negligible(w[l - 1], anorm)) break;
            }
            if (cancel) {
                // w[l-1] is negligible: chase rv1[l] out with rotations on U.
                const int nm = l - 1;
                double c = 0.0, s = 1.0;
                for (int i = l; i <= k; i++) {
                    const double f = s * rv1[i];
                    rv1[i] = c * rv1[i];
                    if (negligible(f, anorm)) break;
                    const double g = w[i];
                    double h = euclid_dist(f, g);
                    w[i] = h;
                    h = 1.0 / h;
                    c = g * h;
                    s = -f * h;
                    rotate(a.col(nm), a.col(i), M, c, s);
                }
            }
            double z = w[k];
            if (l == k) {
                // Converged: make the singular value non-negative.
                if (z < 0.0) {
                    w[k] = -z;
                    for (int j = 0; j < N; j++) v[j][k] = -v[j][k];
                }
                break;
            }
            if (test == MAX_SWEEP_TESTS) no_convergence();

            // Shift from the bottom 2 x 2 minor.
            double x = w[l];
            const int nm = k - 1;
            double y = w[nm];
            double g = rv1[nm];
            double h = rv1[k];
            double f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
            g = euclid_dist(f, 1.0);
            f = ((x - z) * (x + z) + h * ((y / (f + with_sign(g, f))) - h)) / x;

            // One QR sweep from l to k.
            double c = 1.0, s = 1.0;
            for (int j = l; j <= nm; j++) {
                const int i = j + 1;
                g = rv1[i];
                y = w[i];
                h = s * g;
                g = c * g;
                z = euclid_dist(f, h);
                rv1[j] = z;
                c = f / z;
                s = h / z;
                f = x * c + g * s;
                g = g * c - x * s;
                h = y * s;
                y *= c;
                rotate_columns(v, N, j, i, c, s);
                z = euclid_dist(f, h);
                w[j] = z;
                // A zero z leaves the rotation arbitrary; keep the last one.
                if (z != 0.0) {
                    z = 1.0 / z;
                    c = f * z;
                    s = h * z;
                }
                f = c * g + s * y;
                x = c * y - s * g;
                rotate(a.col(j), a.col(i), M, c, s);
            }
            rv1[l] = 0.0;
            rv1[k] = f;
            w[k] = x;
        }
    }
}

}  // namespace

void singvaldec(Matrix<double>& a, int M, int N, std::span<double> w, Matrix<double>& v) {
    if (M < 1 || N < 1) return;
    if (a.rows() < M || a.cols() < N || static_cast<long>(w.size()) < N || v.rows() < N ||
        v.cols() < N)
        bad_count("singvaldec", M, N);
    std::vector<double> rv1 = vector(N);
    // Column copy and row sums, kept by each thread between calls.
    thread_local std::vector<double> data;
    thread_local std::vector<double> row_sum;
    const std::size_t values = static_cast<std::size_t>(M) * static_cast<std::size_t>(N);
    try {
        if (data.size() < values) data.resize(values);
        if (row_sum.size() < static_cast<std::size_t>(M)) row_sum.resize(M);
    } catch (const std::bad_alloc&) {
        allocation_failed("vector");
    } catch (const std::length_error&) {
        allocation_failed("vector");
    }
    Columns columns{M, N, data};
    for (int r = 0; r < M; r++)
        for (int j = 0; j < N; j++) columns.at(r, j) = a[r][j];
    const double anorm = bidiagonalise(columns, w, rv1, row_sum);
    accumulate_right(columns, N, rv1, v);
    accumulate_left(columns, w);
    diagonalise(columns, w, rv1, v, anorm);
    for (int r = 0; r < M; r++)
        for (int j = 0; j < N; j++) a[r][j] = columns.at(r, j);
}

void backsubs(const Matrix<double>& u, std::span<const double> w, const Matrix<double>& v, int M,
              int N, std::span<const double> b, std::span<double> x) {
    if (M < 1 || N < 1) return;
    if (u.rows() < M || u.cols() < N || static_cast<long>(w.size()) < N || v.rows() < N ||
        v.cols() < N || static_cast<long>(b.size()) < M || static_cast<long>(x.size()) < N)
        bad_count("backsubs", M, N);
    // tmp = diag(1/w) * transpose(U) * b, with 1/0 taken as 0.
    std::vector<double> tmp = vector(N);
    for (int j = 0; j < N; j++) {
        double s = 0.0;
        if (w[j] != 0.0) {
            for (int i = 0; i < M; i++) s += u[i][j] * b[i];
            s /= w[j];
        }
        tmp[j] = s;
    }
    for (int j = 0; j < N; j++) {
        double s = 0.0;
        for (int jj = 0; jj < N; jj++) s += v[j][jj] * tmp[jj];
        x[j] = s;
    }
}

double euclid_dist(double a, double b) {
    const double absa = std::fabs(a);
    const double absb = std::fabs(b);
    if (absa > absb) {
        const double ratio = absb / absa;
        return absa * std::sqrt(1.0 + ratio * ratio);
    }
    if (absb == 0.0) return 0.0;
    const double ratio = absa / absb;
    return absb * std::sqrt(1.0 + ratio * ratio);
}

}  // namespace orva
