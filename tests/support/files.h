// Files for tests: a temporary directory removed afterwards, a working-directory
// switch, file writing and reading, tiny binary PGM images and standard-error
// capture.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace orva::testing {

using Bytes = std::vector<unsigned char>;

class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orva_test_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    // Writes `bytes` as `name` in the directory; returns its path.
    std::string write(const std::string& name, const Bytes& bytes) const;

  private:
    std::filesystem::path path_;
};

// Makes a directory the working directory for the lifetime of the object.
class WorkingDir {
  public:
    explicit WorkingDir(const std::filesystem::path& dir) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~WorkingDir() { std::filesystem::current_path(old_); }
    WorkingDir(const WorkingDir&) = delete;
    WorkingDir& operator=(const WorkingDir&) = delete;

  private:
    std::filesystem::path old_;
};

inline void write_file(const std::string& name, const std::string& content) {
    std::ofstream out(name, std::ios::binary);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + name);
}

inline std::string ScratchDir::write(const std::string& name, const Bytes& bytes) const {
    write_file(file(name), std::string(bytes.begin(), bytes.end()));
    return file(name);
}

inline std::string read_file(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Bytes read_bytes(const std::string& name) {
    const std::string text = read_file(name);
    return Bytes(text.begin(), text.end());
}

inline bool file_exists(const std::string& name) {
    return std::filesystem::exists(name);
}

// A P5 image of width x height pixels, pixel (x, y) = base + x + y * width (mod 256).
inline std::string pgm_image(int width, int height, int base = 0) {
    std::string data = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (int i = 0; i < width * height; ++i) data += static_cast<char>((base + i) & 0xFF);
    return data;
}

inline std::vector<unsigned char> pgm_pixels(int width, int height, int base = 0) {
    std::vector<unsigned char> pixels;
    for (int i = 0; i < width * height; ++i) pixels.push_back(static_cast<unsigned char>(base + i));
    return pixels;
}

// Captures standard error while alive (one capture at a time).
class StderrCapture {
  public:
    StderrCapture() { ::testing::internal::CaptureStderr(); }
    ~StderrCapture() { text(); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Everything written so far; stops the capture.
    std::string text() {
        if (live_) text_ = ::testing::internal::GetCapturedStderr();
        live_ = false;
        return text_;
    }

  private:
    bool live_ = true;
    std::string text_;
};

}  // namespace orva::testing
