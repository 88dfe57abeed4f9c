// JPEG reading into 8-bit grey and writing from interleaved RGB, through libjpeg.
//
// Reading decodes with the library's default output settings. One output
// component is copied as it is; three (R, G, B) become the integer part of
// 0.3 R + 0.59 G + 0.11 B + 0.5, at most 255. Row-major, top row first.
//
// Library errors print the library's own message on standard error and then
// return here instead of ending the program: the reader gives an empty buffer,
// the writer removes its half-written file and names the reason. A data
// stream that ends early, an output component count other than 1 or 3 and
// sizes beyond kMaxImagePixels also give an empty buffer, so that damaged
// frames never reach the analysis. Files are opened through safe_files.h: the
// reader takes regular files only, the writer never writes through a link.
#include "imageio/jpeg_io.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

// jpeglib.h expects FILE and size_t to be declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "imageio/byte_reader.h"
#include "imageio/jpeg_cells.h"
#include "toolkit/safe_files.h"
#include "toolkit/vector_clones.h"

namespace orva {

namespace {

// The library moves 4 KiB at a time; a larger stream buffer turns those into
// fewer system calls (the C library sizes its own buffer by the file system
// block, so the buffer is supplied).
constexpr std::size_t kStreamBuffer = std::size_t{1} << 18;

// The library's error manager first, so that the library's pointer to it is
// also a pointer to the whole record.
struct ErrorTrap {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    void (*library_emit)(j_common_ptr, int);
    bool ended_early;
};
static_assert(offsetof(ErrorTrap, pub) == 0);

ErrorTrap& trap_of(j_common_ptr cinfo) {
    return *reinterpret_cast<ErrorTrap*>(cinfo->err);
}

// Like the library's handler, but back to the caller instead of exit(1).
void error_exit_to_caller(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);
    std::longjmp(trap_of(cinfo).jump, 1);
}

// Notes a premature end of the data, then prints as the library does.
void emit_and_note_end(j_common_ptr cinfo, int msg_level) {
    ErrorTrap& trap = trap_of(cinfo);
    if (msg_level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) trap.ended_early = true;
    trap.library_emit(cinfo, msg_level);
}

void install_trap(ErrorTrap& trap) {
    jpeg_std_error(&trap.pub);
    trap.pub.error_exit = error_exit_to_caller;
    trap.library_emit = trap.pub.emit_message;
    trap.pub.emit_message = emit_and_note_end;
    trap.ended_early = false;
}

unsigned char grey_from_rgb(int r, int g, int b) {
    const int grey = static_cast<int>(0.3 * r + 0.59 * g + 0.11 * b + 0.5);
    return static_cast<unsigned char>(grey > 255 ? 255 : grey);
}

// grey_from_rgb(v, v, v) for every v: camera frames of grey scenes stored as
// colour have equal samples almost everywhere, and a look-up is far cheaper.
const std::array<unsigned char, 256>& grey_of_equal_samples() {
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> t{};
        for (int v = 0; v < 256; ++v) t[static_cast<std::size_t>(v)] = grey_from_rgb(v, v, v);
        return t;
    }();
    return table;
}

// Whether three equal samples v always give v (the weights sum to 1).
bool equal_samples_keep_their_value() {
    static const bool identity = [] {
        const std::array<unsigned char, 256>& t = grey_of_equal_samples();
        for (int v = 0; v < 256; ++v)
            if (t[static_cast<std::size_t>(v)] != v) return false;
        return true;
    }();
    return identity;
}

// Every pixel through grey_from_rgb, in a loop without branches that the
// compiler runs on several pixels at once with the same double arithmetic.
[[gnu::always_inline]] inline void rgb_pixels_to_grey(const JSAMPLE* __restrict in,
                                                      unsigned char* __restrict out,
                                                      std::size_t n) {
    for (std::size_t x = 0; x < n; ++x)
        out[x] = grey_from_rgb(in[3 * x], in[3 * x + 1], in[3 * x + 2]);
}

// Sixteen pixels are 48 samples in three vectors of 16 bytes.
typedef unsigned char Bytes16 __attribute__((vector_size(16)));
constexpr std::size_t kBlock = 16;

// One channel (first = 0, 1, 2 for R, G, B) of 16 interleaved pixels a|b|c:
// the samples from a and b first, then those from c.
[[gnu::always_inline]] inline Bytes16 channel(Bytes16 a, Bytes16 b, Bytes16 c, int first) {
    if (first == 0) {
        const Bytes16 ab = __builtin_shuffle(a, b, Bytes16{0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30});
        return __builtin_shuffle(ab, c,
                                 Bytes16{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 17, 20, 23, 26, 29});
    }
    if (first == 1) {
        const Bytes16 ab =
            __builtin_shuffle(a, b, Bytes16{1, 4, 7, 10, 13, 16, 19, 22, 25, 28, 31});
        return __builtin_shuffle(ab, c,
                                 Bytes16{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 18, 21, 24, 27, 30});
    }
    const Bytes16 ab = __builtin_shuffle(a, b, Bytes16{2, 5, 8, 11, 14, 17, 20, 23, 26, 29});
    return __builtin_shuffle(ab, c, Bytes16{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 19, 22, 25, 28, 31});
}

// The red samples of 16 pixels into out when every pixel has R = G = B.
[[gnu::always_inline]] inline bool copy_if_grey(const JSAMPLE* in, unsigned char* out) {
    Bytes16 a, b, c;
    std::memcpy(&a, in, kBlock);
    std::memcpy(&b, in + kBlock, kBlock);
    std::memcpy(&c, in + 2 * kBlock, kBlock);
    const Bytes16 r = channel(a, b, c, 0);
    const Bytes16 differ = (r ^ channel(a, b, c, 1)) | (r ^ channel(a, b, c, 2));
    std::uint64_t halves[2];
    std::memcpy(halves, &differ, kBlock);
    if ((halves[0] | halves[1]) != 0) return false;
    std::memcpy(out, &r, kBlock);
    return true;
}

// Blocks of pixels that are all grey are just their red samples, picked out
// by byte shuffles; other blocks go pixel by pixel.
ORVA_VECTOR_CLONES
void rgb_row_to_grey(const JSAMPLE* in, unsigned char* out, JDIMENSION cols) {
    const bool identity = equal_samples_keep_their_value();
    std::size_t x0 = 0;
    for (; x0 + kBlock <= cols; x0 += kBlock)
        if (!identity || !copy_if_grey(in + 3 * x0, out + x0))
            rgb_pixels_to_grey(in + 3 * x0, out + x0, kBlock);
    rgb_pixels_to_grey(in + 3 * x0, out + x0, cols - x0);
}

bool allocate(ByteBuffer& buffer, std::size_t n) {
    try {
        buffer.assign(n, 0);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// Decodes the open file into `grey`. Only trivially destructible objects live
// in this frame, because a library error jumps back into it.
bool decode(std::FILE* file, const char* name, ByteBuffer& grey, int& width, int& height) {
    const char* rtn = "read_JPEG_file";
    jpeg_decompress_struct cinfo;
    ErrorTrap trap;
    install_trap(trap);
    cinfo.err = &trap.pub;
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);

    const JDIMENSION cols = cinfo.output_width;
    const JDIMENSION rows = cinfo.output_height;
    const int components = cinfo.output_components;
    const std::uint64_t pixels = std::uint64_t{cols} * rows;
    if (components != 1 && components != 3) {
        std::fprintf(stderr, "\n%s: %s has %d colour components; only 1 or 3 are read", rtn, name,
                     components);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    if (pixels > kMaxImagePixels || !allocate(grey, pixels)) {
        std::fprintf(stderr, "\n%s: Cannot allocate an image of %u x %u for %s", rtn, cols, rows,
                     name);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    // The library's vector colour conversion writes an aligned row with stores
    // that bypass the cache, so reading it back would go to memory; a row that
    // starts one byte off alignment is written with ordinary stores.
    JSAMPARRAY line = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                 JPOOL_IMAGE, cols * components + 1, 1);
    line[0] += 1;
    while (cinfo.output_scanline < rows) {
        unsigned char* out = grey.data() + std::size_t{cinfo.output_scanline} * cols;
        jpeg_read_scanlines(&cinfo, line, 1);
        const JSAMPLE* in = line[0];
        if (components == 1)
            std::copy_n(in, cols, out);
        else
            rgb_row_to_grey(in, out, cols);
        // Rows past the end of the data would be made up, and the frame is
        // refused anyway: a short file claiming a huge picture stops here.
        if (trap.ended_early) break;
    }
    if (!trap.ended_early) jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    if (trap.ended_early) {
        std::fprintf(stderr, "\n%s: %s ends before the image is complete", rtn, name);
        return false;
    }
    width = static_cast<int>(cols);
    height = static_cast<int>(rows);
    return true;
}

// A colour file whose two chroma components decode to 128 everywhere holds a
// grey picture: the library's colour conversion then gives R = G = B = Y,
// which the weighted sum keeps. Such a file is decoded to its luminance
// alone, in the library's raw mode, which skips the chroma upsampling and the
// colour conversion; the first chroma sample other than 128, any library
// message or any other shape of file gives up quietly, and the file is read
// again the ordinary way (which then prints what the library says). A
// picture in colour shows it in its first rows, so little is decoded twice.

// The trap of the raw attempt: it prints nothing, and notes any message.
struct QuietTrap {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool spoke;
};
static_assert(offsetof(QuietTrap, pub) == 0);

void quiet_exit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<QuietTrap*>(cinfo->err)->jump, 1);
}

void quiet_emit(j_common_ptr cinfo, int msg_level) {
    if (msg_level < 0) reinterpret_cast<QuietTrap*>(cinfo->err)->spoke = true;
}

// Whether the n samples at p all hold 128.
bool neutral(const JSAMPLE* p, std::size_t n) {
    std::uint8_t differ = 0;
    for (std::size_t k = 0; k < n; ++k) differ |= static_cast<std::uint8_t>(p[k] ^ 0x80);
    return differ == 0;
}

// Decodes the open file into `grey` when it holds a grey picture as above;
// false, with `grey` to be ignored, when the ordinary way must be taken.
// Only trivially destructible objects live in this frame (library errors
// jump back into it).
bool decode_grey_content(std::FILE* file, ByteBuffer& grey, int& width, int& height) {
    if (!equal_samples_keep_their_value()) return false;
    jpeg_decompress_struct cinfo;
    QuietTrap trap;
    jpeg_std_error(&trap.pub);
    trap.pub.error_exit = quiet_exit;
    trap.pub.emit_message = quiet_emit;
    trap.spoke = false;
    cinfo.err = &trap.pub;
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    const jpeg_component_info* comp = cinfo.comp_info;
    const std::uint64_t pixels = std::uint64_t{cinfo.image_width} * cinfo.image_height;
    if (trap.spoke || cinfo.num_components != 3 || cinfo.jpeg_color_space != JCS_YCbCr ||
        cinfo.out_color_space != JCS_RGB || cinfo.progressive_mode ||
        comp[0].h_samp_factor != cinfo.max_h_samp_factor ||
        comp[0].v_samp_factor != cinfo.max_v_samp_factor || pixels > kMaxImagePixels ||
        !allocate(grey, pixels)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    cinfo.raw_data_out = TRUE;
    jpeg_start_decompress(&cinfo);
    const int rows_per_call = cinfo.max_v_samp_factor * DCTSIZE;
    JSAMPARRAY planes[3];
    for (int ci = 0; ci < 3; ++ci)
        planes[ci] = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                comp[ci].width_in_blocks * DCTSIZE,
                                                comp[ci].v_samp_factor * DCTSIZE);
    const JDIMENSION cols = cinfo.image_width;
    const JDIMENSION rows = cinfo.image_height;
    bool grey_content = true;
    for (JDIMENSION y0 = 0; grey_content && y0 < rows; y0 += rows_per_call) {
        if (jpeg_read_raw_data(&cinfo, planes, rows_per_call) == 0 || trap.spoke) {
            grey_content = false;
            break;
        }
        for (int ci = 1; ci < 3 && grey_content; ++ci)
            for (int r = 0; r < comp[ci].v_samp_factor * DCTSIZE && grey_content; ++r)
                grey_content = neutral(planes[ci][r], comp[ci].width_in_blocks * DCTSIZE);
        for (int r = 0; r < rows_per_call && y0 + r < rows; ++r)
            std::copy_n(planes[0][r], cols, grey.data() + std::size_t{y0 + r} * cols);
    }
    if (grey_content) {
        jpeg_finish_decompress(&cinfo);
        grey_content = !trap.spoke;
    }
    jpeg_destroy_decompress(&cinfo);
    width = static_cast<int>(cols);
    height = static_cast<int>(rows);
    return grey_content;
}

// Encodes `img` into the open file, from `cells` when given; false after a
// library error.
bool encode(std::FILE* file, int quality, int ncols, int nrows, const unsigned char* img,
            const FlatCells* cells) {
    jpeg_compress_struct cinfo;
    ErrorTrap trap;
    install_trap(trap);
    cinfo.err = &trap.pub;
    if (setjmp(trap.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(ncols);
    cinfo.image_height = static_cast<JDIMENSION>(nrows);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (cells != nullptr) {
        write_cells(cinfo, *cells);
    } else {
        jpeg_start_compress(&cinfo, TRUE);
        const std::size_t stride = std::size_t{3} * static_cast<std::size_t>(ncols);
        while (cinfo.next_scanline < cinfo.image_height) {
            // The library's row type is not const, but it only reads the rows.
            JSAMPROW row = const_cast<JSAMPLE*>(img + cinfo.next_scanline * stride);
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
    }
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

ByteBuffer read_JPEG_file(const char* filename, int* ncols, int* nrows) {
    ByteBuffer grey;
    std::string reason;
    std::FILE* file = open_input_stream(filename, false, reason);
    if (file == nullptr) {
        std::fprintf(stderr, "can't open %s\n", filename);
        return grey;
    }
    // Outlives the stream; the stream fills it, so it is not cleared first.
    const std::unique_ptr<char[]> stream_buffer =
        std::make_unique_for_overwrite<char[]>(kStreamBuffer);
    std::setvbuf(file, stream_buffer.get(), _IOFBF, kStreamBuffer);
    int width = 0;
    int height = 0;
    if (decode_grey_content(file, grey, width, height)) {
        std::fclose(file);
        *ncols = width;
        *nrows = height;
        return grey;
    }
    if (std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        std::fprintf(stderr, "can't open %s\n", filename);
        ByteBuffer().swap(grey);
        return grey;
    }
    const bool ok = decode(file, filename, grey, width, height);
    std::fclose(file);
    if (!ok) {
        ByteBuffer().swap(grey);
        return grey;
    }
    *ncols = width;
    *nrows = height;
    return grey;
}

namespace {

// Writes the picture of `img` or of `cells` (one of them given) to filename.
bool write_jpeg(const char* filename, int quality, int ncols, int nrows, const unsigned char* img,
                const FlatCells* cells) {
    std::string reason;
    std::FILE* file = open_output_stream(filename, reason);
    if (file == nullptr) {
        std::fprintf(stderr, "can't open %s\n", filename);
        report_output_failure(filename, reason);
        return false;
    }
    // Outlives the stream; the stream fills it, so it is not cleared first.
    const std::unique_ptr<char[]> stream_buffer =
        std::make_unique_for_overwrite<char[]>(kStreamBuffer);
    std::setvbuf(file, stream_buffer.get(), _IOFBF, kStreamBuffer);
    // Pictures of mostly single-colour areas (masks, points) are coded far
    // quicker from their cells' coefficients, into the same bytes.
    FlatCells own_cells;
    if (cells == nullptr && flat_cells(quality, ncols, nrows, img, own_cells)) cells = &own_cells;
    errno = 0;
    const bool encoded = encode(file, quality, ncols, nrows, img, cells);
    const int encode_errno = errno;
    const bool closed = close_output_stream(file, reason);
    if (!encoded || !closed) {
        std::fprintf(stderr, "\n%s: %s could not be written", "write_JPEG_file", filename);
        // The library's failed write is the first and clearest reason.
        if (!encoded && encode_errno != 0)
            reason = std::strerror(encode_errno);
        else if (closed)
            reason = "the encoder failed";
        report_output_failure(filename, reason);
        std::remove(filename);
        return false;
    }
    return true;
}

}  // namespace

bool write_JPEG_file(const char* filename, int quality, int ncols, int nrows,
                     const unsigned char* img) {
    if (img == nullptr || ncols < 1 || nrows < 1) {
        std::fprintf(stderr, "\n%s: No image to write to %s", "write_JPEG_file", filename);
        return false;
    }
    return write_jpeg(filename, quality, ncols, nrows, img, nullptr);
}

bool write_JPEG_file(const char* filename, int quality, const FlatCells& cells) {
    return write_jpeg(filename, quality, cells.width, cells.height, nullptr, &cells);
}

}  // namespace orva
