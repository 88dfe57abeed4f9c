// Geometry and format of a set of 8-bit image buffers, and the buffer type itself.
//
// Buffers are unsigned 8-bit grey, row-major, top row first: pixel (x, y) is
// byte y * width + x, x the column, y the row. Masks share that layout, nonzero
// meaning set.
#pragma once

#include <vector>

namespace orva {

// One owned 8-bit grey image (or mask); empty when no image is held.
using ByteBuffer = std::vector<unsigned char>;

struct IMAGE {
    unsigned int width = 0;   // pixels
    unsigned int height = 0;  // pixels
    unsigned long size = 0;   // width * height
    int bit_depth = 0;        // significant bits of max_value (PGM/PPM reader)
    int sign_flag = 0;        // carried, not used
    short dc_shift = 0;       // carried, not used
    unsigned short max_value = 0;  // the file's maximum sample value (PGM/PPM reader)
};

}  // namespace orva
