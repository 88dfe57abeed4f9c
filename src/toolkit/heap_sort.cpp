// Named members of the heap sort family; each one is the common scheme of
// heap_sort.h for its key and companion types.
#include "toolkit/heap_sort.h"

namespace orva {

void heap_sort_uc_(unsigned long N, std::span<unsigned char> keys) {
    heap_sort_scheme(N, keys);
}

void heap_sort_i_(unsigned long N, std::span<int> keys) {
    heap_sort_scheme(N, keys);
}

void heap_sort_f_(unsigned long N, std::span<float> keys) {
    heap_sort_scheme(N, keys);
}

void heap_sort_dd(unsigned long N, std::span<double> keys) {
    heap_sort_scheme(N, keys);
}

void heap_sort_d(unsigned long N, std::span<double> keys, std::span<unsigned long> pos) {
    heap_sort_scheme(N, keys, pos);
}

void heap_sort_d(unsigned long N, std::span<double> keys, std::span<std::uint32_t> pos) {
    heap_sort_scheme(N, keys, pos);
}

void heap_sort_dui(int N, std::span<double> keys, std::span<unsigned int> pos) {
    if (N < 0) N = 0;
    heap_sort_scheme(static_cast<unsigned long>(N), keys, pos);
}

}  // namespace orva
