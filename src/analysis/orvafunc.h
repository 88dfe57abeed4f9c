// The default analysis driver: from the loaded images and the run parameters
// to the eight result values.
#pragma once

#include <vector>

#include "orva_defines.h"

namespace orva {

// Returns 0 on success with `result` filled, or the status of the failing stage.
int orvafunc(ORVAPARAMS& params, std::vector<ByteBuffer>& images, ORVARESULT& result);

}  // namespace orva
