// Whole-file replacement through mkstemp, fsync and rename.
#include "report/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace orva {

namespace {

constexpr const char* TEMP_PATTERN = ".orva_report_XXXXXX";

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The permission bits of the file replaced, else those of a new file under the umask.
mode_t new_mode(const std::string& name) {
    struct stat st {};
    if (stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
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

}  // namespace

int replace_file(const std::string& name, const std::string& text) {
    if (name.empty()) return ENOENT;
    std::string temp = directory_of(name) + TEMP_PATTERN;
    const mode_t mode = new_mode(name);
    const int fd = mkstemp(temp.data());
    if (fd < 0) return errno;
    errno = 0;
    int err = 0;
    if (fchmod(fd, mode) != 0 || !write_all(fd, text) || fsync(fd) != 0)
        err = errno != 0 ? errno : EIO;
    if (close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && std::rename(temp.c_str(), name.c_str()) != 0) err = errno;
    if (err != 0) unlink(temp.c_str());
    return err;
}

}  // namespace orva
