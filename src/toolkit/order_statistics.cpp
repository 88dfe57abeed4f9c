// Selection of one order statistic of a float set (see order_statistics.h):
// std::nth_element in linear time, or the heap sort when a NaN is present.
#include "toolkit/order_statistics.h"

#include <algorithm>
#include <cmath>

#include "toolkit/heap_sort.h"

namespace orva {

float kth_smallest(std::span<float> values, std::size_t k) {
    const bool has_nan =
        std::any_of(values.begin(), values.end(), [](float v) { return std::isnan(v); });
    if (has_nan) {
        heap_sort_f_(values.size(), values);
        return values[k];
    }
    const auto nth = values.begin() + static_cast<std::ptrdiff_t>(k);
    std::nth_element(values.begin(), nth, values.end());
    return *nth;
}

}  // namespace orva
