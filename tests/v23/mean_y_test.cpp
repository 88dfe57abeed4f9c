// Robust mean of the axial coordinate over detectors and images.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "v23/image_preparation.h"

namespace orva {
namespace {

struct Ys {
    std::vector<double> telku, twodf, virpa, dexla;
    explicit Ys(int n) : telku(n, -1.0), twodf(n, 0.0), virpa(n, 0.0), dexla(n, 0.0) {}
};

struct MeanY {
    double mean, y_dev, y_devW;
};

MeanY mean_of(const Ys& y, int n) {
    MeanY m{};
    m.mean = get_mean_y(n, y.telku, y.twodf, y.virpa, y.dexla, m.y_dev, m.y_devW, nullptr);
    return m;
}

TEST(MeanY, EqualValuesAndSingleValues) {
    Ys y(5);
    for (int i = 0; i < 5; ++i) y.telku[i] = y.twodf[i] = y.virpa[i] = y.dexla[i] = 137.0;
    MeanY m = mean_of(y, 5);
    EXPECT_DOUBLE_EQ(m.mean, 137.0);
    EXPECT_EQ(m.y_dev, 0.0);
    EXPECT_EQ(m.y_devW, 0.0);

    // One positive value among misses: that value, no spread, nothing divided by 0.
    Ys one(3);
    one.virpa[1] = 42.5;
    m = mean_of(one, 3);
    EXPECT_DOUBLE_EQ(m.mean, 42.5);
    EXPECT_EQ(m.y_dev, 0.0);
    EXPECT_EQ(m.y_devW, 0.0);

    // Nothing positive.
    m = mean_of(Ys(4), 4);
    EXPECT_EQ(m.mean, 0.0);
    EXPECT_EQ(m.y_dev, 0.0);
    EXPECT_EQ(m.y_devW, 0.0);
}

TEST(MeanY, TwoValuesGiveKnownErrors) {
    // Mean 100, d^2 = 100 each, s^2 = 200: both inside s^2, equal weights.
    Ys y(1);
    y.twodf[0] = 90.0;
    y.dexla[0] = 110.0;
    const MeanY m = mean_of(y, 1);
    EXPECT_DOUBLE_EQ(m.mean, 100.0);
    EXPECT_NEAR(m.y_dev, std::sqrt(200.0), 1e-12);  // sqrt(200 / 1) / sqrt(1)
    EXPECT_NEAR(m.y_devW, 10.0, 1e-12);             // sqrt((200 / 2) / 1)
}

TEST(MeanY, FarValueIsRejected) {
    Ys y(3);
    const double near[] = {99.0, 100.0, 101.0, 100.5, 99.5, 100.0, 100.2, 99.8};
    for (int i = 0; i < 3; ++i) {
        y.telku[i] = near[i];
        y.twodf[i] = near[i + 3];
        y.virpa[i] = i < 2 ? near[i + 6] : 0.0;
    }
    y.dexla[2] = 300.0;
    const MeanY m = mean_of(y, 3);
    EXPECT_NEAR(m.mean, 100.0, 0.3);  // the plain mean would be 122
    EXPECT_GT(m.y_dev, 5.0);          // the plain error still sees the far value
    EXPECT_LT(m.y_devW, 0.5);         // the weighted one does not
}

}  // namespace
}  // namespace orva
