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

// n images; TELKU misses are -1, the other detectors' 0.
MeanY mean_y(int n, std::vector<double> telku, std::vector<double> twodf, std::vector<double> virpa,
             std::vector<double> dexla) {
    for (auto* v : {&twodf, &virpa, &dexla}) v->resize(n, 0.0);
    telku.resize(n, -1.0);
    MeanY m{};
    m.mean = get_mean_y(n, telku, twodf, virpa, dexla, m.y_dev, m.y_devW, nullptr);
    return m;
}

TEST(MeanY, KnownErrorsAFarValueRejectedAndNoDivisionByZero) {
    const std::vector<double> same(5, 137.0);
    // One positive value among misses: that value, no spread, nothing divided by 0.
    for (const auto& [m, mean] : {std::pair{mean_y(5, same, same, same, same), 137.0},
                                  {mean_y(3, {}, {}, {0, 42.5}, {}), 42.5},
                                  {mean_y(4, {}, {}, {}, {}), 0.0}}) {
        EXPECT_DOUBLE_EQ(m.mean, mean);
        EXPECT_EQ(m.y_dev, 0.0) << mean;
        EXPECT_EQ(m.y_devW, 0.0) << mean;
    }

    // Mean 100, d^2 = 100 each, s^2 = 200: both inside s^2, equal weights.
    MeanY m = mean_y(1, {}, {90.0}, {}, {110.0});
    EXPECT_DOUBLE_EQ(m.mean, 100.0);
    EXPECT_NEAR(m.y_dev, std::sqrt(200.0), 1e-12);  // sqrt(200 / 1) / sqrt(1)
    EXPECT_NEAR(m.y_devW, 10.0, 1e-12);             // sqrt((200 / 2) / 1)

    m = mean_y(3, {99.0, 100.0, 101.0}, {100.5, 99.5, 100.0}, {100.2, 99.8}, {0, 0, 300.0});
    EXPECT_NEAR(m.mean, 100.0, 0.3);  // the plain mean would be 122
    EXPECT_GT(m.y_dev, 5.0);          // the plain error still sees the far value
    EXPECT_LT(m.y_devW, 0.5);         // the weighted one does not
}

}  // namespace
}  // namespace orva
