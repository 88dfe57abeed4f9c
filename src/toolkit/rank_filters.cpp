// 3x3 median filters for byte masks and float maps, and exact medians of five
// and seven integers.
//
// The 3x3 medians come from a fixed 19-exchange network, exact for any input.
// The filters read a zero-framed padded copy whose top and bottom padding rows
// repeat the image's first and last rows, so results never feed back.
#include "toolkit/rank_filters.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

#include "toolkit/arrays.h"
#include "toolkit/errmsg.h"
#include "toolkit/vector_clones.h"

namespace orva {
namespace {

template <class T>
void exchange_if_greater(T& a, T& b) {
    if (a > b) std::swap(a, b);
}

template <class T>
T median_of_nine(std::array<T, 9> p) {
    exchange_if_greater(p[1], p[2]);
    exchange_if_greater(p[4], p[5]);
    exchange_if_greater(p[7], p[8]);
    exchange_if_greater(p[0], p[1]);
    exchange_if_greater(p[3], p[4]);
    exchange_if_greater(p[6], p[7]);
    exchange_if_greater(p[1], p[2]);
    exchange_if_greater(p[4], p[5]);
    exchange_if_greater(p[7], p[8]);
    exchange_if_greater(p[0], p[3]);
    exchange_if_greater(p[5], p[8]);
    exchange_if_greater(p[4], p[7]);
    exchange_if_greater(p[3], p[6]);
    exchange_if_greater(p[1], p[4]);
    exchange_if_greater(p[2], p[5]);
    exchange_if_greater(p[4], p[7]);
    exchange_if_greater(p[4], p[2]);
    exchange_if_greater(p[6], p[4]);
    exchange_if_greater(p[4], p[2]);
    return p[4];
}

template <class T>
T median_of_rows(std::span<const T, 3> r0, std::span<const T, 3> r1, std::span<const T, 3> r2) {
    return median_of_nine<T>({r0[0], r0[1], r0[2], r1[0], r1[1], r1[2], r2[0], r2[1], r2[2]});
}

// Fills the padded copy and replaces every pixel by the median around it.
template <class T>
[[gnu::always_inline]] inline void median3x3_in_place(std::size_t width, std::size_t height,
                                                      std::span<T> img, std::vector<T>& padded) {
    const std::size_t pw = width + 2;
    auto padded_row = [&](std::size_t v) { return padded.begin() + v * pw + 1; };
    for (std::size_t y = 0; y < height; ++y)
        std::copy_n(img.begin() + y * width, width, padded_row(y + 1));
    std::copy_n(img.begin(), width, padded_row(0));
    std::copy_n(img.begin() + (height - 1) * width, width, padded_row(height + 1));

    for (std::size_t y = 0; y < height; ++y) {
        const T* above = padded.data() + y * pw;
        const T* centre = above + pw;
        const T* below = centre + pw;
        for (std::size_t x = 0; x < width; ++x)
            img[y * width + x] = median_of_rows<T>(std::span<const T, 3>(above + x, 3),
                                                   std::span<const T, 3>(centre + x, 3),
                                                   std::span<const T, 3>(below + x, 3));
    }
}

bool fits(std::size_t buffer_size, long width, long height, const char* rtn) {
    if (width >= 0 && height >= 0 &&
        static_cast<unsigned long>(width) * static_cast<unsigned long>(height) <= buffer_size)
        return true;
    errmsg(ERR_NOT_DEFINED, rtn, "buffer size", static_cast<int>(buffer_size));
    return false;
}

}  // namespace

unsigned char med3x3(std::span<const unsigned char, 3> r0, std::span<const unsigned char, 3> r1,
                     std::span<const unsigned char, 3> r2) {
    return median_of_rows<unsigned char>(r0, r1, r2);
}

float fmed3x3(std::span<const float, 3> r0, std::span<const float, 3> r1,
              std::span<const float, 3> r2) {
    return median_of_rows<float>(r0, r1, r2);
}

ORVA_VECTOR_CLONES
int median_filter(const IMAGE& im, std::span<unsigned char> bptr) {
    if (!fits(bptr.size(), im.width, im.height, "median_filter")) return ERR_NOT_DEFINED;
    if (im.width == 0 || im.height == 0) return 0;
    // Masks of a run share their size: each thread keeps its padded copy,
    // whose zero frame (the first and last column) is all that must be 0.
    thread_local std::vector<unsigned char> padded;
    const std::size_t pw = static_cast<std::size_t>(im.width) + 2;
    const std::size_t ph = static_cast<std::size_t>(im.height) + 2;
    if (padded.size() != pw * ph) padded = ucvector(static_cast<long>(pw * ph));
    for (std::size_t v = 0; v < ph; ++v) padded[v * pw] = padded[v * pw + pw - 1] = 0;
    median3x3_in_place<unsigned char>(im.width, im.height, bptr, padded);
    return 0;
}

int fmedian_filter(int width, int height, std::span<float> bptr) {
    if (!fits(bptr.size(), width, height, "fmedian_filter")) return ERR_NOT_DEFINED;
    if (width == 0 || height == 0) return 0;
    std::vector<float> padded = fvector((static_cast<long>(width) + 2) * (height + 2L));
    median3x3_in_place<float>(static_cast<std::size_t>(width), static_cast<std::size_t>(height),
                              bptr, padded);
    return 0;
}

int imedian5(int a, int b, int c, int d, int e) {
    std::array<int, 5> v{a, b, c, d, e};
    std::sort(v.begin(), v.end());
    return v[2];
}

int imedian7(int a, int b, int c, int d, int e, int f, int g) {
    std::array<int, 7> v{a, b, c, d, e, f, g};
    std::sort(v.begin(), v.end());
    return v[3];
}

}  // namespace orva
