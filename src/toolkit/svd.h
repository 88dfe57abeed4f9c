// Singular value decomposition (Golub-Reinsch) and the solve built on it.
//
// A is M x N (M rows, N columns, M >= N or M < N both work; surface fits use
// many more rows than columns), element (i, j) is row i, column j. On return
// A = U * diag(w) * transpose(V): U (M x N, orthonormal columns) replaces A,
// w holds the N singular values (all >= 0, not sorted) and V (N x N) is V
// itself, not its transpose. A that does not converge within 30 QR sweeps per
// value ends the program with "\nNo convergence after 30 iterations(SVD)\n"
// and exit status 8. The zero matrix gives all singular values 0. Matrices or
// vectors smaller than the stated sizes are a programming error and end the
// program with status 4, naming the routine.
#pragma once

#include <span>

#include "toolkit/arrays.h"

namespace orva {

// Exit status of a decomposition that does not converge.
constexpr int SVD_NO_CONVERGENCE = 8;

// Decomposes the M x N matrix a in place (a becomes U); w needs N entries,
// v at least N x N.
void singvaldec(Matrix<double>& a, int M, int N, std::span<double> w, Matrix<double>& v);

// x = V * diag(1/w) * transpose(U) * b for U (M x N), w (N), V (N x N), b (M),
// x (N). A singular value that is exactly 0 contributes 0 instead of 1/w, so
// zeroing the negligible ones first gives the minimum-norm least-squares x.
void backsubs(const Matrix<double>& u, std::span<const double> w, const Matrix<double>& v, int M,
              int N, std::span<const double> b, std::span<double> x);

// sqrt(a*a + b*b) without overflow or underflow of the squares; 0 for (0, 0).
double euclid_dist(double a, double b);

}  // namespace orva
