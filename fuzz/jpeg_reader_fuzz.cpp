// JPEG reader on arbitrary bytes.
#include "fuzz_input.h"
#include "imageio/jpeg_io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int width = 0;
    int height = 0;
    const orva::ByteBuffer pixels =
        orva::read_JPEG_file(orva::fuzz::as_file(data, size), &width, &height);
    if (!pixels.empty() && (width < 1 || height < 1)) std::abort();
    orva::fuzz::check_image(pixels.size(), static_cast<unsigned>(width),
                            static_cast<unsigned>(height));
    return 0;
}
