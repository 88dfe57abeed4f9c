// Uncompressed 8-bit TIFF reading into one grey buffer, for both byte orders.
//
// Only the first image directory is read, and from it only width, height,
// photometric interpretation, strip offsets, rows per strip and strip byte
// counts. Numbers are most significant byte first for "MM" files (TIFF_LITTLE)
// and least significant byte first for "II" files (TIFF_BIG). Strips are read in
// order and appended to the row-major, top-row-first buffer:
//   photometric 2 (RGB): grey = (R + 2) / 4 + (G + 1) / 2 + (B + 2) / 4 in
//                        integer arithmetic, limited to 255; with uv_flag 1
//                        grey = B;
//   photometric 0:       white is zero, so every byte is inverted;
//   anything else:       every byte as it is.
// Compression, bits and samples per pixel are not checked.
//
// Every offset and size from the file is checked against the file size before
// it is used, and the image must fit in the file, which bounds the allocation.
// A damaged file (truncated, offsets beyond the end, zero or absurd sizes) gives
// no buffer and status 0; pixels of strips beyond width * height are dropped.
// Status 2 when the buffer cannot be allocated.
#include "imageio/tiff_reader.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <vector>

#include "imageio/byte_reader.h"
#include "imageio/image_type.h"

namespace orva {

namespace {

constexpr const char* kRtn = "read_tiff";
constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kEntryBytes = 12;
// A multiple of 3, so that no RGB pixel is split between two reads.
constexpr std::size_t kChunkBytes = 3 << 14;

enum TiffTag : std::uint32_t {
    kImageWidth = 256,
    kImageLength = 257,
    kPhotometric = 262,
    kStripOffsets = 273,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
};

enum FieldType : std::uint32_t { kShort = 3, kLong = 4 };

enum Photometric : std::uint32_t { kWhiteIsZero = 0, kBlackIsZero = 1, kRgb = 2 };

struct TiffTags {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // A file without the tag is read as plain grey, black as zero.
    std::uint32_t photometric = kBlackIsZero;
    std::uint32_t strip_offsets = 0;
    std::uint32_t rows_per_strip = 1;
    std::uint32_t strip_byte_counts = 0;
};

struct Strip {
    std::uint64_t offset = 0;
    std::uint64_t bytes = 0;
};

int damaged(const char* name, const char* why) {
    std::fprintf(stderr, "\n%s: Damaged TIFF file %s (%s)", kRtn, name, why);
    return 0;
}

// Reads the tags of the first directory; false when it lies outside the file.
bool read_directory(ByteReader& in, ByteOrder order, TiffTags& tags) {
    unsigned char header[kHeaderBytes];
    if (!in.read(header, kHeaderBytes)) return false;
    const std::uint32_t directory = decode_u32(header + 4, order);
    std::uint32_t count = 0;
    if (!in.seek(directory) || !in.read_u16(order, count)) return false;
    count &= 0xFF;  // only the low-order byte of the entry count is used

    std::vector<unsigned char> entries(count * kEntryBytes);
    if (!in.read(entries.data(), entries.size())) return false;
    std::uint32_t value = 0;  // an entry of another field type repeats the last value
    for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char* entry = entries.data() + i * kEntryBytes;
        const std::uint32_t tag = decode_u16(entry, order);
        const std::uint32_t field_type = decode_u16(entry + 2, order) & 0xFF;
        if (field_type == kLong)
            value = decode_u32(entry + 8, order);
        else if (field_type == kShort)
            value = decode_u16(entry + 8, order);
        switch (tag) {
            case kImageWidth:
                tags.width = value;
                break;
            case kImageLength:
                tags.height = value;
                break;
            case kPhotometric:
                tags.photometric = value;
                break;
            case kStripOffsets:
                tags.strip_offsets = value;
                break;
            case kRowsPerStrip:
                tags.rows_per_strip = value;
                break;
            case kStripByteCounts:
                tags.strip_byte_counts = value;
                break;
            default:
                break;
        }
    }
    return true;
}

// `n` 4-byte numbers from `offset`; false when the table leaves the file.
bool read_table(ByteReader& in, ByteOrder order, std::uint64_t offset, std::uint64_t n,
                std::vector<std::uint32_t>& table) {
    const auto file_bytes = in.size();
    if (!file_bytes || offset > *file_bytes || 4 * n > *file_bytes - offset || !in.seek(offset))
        return false;
    table.resize(n);
    for (std::uint32_t& entry : table)
        if (!in.read_u32(order, entry)) return false;
    return true;
}

// Strip positions and sizes; false when a table lies outside the file.
bool locate_strips(ByteReader& in, ByteOrder order, const TiffTags& tags, std::uint64_t image_bytes,
                   std::vector<Strip>& strips) {
    // 64-bit sum: a rows-per-strip near 2^32 means one strip, not zero strips.
    const std::uint64_t rows = tags.rows_per_strip;
    const std::uint64_t n_strips = (rows + tags.height - 1) / rows;
    if (n_strips == 1) {
        strips.assign(1, Strip{tags.strip_offsets, image_bytes});
        return true;
    }
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint32_t> sizes;
    if (!read_table(in, order, tags.strip_offsets, n_strips, offsets) ||
        !read_table(in, order, tags.strip_byte_counts, n_strips, sizes))
        return false;
    strips.resize(n_strips);
    for (std::size_t i = 0; i < strips.size(); ++i) strips[i] = Strip{offsets[i], sizes[i]};
    return true;
}

// Converts `n` bytes of one strip into grey pixels at `out`; returns the
// number of pixels written.
std::size_t convert(const unsigned char* bytes, std::size_t n, std::uint32_t photometric,
                    int uv_flag, unsigned char* out) {
    if (photometric == kRgb) {
        const std::size_t pixels = n / 3;
        for (std::size_t i = 0; i < pixels; ++i) {
            const int r = bytes[3 * i];
            const int g = bytes[3 * i + 1];
            const int b = bytes[3 * i + 2];
            const int grey = uv_flag == 1 ? b : (r + 2) / 4 + (g + 1) / 2 + (b + 2) / 4;
            out[i] = static_cast<unsigned char>(std::min(grey, 255));
        }
        return pixels;
    }
    for (std::size_t i = 0; i < n; ++i)
        out[i] =
            photometric == kWhiteIsZero ? static_cast<unsigned char>(255 - bytes[i]) : bytes[i];
    return n;
}

// Appends the strips to `image`; false when a strip's needed bytes leave the file.
bool read_strips(ByteReader& in, const std::vector<Strip>& strips, std::uint32_t photometric,
                 int uv_flag, ByteBuffer& image) {
    const std::uint64_t bytes_per_pixel = photometric == kRgb ? 3 : 1;
    std::vector<unsigned char> chunk(kChunkBytes);
    std::size_t filled = 0;
    for (const Strip& strip : strips) {
        if (filled == image.size()) break;
        // Only whole pixels, and only as many as the buffer still takes.
        const std::uint64_t wanted =
            std::min<std::uint64_t>(strip.bytes / bytes_per_pixel, image.size() - filled);
        std::uint64_t left = wanted * bytes_per_pixel;
        if (left > 0 && !in.seek(strip.offset)) return false;
        while (left > 0) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunkBytes));
            if (!in.read(chunk.data(), n)) return false;
            filled += convert(chunk.data(), n, photometric, uv_flag, image.data() + filled);
            left -= n;
        }
    }
    return true;
}

}  // namespace

int read_tiff_2(ByteBuffer& charImage, IMAGE& im, const char* in_name, int uv_flag, int type) {
    charImage.clear();
    if (type != TIFF_LITTLE && type != TIFF_BIG) {
        std::fprintf(stderr, "\n%s: %s is not typed as a TIFF file (%d)", kRtn, in_name, type);
        return 0;
    }
    const ByteOrder order =
        type == TIFF_LITTLE ? ByteOrder::MostSignificantFirst : ByteOrder::LeastSignificantFirst;

    ByteReader in;
    if (!in.open(in_name)) {
        const int saved_errno = errno;
        std::fprintf(stderr, "\n%s: Cannot open file %s for reading!", kRtn, in_name);
        errno = saved_errno;
        std::perror(":");
        return 0;
    }
    const auto file_bytes = in.size();
    if (!file_bytes) return damaged(in_name, "not a regular file");

    TiffTags tags;
    if (!read_directory(in, order, tags))
        return damaged(in_name, "image directory outside the file");
    if (tags.width == 0 || tags.height == 0) return damaged(in_name, "no image size");
    if (tags.rows_per_strip == 0) return damaged(in_name, "zero rows per strip");
    // The pixels must fit in the file, which also keeps the byte count below 2^64.
    const std::uint64_t pixels = std::uint64_t{tags.width} * tags.height;
    const std::uint64_t bytes_per_pixel = tags.photometric == kRgb ? 3 : 1;
    if (pixels > *file_bytes / bytes_per_pixel || pixels > kMaxImagePixels)
        return damaged(in_name, "image size larger than the file");
    const std::uint64_t image_bytes = pixels * bytes_per_pixel;

    std::vector<Strip> strips;
    if (!locate_strips(in, order, tags, image_bytes, strips))
        return damaged(in_name, "strip table outside the file");

    try {
        charImage.assign(pixels, 0);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        std::fprintf(stderr, "\n %s: Cannot allocate charImage", kRtn);
        std::perror(":");
        return 2;
    }
    if (!read_strips(in, strips, tags.photometric, uv_flag, charImage)) {
        ByteBuffer().swap(charImage);
        return damaged(in_name, "strip data outside the file");
    }
    im.width = tags.width;
    im.height = tags.height;
    im.size = static_cast<unsigned long>(pixels);
    return 0;
}

}  // namespace orva
