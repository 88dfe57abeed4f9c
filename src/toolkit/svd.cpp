// Golub-Reinsch singular value decomposition: Householder reduction to upper
// bidiagonal form, accumulation of the right and left transformations, then
// implicit-shift QR sweeps on the bidiagonal form with Givens rotations.
// Conventions and the non-convergence exit are described in svd.h.
#include "toolkit/svd.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

// Householder reduction of a to bidiagonal form: diagonal into w, the
// super-diagonal into rv1 (rv1[0] = 0). Returns anorm.
double bidiagonalise(Matrix<double>& a, int M, int N, std::span<double> w,
                     std::vector<double>& rv1) {
    double g = 0.0, scale = 0.0, anorm = 0.0;
    for (int i = 0; i < N; i++) {
        const int l = i + 1;
        rv1[i] = scale * g;
        g = 0.0;
        double s = 0.0;
        scale = 0.0;
        // Column i below the diagonal.
        if (i < M) {
            for (int k = i; k < M; k++) scale += std::fabs(a[k][i]);
            if (scale != 0.0) {
                for (int k = i; k < M; k++) {
                    a[k][i] /= scale;
                    s += a[k][i] * a[k][i];
                }
                double f = a[i][i];
                g = -with_sign(std::sqrt(s), f);
                const double h = f * g - s;
                a[i][i] = f - g;
                for (int j = l; j < N; j++) {
                    s = 0.0;
                    for (int k = i; k < M; k++) s += a[k][i] * a[k][j];
                    f = s / h;
                    for (int k = i; k < M; k++) a[k][j] += f * a[k][i];
                }
                for (int k = i; k < M; k++) a[k][i] *= scale;
            }
        }
        w[i] = scale * g;
        g = 0.0;
        s = 0.0;
        scale = 0.0;
        // Row i right of the super-diagonal.
        if (i < M && i != N - 1) {
            for (int k = l; k < N; k++) scale += std::fabs(a[i][k]);
            if (scale != 0.0) {
                for (int k = l; k < N; k++) {
                    a[i][k] /= scale;
                    s += a[i][k] * a[i][k];
                }
                const double f = a[i][l];
                g = -with_sign(std::sqrt(s), f);
                const double h = f * g - s;
                a[i][l] = f - g;
                for (int k = l; k < N; k++) rv1[k] = a[i][k] / h;
                for (int j = l; j < M; j++) {
                    s = 0.0;
                    for (int k = l; k < N; k++) s += a[j][k] * a[i][k];
                    for (int k = l; k < N; k++) a[j][k] += s * rv1[k];
                }
                for (int k = l; k < N; k++) a[i][k] *= scale;
            }
        }
        anorm = std::max(anorm, std::fabs(w[i]) + std::fabs(rv1[i]));
    }
    return anorm;
}

// Right-hand transformations into v, from the last index down.
void accumulate_right(const Matrix<double>& a, int N, const std::vector<double>& rv1,
                      Matrix<double>& v) {
    double g = 0.0;
    int l = N;
    for (int i = N - 1; i >= 0; i--) {
        if (i < N - 1) {
            if (g != 0.0) {
                // Double division avoids a possible underflow.
                for (int j = l; j < N; j++) v[j][i] = (a[i][j] / a[i][l]) / g;
                for (int j = l; j < N; j++) {
                    double s = 0.0;
                    for (int k = l; k < N; k++) s += a[i][k] * v[k][j];
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
void accumulate_left(Matrix<double>& a, int M, int N, std::span<const double> w) {
    for (int i = std::min(M, N) - 1; i >= 0; i--) {
        const int l = i + 1;
        double g = w[i];
        for (int j = l; j < N; j++) a[i][j] = 0.0;
        if (g != 0.0) {
            g = 1.0 / g;
            for (int j = l; j < N; j++) {
                double s = 0.0;
                for (int k = l; k < M; k++) s += a[k][i] * a[k][j];
                const double f = (s / a[i][i]) * g;
                for (int k = i; k < M; k++) a[k][j] += f * a[k][i];
            }
            for (int j = i; j < M; j++) a[j][i] *= g;
        } else {
            for (int j = i; j < M; j++) a[j][i] = 0.0;
        }
        ++a[i][i];
    }
}

// Rotates columns i and j of m by (c, s): col_i' = col_i c + col_j s,
// col_j' = col_j c - col_i s.
void rotate_columns(Matrix<double>& m, int rows, int i, int j, double c, double s) {
    for (int r = 0; r < rows; r++) {
        const double y = m[r][i];
        const double z = m[r][j];
        m[r][i] = y * c + z * s;
        m[r][j] = z * c - y * s;
    }
}

// Diagonalises the bidiagonal form (w, rv1) by implicit-shift QR sweeps.
void diagonalise(Matrix<double>& a, int M, int N, std::span<double> w, std::vector<double>& rv1,
                 Matrix<double>& v, double anorm) {
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
                    rotate_columns(a, M, nm, i, c, s);
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
                rotate_columns(a, M, j, i, c, s);
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
    const double anorm = bidiagonalise(a, M, N, w, rv1);
    accumulate_right(a, N, rv1, v);
    accumulate_left(a, M, N, w);
    diagonalise(a, M, N, w, rv1, v, anorm);
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
