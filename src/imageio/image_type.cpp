// Image-type detection from the first eight bytes of a file.
//
// Decided in a fixed order: "P" (binary PGM/PPM when the next byte is 5 or 6),
// "MM" (TIFF, most significant byte first, 42 in byte 3), "II" (TIFF, least
// significant byte first, 42 in byte 2), 0xFF 0xD8 0xFF (JPEG), the PNG
// signature, else UNKNOWN_IMGTYPE. Bytes missing in a short file count as end
// of file and match nothing. A file that cannot be opened gives READ_ERROR.
#include "imageio/image_type.h"

#include <png.h>

#include <cerrno>
#include <cstdio>

#include "imageio/byte_reader.h"

namespace orva {

namespace {

constexpr int kHeaderBytes = 8;
constexpr int kTiffMagic = 42;

bool is_png_signature(const int (&b)[kHeaderBytes]) {
    png_byte sig[kHeaderBytes];
    for (int i = 0; i < kHeaderBytes; ++i) {
        if (b[i] == EOF) return false;
        sig[i] = static_cast<png_byte>(b[i]);
    }
    return png_sig_cmp(sig, 0, kHeaderBytes) == 0;
}

}  // namespace

int get_img_type(const char* name) {
    ByteReader in;
    if (!in.open(name)) {
        const int saved_errno = errno;
        std::fprintf(stderr, "\n%s: Cannot open file %s for reading!", "get_img_type", name);
        errno = saved_errno;
        std::perror(":");
        return READ_ERROR;
    }
    int b[kHeaderBytes];
    for (int& byte : b) byte = in.get();

    if (b[0] == 'P') return (b[1] == '5' || b[1] == '6') ? PGM_SUPPORTED : PGM_NOT_SUPPORTED;
    if (b[0] == 'M' && b[1] == 'M') return b[3] == kTiffMagic ? TIFF_LITTLE : TIFF_NOT_SUPPORTED;
    if (b[0] == 'I' && b[1] == 'I') return b[2] == kTiffMagic ? TIFF_BIG : TIFF_NOT_SUPPORTED;
    if (b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return JPEG;
    if (is_png_signature(b)) return PNG;
    return UNKNOWN_IMGTYPE;
}

}  // namespace orva
