// The JSON report of a run (the REPORT keyword): what was asked, what was
// loaded, the method and why, the observations of the fit with their final
// weights, the fitted motion with its meaning, the result file's values, the
// pre-centring reason, the warnings and the exit status. The README documents
// every member.
//
// Positions are input-image pixels, angles degrees. Members that do not apply
// to a run (a failed run has no fit and no result) are null.
#pragma once

#include <string>

#include "run_record.h"

namespace orva {

constexpr int REPORT_FORMAT_VERSION = 1;

struct ReportInput {
    std::string version;  // program version, "3.0"
    std::string build;    // build date and time
    std::string job_file;
    std::string result_file;
    int loop_position = 0;
    int status = 0;           // the run's exit status
    std::string result_text;  // the result file's text when it was written, else empty
    const RunRecord* record = nullptr;
};

// The report text: one JSON object, ending in a line feed.
std::string report_json(const ReportInput& in);

// One-line description of an exit status.
std::string status_text(int status);

}  // namespace orva
