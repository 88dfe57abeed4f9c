// PNG reading into 8-bit grey, through libpng.
#pragma once

#include "types.h"

namespace orva {

// 1 when the file starts with the PNG signature, else 0.
int check_if_png(const char* file_name);

// Returns the grey image and stores its size; an empty buffer when the file
// cannot be opened or decoded.
ByteBuffer loadpng(const char* filename, int* ncols, int* nrows);

}  // namespace orva
