// Image-type detection from the first bytes of a file.
#pragma once

namespace orva {

enum ImgType {
    READ_ERROR = 0,          // the file cannot be opened
    PGM_SUPPORTED = 1,       // "P5" or "P6"
    PGM_NOT_SUPPORTED = 2,   // "P" and any other second byte
    TIFF_LITTLE = 3,         // "MM", 42 in byte 3: most significant byte first
    TIFF_BIG = 4,            // "II", 42 in byte 2: least significant byte first
    TIFF_NOT_SUPPORTED = 5,  // "MM" or "II" without the 42
    JPEG = 6,                // 0xFF 0xD8 0xFF
    PNG = 7,                 // the PNG signature
    UNKNOWN_IMGTYPE = 11,
};

int get_img_type(const char* name);

}  // namespace orva
