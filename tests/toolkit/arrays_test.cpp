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
    EXPECT_EQ(m[1], m[0] + 4);
    EXPECT_EQ(m[2], m[0] + 8);
    for (double v : m.flat()) EXPECT_EQ(v, 0.0);
    EXPECT_EQ(ivector(5), std::vector<int>(5, 0));
    m[2][3] = 7.0;
    EXPECT_EQ(m.data()[2 * 4 + 3], 7.0);
}

TEST(Arrays, CountBelowOneEndsWithStatusFour) {
    EXPECT_EXIT(vector(0), testing::ExitedWithCode(4), "vector");
}

TEST(Arrays, FailureMessageNamesTheKindNotTheAllocator) {
    // Every vector allocator reports "vector", every matrix allocator "matrix".
    EXPECT_EXIT(fvector(1L << 62), testing::ExitedWithCode(4),
                "^\nvector: Cannot allocate  \nReason: Cannot allocate memory\n$");
    for (long cols : {1L << 30, 1L << 22})
        EXPECT_EXIT(smatrix(1L << 40, cols), testing::ExitedWithCode(4),
                    "^\nmatrix: Cannot allocate  \nReason: Cannot allocate memory\n$");
}

TEST(Arrays, MultmatsqTMultipliesByTranspose) {
    auto b = matrix(2, 2), c = matrix(2, 2), a = matrix(2, 2);
    const double bv[] = {1, 2, 3, 4}, cv[] = {5, 6, 7, 8};
    std::copy(bv, bv + 4, b.data());
    std::copy(cv, cv + 4, c.data());
    multmatsqT(2, a, b, c);  // a[i][j] = row i of b times row j of c
    EXPECT_EQ(std::vector<double>(a.data(), a.data() + 4), (std::vector<double>{17, 23, 39, 53}));
}

TEST(Errmsg, MessagesAndReturnValues) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(errmsg(9, "f", "x", 0), 9);
    EXPECT_EQ(errmsg(ERR_IS_ZERO, "f", "x", 0), ERR_IS_ZERO);
    EXPECT_EQ(errmsg(ERR_NOT_DEFINED, "f", "x", 3), ERR_NOT_DEFINED);
    EXPECT_EQ(errmsg(ERR_IS_SINGULAR, "f", "A", 0), ERR_IS_SINGULAR);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nerrmsg: error 9 is not defined\n"
              "f: Value for x is zero"
              "\nf: Value 3 for x is not defined"
              "f: Matrix A is singular");

    // Codes 2 to 4 add the system's reason for the failure the caller saw.
    testing::internal::CaptureStderr();
    EXPECT_EQ(errmsg(ERR_CALL, "main", "usage", 0), ERR_CALL);
    errno = ENOENT;
    EXPECT_EQ(errmsg(ERR_OPEN_READ, "f", "in.txt", 0), ERR_OPEN_READ);
    errno = EACCES;
    EXPECT_EQ(errmsg(ERR_OPEN_WRITE, "g", "out.txt", 0), ERR_OPEN_WRITE);
    errno = ENOMEM;
    EXPECT_EQ(errmsg(ERR_ALLOCATE, "h", "buf", 0), ERR_ALLOCATE);
    EXPECT_EQ(errmsg(0, "h", "buf", 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nmain: Wrong command-line parameters. \n  usage"
              "\nf: Cannot open in.txt for reading\nReason: No such file or directory\n"
              "\ng: Cannot open out.txt for writing\nReason: Permission denied\n"
              "\nh: Cannot allocate buf\nReason: Cannot allocate memory\n"
              "\nerrmsg: error 0 is not defined\n");
}

}  // namespace
}  // namespace orva
