// Diagnostic files of the loop extraction.
//
// The mask picture shows object grey (210, 210, 210), left-flank markers red
// and right-flank markers green (each widened by one pixel to either side),
// background white, and the columns 0, W-2 and W-1 black. For every 10-row
// band the left-most and right-most object columns of each row are collected
// as points (row, column); a band keeps the pair of its last row, written as
// (0, 0) when the two are less than 5 apart. The hull of all points but the
// last is listed as (H - row, column).
// Files go through a private temporary file renamed into place (see header).
#include "loop/loop_diagnostics.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "imageio/jpeg_cells.h"
#include "imageio/jpeg_io.h"
#include "toolkit/byte_scan.h"
#include "toolkit/convex_hull.h"
#include "toolkit/vector_clones.h"

namespace orva {

namespace {

constexpr unsigned char MASK_GREY = 210;
constexpr unsigned char WHITE = 255;
constexpr long JPEG_CELL = 16;  // pixels per side of the cells the JPEG writer codes
constexpr const char* TEMP_PATTERN = "/.orva_diag_XXXXXX";

// A private, freshly created file in dir; removed again unless released.
class PrivateTempFile {
  public:
    explicit PrivateTempFile(const std::string& dir) : path_(dir + TEMP_PATTERN) {
        fd_ = mkstemp(path_.data());
        if (fd_ < 0) return;
        // Readable like any file this user creates, but created by us alone.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd_, 0666 & ~mask);
    }
    ~PrivateTempFile() {
        close_fd();
        if (!released_ && fd_ != -1) unlink(path_.c_str());
    }
    PrivateTempFile(const PrivateTempFile&) = delete;
    PrivateTempFile& operator=(const PrivateTempFile&) = delete;

    bool valid() const { return fd_ >= 0 || closed_; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    bool close_fd() {
        if (closed_ || fd_ < 0) return true;
        closed_ = true;
        return close(fd_) == 0;
    }
    // Moves the file over dir/name; rename replaces a link there rather than
    // following it, and fails on another user's file in a sticky directory.
    bool rename_to(const std::string& target) {
        if (rename(path_.c_str(), target.c_str()) != 0) return false;
        released_ = true;
        return true;
    }

  private:
    std::string path_;
    int fd_ = -1;
    bool closed_ = false;
    bool released_ = false;
};

bool write_all(int fd, const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool is_directory(const std::string& dir) {
    struct stat st {};
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

template <class... Args>
std::string format(const char* fmt, Args... args) {
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, fmt, args...);
    return n < 0 ? std::string() : std::string(buf, std::min<std::size_t>(n, sizeof buf - 1));
}

// Has `write` write a JPEG file to a private temporary file in dir, then
// renames it to dir/name; false when no complete file came out.
template <class Write>
bool write_jpeg_through_temp(const std::string& dir, const std::string& name, Write write) {
    PrivateTempFile tmp(dir);
    if (!tmp.valid() || !tmp.close_fd()) return false;
    // The temporary file is ours (mode from mkstemp) and, in a sticky
    // directory, cannot be swapped by anyone else before the writer opens it.
    write(tmp.path().c_str());
    struct stat st {};
    if (stat(tmp.path().c_str(), &st) != 0 || st.st_size == 0) return false;
    return tmp.rename_to(dir + "/" + name);
}

void set_white(std::vector<unsigned char>& rgb, long pixel) {
    rgb[3 * pixel] = rgb[3 * pixel + 1] = rgb[3 * pixel + 2] = WHITE;
}

// Colours of columns 1 .. w - 3 of one mask row: grey for object, white for
// background, then red (only R set) beside a left-flank marker 2 and, failing
// that, green (only G set) beside a right-flank marker 3.
ORVA_VECTOR_CLONES
void paint_mask_row(const unsigned char* __restrict m, unsigned char* __restrict rgb, long w) {
    for (long x = 1; x <= w - 3; ++x) {
        const unsigned char grey = m[x] == 1 ? MASK_GREY : WHITE;
        rgb[3 * x] = grey;
        rgb[3 * x + 1] = grey;
        rgb[3 * x + 2] = grey;
    }
    auto near = [m](long x, unsigned char v) {
        return m[x - 1] == v || m[x] == v || m[x + 1] == v;
    };
    // Markers are rare: skip words whose bytes are all 0 or 1.
    constexpr std::uint64_t kAboveOne = 0xFEFEFEFEFEFEFEFEull;
    for (long k = 0; k < w;) {
        std::uint64_t word = 0;
        if (k + 8 <= w) std::memcpy(&word, m + k, 8);
        if (k + 8 <= w && (word & kAboveOne) == 0) {
            k += 8;
            continue;
        }
        if (m[k] > 1) {
            for (long x = std::max(k - 1, 1L); x <= std::min(k + 1, w - 3); ++x) {
                unsigned char* px = rgb + 3 * x;
                if (near(x, 2)) {
                    px[0] = WHITE, px[1] = 0, px[2] = 0;
                } else if (near(x, 3)) {
                    px[0] = 0, px[1] = WHITE, px[2] = 0;
                }
            }
        }
        ++k;
    }
}

// The colour of column x of a mask row, as paint_mask_row paints it (the
// columns it leaves are black).
void mask_colour(const unsigned char* m, long w, long x, unsigned char* px) {
    if (x == 0 || x >= w - 2) {
        px[0] = px[1] = px[2] = 0;
        return;
    }
    auto near = [m, x](unsigned char v) { return m[x - 1] == v || m[x] == v || m[x + 1] == v; };
    if (near(2)) {
        px[0] = WHITE, px[1] = 0, px[2] = 0;
    } else if (near(3)) {
        px[0] = 0, px[1] = WHITE, px[2] = 0;
    } else {
        px[0] = px[1] = px[2] = m[x] == 1 ? MASK_GREY : WHITE;
    }
}

// Whether the 8 bytes at p all hold v.
bool all_equal(const unsigned char* p, std::uint64_t v) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word == v * 0x0101010101010101ull;
}

// The mask picture cell by cell: a full cell inside the painted columns whose
// mask values are all the same 0 or 1, beside columns without markers, has
// one colour; the others are painted row by row.
DrawnPicture mask_picture_cells(const IMAGE& imc, std::span<const unsigned char> mask) {
    const long w = imc.width;
    const long h = imc.height;
    DrawnPicture picture;
    picture.flat = [mask, w, h](int cx, int cy, unsigned char* rgb) {
        const long x0 = cx * JPEG_CELL, y0 = cy * JPEG_CELL;
        if (x0 < 1 || x0 + JPEG_CELL > w - 2 || y0 + JPEG_CELL > h) return false;
        const unsigned char* first = mask.data() + y0 * w + x0;
        const unsigned char v = first[0];
        if (v > 1) return false;
        for (long y = 0; y < JPEG_CELL; ++y) {
            const unsigned char* row = first + y * w;
            if (row[-1] > 1 || row[JPEG_CELL] > 1 || !all_equal(row, v) || !all_equal(row + 8, v))
                return false;
        }
        rgb[0] = rgb[1] = rgb[2] = v == 1 ? MASK_GREY : WHITE;
        return true;
    };
    picture.draw = [mask, w, h](int cx, int cy, unsigned char* tile) {
        const long x0 = cx * JPEG_CELL, y0 = cy * JPEG_CELL;
        const long cw = std::min(JPEG_CELL, w - x0), ch = std::min(JPEG_CELL, h - y0);
        for (long y = 0; y < ch; ++y) {
            const unsigned char* m = mask.data() + (y0 + y) * w;
            unsigned char* px = tile + 3 * y * JPEG_CELL;
            for (long x = x0; x < x0 + cw; ++x, px += 3) {
                if (x > 0 && x < w - 2 && m[x - 1] <= 1 && m[x] <= 1 && m[x + 1] <= 1)
                    px[0] = px[1] = px[2] = m[x] == 1 ? MASK_GREY : WHITE;
                else
                    mask_colour(m, w, x, px);
            }
        }
    };
    return picture;
}

void write_mask_picture(const std::string& dir, const IMAGE& imc,
                        std::span<const unsigned char> mask, int index,
                        std::vector<unsigned char>& rgb) {
    const long w = imc.width;
    const long h = imc.height;
    const std::string name = format("diffmask_%02d.jpg", index);
    FlatCells cells;
    if (drawn_cells(DIAGNOSTIC_JPEG_QUALITY, static_cast<int>(w), static_cast<int>(h),
                    mask_picture_cells(imc, mask), cells)) {
        write_jpeg_through_temp(dir, name, [&](const char* path) {
            write_JPEG_file(path, DIAGNOSTIC_JPEG_QUALITY, cells);
        });
        return;
    }
    try {
        rgb.assign(static_cast<std::size_t>(3 * w * h), 0);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "error in allocating the memory for img_jpg at diffmask_%02d.jpg\n",
                     index);
        return;
    }
    for (long y = 0; y < h; ++y) paint_mask_row(mask.data() + y * w, rgb.data() + 3 * y * w, w);
    write_jpeg_privately(dir, name, static_cast<int>(w), static_cast<int>(h), rgb);
}

struct BandEdges {
    std::vector<point> points;     // (row, right), (row, left) per object row
    std::vector<int> left, right;  // per band, (0, 0) when narrow
    int max_spread = 0;
};

// Object and marker pixels hold 1..3. First such column of a row, or w.
long first_marked(const unsigned char* m, long w) {
    long x = 0;
    for (;;) {
        x += static_cast<long>(first_nonzero(m + x, static_cast<std::size_t>(w - x)));
        if (x == w || m[x] <= 3) return x;
        ++x;
    }
}

// Last such column of a row that has one.
long last_marked(const unsigned char* m, long w) {
    long end = w;  // columns end .. w - 1 hold none
    for (;;) {
        const long x = static_cast<long>(last_nonzero(m, static_cast<std::size_t>(end)));
        if (m[x] <= 3) return x;
        end = x;
    }
}

BandEdges band_edges(const IMAGE& imc, std::span<const unsigned char> mask) {
    const long w = imc.width;
    const int bands = static_cast<int>(imc.height) / BAND_ROWS;
    BandEdges edges;
    for (int b = 0; b < bands; ++b) {
        int left = 0, right = 0;
        for (int y = b * BAND_ROWS; y < (b + 1) * BAND_ROWS; ++y) {
            const unsigned char* m = mask.data() + y * w;
            left = right = 0;
            const long x = first_marked(m, w);
            if (x == w) continue;
            left = static_cast<int>(x);
            right = static_cast<int>(last_marked(m, w));
            edges.points.emplace_back(y, right);
            edges.points.emplace_back(y, left);
        }
        if (right - left < MIN_BAND_SPREAD) left = right = 0;
        edges.left.push_back(left);
        edges.right.push_back(right);
        edges.max_spread = std::max(edges.max_spread, right - left);
    }
    return edges;
}

// An H-wide, W-high picture with the given (row, column) points in white.
bool point_picture(const IMAGE& imc, std::span<const point> pts, std::vector<unsigned char>& rgb) {
    const long w = imc.height;  // picture width: rows
    const long h = imc.width;   // picture height: columns
    try {
        rgb.assign(static_cast<std::size_t>(3 * w * h), 0);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "\nerror in allocating the memory for img_jpg at masks1_.jpg\n");
        return false;
    }
    for (const point& p : pts) {
        const long x = static_cast<long>(p[X]);
        const long y = static_cast<long>(p[Y]);
        if (x >= 0 && x < w && y >= 0 && y < h) set_white(rgb, y * w + x);
    }
    return true;
}

// The picture of point_picture written as dir/name, from its cells when
// they allow (the picture itself is then never made).
void write_point_picture(const std::string& dir, const std::string& name, const IMAGE& imc,
                         std::span<const point> pts, std::vector<unsigned char>& rgb) {
    const long w = imc.height;  // picture width: rows
    const long h = imc.width;   // picture height: columns
    std::vector<std::pair<int, int>> xy;
    xy.reserve(pts.size());
    for (const point& p : pts) {
        const long x = static_cast<long>(p[X]);
        const long y = static_cast<long>(p[Y]);
        if (x >= 0 && x < w && y >= 0 && y < h)
            xy.emplace_back(static_cast<int>(x), static_cast<int>(y));
    }
    const unsigned char black[3] = {0, 0, 0};
    const unsigned char white[3] = {WHITE, WHITE, WHITE};
    FlatCells cells;
    if (point_cells(DIAGNOSTIC_JPEG_QUALITY, static_cast<int>(w), static_cast<int>(h), black, white,
                    xy, cells)) {
        write_jpeg_through_temp(dir, name, [&](const char* path) {
            write_JPEG_file(path, DIAGNOSTIC_JPEG_QUALITY, cells);
        });
        return;
    }
    if (point_picture(imc, pts, rgb))
        write_jpeg_privately(dir, name, static_cast<int>(w), static_cast<int>(h), rgb);
}

void write_band_files(const std::string& dir, const IMAGE& imc, const BandEdges& edges,
                      DiagnosticCounters& counters, std::vector<unsigned char>& rgb) {
    std::string list;
    for (std::size_t b = edges.left.size(); b-- > 0;)
        list += format("%d %d ", edges.left[b], edges.right[b]);
    write_file_privately(dir, format("masks2_yvalues_%d.txt", counters.yvalues_txt++), list);
    write_file_privately(dir, "masks2_max.txt", format("%d ", edges.max_spread));

    const int n = counters.yvalues_jpg++;
    write_point_picture(dir, format("masks2_yvalues_%d.jpg", n), imc, edges.points, rgb);
}

void write_hull_files(const std::string& dir, const IMAGE& imc, const BandEdges& edges,
                      DiagnosticCounters& counters, std::vector<unsigned char>& rgb) {
    // All points but the last, plus the one scratch entry the sweep needs.
    const int n = edges.points.empty() ? 0 : static_cast<int>(edges.points.size()) - 1;
    std::vector<point> in(edges.points.begin(), edges.points.begin() + n);
    in.emplace_back();
    polygon hull;
    convex_hull(in, n, hull);
    const int vertices = std::clamp(hull.n, 0, static_cast<int>(hull.p.size()));
    const std::span<const point> verts(hull.p.data(), static_cast<std::size_t>(vertices));

    std::string list = format("%d", vertices);
    for (const point& p : verts)
        list += format(" %d %d", static_cast<int>(imc.height - p[X]), static_cast<int>(p[Y]));
    write_file_privately(dir, format("masks2_hull_%d.txt", counters.hull_txt++), list);

    const int k = counters.hull_jpg++;
    write_point_picture(dir, format("masks2_hull_%d.jpg", k), imc, verts, rgb);
}

}  // namespace

bool write_file_privately(const std::string& dir, const std::string& name,
                          const std::string& content) {
    PrivateTempFile tmp(dir);
    if (!tmp.valid()) return false;
    if (!write_all(tmp.fd(), content) || !tmp.close_fd()) return false;
    return tmp.rename_to(dir + "/" + name);
}

bool write_jpeg_privately(const std::string& dir, const std::string& name, int width, int height,
                          std::span<const unsigned char> rgb) {
    if (width < 1 || height < 1 || rgb.size() < 3ul * width * height) return false;
    return write_jpeg_through_temp(dir, name, [&](const char* path) {
        write_JPEG_file(path, DIAGNOSTIC_JPEG_QUALITY, width, height, rgb.data());
    });
}

std::string diagnostic_dir() {
    const char* chosen = std::getenv(DIAGNOSTIC_DIR_VARIABLE);
    return chosen != nullptr ? std::string(chosen) : std::string(DIAGNOSTIC_DIR);
}

void write_loop_diagnostics(const std::string& dir, const IMAGE& imc,
                            std::span<const unsigned char> mask, int index,
                            DiagnosticCounters& counters) {
    if (imc.width < 1 || imc.height < 1 || mask.size() < imc.size) return;
    if (dir.empty() || !is_directory(dir)) return;
    try {
        // The three pictures have the same number of pixels: one buffer serves all.
        std::vector<unsigned char> rgb;
        write_mask_picture(dir, imc, mask, index, rgb);
        const BandEdges edges = band_edges(imc, mask);
        write_band_files(dir, imc, edges, counters, rgb);
        write_hull_files(dir, imc, edges, counters, rgb);
    } catch (const std::exception&) {
        // Inspection files only: a failure here must not touch the analysis.
    }
}

}  // namespace orva
