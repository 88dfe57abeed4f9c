// Start-up banner, command-line check, short usage and long help text.
//
// The command line is "orva job_file result_file" (further arguments are
// ignored), "orva -help" or "orva --version". Every text but the version goes
// to standard error.
#pragma once

namespace orva {

constexpr const char* PROGRAM_NAME = "ORVA";  // the name in the program's own messages
constexpr double VERSION_NUMBER = 3.0;
constexpr int USAGE_ERROR = 1;  // status after the usage or help text

// The build date and time, as in the banner.
const char* build_id();
// True for the command line "orva --version" (nothing after it).
bool is_version_request(int argc, char** argv);
// "orva 3.0 (built <date> <time>)" on standard output.
void write_version();

void write_banner();
void write_usage(const char* prog);
void write_help(const char* prog);

// 0 when argv[1] and argv[2] name the job file and the result file; otherwise
// writes the usage or help text and returns USAGE_ERROR.
int check_command_line(int argc, char** argv);

}  // namespace orva
