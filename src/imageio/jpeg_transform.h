// The coefficients the JPEG library stores for one 16 x 16 cell of an RGB
// picture it codes with its default settings: YCbCr colour conversion in
// fixed point, chroma halved in both directions (the two-by-two mean with the
// alternating 1, 2 rounding bias), the accurate integer transform of the
// level-shifted samples and rounding division by eight times the quantiser.
// Every step is the library's integer arithmetic, so the coefficients are
// the ones it computes, bit for bit, as long as its settings are the ones
// named (exact_cell_quantisers checks them).
//
// A cell that the picture's right or bottom edge cuts is completed as the
// library completes the picture: columns repeat the last one; luminance rows
// repeat the last row, chroma rows the last row of halved chroma (an odd row
// count first pairs the last row with itself).
// Layout of the result: four luminance blocks (top left, top right, bottom
// left, bottom right), then the blue and red chroma blocks, each 64
// coefficients in row-major order.
#pragma once

#include <cstddef>
#include <cstdio>

// jpeglib.h expects FILE and size_t to be declared first.
#include <jpeglib.h>

namespace orva {

// Per quantisation table (luminance, chroma) and coefficient, log2 of the
// divisor (eight times the quantiser).
struct CellQuantisers {
    int shift[2][DCTSIZE2];
};

// Whether `cinfo` (defaults and quality set, not started) codes an RGB
// picture as cell_coefficients computes it: YCbCr with chroma halved both
// ways, no smoothing, the accurate integer transform and quantisers that are
// powers of two (the division is then a shift in every variant of the
// library); fills `q` when it does.
bool exact_cell_quantisers(const jpeg_compress_struct& cinfo, CellQuantisers& q);

// The six blocks of the cell whose top-left pixel is at `first` (rows
// `stride` bytes apart; `cols` x `rows` pixels of it inside the picture, each
// 1 .. 16) into out[0 .. 6 * 64).
void cell_coefficients(const unsigned char* first, std::size_t stride, int cols, int rows,
                       const CellQuantisers& q, JCOEF* out);

}  // namespace orva
