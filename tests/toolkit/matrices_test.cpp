// Typed arrays (one zero-filled block per matrix, allocation failures ending
// the program with status 4, the product with a transpose), numbered
// messages, and the singular value decomposition measured by its invariants.
// (Solving through backsubs is fixed by the golden check.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "toolkit/arrays.h"
#include "toolkit/errmsg.h"
#include "toolkit/svd.h"

namespace orva {
namespace {

TEST(Arrays, MatrixRowsShareOneZeroFilledBlock) {
    Matrix<double> m = matrix(3, 4);
    ASSERT_EQ(m.rows(), 3);
    ASSERT_EQ(m.cols(), 4);
    EXPECT_EQ(m[2], m[0] + 8);
    for (double v : m.flat()) EXPECT_EQ(v, 0.0);
    EXPECT_EQ(ivector(5), std::vector<int>(5, 0));

    auto b = matrix(2, 2), c = matrix(2, 2), a = matrix(2, 2);
    std::copy_n(std::vector<double>{1, 2, 3, 4}.begin(), 4, b.data());
    std::copy_n(std::vector<double>{5, 6, 7, 8}.begin(), 4, c.data());
    multmatsqT(2, a, b, c);  // a[i][j] = row i of b times row j of c
    EXPECT_EQ(std::vector<double>(a.data(), a.data() + 4), (std::vector<double>{17, 23, 39, 53}));
}

TEST(Arrays, FailuresEndWithStatusFourNamingTheKind) {
    EXPECT_EXIT(vector(0), testing::ExitedWithCode(4), "vector");
    EXPECT_EXIT(fvector(1L << 62), testing::ExitedWithCode(4),
                "^\nvector: Cannot allocate  \nReason: Cannot allocate memory\n$");
    for (long cols : {1L << 30, 1L << 22})
        EXPECT_EXIT(smatrix(1L << 40, cols), testing::ExitedWithCode(4),
                    "^\nmatrix: Cannot allocate  \nReason: Cannot allocate memory\n$");
}

TEST(Errmsg, MessagesAndReturnValues) {
    // Codes 2 to 4 add the system's reason for the failure the caller saw.
    testing::internal::CaptureStderr();
    const int codes[] = {9,        ERR_IS_ZERO,   ERR_NOT_DEFINED, ERR_IS_SINGULAR,
                         ERR_CALL, ERR_OPEN_READ, ERR_OPEN_WRITE,  ERR_ALLOCATE};
    const int errnos[] = {0, 0, 0, 0, 0, ENOENT, EACCES, ENOMEM};
    for (int k = 0; k < 8; ++k) {
        errno = errnos[k];
        EXPECT_EQ(errmsg(codes[k], "f", "x", 3), codes[k]);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nerrmsg: error 9 is not defined\nf: Value for x is zero"
              "\nf: Value 3 for x is not definedf: Matrix x is singular"
              "\nf: Wrong command-line parameters. \n  x"
              "\nf: Cannot open x for reading\nReason: No such file or directory\n"
              "\nf: Cannot open x for writing\nReason: Permission denied\n"
              "\nf: Cannot allocate x\nReason: Cannot allocate memory\n");
}

Matrix<double> random_matrix(int rows, int cols, std::mt19937& gen) {
    std::uniform_real_distribution<double> dist(-10.0, 10.0);
    Matrix<double> m = matrix(rows, cols);
    for (double& x : m.flat()) x = dist(gen);
    return m;
}

double max_abs(const Matrix<double>& m) {
    double largest = 0.0;
    for (double x : m.flat()) largest = std::max(largest, std::fabs(x));
    return largest;
}

// Largest deviation of transpose(Q) * Q (columns 0..cols-1) from the identity.
double orthonormality_error(const Matrix<double>& q, int rows, int cols) {
    double worst = 0.0;
    for (int i = 0; i < cols; i++)
        for (int j = 0; j < cols; j++) {
            double dot = 0.0;
            for (int r = 0; r < rows; r++) dot += q[r][i] * q[r][j];
            worst = std::max(worst, std::fabs(dot - (i == j ? 1.0 : 0.0)));
        }
    return worst;
}

// Largest deviation of U * diag(w) * transpose(V) from a.
double reconstruction_error(const Matrix<double>& a, const Matrix<double>& u,
                            const std::vector<double>& w, const Matrix<double>& v, int M, int N) {
    double worst = 0.0;
    for (int i = 0; i < M; i++)
        for (int j = 0; j < N; j++) {
            double sum = 0.0;
            for (int k = 0; k < N; k++) sum += u[i][k] * w[k] * v[j][k];
            worst = std::max(worst, std::fabs(sum - a[i][j]));
        }
    return worst;
}

TEST(Svd, RandomMatricesReconstructWithOrthonormalFactors) {
    std::mt19937 gen(20240611);
    // Tall shapes as in surface fits, square ones as in the motion fit.
    const int shapes[][2] = {{1, 1}, {3, 1}, {4, 4}, {7, 3}, {50, 6}, {400, 6}, {12, 12}};
    for (const auto& shape : shapes) {
        const int M = shape[0], N = shape[1];
        SCOPED_TRACE(testing::Message() << M << " x " << N);
        const Matrix<double> a = random_matrix(M, N, gen);
        Matrix<double> u = a;
        std::vector<double> w = vector(N);
        Matrix<double> v = matrix(N, N);
        singvaldec(u, M, N, w, v);

        const double tol = 8.0 * DBL_EPSILON * (M + N);
        for (double s : w) EXPECT_GE(s, 0.0);
        EXPECT_LT(orthonormality_error(u, M, N), tol);
        EXPECT_LT(orthonormality_error(v, N, N), tol);
        EXPECT_LT(reconstruction_error(a, u, w, v, M, N), tol * max_abs(a) * N);
    }
}

TEST(Svd, NegativeDiagonalEntryKeepsItsSignInTheVectors) {
    const double diag[3] = {3.0, -2.0, 5.0};
    Matrix<double> a = matrix(3, 3);
    for (int i = 0; i < 3; i++) a[i][i] = diag[i];
    std::vector<double> w = vector(3);
    Matrix<double> v = matrix(3, 3);
    singvaldec(a, 3, 3, w, v);
    // Values stay in place (no sorting) and are the magnitudes; the sign of
    // the entry survives as opposite signs of the columns of U and V.
    for (int i = 0; i < 3; i++) {
        EXPECT_DOUBLE_EQ(w[i], std::fabs(diag[i]));
        EXPECT_DOUBLE_EQ(std::fabs(a[i][i]), 1.0);
        EXPECT_DOUBLE_EQ(a[i][i] * v[i][i], diag[i] < 0 ? -1.0 : 1.0);
    }
}

TEST(Svd, NaNInputEndsWithStatusEight) {
    Matrix<double> a = matrix(3, 3);
    for (double& x : a.flat()) x = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> w = vector(3);
    Matrix<double> v = matrix(3, 3);
    EXPECT_EXIT(singvaldec(a, 3, 3, w, v), testing::ExitedWithCode(8),
                "No convergence after 30 iterations\\(SVD\\)");
}

TEST(EuclidDist, ExactSmallAndOverflowSafe) {
    EXPECT_DOUBLE_EQ(euclid_dist(-4.0, 3.0), 5.0);
    EXPECT_EQ(euclid_dist(0.0, 0.0), 0.0);
    // Squares beyond or below the range of a double must not overflow or vanish.
    EXPECT_NEAR(euclid_dist(1e200, 1e200) / 1e200, std::sqrt(2.0), 1e-15);
    EXPECT_NEAR(euclid_dist(3e-200, 4e-200) / 1e-200, 5.0, 1e-14);
}

}  // namespace
}  // namespace orva
