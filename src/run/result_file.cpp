// Result file text and its safe replacement, marker file, closing line.
//
// The new result file is created with mkstemp in the directory of the target
// (exclusive creation, so an existing file or symbolic link of that name is never
// followed), written, flushed to disk and renamed over the target. It takes the
// permission bits of the file it replaces, or those of a new file under the
// current umask. Any failure removes the temporary file and gives status 15.
#include "run/result_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "run/command_line.h"

namespace orva {

namespace {

constexpr double ANGLE_LIMIT = 360.0;
constexpr const char* TEMP_PATTERN = ".orva_result_XXXXXX";

std::string format(const char* fmt, long value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, value);
    return buf;
}

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Permission bits for the new file: those of the file it replaces, else the
// usual ones of a newly created file.
mode_t result_mode(const char* name) {
    struct stat st {};
    if (stat(name, &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool write_all(int fd, const std::string& text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

int report_write_failure(const char* name, int err) {
    std::fprintf(stderr, "\n%s: Cannot write result file %s: %s\n", PROGRAM_NAME, name,
                 std::strerror(err));
    return RESULT_WRITE_ERROR;
}

}  // namespace

std::string format_result(const ORVARESULT& result) {
    const double phi = result.phi;
    const double radius = result.radius;
    std::string text;
    if (phi >= -ANGLE_LIMIT && phi < ANGLE_LIMIT) {
        text += format("TARGET_ANGLE \t%ld", static_cast<long>(std::floor(phi + 0.5)));
        text += format("\nRADIUS \t\t%ld", static_cast<long>(std::floor(radius + 0.5)));
        text += format("\nY_CENTRE \t%ld", result.y_centre);
        text += format("\nX_CENTRE \t%ld", result.x_centre);
        text += format("\nLOOP_WIDTH\t%ld", result.loop_width);
        text += format("\nRIGHT_BORDER\t%ld", result.right_border);
        text += "\n";
    } else {
        text += "TARGET_ANGLE \t0\nRADIUS \t0\nY_CENTRE \t0\nX_CENTRE \t0";
        text += "\nLOOP_WIDTH \t0\nRIGHT_BORDER \t0\n";
    }
    text += format("RELIABILITY \t %ld", result.reliability < 0 ? -1L : result.reliability);
    text += format("\nPRECENTRING \t%ld", result.precentring_flag);
    text += "\n";
    return text;
}

int write_result_file(const char* name, const ORVARESULT& result) {
    const std::string text = format_result(result);
    std::string temp = directory_of(name) + TEMP_PATTERN;
    const mode_t mode = result_mode(name);

    const int fd = mkstemp(temp.data());
    if (fd < 0) return report_write_failure(name, errno);
    bool ok = fchmod(fd, mode) == 0 && write_all(fd, text) && fsync(fd) == 0;
    int err = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && std::rename(temp.c_str(), name) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        return report_write_failure(name, err);
    }
    return 0;
}

int write_marker(const char* content) {
    std::FILE* f = std::fopen(MARKER_FILE, "w");
    bool ok = f != nullptr && std::fputs(content, f) >= 0;
    if (f != nullptr && std::fclose(f) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "\n%s: Cannot write %s: %s\n", PROGRAM_NAME, MARKER_FILE,
                     std::strerror(errno));
        return 1;
    }
    return 0;
}

int finish_run(int status, const char* result_name, const ORVARESULT& result) {
    if (status == 0 && write_result_file(result_name, result) != 0) status = RESULT_WRITE_ERROR;
    write_marker(MARKER_ENDED);
    if (status == 0)
        std::fprintf(stderr, "\n%s ready.\n", PROGRAM_NAME);
    else
        std::fprintf(stderr, "\n%s failed with error %d\n", PROGRAM_NAME, status);
    return status;
}

}  // namespace orva
