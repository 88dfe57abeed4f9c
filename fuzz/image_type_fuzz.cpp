// Type detection and the dispatch to the reader it chooses, as the image-set
// loader does it for every listed file.
#include "fuzz_input.h"
#include "imageio/image_type.h"
#include "run/image_set.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* name = orva::fuzz::as_file(data, size);
    const int type = orva::get_img_type(name);
    if (type == orva::READ_ERROR) std::abort();  // the file is always there
    for (const int uv_flag : {0, 1}) {
        orva::ByteBuffer pixels;
        orva::IMAGE im;
        orva::read_image_file(name, uv_flag, pixels, im);
        orva::fuzz::check_image(pixels.size(), im.width, im.height);
    }
    return 0;
}
