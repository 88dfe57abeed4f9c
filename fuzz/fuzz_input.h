// Fuzz inputs as files: the readers open their input by name, so every input
// is written into one in-memory file (memfd), named through /proc/self/fd,
// which the readers see as a regular file and which never touches the disk.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace orva::fuzz {

inline const char* as_file(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("orva_fuzz_input", 0);
    static const std::string name = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0) std::abort();
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) std::abort();
        done += static_cast<std::size_t>(n);
    }
    return name.c_str();
}

// A loaded image must be exactly width * height bytes; anything else would
// send the analysis past its buffers.
inline void check_image(std::size_t bytes, std::uint64_t width, std::uint64_t height) {
    if (bytes != 0 && bytes != width * height) std::abort();
}

}  // namespace orva::fuzz
