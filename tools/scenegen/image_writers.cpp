// Writers for PGM, PPM, TIFF, PNG and JPEG files (see image_writers.h).
// TIFF layout: header, one IFD with tags in ascending order, the value arrays that
// do not fit in an entry, then the strips of rows_per_strip rows each.
#include "image_writers.h"

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "imageio/jpeg_io.h"

namespace orva::scenegen {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

int open_for_writing(const std::string& path, File& file, std::string& error) {
    file.reset(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return 1;
    }
    return 0;
}

int finish(File& file, const std::string& path, std::string& error) {
    const bool bad = std::ferror(file.get()) != 0;
    const bool close_failed = std::fclose(file.release()) != 0;
    if (bad || close_failed) {
        error = "cannot write " + path;
        return 1;
    }
    return 0;
}

int write_pnm(const std::string& path, const char* magic, const orva::ByteBuffer& data, int width,
              int height, std::string& error) {
    File f;
    if (open_for_writing(path, f, error)) return 1;
    std::fprintf(f.get(), "%s\n# scenegen\n%d %d\n255\n", magic, width, height);
    std::fwrite(data.data(), 1, data.size(), f.get());
    return finish(f, path, error);
}

// Byte-order aware little buffer for the TIFF structure.
class TiffBytes {
  public:
    explicit TiffBytes(bool big_endian) : big_(big_endian) {}
    void u16(std::uint32_t v) { put(v, 2); }
    void u32(std::uint32_t v) { put(v, 4); }
    // One IFD entry; a value that fits in four bytes is stored in place,
    // left-justified as the format requires.
    void entry(int tag, int type, std::uint32_t count, std::uint32_t value_or_offset) {
        u16(tag);
        u16(type);
        u32(count);
        if (type == SHORT && count == 1) {
            u16(value_or_offset);
            u16(0);
        } else {
            u32(value_or_offset);
        }
    }
    std::vector<unsigned char> bytes;
    static constexpr int SHORT = 3;
    static constexpr int LONG = 4;

  private:
    void put(std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) {
            const int shift = big_ ? 8 * (n - 1 - i) : 8 * i;
            bytes.push_back(static_cast<unsigned char>((v >> shift) & 0xFF));
        }
    }
    bool big_;
};

}  // namespace

int write_pgm(const std::string& path, const orva::ByteBuffer& grey, int width, int height,
              std::string& error) {
    return write_pnm(path, "P5", grey, width, height, error);
}

int write_ppm(const std::string& path, const orva::ByteBuffer& rgb, int width, int height,
              std::string& error) {
    return write_pnm(path, "P6", rgb, width, height, error);
}

int write_tiff(const std::string& path, const orva::ByteBuffer& data, int width, int height,
               int channels, bool big_endian, std::string& error) {
    const int rows_per_strip = std::max(1, (height + 3) / 4);
    const int strips = (height + rows_per_strip - 1) / rows_per_strip;
    const std::uint32_t row_bytes = static_cast<std::uint32_t>(width) * channels;
    const bool rgb = channels == 3;
    const int entries = rgb ? 10 : 9;
    const int size_type = big_endian ? TiffBytes::LONG : TiffBytes::SHORT;

    // Offsets of everything after the IFD.
    const std::uint32_t ifd_offset = 8;
    const std::uint32_t ifd_end = ifd_offset + 2 + 12 * entries + 4;
    std::uint32_t next = ifd_end;
    const std::uint32_t bits_offset = next;
    if (rgb) next += 6;
    const std::uint32_t offsets_offset = next;
    if (strips > 1) next += 4 * strips;
    const std::uint32_t counts_offset = next;
    if (strips > 1) next += 4 * strips;
    const std::uint32_t pixels_offset = next;

    TiffBytes t(big_endian);
    t.bytes.push_back(big_endian ? 'M' : 'I');
    t.bytes.push_back(big_endian ? 'M' : 'I');
    t.u16(42);
    t.u32(ifd_offset);
    t.u16(entries);
    t.entry(256, size_type, 1, width);
    t.entry(257, size_type, 1, height);
    t.entry(258, TiffBytes::SHORT, channels, rgb ? bits_offset : 8);
    t.entry(259, TiffBytes::SHORT, 1, 1);
    t.entry(262, TiffBytes::SHORT, 1, rgb ? 2 : 1);
    t.entry(273, TiffBytes::LONG, strips, strips > 1 ? offsets_offset : pixels_offset);
    t.entry(277, TiffBytes::SHORT, 1, channels);
    t.entry(278, size_type, 1, rows_per_strip);
    t.entry(279, TiffBytes::LONG, strips,
            strips > 1 ? counts_offset : row_bytes * static_cast<std::uint32_t>(height));
    if (rgb) t.entry(284, TiffBytes::SHORT, 1, 1);
    t.u32(0);
    if (rgb)
        for (int c = 0; c < 3; ++c) t.u16(8);
    if (strips > 1) {
        for (int s = 0; s < strips; ++s) t.u32(pixels_offset + s * rows_per_strip * row_bytes);
        for (int s = 0; s < strips; ++s) {
            const int rows = std::min(rows_per_strip, height - s * rows_per_strip);
            t.u32(rows * row_bytes);
        }
    }

    File f;
    if (open_for_writing(path, f, error)) return 1;
    std::fwrite(t.bytes.data(), 1, t.bytes.size(), f.get());
    std::fwrite(data.data(), 1, data.size(), f.get());
    return finish(f, path, error);
}

// libpng jumps back into this frame on an error, so it holds no C++ objects
// that a jump could leave half-made (strings stay in write_png).
[[gnu::noinline]] static bool encode_png(std::FILE* file, png_bytep* rows, int width, int height,
                                         int channels) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_compression_level(png, 1);
    png_set_filter(png, 0, PNG_FILTER_SUB);
    png_set_IHDR(png, info, width, height, 8,
                 channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

int write_png(const std::string& path, const orva::ByteBuffer& data, int width, int height,
              int channels, std::string& error) {
    File f;
    if (open_for_writing(path, f, error)) return 1;
    std::vector<png_bytep> rows(height);
    for (int y = 0; y < height; ++y)
        rows[y] = const_cast<png_bytep>(data.data() + static_cast<size_t>(y) * width * channels);
    if (!encode_png(f.get(), rows.data(), width, height, channels)) {
        error = "cannot write " + path;
        return 1;
    }
    return finish(f, path, error);
}

namespace {

// Every format with its name on the command line and its file name extension.
struct FormatNames {
    ImageFormat format;
    const char* name;
    const char* extension;
};
constexpr FormatNames FORMAT_NAMES[] = {
    {ImageFormat::Jpeg, "jpeg", "jpg"},      {ImageFormat::Png, "png", "png"},
    {ImageFormat::Pgm, "pgm", "pgm"},        {ImageFormat::Ppm, "ppm", "ppm"},
    {ImageFormat::TiffII, "tiff-ii", "tif"}, {ImageFormat::TiffMM, "tiff-mm", "tif"}};

const FormatNames* names_of(ImageFormat format) {
    for (const FormatNames& f : FORMAT_NAMES)
        if (f.format == format) return &f;
    return nullptr;
}

}  // namespace

const char* format_extension(ImageFormat format) {
    const FormatNames* f = names_of(format);
    return f ? f->extension : "img";
}

const char* format_name(ImageFormat format) {
    const FormatNames* f = names_of(format);
    return f ? f->name : "?";
}

int write_image(const std::string& path, ImageFormat format, const orva::ByteBuffer& grey,
                int width, int height, bool colour, bool tint, int quality, std::string& error) {
    const bool rgb = format == ImageFormat::Jpeg || format == ImageFormat::Ppm ||
                     (colour && format != ImageFormat::Pgm);
    orva::ByteBuffer data;
    if (rgb) {
        // Warm back light: a little less green and blue than red.
        const int gain[3] = {256, tint ? 246 : 256, tint ? 225 : 256};
        data.resize(grey.size() * 3);
        for (size_t i = 0; i < grey.size(); ++i)
            for (int c = 0; c < 3; ++c)
                data[3 * i + c] = static_cast<unsigned char>((grey[i] * gain[c]) >> 8);
    }
    switch (format) {
        case ImageFormat::Pgm:
            return write_pgm(path, grey, width, height, error);
        case ImageFormat::Ppm:
            return write_ppm(path, data, width, height, error);
        case ImageFormat::TiffII:
        case ImageFormat::TiffMM:
            return write_tiff(path, rgb ? data : grey, width, height, rgb ? 3 : 1,
                              format == ImageFormat::TiffMM, error);
        case ImageFormat::Png:
            return write_png(path, rgb ? data : grey, width, height, rgb ? 3 : 1, error);
        case ImageFormat::Jpeg: {
            std::FILE* probe = std::fopen(path.c_str(), "wb");
            if (!probe) {
                error = "cannot create " + path + ": " + std::strerror(errno);
                return 1;
            }
            std::fclose(probe);
            orva::write_JPEG_file(path.c_str(), quality, width, height, data.data());
            return 0;
        }
    }
    error = "unknown image format";
    return 1;
}

}  // namespace orva::scenegen
