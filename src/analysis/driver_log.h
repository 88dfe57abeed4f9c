// The run log "logORVA.txt" of the analysis driver: a text file of lines that
// begin with "#", written only when the job asks for it (LOGOUTX).
//
// A DriverLog that was never opened swallows every write, so the pipeline can
// log unconditionally. The file is replaced on every run, never written
// through a link planted under its name; close() appends the run duration,
// closes it and tells whether every write reached the file.
#pragma once

#include <cstdio>
#include <string>

#include "toolkit/safe_files.h"

namespace orva {

constexpr const char* DRIVER_LOG_NAME = "logORVA.txt";
constexpr double ORVA_LOG_VERSION = 3.0;
// Status of a run whose log file cannot be created or written completely.
constexpr int DRIVER_LOG_ERROR = LOG_FILE_ERROR;

class DriverLog {
  public:
    DriverLog() = default;
    ~DriverLog();
    DriverLog(const DriverLog&) = delete;
    DriverLog& operator=(const DriverLog&) = delete;

    // Creates (or replaces) the named file and writes the header; false when it
    // cannot be created, with the reason in why().
    bool open(const char* name);
    // Takes over an already open stream (tests); the header is written to it.
    void attach(std::FILE* stream);

    bool on() const { return file_ != nullptr; }
    // The stream for the stages that write into the log themselves; null when off.
    std::FILE* stream() const { return file_; }

    // printf-style write; nothing happens when the log is off.
    void write(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Appends the run duration in whole seconds and closes the file; false,
    // with the reason in why(), when a write into an opened file failed.
    bool close(long seconds);

    const std::string& why() const { return why_; }

  private:
    void header();
    std::FILE* file_ = nullptr;
    bool owned_ = false;
    std::string why_;
};

}  // namespace orva
