// JPEG files of RGB pictures made mostly of single-colour areas (masks,
// points on black), written without running the library's colour conversion
// and transform over the whole picture.
//
// The picture is cut into cells of 16 x 16 pixels, the unit the library codes
// a colour picture in (one cell: four luminance blocks and one block of each
// chroma component). A cell whose pixels inside the picture all have one
// colour codes as constant blocks of that colour; every other cell gets the
// coefficients the library would compute for it (jpeg_transform.h), or, at
// settings that arithmetic does not cover, is copied into a small strip
// picture, which the library encodes with the same settings and which is read
// back as coefficients. The constant blocks of each colour are found the same
// way from one cell of it. In a strip, cells at the right edge are completed
// by repeating the last column, as the library does; cells of a shorter last
// row go into a strip of that height, so the library completes them itself. The markers and the
// Huffman coding of the baseline file follow the library's, so the file is byte for byte the one
// the library writes from the rows.
#pragma once

#include <cstdio>
#include <functional>
#include <span>
#include <utility>
#include <vector>

// jpeglib.h expects FILE and size_t to be declared first.
#include <jpeglib.h>

namespace orva {

struct FlatCells {
    int width = 0;
    int height = 0;
    int cells_wide = 0;
    int cells_high = 0;
    // Per cell, row-major: >= 0 the place of its pixels among the distinct
    // mixed cells; < 0 the single-colour cell of colour -1 - value.
    std::vector<int> cell;
    // Per colour: luminance, blue and red chroma DC coefficients.
    std::vector<JCOEF> colour_dc;
    // Per mixed cell: its four luminance blocks (top left, top right, bottom
    // left, bottom right), then the blue and red chroma blocks.
    std::vector<JCOEF> mixed;
};

// Fills `cells` for `img` (ncols x nrows pixels of R, G, B) and the library's
// default settings at `quality`; false when fewer than half of the cells have
// one colour (the rows are then the quicker way) or the strip pictures cannot
// be coded.
bool flat_cells(int quality, int ncols, int nrows, const unsigned char* img, FlatCells& cells);

// Fills `cells` for a picture of `background` colour (R, G, B) with the
// pixels at `points` (x, y; those outside the picture are left out) in colour
// `ink`, without making the picture; false as flat_cells.
bool point_cells(int quality, int ncols, int nrows, const unsigned char* background,
                 const unsigned char* ink, std::span<const std::pair<int, int>> points,
                 FlatCells& cells);

// A picture given cell by cell, for pictures made from something smaller
// than their pixels (a mask, say). flat(cx, cy, rgb) may name the colour of a
// cell it knows to be single-coloured (true, colour in rgb); otherwise
// draw(cx, cy, tile) writes the cell's pixels inside the picture into tile,
// rows of 16 pixels (R, G, B) each.
struct DrawnPicture {
    std::function<bool(int cx, int cy, unsigned char* rgb)> flat;
    std::function<void(int cx, int cy, unsigned char* tile)> draw;
};

// Fills `cells` for the ncols x nrows picture `picture` draws, without making
// the picture; false as flat_cells.
bool drawn_cells(int quality, int ncols, int nrows, const DrawnPicture& picture, FlatCells& cells);

// Writes the picture of `cells` through the destination of `cinfo`, which
// has the defaults and the quality set for the same picture and is not
// started: the file the library would write from the rows. Write errors
// leave through the error manager of `cinfo`.
void write_cells(jpeg_compress_struct& cinfo, const FlatCells& cells);

}  // namespace orva
