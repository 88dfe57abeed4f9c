// Hand-over to the version-2.3 method. Until that method is built in, such a
// run fails with its own status: a run must never look like a success without
// a result.
#include "analysis/version23_method.h"

namespace orva {

int run_version23_method(ORVAPARAMS& /*params*/, std::vector<ByteBuffer>& /*images*/,
                         ORVARESULT& /*result*/, std::FILE* /*log*/) {
    std::fprintf(stderr, "\norvafunc: the version-2.3 method is not available in this build\n");
    return VERSION23_NOT_AVAILABLE;
}

}  // namespace orva
