// The analysis is not in place yet: every run fails with a clear message.
#include "analysis/orvafunc.h"

#include <cstdio>

namespace orva {

constexpr int STATUS_NOT_AVAILABLE = 98;

int orvafunc(ORVAPARAMS& /*params*/, std::vector<ByteBuffer>& /*images*/,
             ORVARESULT& /*result*/) {
    std::fprintf(stderr, "\norvafunc: the image analysis is not available in this build\n");
    return STATUS_NOT_AVAILABLE;
}

}  // namespace orva
