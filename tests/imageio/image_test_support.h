// Helpers for the image reader tests: a temporary directory, standard-error
// capture, and in-memory builders of small TIFF and PGM/PPM files.
#pragma once

#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imageio/byte_reader.h"

namespace orva::test {

using Bytes = std::vector<unsigned char>;

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/orva_imageio_XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made != nullptr) path_ = made;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    std::string path(const std::string& name) const { return path_ + "/" + name; }
    const std::string& dir() const { return path_; }

    std::string write(const std::string& name, const Bytes& bytes) const {
        const std::string full = path(name);
        std::ofstream out(full, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return full;
    }
    std::string write(const std::string& name, const std::string& text) const {
        return write(name, Bytes(text.begin(), text.end()));
    }

  private:
    std::string path_;
};

inline Bytes read_all(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Captures standard error while alive (one capture at a time).
class StderrCapture {
  public:
    StderrCapture() { testing::internal::CaptureStderr(); }
    ~StderrCapture() { text(); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Everything written so far; stops the capture.
    std::string text() {
        if (live_) text_ = testing::internal::GetCapturedStderr();
        live_ = false;
        return text_;
    }

  private:
    bool live_ = true;
    std::string text_;
};

inline void put_u16(Bytes& b, std::size_t at, std::uint32_t v, ByteOrder order) {
    if (order == ByteOrder::MostSignificantFirst) {
        b[at] = static_cast<unsigned char>(v >> 8);
        b[at + 1] = static_cast<unsigned char>(v);
    } else {
        b[at] = static_cast<unsigned char>(v);
        b[at + 1] = static_cast<unsigned char>(v >> 8);
    }
}

inline void put_u32(Bytes& b, std::size_t at, std::uint32_t v, ByteOrder order) {
    if (order == ByteOrder::MostSignificantFirst) {
        put_u16(b, at, v >> 16, order);
        put_u16(b, at + 2, v & 0xFFFF, order);
    } else {
        put_u16(b, at, v & 0xFFFF, order);
        put_u16(b, at + 2, v >> 16, order);
    }
}

struct TiffEntry {
    std::uint32_t tag;
    std::uint32_t type;  // 3 SHORT, 4 LONG, anything else
    std::uint32_t value;
};

// Builds a TIFF file: header, the strips' data, the strip tables, then the
// directory. `rows_per_strip` 0 means one strip; `short_values` stores width,
// height and rows per strip as SHORT entries.
struct TiffSpec {
    ByteOrder order = ByteOrder::LeastSignificantFirst;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t photometric = 1;
    std::uint32_t rows_per_strip = 0;
    bool short_values = false;
    Bytes samples;  // width * height * samples per pixel
};

inline Bytes make_tiff(const TiffSpec& s) {
    const bool mm = s.order == ByteOrder::MostSignificantFirst;
    const std::size_t data_at = 8;
    Bytes file(data_at + s.samples.size(), 0);
    file[0] = file[1] = mm ? 'M' : 'I';
    put_u16(file, 2, 42, s.order);
    std::copy(s.samples.begin(), s.samples.end(), file.begin() + data_at);

    const std::uint32_t bytes_per_row =
        s.height > 0 ? static_cast<std::uint32_t>(s.samples.size() / s.height) : 0;
    const std::uint32_t rps = s.rows_per_strip == 0 ? s.height : s.rows_per_strip;
    const std::uint32_t n_strips = rps > 0 ? (s.height + rps - 1) / rps : 0;
    std::uint32_t offsets_value = static_cast<std::uint32_t>(data_at);
    std::uint32_t counts_value = static_cast<std::uint32_t>(s.samples.size());
    if (n_strips > 1) {
        offsets_value = static_cast<std::uint32_t>(file.size());
        file.resize(file.size() + 4 * n_strips);
        counts_value = static_cast<std::uint32_t>(file.size());
        file.resize(file.size() + 4 * n_strips);
        for (std::uint32_t i = 0; i < n_strips; ++i) {
            const std::uint32_t rows = std::min(rps, s.height - i * rps);
            put_u32(file, offsets_value + 4 * i,
                    static_cast<std::uint32_t>(data_at) + i * rps * bytes_per_row, s.order);
            put_u32(file, counts_value + 4 * i, rows * bytes_per_row, s.order);
        }
    }
    const std::uint32_t size_type = s.short_values ? 3 : 4;
    std::vector<TiffEntry> entries = {
        {256, size_type, s.width}, {257, size_type, s.height}, {258, 3, 8}, {259, 3, 1},
        {262, 3, s.photometric},   {273, 4, offsets_value}};
    entries.push_back({278, size_type, s.rows_per_strip == 0 ? s.height : s.rows_per_strip});
    entries.push_back({279, 4, counts_value});

    if (file.size() % 2) file.push_back(0);
    const std::size_t ifd = file.size();
    put_u32(file, 4, static_cast<std::uint32_t>(ifd), s.order);
    file.resize(ifd + 2 + 12 * entries.size() + 4, 0);
    put_u16(file, ifd, static_cast<std::uint32_t>(entries.size()), s.order);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t at = ifd + 2 + 12 * i;
        put_u16(file, at, entries[i].tag, s.order);
        put_u16(file, at + 2, entries[i].type, s.order);
        put_u32(file, at + 4, 1, s.order);
        if (entries[i].type == 3)
            put_u16(file, at + 8, entries[i].value, s.order);
        else
            put_u32(file, at + 8, entries[i].value, s.order);
    }
    return file;
}

// Offset of the value field of the directory entry with `tag`, or 0.
inline std::size_t tiff_value_at(const Bytes& file, ByteOrder order, std::uint32_t tag) {
    const std::size_t ifd = decode_u32(file.data() + 4, order);
    const std::uint32_t n = decode_u16(file.data() + ifd, order);
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::size_t at = ifd + 2 + 12 * i;
        if (decode_u16(file.data() + at, order) == tag) return at + 8;
    }
    return 0;
}

inline Bytes make_pnm(const std::string& header, const Bytes& pixels) {
    Bytes file(header.begin(), header.end());
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

struct PngSpec {
    int width = 0;
    int height = 0;
    int bit_depth = 8;
    int color_type = PNG_COLOR_TYPE_RGB;
    bool interlaced = false;
    bool transparency = false;  // a tRNS chunk for grey or RGB
    Bytes samples;              // rows as libpng stores them, packed
};

// Writes `s` with libpng; false when libpng refuses.
inline bool write_png(const std::string& name, const PngSpec& s) {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (f == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows(s.height);
    const std::size_t stride = s.samples.size() / s.height;
    for (int y = 0; y < s.height; ++y)
        rows[y] = const_cast<png_bytep>(s.samples.data()) + y * stride;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, s.width, s.height, s.bit_depth, s.color_type,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color palette[2] = {{10, 20, 30}, {200, 210, 220}};
    if (s.color_type == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette, 2);
    png_color_16 transparent{};
    if (s.transparency) png_set_tRNS(png, info, nullptr, 0, &transparent);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

}  // namespace orva::test
