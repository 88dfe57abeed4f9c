// Line weights of the window of interest, handed to the Hough search.
//
// Method: the grey window is inverted (dark crystal edges become bright),
// blurred 3x3, turned into a ridge response over 3 scales, cleared outside the
// line mask and thresholded at the smaller of the 90th percentile of its
// non-zero values and a quarter of its maximum; the surviving responses v get
// the weight ln(v) * 255 / ln(255) (255 stays 255, 1 becomes 0).
// Conventions: window pixel (x, y) is image pixel (roi[0] + x, roi[2] + y).
// Status: the feature-map status; 0 with (-1, -1) for a window narrower or
// lower than 16 pixels, a window reaching outside the image, or a grey
// buffer shorter than the window.
#include "crystal/line_detection.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "loop/feature_maps.h"
#include "toolkit/arrays.h"
#include "toolkit/vector_clones.h"

namespace orva {
namespace {

constexpr unsigned int MIN_WINDOW = 16;  // smaller windows hold no usable line pair
constexpr int RIDGE_MODE = 0;
constexpr int RIDGE_LEVELS = 3;
constexpr double NONZERO_QUANTILE = 0.9;
constexpr double MAX_SHARE = 0.25;

// Threshold of the masked ridge response: the smaller of the 90th percentile
// of its non-zero values and a quarter of its maximum. Ranks are read from a
// histogram, which gives the same values as an ascending sort of the bytes.
double weight_threshold(std::span<const unsigned char> lptr) {
    const unsigned long N = lptr.size();
    unsigned long counts[256] = {};
    for (unsigned char v : lptr) ++counts[v];
    // Value at position rank of the ascending order.
    auto sorted = [&counts](unsigned long rank) {
        unsigned long below = 0;
        for (int v = 0; v < 256; ++v) {
            below += counts[v];
            if (rank < below) return static_cast<double>(v);
        }
        return 255.0;
    };
    const unsigned long p = counts[0];  // first non-zero position
    const auto M = static_cast<unsigned long>(std::floor((N - p) * NONZERO_QUANTILE));
    const double thresh1 = sorted(p + M - 1);
    const double thresh2 = MAX_SHARE * sorted(N - 1);
    return std::min(thresh1, thresh2);
}

}  // namespace

int blurring(const IMAGE& im, std::span<const unsigned char> bptr, std::span<unsigned char> optr) {
    const std::size_t width = im.width;
    const std::size_t height = im.height;
    const std::size_t n = width * height;
    if (bptr.size() < n || optr.size() < n) return 0;
    std::copy_n(bptr.begin(), n, optr.begin());
    if (width < 3 || height < 3) return 0;
    for (std::size_t y = 1; y + 1 < height; ++y) {
        const unsigned char* up = bptr.data() + (y - 1) * width;
        const unsigned char* mid = up + width;
        const unsigned char* down = mid + width;
        unsigned char* out = optr.data() + y * width;
        for (std::size_t x = 1; x + 1 < width; ++x) {
            const int sum = 2 * mid[x] + up[x - 1] + up[x] + up[x + 1] + mid[x - 1] + mid[x + 1] +
                            down[x - 1] + down[x] + down[x + 1];
            out[x] = static_cast<unsigned char>((sum + 5) / 10);
        }
    }
    return 0;
}

namespace {

// Clears the values of a row where the mask is 0, in a loop without branches.
ORVA_VECTOR_CLONES
void keep_masked_row(const unsigned char* __restrict mask, unsigned char* __restrict row,
                     std::size_t n) {
    for (std::size_t x = 0; x < n; ++x) row[x] = mask[x] != 0 ? row[x] : 0;
}

}  // namespace

int get_lines2(const IMAGE& im, std::span<const unsigned char> mask,
               std::span<const unsigned char> bptr, std::span<const unsigned int, 4> roi, int& x2,
               int& y2) {
    LineWork work;
    return get_lines2(im, mask, bptr, roi, x2, y2, work);
}

int get_lines2(const IMAGE& im, std::span<const unsigned char> mask,
               std::span<const unsigned char> bptr, std::span<const unsigned int, 4> roi, int& x2,
               int& y2, LineWork& work) {
    x2 = -1;
    y2 = -1;
    if (roi[1] < roi[0] || roi[3] < roi[2]) return 0;
    const unsigned int W = roi[1] - roi[0];
    const unsigned int H = roi[3] - roi[2];
    if (W < MIN_WINDOW || H < MIN_WINDOW) return 0;
    if (roi[1] > im.width || roi[3] > im.height) return 0;
    IMAGE window;
    window.width = W;
    window.height = H;
    window.size = static_cast<unsigned long>(W) * H;
    const std::size_t N = window.size;
    if (bptr.size() < N) return 0;

    // Inverted and blurred window, then its ridge response (every value of
    // both buffers is written before it is read).
    std::vector<unsigned char>& lptr = work.inverted;
    std::vector<unsigned char>& iptr = work.blurred;
    lptr.resize(N);
    iptr.resize(N);
    for (std::size_t p = 0; p < N; ++p) lptr[p] = static_cast<unsigned char>(255 - bptr[p]);
    blurring(window, lptr, iptr);
    const int status = get_feature(window, iptr, lptr, RIDGE_MODE, RIDGE_LEVELS, 0, work.feature);

    // Only the line mask counts; a short mask buffer counts as unset.
    const std::size_t image_width = im.width;
    for (std::size_t y = 0; y < H; ++y) {
        const std::size_t first = (roi[2] + y) * image_width + roi[0];
        unsigned char* row = lptr.data() + y * W;
        if (first + W <= mask.size())
            keep_masked_row(mask.data() + first, row, W);
        else
            for (std::size_t x = 0; x < W; ++x)
                if (first + x >= mask.size() || mask[first + x] == 0) row[x] = 0;
    }

    // Weights, by byte value; with an all-zero response every weight is
    // ln 0 = -inf, which never votes.
    const double thresh = weight_threshold(lptr);
    const double weight_scale = 255.0 / std::log(255.0);
    std::array<float, 256> weight_of{};
    for (int v = 0; v < 256; ++v)
        weight_of[v] =
            v < thresh ? 0.0f : static_cast<float>(std::log(static_cast<double>(v)) * weight_scale);
    std::vector<float>& pptr = work.weights;
    pptr.resize(N);
    for (std::size_t p = 0; p < N; ++p) pptr[p] = weight_of[lptr[p]];

    hough_lines(pptr, window, x2, y2, work.hough);
    return status;
}

}  // namespace orva
