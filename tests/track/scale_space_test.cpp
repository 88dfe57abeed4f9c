// The blur's vector paths (kernels held in registers, eight pixels at a time,
// the borders apart) give the plain separable sum bit for bit, on planes
// narrower than the kernel, between, and wider than a vector.
#include "track/scale_space.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace orva {
namespace {

// Rows, then columns, each a sum over the taps in order, borders replicated.
Plane plain_blur(const Plane& in, double sigma) {
    const std::vector<float> k = gaussian_kernel(sigma);
    const int reach = static_cast<int>(k.size() / 2), w = in.width, h = in.height;
    Plane rows, out;
    rows.shape(w, h);
    out.shape(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float sum = 0.0f;
            for (int t = -reach; t <= reach; ++t)
                sum += k[t + reach] * in.at(std::clamp(x + t, 0, w - 1), y);
            rows.px[static_cast<std::size_t>(y) * w + x] = sum;
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float sum = 0.0f;
            for (int t = -reach; t <= reach; ++t)
                sum += k[t + reach] * rows.at(x, std::clamp(y + t, 0, h - 1));
            out.px[static_cast<std::size_t>(y) * w + x] = sum;
        }
    return out;
}

TEST(ScaleSpace, BlurIsThePlainSeparableSum) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> grey(0.0f, 255.0f);
    // Reaches 3 (general path), 4 and 5 (the pyramid's kernels) and 8.
    for (const double sigma : {0.9, 1.13, 1.52, 1.6, 2.6})
        for (const int w : {5, 11, 12, 19, 37, 64}) {
            Plane in;
            in.shape(w, 23);
            for (float& v : in.px) v = grey(random);
            Plane out, scratch;
            gaussian_blur(in, sigma, out, scratch);
            const Plane expected = plain_blur(in, sigma);
            for (std::size_t i = 0; i < expected.px.size(); ++i)
                ASSERT_EQ(out.px[i], expected.px[i]) << "sigma " << sigma << " width " << w;
        }
}

}  // namespace
}  // namespace orva
