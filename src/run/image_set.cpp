// Image-set loading: opening test, dispatch on the file type, size check.
//
// Every loaded buffer is width * height bytes, row-major, top row first. The run's
// width and height are those of the first image loaded; any later image (the
// background included) of another size ends the run with status 14, since the
// analysis compares the images pixel by pixel. Only regular files are read as
// images; every file is opened without waiting on a FIFO.
// The files are decoded on all worker threads (parallel/image_map.h); their
// messages, the size check and the order of the lists follow the list.
#include "run/image_set.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "imageio/image_type.h"
#include "imageio/jpeg_io.h"
#include "imageio/pgm_reader.h"
#include "imageio/png_reader.h"
#include "imageio/tiff_reader.h"
#include "parallel/image_map.h"
#include "run/command_line.h"
#include "run_record.h"
#include "toolkit/safe_files.h"

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

// The same name next to the job file, when the job file lies in another
// folder and a file of that name exists there; else empty.
std::string beside_job_file(const std::string& name, const std::string& job_file) {
    const std::size_t slash = job_file.rfind('/');
    if (name.empty() || name[0] == '/' || slash == std::string::npos) return "";
    const std::string candidate = job_file.substr(0, slash + 1) + name;
    struct stat st {};
    return stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? candidate : "";
}

// Opening test; reports with the system's reason when the file cannot be opened
// (returned in *why). Only regular files are images: a FIFO, device or
// directory is refused without being waited for or read.
bool file_opens(const char* name, bool background, const std::string& job_file, std::string* why) {
    struct stat st {};
    if (stat(name, &st) == 0 && !S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "%s", STAR_LINE_LONG);
        std::fprintf(stderr, "\nInput file %s is %s, not an image file\n", name,
                     file_kind(st.st_mode));
        *why = std::string("is ") + file_kind(st.st_mode) + ", not an image file";
        report_skipped(background);
        return false;
    }
    std::string reason;
    const int fd = open_input_fd(name, false, reason);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    const int err = errno;
    *why = std::string("could not be opened for reading: ") + std::strerror(err);
    std::fprintf(stderr, "%s", STAR_LINE_LONG);
    std::fprintf(stderr, "\nInput file %s could not be opened for reading", name);
    errno = err;
    std::perror("\nReason");
    const std::string beside = err == ENOENT ? beside_job_file(name, job_file) : "";
    if (!beside.empty()) {
        // Image names are read from the working directory, not from the job file's folder.
        std::fprintf(stderr,
                     "A file of that name lies next to the job file: %s (image names are "
                     "read from the working directory)\n",
                     beside.c_str());
        *why += "; a file of that name lies next to the job file: " + beside;
    }
    report_skipped(background);
    return false;
}

// The loading part of the run record; does nothing without a record.
struct LoadRecord {
    RunRecord* record;

    void start(const JobSettings& job) const {
        if (record == nullptr) return;
        record->images.clear();
        for (const ImageEntry& e : job.images)
            record->images.push_back(
                {e.name, e.angle, false, "the run ended before it was loaded"});
        if (job.background_flag) {
            record->background_file = job.back_name;
            record->background_reason = "the run ended before it was loaded";
        }
    }
    void skipped(int i, bool background, const char* name, const std::string& why) const {
        if (record == nullptr) return;
        if (background) {
            record->background_reason = why;
            record->warn("background_dropped", std::string("Background image ") + name + " " + why +
                                                   "; the run goes on without it");
        } else {
            record->images[i].reason = why;
            record->warn("image_skipped",
                         std::string("Input file ") + name + " " + why + "; it is left out");
        }
    }
    void loaded(int i, bool background, const IMAGE& im) const {
        if (record == nullptr) return;
        if (record->width == 0) {
            record->width = static_cast<int>(im.width);
            record->height = static_cast<int>(im.height);
        }
        if (background) {
            record->background_loaded = true;
            record->background_reason.clear();
        } else {
            record->images[i].used = true;
            record->images[i].reason.clear();
        }
    }
    // The run ends at file i (the background when i is the image count).
    void failed(int i, const std::string& what) const {
        if (record == nullptr) return;
        record->failure = what;
        if (static_cast<std::size_t>(i) < record->images.size())
            record->images[i].reason = "the run ended at this file";
        else
            record->background_reason = "the run ended at this file";
    }
};

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

bool same_size(Geometry& g, const IMAGE& im, const char* name, int i, const LoadRecord& rec) {
    if (!g.known) {
        g = {true, im.width, im.height};
        return true;
    }
    if (im.width == g.width && im.height == g.height) return true;
    std::fprintf(stderr,
                 "\n Image %s has %u x %u pixels, the images before it %u x %u."
                 "\n All images of a job, the background included, must have one size.\n",
                 name, im.width, im.height, g.width, g.height);
    rec.failed(i, std::string(name) + " has " + std::to_string(im.width) + " x " +
                      std::to_string(im.height) + " pixels, the images before it " +
                      std::to_string(g.width) + " x " + std::to_string(g.height));
    return false;
}

struct LoadedFile {
    ByteBuffer buffer;
    IMAGE im;
    bool loaded = false;
    int status = 0;   // nonzero: the loading ends at this file
    std::string why;  // why a skipped file gave no image
};

// Announces, opens and reads one listed file into `file`: loaded tells
// whether it gave an image, status whether the loading ends here.
void read_listed_file(const char* name, bool background, int uv_flag, const std::string& job_file,
                      LoadedFile& file) {
    std::fprintf(stderr, "\n Reading Image %s", name);
    file.loaded = file_opens(name, background, job_file, &file.why);
    if (!file.loaded) return;
    file.status = read_image_file(name, uv_flag, file.buffer, file.im);
    if (file.status != 0) return;
    file.loaded = buffer_matches(file.buffer, file.im);
    if (!file.loaded) {
        report_unreadable(name, background);
        file.why = "could not be read as an image";
    }
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

    // The files are read in parallel; what follows from each one (its size
    // against the first image's, its place in the lists) is decided in list order.
    const int items = numimg + job.background_flag;
    std::vector<LoadedFile> files(static_cast<std::size_t>(items));
    auto name_of = [&](int i) {
        return i == numimg ? job.back_name.c_str() : job.images[i].name.c_str();
    };
    auto read = [&](int i, int /*slot*/) {
        read_listed_file(name_of(i), i == numimg, job.uv_flag, job.job_file, files[i]);
        return 0;
    };
    int available = numimg;
    int background_flag = job.background_flag;
    Geometry geometry;
    const LoadRecord rec{params.record};
    rec.start(job);
    auto take = [&](int i) {
        const bool background = i == numimg;
        LoadedFile& file = files[i];
        if (file.status != 0) {
            rec.failed(i, name_of(i));
            return file.status;
        }
        if (!file.loaded) {
            rec.skipped(i, background, name_of(i), file.why);
            ByteBuffer().swap(file.buffer);
            if (background)
                background_flag = 0;
            else
                --available;
            return 0;
        }
        if (!same_size(geometry, file.im, name_of(i), i, rec)) return SIZE_MISMATCH;
        rec.loaded(i, background, file.im);
        if (background) {
            params.back_ptr = std::move(file.buffer);
        } else {
            images.push_back(std::move(file.buffer));
            params.angle.push_back(job.images[i].angle);
        }
        return 0;
    };
    const int status = map_images(items, read, take);
    if (status != 0) return status;
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
