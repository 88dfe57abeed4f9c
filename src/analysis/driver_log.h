// The run log "logORVA.txt" of the analysis driver: a text file of lines that
// begin with "#", written only when the job asks for it (LOGOUTX).
//
// A DriverLog that was never opened swallows every write, so the pipeline can
// log unconditionally. The file is replaced on every run; close() appends the
// run duration and closes it.
#pragma once

#include <cstdio>

namespace orva {

constexpr const char* DRIVER_LOG_NAME = "logORVA.txt";
constexpr double ORVA_LOG_VERSION = 3.0;
// Status of a run whose log file cannot be created.
constexpr int DRIVER_LOG_ERROR = 92;

class DriverLog {
  public:
    DriverLog() = default;
    ~DriverLog();
    DriverLog(const DriverLog&) = delete;
    DriverLog& operator=(const DriverLog&) = delete;

    // Creates (or replaces) the named file and writes the header; false when it
    // cannot be created.
    bool open(const char* name);
    // Takes over an already open stream (tests); the header is written to it.
    void attach(std::FILE* stream);

    bool on() const { return file_ != nullptr; }
    // The stream for the stages that write into the log themselves; null when off.
    std::FILE* stream() const { return file_; }

    // printf-style write; nothing happens when the log is off.
    void write(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Appends the run duration in whole seconds and closes the file.
    void close(long seconds);

  private:
    void header();
    std::FILE* file_ = nullptr;
    bool owned_ = false;
};

}  // namespace orva
