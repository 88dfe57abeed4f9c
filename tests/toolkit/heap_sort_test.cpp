// Heap sorts: the order of equal keys (the sort is not stable, and callers
// read companions at ties) against the scheme written out plainly, key-only
// sorts against std::sort, counts beyond the arrays; and the outlier cut,
// which reads that order of ties.
#include "toolkit/heap_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "toolkit/outliers.h"

namespace orva {
namespace {

// The heap scheme written out with 1-based arrays, as a second opinion on the
// order of equal keys.
void scheme_1_based(std::vector<double>& keys, std::vector<long>& pos) {
    const long n = static_cast<long>(keys.size());
    std::vector<double> ra = {0.0};
    ra.insert(ra.end(), keys.begin(), keys.end());
    std::vector<long> ia(n + 1);
    for (long p = 1; p <= n; ++p) ia[p] = p - 1;
    for (long l = n / 2 + 1, ir = n; n >= 2;) {
        double r;
        long rp;
        if (l > 1) {
            r = ra[--l], rp = ia[l];
        } else {
            r = ra[ir], rp = ia[ir];
            ra[ir] = ra[1], ia[ir] = ia[1];
            if (--ir == 1) {
                ra[1] = r, ia[1] = rp;
                break;
            }
        }
        long i = l, j = 2 * l;
        for (; j <= ir; i = j, j *= 2) {
            if (j < ir && ra[j] < ra[j + 1]) ++j;
            if (!(r < ra[j])) break;
            ra[i] = ra[j], ia[i] = ia[j];
        }
        ra[i] = r, ia[i] = rp;
    }
    keys.assign(ra.begin() + 1, ra.end());
    pos.assign(ia.begin() + 1, ia.end());
}

TEST(HeapSort, CompanionsMatchTheSchemeOnTiedRandomKeys) {
    // Worked by hand: four equal keys come out as 1, 2, 3, 0.
    std::vector<double> four(4, 5.0);
    std::vector<std::uint32_t> pos4(4);
    heap_sort_d(4, four, pos4);
    EXPECT_EQ(pos4, (std::vector<std::uint32_t>{1, 2, 3, 0}));

    std::mt19937 rng(4242);
    for (int n : {2, 3, 5, 8, 13, 31, 64, 100}) {
        for (int trial = 0; trial < 30; ++trial) {
            std::vector<double> keys(n);
            for (auto& k : keys) k = static_cast<double>(rng() % (trial % 5 + 2)) * 0.5;
            std::vector<double> want = keys;
            std::vector<long> want_pos(n);
            scheme_1_based(want, want_pos);
            std::vector<double> a = keys, b = keys;
            std::vector<unsigned int> pa(n);
            std::vector<unsigned long> pb(n);
            heap_sort_dui(n, a, pa);
            heap_sort_d(n, b, pb);
            ASSERT_EQ(a, want);
            ASSERT_EQ(b, want);
            for (int k = 0; k < n; ++k) {
                ASSERT_EQ(pa[k], static_cast<unsigned>(want_pos[k])) << n << " " << k;
                ASSERT_EQ(pb[k], static_cast<unsigned long>(want_pos[k]));
            }
        }
    }
}

template <class T>
void expect_sorts(void (*sort)(unsigned long, std::span<T>), std::vector<T> v, int n) {
    std::vector<T> want = v;
    std::sort(want.begin(), want.begin() + n);
    sort(n, v);
    EXPECT_EQ(v, want) << n;
}

TEST(HeapSort, KeyOnlySortsAscendAndCountsStayInBounds) {
    std::mt19937 rng(11);
    for (int n : {0, 1, 2, 7, 50}) {
        std::vector<unsigned char> uc(n);
        std::vector<int> i(n);
        std::vector<float> f(n);
        std::vector<double> d(n);
        for (int k = 0; k < n; ++k) {
            uc[k] = static_cast<unsigned char>(rng() % 6 * 50);
            i[k] = static_cast<int>(rng() % 9) - 4;
            f[k] = static_cast<float>(rng() % 7) - 3.5f;
            d[k] = static_cast<double>(rng() % 1000) / 7.0;
        }
        expect_sorts<unsigned char>(heap_sort_uc_, uc, n);
        expect_sorts(heap_sort_i_, i, n);
        expect_sorts(heap_sort_f_, f, n);
        expect_sorts(heap_sort_dd, d, n);
    }
    expect_sorts(heap_sort_i_, std::vector<int>{5, 4, 3, 2, 1}, 3);  // only the first N take part

    // One key still numbers its companion; a count beyond the arrays sorts what is there.
    std::vector<double> one = {3.0};
    std::vector<unsigned int> pos(1, 77);
    heap_sort_dui(1, one, pos);
    EXPECT_EQ(pos[0], 0u);
    std::vector<double> none;
    std::vector<unsigned int> no_pos;
    heap_sort_dui(-4, none, no_pos);
    std::vector<double> keys = {3.0, 1.0, 2.0};
    std::vector<unsigned long> p(3);
    heap_sort_d(10, keys, p);
    EXPECT_EQ(keys, (std::vector<double>{1.0, 2.0, 3.0}));
    EXPECT_EQ(p, (std::vector<unsigned long>{1, 2, 0}));
}

TEST(OutlierDetection, CutsOnlyLargeGapsInTheUpperThird) {
    struct Case {
        const char* what;
        std::vector<double> values;
        std::vector<int> cut;  // indices whose weight becomes 0
        double initial = 1.0;  // the caller's weights, overwritten unless all values are equal
    };
    const Case cases[] = {
        {"one far value among twelve", {3, 1, 7, 5, 100, 2, 12, 4, 6, 8, 9, 10, 11}, {4}, 0.5},
        {"eleven plus one", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 60}, {11}},
        // The top gap (22) is not twice the next one (20): cut from 30 up.
        {"two high values", {52, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 30}, {0, 11}},
        {"gap in the lower two thirds",
         {0, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110},
         {},
         0.5},
        {"low outlier", {-500, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110}, {}},
        {"gap of exactly nine median gaps", {0, 0, 0, 0, 0, 0, 5, 10, 15, 20, 25, 70}, {11}},
        // The sorted gap at N/2 is 0: the median gap is the next nonzero one (5).
        {"gap 44 of median 5", {0, 0, 0, 0, 0, 0, 0, 5, 10, 15, 20, 64}, {}},
        {"gap 45 of median 5", {0, 0, 0, 0, 0, 0, 0, 5, 10, 15, 20, 65}, {11}},
        // Sorted 0..8, 18, 28, 29: two gaps of 10. The heap scheme ranks the
        // gap below 28 second largest, so 18 stays; a stable ranking would cut it.
        {"equal largest gaps", {28, 1, 18, 3, 29, 5, 0, 7, 8, 2, 4, 6}, {0, 4}, 0.5},
        {"five values", {1, 2, 3, 4, 1000}, {}, 0.5},
        // s(N-1) + 1.0 rounds to s(N-1) here; no value may be dropped for that.
        {"huge values", {1e17, 2e17, 3e17, 4e17, 5e17, 6e17, 7e17, 8e17}, {}, 0.5},
    };
    for (const Case& c : cases) {
        std::vector<double> w(c.values.size(), c.initial);
        outlier_detection(static_cast<int>(c.values.size()), c.values, w, stdout);
        std::vector<double> want(c.values.size(), 1.0);
        for (int i : c.cut) want[i] = 0.0;
        EXPECT_EQ(w, want) << c.what;
    }
}

TEST(OutlierDetection, FlatSamplesKeepTheCallersWeights) {
    for (std::size_t n : {9u, 1u}) {
        const std::vector<double> v(n, 4.25);
        std::vector<double> w(n, 0.5);
        outlier_detection(static_cast<int>(n), v, w, stdout);
        EXPECT_EQ(w, std::vector<double>(n, 0.5));
    }
    std::vector<double> none;
    outlier_detection(0, none, none, stdout);
}

}  // namespace
}  // namespace orva
