// Small grey images built in memory for the version-2.3 tests.
#pragma once

#include <cstdint>
#include <functional>
#include <random>

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
    unsigned char at(int x, int y) const { return pix[static_cast<std::size_t>(y) * im.width + x]; }
    // Sets every pixel from f(x, y), clamped to 0..255.
    void fill(const std::function<double(int, int)>& f) {
        for (int y = 0; y < h(); ++y)
            for (int x = 0; x < w(); ++x) {
                const double v = f(x, y);
                at(x, y) = static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
    }
    void rect(int x0, int y0, int x1, int y1, unsigned char value) {  // inclusive corners
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                if (x >= 0 && y >= 0 && x < w() && y < h()) at(x, y) = value;
    }
    // Seeded noise of +-amplitude grey levels.
    void add_noise(int amplitude, std::uint32_t seed) {
        std::mt19937 gen(seed);
        std::uniform_int_distribution<int> d(-amplitude, amplitude);
        for (auto& p : pix) {
            const int v = p + d(gen);
            p = static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
    }
};

}  // namespace orva::testing
