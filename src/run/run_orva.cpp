#include "run/run_orva.h"

#include <cstdio>

namespace orva {

int run_orva(int /*argc*/, char** /*argv*/, const AnalysisDriver& /*driver*/) {
    std::fprintf(stderr, "\nORVA: not built yet\n");
    return 1;
}

}  // namespace orva
