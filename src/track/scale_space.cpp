// Gaussian pyramid and scale-normalised Hessian (see scale_space.h).
//
// Method: within an octave the image is blurred to FIRST_SCALE, then further to
// SECOND_SCALE (cascaded Gaussians add in quadrature); the next octave takes
// every second pixel of the second scale, whose blur is then SECOND_SCALE / 2 on
// the new grid. Second derivatives are central differences of the blurred image.
#include "track/scale_space.h"

#include <algorithm>
#include <cmath>

#include "toolkit/vector_clones.h"

namespace orva {

namespace {

constexpr double PIXEL_BLUR = 0.5;  // blur of a raw pixel grid
constexpr int MIN_OCTAVE_SIDE = 8;

// Eight floats in vector lanes, at any float address; each lane does what the
// plain loop does for its pixel, in the same order.
typedef float Floats8 __attribute__((vector_size(32), aligned(4), __may_alias__));
#define FLOATS8(p) (*reinterpret_cast<const Floats8*>(p))

void every_second_pixel(const HessianLevel& in, Plane& out) {
    out.shape((in.width + 1) / 2, (in.height + 1) / 2);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            out.px[static_cast<std::size_t>(y) * out.width + x] = in.smooth[in.index(2 * x, 2 * y)];
}

// One row of second derivatives; x - 1 and x + 1 clamped to the row at its ends.
ORVA_VECTOR_CLONES
void hessian_row(const float* __restrict up, const float* __restrict row,
                 const float* __restrict down, int w, float s2, float* __restrict xx,
                 float* __restrict yy, float* __restrict xy) {
    const auto at = [&](int x) {
        const int xm = std::max(x - 1, 0), xp = std::min(x + 1, w - 1);
        xx[x] = s2 * (row[xm] - 2.0f * row[x] + row[xp]);
        yy[x] = s2 * (up[x] - 2.0f * row[x] + down[x]);
        xy[x] = s2 * 0.25f * (down[xp] - down[xm] - up[xp] + up[xm]);
    };
    at(0);
    for (int x = 1; x < w - 1; ++x) {
        xx[x] = s2 * (row[x - 1] - 2.0f * row[x] + row[x + 1]);
        yy[x] = s2 * (up[x] - 2.0f * row[x] + down[x]);
        xy[x] = s2 * 0.25f * (down[x + 1] - down[x - 1] - up[x + 1] + up[x - 1]);
    }
    if (w > 1) at(w - 1);
}

// The level takes the plane's pixels as its smooth image (the plane gets the
// level's old buffer, to be refilled).
void hessian_of(Plane& p, int octave, double octave_sigma, HessianLevel& h) {
    h.octave = octave;
    h.sigma = octave_sigma * (1 << octave);
    h.width = p.width;
    h.height = p.height;
    const std::size_t n = static_cast<std::size_t>(p.width) * p.height;
    h.xx.resize(n);
    h.yy.resize(n);
    h.xy.resize(n);
    const float s2 = static_cast<float>(octave_sigma * octave_sigma);
    for (int y = 0; y < p.height; ++y) {
        const int ym = std::max(y - 1, 0), yp = std::min(y + 1, p.height - 1);
        const float* row = p.px.data() + static_cast<std::size_t>(y) * p.width;
        const float* up = p.px.data() + static_cast<std::size_t>(ym) * p.width;
        const float* down = p.px.data() + static_cast<std::size_t>(yp) * p.width;
        const std::size_t i = static_cast<std::size_t>(y) * p.width;
        hessian_row(up, row, down, p.width, s2, &h.xx[i], &h.yy[i], &h.xy[i]);
    }
    h.smooth.swap(p.px);
}

// The vector parts of the two passes for the pyramid's kernels (2 R + 1 taps,
// R = 4 or 5), taps held in registers: eight pixels at a time, the same
// operations in the same order as the plain loops that do other kernels and
// the pixels left over. Both return the first pixel they left.
template <int R>
[[gnu::always_inline]] inline int blur_row_fixed(const float* k, const float* src, int w,
                                                 float* dst) {
    Floats8 kv[2 * R + 1];
    for (int t = 0; t <= 2 * R; ++t) kv[t] = Floats8{} + k[t];
    int x = R;
    for (; x + 8 <= w - R; x += 8) {
        Floats8 sum = kv[0] * FLOATS8(src + x - R);
        for (int t = -R + 1; t <= R; ++t) sum += kv[t + R] * FLOATS8(src + x + t);
        *reinterpret_cast<Floats8*>(dst + x) = sum;
    }
    return x;
}

template <int R>
[[gnu::always_inline]] inline int blur_column_fixed(const float* k, const float* const* rows,
                                                    int w, float* dst) {
    Floats8 kv[2 * R + 1];
    for (int t = 0; t <= 2 * R; ++t) kv[t] = Floats8{} + k[t];
    int x = 0;
    for (; x + 8 <= w; x += 8) {
        Floats8 sum = kv[0] * FLOATS8(rows[0] + x);
        for (int t = 1; t <= 2 * R; ++t) sum += kv[t] * FLOATS8(rows[t] + x);
        *reinterpret_cast<Floats8*>(dst + x) = sum;
    }
    return x;
}

}  // namespace

std::vector<float> gaussian_kernel(double sigma) {
    const int reach = std::max(1, static_cast<int>(std::ceil(3.0 * sigma)));
    std::vector<float> k(2 * reach + 1);
    double sum = 0.0;
    for (int i = -reach; i <= reach; ++i)
        sum += k[i + reach] = static_cast<float>(std::exp(-0.5 * i * i / (sigma * sigma)));
    for (float& v : k) v = static_cast<float>(v / sum);
    return k;
}

void Plane::shape(int w, int h) {
    width = w;
    height = h;
    // Only ever grown: the octaves of one image shrink a plane that the next
    // image fills at full size again, and growing a vector clears what it adds.
    const std::size_t n = static_cast<std::size_t>(w) * h;
    if (px.size() < n) px.resize(n);
}

ORVA_VECTOR_CLONES
void gaussian_blur(const Plane& in, double sigma, Plane& out, Plane& scratch) {
    const std::vector<float> k = gaussian_kernel(sigma);
    const int reach = static_cast<int>(k.size() / 2);
    const int w = in.width, h = in.height;
    scratch.shape(w, h);
    // Rows; the borders are done apart with replicated pixels.
    for (int y = 0; y < h; ++y) {
        const float* src = in.px.data() + static_cast<std::size_t>(y) * w;
        float* dst = scratch.px.data() + static_cast<std::size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            if (x >= reach && x < w - reach) continue;
            float sum = 0.0f;
            for (int t = -reach; t <= reach; ++t)
                sum += k[t + reach] * src[std::clamp(x + t, 0, w - 1)];
            dst[x] = sum;
        }
        int x = reach == 4   ? blur_row_fixed<4>(k.data(), src, w, dst)
                : reach == 5 ? blur_row_fixed<5>(k.data(), src, w, dst)
                             : reach;
        for (; x < w - reach; ++x) {
            float sum = k[0] * src[x - reach];
            for (int t = -reach + 1; t <= reach; ++t) sum += k[t + reach] * src[x + t];
            dst[x] = sum;
        }
    }
    // Columns.
    out.shape(w, h);
    std::vector<const float*> rows(k.size());
    for (int y = 0; y < h; ++y) {
        float* dst = out.px.data() + static_cast<std::size_t>(y) * w;
        for (int t = -reach; t <= reach; ++t)
            rows[t + reach] =
                scratch.px.data() + static_cast<std::size_t>(std::clamp(y + t, 0, h - 1)) * w;
        int x = reach == 4   ? blur_column_fixed<4>(k.data(), rows.data(), w, dst)
                : reach == 5 ? blur_column_fixed<5>(k.data(), rows.data(), w, dst)
                             : 0;
        for (; x < w; ++x) {
            float sum = k[0] * rows[0][x];
            for (std::size_t t = 1; t < k.size(); ++t) sum += k[t] * rows[t][x];
            dst[x] = sum;
        }
    }
}

void hessian_pyramid(int max_octaves, ScaleSpace& space) {
    space.count = 0;
    double blur = PIXEL_BLUR;
    const double step = std::sqrt(SECOND_SCALE * SECOND_SCALE - FIRST_SCALE * FIRST_SCALE);
    for (int o = 0; o < max_octaves; ++o) {
        if (space.base.width < MIN_OCTAVE_SIDE || space.base.height < MIN_OCTAVE_SIDE) break;
        gaussian_blur(space.base, std::sqrt(FIRST_SCALE * FIRST_SCALE - blur * blur), space.first,
                      space.scratch);
        gaussian_blur(space.first, step, space.second, space.scratch);
        if (space.levels.size() < static_cast<std::size_t>(space.count + 2))
            space.levels.resize(space.count + 2);
        hessian_of(space.first, o, FIRST_SCALE, space.levels[space.count++]);
        HessianLevel& second = space.levels[space.count++];
        hessian_of(space.second, o, SECOND_SCALE, second);
        every_second_pixel(second, space.base);
        blur = 0.5 * SECOND_SCALE;
    }
}

}  // namespace orva
