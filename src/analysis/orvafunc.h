// The default analysis driver: from the loaded images and the run parameters
// to the eight result values.
//
// Angles in params.angle are folded into [0, 360) on return (negatives get
// 360 added once); a background image in params.back_ptr is replaced by its
// cut, canonical copy. Statuses: 0 with `result` filled; 1 for a parameter
// out of range; 17 for a known axis outside the analysed image; 92 when
// "logORVA.txt" or "log_res2.txt" cannot be created or written completely;
// the version-2.3 method's own status for runs handed to it; else the status
// of the failing stage (UNUSABLE_FIT, 22, for a motion fit that gives no image
// position). `result` is left as it was on every failure but 92 from a log
// that could not be completed at the end of the run.
#pragma once

#include <vector>

#include "orva_defines.h"

namespace orva {

int orvafunc(ORVAPARAMS& params, std::vector<ByteBuffer>& images, ORVARESULT& result);

}  // namespace orva
