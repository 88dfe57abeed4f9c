// PNG signature test and reader on arbitrary bytes.
#include "fuzz_input.h"
#include "imageio/png_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* name = orva::fuzz::as_file(data, size);
    orva::check_if_png(name);
    int width = 0;
    int height = 0;
    const orva::ByteBuffer pixels = orva::loadpng(name, &width, &height);
    if (!pixels.empty() && (width < 1 || height < 1)) std::abort();
    orva::fuzz::check_image(pixels.size(), static_cast<unsigned>(width),
                            static_cast<unsigned>(height));
    return 0;
}
