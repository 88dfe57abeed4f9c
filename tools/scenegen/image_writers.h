// Image files for the generator, in every format the program reads: binary PGM
// (P5) and PPM (P6), uncompressed 8-bit TIFF (grey or RGB, "II" or "MM", several
// strips), PNG (grey or RGB, libpng) and baseline JPEG (the project's writer).
// Buffers are row-major, top row first; RGB holds three bytes per pixel.
// Each writer returns 0, or 1 with a message in `error`.
#pragma once

#include <string>

#include "scene.h"
#include "types.h"

namespace orva::scenegen {

int write_pgm(const std::string& path, const orva::ByteBuffer& grey, int width, int height,
              std::string& error);
int write_ppm(const std::string& path, const orva::ByteBuffer& rgb, int width, int height,
              std::string& error);

// "II" files store ImageWidth, ImageLength and RowsPerStrip as SHORT, "MM" files
// as LONG, so that both value types the readers accept are exercised; StripOffsets
// and StripByteCounts are LONG tables. `channels` is 1 (grey) or 3 (RGB).
int write_tiff(const std::string& path, const orva::ByteBuffer& data, int width, int height,
               int channels, bool big_endian, std::string& error);

int write_png(const std::string& path, const orva::ByteBuffer& data, int width, int height,
              int channels, std::string& error);

// Grey buffer in the chosen format; `colour` writes RGB PNG and TIFF files,
// `tint` gives the RGB a warm back-light colour instead of R = G = B.
int write_image(const std::string& path, ImageFormat format, const orva::ByteBuffer& grey,
                int width, int height, bool colour, bool tint, int quality, std::string& error);

// File name extension of a format, without the dot.
const char* format_extension(ImageFormat format);
// Name of a format as --format takes it.
const char* format_name(ImageFormat format);

}  // namespace orva::scenegen
