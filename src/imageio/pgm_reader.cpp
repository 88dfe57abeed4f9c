// Binary PGM (P5) and PPM (P6) reading into one 8-bit grey buffer.
//
// The header is read token by token (magic word, width and height, maximum
// value, with "#" comment lines allowed before each); the pixel data starts
// right after the line feed that ends the maximum-value line. P5 bytes are taken
// as they are; P6 pixels become floor(0.3 R + 0.59 G + 0.11 B + 0.5), limited to
// 0 to 255. Row-major, top row first.
//
// Every header number is checked before use: width and height must be
// positive, the maximum value 1 to 255, and the file must hold all pixels the
// header declares. A refused header or truncated pixel data leaves no buffer
// (status 0); status 2 when the buffer cannot be allocated.
#include "imageio/pgm_reader.h"

#include <cerrno>
#include <cmath>
#include <new>
#include <string>

#include "imageio/byte_reader.h"

namespace orva {

namespace {

constexpr std::size_t kMaxMagicLength = 64;
constexpr long kMaxSampleValue = 255;

void skip_comment_lines(ByteReader& in) {
    int c = in.get();
    while (c == '#') {
        do c = in.get();
        while (c != '\n' && c != EOF);
        c = in.get();
    }
    in.unget(c);
}

void skip_line_feed(ByteReader& in) {
    const int c = in.get();
    if (c != '\n') in.unget(c);
}

// Rest of the current line including its line feed; false at end of file.
bool skip_rest_of_line(ByteReader& in) {
    int c = in.get();
    while (c != '\n' && c != EOF) c = in.get();
    return c == '\n';
}

// The number after "P", or 0 when the word is not of that form.
int format_number(const std::string& magic) {
    if (magic.size() < 2 || magic[0] != 'P') return 0;
    int number = 0;
    for (std::size_t i = 1; i < magic.size() && magic[i] >= '0' && magic[i] <= '9'; ++i) {
        number = number * 10 + (magic[i] - '0');
        if (number > 99) return 0;
    }
    return number;
}

int significant_bits(long value) {
    int bits = 0;
    while (value >> bits) ++bits;
    return bits;
}

unsigned char grey_from_rgb(int r, int g, int b) {
    const double grey = std::floor(0.3 * r + 0.59 * g + 0.11 * b + 0.5);
    if (grey < 0.0) return 0;
    if (grey > 255.0) return 255;
    return static_cast<unsigned char>(grey);
}

}  // namespace

int pgm_header(IMAGE& im, std::FILE* file) {
    ByteReader in(file);
    const char* rtn = "pgm_header";

    skip_comment_lines(in);
    std::string magic;
    if (!in.read_word(magic, kMaxMagicLength)) {
        std::fprintf(stderr, "\n %s: the file holds no header", rtn);
        return 0;
    }
    skip_line_feed(in);
    const int format = format_number(magic);
    if (format != 5 && format != 6) {
        std::fprintf(stderr, "\n %s: only Portable Map Formats P5/6 is supported (%s)", rtn,
                     magic.c_str());
        return 0;
    }

    long width = 0;
    long height = 0;
    skip_comment_lines(in);
    if (!in.read_decimal(width) || !in.read_decimal(height)) {
        std::fprintf(stderr, "\n %s: width and height are missing or unreadable", rtn);
        return 0;
    }
    skip_line_feed(in);
    skip_comment_lines(in);
    long max_value = 0;
    if (!in.read_decimal(max_value)) {
        std::fprintf(stderr, "\n %s: the maximum value is missing or unreadable", rtn);
        return 0;
    }
    if (!skip_rest_of_line(in)) {
        std::fprintf(stderr, "\n %s: the file ends inside the header", rtn);
        return 0;
    }

    if (width < 1 || height < 1 || width > UINT32_MAX || height > UINT32_MAX) {
        std::fprintf(stderr, "\n %s: image size %ld x %ld is not usable", rtn, width, height);
        return 0;
    }
    if (max_value < 1 || max_value > kMaxSampleValue) {
        std::fprintf(stderr, "\n %s: maximum value %ld is not supported (1 to 255 only)", rtn,
                     max_value);
        return 0;
    }
    // Both factors are below 2^32, so the product fits in 64 bits.
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    const std::uint64_t bytes_per_pixel = format == 6 ? 3 : 1;
    const auto available = in.remaining();
    if ((available && pixels > *available / bytes_per_pixel) ||
        (!available && pixels > kMaxImagePixels)) {
        std::fprintf(stderr,
                     "\n %s: the file holds fewer pixels than its header declares (%ld x %ld)", rtn,
                     width, height);
        return 0;
    }

    im.width = static_cast<unsigned int>(width);
    im.height = static_cast<unsigned int>(height);
    im.size = static_cast<unsigned long>(pixels);
    im.max_value = static_cast<unsigned short>(max_value);
    im.bit_depth = significant_bits(max_value);
    return format;
}

int read_pgm(ByteBuffer& charImage, IMAGE& im, const char* in_name) {
    const char* rtn = "read_pgm";
    charImage.clear();
    ByteReader in;
    if (!in.open(in_name)) {
        const int saved_errno = errno;
        std::fprintf(stderr, "\n%s: Cannot open file %s for reading!", rtn, in_name);
        errno = saved_errno;
        std::perror(":");
        return 0;
    }
    // The header reader borrows the stream; `in` keeps it and closes it.
    IMAGE header = im;
    const int format = pgm_header(header, in.stream());
    if (format == 0) return 0;

    try {
        charImage.assign(header.size, 0);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        std::fprintf(stderr, "\n%s: Cannot allocate bptr!", rtn);
        std::perror(":");
        return 2;
    }

    bool complete = true;
    if (format == 5) {
        complete = in.read(charImage.data(), charImage.size());
    } else {
        ByteBuffer row(static_cast<std::size_t>(header.width) * 3);
        unsigned char* pixel = charImage.data();
        for (unsigned int y = 0; y < header.height && complete; ++y) {
            complete = in.read(row.data(), row.size());
            for (std::size_t i = 0; complete && i < row.size(); i += 3)
                *pixel++ = grey_from_rgb(row[i], row[i + 1], row[i + 2]);
        }
    }
    if (!complete) {
        std::fprintf(stderr, "\n%s: File %s ends before all pixels are read", rtn, in_name);
        ByteBuffer().swap(charImage);
        return 0;
    }
    im = header;
    return 0;
}

}  // namespace orva
