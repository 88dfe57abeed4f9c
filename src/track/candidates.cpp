// Candidate collection of one image (see candidates.h).
//
// Method: the image's Hessian pyramid over the shared box; at every scale the
// dark-blob response (determinant where both second derivatives are positive)
// of the image and of the image minus the series maximum; local maxima of
// either inside the image's search box, refined to sub-pixel by parabolas,
// merged across scales where they are the same object, ranked by strength.
// The corner-cluster position is measured at its best scale and added.
#include "track/candidates.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "toolkit/arrays.h"
#include "toolkit/vector_clones.h"

namespace orva {

namespace {

constexpr int OCTAVES = 6;
constexpr int CANDIDATE_POOL = 32;  // strongest detections examined per image                  //
                                    // scales up to about 2.26 * 32 pixels
constexpr double SIZE_PER_SIGMA = 2.8284;  // disc diameter at the best scale: 2 sqrt 2 sigma
constexpr double MIN_STRENGTH = 1.0;       // grey levels; below this nothing is kept
constexpr double MARGIN_SHARE = 0.12;      // search margin around the loop, share of its width
constexpr int MIN_MARGIN = 6;

// Dark-blob response of a Hessian: its determinant where both second
// derivatives are positive (a minimum of brightness), else 0. Without branches,
// so that loops over it run in vector lanes.
inline float blob_response(float xx, float yy, float xy) {
    const float det = xx * yy - xy * xy;
    return (xx > 0.0f) & (yy > 0.0f) & (det > 0.0f) ? det : 0.0f;
}

// Ratio of the larger to the smaller eigenvalue of a positive definite Hessian.
double elongation_of(double xx, double yy, double xy) {
    const double half_trace = 0.5 * (xx + yy);
    const double root = std::sqrt(0.25 * (xx - yy) * (xx - yy) + xy * xy);
    const double small = half_trace - root;
    return small > 1e-9 ? std::min(50.0, (half_trace + root) / small) : 50.0;
}

// First and second moments of a region's pixels.
struct RegionMoments {
    double n = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, syy = 0.0, sxy = 0.0;
    // The pixels left..right of row y. Sums of whole numbers are exact in
    // any order, so a region's moments do not depend on how it is filled.
    void add_run(int left, int right, int y) {
        const auto squares = [](std::int64_t v) { return v * (v + 1) * (2 * v + 1) / 6; };
        const std::int64_t k = right - left + 1;
        const std::int64_t s = (static_cast<std::int64_t>(left) + right) * k / 2;
        n += static_cast<double>(k);
        sx += static_cast<double>(s);
        sy += static_cast<double>(y * k);
        sxx += static_cast<double>(squares(right) - squares(left - 1));
        syy += static_cast<double>(y * y * k);
        sxy += static_cast<double>(y * s);
    }
    void add(int x, int y) {
        n += 1.0;
        sx += x;
        sy += y;
        sxx += static_cast<double>(x) * x;
        syy += static_cast<double>(y) * y;
        sxy += static_cast<double>(x) * y;
    }
    double mean_x() const { return sx / n; }
    double mean_y() const { return sy / n; }
    double var_x() const { return sxx / n - mean_x() * mean_x(); }
    double var_y() const { return syy / n - mean_y() * mean_y(); }
    double cov() const { return sxy / n - mean_x() * mean_y(); }
};

// The box of the image on the search grid: every pixel, or the mean of every
// 2 x 2 block when the grid is coarser.
void crop(const ByteBuffer& image, const IMAGE& imc, const Box& box, int reduce, Plane& p) {
    p.shape((box.x1 - box.x0) / reduce, (box.y1 - box.y0) / reduce);
    for (int y = 0; y < p.height; ++y) {
        float* dst = p.px.data() + static_cast<std::size_t>(y) * p.width;
        const unsigned char* src =
            image.data() + static_cast<std::size_t>(reduce * y + box.y0) * imc.width + box.x0;
        if (reduce == 1) {
            std::copy(src, src + p.width, dst);
            continue;
        }
        const unsigned char* below = src + imc.width;
        for (int x = 0; x < p.width; ++x)
            dst[x] = 0.25f * (src[2 * x] + src[2 * x + 1] + below[2 * x] + below[2 * x + 1]);
    }
}

// Where a level's pixels lie in the cut image.
struct Grid {
    double x0 = 0.0, y0 = 0.0;  // cut-image position of level pixel (0, 0)
    double step = 1.0;          // cut-image pixels per level pixel
    double to_x(double lx) const { return x0 + step * lx; }
    double to_y(double ly) const { return y0 + step * ly; }
    double from_x(double x) const { return (x - x0) / step; }
    double from_y(double y) const { return (y - y0) / step; }
};

Grid grid_of(const CandidateContext& ctx, const HessianLevel& h) {
    Grid g;
    g.step = ctx.reduce * static_cast<double>(1 << h.octave);
    g.x0 = ctx.box.x0 + 0.5 * (ctx.reduce - 1);
    g.y0 = ctx.box.y0 + 0.5 * (ctx.reduce - 1);
    return g;
}

// One local maximum before merging.
struct Detection {
    double x = 0.0, y = 0.0;  // cut-image pixels
    int level = 0;
    double sigma = 0.0;
    double raw = 0.0;     // response of the image
    double moving = 0.0;  // response of the image minus the series maximum
    double elongation = 1.0;
};

// Both responses of one row.
ORVA_VECTOR_CLONES
void response_row(const float* __restrict ixx, const float* __restrict iyy,
                  const float* __restrict ixy, const float* __restrict sxx,
                  const float* __restrict syy, const float* __restrict sxy, int n,
                  float* __restrict raw, float* __restrict moving) {
    for (int k = 0; k < n; ++k) {
        raw[k] = blob_response(ixx[k], iyy[k], ixy[k]);
        moving[k] = blob_response(ixx[k] - sxx[k], iyy[k] - syy[k], ixy[k] - sxy[k]);
    }
}

void level_maps(const HessianLevel& img, const HessianLevel& still, int x0, int y0, int x1, int y1,
                LevelMaps& m) {
    m.x0 = x0;
    m.y0 = y0;
    m.width = x1 - x0;
    m.height = y1 - y0;
    m.raw.resize(static_cast<std::size_t>(m.width) * m.height);
    m.moving.resize(m.raw.size());
    for (int y = y0; y < y1; ++y) {
        const std::size_t i = img.index(x0, y);
        const float* ixx = &img.xx[i];
        const float* iyy = &img.yy[i];
        const float* ixy = &img.xy[i];
        const float* sxx = &still.xx[i];
        const float* syy = &still.yy[i];
        const float* sxy = &still.xy[i];
        const std::size_t row = static_cast<std::size_t>(y - y0) * m.width;
        response_row(ixx, iyy, ixy, sxx, syy, sxy, m.width, &m.raw[row], &m.moving[row]);
    }
}

// The elongation of the moving response at a level pixel, as a detection keeps it.
double moving_elongation(const HessianLevel& img, const HessianLevel& still, int x, int y) {
    const std::size_t i = img.index(x, y);
    const float xx = img.xx[i] - still.xx[i], yy = img.yy[i] - still.yy[i];
    const float xy = img.xy[i] - still.xy[i];
    return blob_response(xx, yy, xy) > 0.0f ? static_cast<float>(elongation_of(xx, yy, xy)) : 0.0f;
}

// Offset of a parabola's vertex through three samples, within half a pixel.
double vertex_offset(double left, double mid, double right) {
    const double curve = left - 2.0 * mid + right;
    if (curve >= 0.0) return 0.0;
    return std::clamp(0.5 * (left - right) / curve, -0.5, 0.5);
}

// Marks the pixels 1 .. w - 2 of a map row that stand above the threshold and
// strictly above their 8 neighbours.
ORVA_VECTOR_CLONES
void peak_flags(const float* __restrict up, const float* __restrict row,
                const float* __restrict down, int w, float threshold,
                unsigned char* __restrict flag) {
    for (int i = 1; i < w - 1; ++i) {
        const float v = row[i];
        flag[i] = !((v <= threshold) | (up[i - 1] >= v) | (up[i] >= v) | (up[i + 1] >= v) |
                    (row[i - 1] >= v) | (row[i + 1] >= v) | (down[i - 1] >= v) |
                    (down[i] >= v) | (down[i + 1] >= v));
    }
}

// Local maxima of one map (strict over the 8 neighbours) inside the window's interior.
void local_maxima(const LevelMaps& m, const HessianLevel& img, const HessianLevel& still, int level,
                  const Grid& grid, double reduce, const std::vector<float>& map,
                  std::vector<Detection>& out) {
    const float threshold = static_cast<float>(MIN_STRENGTH * MIN_STRENGTH);
    const int w = m.width;
    if (w < 3) return;
    std::vector<unsigned char> flag(static_cast<std::size_t>(w));
    for (int j = 1; j < m.height - 1; ++j) {
        const float* row = map.data() + static_cast<std::size_t>(j) * w;
        const float* up = row - w;
        const float* down = row + w;
        peak_flags(up, row, down, w, threshold, flag.data());
        const unsigned char* end = flag.data() + w - 1;
        for (const unsigned char* p = flag.data() + 1;
             (p = static_cast<const unsigned char*>(std::memchr(p, 1, end - p))) != nullptr; ++p) {
            const int i = static_cast<int>(p - flag.data());
            const float v = row[i];
            const int x = m.x0 + i, y = m.y0 + j;
            Detection d;
            const double fx = x + vertex_offset(row[i - 1], v, row[i + 1]);
            const double fy = y + vertex_offset(up[i], v, down[i]);
            d.x = grid.to_x(fx);
            d.y = grid.to_y(fy);
            d.sigma = reduce * img.sigma;
            d.level = level;
            d.raw = m.raw_at(x, y);
            d.moving = m.moving_at(x, y);
            d.elongation = moving_elongation(img, still, x, y);
            out.push_back(d);
        }
    }
}

Candidate candidate_of(const Detection& d) {
    Candidate c;
    c.level = d.level;
    c.x = d.x;
    c.y = d.y;
    c.size = SIZE_PER_SIGMA * d.sigma;
    c.strength = std::sqrt(std::max(d.moving, d.raw));
    c.motion =
        d.raw > 0.0 ? std::min(1.0, std::sqrt(d.moving / d.raw)) : (d.moving > 0.0 ? 1.0 : 0.0);
    c.elongation = d.elongation;
    return c;
}

// Two detections of one object: close together at neighbouring scales.
bool same_object(const Candidate& a, const Candidate& b) {
    const double ratio = a.size > b.size ? a.size / b.size : b.size / a.size;
    return ratio <= 2.01 && std::hypot(a.x - b.x, a.y - b.y) < 0.5 * std::min(a.size, b.size);
}

// The scale space sampled at one point: the scale of the largest response.
bool measure_at(const ScaleSpace& space, const CandidateContext& ctx, double x, double y,
                Candidate& c) {
    double best = -1.0;
    const auto& still = ctx.still.levels;
    for (int l = 0; l < std::min(space.count, ctx.still.count); ++l) {
        const HessianLevel& h = space.levels[l];
        const Grid grid = grid_of(ctx, h);
        const int lx = static_cast<int>(std::lround(grid.from_x(x)));
        const int ly = static_cast<int>(std::lround(grid.from_y(y)));
        if (lx < 0 || ly < 0 || lx >= h.width || ly >= h.height) continue;
        const std::size_t i = h.index(lx, ly);
        const double raw = blob_response(h.xx[i], h.yy[i], h.xy[i]);
        const double moving = blob_response(h.xx[i] - still[l].xx[i], h.yy[i] - still[l].yy[i],
                                            h.xy[i] - still[l].xy[i]);
        if (std::max(raw, moving) <= best) continue;
        best = std::max(raw, moving);
        Detection d;
        d.x = x;
        d.y = y;
        d.sigma = ctx.reduce * h.sigma;
        d.level = static_cast<int>(l);
        d.raw = raw;
        d.moving = moving;
        d.elongation = moving > 0.0
                           ? elongation_of(h.xx[i] - still[l].xx[i], h.yy[i] - still[l].yy[i],
                                           h.xy[i] - still[l].xy[i])
                           : 1.0;
        c = candidate_of(d);
    }
    return best > 0.0;
}

// Bilinear sample of a level plane at level coordinates, clamped to the grid.
float sample(const std::vector<float>& plane, const HessianLevel& h, double x, double y) {
    x = std::clamp(x, 0.0, h.width - 1.0);
    y = std::clamp(y, 0.0, h.height - 1.0);
    const int x0 = std::min(static_cast<int>(x), h.width - 2 < 0 ? 0 : h.width - 2);
    const int y0 = std::min(static_cast<int>(y), h.height - 2 < 0 ? 0 : h.height - 2);
    const int x1 = std::min(x0 + 1, h.width - 1), y1 = std::min(y0 + 1, h.height - 1);
    const float fx = static_cast<float>(x - x0), fy = static_cast<float>(y - y0);
    const float top = plane[h.index(x0, y0)] * (1 - fx) + plane[h.index(x1, y0)] * fx;
    const float bottom = plane[h.index(x0, y1)] * (1 - fx) + plane[h.index(x1, y1)] * fx;
    return top * (1 - fy) + bottom * fy;
}

constexpr int RING_SAMPLES = 16;
constexpr double RING_RADIUS = 0.75;  // of the size: half a size beyond the object's edge
constexpr int INSIDE_RINGS = 3;
constexpr double INSIDE_REACH = 0.45;  // of the size: the object's edge

// The contrast features of a candidate, measured at its own level: against the
// series maximum for an object that moves, against the brightest point of the
// ring for one that stays put (the series maximum holds it too).
void appearance(const HessianLevel& img, const HessianLevel& still, const Grid& grid,
                Candidate& c) {
    const double lx = grid.from_x(c.x), ly = grid.from_y(c.y);
    const double radius = RING_RADIUS * c.size / grid.step;
    double ring_img[RING_SAMPLES], ring_still[RING_SAMPLES];
    double ring_bright = 0.0;
    for (int k = 0; k < RING_SAMPLES; ++k) {
        const double a = 6.283185307179586 * k / RING_SAMPLES;
        const double x = lx + radius * std::cos(a), y = ly + radius * std::sin(a);
        ring_img[k] = sample(img.smooth, img, x, y);
        ring_still[k] = sample(still.smooth, still, x, y);
        ring_bright = std::max(ring_bright, ring_img[k]);
    }
    const bool moves = c.motion >= 0.5;
    const double centre = sample(img.smooth, img, lx, ly);
    const double bright = moves ? sample(still.smooth, still, lx, ly) : ring_bright;
    c.contrast = bright - centre;
    c.absorbance = bright > 1.0 ? c.contrast / bright : 0.0;
    double sum = 0.0, most = 0.0;
    for (int k = 0; k < RING_SAMPLES; ++k) {
        const double v = std::max(0.0, (moves ? ring_still[k] : ring_bright) - ring_img[k]);
        sum += v;
        most = std::max(most, v);
    }
    const double core = std::max(c.contrast, 1.0);
    c.ring_mean = sum / RING_SAMPLES / core;
    c.ring_max = most / core;
}

// The inside of a candidate seen sharper, on the level whose scale is about a
// tenth of its size: a crystal's edges are darker than its middle, a drop of ice
// is even. edge_share is the darkest point within the object over its centre,
// fill the mean over the darkest.
void inside(const ScaleSpace& space, const CandidateContext& ctx, Candidate& c) {
    const int levels = std::min(space.count, ctx.still.count);
    const double finest = std::max(ctx.reduce * FIRST_SCALE, 0.1 * c.size);
    int l = 0;
    while (l + 1 < levels && ctx.reduce * space.levels[l + 1].sigma <= finest) ++l;
    const HessianLevel& img = space.levels[l];
    const HessianLevel& ref = ctx.still.levels[l];
    const Grid grid = grid_of(ctx, img);
    const double step = grid.step;
    const double lx = grid.from_x(c.x), ly = grid.from_y(c.y);
    const bool moves = c.motion >= 0.5;
    const double local_bright = c.contrast + sample(img.smooth, img, lx, ly);
    const auto contrast_at = [&](double x, double y) {
        const double bright = moves ? sample(ref.smooth, ref, x, y) : local_bright;
        return bright - sample(img.smooth, img, x, y);
    };
    const double centre = std::max(contrast_at(lx, ly), 1.0);
    double darkest = centre, sum = centre;
    int count = 1;
    for (int r = 1; r <= INSIDE_RINGS; ++r) {
        const double radius = INSIDE_REACH * c.size * r / INSIDE_RINGS / step;
        for (int k = 0; k < RING_SAMPLES; ++k) {
            const double a = 6.283185307179586 * (k + 0.5 * r) / RING_SAMPLES;
            const double v = contrast_at(lx + radius * std::cos(a), ly + radius * std::sin(a));
            darkest = std::max(darkest, v);
            sum += v;
            ++count;
        }
    }
    c.edge_share = darkest / centre;
    c.fill = sum / count / std::max(darkest, 1.0);
}

constexpr int SHARP_SAMPLES = 24;  // samples across the object at most (larger: strided)

// Candidate::sharp_edge: the darkest of the pixels within half a size of the
// centre over the mean of the 3 x 3 pixels at the centre, each against the
// background for an object that moves, against the candidate's own reference
// brightness for one that stays put.
void sharp_edge(const ByteBuffer& image, const CandidateContext& ctx, Candidate& c) {
    const int reach = std::max(2, static_cast<int>(std::lround(0.5 * c.size)));
    const int stride = std::max(1, 2 * reach / SHARP_SAMPLES);
    const int cx = static_cast<int>(std::lround(c.x)), cy = static_cast<int>(std::lround(c.y));
    if (cx - reach < ctx.box.x0 || cy - reach < ctx.box.y0 || cx + reach >= ctx.box.x1 ||
        cy + reach >= ctx.box.y1)
        return;
    const bool moves = c.motion >= 0.5;
    const auto pixel = [&](int x, int y) {
        return static_cast<double>(image[static_cast<std::size_t>(y) * ctx.imc.width + x]);
    };
    const double bright = moves ? ctx.background : c.contrast + pixel(cx, cy);
    const auto contrast = [&](int x, int y) { return bright - pixel(x, y); };
    double centre = 0.0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) centre += contrast(cx + dx, cy + dy) / 9.0;
    double darkest = centre;
    const int r2 = reach * reach;
    for (int dy = -reach; dy <= reach; dy += stride)
        for (int dx = -reach; dx <= reach; dx += stride)
            if (dx * dx + dy * dy <= r2) darkest = std::max(darkest, contrast(cx + dx, cy + dy));
    c.sharp_edge = darkest / std::max(centre, 1.0);
}

constexpr int OUTLINE_SAMPLES = 48;  // samples across the window at most (larger: strided)

// Candidate::area and outline_elongation, on a window of one size either way
// sampled at most OUTLINE_SAMPLES across: the samples 4-connected to the
// strongest of the 3 x 3 at the centre whose contrast (as for sharp_edge) is at
// least half the strongest within half a size. A drop of ice shows the same
// outline in every view; a crystal turns other faces to the camera.
void outline(const ByteBuffer& image, const CandidateContext& ctx, Candidate& c,
             std::vector<double>& contrast, std::vector<int>& stack, std::vector<char>& seen) {
    const int reach = std::max(3, static_cast<int>(std::lround(c.size)));
    const int stride = std::max(1, 2 * reach / OUTLINE_SAMPLES);
    const int half = reach / stride, side = 2 * half + 1;
    const int cx = static_cast<int>(std::lround(c.x)), cy = static_cast<int>(std::lround(c.y));
    if (!ctx.box.contains(cx, cy)) return;
    const bool moves = c.motion >= 0.5;
    const double bright =
        moves ? ctx.background
              : c.contrast + image[static_cast<std::size_t>(cy) * ctx.imc.width +
                                   static_cast<std::size_t>(cx)];
    contrast.assign(static_cast<std::size_t>(side) * side, -1e9);  // outside the box: never inside
    double peak = 0.0;
    for (int j = 0; j < side; ++j) {
        const int dy = (j - half) * stride, y = cy + dy;
        if (y < ctx.box.y0 || y >= ctx.box.y1) continue;
        const unsigned char* dark = image.data() + static_cast<std::size_t>(y) * ctx.imc.width;
        double* out = contrast.data() + static_cast<std::size_t>(j) * side;
        for (int i = 0; i < side; ++i) {
            const int dx = (i - half) * stride, x = cx + dx;
            if (x < ctx.box.x0 || x >= ctx.box.x1) continue;
            const double v = bright - dark[x];
            out[i] = v;
            if (4 * (dx * dx + dy * dy) <= reach * reach) peak = std::max(peak, v);
        }
    }
    if (peak <= 0.0) return;
    const double level = 0.5 * peak;
    int start = half * side + half;
    for (int j = half - 1; j <= half + 1; ++j)
        for (int i = half - 1; i <= half + 1; ++i)
            if (contrast[j * side + i] > contrast[start]) start = j * side + i;
    if (contrast[start] < level) return;
    seen.assign(contrast.size(), 0);
    stack.assign(1, start);
    seen[start] = 1;
    RegionMoments m;
    while (!stack.empty()) {
        const int k = stack.back();
        stack.pop_back();
        const int i = k % side, j = k / side;
        m.add(i, j);
        const int next[4] = {i > 0 ? k - 1 : -1, i + 1 < side ? k + 1 : -1, j > 0 ? k - side : -1,
                             j + 1 < side ? k + side : -1};
        for (const int q : next)
            if (q >= 0 && !seen[q] && contrast[q] >= level) {
                seen[q] = 1;
                stack.push_back(q);
            }
    }
    c.area = m.n * stride * stride;
    // A sample stands for a square of them: its own variance keeps one-sample-wide
    // regions finite.
    const double own = 1.0 / 12.0;
    c.outline_elongation = std::sqrt(elongation_of(m.var_x() + own, m.var_y() + own, m.cov()));
}

constexpr double NEEDLE_ELONGATION = 2.0;  // a candidate this elongated may be part of a needle
constexpr int NEEDLE_REACH = 130;          // pixels searched either way for its ends
constexpr double REGION_LEVEL = 0.5;       // of the centre's contrast: inside the object
constexpr double NEEDLE_SPREAD = 4.0;      // variance ratio of a region twice as long as wide

// A needle is found in pieces (its ends, stretches of it) at the scales of its
// width; its middle is the centroid of the dark region the piece belongs to.
// The region is the pixels connected to the candidate whose contrast against
// the background is at least half that at its centre; when it reaches the
// edge of the search window (the loop's rim, the fibre) or is not itself
// elongated, the candidate stays.
// Pixels visited by one search carry its number (`visit`), so the marks of
// earlier searches need no clearing.
struct RegionMarks {
    std::vector<std::uint32_t> mark;
    std::uint32_t visit = 0;
};

void centre_on_region(const ByteBuffer& image, const CandidateContext& ctx, Candidate& c,
                      std::vector<int>& stack, RegionMarks& marks) {
    if (c.elongation < NEEDLE_ELONGATION || c.motion < 0.5) return;
    const int cx = static_cast<int>(std::lround(c.x)), cy = static_cast<int>(std::lround(c.y));
    const int x0 = std::max(ctx.box.x0, cx - NEEDLE_REACH);
    const int y0 = std::max(ctx.box.y0, cy - NEEDLE_REACH);
    const int x1 = std::min(ctx.box.x1, cx + NEEDLE_REACH + 1);
    const int y1 = std::min(ctx.box.y1, cy + NEEDLE_REACH + 1);
    if (cx <= x0 || cy <= y0 || cx >= x1 - 1 || cy >= y1 - 1) return;
    const int w = x1 - x0, h = y1 - y0;
    const auto row_of = [&](int y) {
        return image.data() + static_cast<std::size_t>(y0 + y) * ctx.imc.width + x0;
    };
    const double level =
        REGION_LEVEL * (ctx.background - image[static_cast<std::size_t>(cy) * ctx.imc.width + cx]);
    if (level < MIN_STRENGTH) return;
    if (marks.mark.size() < static_cast<std::size_t>(w) * h)
        marks.mark.resize(static_cast<std::size_t>(w) * h, marks.visit);
    const std::uint32_t visit = ++marks.visit;
    std::uint32_t* seen = marks.mark.data();
    const auto inside = [&](const unsigned char* row, int x) {
        return ctx.background - row[x] >= level;
    };
    // Filled run by run along the rows; the stack holds one window position of
    // each run still to fill, as x + y * PACK. The run of a marked pixel is
    // marked whole, so a run is either filled or not.
    constexpr int PACK = 1 << 10;  // above the window's width (2 * NEEDLE_REACH + 1)
    static_assert(2 * NEEDLE_REACH + 1 < PACK);
    stack.assign(1, (cx - x0) + (cy - y0) * PACK);
    RegionMoments m;
    while (!stack.empty()) {
        const int x = stack.back() & (PACK - 1), y = stack.back() / PACK;
        stack.pop_back();
        std::uint32_t* row = seen + static_cast<std::size_t>(y) * w;
        if (row[x] == visit) continue;
        const auto here = row_of(y);
        int left = x, right = x;
        while (left > 0 && inside(here, left - 1)) --left;
        while (right < w - 1 && inside(here, right + 1)) ++right;
        // The region runs into the window's edge: the candidate stays.
        if (left == 0 || right == w - 1 || y == 0 || y == h - 1) return;
        std::fill(row + left, row + right + 1, visit);
        m.add_run(left, right, y);
        for (const int ny : {y - 1, y + 1}) {
            const std::uint32_t* next = seen + static_cast<std::size_t>(ny) * w;
            const auto there = row_of(ny);
            for (int nx = left; nx <= right; ++nx) {
                if (next[nx] == visit || !inside(there, nx)) continue;
                stack.push_back(nx + ny * PACK);
                while (nx < right && inside(there, nx + 1)) ++nx;
            }
        }
    }
    if (elongation_of(m.var_x(), m.var_y(), m.cov()) < NEEDLE_SPREAD) return;  // compact: stays
    c.x = x0 + m.mean_x();
    c.y = y0 + m.mean_y();
}

// Where the candidate lies relative to the loop's outline.
void placement(const SHAPE_PARAMS& shape, Candidate& c) {
    const std::size_t rows =
        std::min<std::size_t>({shape.num_coord_left, shape.y_coord_left.size(),
                               shape.x_coord_left.size(), shape.x_coord_right.size()});
    c.depth = -1.0;
    c.span = 0.0;
    if (rows == 0) return;
    const int row = static_cast<int>(std::lround(c.y));
    const int top = static_cast<int>(shape.y_coord_left[0]);
    c.loop_share = c.size / std::max(1.0, static_cast<double>(shape.width));
    const std::size_t k = static_cast<std::size_t>(row - top);
    if (row < top || k >= rows || static_cast<int>(shape.y_coord_left[k]) != row) return;
    const double inside = std::min(c.x - shape.x_coord_left[k], shape.x_coord_right[k] - c.x);
    c.depth = std::clamp(inside / std::max(c.size, 1.0), -1.0, 2.0);
    const double across = static_cast<double>(shape.x_coord_right[k]) - shape.x_coord_left[k];
    c.span = std::clamp(across / std::max(c.size, 1.0), 0.0, 20.0);
}

constexpr double MAX_CLEARANCE = 2.0;  // sizes; farther from the outline makes no difference

// Candidate::clearance: the distance to the nearest point of the loop's outline
// (its flanks and its top; the bottom is the cut towards the pin), in sizes. A
// knot in the fibre or a bend of it lies on the outline in every view, however
// far from the flank at its own row a horizontal stretch of the fibre may be.
void clearance(const SHAPE_PARAMS& shape, Candidate& c) {
    const double size = std::max(c.size, 1.0);
    const double reach = MAX_CLEARANCE * size;
    double nearest2 = reach * reach;
    const auto visit = [&](const std::vector<unsigned int>& xs, const std::vector<unsigned int>& ys,
                           std::size_t count) {
        count = std::min({count, xs.size(), ys.size()});
        for (std::size_t k = 0; k < count; ++k) {
            const double dx = xs[k] - c.x, dy = ys[k] - c.y;
            nearest2 = std::min(nearest2, dx * dx + dy * dy);
        }
    };
    visit(shape.x_coord_left, shape.y_coord_left, shape.num_coord_left);
    visit(shape.x_coord_right, shape.y_coord_right, shape.num_coord_right);
    visit(shape.x_coord_top, shape.y_coord_top, shape.num_coord_top);
    c.clearance = std::sqrt(nearest2) / size;
}

// The median of a plane's pixels.
double median(const Plane& p) {
    std::vector<float> v(p.px.begin(), p.px.begin() + static_cast<long>(p.width) * p.height);
    if (v.empty()) return 0.0;
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

}  // namespace

// A logistic model of "this candidate is the crystal", fitted on the tuning and
// validation scenes of the accuracy benchmark. It prefers strong, large, compact
// objects well inside the loop and clear of its outline, with a dark edge all
// round (seen at the image's own resolution too, which tells small crystals from
// even specks of ice), and distrusts a single dark line running through the ring
// just outside (the fibre, the stem).
double crystal_likeness(const Candidate& c, double strongest) {
    const double ring_max = std::min(c.ring_max, 3.0);
    const double depth = std::clamp(c.depth, -1.0, 2.0);
    const double strength = std::max(c.strength, 0.5);
    const double edge = std::log(std::clamp(c.edge_share, 0.5, 5.0));
    const double fill = std::clamp(c.fill, -0.5, 1.0);
    const double elong = std::log(std::clamp(c.elongation, 1.0, 50.0));
    const double sharp = std::log(std::clamp(c.sharp_edge, 0.5, 5.0));
    const double clear = std::min(c.clearance, 1.0);
    const double z = -11.0348 + 1.1012 * std::log(strength) +
                     0.0722 * std::log(strength / std::max(strongest, 0.5)) +
                     7.0817 * std::min(c.ring_mean, 3.0) - 1.5114 * ring_max + 0.7634 * depth +
                     1.0812 * std::log(std::max(c.loop_share, 1e-3)) - 0.2242 * depth * depth +
                     0.8681 * std::log(std::max(c.size, 1.0)) +
                     0.5559 * (c.source != OWN_BLOB ? 1.0 : 0.0) - 2.6909 * ring_max * ring_max -
                     0.2625 * c.motion - 0.7981 * std::clamp(c.absorbance, -0.2, 1.0) +
                     1.6640 * edge - 1.5917 * edge * edge + 1.1234 * fill + 0.2600 * fill * fill +
                     2.6722 * elong - 0.8686 * elong * elong + 3.8675 * sharp -
                     2.8647 * sharp * sharp + 1.2854 * clear + 2.6761 * clear * clear;
    return 1.0 / (1.0 + std::exp(-z));
}

// A logistic model on the kept candidates of the benchmark's tuning and
// validation sets and four more sets drawn like them: the crystal or not.
double outline_weight(const Candidate& c) {
    const double w = std::clamp(c.weight, 1e-4, 1.0 - 1e-4);
    const double oval = std::log(std::clamp(c.outline_elongation, 1.0, 50.0));
    const double small = c.size < SMALL_OBJECT ? 1.0 : 0.0;
    const double z = -0.4388 + 1.0634 * std::log(w / (1.0 - w)) + 0.4705 * oval +
                     0.0472 * oval * oval + 0.4752 * small * oval + 0.1899 * small;
    return 1.0 / (1.0 + std::exp(-z));
}

Box search_box(const SHAPE_PARAMS& shape, const IMAGE& imc) {
    Box b;
    const std::size_t rows =
        std::min<std::size_t>({shape.num_coord_left, shape.y_coord_left.size(),
                               shape.x_coord_left.size(), shape.x_coord_right.size()});
    if (shape.type == NO_OBJECT || rows == 0) return b;
    const int margin = std::max(MIN_MARGIN, static_cast<int>(MARGIN_SHARE * shape.width));
    int left = static_cast<int>(imc.width), right = -1;
    const int top = static_cast<int>(shape.y_coord_left[0]);
    int last = top;
    for (std::size_t k = 0; k < rows; ++k) {
        const int y = static_cast<int>(shape.y_coord_left[k]);
        left = std::min(left, static_cast<int>(shape.x_coord_left[k]));
        right = std::max(right, static_cast<int>(shape.x_coord_right[k]));
        last = y;
    }
    if (right < left) return b;
    b.x0 = std::max(0, left - margin);
    b.x1 = std::min(static_cast<int>(imc.width), right + margin + 1);
    b.y0 = std::max(0, top - margin);
    b.y1 = std::min(static_cast<int>(imc.height), last + margin + 1);
    return b;
}

CandidateContext candidate_context(const IMAGE& imc, std::span<const ByteBuffer> images,
                                   std::span<const SHAPE_PARAMS> shapes, bool full_resolution) {
    CandidateContext ctx;
    ctx.imc = imc;
    ctx.octaves = OCTAVES;
    ctx.reduce = full_resolution ? 2 : 1;
    Box& u = ctx.box;
    bool any = false;
    for (std::size_t q = 0; q < shapes.size() && q < images.size(); ++q) {
        const Box b = search_box(shapes[q], imc);
        if (b.empty()) continue;
        if (!any) {
            u = b;
            any = true;
        } else {
            u.x0 = std::min(u.x0, b.x0);
            u.y0 = std::min(u.y0, b.y0);
            u.x1 = std::max(u.x1, b.x1);
            u.y1 = std::max(u.y1, b.y1);
        }
    }
    if (!any) return ctx;
    // The box on whole blocks of the search grid.
    u.x1 = u.x0 + (u.x1 - u.x0) / ctx.reduce * ctx.reduce;
    u.y1 = u.y0 + (u.y1 - u.y0) / ctx.reduce * ctx.reduce;
    Plane& still = ctx.still.base;
    crop(images[0], imc, u, ctx.reduce, still);
    Plane p;
    for (std::size_t q = 1; q < images.size(); ++q) {
        crop(images[q], imc, u, ctx.reduce, p);
        const std::size_t n = static_cast<std::size_t>(p.width) * p.height;
        for (std::size_t i = 0; i < n; ++i) still.px[i] = std::max(still.px[i], p.px[i]);
    }
    ctx.background = median(still);
    hessian_pyramid(ctx.octaves, ctx.still);
    return ctx;
}

std::vector<Candidate> collect_candidates(const CandidateContext& ctx, const ByteBuffer& image,
                                          const SHAPE_PARAMS& shape, const DefaultPosition& corners,
                                          CandidateWork& work) {
    std::vector<Candidate> out;
    Box roi = search_box(shape, ctx.imc);
    roi.x0 = std::max(roi.x0, ctx.box.x0);
    roi.y0 = std::max(roi.y0, ctx.box.y0);
    roi.x1 = std::min(roi.x1, ctx.box.x1);
    roi.y1 = std::min(roi.y1, ctx.box.y1);
    if (roi.empty() || ctx.box.empty() || image.size() < ctx.imc.size) return out;

    ScaleSpace& space = work.space;
    crop(image, ctx.imc, ctx.box, ctx.reduce, space.base);
    hessian_pyramid(ctx.octaves, space);
    std::vector<Detection> found;
    for (int l = 0; l < space.count && l < ctx.still.count; ++l) {
        const HessianLevel& h = space.levels[l];
        const Grid grid = grid_of(ctx, h);
        // The search box on this level's grid, one pixel wider for the neighbours.
        const int x0 = std::max(0, static_cast<int>(grid.from_x(roi.x0)) - 1);
        const int y0 = std::max(0, static_cast<int>(grid.from_y(roi.y0)) - 1);
        const int x1 = std::min(h.width, static_cast<int>(grid.from_x(roi.x1 - 1)) + 2);
        const int y1 = std::min(h.height, static_cast<int>(grid.from_y(roi.y1 - 1)) + 2);
        if (x1 - x0 < 3 || y1 - y0 < 3) continue;
        LevelMaps& maps = work.maps;
        level_maps(h, ctx.still.levels[l], x0, y0, x1, y1, maps);
        local_maxima(maps, h, ctx.still.levels[l], static_cast<int>(l), grid, ctx.reduce,
                     maps.moving, found);
        local_maxima(maps, h, ctx.still.levels[l], static_cast<int>(l), grid, ctx.reduce, maps.raw,
                     found);
    }

    std::vector<Candidate> all;
    for (const Detection& d : found)
        if (roi.contains(d.x, d.y)) all.push_back(candidate_of(d));
    std::sort(all.begin(), all.end(),
              [](const Candidate& a, const Candidate& b) { return a.strength > b.strength; });
    for (const Candidate& c : all) {
        if (static_cast<int>(out.size()) >= CANDIDATE_POOL) break;
        bool duplicate = false;
        for (const Candidate& kept : out)
            if (same_object(c, kept)) {
                duplicate = true;
                break;
            }
        if (!duplicate) out.push_back(c);
    }

    // Pieces of one needle meet at its middle: keep the strongest of them.
    std::vector<int> stack;
    std::vector<char> seen;
    RegionMarks marks;
    for (Candidate& c : out) centre_on_region(image, ctx, c, stack, marks);
    std::vector<Candidate> merged;
    for (const Candidate& c : out)
        if (std::none_of(merged.begin(), merged.end(),
                         [&c](const Candidate& kept) { return same_object(c, kept); }))
            merged.push_back(c);
    out.swap(merged);

    if (corners.x > 0 && corners.y > 0) {
        Candidate c;
        if (measure_at(space, ctx, corners.x, corners.y, c)) {
            c.source = DEFAULT_CORNERS;
            out.push_back(c);
        }
    }
    double top = 1.0;
    for (Candidate& c : out) {
        appearance(space.levels[c.level], ctx.still.levels[c.level],
                   grid_of(ctx, space.levels[c.level]), c);
        inside(space, ctx, c);
        sharp_edge(image, ctx, c);
        placement(shape, c);
        clearance(shape, c);
        top = std::max(top, c.strength);
    }
    for (Candidate& c : out) c.weight = crystal_likeness(c, top);
    const auto heavier = [](const Candidate& a, const Candidate& b) { return a.weight > b.weight; };
    std::stable_sort(out.begin(), out.end(), heavier);
    if (out.size() > static_cast<std::size_t>(MAX_CANDIDATES)) out.resize(MAX_CANDIDATES);
    // Only the kept candidates get their outline measured; it refines their
    // weights and so their order.
    std::vector<double> contrast;
    for (Candidate& c : out) {
        outline(image, ctx, c, contrast, stack, seen);
        c.weight = outline_weight(c);
    }
    std::stable_sort(out.begin(), out.end(), heavier);
    for (std::size_t r = 0; r < out.size(); ++r) out[r].rank = static_cast<int>(r);
    return out;
}

}  // namespace orva
