#include "toolkit/byte_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace orva {
namespace {

TEST(ByteScan, AgreesWithAPlainWalkOnSparseRows) {
    // Rows of every length around the word and block sizes with zero, one or
    // a few nonzero bytes anywhere, read at unaligned starts.
    std::mt19937 rng(97);
    for (std::size_t n = 0; n <= 100; ++n) {
        for (int trial = 0; trial < 60; ++trial) {
            std::vector<unsigned char> buf(n + 3, 0);
            unsigned char* row = buf.data() + trial % 3;
            const int marks = trial % 4;
            for (int k = 0; k < marks && n > 0; ++k)
                row[rng() % n] = static_cast<unsigned char>(1 + rng() % 255);
            std::size_t first = 0;
            while (first < n && row[first] == 0) ++first;
            std::size_t last = n;
            for (std::size_t i = n; i-- > 0;)
                if (row[i] != 0) {
                    last = i;
                    break;
                }
            ASSERT_EQ(first_nonzero(row, n), first) << n << " trial " << trial;
            ASSERT_EQ(last_nonzero(row, n), last) << n << " trial " << trial;
        }
    }
}

TEST(ByteScan, IgnoresBytesBeyondTheRow) {
    const std::vector<unsigned char> buf = {7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
    EXPECT_EQ(first_nonzero(buf.data() + 1, 9), 9u);
    EXPECT_EQ(last_nonzero(buf.data() + 1, 9), 9u);
    EXPECT_EQ(first_nonzero(buf.data(), 11), 0u);
    EXPECT_EQ(last_nonzero(buf.data(), 11), 10u);
}

}  // namespace
}  // namespace orva
