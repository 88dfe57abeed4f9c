// Loading the images of a job into 8-bit grey buffers and filling ORVAPARAMS.
//
// Images are loaded in list order (ascending angle), the background last. A file
// that cannot be opened, or that opens but cannot be read as an image, is skipped
// (a background is then dropped); the angles of the others stay with their own
// buffers. Status codes: 0 loaded; 2 no memory for the arrays or an image; 11
// unsupported PGM/PPM or TIFF variant; 12 a file vanished before its type could be
// read; 13 unknown image type; 14 images of different sizes; 99 no listed image
// could be loaded.
#pragma once

#include <vector>

#include "orva_defines.h"
#include "run/job_file.h"
#include "types.h"

namespace orva {

constexpr int NO_MEMORY = 2;
constexpr int UNSUPPORTED_VARIANT = 11;
constexpr int TYPE_NOT_READ = 12;
constexpr int UNKNOWN_TYPE = 13;
constexpr int SIZE_MISMATCH = 14;
constexpr int NO_IMAGE_FOUND = 99;

// Reads one image file of any supported type. Returns 0 with `buffer` and the
// size in `im` (an empty buffer when the reader refused the file), or 2, 11, 12 or
// 13 after a message.
int read_image_file(const char* name, int uv_flag, ByteBuffer& buffer, IMAGE& im);

// Loads every image of `job` and its background, and fills `params` for the
// analysis driver; `images` receives the buffers in the order of params.angle.
int load_image_set(const JobSettings& job, ORVAPARAMS& params, std::vector<ByteBuffer>& images);

}  // namespace orva
