// Good-feature selection for the corner detector.
//
// Method: the 8-bit region is converted to float, smoothed with a Gaussian and
// differentiated with separable Gaussian-derivative kernels (single precision,
// true convolution, the outer kernel radius of each pass left at 0). For every
// candidate pixel on a grid inside the border the smaller eigenvalue of the
// window's gradient structure matrix is its value; candidates are sorted by
// value, largest first, and taken greedily while no earlier feature lies within
// the occupied square around them.
// Conventions: x column, y row; features hold float positions and int values.
// Degenerate input (empty or short buffer, region inside the border) leaves
// every slot unfilled (x = y = -1, val = -1).
#include "crystal/feature_selection.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <utility>

#include "toolkit/vector_clones.h"

namespace orva {
namespace {

constexpr int MAX_KERNEL_WIDTH = 71;
constexpr float kTailFactor = 0.01f;  // taps below this share of the peak are trimmed

struct ConvolutionKernel {
    int width = 0;
    std::array<float, MAX_KERNEL_WIDTH> data{};
};

// Gaussian g and derivative d = -i g for one sigma, trimmed at the tails and
// normalised (g to sum 1, d to unit response on a ramp). False when the sigma
// needs every tap.
bool compute_kernels(float sigma, ConvolutionKernel& gauss, ConvolutionKernel& gaussderiv) {
    const int hw = MAX_KERNEL_WIDTH / 2;
    const float max_gauss = 1.0f;
    const float max_gaussderiv = static_cast<float>(sigma * std::exp(static_cast<double>(-0.5f)));
    const float two_sigma2 = 2 * sigma * sigma;
    for (int i = -hw; i <= hw; ++i) {
        gauss.data[i + hw] = static_cast<float>(
            std::exp(static_cast<double>(static_cast<float>(-i * i) / two_sigma2)));
        gaussderiv.data[i + hw] = static_cast<float>(-i) * gauss.data[i + hw];
    }

    // Trim symmetrically from the outside. The derivative keeps at least three
    // taps: its centre tap is 0, so a very small sigma would trim it away.
    gauss.width = MAX_KERNEL_WIDTH;
    for (int i = -hw; gauss.width > 1 && std::fabs(gauss.data[i + hw] / max_gauss) < kTailFactor;
         ++i)
        gauss.width -= 2;
    gaussderiv.width = MAX_KERNEL_WIDTH;
    for (int i = -hw;
         gaussderiv.width > 3 && std::fabs(gaussderiv.data[i + hw] / max_gaussderiv) < kTailFactor;
         ++i)
        gaussderiv.width -= 2;
    if (gauss.width == MAX_KERNEL_WIDTH || gaussderiv.width == MAX_KERNEL_WIDTH) {
        std::fprintf(stderr,
                     "(_computeKernels) MAX_KERNEL_WIDTH %d is too small for a sigma of %f\n",
                     MAX_KERNEL_WIDTH, static_cast<double>(sigma));
        return false;
    }

    for (int i = 0; i < gauss.width; ++i)
        gauss.data[i] = gauss.data[i + (MAX_KERNEL_WIDTH - gauss.width) / 2];
    for (int i = 0; i < gaussderiv.width; ++i)
        gaussderiv.data[i] = gaussderiv.data[i + (MAX_KERNEL_WIDTH - gaussderiv.width) / 2];

    float den = 0.0f;
    for (int i = 0; i < gauss.width; ++i) den += gauss.data[i];
    for (int i = 0; i < gauss.width; ++i) gauss.data[i] /= den;
    const int dhw = gaussderiv.width / 2;
    den = 0.0f;
    for (int i = -dhw; i <= dhw; ++i) den -= static_cast<float>(i) * gaussderiv.data[i + dhw];
    for (int i = -dhw; i <= dhw; ++i) gaussderiv.data[i + dhw] /= den;
    return true;
}

// Width of the trimmed Gaussian for sigma (MAX_KERNEL_WIDTH when too wide).
int gauss_kernel_width(float sigma) {
    ConvolutionKernel gauss;
    ConvolutionKernel gaussderiv;
    if (!compute_kernels(sigma, gauss, gaussderiv)) return MAX_KERNEL_WIDTH;
    return gauss.width;
}

// Horizontal pass; the kernel is applied mirrored (a convolution, which fixes
// the sign of the derivative). Columns within the radius of an edge stay 0.
// Each pixel sums its taps from 0 in the same order as a pixel-by-pixel walk,
// but a whole row takes one tap at a time.
ORVA_VECTOR_CLONES
void convolve_horiz(const std::vector<float>& in, int ncols, int nrows,
                    const ConvolutionKernel& kernel, std::vector<float>& out) {
    const int radius = kernel.width / 2;
    const int last = kernel.width - 1;
    for (long j = 0; j < nrows; ++j) {
        const float* row = in.data() + j * ncols;
        float* dst = out.data() + j * ncols;
        if (ncols <= 2 * radius) {
            std::fill_n(dst, ncols, 0.0f);
            continue;
        }
        std::fill_n(dst, radius, 0.0f);
        std::fill_n(dst + ncols - radius, radius, 0.0f);
        // The first tap is added to 0 as written, the others to the sum so far.
        for (int i = radius; i < ncols - radius; ++i)
            dst[i] = 0.0f + row[i + (0 - radius)] * kernel.data[last];
        for (int k = last - 1; k >= 0; --k) {
            const int shift = last - k - radius;  // pixel i takes i + shift
            const float tap = kernel.data[k];
            for (int i = radius; i < ncols - radius; ++i) dst[i] += row[i + shift] * tap;
        }
    }
}

// Vertical pass, accumulated a row at a time; each pixel sums the same taps
// in the same order as a column-by-column walk.
ORVA_VECTOR_CLONES
void convolve_vert(const std::vector<float>& in, int ncols, int nrows,
                   const ConvolutionKernel& kernel, std::vector<float>& out) {
    const int radius = kernel.width / 2;
    const int last = kernel.width - 1;
    // Rows within the radius of the top and bottom stay 0.
    if (nrows <= 2 * radius) {
        std::fill(out.begin(), out.end(), 0.0f);
        return;
    }
    std::fill_n(out.begin(), static_cast<long>(radius) * ncols, 0.0f);
    std::fill_n(out.begin() + (static_cast<long>(nrows) - radius) * ncols,
                static_cast<long>(radius) * ncols, 0.0f);
    for (long j = radius; j < nrows - radius; ++j) {
        float* dst = out.data() + j * ncols;
        // The first tap is added to 0 as written, the others to the sum so far.
        const float* first = in.data() + (j - radius) * ncols;
        for (int i = 0; i < ncols; ++i) dst[i] = 0.0f + first[i] * kernel.data[last];
        for (int k = last - 1; k >= 0; --k) {
            const float* src = in.data() + (j - radius + (last - k)) * ncols;
            const float tap = kernel.data[k];
            for (int i = 0; i < ncols; ++i) dst[i] += src[i] * tap;
        }
    }
}

void convolve_separate(const std::vector<float>& in, int ncols, int nrows,
                       const ConvolutionKernel& horiz, const ConvolutionKernel& vert,
                       std::vector<float>& tmp, std::vector<float>& out) {
    convolve_horiz(in, ncols, nrows, horiz, tmp);
    convolve_vert(tmp, ncols, nrows, vert, out);
}

float min_eigenvalue(float gxx, float gxy, float gyy) {
    return static_cast<float>(
        (gxx + gyy - std::sqrt(static_cast<double>((gxx - gyy) * (gxx - gyy) + 4 * gxy * gxy))) /
        2.0f);
}

// Raises an even or too small window to the next valid size, with a warning.
void check_windows(KLT_TrackingContext& tc, const char* caller) {
    if (tc.window_width % 2 != 1) {
        tc.window_width = tc.window_width + 1;
        std::fprintf(stderr, "(%s) Window width must be odd.  Changing to %d.\n", caller,
                     tc.window_width);
    }
    if (tc.window_height % 2 != 1) {
        tc.window_height = tc.window_height + 1;
        std::fprintf(stderr, "(%s) Window height must be odd.  Changing to %d.\n", caller,
                     tc.window_height);
    }
    if (tc.window_width < 3) {
        tc.window_width = 3;
        std::fprintf(stderr, "(%s) Window width must be at least three.  \nChanging to %d.\n",
                     caller, tc.window_width);
    }
    if (tc.window_height < 3) {
        tc.window_height = 3;
        std::fprintf(stderr, "(%s) Window height must be at least three.  \nChanging to %d.\n",
                     caller, tc.window_height);
    }
}

// Pyramid depth needed to cover the search range with the window.
void change_pyramid(KLT_TrackingContext& tc, int search_range) {
    check_windows(tc, "KLTChangeTCPyramid");
    const double window_halfwidth = std::min(tc.window_width, tc.window_height) / 2.0;
    const double val = search_range / window_halfwidth;
    if (val < 1.0) {
        tc.nPyramidLevels = 1;
    } else if (val <= 3.0) {
        tc.nPyramidLevels = 2;
        tc.subsampling = 2;
    } else if (val <= 5.0) {
        tc.nPyramidLevels = 2;
        tc.subsampling = 4;
    } else if (val <= 9.0) {
        tc.nPyramidLevels = 2;
        tc.subsampling = 8;
    } else {
        tc.nPyramidLevels = static_cast<int>(std::log(7 * val + 1) / std::log(8.0) + 0.99);
        tc.subsampling = 8;
    }
}

// Border of pixels spoilt by smoothing and the pyramid, in full-size pixels.
void update_border(KLT_TrackingContext& tc) {
    check_windows(tc, "KLTUpdateTCBorder");
    const int window_hw = std::max(tc.window_width, tc.window_height) / 2;
    const int smooth_hw =
        gauss_kernel_width(tc.smooth_sigma_fact *
                           static_cast<float>(std::max(tc.window_width, tc.window_height))) /
        2;
    const int pyramid_hw =
        gauss_kernel_width(tc.pyramid_sigma_fact * static_cast<float>(tc.subsampling)) / 2;
    int n_invalid = smooth_hw;
    int ss_power = 1;
    for (int level = 1; level < tc.nPyramidLevels; ++level) {
        n_invalid =
            static_cast<int>(static_cast<double>(n_invalid + pyramid_hw) / tc.subsampling + 0.99);
        ss_power *= tc.subsampling;
    }
    tc.borderx = (window_hw + n_invalid) * ss_power;
    tc.bordery = tc.borderx;
}

// Adds the values at p[0], p[step], ... p[(count - 1) * step] to sum[0 ..
// count - 1]; a constant step lets the compiler add several at once.
template <int Step>
[[gnu::always_inline]] inline void add_strided(float* __restrict sum, const float* __restrict p,
                                               int count, int step) {
    const std::size_t stride = Step > 0 ? Step : static_cast<std::size_t>(step);
    for (int c = 0; c < count; ++c) sum[c] += p[static_cast<std::size_t>(c) * stride];
}

// Window sums of the gradient products for `count` candidates of one row,
// at columns x0, x0 + step, ...: rows top .. bottom, columns -hw .. hw
// around each. Every candidate adds its window's values in the same order as
// a walk over that window alone (row by row, left to right); the candidates
// of the row run side by side. Inlined into each instruction-set copy of
// window_sums.
template <int Step>
[[gnu::always_inline]] inline void window_sums_step(SelectionWork& work, int ncols, int x0,
                                                    int step, int count, int top, int bottom,
                                                    int hw) {
    float* sxx = work.sum_xx.data();
    float* sxy = work.sum_xy.data();
    float* syy = work.sum_yy.data();
    for (int yy = top; yy <= bottom; ++yy) {
        const std::size_t base = static_cast<std::size_t>(yy) * ncols + x0;
        for (int dx = -hw; dx <= hw; ++dx) {
            add_strided<Step>(sxx, work.gxx.data() + base + dx, count, step);
            add_strided<Step>(sxy, work.gxy.data() + base + dx, count, step);
            add_strided<Step>(syy, work.gyy.data() + base + dx, count, step);
        }
    }
}

ORVA_VECTOR_CLONES
void window_sums(SelectionWork& work, int ncols, int x0, int step, int count, int top, int bottom,
                 int hw) {
    work.sum_xx.assign(static_cast<std::size_t>(count), 0.0f);
    work.sum_xy.assign(static_cast<std::size_t>(count), 0.0f);
    work.sum_yy.assign(static_cast<std::size_t>(count), 0.0f);
    switch (step) {
        case 1:
            window_sums_step<1>(work, ncols, x0, step, count, top, bottom, hw);
            break;
        case 2:
            window_sums_step<2>(work, ncols, x0, step, count, top, bottom, hw);
            break;
        case 3:
            window_sums_step<3>(work, ncols, x0, step, count, top, bottom, hw);
            break;
        default:
            window_sums_step<0>(work, ncols, x0, step, count, top, bottom, hw);
            break;
    }
}

// Values of the candidate grid, row by row.
ORVA_VECTOR_CLONES
void collect_candidates(const KLT_TrackingContext& tc, int ncols, int nrows, SelectionWork& work) {
    const int window_hw = tc.window_width / 2;
    const int window_hh = tc.window_height / 2;
    const int bx = std::max(tc.borderx, window_hw);
    const int by = std::max(tc.bordery, window_hh);
    const int step = tc.nSkippedPixels + 1;
    const int x_end = ncols - bx;  // candidates at bx, bx + step, ... below x_end

    // Products of the gradients, formed once per pixel; the window sums then add
    // exactly the values a per-window product would give.
    const std::size_t npix = static_cast<std::size_t>(ncols) * static_cast<std::size_t>(nrows);
    work.gxx.resize(npix);
    work.gxy.resize(npix);
    work.gyy.resize(npix);
    for (std::size_t k = 0; k < npix; ++k) {
        const float gx = work.gradx[k];
        const float gy = work.grady[k];
        work.gxx[k] = gx * gx;
        work.gxy[k] = gx * gy;
        work.gyy[k] = gy * gy;
    }

    work.candidates.clear();
    std::vector<float>& sxx = work.sum_xx;
    std::vector<float>& sxy = work.sum_xy;
    std::vector<float>& syy = work.sum_yy;
    for (int y = by; y < nrows - by; y += step) {
        const int count = x_end > bx ? (x_end - bx + step - 1) / step : 0;
        window_sums(work, ncols, bx, step, count, y - window_hh, y + window_hh, window_hw);
        for (int c = 0; c < count; ++c) {
            float val = min_eigenvalue(sxx[c], sxy[c], syy[c]);
            // Keep the value within an int (and a failed value at 0).
            if (std::isnan(val)) val = 0.0f;
            if (!(val < static_cast<float>(INT_MAX))) val = static_cast<float>(INT_MAX) - 128.0f;
            work.candidates.push_back({bx + c * step, y, static_cast<int>(val)});
        }
    }
}

void mark_all_unfilled(KLT_FeatureList& featurelist) {
    for (KLT_Feature& f : featurelist) f = KLT_Feature{};
}

}  // namespace

KLT_TrackingContext KLTCreateTrackingContext(int size, int imx, int roi_width) {
    KLT_TrackingContext tc;
    if (roi_width == imx && imx < 200) {
        const int m = imx / 20;
        tc.mindist = std::max(3, m);
        tc.window_width = m > 2 ? (m | 1) : 3;
        tc.grad_sigma = static_cast<float>(std::max(0.25, roi_width / 90.0));
        tc.search_range = tc.mindist + 1;
    } else {
        const int m = roi_width < imx ? roi_width / 20 : 11;
        tc.mindist = std::clamp(m, 5, 25);
        tc.window_width = std::clamp(m | 1, 5, 21);
        tc.grad_sigma = static_cast<float>(tc.window_width / 11.0);
        tc.search_range = 15;
    }
    tc.window_height = tc.window_width;
    tc.smoothBeforeSelecting = true;
    tc.writeInternalImages = false;
    tc.min_eigenvalue = 5;
    tc.smooth_sigma_fact = 0.1f;
    tc.pyramid_sigma_fact = 0.9f;
    tc.nSkippedPixels = static_cast<int>(std::floor(std::max(1.0, 3.0 * size / 350 - 2)));
    change_pyramid(tc, tc.search_range);
    update_border(tc);
    return tc;
}

KLT_FeatureList KLTCreateFeatureList(int n) {
    return KLT_FeatureList(static_cast<std::size_t>(std::max(n, 0)));
}

namespace {

// One partition step of the quicksort: the middle element as pivot, moved to
// its final place j, values >= pivot before it and <= pivot after it.
std::size_t partition(KLT_Candidate* base, std::size_t n) {
    std::swap(base[0], base[n / 2]);
    const int pivot = base[0].val;
    std::size_t i = 0;
    std::size_t j = n;
    for (;;) {
        do --j;
        while (base[j].val < pivot);
        do ++i;
        while (i < j && base[i].val > pivot);
        if (i >= j) break;
        std::swap(base[i], base[j]);
    }
    std::swap(base[j], base[0]);
    return j;
}

}  // namespace

void sort_candidates(std::span<KLT_Candidate> list) {
    KLT_Candidate* base = list.data();
    std::size_t n = list.size();
    while (n > 1) {
        const std::size_t j = partition(base, n);
        // Recurse into the smaller part and loop on the larger one.
        const std::size_t ln = j;
        const std::size_t rn = n - (j + 1);
        if (ln < rn) {
            sort_candidates({base, ln});
            base += j + 1;
            n = rn;
        } else {
            sort_candidates({base + j + 1, rn});
            n = ln;
        }
    }
}

SortedPrefix::SortedPrefix(std::span<KLT_Candidate> list) : list_(list) {
    if (!list.empty()) pending_.push_back({0, list.size()});
}

// The parts of the quicksort never overlap, so sorting them in any order
// leaves every element where sort_candidates puts it; here the leftmost part
// is always split first, until the wanted place is final.
const KLT_Candidate* SortedPrefix::at(std::size_t k) {
    if (k >= list_.size()) return nullptr;
    while (ready_ <= k) {
        const auto [begin, end] = pending_.back();
        pending_.pop_back();
        if (end - begin <= 1) {
            ready_ = end;
            continue;
        }
        const std::size_t j = begin + partition(list_.data() + begin, end - begin);
        if (j + 1 < end) pending_.push_back({j + 1, end});
        pending_.push_back({j, j + 1});
        if (begin < j) pending_.push_back({begin, j});
    }
    return &list_[k];
}

namespace {

// Walks the candidates, candidate(k) giving the k-th (null past the end),
// until every slot is filled.
template <class Candidate>
void fill_features(Candidate candidate, KLT_FeatureList& featurelist, int ncols, int nrows,
                   int mindist, int min_eigenvalue, std::vector<unsigned char>& featuremap) {
    if (min_eigenvalue < 1) min_eigenvalue = 1;
    mark_all_unfilled(featurelist);
    if (ncols < 1 || nrows < 1) return;
    featuremap.assign(static_cast<std::size_t>(ncols) * static_cast<std::size_t>(nrows), 0);
    const int half = mindist - 1;  // half side of the occupied square

    std::size_t indx = 0;
    for (std::size_t k = 0; indx < featurelist.size(); ++k) {
        const KLT_Candidate* next = candidate(k);
        if (next == nullptr) break;
        const KLT_Candidate& c = *next;
        if (c.x < 0 || c.x >= ncols || c.y < 0 || c.y >= nrows) continue;
        if (featuremap[static_cast<std::size_t>(c.y) * ncols + c.x] || c.val < min_eigenvalue)
            continue;
        KLT_Feature& f = featurelist[indx++];
        f = KLT_Feature{};
        f.x = static_cast<float>(c.x);
        f.y = static_cast<float>(c.y);
        f.val = c.val;
        const int y0 = std::max(c.y - half, 0);
        const int y1 = std::min(c.y + half, nrows - 1);
        const int x0 = std::max(c.x - half, 0);
        const int x1 = std::min(c.x + half, ncols - 1);
        for (int iy = y0; iy <= y1; ++iy)
            for (int ix = x0; ix <= x1; ++ix)
                featuremap[static_cast<std::size_t>(iy) * ncols + ix] = 1;
    }
}

}  // namespace

void enforce_minimum_distance(std::span<const KLT_Candidate> list, KLT_FeatureList& featurelist,
                              int ncols, int nrows, int mindist, int min_eigenvalue) {
    std::vector<unsigned char> featuremap;
    fill_features([list](std::size_t k) { return k < list.size() ? &list[k] : nullptr; },
                  featurelist, ncols, nrows, mindist, min_eigenvalue, featuremap);
}

ORVA_VECTOR_CLONES
void KLTSelectGoodFeatures(const KLT_TrackingContext& tc, std::span<const unsigned char> image,
                           int ncols, int nrows, KLT_FeatureList& featurelist,
                           SelectionWork& work) {
    mark_all_unfilled(featurelist);
    if (ncols < 1 || nrows < 1 ||
        image.size() < static_cast<std::size_t>(ncols) * static_cast<std::size_t>(nrows))
        return;
    const std::size_t npix = static_cast<std::size_t>(ncols) * static_cast<std::size_t>(nrows);

    ConvolutionKernel gauss;
    ConvolutionKernel gaussderiv;
    work.floatimg.resize(npix);
    work.tmp.resize(npix);
    work.smooth.resize(npix);
    work.gradx.resize(npix);
    work.grady.resize(npix);
    for (std::size_t k = 0; k < npix; ++k) work.floatimg[k] = static_cast<float>(image[k]);

    const std::vector<float>* source = &work.floatimg;
    if (tc.smoothBeforeSelecting) {
        const float sigma =
            tc.smooth_sigma_fact * static_cast<float>(std::max(tc.window_width, tc.window_height));
        if (!compute_kernels(sigma, gauss, gaussderiv)) return;
        convolve_separate(work.floatimg, ncols, nrows, gauss, gauss, work.tmp, work.smooth);
        source = &work.smooth;
    }
    if (!compute_kernels(tc.grad_sigma, gauss, gaussderiv)) return;
    convolve_separate(*source, ncols, nrows, gaussderiv, gauss, work.tmp, work.gradx);
    convolve_separate(*source, ncols, nrows, gauss, gaussderiv, work.tmp, work.grady);

    collect_candidates(tc, ncols, nrows, work);
    // Only as much of the list is sorted as the walk reaches; it ends at the
    // first value below the floor, as all later ones are lower still.
    SortedPrefix sorted(work.candidates);
    const int floor = std::max(tc.min_eigenvalue, 1);
    fill_features(
        [&sorted, floor](std::size_t k) {
            const KLT_Candidate* c = sorted.at(k);
            return c != nullptr && c->val >= floor ? c : nullptr;
        },
        featurelist, ncols, nrows, tc.mindist, tc.min_eigenvalue, work.featuremap);
}

void KLTSelectGoodFeatures(const KLT_TrackingContext& tc, std::span<const unsigned char> image,
                           int ncols, int nrows, KLT_FeatureList& featurelist) {
    SelectionWork work;
    KLTSelectGoodFeatures(tc, image, ncols, nrows, featurelist, work);
}

}  // namespace orva
