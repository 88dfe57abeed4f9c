// In-memory builders of small image files for the reader tests (TIFF, PGM/PPM,
// PNG through libpng and JPEG through libjpeg), and a loader that reads a file
// with the reader its first bytes call for, as the image set does.
#pragma once

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// jpeglib.h expects FILE and size_t to be declared first.
#include <jpeglib.h>

#include "imageio/byte_reader.h"
#include "imageio/image_type.h"
#include "imageio/jpeg_io.h"
#include "imageio/pgm_reader.h"
#include "imageio/png_reader.h"
#include "imageio/tiff_reader.h"
#include "support/files.h"

namespace orva::test {

using testing::Bytes;

struct Loaded {
    ByteBuffer pixels;
    long width = -1, height = -1;
    std::string messages;
};

inline Loaded load(const std::string& name, int uv_flag = 0) {
    Loaded out;
    testing::StderrCapture capture;
    const int type = get_img_type(name.c_str());
    IMAGE im;
    int w = -1, h = -1, status = 0;
    if (type == PGM_SUPPORTED) status = read_pgm(out.pixels, im, name.c_str());
    if (type == TIFF_LITTLE || type == TIFF_BIG)
        status = read_tiff_2(out.pixels, im, name.c_str(), uv_flag, type);
    if (type == JPEG) out.pixels = read_JPEG_file(name.c_str(), &w, &h);
    if (type == PNG) out.pixels = loadpng(name.c_str(), &w, &h);
    EXPECT_EQ(status, 0) << name;
    const bool record = type == PGM_SUPPORTED || type == TIFF_LITTLE || type == TIFF_BIG;
    out.width = record ? long{im.width} : w;
    out.height = record ? long{im.height} : h;
    if (record && !out.pixels.empty()) {
        EXPECT_EQ(im.size, out.pixels.size()) << name;
    }
    out.messages = capture.text();
    return out;
}

inline void put_u16(Bytes& b, std::size_t at, std::uint32_t v, ByteOrder order) {
    const bool mm = order == ByteOrder::MostSignificantFirst;
    b[at + (mm ? 0 : 1)] = static_cast<unsigned char>(v >> 8);
    b[at + (mm ? 1 : 0)] = static_cast<unsigned char>(v);
}

inline void put_u32(Bytes& b, std::size_t at, std::uint32_t v, ByteOrder order) {
    const bool mm = order == ByteOrder::MostSignificantFirst;
    put_u16(b, at + (mm ? 0 : 2), v >> 16, order);
    put_u16(b, at + (mm ? 2 : 0), v & 0xFFFF, order);
}

// A TIFF file: header, the strips' data, the strip tables, then the directory.
// `rows_per_strip` 0 means one strip; `short_values` stores width, height and
// rows per strip as SHORT entries.
struct TiffSpec {
    ByteOrder order = ByteOrder::LeastSignificantFirst;
    std::uint32_t width = 0, height = 0, photometric = 1, rows_per_strip = 0;
    bool short_values = false;
    Bytes samples;  // width * height * samples per pixel
};

inline Bytes make_tiff(const TiffSpec& s) {
    const std::size_t data_at = 8;
    Bytes file(data_at + s.samples.size(), 0);
    file[0] = file[1] = s.order == ByteOrder::MostSignificantFirst ? 'M' : 'I';
    put_u16(file, 2, 42, s.order);
    std::copy(s.samples.begin(), s.samples.end(), file.begin() + data_at);
    const auto bytes_per_row = static_cast<std::uint32_t>(s.samples.size() / s.height);
    const std::uint32_t rps = s.rows_per_strip == 0 ? s.height : s.rows_per_strip;
    const std::uint32_t n_strips = (s.height + rps - 1) / rps;
    auto offsets = static_cast<std::uint32_t>(data_at);
    auto counts = static_cast<std::uint32_t>(s.samples.size());
    if (n_strips > 1) {
        offsets = static_cast<std::uint32_t>(file.size());
        counts = offsets + 4 * n_strips;
        file.resize(file.size() + 8 * n_strips);
        for (std::uint32_t i = 0; i < n_strips; ++i) {
            put_u32(file, offsets + 4 * i, data_at + i * rps * bytes_per_row, s.order);
            put_u32(file, counts + 4 * i, std::min(rps, s.height - i * rps) * bytes_per_row,
                    s.order);
        }
    }
    const std::uint32_t size_type = s.short_values ? 3 : 4;
    const std::uint32_t entries[][3] = {
        {256, size_type, s.width}, {257, size_type, s.height}, {258, 3, 8},       {259, 3, 1},
        {262, 3, s.photometric},   {273, 4, offsets},          {278, size_type, rps}, {279, 4, counts}};
    if (file.size() % 2) file.push_back(0);
    const std::size_t ifd = file.size();
    put_u32(file, 4, static_cast<std::uint32_t>(ifd), s.order);
    file.resize(ifd + 2 + 12 * std::size(entries) + 4, 0);
    put_u16(file, ifd, std::size(entries), s.order);
    for (std::size_t i = 0; i < std::size(entries); ++i) {
        const std::size_t at = ifd + 2 + 12 * i;
        put_u16(file, at, entries[i][0], s.order);
        put_u16(file, at + 2, entries[i][1], s.order);
        put_u32(file, at + 4, 1, s.order);
        if (entries[i][1] == 3)
            put_u16(file, at + 8, entries[i][2], s.order);
        else
            put_u32(file, at + 8, entries[i][2], s.order);
    }
    return file;
}

// Offset of the value field of the directory entry with `tag`.
inline std::size_t tiff_value_at(const Bytes& file, ByteOrder order, std::uint32_t tag) {
    const std::size_t ifd = decode_u32(file.data() + 4, order);
    std::size_t at = ifd + 2;
    while (decode_u16(file.data() + at, order) != tag) at += 12;
    return at + 8;
}

inline Bytes make_pnm(const std::string& header, const Bytes& pixels) {
    Bytes file(header.begin(), header.end());
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

struct PngSpec {
    int width = 0, height = 0, bit_depth = 8, color_type = PNG_COLOR_TYPE_RGB;
    bool interlaced = false;
    bool transparency = false;  // a tRNS chunk for grey or RGB
    Bytes samples;              // rows as libpng stores them, packed
};

inline void append_to_bytes(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}

// The file libpng writes for `s`; empty when libpng refuses.
inline Bytes make_png(const PngSpec& s) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows(s.height);
    for (int y = 0; y < s.height; ++y)
        rows[y] = const_cast<png_bytep>(s.samples.data()) + y * (s.samples.size() / s.height);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, append_to_bytes, nullptr);
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
    return out;
}

// The file libjpeg writes for samples of any colour space it takes as input.
inline Bytes make_jpeg(const Bytes& samples, int width, int height, int components,
                       J_COLOR_SPACE space, int quality = 100) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(samples.data()) +
                       std::size_t{cinfo.next_scanline} * width * components;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes file(buffer, buffer + size);
    std::free(buffer);
    return file;
}

}  // namespace orva::test
