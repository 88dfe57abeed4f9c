// Image records for unit tests.
#pragma once

#include "types.h"

namespace orva::test {

// The geometry of a width x height image.
inline IMAGE geometry(unsigned int width, unsigned int height) {
    IMAGE im;
    im.width = width;
    im.height = height;
    im.size = static_cast<unsigned long>(width) * height;
    return im;
}

}  // namespace orva::test
