// Report text from the run record and its safe replacement on disk.
#include "run/report_output.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "report/atomic_file.h"
#include "report/run_report.h"
#include "run/command_line.h"
#include "run/result_file.h"

namespace orva {

namespace {

bool same_file(const std::string& a, const char* b) {
    if (a == b) return true;
    struct stat sa {
    }, sb{};
    return stat(a.c_str(), &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Writes the report of a run that ends with `status`; result is read only for
// status 0. Returns 0, or REPORT_WRITE_ERROR after a message.
int write_report(int status, const char* job_name, const char* result_name, const JobSettings& job,
                 const RunRecord& record, const ORVARESULT& result) {
    const std::string& name = job.report_name;
    if (same_file(name, result_name) || same_file(name, job_name)) {
        std::fprintf(stderr, "\n%s: The report file %s is the %s file: no report is written\n",
                     PROGRAM_NAME, name.c_str(), same_file(name, job_name) ? "job" : "result");
        return REPORT_WRITE_ERROR;
    }
    char version[16];
    std::snprintf(version, sizeof version, "%.1f", VERSION_NUMBER);
    ReportInput in;
    in.version = version;
    in.build = build_id();
    in.job_file = job_name;
    in.result_file = result_name;
    in.loop_position = job.loop_pos;
    in.status = status;
    if (status == 0) in.result_text = format_result(result);
    in.record = &record;
    const int err = replace_file(name, report_json(in));
    if (err == 0) return 0;
    std::fprintf(stderr, "\n%s: Cannot write report file %s: %s\n", PROGRAM_NAME, name.c_str(),
                 std::strerror(err));
    return REPORT_WRITE_ERROR;
}

}  // namespace

int finish_run_with_report(int status, const char* job_name, const char* result_name,
                           const JobSettings& job, const RunRecord& record,
                           const ORVARESULT& result) {
    const int report_status = write_report(status, job_name, result_name, job, record, result);
    if (status == 0 && report_status != 0) status = report_status;
    const int final_status = finish_run(status, result_name, result);
    if (final_status != status)
        write_report(final_status, job_name, result_name, job, record, result);
    return final_status;
}

}  // namespace orva
