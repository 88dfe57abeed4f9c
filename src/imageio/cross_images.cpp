// Colour copies of the images with a red cross at the predicted crystal
// position, and the centre-aligned mean image, written as JPEG files of
// quality 100 into the working directory.
//
// Positions are (column, row) in pixels of the loaded images, row 0 at the top.
// The cross is 21 pixels long in each direction and 3 pixels thick, clipped at
// the image border; a cross whose centre lies outside the image leaves the
// image unmarked. The mean image shifts every image so that its cross position
// lies at (width / 2, height / 2), averages the pixels that fall inside with
// integer division (pixels that no image covers stay 0) and draws a dashed
// cross through the centre. Status 2 when the working buffers cannot be had.
#include "imageio/cross_images.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>

#include "imageio/jpeg_io.h"
#include "toolkit/vector_clones.h"

namespace orva {

namespace {

constexpr int kCrossHalfLength = 10;
constexpr int kDashPeriod = 8;
constexpr int kDashOffset = 4;
constexpr int kJpegQuality = 100;

void paint_red(ByteBuffer& rgb, int width, int x, int y) {
    const std::size_t at = 3 * (static_cast<std::size_t>(y) * width + x);
    rgb[at] = 255;
    rgb[at + 1] = 0;
    rgb[at + 2] = 0;
}

// Three equal samples per grey value. The buffers never overlap; saying so
// lets the copy run without re-reading after every byte written.
ORVA_VECTOR_CLONES
void grey_to_rgb(const unsigned char* __restrict grey, unsigned char* __restrict rgb,
                 std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char v = grey[i];
        rgb[3 * i] = v;
        rgb[3 * i + 1] = v;
        rgb[3 * i + 2] = v;
    }
}

// Adds the pixels of one image, shifted so that its pixel (x + dx, y + dy)
// lands on (x, y), to sum and count wherever it covers the frame.
ORVA_VECTOR_CLONES
void add_shifted(const unsigned char* image, int width, int height, int dx, int dy, int* sum,
                 int* count) {
    const long x_begin = std::max(0L, -long{dx}), x_end = std::min(long{width}, long{width} - dx);
    const long y_begin = std::max(0L, -long{dy}), y_end = std::min(long{height}, long{height} - dy);
    for (long y = y_begin; y < y_end; ++y) {
        const unsigned char* src = image + (y + dy) * width;
        int* s = sum + y * width;
        int* c = count + y * width;
        for (long x = x_begin; x < x_end; ++x) {
            s[x] += src[x + dx];
            ++c[x];
        }
    }
}

void report_allocation(const char* rtn) {
    errno = ENOMEM;
    std::fprintf(stderr, "\n%s: Cannot allocate rgbptr!", rtn);
    std::perror(":");
}

}  // namespace

ByteBuffer compose_cross_rgb(std::span<const unsigned char> grey, int width, int height, int x0,
                             int y0) {
    const std::size_t size = static_cast<std::size_t>(width) * height;
    ByteBuffer rgb(3 * size);
    grey_to_rgb(grey.data(), rgb.data(), size);

    // A centre outside the image leaves it unmarked, even where one bar
    // would reach into it.
    if (x0 < 0 || x0 >= width || y0 < 0 || y0 >= height) return rgb;
    // Horizontal bar over rows y0 - 1 to y0 + 1.
    for (int x = std::max(x0 - kCrossHalfLength, 0);
         x <= std::min(x0 + kCrossHalfLength, width - 1); ++x) {
        paint_red(rgb, width, x, y0);
        if (y0 < height - 1) paint_red(rgb, width, x, y0 + 1);
        if (y0 > 0) paint_red(rgb, width, x, y0 - 1);
    }
    // Vertical bar over columns x0 - 1 to x0 + 1.
    for (int y = std::max(y0 - kCrossHalfLength, 0);
         y <= std::min(y0 + kCrossHalfLength, height - 1); ++y) {
        paint_red(rgb, width, x0, y);
        if (x0 < width - 1) paint_red(rgb, width, x0 + 1, y);
        if (x0 > 0) paint_red(rgb, width, x0 - 1, y);
    }
    return rgb;
}

ByteBuffer compose_centre_image(const std::vector<ByteBuffer>& images,
                                std::span<const CrossPosition> positions, int width, int height) {
    const std::size_t size = static_cast<std::size_t>(width) * height;
    std::vector<int> sum(size, 0);
    // Wider than a byte although at most MAX_NUMIMG images ever add to it.
    std::vector<int> count(size, 0);
    const int cx = width / 2;
    const int cy = height / 2;
    const std::size_t n_images = std::min(images.size(), positions.size());
    for (std::size_t q = 0; q < n_images; ++q) {
        if (images[q].size() < size) continue;  // not an image of this size
        add_shifted(images[q].data(), width, height, positions[q].x - cx, positions[q].y - cy,
                    sum.data(), count.data());
    }
    ByteBuffer mean(size, 0);
    for (std::size_t i = 0; i < size; ++i)
        if (count[i] > 0) mean[i] = static_cast<unsigned char>(std::min(sum[i] / count[i], 255));

    for (int y = 0; y < height - kDashOffset; y += kDashPeriod) {
        mean[static_cast<std::size_t>(y) * width + cx] = 255;
        mean[static_cast<std::size_t>(y + kDashOffset) * width + cx] = 0;
    }
    for (int x = 0; x < width - kDashOffset; x += kDashPeriod) {
        mean[static_cast<std::size_t>(cy) * width + x] = 255;
        mean[static_cast<std::size_t>(cy) * width + x + kDashOffset] = 0;
    }
    return mean;
}

int set_cross(std::span<const unsigned char> charImage, const IMAGE& im, int q, int x0, int y0) {
    const char* rtn = "set_cross";
    const int width = static_cast<int>(im.width);
    const int height = static_cast<int>(im.height);
    if (width < 1 || height < 1 ||
        charImage.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        std::fprintf(stderr, "\n%s: No image to mark for cross_%02d.jpg", rtn, q);
        return 2;
    }
    ByteBuffer rgb;
    try {
        rgb = compose_cross_rgb(charImage, width, height, x0, y0);
    } catch (const std::bad_alloc&) {
        report_allocation(rtn);
        return 2;
    }
    char name[32];
    std::snprintf(name, sizeof name, "cross_%02d.jpg", q);
    write_JPEG_file(name, kJpegQuality, width, height, rgb.data());
    return 0;
}

int write_centre_image(const std::vector<ByteBuffer>& images,
                       std::span<const CrossPosition> positions, int width, int height) {
    const char* rtn = "write_centre_image";
    if (width < 1 || height < 1) {
        std::fprintf(stderr, "\n%s: No image size for centre.jpg", rtn);
        return 2;
    }
    ByteBuffer rgb;
    try {
        const ByteBuffer mean = compose_centre_image(images, positions, width, height);
        rgb.resize(3 * mean.size());
        grey_to_rgb(mean.data(), rgb.data(), mean.size());
    } catch (const std::bad_alloc&) {
        report_allocation(rtn);
        return 2;
    }
    write_JPEG_file("centre.jpg", kJpegQuality, width, height, rgb.data());
    return 0;
}

}  // namespace orva
