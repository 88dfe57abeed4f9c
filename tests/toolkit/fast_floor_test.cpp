#include "toolkit/fast_floor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace orva {
namespace {

// Integers, halves, values one step beside them, both zeros and large values.
std::vector<double> edge_values() {
    std::vector<double> v = {0.0,
                             -0.0,
                             0.5,
                             -0.5,
                             1e-300,
                             -1e-300,
                             4503599627370496.0,
                             -4503599627370497.0,
                             9007199254740993.0,
                             1e18,
                             -1e18};
    for (int k = -300; k <= 300; ++k) {
        const double x = k * 0.5;
        v.push_back(x);
        v.push_back(std::nextafter(x, -1e9));
        v.push_back(std::nextafter(x, 1e9));
    }
    return v;
}

TEST(FastFloor, FloorToLongIsTheLibraryFloor) {
    std::vector<double> values = edge_values();
    std::mt19937_64 rng(123);
    std::uniform_real_distribution<double> wide(-1e6, 1e6), narrow(-3.0, 3.0);
    for (int k = 0; k < 20000; ++k) values.push_back(k % 2 ? wide(rng) : narrow(rng));
    for (double v : values) ASSERT_EQ(floor_to_long(v), static_cast<long>(std::floor(v))) << v;
}

TEST(FastFloor, FloorToByteIsTheClampedLibraryFloor) {
    std::vector<double> values = edge_values();
    for (double x : {254.5, 255.0, 255.5, 256.0, 1e9, -1e9})
        for (double y : {x, std::nextafter(x, -1e10), std::nextafter(x, 1e10)}) values.push_back(y);
    std::mt19937_64 rng(321);
    std::uniform_real_distribution<double> around(-20.0, 280.0);
    for (int k = 0; k < 20000; ++k) values.push_back(around(rng));
    for (double v : values) {
        const double f = std::floor(v);
        const unsigned char want = f < 0.0 ? 0 : f > 255.0 ? 255 : static_cast<unsigned char>(f);
        ASSERT_EQ(floor_to_byte(v), want) << v;
    }
}

}  // namespace
}  // namespace orva
