// Gaussian pyramid and scale-normalised Hessian (see scale_space.h).
//
// Method: within an octave the image is blurred to FIRST_SCALE, then further to
// SECOND_SCALE (cascaded Gaussians add in quadrature); the next octave takes
// every second pixel of the second scale, whose blur is then SECOND_SCALE / 2 on
// the new grid. Second derivatives are central differences of the blurred image.
#include "track/scale_space.h"

#include <algorithm>
#include <cmath>

#include "toolkit/arrays.h"

namespace orva {

namespace {

constexpr double PIXEL_BLUR = 0.5;  // blur of a raw pixel grid
constexpr int MIN_OCTAVE_SIDE = 8;

std::vector<float> gaussian_kernel(double sigma) {
    const int reach = std::max(1, static_cast<int>(std::ceil(3.0 * sigma)));
    std::vector<float> k(2 * reach + 1);
    double sum = 0.0;
    for (int i = -reach; i <= reach; ++i)
        sum += k[i + reach] = std::exp(-0.5 * i * i / (sigma * sigma));
    for (float& v : k) v = static_cast<float>(v / sum);
    return k;
}

Plane make_plane(int width, int height) {
    Plane p;
    p.width = width;
    p.height = height;
    p.px = fvector(static_cast<long>(width) * height);
    return p;
}

Plane every_second_pixel(const Plane& in) {
    Plane out = make_plane((in.width + 1) / 2, (in.height + 1) / 2);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            out.px[static_cast<std::size_t>(y) * out.width + x] = in.at(2 * x, 2 * y);
    return out;
}

HessianLevel hessian_of(const Plane& p, int octave, double octave_sigma) {
    HessianLevel h;
    h.octave = octave;
    h.sigma = octave_sigma * (1 << octave);
    h.width = p.width;
    h.height = p.height;
    const long n = static_cast<long>(p.width) * p.height;
    h.xx = fvector(n);
    h.yy = fvector(n);
    h.xy = fvector(n);
    const float s2 = static_cast<float>(octave_sigma * octave_sigma);
    for (int y = 0; y < p.height; ++y) {
        const int ym = std::max(y - 1, 0), yp = std::min(y + 1, p.height - 1);
        const float* row = p.px.data() + static_cast<std::size_t>(y) * p.width;
        const float* up = p.px.data() + static_cast<std::size_t>(ym) * p.width;
        const float* down = p.px.data() + static_cast<std::size_t>(yp) * p.width;
        for (int x = 0; x < p.width; ++x) {
            const int xm = std::max(x - 1, 0), xp = std::min(x + 1, p.width - 1);
            const std::size_t i = static_cast<std::size_t>(y) * p.width + x;
            h.xx[i] = s2 * (row[xm] - 2.0f * row[x] + row[xp]);
            h.yy[i] = s2 * (up[x] - 2.0f * row[x] + down[x]);
            h.xy[i] = s2 * 0.25f * (down[xp] - down[xm] - up[xp] + up[xm]);
        }
    }
    h.smooth = p.px;
    return h;
}

}  // namespace

void gaussian_blur(const Plane& in, double sigma, Plane& out) {
    const std::vector<float> k = gaussian_kernel(sigma);
    const int reach = static_cast<int>(k.size() / 2);
    const int w = in.width, h = in.height;
    Plane tmp = make_plane(w, h);
    // Rows: taps outer, pixels inner, so the inner loop vectorises; the borders
    // are done apart with replicated pixels.
    for (int y = 0; y < h; ++y) {
        const float* src = in.px.data() + static_cast<std::size_t>(y) * w;
        float* dst = tmp.px.data() + static_cast<std::size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            if (x >= reach && x < w - reach) continue;
            float sum = 0.0f;
            for (int t = -reach; t <= reach; ++t)
                sum += k[t + reach] * src[std::clamp(x + t, 0, w - 1)];
            dst[x] = sum;
        }
        if (w > 2 * reach) {
            for (int x = reach; x < w - reach; ++x) dst[x] = 0.0f;
            for (int t = -reach; t <= reach; ++t) {
                const float kt = k[t + reach];
                for (int x = reach; x < w - reach; ++x) dst[x] += kt * src[x + t];
            }
        }
    }
    // Columns: whole rows at a time.
    out = make_plane(w, h);
    for (int y = 0; y < h; ++y) {
        float* dst = out.px.data() + static_cast<std::size_t>(y) * w;
        for (int t = -reach; t <= reach; ++t) {
            const float kt = k[t + reach];
            const float* src =
                tmp.px.data() + static_cast<std::size_t>(std::clamp(y + t, 0, h - 1)) * w;
            for (int x = 0; x < w; ++x) dst[x] += kt * src[x];
        }
    }
}

std::vector<HessianLevel> hessian_pyramid(const Plane& base, int max_octaves) {
    std::vector<HessianLevel> levels;
    Plane octave_base = base;
    double blur = PIXEL_BLUR;
    const double step = std::sqrt(SECOND_SCALE * SECOND_SCALE - FIRST_SCALE * FIRST_SCALE);
    for (int o = 0; o < max_octaves; ++o) {
        if (octave_base.width < MIN_OCTAVE_SIDE || octave_base.height < MIN_OCTAVE_SIDE) break;
        Plane first, second;
        gaussian_blur(octave_base, std::sqrt(FIRST_SCALE * FIRST_SCALE - blur * blur), first);
        gaussian_blur(first, step, second);
        levels.push_back(hessian_of(first, o, FIRST_SCALE));
        levels.push_back(hessian_of(second, o, SECOND_SCALE));
        octave_base = every_second_pixel(second);
        blur = 0.5 * SECOND_SCALE;
    }
    return levels;
}

}  // namespace orva
