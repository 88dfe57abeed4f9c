// Process running, file parsing and statistics for the benchmarks.
#include "bench_support.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace orva::bench {

double now_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + 1e-9 * ts.tv_nsec;
}

RunOutcome run_program(const std::string& program, const std::vector<std::string>& args,
                       const std::string& cwd, const std::string& out_file,
                       const std::string& err_file, double limit_seconds) {
    RunOutcome outcome;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const double start = now_seconds();
    const pid_t pid = fork();
    if (pid < 0) return outcome;
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(127);
        const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0) _exit(127);
        dup2(out, 1);
        dup2(err, 2);
        const int null_in = open("/dev/null", O_RDONLY);
        if (null_in >= 0) dup2(null_in, 0);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int wstatus = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(pid, &wstatus, WNOHANG, &usage);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return outcome;
        if (now_seconds() - start > limit_seconds && !outcome.timed_out) {
            kill(pid, SIGKILL);
            outcome.timed_out = true;
        }
        usleep(2000);
    }
    outcome.seconds = now_seconds() - start;
    outcome.max_rss_kb = usage.ru_maxrss;
    outcome.cpu_seconds = usage.ru_utime.tv_sec + 1e-6 * usage.ru_utime.tv_usec +
                          usage.ru_stime.tv_sec + 1e-6 * usage.ru_stime.tv_usec;
    if (WIFEXITED(wstatus)) outcome.status = WEXITSTATUS(wstatus);
    return outcome;
}

std::map<std::string, std::string> read_key_values(const std::string& path) {
    std::map<std::string, std::string> kv;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string key, value;
        if (fields >> key >> value) kv[key] = value;
    }
    return kv;
}

bool number_of(const std::map<std::string, std::string>& kv, const std::string& key,
               double& value) {
    const auto it = kv.find(key);
    if (it == kv.end()) return false;
    char* end = nullptr;
    value = std::strtod(it->second.c_str(), &end);
    return end != it->second.c_str() && *end == '\0' && std::isfinite(value);
}

double quantile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const double pos = p * (values.size() - 1);
    const size_t lo = static_cast<size_t>(std::floor(pos));
    const size_t hi = std::min(values.size() - 1, lo + 1);
    return values[lo] + (pos - lo) * (values[hi] - values[lo]);
}

std::string make_scratch_folder(const char* tag) {
    std::string pattern = std::string("/tmp/orva_") + tag + "_XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

std::string last_lines(const std::string& path, int count) {
    std::ifstream in(path);
    std::vector<std::string> kept;
    std::string line;
    while (std::getline(in, line)) {
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos) continue;
        kept.push_back(line.substr(first));
        if (static_cast<int>(kept.size()) > count) kept.erase(kept.begin());
    }
    std::string joined;
    for (const std::string& k : kept) joined += (joined.empty() ? "" : " / ") + k;
    return joined;
}

double wrap_degrees(double d) {
    d = std::fmod(d, 360.0);
    if (d > 180.0) d -= 360.0;
    if (d <= -180.0) d += 360.0;
    return d;
}

}  // namespace orva::bench
