// Writes a whole rotation series: the images (and the background image), the
// job file and the ground-truth file, into the output folder.
#pragma once

#include <cstdio>
#include <string>

#include "scene.h"

namespace orva::scenegen {

// Returns 0, or 1 with a message in `error` (folder or file cannot be written).
// A one-line summary goes to `report` unless it is null.
int write_series(const Scene& scene, std::FILE* report, std::string& error);

// Name of image `index` (prefix_NN.ext).
std::string image_name(const SceneOptions& opt, int index);

}  // namespace orva::scenegen
