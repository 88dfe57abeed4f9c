// One run: marker "0", banner, command line, job file, images, the analysis
// driver, then report (REPORT), result file, marker "1" and the closing line.
//
// "orva --version" only prints the version. Usage, help and job-file errors
// end the run at once with status 1 (the marker stays "0"); every later
// failure goes through the end-of-run steps.
#include "run/run_orva.h"

#include <malloc.h>

#include "run/command_line.h"
#include "run/image_set.h"
#include "run/job_file.h"
#include "run/report_output.h"
#include "run/result_file.h"
#include "run_record.h"

namespace orva {

namespace {

// The fields a driver may leave untouched on its way to a result.
void clear_result(ORVARESULT& result) {
    result.x_centre = 0;
    result.y_centre = 0;
    result.radius = 0;
    result.phi = 0;
    result.reliability = 0;
    result.precentring_flag = 0;
}

// Working buffers of a few hundred kilobytes to a few megabytes come and go
// for every image, on every thread. Freed memory is kept in one heap shared
// by all threads and reused, instead of being handed back to the system and
// faulted in, zero-filled, again for the next image.
void keep_freed_memory() {
    constexpr int kLargestFromHeap = 32 << 20;  // glibc's upper limit
    constexpr int kKeptFree = 1 << 30;
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, kLargestFromHeap);
    mallopt(M_TRIM_THRESHOLD, kKeptFree);
}

}  // namespace

int run_orva(int argc, char** argv, const AnalysisDriver& driver) {
    if (is_version_request(argc, argv)) {
        write_version();
        return 0;
    }
    keep_freed_memory();
    write_marker(MARKER_STARTED);
    write_banner();
    if (check_command_line(argc, argv) != 0) return USAGE_ERROR;

    JobSettings job;
    if (read_job_file(argv[1], job) != 0) return JOB_FILE_ERROR;

    // The record is kept only for a report, so runs without one take the same path as ever.
    const bool report = !job.report_name.empty();
    RunRecord record;
    record.warnings = job.warnings;
    ORVAPARAMS params;
    params.record = report ? &record : nullptr;
    std::vector<ByteBuffer> images;
    ORVARESULT result;
    int status = load_image_set(job, params, images);
    if (status == 0) {
        clear_result(result);
        status = driver(params, images, result);
    }
    if (report) return finish_run_with_report(status, argv[1], argv[2], job, record, result);
    return finish_run(status, argv[2], result);
}

}  // namespace orva
