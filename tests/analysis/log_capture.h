// A driver log on a temporary file, and what was written to it after the header.
#pragma once

#include <cstdio>
#include <string>

#include "analysis/driver_log.h"

namespace orva::testing {

class LogCapture {
  public:
    LogCapture() : file_(std::tmpfile()) { log.attach(file_); }
    ~LogCapture() { std::fclose(file_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // What follows the header, without the closing duration line; closes the log.
    std::string body() {
        log.close(0);
        std::rewind(file_);
        std::string text;
        for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_))
            text += static_cast<char>(c);
        const std::string header_end = "image\n# --------------------------------------------";
        const std::size_t from = text.find(header_end) + header_end.size();
        return text.substr(from, text.rfind("\n# total duration: 0\n") - from);
    }

    DriverLog log;

  private:
    std::FILE* file_;
};

}  // namespace orva::testing
