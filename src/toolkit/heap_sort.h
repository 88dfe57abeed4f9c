// Ascending in-place heap sorts, with or without a companion index array.
//
// All members follow one heap scheme, so the order of equal keys (the sort is
// not stable) is the same for every key type; callers read companions at ties
// and rely on it. A companion array is set to 0..N-1 by the sort and permuted
// with the keys: afterwards pos[k] is the input position of the k-th smallest
// key. N larger than the span is limited to the span's size; N < 2 leaves the
// keys as they are (the companion is still initialised).
#pragma once

#include <cstdint>
#include <span>

namespace orva {

void heap_sort_uc_(unsigned long N, std::span<unsigned char> keys);
inline void heap_sort_uc(unsigned long N, std::span<unsigned char> keys) {
    heap_sort_uc_(N, keys);
}
void heap_sort_i_(unsigned long N, std::span<int> keys);
void heap_sort_f_(unsigned long N, std::span<float> keys);
void heap_sort_dd(unsigned long N, std::span<double> keys);
void heap_sort_d(unsigned long N, std::span<double> keys, std::span<unsigned long> pos);
// The same with a 32-bit companion, as the ulvector allocator gives.
void heap_sort_d(unsigned long N, std::span<double> keys, std::span<std::uint32_t> pos);
void heap_sort_dui(int N, std::span<double> keys, std::span<unsigned int> pos);

// The common scheme, for any key type with operator< and any integral
// companion type; pos may be empty (no companion).
template <class Key, class Pos>
void heap_sort_scheme(unsigned long N, std::span<Key> keys, std::span<Pos> pos) {
    if (N > keys.size()) N = keys.size();
    const bool with_pos = !pos.empty();
    if (with_pos && N > pos.size()) N = pos.size();
    if (with_pos)
        for (unsigned long k = 0; k < N; ++k) pos[k] = static_cast<Pos>(k);
    if (N < 2) return;

    // 1-based positions: position p is element p - 1.
    Key* ra = keys.data() - 1;
    Pos* ia = with_pos ? pos.data() - 1 : nullptr;
    unsigned long l = (N >> 1) + 1;
    unsigned long ir = N;
    for (;;) {
        Key rra;
        Pos rpos{};
        if (l > 1) {
            --l;
            rra = ra[l];
            if (with_pos) rpos = ia[l];
        } else {
            rra = ra[ir];
            if (with_pos) rpos = ia[ir];
            ra[ir] = ra[1];
            if (with_pos) ia[ir] = ia[1];
            if (--ir == 1) {
                ra[1] = rra;
                if (with_pos) ia[1] = rpos;
                return;
            }
        }
        // Sift the held value down from l.
        unsigned long i = l;
        unsigned long j = l + l;
        while (j <= ir) {
            if (j < ir && ra[j] < ra[j + 1]) ++j;
            if (!(rra < ra[j])) break;
            ra[i] = ra[j];
            if (with_pos) ia[i] = ia[j];
            i = j;
            j <<= 1;
        }
        ra[i] = rra;
        if (with_pos) ia[i] = rpos;
    }
}

template <class Key>
void heap_sort_scheme(unsigned long N, std::span<Key> keys) {
    heap_sort_scheme<Key, unsigned long>(N, keys, {});
}

}  // namespace orva
