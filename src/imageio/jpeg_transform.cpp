// The library's forward path for one 16 x 16 cell (see the header): colour
// conversion, chroma halving, integer transform, quantisation.
#include "imageio/jpeg_transform.h"

#include <algorithm>
#include <cstdint>

#include "toolkit/vector_clones.h"

namespace orva {

namespace {

constexpr int kCell = 16;
constexpr int kCentre = 128;  // level shift of 8-bit samples

// Colour conversion: weights with 16 fraction bits, summed per pixel from
// one table per channel and output; the rounding half sits in the blue
// (luminance) or the +0.5 (chroma) table, minus one for chroma so that 255
// cannot round up out of range.
constexpr int kScaleBits = 16;
constexpr std::int32_t fixed(double x) {
    return static_cast<std::int32_t>(x * (1L << kScaleBits) + 0.5);
}
constexpr std::int32_t kHalf = std::int32_t{1} << (kScaleBits - 1);
constexpr std::int32_t kChromaOffset = std::int32_t{kCentre} << kScaleBits;

constexpr std::int32_t kRY = fixed(0.29900), kGY = fixed(0.58700), kBY = fixed(0.11400);
constexpr std::int32_t kRCb = -fixed(0.16874), kGCb = -fixed(0.33126), kHalfWeight = fixed(0.50000);
constexpr std::int32_t kGCr = -fixed(0.41869), kBCr = -fixed(0.08131);
constexpr std::int32_t kChromaRound = kChromaOffset + kHalf - 1;

// The completed cell's luminance, and its chroma halved both ways.
struct CellPlanes {
    std::uint8_t luma[kCell][kCell];
    std::uint8_t chroma[2][8][8];  // blue, red
};

// One row of 16 interleaved pixels in the three output planes.
[[gnu::always_inline]] inline void convert_row(const unsigned char* __restrict px,
                                               std::uint8_t* __restrict luma,
                                               std::uint8_t* __restrict blue,
                                               std::uint8_t* __restrict red) {
    for (int x = 0; x < kCell; ++x) {
        const std::int32_t R = px[3 * x], G = px[3 * x + 1], B = px[3 * x + 2];
        luma[x] = static_cast<std::uint8_t>((kRY * R + kGY * G + (kBY * B + kHalf)) >> kScaleBits);
        blue[x] = static_cast<std::uint8_t>(
            (kRCb * R + kGCb * G + (kHalfWeight * B + kChromaRound)) >> kScaleBits);
        red[x] = static_cast<std::uint8_t>((kHalfWeight * R + kChromaRound + kGCr * G + kBCr * B) >>
                                           kScaleBits);
    }
}

ORVA_VECTOR_CLONES
void cell_planes(const unsigned char* first, std::size_t stride, int cols, int rows,
                 CellPlanes& out) {
    // Full-resolution chroma; one spare row pairs an odd last row with itself.
    std::uint8_t blue[kCell + 1][kCell];
    std::uint8_t red[kCell + 1][kCell];
    unsigned char completed[3 * kCell];
    for (int y = 0; y < rows; ++y) {
        const unsigned char* row = first + y * stride;
        if (cols < kCell) {
            std::copy_n(row, 3 * cols, completed);
            for (int x = cols; x < kCell; ++x)
                std::copy_n(row + 3 * (cols - 1), 3, completed + 3 * x);
            row = completed;
        }
        convert_row(row, out.luma[y], blue[y], red[y]);
    }
    for (int y = rows; y < kCell; ++y) std::copy_n(out.luma[rows - 1], kCell, out.luma[y]);
    std::copy_n(blue[rows - 1], kCell, blue[rows]);
    std::copy_n(red[rows - 1], kCell, red[rows]);

    // Halved chroma: rows past the pairs of the cell repeat the last one.
    const int pairs = (rows + 1) / 2;
    for (int c = 0; c < 2; ++c) {
        const std::uint8_t(*full)[kCell] = c == 0 ? blue : red;
        std::uint8_t(*half)[8] = out.chroma[c];
        for (int y = 0; y < pairs; ++y)
            for (int x = 0; x < 8; ++x) {
                const int bias = 1 + (x & 1);
                half[y][x] = static_cast<std::uint8_t>(
                    (full[2 * y][2 * x] + full[2 * y][2 * x + 1] + full[2 * y + 1][2 * x] +
                     full[2 * y + 1][2 * x + 1] + bias) >>
                    2);
            }
        for (int y = pairs; y < 8; ++y) std::copy_n(half[pairs - 1], 8, half[y]);
    }
}

// The accurate integer transform of 8 x 8 level-shifted samples in place:
// rows, then columns, with 13-bit constants and two extra bits between the
// passes; results are eight times the orthonormal transform.
constexpr int kConstBits = 13;
constexpr int kPass1Bits = 2;
constexpr std::int32_t k0_298631336 = 2446, k0_390180644 = 3196, k0_541196100 = 4433,
                       k0_765366865 = 6270, k0_899976223 = 7373, k1_175875602 = 9633,
                       k1_501321110 = 12299, k1_847759065 = 15137, k1_961570560 = 16069,
                       k2_053119869 = 16819, k2_562915447 = 20995, k3_072711026 = 25172;

inline std::int32_t descale(std::int32_t x, int n) {
    return (x + (std::int32_t{1} << (n - 1))) >> n;
}

// One pass over eight lines: in[k][line] is value k of a line, out[k][line]
// output k. Outputs 0 and 4 are shifted up by `up` bits (first pass) or
// rounded down by `down` bits (second pass); the rest are rounded down by
// `bits`. The lines run side by side in the vector unit.
[[gnu::always_inline]] inline void transform_pass(const std::int32_t (*in)[8],
                                                  std::int32_t (*out)[8], int up, int down,
                                                  int bits) {
    for (int line = 0; line < 8; ++line) {
        std::int32_t tmp0 = in[0][line] + in[7][line], tmp7 = in[0][line] - in[7][line];
        std::int32_t tmp1 = in[1][line] + in[6][line], tmp6 = in[1][line] - in[6][line];
        std::int32_t tmp2 = in[2][line] + in[5][line], tmp5 = in[2][line] - in[5][line];
        std::int32_t tmp3 = in[3][line] + in[4][line], tmp4 = in[3][line] - in[4][line];

        // Even part.
        const std::int32_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3;
        const std::int32_t tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
        if (down == 0) {
            out[0][line] = (tmp10 + tmp11) * (std::int32_t{1} << up);
            out[4][line] = (tmp10 - tmp11) * (std::int32_t{1} << up);
        } else {
            out[0][line] = descale(tmp10 + tmp11, down);
            out[4][line] = descale(tmp10 - tmp11, down);
        }
        std::int32_t z1 = (tmp12 + tmp13) * k0_541196100;
        out[2][line] = descale(z1 + tmp13 * k0_765366865, bits);
        out[6][line] = descale(z1 + tmp12 * -k1_847759065, bits);

        // Odd part.
        z1 = tmp4 + tmp7;
        std::int32_t z2 = tmp5 + tmp6;
        std::int32_t z3 = tmp4 + tmp6;
        std::int32_t z4 = tmp5 + tmp7;
        const std::int32_t z5 = (z3 + z4) * k1_175875602;
        tmp4 *= k0_298631336;
        tmp5 *= k2_053119869;
        tmp6 *= k3_072711026;
        tmp7 *= k1_501321110;
        z1 *= -k0_899976223;
        z2 *= -k2_562915447;
        z3 *= -k1_961570560;
        z4 *= -k0_390180644;
        z3 += z5;
        z4 += z5;
        out[7][line] = descale(tmp4 + z1 + z3, bits);
        out[5][line] = descale(tmp5 + z2 + z4, bits);
        out[3][line] = descale(tmp6 + z2 + z3, bits);
        out[1][line] = descale(tmp7 + z1 + z4, bits);
    }
}

// One block: the 8 x 8 samples at `plane` (rows `pitch` apart) level-shifted,
// transformed (rows, then columns) and divided with rounding away from zero.
ORVA_VECTOR_CLONES
void code_block(const std::uint8_t* plane, int pitch, const int* shift, JCOEF* out) {
    // Rows as lines: value x of row y at [x][y].
    std::int32_t rows[8][8], rows_out[8][8], columns[8][8], result[8][8];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) rows[x][y] = plane[y * pitch + x] - kCentre;
    transform_pass(rows, rows_out, kPass1Bits, 0, kConstBits - kPass1Bits);
    // Columns as lines: value y of column x at [y][x].
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) columns[y][x] = rows_out[x][y];
    transform_pass(columns, result, 0, kPass1Bits, kConstBits + kPass1Bits);
    const std::int32_t* v = &result[0][0];
    for (int k = 0; k < DCTSIZE2; ++k) {
        const int s = shift[k];
        const std::int32_t round = std::int32_t{1} << (s - 1);
        const std::int32_t magnitude = (v[k] < 0 ? -v[k] : v[k]) + round;
        const std::int32_t q = magnitude >> s;
        out[k] = static_cast<JCOEF>(v[k] < 0 ? -q : q);
    }
}

// log2 of v when v is a power of two, else -1.
int exact_log2(unsigned v) {
    if (v == 0 || (v & (v - 1)) != 0) return -1;
    return __builtin_ctz(v);
}

}  // namespace

bool exact_cell_quantisers(const jpeg_compress_struct& c, CellQuantisers& q) {
    if (c.in_color_space != JCS_RGB || c.input_components != 3 || c.jpeg_color_space != JCS_YCbCr ||
        c.num_components != 3 || c.dct_method != JDCT_ISLOW || c.smoothing_factor != 0 ||
        c.CCIR601_sampling || c.data_precision != 8)
        return false;
    for (int ci = 0; ci < 3; ++ci) {
        const jpeg_component_info& comp = c.comp_info[ci];
        const int factor = ci == 0 ? 2 : 1;
        if (comp.h_samp_factor != factor || comp.v_samp_factor != factor) return false;
        const int t = comp.quant_tbl_no;
        if (t < 0 || t >= NUM_QUANT_TBLS || c.quant_tbl_ptrs[t] == nullptr) return false;
        // The chroma components must share their table: one set of shifts.
        if (ci == 2 && t != c.comp_info[1].quant_tbl_no) return false;
        for (int k = 0; k < DCTSIZE2; ++k) {
            const int s = exact_log2(8u * c.quant_tbl_ptrs[t]->quantval[k]);
            if (s < 0) return false;
            q.shift[ci == 0 ? 0 : 1][k] = s;
        }
    }
    return true;
}

void cell_coefficients(const unsigned char* first, std::size_t stride, int cols, int rows,
                       const CellQuantisers& q, JCOEF* out) {
    CellPlanes planes;
    cell_planes(first, stride, cols, rows, planes);
    for (int b = 0; b < 4; ++b)
        code_block(&planes.luma[8 * (b / 2)][8 * (b % 2)], kCell, q.shift[0], out + b * DCTSIZE2);
    code_block(&planes.chroma[0][0][0], 8, q.shift[1], out + 4 * DCTSIZE2);
    code_block(&planes.chroma[1][0][0], 8, q.shift[1], out + 5 * DCTSIZE2);
}

}  // namespace orva
