// Hand-over of a run to the version-2.3 method, which fills the result itself.
#include "analysis/version23_method.h"

#include "v23/conventional.h"

namespace orva {

int run_version23_method(ORVAPARAMS& params, std::vector<ByteBuffer>& images, ORVARESULT& result,
                         std::FILE* log) {
    // Its status is passed on: a failed run must not look like a success.
    return orva_conventional(params, images, result, log);
}

}  // namespace orva
