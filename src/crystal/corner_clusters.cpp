// Density of corner features and its largest cluster.
//
// Method: feature values are put into (nFeatures + 2) / 4 bins (2..20) between
// the smallest and largest slot value; every feature above bin 0 adds a
// Gaussian of radius 6 * mindist (sigma 0.3 * radius) whose top-left tap lies
// at (u - r - 1, v - r - 1). The map is scaled to 255 at its first maximum and
// thresholded; labels are seeded at above-threshold pixels without a positive
// neighbour (other above-threshold pixels become pending) and grown into
// pending neighbours until nothing changes (a pass leaves out the rows that
// nothing around has changed since their last pass).
// Conventions: row-major maps, x column, y row; label values 1..255.
// Degenerate input: equal feature values give status 12; more than 255 seeds
// leave the extra seeds pending, so they can only join a labelled cluster.
#include "crystal/corner_clusters.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <new>
#include <vector>

#include "toolkit/vector_clones.h"

namespace orva {
namespace {

constexpr int kMinBins = 2;
constexpr int kMaxBins = 20;
constexpr int kFirstLabel = 255;
constexpr int kPending = -1;
constexpr int kSet = 255;  // above threshold, not yet seeded

// Offsets of the 8 neighbours.
constexpr std::array<int, 8> kDx = {-1, 0, 1, -1, 1, -1, 0, 1};
constexpr std::array<int, 8> kDy = {-1, -1, -1, 0, 0, 1, 1, 1};

// Rows and columns that hold above-threshold pixels (interior only).
struct Extent {
    int x0 = INT_MAX, x1 = -1, y0 = INT_MAX, y1 = -1;
    bool empty() const { return x1 < x0; }
};

Extent set_extent(std::span<const int> b, int imx, int imy) {
    Extent e;
    for (int y = 1; y < imy - 1; ++y)
        for (int x = 1; x < imx - 1; ++x)
            if (b[static_cast<std::size_t>(y) * imx + x] != 0) {
                e.x0 = std::min(e.x0, x);
                e.x1 = std::max(e.x1, x);
                e.y0 = std::min(e.y0, y);
                e.y1 = std::max(e.y1, y);
            }
    return e;
}

bool has_positive_neighbour(std::span<const int> b, std::size_t at, int imx) {
    for (int k = 0; k < 8; ++k)
        if (b[at + static_cast<long>(kDy[k]) * imx + kDx[k]] > 0) return true;
    return false;
}

// When each row last changed and when its last growing pass began, on one
// clock that ticks with every change.
struct RowClock {
    std::vector<long> changed, visited;
    long now = 0;
    explicit RowClock(int rows)
        : changed(static_cast<std::size_t>(rows), 0), visited(static_cast<std::size_t>(rows), -1) {}
    void change(int row) { changed[static_cast<std::size_t>(row)] = ++now; }
    // Whether rows y - 1 .. y + 1 changed since row y's last pass began. If not,
    // that pass changed nothing in the row and a new one would find the same
    // pixels: it is left out.
    bool stale(int y) const {
        const std::size_t r = static_cast<std::size_t>(y);
        return std::max({changed[r - 1], changed[r], changed[r + 1]}) > visited[r];
    }
};

// One growing pass; returns whether a pending pixel was converted.
bool grow_pass(std::span<int> b, int imx, const Extent& e, RowClock& clock) {
    bool converted = false;
    for (int y = e.y0; y <= e.y1; ++y) {
        if (!clock.stale(y)) continue;
        clock.visited[static_cast<std::size_t>(y)] = clock.now;
        for (int x = e.x0; x <= e.x1; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * imx + x;
            if (b[at] <= 0) continue;
            int label = b[at];
            for (int k = 0; k < 8; ++k)
                label = std::max(label, b[at + static_cast<long>(kDy[k]) * imx + kDx[k]]);
            if (label != b[at]) {
                b[at] = label;
                clock.change(y);
            }
            for (int k = 0; k < 8; ++k) {
                int& n = b[at + static_cast<long>(kDy[k]) * imx + kDx[k]];
                if (n == kPending) {
                    n = label;
                    converted = true;
                    clock.change(y + kDy[k]);
                }
            }
        }
    }
    return converted;
}

}  // namespace

int add_feature_density(const KLT_FeatureList& features, int mindist, int imx, int imy,
                        std::span<double> density) {
    if (features.empty() || imx < 1 || imy < 1) return 12;
    int vmin = features.front().val;
    int vmax = vmin;
    for (const KLT_Feature& f : features) {
        vmin = std::min(vmin, f.val);
        vmax = std::max(vmax, f.val);
    }
    // Binning needs a spread of values.
    if (vmax == vmin) return 12;

    const int nfeatures = static_cast<int>(features.size());
    const int bins = std::clamp((nfeatures + 2) / 4, kMinBins, kMaxBins);
    const double scale = static_cast<double>(bins - 1) / (static_cast<double>(vmax) - vmin);

    const int r = 6 * mindist;
    const int side = 2 * r + 1;
    const double sigma = 0.3 * r;
    // The images of a run share mindist: each thread keeps the last kernel.
    thread_local std::vector<double> kernel;
    thread_local int kernel_radius = -1;
    if (kernel_radius != r) {
        kernel_radius = -1;
        try {
            kernel.resize(static_cast<std::size_t>(side) * side);
        } catch (const std::bad_alloc&) {
            return 11;
        }
        for (int dy = -r; dy <= r; ++dy)
            for (int dx = -r; dx <= r; ++dx)
                kernel[static_cast<std::size_t>(dy + r) * side + (dx + r)] =
                    std::exp(-static_cast<double>(dx * dx + dy * dy) / (2 * sigma * sigma));
        kernel_radius = r;
    }

    std::fill(density.begin(), density.end(), 0.0);
    for (const KLT_Feature& f : features) {
        const double bin = std::floor((static_cast<double>(f.val) - vmin) * scale + 0.5);
        if (bin <= 0) continue;
        const int u = static_cast<int>(f.x);
        const int v = static_cast<int>(f.y);
        // The kernel's centre lands at (u - 1, v - 1).
        const int left = u - r - 1;
        const int top = v - r - 1;
        const int ky0 = std::max(0, -top);
        const int ky1 = std::min(side, imy - top);
        const int kx0 = std::max(0, -left);
        const int kx1 = std::min(side, imx - left);
        for (int ky = ky0; ky < ky1; ++ky) {
            double* row = density.data() + static_cast<std::size_t>(top + ky) * imx + left;
            const double* taps = kernel.data() + static_cast<std::size_t>(ky) * side;
            for (int kx = kx0; kx < kx1; ++kx) row[kx] += taps[kx];
        }
    }
    return 0;
}

bool density_peak(std::span<const double> density, int imx, int imy, int& peak_x, int& peak_y,
                  double& peak) {
    peak = -1.0;
    peak_x = 0;
    peak_y = 0;
    for (int y = 0; y < imy; ++y) {
        const double* row = density.data() + static_cast<std::size_t>(y) * imx;
        for (int x = 0; x < imx; ++x)
            if (row[x] > peak) {
                peak = row[x];
                peak_x = x;
                peak_y = y;
            }
    }
    return peak > 0;
}

ORVA_VECTOR_CLONES
void threshold_density(std::span<const double> density, double peak, int imx, int imy,
                       std::span<int> bimage) {
    const std::size_t npix = static_cast<std::size_t>(imx) * static_cast<std::size_t>(imy);
    for (std::size_t k = 0; k < npix; ++k)
        bimage[k] = 255 * density[k] / peak > THRESHOLD ? kSet : 0;
    for (int x = 0; x < imx; ++x) {
        bimage[x] = 0;
        bimage[static_cast<std::size_t>(imy - 1) * imx + x] = 0;
    }
    for (int y = 0; y < imy; ++y) {
        bimage[static_cast<std::size_t>(y) * imx] = 0;
        bimage[static_cast<std::size_t>(y) * imx + imx - 1] = 0;
    }
}

int label_clusters(std::span<int> b, int imx, int imy) {
    const Extent e = set_extent(b, imx, imy);
    if (e.empty()) return 0;

    int next = kFirstLabel;
    int nlabels = 0;
    for (int y = e.y0; y <= e.y1; ++y) {
        for (int x = e.x0; x <= e.x1; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * imx + x;
            if (b[at] != kSet) continue;
            if (!has_positive_neighbour(b, at, imx)) {
                // Labels stop at 1; a later seed waits as pending.
                if (next >= 1) {
                    b[at] = next--;
                    ++nlabels;
                } else {
                    b[at] = kPending;
                }
                continue;
            }
            b[at] = kPending;
            for (int k = 0; k < 8; ++k) {
                int& n = b[at + static_cast<long>(kDy[k]) * imx + kDx[k]];
                if (n > 0) n = kPending;
            }
        }
    }
    RowClock clock(imy);
    if (nlabels > 0)
        while (grow_pass(b, imx, e, clock)) {
        }
    return nlabels;
}

bool largest_cluster_centroid(std::span<const int> b, int imx, int imy, double& cx, double& cy) {
    std::array<long, kFirstLabel + 1> count{};
    std::array<double, kFirstLabel + 1> sum_x{};
    std::array<double, kFirstLabel + 1> sum_y{};
    for (int y = 0; y < imy; ++y) {
        for (int x = 0; x < imx; ++x) {
            const int label = b[static_cast<std::size_t>(y) * imx + x];
            if (label < 1 || label > kFirstLabel) continue;
            ++count[label];
            sum_x[label] += x;
            sum_y[label] += y;
        }
    }
    int best = 0;
    for (int label = 1; label <= kFirstLabel; ++label)
        if (count[label] > count[best]) best = label;
    if (best == 0) return false;
    cx = std::floor(sum_x[best] / count[best] + 0.5);
    cy = std::floor(sum_y[best] / count[best] + 0.5);
    return true;
}

}  // namespace orva
