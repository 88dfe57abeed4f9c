// Selection of one order statistic of a float set (see order_statistics.h):
// for a value near the top a selection among the values above a bound taken
// from a sample, else std::nth_element in linear time, or the heap sort when
// a NaN is present.
#include "toolkit/order_statistics.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "toolkit/heap_sort.h"

namespace orva {

namespace {

constexpr std::size_t kSampleStep = 16;  // every 16th value estimates the threshold
constexpr std::size_t kSampleMargin = 8;

// The m-th largest value (1 <= m <= values.size()) of a set without NaN, when
// it lies near the top: a sample of the values gives a bound below it, and
// only the values at or above that bound are selected among. False when the
// bound turns out too high (the caller then selects among all values).
bool mth_largest_from_sample(std::span<const float> values, std::size_t m, float& result) {
    const std::size_t n = values.size();
    const std::size_t samples = n / kSampleStep;
    const std::size_t rank = m / kSampleStep + kSampleMargin;  // from the top, 0-based
    if (samples < 4 * rank) return false;
    thread_local std::vector<float> work;
    work.resize(samples);
    for (std::size_t i = 0; i < samples; ++i) work[i] = values[i * kSampleStep];
    const auto bound_at = work.begin() + static_cast<std::ptrdiff_t>(samples - 1 - rank);
    std::nth_element(work.begin(), bound_at, work.end());
    const float bound = *bound_at;
    work.clear();
    for (const float v : values)
        if (v >= bound) work.push_back(v);
    if (work.size() < m) return false;
    // Every value above the m-th largest is at or above the bound, so it is
    // also the m-th largest of the kept ones.
    const auto nth = work.end() - static_cast<std::ptrdiff_t>(m);
    std::nth_element(work.begin(), nth, work.end());
    result = *nth;
    return true;
}

bool has_nan(std::span<const float> values) {
    unsigned unordered = 0;
    for (const float v : values) unordered |= v != v ? 1u : 0u;
    return unordered != 0;
}

}  // namespace

float kth_smallest(std::span<float> values, std::size_t k) {
    if (has_nan(values)) {
        heap_sort_f_(values.size(), values);
        return values[k];
    }
    float result = 0.0f;
    if (mth_largest_from_sample(values, values.size() - k, result)) return result;
    const auto nth = values.begin() + static_cast<std::ptrdiff_t>(k);
    std::nth_element(values.begin(), nth, values.end());
    return *nth;
}

}  // namespace orva
