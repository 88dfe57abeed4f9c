// Binary PGM/PPM reader on arbitrary bytes.
#include "fuzz_input.h"
#include "imageio/pgm_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orva::ByteBuffer pixels;
    orva::IMAGE im;
    orva::read_pgm(pixels, im, orva::fuzz::as_file(data, size));
    orva::fuzz::check_image(pixels.size(), im.width, im.height);
    return 0;
}
