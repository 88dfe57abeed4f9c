// Order statistics of byte sets from their counts, in place of sorting them:
// sorted bytes are fixed by their values, so the counts give the same k-th
// smallest value and the same sums of the n smallest or largest values that
// a sort (heap_sort_uc) followed by a scan gives.
#pragma once

#include <algorithm>
#include <array>
#include <span>

namespace orva {

// How often each byte value occurs.
using ByteCounts = std::array<long, 256>;

inline void count_bytes(std::span<const unsigned char> bytes, ByteCounts& counts) {
    counts.fill(0);
    for (unsigned char v : bytes) ++counts[v];
}

// The value at index k (0-based) of the counted bytes in ascending order;
// k must be below their number.
inline int kth_smallest_byte(const ByteCounts& counts, long k) {
    int v = 0;
    for (long seen = counts[0]; seen <= k && v < 255; seen += counts[++v]) {
    }
    return v;
}

// Sum of the n smallest (ascending) or the n largest of the counted bytes; n
// at most their number.
inline long sum_of_smallest_bytes(const ByteCounts& counts, long n) {
    long sum = 0;
    for (int v = 0; v < 256 && n > 0; ++v) {
        const long take = std::min(n, counts[v]);
        sum += take * v;
        n -= take;
    }
    return sum;
}

inline long sum_of_largest_bytes(const ByteCounts& counts, long n) {
    long sum = 0;
    for (int v = 255; v >= 0 && n > 0; --v) {
        const long take = std::min(n, counts[v]);
        sum += take * v;
        n -= take;
    }
    return sum;
}

}  // namespace orva
