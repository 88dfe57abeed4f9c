// Binary PGM (P5) and PPM (P6) reading into 8-bit grey.
#pragma once

#include <cstdio>

#include "types.h"

namespace orva {

// Reads the header of an open file and leaves the stream at the first pixel byte.
// Returns 5 or 6, or 0 when the format is another or the header is unusable.
int pgm_header(IMAGE& im, std::FILE* in);

// Returns 0 with `charImage` filled on success; 2 when the buffer cannot be
// allocated; 0 with `charImage` empty when the file cannot be read or is refused.
int read_pgm(ByteBuffer& charImage, IMAGE& im, const char* in_name);

}  // namespace orva
