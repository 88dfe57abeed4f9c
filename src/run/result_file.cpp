// Result file text and its safe replacement, marker file, closing line.
//
// The new result file is created with mkstemp in the directory of the target
// (exclusive creation, so an existing file or symbolic link of that name is never
// followed), written, flushed to disk and renamed over the target. It takes the
// permission bits of the file it replaces, or those of a new file under the
// current umask. Any failure removes the temporary file and gives status 15.
//
// A result path that names a symbolic link is followed: the file it points to
// is replaced (or created) and the link stays; a link to the program's own
// standard output or error (/dev/stdout) is written through that descriptor.
// A path that names a FIFO or a character device (/dev/null, a terminal, a
// pipe to the caller) is written into directly, never replaced; a FIFO that
// nobody reads is refused at once rather than waited for. A directory, block
// device or socket is refused (status 15).
//
// The marker goes through open_output_fd, so a link planted under its name is
// replaced, never written through. When it cannot be written, the old marker
// is emptied or removed where that is possible: a caller must never read an
// earlier run's "1" as this run's.
#include "run/result_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "run/command_line.h"
#include "toolkit/safe_files.h"

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

int report_write_failure(const char* name, const char* reason) {
    std::fprintf(stderr, "\n%s: Cannot write result file %s: %s\n", PROGRAM_NAME, name, reason);
    return RESULT_WRITE_ERROR;
}

int report_write_failure(const char* name, int err) {
    return report_write_failure(name, std::strerror(err));
}

// Writes the text straight into a FIFO or character device. O_NONBLOCK makes
// the open fail at once (ENXIO) when no process reads the FIFO.
int write_into_special(const char* name, const std::string& text) {
    const int fd = open(name, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENXIO) return report_write_failure(name, "no process reads from it");
        return report_write_failure(name, errno);
    }
    struct stat st {};
    bool ok = fstat(fd, &st) == 0;
    int err = errno;
    if (ok && !S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode)) {
        close(fd);
        return report_write_failure(name, "it changed while being opened");
    }
    const int flags = ok ? fcntl(fd, F_GETFL) : -1;
    ok =
        ok && flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != -1 && write_fully(fd, text);
    if (!ok) err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    return ok ? 0 : report_write_failure(name, err);
}

// The path a symbolic link names, taken relative to the link's directory.
bool read_link(const char* name, std::string& target) {
    std::string buf(4096, '\0');
    const ssize_t n = readlink(name, buf.data(), buf.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buf.size()) return false;
    buf.resize(static_cast<std::size_t>(n));
    target = buf[0] == '/' ? buf : directory_of(name) + buf;
    return true;
}

// Where the new file goes: the path itself, or the file a link at it names
// (created when the link points to a file that does not exist yet). False
// after a message when the path cannot take a result file.
bool replacement_target(const char* name, std::string& target) {
    struct stat st {};
    target = name;
    if (lstat(name, &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    if (char* resolved = realpath(name, nullptr)) {
        target = resolved;
        std::free(resolved);
        return true;
    }
    if (errno != ENOENT || !read_link(name, target) || lstat(target.c_str(), &st) == 0) {
        report_write_failure(name, "it is a symbolic link that leads nowhere usable");
        return false;
    }
    return true;
}

// Standard output or error named through a link (/dev/stdout, /dev/fd/2):
// the descriptor the program already holds, whatever it is connected to.
int standard_stream_named(const struct stat& named) {
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat st {};
        if (fstat(fd, &st) == 0 && st.st_dev == named.st_dev && st.st_ino == named.st_ino)
            return fd;
    }
    return -1;
}

int write_to_standard_stream(const char* name, int fd, const std::string& text) {
    std::fflush(fd == STDOUT_FILENO ? stdout : stderr);
    return write_fully(fd, text) ? 0 : report_write_failure(name, errno);
}

int replace_result_file(const char* name, const std::string& text) {
    std::string target;
    if (!replacement_target(name, target)) return RESULT_WRITE_ERROR;
    std::string temp = directory_of(target) + TEMP_PATTERN;
    const mode_t mode = result_mode(target.c_str());

    const int fd = mkstemp(temp.data());
    if (fd < 0) return report_write_failure(name, errno);
    bool ok = fchmod(fd, mode) == 0 && write_fully(fd, text) && fsync(fd) == 0;
    int err = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && std::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        return report_write_failure(name, err);
    }
    return 0;
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
    struct stat link {};
    struct stat st {};
    if (lstat(name, &link) == 0 && S_ISLNK(link.st_mode) && stat(name, &st) == 0) {
        const int fd = standard_stream_named(st);
        if (fd >= 0) return write_to_standard_stream(name, fd, text);
    }
    if (stat(name, &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) return write_into_special(name, text);
        return report_write_failure(name, (std::string("it is ") + file_kind(st.st_mode)).c_str());
    }
    return replace_result_file(name, text);
}

int write_marker(const char* content) {
    std::string reason;
    if (write_output_file(MARKER_FILE, content, reason)) return 0;
    std::fprintf(stderr, "\n%s: Cannot write %s: %s\n", PROGRAM_NAME, MARKER_FILE, reason.c_str());
    // An opened marker is empty by now; one that could not even be opened may
    // still hold an earlier run's "1" and goes.
    struct stat st {};
    if (lstat(MARKER_FILE, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        if (unlink(MARKER_FILE) == 0)
            std::fprintf(stderr, "%s: %s removed\n", PROGRAM_NAME, MARKER_FILE);
        else
            std::fprintf(stderr, "%s: %s still holds an earlier content: %s\n", PROGRAM_NAME,
                         MARKER_FILE, std::strerror(errno));
    }
    return 1;
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
