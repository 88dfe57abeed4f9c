// The whole run behind the command line: job file, image loading, the analysis
// driver, result file, marker file and the closing line.
#pragma once

#include <functional>
#include <vector>

#include "orva_defines.h"

namespace orva {

using AnalysisDriver = std::function<int(ORVAPARAMS&, std::vector<ByteBuffer>&, ORVARESULT&)>;

// Returns the exit status of the run.
int run_orva(int argc, char** argv, const AnalysisDriver& driver);

}  // namespace orva
