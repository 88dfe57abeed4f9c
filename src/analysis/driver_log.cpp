// The run log of the analysis driver: header, formatted writes, closing line.
#include "analysis/driver_log.h"

#include <cstdarg>

namespace orva {

DriverLog::~DriverLog() {
    if (file_ != nullptr && owned_) std::fclose(file_);
}

bool DriverLog::open(const char* name) {
    std::FILE* stream = open_output_stream(name, why_);
    if (stream == nullptr) return false;
    file_ = stream;
    owned_ = true;
    header();
    return true;
}

void DriverLog::attach(std::FILE* stream) {
    file_ = stream;
    owned_ = false;
    if (file_ != nullptr) header();
}

void DriverLog::header() {
    write("# ORVA version %.2f", ORVA_LOG_VERSION);
    write("\n# --------------------------------------------");
    write("\n#  all coordinates correspond to cleaned image");
    write("\n# --------------------------------------------");
}

void DriverLog::write(const char* format, ...) {
    if (file_ == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file_, format, args);
    va_end(args);
}

bool DriverLog::close(long seconds) {
    if (file_ == nullptr) return true;
    write("\n# total duration: %ld\n", seconds);
    bool ok = true;
    if (owned_)
        ok = close_output_stream(file_, why_);
    else
        std::fflush(file_);
    file_ = nullptr;
    owned_ = false;
    return ok;
}

}  // namespace orva
