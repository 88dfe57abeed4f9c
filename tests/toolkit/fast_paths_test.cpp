// The toolkit's fast routines against their plain versions on seeded input:
// word-wise byte scans, the floor without a library call, and the linear-time
// order statistic.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "toolkit/byte_scan.h"
#include "toolkit/fast_floor.h"
#include "toolkit/heap_sort.h"
#include "toolkit/order_statistics.h"

namespace orva {
namespace {

TEST(ByteScan, AgreesWithAPlainWalkOnSparseRows) {
    // Every length around the word and block sizes, zero to three nonzero
    // bytes anywhere, unaligned starts, and nonzero bytes just outside the row.
    std::mt19937 rng(97);
    for (std::size_t n = 0; n <= 100; ++n) {
        for (int trial = 0; trial < 60; ++trial) {
            std::vector<unsigned char> buf(n + 4, 0);
            unsigned char* row = buf.data() + trial % 3;
            row[n] = 9;
            if (trial % 3) buf[0] = 7;  // and one just before it
            for (int k = 0; k < trial % 4 && n > 0; ++k)
                row[rng() % n] = static_cast<unsigned char>(1 + rng() % 255);
            std::size_t first = 0, last = n;
            while (first < n && row[first] == 0) ++first;
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

TEST(FastFloor, IsTheLibraryFloorAndItsClampToAByte) {
    // Integers, halves and their neighbours, both zeros, huge values, and
    // seeded values in the ranges the callers use.
    std::vector<double> values = {0.0, -0.0, 1e-300, -1e-300, 4503599627370496.0, 1e18, -1e18,
                                  1e9, -1e9, 255.0,  256.0,   9007199254740993.0};
    for (int k = -600; k <= 600; ++k)
        for (double x : {k * 0.5, std::nextafter(k * 0.5, -1e9), std::nextafter(k * 0.5, 1e9)})
            values.push_back(x);
    std::mt19937_64 rng(123);
    std::uniform_real_distribution<double> wide(-1e6, 1e6), around(-20.0, 280.0);
    for (int k = 0; k < 20000; ++k) values.push_back(k % 2 ? wide(rng) : around(rng));
    for (double v : values) {
        const double f = std::floor(v);
        ASSERT_EQ(floor_to_long(v), static_cast<long>(f)) << v;
        const unsigned char byte = f < 0.0 ? 0 : f > 255.0 ? 255 : static_cast<unsigned char>(f);
        ASSERT_EQ(floor_to_byte(v), byte) << v;
    }
}

TEST(KthSmallest, GivesTheHeapSortedValueAtEveryRank) {
    // Many ties, zeros of both signs, infinities; with a NaN the heap sort's
    // own order is the one to reproduce.
    const float inf = std::numeric_limits<float>::infinity();
    const float fixed[] = {0.0f, -0.0f, inf, -inf};
    std::mt19937 rng(4242);
    for (std::size_t n : {1u, 2u, 7u, 64u, 257u, 3000u}) {
        for (bool with_nan : {false, true}) {
            std::vector<float> values(n);
            for (float& x : values) {
                const int k = static_cast<int>(rng() % 10);
                x = k < 4   ? fixed[k]
                    : k < 6 ? static_cast<float>(rng() % 11) - 5.0f
                            : static_cast<float>(rng() % 20000) / 100.0f - 100.0f;
            }
            if (with_nan) values[rng() % n] = std::numeric_limits<float>::quiet_NaN();
            std::vector<float> sorted = values;
            heap_sort_f_(sorted.size(), sorted);
            for (std::size_t k = 0; k < n; ++k) {
                std::vector<float> work = values;
                const float got = kth_smallest(work, k);
                ASSERT_TRUE(got == sorted[k] || (std::isnan(got) && std::isnan(sorted[k])))
                    << "n " << n << " k " << k << " nan " << with_nan;
            }
        }
    }
}

}  // namespace
}  // namespace orva
