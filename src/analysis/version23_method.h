// Hand-over of a run to the version-2.3 method.
#pragma once

#include <cstdio>
#include <vector>

#include "orva_defines.h"

namespace orva {

// Runs the version-2.3 method on the loaded images; it fills `result` itself.
// log: the run log, or null. Returns that method's status.
int run_version23_method(ORVAPARAMS& params, std::vector<ByteBuffer>& images, ORVARESULT& result,
                         std::FILE* log);

}  // namespace orva
