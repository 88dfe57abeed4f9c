// Output files that are never written through a link or into a special file,
// and input files that are never waited for (see safe_files.h).
//
// The type is looked at before a file is opened, so that a device is never
// opened at all, and checked again on the open descriptor, so that a file
// swapped in between is refused too. O_NONBLOCK only matters for that second
// case (a FIFO swapped in); it is taken off again once the file is known to be
// regular, or a FIFO the caller accepts.
#include "toolkit/safe_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orva {

namespace {

constexpr int OUTPUT_FLAGS =
    O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr int INPUT_FLAGS = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr mode_t NEW_FILE_MODE = 0666;  // narrowed by the umask

// The reason for a file of the wrong kind; errno is set for callers that
// print it (EISDIR for a directory, EINVAL for the rest).
std::string refusal(mode_t mode) {
    errno = S_ISDIR(mode) ? EISDIR : EINVAL;
    return std::string("it is ") + file_kind(mode);
}

bool clear_nonblocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != -1;
}

// A name that leads elsewhere: writing into it would change another file.
bool is_link(const struct stat& st) {
    return S_ISLNK(st.st_mode) || (S_ISREG(st.st_mode) && st.st_nlink > 1);
}

bool input_kind_accepted(mode_t mode, bool allow_fifo) {
    return S_ISREG(mode) || (allow_fifo && S_ISFIFO(mode));
}

// Gives up on an open descriptor, keeping errno for the caller.
int give_up(int fd, std::string& reason) {
    const int err = errno;
    reason = std::strerror(err);
    close(fd);
    errno = err;
    return -1;
}

int refuse_input(mode_t mode, std::string& reason) {
    reason = refusal(mode);
    return -1;
}

}  // namespace

const char* file_kind(mode_t mode) {
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "a file of unknown type";
}

int open_output_fd(const char* name, std::string& reason) {
    struct stat st {};
    if (lstat(name, &st) == 0) {
        if (is_link(st)) {
            if (unlink(name) != 0 && errno != ENOENT) {
                reason = std::string("it is a link that cannot be removed (") +
                         std::strerror(errno) + ")";
                return -1;
            }
        } else if (!S_ISREG(st.st_mode)) {
            reason = refusal(st.st_mode);
            return -1;
        }
    } else if (errno != ENOENT) {
        reason = std::strerror(errno);
        return -1;
    }
    const int fd = open(name, OUTPUT_FLAGS, NEW_FILE_MODE);
    if (fd < 0) {
        // A link planted after the look above.
        reason = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
        return -1;
    }
    if (fstat(fd, &st) != 0 || !clear_nonblocking(fd)) return give_up(fd, reason);
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        reason = refusal(st.st_mode);
        return -1;
    }
    return fd;
}

std::FILE* open_output_stream(const char* name, std::string& reason) {
    const int fd = open_output_fd(name, reason);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "w");
    if (file == nullptr) give_up(fd, reason);
    return file;
}

bool close_output_stream(std::FILE* file, std::string& reason) {
    // A stream that failed keeps its unwritten data, so flushing again gives
    // the reason once more.
    errno = 0;
    bool ok = std::fflush(file) == 0 && !std::ferror(file);
    int err = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) reason = err != 0 ? std::strerror(err) : "a write failed";
    return ok;
}

bool write_fully(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t n = write(fd, content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool write_output_file(const char* name, std::string_view content, std::string& reason) {
    const int fd = open_output_fd(name, reason);
    if (fd < 0) return false;
    bool ok = write_fully(fd, content);
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) reason = std::strerror(err);
    return ok;
}

void report_output_failure(const char* name, const std::string& reason) {
    std::fprintf(stderr, "\nORVA: Cannot write %s: %s\n", name, reason.c_str());
}

int open_input_fd(const char* name, bool allow_fifo, std::string& reason) {
    struct stat st {};
    if (stat(name, &st) == 0 && !input_kind_accepted(st.st_mode, allow_fifo))
        return refuse_input(st.st_mode, reason);
    const int fd = open(name, INPUT_FLAGS);
    if (fd < 0) {
        reason = std::strerror(errno);
        return -1;
    }
    if (fstat(fd, &st) != 0) return give_up(fd, reason);
    if (!input_kind_accepted(st.st_mode, allow_fifo)) {
        close(fd);
        return refuse_input(st.st_mode, reason);
    }
    if (!clear_nonblocking(fd)) return give_up(fd, reason);
    return fd;
}

std::FILE* open_input_stream(const char* name, bool allow_fifo, std::string& reason) {
    const int fd = open_input_fd(name, allow_fifo, reason);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) give_up(fd, reason);
    return file;
}

}  // namespace orva
