// Robust mean of the axial coordinate over detectors and images.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "v23/image_preparation.h"

namespace orva {
namespace {

struct MeanY {
    double mean, y_dev, y_devW;
};

// TELKU misses are -1, the other detectors' 0.
struct Ys {
    std::vector<double> telku, twodf, virpa, dexla;
    explicit Ys(int n) : telku(n, -1.0), twodf(n, 0.0), virpa(n, 0.0), dexla(n, 0.0) {}
    MeanY mean() const {
        MeanY m{};
        m.mean = get_mean_y(static_cast<int>(telku.size()), telku, twodf, virpa, dexla, m.y_dev,
                            m.y_devW, nullptr);
        return m;
    }
};

TEST(MeanY, EqualValuesSingleValuesAndNothing) {
    Ys equal(5);
    for (auto* v : {&equal.telku, &equal.twodf, &equal.virpa, &equal.dexla}) v->assign(5, 137.0);
    Ys one(3);  // one positive value among misses: no spread, nothing divided by 0
    one.virpa[1] = 42.5;
    struct Case {
        Ys y;
        double mean;
    };
    for (const Case& c : {Case{equal, 137.0}, Case{one, 42.5}, Case{Ys(4), 0.0}}) {
        const MeanY m = c.y.mean();
        EXPECT_DOUBLE_EQ(m.mean, c.mean);
        EXPECT_EQ(m.y_dev, 0.0) << c.mean;
        EXPECT_EQ(m.y_devW, 0.0) << c.mean;
    }
}

TEST(MeanY, TwoValuesGiveKnownErrorsAndAFarValueIsRejected) {
    // Mean 100, d^2 = 100 each, s^2 = 200: both inside s^2, equal weights.
    Ys two(1);
    two.twodf[0] = 90.0;
    two.dexla[0] = 110.0;
    MeanY m = two.mean();
    EXPECT_DOUBLE_EQ(m.mean, 100.0);
    EXPECT_NEAR(m.y_dev, std::sqrt(200.0), 1e-12);  // sqrt(200 / 1) / sqrt(1)
    EXPECT_NEAR(m.y_devW, 10.0, 1e-12);             // sqrt((200 / 2) / 1)

    Ys far(3);
    far.telku = {99.0, 100.0, 101.0};
    far.twodf = {100.5, 99.5, 100.0};
    far.virpa = {100.2, 99.8, 0.0};
    far.dexla[2] = 300.0;
    m = far.mean();
    EXPECT_NEAR(m.mean, 100.0, 0.3);  // the plain mean would be 122
    EXPECT_GT(m.y_dev, 5.0);          // the plain error still sees the far value
    EXPECT_LT(m.y_devW, 0.5);         // the weighted one does not
}

}  // namespace
}  // namespace orva
