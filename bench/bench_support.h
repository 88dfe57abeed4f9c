// Shared pieces of the benchmarks: running the program as a child process with
// a time limit (wall time and peak memory from wait4), reading "KEY value"
// files, order statistics and scratch folders.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace orva::bench {

struct RunOutcome {
    int status = -1;           // exit status; -1 when it did not exit normally
    bool timed_out = false;    // killed after the time limit
    double seconds = 0.0;      // wall time
    double cpu_seconds = 0.0;  // user plus system time of the child (wait4)
    long max_rss_kb = 0;       // peak resident memory of the child
};

// Runs `program` with `args` in folder `cwd`, standard output and error to the
// named files (inside `cwd`). The child is killed after `limit_seconds`.
RunOutcome run_program(const std::string& program, const std::vector<std::string>& args,
                       const std::string& cwd, const std::string& out_file,
                       const std::string& err_file, double limit_seconds);

// First and second field of every line that does not start with '#'; empty
// when the file cannot be read.
std::map<std::string, std::string> read_key_values(const std::string& path);

// Number under `key`, or false when it is missing or not a number.
bool number_of(const std::map<std::string, std::string>& kv, const std::string& key, double& value);

// Value at fraction p (0..1) of the sorted sample, linear interpolation; 0 when empty.
double quantile(std::vector<double> values, double p);

// A new folder under /tmp; empty string on failure.
std::string make_scratch_folder(const char* tag);

// The last `count` lines of a text file that are not blank, joined by " / ".
std::string last_lines(const std::string& path, int count);

// Seconds of a monotonic clock.
double now_seconds();

// An angle difference in degrees brought into (-180, 180].
double wrap_degrees(double d);

}  // namespace orva::bench
