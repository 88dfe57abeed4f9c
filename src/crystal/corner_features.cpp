// Corner-cluster position of a crystal inside the loop box.
//
// Method: twodf selects good corner features in a grey region (tracking-context
// defaults from the region size), builds their density map, and returns the
// centroid of the largest cluster above THRESHOLD, or the density peak when no
// cluster is labelled. twodf_all cuts each image's loop box, extended downwards
// by a tenth of its height, and skips boxes that are too small or narrow and
// tall (a pin rather than a loop).
// Conventions: region coordinates from twodf, canonical-image pixels from
// twodf_all (x column, y row), rounded half up; (0, 0) means nothing found.
// Status: twodf 0, 11 density buffers not allocated, 12 no feature density;
// twodf_all 0, 23 region buffer not allocated, or the last failing twodf code.
// A loop box outside the image, or an image buffer shorter than the image,
// gives (0, 0) with a message.
#include "crystal/corner_features.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "crystal/corner_clusters.h"
#include "crystal/feature_selection.h"
#include "parallel/image_map.h"

namespace orva {
namespace {

// Minimum region sides; narrower than kPinWidth and more than twice as high
// as wide is taken for a pin.
constexpr long kMinSide = 10;
constexpr long kPinWidth = 35;
constexpr int kNoRegionBuffer = 23;  // twodf_all status; twodf's own codes are 11 and 12

// Buffers of one detection, reused from region to region.
struct CornerWork {
    SelectionWork selection;
    std::vector<double> density;
    std::vector<int> bimage;
    ByteBuffer region;
};

int twodf_with(std::span<const unsigned char> img1, int imx, int imy, int q,
               std::span<double> twodf_x, std::span<double> twodf_y, int roi_width,
               CornerWork& work) {
    if (q < 0 || static_cast<std::size_t>(q) >= twodf_x.size() ||
        static_cast<std::size_t>(q) >= twodf_y.size())
        return 12;
    twodf_x[q] = 0.0;
    twodf_y[q] = 0.0;
    if (imx < 1 || imy < 1) return 12;
    const std::size_t npix = static_cast<std::size_t>(imx) * static_cast<std::size_t>(imy);
    if (img1.size() < npix) return 12;

    const int nfeatures = twodf_feature_slots(imx, roi_width);
    const KLT_TrackingContext tc = KLTCreateTrackingContext(std::max(imx, imy), imx, roi_width);
    KLT_FeatureList features = KLTCreateFeatureList(nfeatures);
    KLTSelectGoodFeatures(tc, img1, imx, imy, features, work.selection);

    int status = 0;
    try {
        work.density.resize(npix);
    } catch (const std::bad_alloc&) {
        status = 11;
    }
    if (status == 0) status = add_feature_density(features, tc.mindist, imx, imy, work.density);
    if (status == 11) {
        std::printf("Memory for parzen image OR Gaussian is not allocated.");
        return 11;
    }
    if (status != 0) return status;

    int peak_x = 0;
    int peak_y = 0;
    double peak = 0.0;
    if (!density_peak(work.density, imx, imy, peak_x, peak_y, peak)) return 12;
    twodf_x[q] = peak_x;
    twodf_y[q] = peak_y;

    try {
        work.bimage.resize(npix);
    } catch (const std::bad_alloc&) {
        std::printf("error in allocating memory in edf for bimage. ");
        return 0;
    }
    threshold_density(work.density, peak, imx, imy, work.bimage);
    if (label_clusters(work.bimage, imx, imy) == 0) return 0;
    double cx = 0.0;
    double cy = 0.0;
    if (largest_cluster_centroid(work.bimage, imx, imy, cx, cy)) {
        twodf_x[q] = cx;
        twodf_y[q] = cy;
    }
    return 0;
}

// The region of one image: columns box_l .. box_r - 1, rows box_t .. bottom - 1.
struct Region {
    long left = 0, top = 0, width = 0, height = 0;
};

bool region_of(const SHAPE_PARAMS& shape, const IMAGE& imc, Region& region) {
    if (imc.height < 1 || shape.box_t > shape.box_b || shape.box_l > shape.box_r ||
        shape.box_r > imc.width || shape.box_t >= imc.height)
        return false;
    const unsigned long long extended =
        shape.box_b + static_cast<unsigned long long>(shape.box_b - shape.box_t) / 10;
    const unsigned long long bottom = std::min<unsigned long long>(extended, imc.height - 1);
    region.left = shape.box_l;
    region.top = shape.box_t;
    region.width = static_cast<long>(shape.box_r) - shape.box_l;
    region.height = static_cast<long>(bottom) - shape.box_t;
    return true;
}

bool too_small(const Region& r) {
    return (r.width < kPinWidth && 2 * r.width < r.height) || r.width < kMinSide ||
           r.height < kMinSide;
}

}  // namespace

int twodf_feature_slots(int imx, int roi_width) {
    return (roi_width == imx && imx < MAXNUM_FEATURES) ? imx / 2 : MAXNUM_FEATURES;
}

int twodf(std::span<const unsigned char> img1, int imx, int imy, int q, std::span<double> twodf_x,
          std::span<double> twodf_y, int roi_width) {
    thread_local CornerWork work;  // callers run image after image: keep the buffers
    return twodf_with(img1, imx, imy, q, twodf_x, twodf_y, roi_width, work);
}

int twodf_all(int numimg, std::span<const int> width_flag, const IMAGE& imc,
              const std::vector<ByteBuffer>& image_ptr, std::span<const SHAPE_PARAMS> shapes,
              std::span<int> x2, std::span<int> y2, std::FILE*) {
    std::fprintf(stderr, "\n Refining Images:  ");
    const std::size_t available =
        std::min({width_flag.size(), image_ptr.size(), shapes.size(), x2.size(), y2.size()});
    std::size_t n = numimg > 0 ? static_cast<std::size_t>(numimg) : 0;
    if (n > available) {
        std::fprintf(stderr, "\n twodf_all: only %zu of %d images are given\n", available, numimg);
        n = available;
    }
    if (n == 0) return 0;

    std::vector<double> twodf_x(n);
    std::vector<double> twodf_y(n);
    const std::size_t image_bytes = static_cast<std::size_t>(imc.width) * imc.height;
    std::vector<CornerWork> work(static_cast<std::size_t>(map_slots(static_cast<int>(n))));
    // Each image's position and status are handed on in image order: the
    // status is the last failing one, and a missing region buffer stops there.
    std::vector<int> found_x(n, 0), found_y(n, 0), rc(n, 0);
    auto refine = [&](int q, int slot) {
        const SHAPE_PARAMS& shape = shapes[q];
        if (shape.type == NO_OBJECT || width_flag[q] == 0) return 0;
        std::fprintf(stderr, " %d", q);

        Region r;
        if (!region_of(shape, imc, r) || image_ptr[q].size() < image_bytes) {
            std::fprintf(stderr, "\n twodf_all: loop box of image %d lies outside the image\n", q);
            return 0;
        }
        CornerWork& w = work[slot];
        try {
            w.region.resize(static_cast<std::size_t>(r.width * r.height));
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "\n Cannot allocate roi_ptr[]\n");
            rc[q] = kNoRegionBuffer;
            return 0;
        }
        if (too_small(r)) return 0;
        for (long y = 0; y < r.height; ++y)
            std::copy_n(image_ptr[q].data() + (r.top + y) * imc.width + r.left, r.width,
                        w.region.data() + y * r.width);

        const int width = static_cast<int>(r.width);
        const int height = static_cast<int>(r.height);
        rc[q] = twodf_with(w.region, width, height, q, twodf_x, twodf_y, width, w);
        if (rc[q] != 0) return 0;
        found_x[q] = static_cast<int>(std::floor(static_cast<double>(r.left) + twodf_x[q] + 0.5));
        found_y[q] = static_cast<int>(std::floor(static_cast<double>(r.top) + twodf_y[q] + 0.5));
        return 0;
    };
    int status = 0;
    auto hand_on = [&](int q) {
        x2[q] = found_x[q];
        y2[q] = found_y[q];
        if (rc[q] == kNoRegionBuffer) return kNoRegionBuffer;
        if (rc[q] != 0) status = rc[q];
        return 0;
    };
    const int stopped = map_images(static_cast<int>(n), refine, hand_on);
    return stopped != 0 ? stopped : status;
}

}  // namespace orva
