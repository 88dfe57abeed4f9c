// Grey images and synthetic scenes built in memory for the version-2.3 tests,
// and a capture of standard error.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "types.h"

namespace orva::testing {

struct GreyImage {
    IMAGE im;
    ByteBuffer pix;

    GreyImage(int w, int h, unsigned char value = 0) {
        im.width = static_cast<unsigned int>(w);
        im.height = static_cast<unsigned int>(h);
        im.size = static_cast<unsigned long>(w) * h;
        pix.assign(im.size, value);
    }
    int w() const { return static_cast<int>(im.width); }
    int h() const { return static_cast<int>(im.height); }
    unsigned char& at(int x, int y) { return pix[static_cast<std::size_t>(y) * im.width + x]; }
    // Every pixel from f(x, y), clamped to 0..255.
    void fill(const std::function<double(int, int)>& f) {
        for (int y = 0; y < h(); ++y)
            for (int x = 0; x < w(); ++x)
                at(x, y) = static_cast<unsigned char>(std::clamp(f(x, y), 0.0, 255.0));
    }
    void rect(int x0, int y0, int x1, int y1, unsigned char value) {  // inclusive corners
        for (int y = std::max(y0, 0); y <= std::min(y1, h() - 1); ++y)
            for (int x = std::max(x0, 0); x <= std::min(x1, w() - 1); ++x) at(x, y) = value;
    }
    // Seeded noise of +-amplitude grey levels.
    void add_noise(int amplitude, std::uint32_t seed) {
        std::mt19937 gen(seed);
        std::uniform_int_distribution<int> d(-amplitude, amplitude);
        for (auto& p : pix) p = static_cast<unsigned char>(std::clamp(p + d(gen), 0, 255));
    }
};

template <class F>
std::string stderr_of(F&& f) {
    ::testing::internal::CaptureStderr();
    f();
    return ::testing::internal::GetCapturedStderr();
}

// A flat background of 180 with seeded +-noise grain and one finely textured
// dark disc ("crystal"): random levels 20..240 in cells of 3 x 3 pixels.
inline GreyImage blob_scene(int w, int h, int cx, int cy, int r, int noise = 12) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> level(20, 240), grain(-noise, noise);
    std::vector<int> cells(static_cast<std::size_t>((w / 3 + 1) * (h / 3 + 1)));
    for (int& v : cells) v = level(rng);
    GreyImage g(w, h);
    g.fill([&](int x, int y) {
        const bool inside = (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
        return inside ? cells[static_cast<std::size_t>(y / 3 * (w / 3 + 1) + x / 3)]
                      : 180 + grain(rng);
    });
    return g;
}

// Detector scenes: width, height, disc centre and radius.
struct BlobCase {
    int w, h, cx, cy, r;
};
inline constexpr BlobCase kBlobCases[] = {{240, 200, 140, 90, 30},
                                          {240, 200, 80, 120, 25},
                                          {400, 300, 250, 140, 40},
                                          {1024, 768, 600, 400, 80}};

}  // namespace orva::testing
