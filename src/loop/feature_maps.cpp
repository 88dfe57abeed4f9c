// Multi-scale feature maps over a 2:1 image pyramid.
//
// Level 0 is the image (or its 2x2 block means with sub_flag). On every level a
// 3x3 operator gives a float map with a zero border; edge and second-derivative
// maps are normalised by their rms response (8 / rms and 4 / rms, single
// precision). Levels continue while both sides are at least 16 pixels. The maps
// are merged from coarse to fine by the pixelwise maximum with the upsampled
// coarser map. Full resolution: scaled so that the maximum becomes 255.
// Half resolution: rounded as they are and written to 2x2 output blocks.
//
// Degenerate input: levels <= 0 or an image below 8 x 8 leave the output
// untouched; a flat image (rms 0) keeps an all-zero map; an unknown mode gives
// all-zero maps.
#include "loop/feature_maps.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <vector>

#include "toolkit/arrays.h"
#include "toolkit/fast_floor.h"
#include "toolkit/vector_clones.h"

namespace orva {

namespace {

constexpr int MIN_LEVEL_SIZE = 16;  // a smaller level ends the pyramid
constexpr unsigned int MIN_ROI = 8;
constexpr float EDGE_GAIN = 8.0f;
constexpr float DERIV_GAIN = 4.0f;

// Sets v to n zeros, as the typed allocator named would hand them out, but
// keeping the storage v already has.
template <class T>
void zeroed(std::vector<T>& v, long n, const char* allocator) {
    if (n < 1) bad_count(allocator, n, 1);
    try {
        v.assign(static_cast<std::size_t>(n), T{});
    } catch (const std::bad_alloc&) {
        allocation_failed("vector");
    } catch (const std::length_error&) {
        allocation_failed("vector");
    }
}

// Sets v to n elements, as the typed allocator named would hand them out,
// but keeping the storage and the values v already has: for a buffer whose
// every element is written before it is read.
template <class T>
void sized(std::vector<T>& v, long n, const char* allocator) {
    if (n < 1) bad_count(allocator, n, 1);
    try {
        v.resize(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
        allocation_failed("vector");
    } catch (const std::length_error&) {
        allocation_failed("vector");
    }
}

// The 3x3 neighbourhood of an interior pixel.
struct Neighbours {
    int ul, u, ur, l, c, r, dl, d, dr;
};

Neighbours around(std::span<const unsigned char> b, unsigned long i, unsigned long w) {
    return {b[i - w - 1], b[i - w],     b[i - w + 1], b[i - 1],    b[i],
            b[i + 1],     b[i + w - 1], b[i + w],     b[i + w + 1]};
}

// Applies op to every interior pixel, writing its float value into gptr (zero
// border) and returning the sum of the integer squares op reports. While that
// sum stays below 2^53 every partial sum is exact in double as well, so it
// equals the double sum taken in pixel order; larger sums (beyond any image
// the readers accept) are added up again in that order.
template <class Op>
[[gnu::always_inline]] inline double for_interior(unsigned int width, unsigned int height,
                                                  std::span<const unsigned char> bptr,
                                                  std::span<float> gptr, Op op) {
    // The border is cleared here; every other pixel is written below.
    if (width > 0 && height > 0) {
        const long w = width;
        const long h = height;
        std::fill_n(gptr.begin(), w, 0.0f);
        std::fill_n(gptr.begin() + (h - 1) * w, w, 0.0f);
        for (long y = 1; y + 1 < h; ++y) gptr[y * w] = gptr[y * w + w - 1] = 0.0f;
    }
    std::uint64_t sum = 0;
    for (unsigned long y = 1; y + 1 < height; ++y)
        for (unsigned long x = 1; x + 1 < width; ++x) {
            unsigned long i = y * width + x;
            std::int64_t square = 0;
            gptr[i] = op(around(bptr, i, width), square);
            sum += static_cast<std::uint64_t>(square);
        }
    constexpr std::uint64_t kExactInDouble = std::uint64_t{1} << 53;
    if (sum < kExactInDouble) return static_cast<double>(sum);
    double ordered = 0.0;
    for (unsigned long y = 1; y + 1 < height; ++y)
        for (unsigned long x = 1; x + 1 < width; ++x) {
            std::int64_t square = 0;
            op(around(bptr, y * width + x, width), square);
            ordered += static_cast<double>(square);
        }
    return ordered;
}

double rms_of(double sum, unsigned int width, unsigned int height) {
    if (width < 3 || height < 3) return 0.0;
    double n = static_cast<double>(width - 2) * static_cast<double>(height - 2);
    return std::sqrt(sum / n);
}

}  // namespace

ORVA_VECTOR_CLONES
void get_ridges_1(unsigned int width, unsigned int height, std::span<const unsigned char> bptr,
                  std::span<float> gptr) {
    for_interior(width, height, bptr, gptr, [](const Neighbours& n, std::int64_t&) {
        int sum_h = n.l + n.r;
        int sum_v = n.u + n.d;
        int corners = n.ul + n.ur + n.dl + n.dr;
        int a = 2 * (sum_h - sum_v) + 4 * n.c - corners;
        int b = 2 * (sum_v - sum_h) + 4 * n.c - corners;
        int d1 = 4 * n.c - sum_h - sum_v + 2 * (n.ul + n.dr) - 2 * (n.ur + n.dl);
        int d2 = 4 * n.c - sum_h - sum_v + 2 * (n.ur + n.dl) - 2 * (n.ul + n.dr);
        return static_cast<float>((a > b ? a : b) + (d1 > d2 ? d1 : d2));
    });
}

ORVA_VECTOR_CLONES
double get_edges_1(unsigned int width, unsigned int height, std::span<const unsigned char> bptr,
                   std::span<float> gptr) {
    // Sobel gradient magnitude.
    double sum =
        for_interior(width, height, bptr, gptr, [](const Neighbours& n, std::int64_t& square) {
            int gy = 2 * (n.d - n.u) + n.dl + n.dr - n.ul - n.ur;
            int gx = 2 * (n.r - n.l) + n.ur + n.dr - n.ul - n.dl;
            int g2 = gx * gx + gy * gy;
            square = g2;
            return static_cast<float>(std::sqrt(static_cast<double>(g2)));
        });
    return rms_of(sum, width, height);
}

ORVA_VECTOR_CLONES
double get_2nd_deriv_1(unsigned int width, unsigned int height, std::span<const unsigned char> bptr,
                       std::span<float> gptr) {
    double sum =
        for_interior(width, height, bptr, gptr, [](const Neighbours& n, std::int64_t& square) {
            int hd = 2 * n.c + 2 * n.u - n.dl - n.dr - n.l - n.r;
            int vd = 2 * n.c + 2 * n.r - n.u - n.ur - n.d - n.dr;
            int value = std::abs(hd) + std::abs(vd);
            square = static_cast<std::int64_t>(value) * value;
            return static_cast<float>(value);
        });
    return rms_of(sum, width, height);
}

ORVA_VECTOR_CLONES
void subsample2_h(unsigned int width, unsigned int height, std::span<const unsigned char> bptr,
                  std::span<unsigned char> sptr) {
    const unsigned int w2 = width >> 1;
    if (w2 == 0) return;
    // Odd widths have a right neighbour for every sample; even widths average
    // the last pair.
    const unsigned int full = (width & 1u) ? w2 : w2 - 1;
    for (unsigned long y = 0; y < height; ++y) {
        const unsigned char* __restrict b = bptr.data() + y * width;
        unsigned char* __restrict s = sptr.data() + y * w2;
        for (std::size_t x2 = 0; x2 < full; ++x2)
            s[x2] = static_cast<unsigned char>(
                (2 * b[2 * x2 + 1] + b[2 * x2] + b[2 * x2 + 2] + 2) >> 2);
        if (!(width & 1u))
            s[w2 - 1] = static_cast<unsigned char>((b[width - 2] + b[width - 1] + 1) >> 1);
    }
}

ORVA_VECTOR_CLONES
void subsample2_v(int width, int height, std::span<const unsigned char> bptr,
                  std::span<unsigned char> sptr) {
    if (width < 1) return;
    const int h2 = height >> 1;
    if (h2 < 1) return;
    const long w = width;
    const int full = (height & 1) ? h2 : h2 - 1;
    // Row by row, so that whole rows go through the vector unit.
    for (long y2 = 0; y2 < full; ++y2) {
        const unsigned char* __restrict b = bptr.data() + 2 * y2 * w;
        unsigned char* __restrict s = sptr.data() + y2 * w;
        for (long x = 0; x < w; ++x)
            s[x] = static_cast<unsigned char>((2 * b[w + x] + b[x] + b[2 * w + x] + 2) >> 2);
    }
    if (!(height & 1)) {
        const unsigned char* __restrict b = bptr.data() + (height - 2) * w;
        unsigned char* __restrict s = sptr.data() + (h2 - 1) * w;
        for (long x = 0; x < w; ++x) s[x] = static_cast<unsigned char>((b[x] + b[w + x] + 1) >> 1);
    }
}

namespace {

// merge_scales with the upsampled map in t. The cells no step below writes
// stay 0: row 0 (its odd columns are then copied from row 1), the rows from
// 2 * h2 - 1 on, and the last column of an odd width.
ORVA_VECTOR_CLONES
void merge_into(int width, int height, std::span<float> s1, std::span<const float> s2,
                std::vector<float>& t) {
    if (width < 1 || height < 1) return;
    const long w = width;
    const long w2 = width >> 1;
    const long h2 = height >> 1;
    // Only the first w * height values are used; a larger buffer left from
    // a bigger level is not shrunk, so that growing it again never clears it.
    if (t.size() < static_cast<std::size_t>(w * height)) sized(t, w * height, "fvector");
    auto T = [&](long x, long y) -> float& { return t[y * w + x]; };
    const long first_unwritten = std::max(2 * h2 - 1, 1L);
    std::fill_n(t.begin(), w, 0.0f);
    std::fill(t.begin() + std::min<long>(first_unwritten, height) * w, t.begin() + w * height,
              0.0f);
    if (w % 2 == 1)
        for (long y = 0; y < height; ++y) T(w - 1, y) = 0.0f;

    // Coarse samples onto odd columns: odd rows directly, even rows between two.
    for (long y2 = 0; y2 + 1 < h2; ++y2)
        for (long x2 = 0; x2 < w2; ++x2) {
            T(2 * x2 + 1, 2 * y2 + 1) = s2[y2 * w2 + x2];
            T(2 * x2 + 1, 2 * y2 + 2) =
                static_cast<float>((s2[y2 * w2 + x2] + s2[(y2 + 1) * w2 + x2]) * 0.5);
        }
    if (height > 1)
        for (long x = 1; x < w; x += 2) T(x, 0) = T(x, 1);

    // Even columns follow the direction of the strongest pair of odd neighbours.
    for (long y = 1; y + 1 < height; ++y) {
        if (w > 1) T(0, y) = T(1, y);
        for (long x = 2; x < w - 1; x += 2) {
            float a1 = T(x - 1, y) + T(x + 1, y);
            float a2 = T(x - 1, y + 1) + T(x + 1, y - 1);
            float a3 = T(x - 1, y - 1) + T(x + 1, y + 1);
            float a23 = a2 > a3 ? a2 : a3;
            T(x, y) = a1 > a23 ? a1 * 0.5f : a23 * 0.5f;
        }
    }

    // Every value written back, the larger as before: no masked stores.
    for (long i = 0; i < w * height; ++i) s1[i] = t[i] > s1[i] ? t[i] : s1[i];
}

// The 2x2 block means of a W-wide image: level 0 at half resolution.
ORVA_VECTOR_CLONES
void block_means(const unsigned char* __restrict b, unsigned long W, unsigned long width,
                 unsigned long height, unsigned char* __restrict level) {
    for (unsigned long y = 0; y < height; ++y) {
        const unsigned char* top = b + 2 * y * W;
        const unsigned char* bottom = top + W;
        unsigned char* out = level + y * width;
        for (unsigned long x = 0; x < width; ++x)
            out[x] = static_cast<unsigned char>(
                (top[2 * x] + top[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1]) >> 2);
    }
}

// v * gain / rms for every value, in single precision.
ORVA_VECTOR_CLONES
void scale_map(float* __restrict v, std::size_t n, float gain, float rms) {
    for (std::size_t i = 0; i < n; ++i) v[i] = v[i] * gain / rms;
}

// The largest of n > 0 values (no NaN). Eight running maxima side by side: a
// maximum is the same whatever order the values come in; of zeros of either
// sign one stands for all, which callers only compare with 0.
ORVA_VECTOR_CLONES
float largest(const float* __restrict v, std::size_t n) {
    constexpr std::size_t kLanes = 8;
    float lane[kLanes];
    for (std::size_t k = 0; k < kLanes; ++k) lane[k] = v[0];
    std::size_t i = 0;
    for (; i + kLanes <= n; i += kLanes)
        for (std::size_t k = 0; k < kLanes; ++k) lane[k] = v[i + k] > lane[k] ? v[i + k] : lane[k];
    float max = lane[0];
    for (std::size_t k = 1; k < kLanes; ++k) max = lane[k] > max ? lane[k] : max;
    for (; i < n; ++i) max = v[i] > max ? v[i] : max;
    return max;
}

// floor(v * scale + 0.5) in double, limited to 0 .. 255, for every value
// (scale 1 gives floor(v + 0.5): the product is v itself).
ORVA_VECTOR_CLONES
void scaled_bytes(const float* __restrict v, std::size_t n, double scale,
                  unsigned char* __restrict out) {
    // floor_to_byte without branches: limited first, then truncated, which is
    // the floor from 0 on.
    for (std::size_t i = 0; i < n; ++i) {
        double t = v[i] * scale + 0.5;
        t = t > 0.0 ? t : 0.0;
        t = t < 255.0 ? t : 255.0;
        out[i] = static_cast<unsigned char>(static_cast<int>(t));
    }
}

// Every byte twice, side by side.
ORVA_VECTOR_CLONES
void doubled(const unsigned char* __restrict in, std::size_t n, unsigned char* __restrict out) {
    for (std::size_t i = 0; i < n; ++i) out[2 * i] = out[2 * i + 1] = in[i];
}

}  // namespace

void merge_scales(int width, int height, std::span<float> s1, std::span<const float> s2) {
    std::vector<float> t;
    merge_into(width, height, s1, s2, t);
}

int get_feature(const IMAGE& im, std::span<const unsigned char> bptr, std::span<unsigned char> rptr,
                int mode, int levels, int sub_flag) {
    FeatureWork work;
    return get_feature(im, bptr, rptr, mode, levels, sub_flag, work);
}

int get_feature(const IMAGE& im, std::span<const unsigned char> bptr, std::span<unsigned char> rptr,
                int mode, int levels, int sub_flag, FeatureWork& work) {
    if (levels <= 0) return 0;
    if (levels > NUM_SUBSAMP) {
        std::fprintf(stderr, "\n Warning!");
        std::fprintf(stderr, "\n Number of levels is limited to ");
        std::fprintf(stderr, "%d!", NUM_SUBSAMP);
        levels = NUM_SUBSAMP;
    }
    if (im.width < MIN_ROI || im.height < MIN_ROI) {
        std::fprintf(stderr, "\n Warning!");
        std::fprintf(stderr, "\n Size of ROI is too small  ");
        return 0;
    }
    const unsigned long W = im.width;
    const unsigned long H = im.height;
    if (bptr.size() < W * H || rptr.size() < W * H) return 0;

    // Level 0 image, reduced in place for the next levels.
    unsigned int width = sub_flag ? im.width >> 1 : im.width;
    unsigned int height = sub_flag ? im.height >> 1 : im.height;
    std::vector<unsigned char>& level = work.level;
    zeroed(level, static_cast<long>(width) * height, "ucvector");
    if (sub_flag)
        block_means(bptr.data(), W, width, height, level.data());
    else
        std::copy_n(bptr.begin(), W * H, level.begin());
    std::vector<unsigned char>& half = work.half;
    zeroed(half, static_cast<long>((width >> 1) > 0 ? width >> 1 : 1) * height, "ucvector");

    std::vector<std::vector<float>>& maps = work.maps;
    std::vector<unsigned int> widths, heights;
    int merged_levels = levels;
    for (int l = 0; l < levels; ++l) {
        if (maps.size() <= static_cast<std::size_t>(l))
            maps.resize(static_cast<std::size_t>(l) + 1);
        std::vector<float>& map = maps[static_cast<std::size_t>(l)];
        // The three operators write every pixel of the map; any other mode
        // leaves it all zero.
        if (mode >= 0 && mode <= 2)
            sized(map, static_cast<long>(width) * height, "fvector");
        else
            zeroed(map, static_cast<long>(width) * height, "fvector");
        double rms = 0.0;
        if (mode == 0) get_ridges_1(width, height, level, map);
        if (mode == 1) rms = get_edges_1(width, height, level, map);
        if (mode == 2) rms = get_2nd_deriv_1(width, height, level, map);
        // A flat level (rms 0) keeps its all-zero map.
        if ((mode == 1 || mode == 2) && rms != 0.0) {
            const float gain = mode == 1 ? EDGE_GAIN : DERIV_GAIN;
            scale_map(map.data(), map.size(), gain, static_cast<float>(rms));
        }
        widths.push_back(width);
        heights.push_back(height);
        if (width < MIN_LEVEL_SIZE || height < MIN_LEVEL_SIZE) {
            merged_levels = l;
            break;
        }
        if (l < levels - 1) {
            subsample2_h(width, height, level, half);
            subsample2_v(static_cast<int>(width >> 1), static_cast<int>(height), half, level);
            width >>= 1;
            height >>= 1;
        }
    }

    for (int l = merged_levels - 1; l >= 1; --l)
        merge_into(static_cast<int>(widths[l - 1]), static_cast<int>(heights[l - 1]), maps[l - 1],
                   maps[l], work.upsampled);

    const std::vector<float>& top = maps[0];
    const unsigned long w0 = widths[0];
    const unsigned long h0 = heights[0];
    if (!sub_flag) {
        const float max = largest(top.data(), top.size());
        if (max > 0.0f) scaled_bytes(top.data(), w0 * h0, 255.0 / max, rptr.data());
    } else {
        // Each value to a 2x2 block: the first row of the pair, then a copy.
        std::vector<unsigned char> bytes(w0);
        for (unsigned long y = 0; y < h0; ++y) {
            unsigned char* out = rptr.data() + 2 * y * W;
            scaled_bytes(top.data() + y * w0, w0, 1.0, bytes.data());
            doubled(bytes.data(), w0, out);
            std::copy_n(out, 2 * w0, out + W);
        }
    }
    return 0;
}

}  // namespace orva
