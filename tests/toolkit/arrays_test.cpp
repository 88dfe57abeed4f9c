// Typed arrays: one zero-filled block per matrix, allocation failures ending
// the program with status 4, the product with a transpose; numbered messages.
#include "toolkit/arrays.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "toolkit/errmsg.h"

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

}  // namespace
}  // namespace orva
