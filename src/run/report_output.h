// The JSON report of a run (REPORT keyword) beside the result file.
//
// A successful run writes its report before the result file: when the report
// cannot be written the run fails with REPORT_WRITE_ERROR and no result file is
// written, so status 0 always means that both are there. When the result file
// then cannot be written, the report is written again with that status. A
// failed run writes its report with its status and message; a report that
// cannot be written then is only reported on standard error.
#pragma once

#include "orva_defines.h"
#include "run/job_file.h"
#include "run_record.h"

namespace orva {

constexpr int REPORT_WRITE_ERROR = 16;  // the report could not be written

// End of a run that asked for a report: the report, then finish_run. Returns
// the exit status.
int finish_run_with_report(int status, const char* job_name, const char* result_name,
                           const JobSettings& job, const RunRecord& record,
                           const ORVARESULT& result);

}  // namespace orva
