#include "toolkit/order_statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "toolkit/heap_sort.h"

namespace orva {
namespace {

// Equal as the callers use the value: by comparison, or both NaN.
bool same_value(float a, float b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

// Values with many ties, zeros of both signs, negatives and infinities, as
// filtered maps and vote counts give them.
std::vector<float> random_values(std::mt19937& rng, std::size_t n, bool with_nan) {
    const float inf = std::numeric_limits<float>::infinity();
    const float fixed[] = {0.0f, -0.0f, inf, -inf};
    std::uniform_int_distribution<int> kind(0, 9), small(-5, 5);
    std::normal_distribution<float> spread(0.0f, 100.0f);
    std::vector<float> v(n);
    for (float& x : v) {
        const int k = kind(rng);
        x = k < 4 ? fixed[k] : k < 6 ? static_cast<float>(small(rng)) : spread(rng);
    }
    if (with_nan && n > 0) v[rng() % n] = std::numeric_limits<float>::quiet_NaN();
    return v;
}

TEST(KthSmallest, GivesTheHeapSortedValueAtEveryRank) {
    // With a NaN the ascending order is undefined; the heap sort's own answer
    // is the one to reproduce.
    std::mt19937 rng(4242);
    for (std::size_t n : {1u, 2u, 3u, 7u, 64u, 257u, 1000u}) {
        for (bool with_nan : {false, true}) {
            const std::vector<float> values = random_values(rng, n, with_nan);
            std::vector<float> sorted = values;
            heap_sort_f_(sorted.size(), sorted);
            for (std::size_t k = 0; k < n; ++k) {
                std::vector<float> work = values;
                ASSERT_TRUE(same_value(kth_smallest(work, k), sorted[k]))
                    << "n " << n << " k " << k << " nan " << with_nan;
            }
        }
    }
}

}  // namespace
}  // namespace orva
