// JPEG reading into 8-bit grey and writing from RGB, through libjpeg.
#pragma once

#include "types.h"

namespace orva {

// Returns the grey image and stores its size; an empty buffer when the file
// cannot be opened or decoded (the library's message is on standard error).
ByteBuffer read_JPEG_file(const char* filename, int* ncols, int* nrows);

// Writes `img` (ncols * nrows pixels of R, G, B) as a baseline JPEG file.
// A file that cannot be created or written completely is reported with the
// reason, removed, and false returned.
bool write_JPEG_file(const char* filename, int quality, int ncols, int nrows,
                     const unsigned char* img);

// The same for a picture given by its cells (point_cells, jpeg_cells.h), with
// the same bytes and failure reports.
struct FlatCells;
bool write_JPEG_file(const char* filename, int quality, const FlatCells& cells);

}  // namespace orva
