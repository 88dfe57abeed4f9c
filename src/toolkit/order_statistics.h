// The k-th smallest of a set of floats without sorting the whole set.
//
// kth_smallest gives the value that heap_sort_f_ would leave at index k
// (0-based, ascending). Without NaN the sorted order of floats is fixed up to
// the order of equal keys, so a selection gives that value; the only equal
// keys that differ are -0 and +0, and the value returned then compares equal
// to the sorted one. With a NaN in the set the heap sort's order is what the
// result is taken from, so the set is heap-sorted then. The values are
// reordered either way. k must be below values.size().
#pragma once

#include <cstddef>
#include <span>

namespace orva {

float kth_smallest(std::span<float> values, std::size_t k);

}  // namespace orva
