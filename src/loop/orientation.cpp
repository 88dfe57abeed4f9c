// Border cutting and turning into the canonical orientation (pin entering from
// the bottom edge), with optional decimation by two.
//
// Every canonical pixel (c, r) is copied from one source pixel; decimation
// takes every second pixel, without averaging. With s = 1 or 2:
//   loop_pos 0: (b2 + s*c,         b1 + s*r)          plain crop
//   loop_pos 1: (b2 + s*c,         H-1-b0 - s*r)      flipped top to bottom
//   loop_pos 2: (W-1-b3 - s*r,     b1 + s*c)          right edge becomes the top
//   loop_pos 3: (b2 + s*r,         H-1-b0 - s*c)      left edge becomes the top
// Status: 0, or 2 for loop_pos outside 0..3 and for borders that leave no
// image (negative borders, or borders as wide as the image).
#include "loop/orientation.h"

#include <algorithm>
#include <cstdio>
#include <type_traits>

#include "toolkit/vector_clones.h"

namespace orva {

namespace {

// Canonical width and height for the given borders, before halving; false when
// the borders leave nothing or are negative.
bool canonical_size(const IMAGE& im, int loop_pos, const int* border, int sub_flag, long& width,
                    long& height) {
    for (int i = 0; i < 4; ++i)
        if (border[i] < 0) return false;
    long across = static_cast<long>(im.width) - border[2] - border[3];
    long down = static_cast<long>(im.height) - border[0] - border[1];
    if (loop_pos == 0 || loop_pos == 1) {
        width = across;
        height = down;
    } else {
        width = down;
        height = across;
    }
    if (width < 1 || height < 1) return false;
    if (sub_flag) {
        // Unsigned shift: an odd size drops its remainder.
        width = static_cast<long>(static_cast<unsigned long>(width) >> 1);
        height = static_cast<long>(static_cast<unsigned long>(height) >> 1);
    }
    return width >= 1 && height >= 1;
}

// out[c] = src[c * step] for c < n. Plain and halved rows are the common
// cases and get loops the compiler can vectorise.
ORVA_VECTOR_CLONES
void copy_row(const unsigned char* src, long step, unsigned char* __restrict out, long n) {
    if (step == 1) {
        std::copy_n(src, n, out);
    } else if (step == 2) {
        for (long c = 0; c < n; ++c) out[c] = src[2 * c];
    } else {
        for (long c = 0; c < n; ++c) out[c] = src[c * step];
    }
}

// Canonical rows copied together when the image is turned.
constexpr long kTurnBand = 16;

// Sixteen bytes, and the byte shuffles of a 16 x 16 transpose.
typedef unsigned char Bytes16 __attribute__((vector_size(16)));

// Interleaves the low (high) halves of a and b in elements of e bytes.
template <int e>
[[gnu::always_inline]] inline Bytes16 interleave(Bytes16 a, Bytes16 b, bool high) {
    Bytes16 mask;
    for (int k = 0; k < 16; ++k) {
        const int element = k / (2 * e);  // pair of elements
        const int from_b = (k / e) % 2;
        mask[k] = static_cast<unsigned char>((high ? 8 : 0) + element * e + k % e + 16 * from_b);
    }
    return __builtin_shuffle(a, b, mask);
}

// Transposes v in place as a 16 x 16 byte matrix (row i = v[i]) up to the
// order of the result rows: afterwards column j is v[reverse4(j)], reverse4
// reversing the four bits of j. Each round pairs the rows that differ in one
// bit of their index and interleaves them in elements of 1, 2, 4, 8 bytes.
[[gnu::always_inline]] inline void transpose16(Bytes16* v) {
    auto round = [v](int bit, auto width) {
        constexpr int e = decltype(width)::value;
        for (int p = 0; p < 16; ++p) {
            if (p & bit) continue;
            const Bytes16 a = v[p], b = v[p | bit];
            v[p] = interleave<e>(a, b, false);
            v[p | bit] = interleave<e>(a, b, true);
        }
    };
    round(1, std::integral_constant<int, 1>{});
    round(2, std::integral_constant<int, 2>{});
    round(4, std::integral_constant<int, 4>{});
    round(8, std::integral_constant<int, 8>{});
}

constexpr int reverse4(int j) {
    return (j & 1) << 3 | (j & 2) << 1 | (j & 4) >> 1 | (j & 8) >> 3;
}

// A band of 16 canonical rows whose source runs are 16 neighbouring bytes
// (next = +1 or -1): 16 columns at a time, as a transposed 16 x 16 tile.
// Returns the columns done.
long copy_turned_tiles(const unsigned char* src, long step, long next,
                       unsigned char* __restrict out, long n) {
    long c0 = 0;
    for (; c0 + 16 <= n; c0 += 16) {
        Bytes16 v[16];
        for (int i = 0; i < 16; ++i) {
            const unsigned char* s = src + (c0 + i) * step;
            __builtin_memcpy(&v[i], next > 0 ? s : s - 15, 16);
        }
        transpose16(v);
        // Byte j of source run i is canonical row b = j (next = +1) or
        // 15 - j (next = -1).
        for (int b = 0; b < 16; ++b) {
            const int j = next > 0 ? b : 15 - b;
            __builtin_memcpy(out + b * n + c0, &v[reverse4(j)], 16);
        }
    }
    return c0;
}

// Rows 0 .. rows - 1 of a band of a turned image: out[b * n + c] =
// src[b * next + c * step], next being the source step from one canonical
// row to the next.
ORVA_VECTOR_CLONES
void copy_turned_band(const unsigned char* src, long step, long next, unsigned char* __restrict out,
                      long n, long rows) {
    const long tiled =
        rows == 16 && (next == 1 || next == -1) ? copy_turned_tiles(src, step, next, out, n) : 0;
    for (long c = tiled; c < n; ++c) {
        const unsigned char* s = src + c * step;
        for (long b = 0; b < rows; ++b) out[b * n + c] = s[b * next];
    }
}

}  // namespace

int get_new_format(const IMAGE& im, IMAGE& imc, int loop_pos, const int* border, int sub_flag) {
    if (loop_pos < 0 || loop_pos > 3) {
        std::fprintf(stderr, "\n%s Unknown value for loop_pos (%d)", "get_new_format", loop_pos);
        return 2;
    }
    long width = 0;
    long height = 0;
    if (!canonical_size(im, loop_pos, border, sub_flag, width, height)) {
        std::fprintf(stderr, "\n%s Borders %d %d %d %d leave no image of %u x %u", "get_new_format",
                     border[0], border[1], border[2], border[3], im.width, im.height);
        return 2;
    }
    imc.width = static_cast<unsigned int>(width);
    imc.height = static_cast<unsigned int>(height);
    imc.size = static_cast<unsigned long>(imc.width) * imc.height;
    return 0;
}

int cut_border(const IMAGE& im, std::span<const unsigned char> bptr, const IMAGE& imc,
               std::span<unsigned char> cptr, int loop_pos, int image_special, const int* border,
               int sub_flag, std::FILE* /*logfile*/) {
    if (loop_pos < 0 || loop_pos > 3) {
        std::fprintf(stderr, "\n Unknown value for loop_pos (%d)", loop_pos);
        return 2;
    }
    // The canonical geometry must fit inside what the borders leave of the
    // source, and both buffers must hold their images.
    long max_width = 0;
    long max_height = 0;
    if (!canonical_size(im, loop_pos, border, sub_flag, max_width, max_height) ||
        imc.width > max_width || imc.height > max_height ||
        bptr.size() < static_cast<std::size_t>(im.width) * im.height ||
        cptr.size() < static_cast<std::size_t>(imc.width) * imc.height) {
        std::fprintf(stderr, "\n cut_border: image geometry does not match the borders");
        return 2;
    }

    const long W = im.width;
    const long H = im.height;
    const long b0 = border[0], b1 = border[1], b2 = border[2], b3 = border[3];
    const long s = sub_flag ? 2 : 1;
    // Source pixel of canonical (0, r) and the source step from c to c + 1.
    long step = 0;
    auto first_of_row = [&](long r) -> long {
        switch (loop_pos) {
            case 0:
                step = s;
                return (b1 + s * r) * W + b2;
            case 1:
                step = s;
                return (H - 1 - b0 - s * r) * W + b2;
            case 2:
                step = s * W;
                return b1 * W + (W - 1 - b3 - s * r);
            default:
                step = -s * W;
                return (H - 1 - b0) * W + b2 + s * r;
        }
    };
    const long cw = static_cast<long>(imc.width);
    const long ch = static_cast<long>(imc.height);
    if (loop_pos == 0 || loop_pos == 1) {
        for (long r = 0; r < ch; ++r) {
            const unsigned char* src = bptr.data() + first_of_row(r);  // sets step
            copy_row(src, step, cptr.data() + r * cw, cw);
        }
    } else {
        // Canonical rows are source columns: a band of them is copied at once,
        // reading a short run of each source row.
        for (long r0 = 0; r0 < ch; r0 += kTurnBand) {
            const long first = first_of_row(r0);  // sets step
            const long next = r0 + 1 < ch ? first_of_row(r0 + 1) - first : 0;
            copy_turned_band(bptr.data() + first, step, next, cptr.data() + r0 * cw, cw,
                             std::min(kTurnBand, ch - r0));
        }
    }

    if (image_special == SPECIAL_EDGE_MARKERS)
        remove_edge_markers(imc, cptr, border[2]);
    else if (image_special == SPECIAL_CROSSHAIRS)
        remove_crosshairs(imc, cptr);
    return 0;
}

}  // namespace orva
