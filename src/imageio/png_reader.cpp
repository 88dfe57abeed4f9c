// PNG signature test and PNG reading into 8-bit grey, through libpng.
//
// The decoder strips 16-bit samples to their high byte, expands grey below 8
// bits, palettes and transparency, and adds a filler byte 255 after each
// pixel's samples. The grey buffer (row-major, top row first) is filled by the
// colour type of the file's header:
//   RGB:  grey = floor(0.3 R + 0.59 G + 0.11 B + 0.5); 246 and above become 255;
//   grey: the grey byte;
//   palette, grey with alpha, RGB with alpha: nothing is converted, the image
//         stays all zero (callers see such frames as empty).
//
// A file that cannot be opened or decoded, or whose size exceeds
// kMaxImagePixels, gives an empty buffer; libpng's own messages go to standard
// error.
#include "imageio/png_reader.h"

#include <png.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>
#include <vector>

#include "imageio/byte_reader.h"
#include "toolkit/safe_files.h"

namespace orva {

namespace {

constexpr int kSignatureBytes = 8;
constexpr int kRgbSaturation = 246;  // grey values from here up are stored as 255
// The library reads in small pieces; a large stream buffer saves system calls.
constexpr std::size_t kStreamBuffer = std::size_t{1} << 18;

struct FileCloser {
    std::FILE* file;
    ~FileCloser() {
        if (file != nullptr) std::fclose(file);
    }
};

// Everything the decoder fills that must outlive a jump back from libpng.
struct Decoded {
    std::vector<ByteBuffer> rows;
    std::vector<png_bytep> row_pointers;
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int color_type = 0;
    std::size_t channels = 0;
    bool too_large = false;
};

bool make_rows(Decoded& d, std::size_t row_bytes) {
    try {
        d.rows.assign(d.height, ByteBuffer(row_bytes));
        d.row_pointers.resize(d.height);
        for (png_uint_32 y = 0; y < d.height; ++y) d.row_pointers[y] = d.rows[y].data();
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// Runs libpng on the open file. libpng jumps back here on any decoding error,
// so this frame holds only pointers and plain values; the C++ storage is `d`.
bool decode(std::FILE* file, Decoded& d) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_set_sig_bytes(png, kSignatureBytes);
    png_read_info(png, info);
    int bit_depth = 0;
    int interlace = 0;
    int compression = 0;
    int filter = 0;
    png_get_IHDR(png, info, &d.width, &d.height, &bit_depth, &d.color_type, &interlace,
                 &compression, &filter);
    if (std::uint64_t{d.width} * d.height > kMaxImagePixels) {
        d.too_large = true;
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }

    png_set_strip_16(png);
    png_set_packing(png);
    if (d.color_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (d.color_type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    d.channels = png_get_channels(png, info);

    if (!make_rows(d, png_get_rowbytes(png, info))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_read_image(png, d.row_pointers.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

unsigned char grey_from_rgb(int r, int g, int b) {
    const double grey = std::floor(0.3 * r + 0.59 * g + 0.11 * b + 0.5);
    return grey >= kRgbSaturation ? 255 : static_cast<unsigned char>(grey);
}

// Grey image from the decoded rows, by the header's colour type.
void to_grey(const Decoded& d, ByteBuffer& grey) {
    for (png_uint_32 y = 0; y < d.height; ++y) {
        const unsigned char* in = d.rows[y].data();
        unsigned char* out = grey.data() + std::size_t{y} * d.width;
        if (d.color_type == PNG_COLOR_TYPE_RGB && d.channels == 4) {
            for (png_uint_32 x = 0; x < d.width; ++x)
                out[x] = grey_from_rgb(in[4 * x], in[4 * x + 1], in[4 * x + 2]);
        } else if (d.color_type == PNG_COLOR_TYPE_GRAY && d.channels == 2) {
            for (png_uint_32 x = 0; x < d.width; ++x) out[x] = in[2 * x];
        }
    }
}

}  // namespace

int check_if_png(const char* file_name) {
    ByteReader in;
    if (!in.open(file_name)) return 0;
    png_byte signature[kSignatureBytes];
    if (!in.read(signature, kSignatureBytes)) return 0;
    return png_sig_cmp(signature, 0, kSignatureBytes) == 0 ? 1 : 0;
}

ByteBuffer loadpng(const char* filename, int* ncols, int* nrows) {
    ByteBuffer grey;
    std::vector<char> stream_buffer(kStreamBuffer);  // declared first: outlives the stream
    std::string reason;
    FileCloser in{open_input_stream(filename, false, reason)};
    if (in.file == nullptr) {
        std::fprintf(stderr, "can't open %s\n", filename);
        return grey;
    }
    std::setvbuf(in.file, stream_buffer.data(), _IOFBF, stream_buffer.size());
    png_byte signature[kSignatureBytes];
    if (std::fread(signature, 1, kSignatureBytes, in.file) != kSignatureBytes ||
        png_sig_cmp(signature, 0, kSignatureBytes) != 0) {
        std::fprintf(stderr, "\n%s: %s is not a PNG file", "loadpng", filename);
        return grey;
    }
    Decoded d;
    if (!decode(in.file, d)) {
        if (d.too_large)
            std::fprintf(stderr, "\n%s: image size %u x %u of %s is not usable", "loadpng", d.width,
                         d.height, filename);
        else
            std::fprintf(stderr, "\n%s: %s cannot be decoded", "loadpng", filename);
        return grey;
    }
    try {
        grey.assign(std::size_t{d.width} * d.height, 0);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "\n%s: Cannot allocate the image of %s", "loadpng", filename);
        return ByteBuffer();
    }
    to_grey(d, grey);
    *ncols = static_cast<int>(d.width);
    *nrows = static_cast<int>(d.height);
    return grey;
}

}  // namespace orva
