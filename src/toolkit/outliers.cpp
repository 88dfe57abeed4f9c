// Outlier rejection by gap analysis of the sorted sample.
//
// The sorted values s are split where a gap g(p) = s(p) - s(p-1) is at least
// OUTLIER_KAPPA1 times the next smaller gap and OUTLIER_KAPPA2 times the
// median gap, and p lies in the top third; values from s(p) upwards are
// outliers. The gaps are ranked with heap_sort_dui, so ties between equal
// gaps resolve as that scheme orders them.
#include "toolkit/outliers.h"

#include <algorithm>

#include "toolkit/arrays.h"
#include "toolkit/heap_sort.h"

namespace orva {

void outlier_detection(int N, std::span<const double> deviates, std::span<double> weights,
                       std::FILE* /*out*/) {
    N = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(std::max(N, 0)),
                                               std::min(deviates.size(), weights.size())));
    if (N < 1) return;

    // Sorted copy of the values.
    std::vector<double> sorted = vector(N);
    std::vector<unsigned int> sorted_pos = uivector(N);
    std::copy_n(deviates.begin(), N, sorted.begin());
    heap_sort_dui(N, sorted, sorted_pos);

    // Gaps below each sorted value, ranked; gap_pos[k] is the upper value's
    // index in `sorted` for the k-th smallest gap.
    std::vector<double> gaps = vector(N);
    std::vector<unsigned int> gap_pos = uivector(N);
    gaps[0] = 0.0;
    for (int i = 1; i < N; ++i) gaps[i] = sorted[i] - sorted[i - 1];
    heap_sort_dui(N, gaps, gap_pos);

    if (gaps[N - 1] == 0.0) return;  // all values equal

    double median_gap = gaps[N / 2];
    for (int k = N / 2; median_gap == 0.0 && k < N; ++k) median_gap = gaps[k];

    const int upper_third = (2 * N) / 3;
    bool found = false;
    unsigned int cut_pos = 0;
    if (N > 5) {
        double best = gaps[0];
        for (int k = N - 1; k > upper_third && gaps[k - 1] != 0.0; --k) {
            const double d = gaps[k];
            if (d / gaps[k - 1] >= OUTLIER_KAPPA1 && d >= OUTLIER_KAPPA2 * median_gap && d > best) {
                best = d;
                cut_pos = gap_pos[k];
                found = true;
            }
        }
    }

    // Without a cut every value is an inlier; the cut value s(N-1) + 1.0 would
    // round back to s(N-1) for very large values, so it is not used as one.
    const bool cut =
        found && static_cast<int>(cut_pos) >= upper_third && static_cast<int>(cut_pos) < N;
    const double lambda = cut ? sorted[cut_pos] : 0.0;
    for (int i = 0; i < N; ++i) weights[i] = cut && deviates[i] >= lambda ? 0.0 : 1.0;
}

}  // namespace orva
