// Blob and line positions of the crystal inside the loop of every canonical image.
//
// Method, per image with a loop: the loop mask is drawn from the contour rows
// down to the loop box bottom and closed; erosion depth i is a quarter of the
// smaller of the mean row width and the box height. The line position comes
// from the Hough pair search inside the mask eroded by 2i/3 (only for i > 1);
// the blob position is the centroid of the strongest one percent of the
// low-pass-filtered second-derivative response inside the mask eroded by i.
// Both masks are repaired by smooth_mask after erosion.
// Conventions: canonical-image pixels, x the column, y the row, row 0 at the
// top; the window is columns box_l <= x < box_r, rows box_t <= y < box_b.
// Degenerate input: an image without loop, switched off, without contour rows
// at or above box_b, with an empty window or one outside the image, or with a
// short buffer gets 0 for all four coordinates. A window below 16 pixels gives
// line position (-1, -1).
// Status: 0, or the code of a failing fft_filter (the run stops there).
#include "crystal/centring_image.h"

#include <algorithm>
#include <array>
#include <vector>

#include "crystal/fft_filter.h"
#include "crystal/line_detection.h"
#include "crystal/mask_tools.h"
#include "loop/feature_maps.h"
#include "parallel/image_map.h"
#include "toolkit/arrays.h"
#include "toolkit/morphology.h"

namespace orva {
namespace {

constexpr int BLOB_MODE = 2;  // second-derivative response
constexpr int BLOB_LEVELS = 4;
constexpr unsigned int BLOB_PERCENT = 1;

// One image's blob (x1, y1) and line (x2, y2) positions.
struct Positions {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

// Buffers of one thread, kept from image to image: the loop and line masks,
// the window and its blob response, the kernel spectra and pyramid of the
// blob filter (the windows of a run share a few container sizes) and the
// buffers of the line search.
struct CentringWork {
    std::vector<unsigned char> mask, line_mask, window, response;
    std::vector<float> blob;
    KernelSpectra spectra;
    FeatureWork feature;
    LineWork lines;
};

// p comes in as the caller set it. Returns 0, or the status of a failing
// fft_filter.
int centre_one_image(const IMAGE& imc, const ByteBuffer& image, const SHAPE_PARAMS& shape,
                     bool wanted, int q, CentringWork& work, Positions& p) {
    if (shape.type == NO_OBJECT || !wanted) {
        p = Positions{};
        return 0;
    }
    std::fprintf(stderr, " %d", q);

    const std::size_t S = static_cast<std::size_t>(imc.width) * imc.height;
    std::vector<unsigned char>& mask_ptr = work.mask;
    const std::array<unsigned int, 4> roi = {shape.box_l, shape.box_r, shape.box_t, shape.box_b};
    const bool window_ok =
        roi[1] > roi[0] && roi[3] > roi[2] && roi[1] <= imc.width && roi[3] <= imc.height;
    unsigned int loop_width = 0;
    if (S == 0 || image.size() < S || !window_ok ||
        !draw_loop_mask(imc, shape, mask_ptr, loop_width)) {
        p = Positions{};
        return 0;
    }
    closing17x17(imc, mask_ptr);

    const ErosionDepths depth = erosion_depths(loop_width, shape.box_b - shape.box_t);

    // Line mask, eroded more lightly than the blob mask.
    std::vector<unsigned char>& maskl_ptr = work.line_mask;
    maskl_ptr.assign(mask_ptr.begin(), mask_ptr.end());
    if (depth.line > 0) erode_mask(imc, maskl_ptr, depth.line);
    smooth_mask(imc, maskl_ptr);

    if (depth.blob > 0) erode_mask(imc, mask_ptr, depth.blob);
    smooth_mask(imc, mask_ptr);

    // The window's grey values, unsmoothed; they feed both searches.
    const unsigned int roi_width = roi[1] - roi[0];
    const unsigned int roi_height = roi[3] - roi[2];
    const long win_size = static_cast<long>(roi_width) * roi_height;
    std::vector<unsigned char>& line_ptr = work.window;
    line_ptr.resize(static_cast<std::size_t>(win_size));
    for (unsigned int y = 0; y < roi_height; ++y)
        std::copy_n(image.begin() + static_cast<long>(roi[2] + y) * imc.width + roi[0], roi_width,
                    line_ptr.begin() + static_cast<long>(y) * roi_width);

    get_lines2(imc, maskl_ptr, line_ptr, roi, p.x2, p.y2, work.lines);
    if (p.x2 >= 0 && p.y2 >= 0) {
        p.x2 += static_cast<int>(roi[0]);
        p.y2 += static_cast<int>(roi[2]);
    }

    // Blob response of the window.
    IMAGE window;
    window.width = roi_width;
    window.height = roi_height;
    window.size = static_cast<unsigned long>(win_size);
    // The response is read where the pyramid leaves it, so it starts at 0.
    std::vector<unsigned char>& response = work.response;
    response.assign(static_cast<std::size_t>(win_size), 0);
    get_feature(window, line_ptr, response, BLOB_MODE, BLOB_LEVELS, 1, work.feature);
    std::vector<float>& gptr = work.blob;
    gptr.assign(response.begin(), response.end());

    mask_object(imc, mask_ptr, gptr, roi);
    const std::array<int, 2> size = {static_cast<int>(roi_width), static_cast<int>(roi_height)};
    const int err = fft_filter(gptr, 2, size, 0, LP, work.spectra);
    if (err != 0) return err;
    // The filter spreads the response beyond the mask.
    mask_object(imc, mask_ptr, gptr, roi);

    get_centremax(gptr, roi_width, roi_height, BLOB_PERCENT, p.x1, p.y1);
    p.x1 += static_cast<int>(roi[0]);
    p.y1 += static_cast<int>(roi[2]);
    return 0;
}

}  // namespace

bool draw_loop_mask(const IMAGE& imc, const SHAPE_PARAMS& shape, std::span<unsigned char> mask,
                    unsigned int& loop_width) {
    std::fill(mask.begin(), mask.end(), 0);
    const std::size_t rows =
        std::min<std::size_t>({shape.num_coord_left, shape.x_coord_left.size(),
                               shape.y_coord_left.size(), shape.x_coord_right.size()});
    loop_width = 0;
    std::size_t k = 0;
    for (; k < rows; ++k) {
        const unsigned int y = shape.y_coord_left[k];
        if (y > shape.box_b) break;
        const unsigned int xl = shape.x_coord_left[k];
        const unsigned int xr = shape.x_coord_right[k];
        if (y < imc.height && (y + 1ul) * imc.width <= mask.size()) {
            unsigned char* row = mask.data() + static_cast<std::size_t>(y) * imc.width;
            for (unsigned int x = xl; x < std::min(xr, imc.width); ++x) row[x] = 1;
        }
        loop_width += xr - xl;
    }
    if (k == 0) return false;
    loop_width /= static_cast<unsigned int>(k);
    return true;
}

ErosionDepths erosion_depths(unsigned int loop_width, unsigned int box_height) {
    const unsigned int min_mask_size = std::min(loop_width, box_height);
    const unsigned int i = min_mask_size / 4;
    ErosionDepths depths;
    depths.line = i > 1 ? static_cast<int>((2 * i) / 3) : 0;
    depths.blob = static_cast<int>(i);
    return depths;
}

int algo_1(int numimg, std::span<const int> width_flag, const IMAGE& imc,
           const std::vector<ByteBuffer>& image_ptr, std::span<const SHAPE_PARAMS> shapes,
           std::span<int> x1, std::span<int> y1, std::span<int> x2, std::span<int> y2,
           std::FILE* /*logfile*/) {
    const std::size_t S = static_cast<std::size_t>(imc.width) * imc.height;
    const std::size_t count = std::min<std::size_t>(
        {static_cast<std::size_t>(std::max(numimg, 0)), width_flag.size(), image_ptr.size(),
         shapes.size(), x1.size(), y1.size(), x2.size(), y2.size()});
    const int n = static_cast<int>(count);
    std::vector<CentringWork> work(static_cast<std::size_t>(map_slots(n)));
    if (S > 0)
        for (CentringWork& w : work) w.mask = ucvector(static_cast<long>(S));
    // The threads compute each kernel spectrum once between them.
    for (CentringWork& w : work) w.spectra.share_kept_with(work.front().spectra);
    std::fprintf(stderr, "\n Centring Images:  ");

    // Each image's positions are handed on in image order, so a failing filter
    // leaves the later images as the caller set them.
    std::vector<Positions> found(count);
    auto centre = [&](int q, int slot) {
        found[q] = {x1[q], y1[q], x2[q], y2[q]};
        return centre_one_image(imc, image_ptr[q], shapes[q], width_flag[q] != 0, q, work[slot],
                                found[q]);
    };
    auto hand_on = [&](int q) {
        x1[q] = found[q].x1;
        y1[q] = found[q].y1;
        x2[q] = found[q].x2;
        y2[q] = found[q].y2;
        return 0;
    };
    return map_images(n, centre, hand_on);
}

}  // namespace orva
