// Uncompressed TIFF reader on arbitrary bytes, in both byte orders.
#include "fuzz_input.h"
#include "imageio/image_type.h"
#include "imageio/tiff_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* name = orva::fuzz::as_file(data, size);
    for (const int type : {orva::TIFF_LITTLE, orva::TIFF_BIG}) {
        for (const int uv_flag : {0, 1}) {
            orva::ByteBuffer pixels;
            orva::IMAGE im;
            orva::read_tiff_2(pixels, im, name, uv_flag, type);
            orva::fuzz::check_image(pixels.size(), im.width, im.height);
        }
    }
    return 0;
}
