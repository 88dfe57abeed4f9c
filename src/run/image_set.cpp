// Image-set loading: opening test, dispatch on the file type, size check.
//
// Every loaded buffer is width * height bytes, row-major, top row first. The run's
// width and height are those of the first image loaded; any later image (the
// background included) of another size ends the run with status 14, since the
// analysis compares the images pixel by pixel.
#include "run/image_set.h"

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

#include "imageio/image_type.h"
#include "imageio/jpeg_io.h"
#include "imageio/pgm_reader.h"
#include "imageio/png_reader.h"
#include "imageio/tiff_reader.h"
#include "run/command_line.h"

namespace orva {

namespace {

constexpr const char* STAR_LINE_LONG = "\n**************************************************";
constexpr const char* STAR_LINE_SHORT = "************************************************";

void report_skipped(bool background) {
    if (background)
        std::fprintf(stderr, "Try to continue without background image\n");
    else
        std::fprintf(stderr, "Try to proceed with next image\n");
    std::fprintf(stderr, "%s", STAR_LINE_SHORT);
}

// Opening test; reports with the system's reason when the file cannot be opened.
bool file_opens(const char* name, bool background) {
    std::FILE* f = std::fopen(name, "rb");
    if (f != nullptr) {
        std::fclose(f);
        return true;
    }
    const int err = errno;
    std::fprintf(stderr, "%s", STAR_LINE_LONG);
    std::fprintf(stderr, "\nInput file %s could not be opened for reading", name);
    errno = err;
    std::perror("\nReason");
    report_skipped(background);
    return false;
}

void report_unreadable(const char* name, bool background) {
    std::fprintf(stderr, "%s", STAR_LINE_LONG);
    std::fprintf(stderr, "\nInput file %s could not be read as an image\n", name);
    report_skipped(background);
}

// Grey buffers from the library readers come with their size in two ints.
void set_size(IMAGE& im, int width, int height) {
    im.width = width > 0 ? static_cast<unsigned int>(width) : 0;
    im.height = height > 0 ? static_cast<unsigned int>(height) : 0;
    im.size = static_cast<unsigned long>(im.width) * im.height;
}

bool buffer_matches(const ByteBuffer& buffer, const IMAGE& im) {
    return !buffer.empty() && im.width > 0 && im.height > 0 &&
           buffer.size() == static_cast<std::size_t>(im.width) * im.height;
}

struct Geometry {
    bool known = false;
    unsigned int width = 0;
    unsigned int height = 0;
};

bool same_size(Geometry& g, const IMAGE& im, const char* name) {
    if (!g.known) {
        g = {true, im.width, im.height};
        return true;
    }
    if (im.width == g.width && im.height == g.height) return true;
    std::fprintf(stderr,
                 "\n Image %s has %u x %u pixels, the images before it %u x %u."
                 "\n All images of a job, the background included, must have one size.\n",
                 name, im.width, im.height, g.width, g.height);
    return false;
}

void fill_params(const JobSettings& job, const Geometry& g, ORVAPARAMS& params) {
    params.num_images = static_cast<int>(params.angle.size());
    if (g.known) {
        params.width = static_cast<int>(g.width);
        params.height = static_cast<int>(g.height);
    }
    for (int side = 0; side < 4; ++side) params.border[side] = job.border[side];
    params.set_cross_flag = job.set_cross_flag;
    params.image_special = job.image_special;
    params.loop_pos = job.loop_pos;
    params.centre_coord = job.centre_coord;
    params.loop_type = job.loop_type;
    params.prealignment_flag = job.prealignment_flag;
    params.vers23_flag = job.vers23_flag;
    params.track_flag = job.track_flag;
    params.reserved = job.logout_flag;
}

}  // namespace

int read_image_file(const char* name, int uv_flag, ByteBuffer& buffer, IMAGE& im) {
    const int type = get_img_type(name);
    int width = 0;
    int height = 0;
    switch (type) {
        case READ_ERROR:
            return TYPE_NOT_READ;
        case PGM_SUPPORTED:
            return read_pgm(buffer, im, name);
        case PGM_NOT_SUPPORTED:
            std::fprintf(stderr, "\n Only P5 and P5 type  PGM/PPM supported!\n");
            return UNSUPPORTED_VARIANT;
        case TIFF_LITTLE:
        case TIFF_BIG:
            return read_tiff_2(buffer, im, name, uv_flag, type);
        case TIFF_NOT_SUPPORTED:
            std::fprintf(stderr, "\n***************************************************");
            std::fprintf(stderr,
                         "\nPresently this software is compatible to uncompressed TIFF images");
            std::fprintf(stderr, "\n***************************************************\n");
            return UNSUPPORTED_VARIANT;
        case JPEG:
            buffer = read_JPEG_file(name, &width, &height);
            set_size(im, width, height);
            return 0;
        case PNG:
            buffer = loadpng(name, &width, &height);
            set_size(im, width, height);
            return 0;
        default:
            std::fprintf(stderr, "\n Unknown image type! Cannot deal with!\n");
            return UNKNOWN_TYPE;
    }
}

int load_image_set(const JobSettings& job, ORVAPARAMS& params, std::vector<ByteBuffer>& images) {
    const int numimg = static_cast<int>(job.images.size());
    images.clear();
    params.angle.clear();
    try {
        params.angle.reserve(job.images.size());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "\n Cannot allocate xp.angle\n");
        return NO_MEMORY;
    }
    try {
        images.reserve(job.images.size());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "\n Cannot allocate image_arr\n");
        return NO_MEMORY;
    }

    int available = numimg;
    int background_flag = job.background_flag;
    Geometry geometry;
    for (int i = 0; i < numimg + job.background_flag; ++i) {
        const bool background = i == numimg;
        const char* name = background ? job.back_name.c_str() : job.images[i].name.c_str();
        std::fprintf(stderr, "\n Reading Image %s", name);
        ByteBuffer buffer;
        IMAGE im;
        bool loaded = file_opens(name, background);
        if (loaded) {
            const int status = read_image_file(name, job.uv_flag, buffer, im);
            if (status != 0) return status;
            loaded = buffer_matches(buffer, im);
            if (!loaded) report_unreadable(name, background);
        }
        if (!loaded) {
            if (background)
                background_flag = 0;
            else
                --available;
            continue;
        }
        if (!same_size(geometry, im, name)) return SIZE_MISMATCH;
        if (background) {
            params.back_ptr = std::move(buffer);
        } else {
            images.push_back(std::move(buffer));
            params.angle.push_back(job.images[i].angle);
        }
    }
    if (available < 1) {
        std::fprintf(stderr, "\n%s: None of the files could be found.", PROGRAM_NAME);
        std::fprintf(stderr, "\n\tPlease check path and filenames in the data file.\n");
        return NO_IMAGE_FOUND;
    }
    params.background_flag = background_flag;
    fill_params(job, geometry, params);
    return 0;
}

}  // namespace orva
