// The job file of a rendered series: keyword lines for the chosen options, then
// the image list (NUMBER_OF_IMAGES with DATA_START ... DATA_END, or DATA lines
// followed by DATA_END). Angles are written as given, in degrees, two decimals.
#pragma once

#include <string>
#include <vector>

#include "scene.h"

namespace orva::scenegen {

struct JobImages {
    std::vector<std::string> names;  // one per angle of the scene, in order
    std::string background;          // empty when there is none
};

// The job file's text. `centre_coord` is written with CENTRE_COORD when the options
// ask for it (an explicit value in the options wins). Lines end in "\n", or "\r\n"
// with the crlf option.
std::string job_file_text(const Scene& scene, const JobImages& images, int centre_coord);

}  // namespace orva::scenegen
