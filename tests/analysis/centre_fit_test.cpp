// Mean position with too few images, and the combined motion fit with an
// unknown or a known axis.
#include "analysis/centre_fit.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orva {
namespace {

ObservationTable sinusoid(double x0, double radius, double phi0, double y0, int n) {
    ObservationTable t;
    for (int i = 0; i < n; ++i) {
        const double a = 360.0 * i / n;
        t.add(a, x0 + radius * std::cos((a - phi0) * RADIAN), y0);
    }
    return t;
}

TEST(CentreFit, MeansBelowTheImageThreshold) {
    ObservationTable t;
    t.add(0.0, 100.0, 40.0);
    t.add(0.0, 0.0, 60.0);  // x missing: only its y counts
    t.add(90.0, 110.0, -3.0);
    PARAMS mp;
    mp.radius = 7.0;
    mp.phi0 = 12.0;
    EXPECT_EQ(centre_fit(mp, t, 2, false, -1.0), 0);  // 3 images needed
    EXPECT_DOUBLE_EQ(mp.x0, 105.0);
    EXPECT_DOUBLE_EQ(mp.y0, 50.0);
    EXPECT_EQ(mp.radius, 7.0);  // as the width fit left it
    EXPECT_EQ(mp.phi0, 12.0);

    PARAMS known;
    EXPECT_EQ(centre_fit(known, t, 1, true, 80.0), 0);  // 2 needed with a known axis
    EXPECT_DOUBLE_EQ(known.x0, 105.0);
}

TEST(CentreFit, MotionFitUnknownAxisOverridesTheWidthFit) {
    ObservationTable t = sinusoid(200.0, 30.0, -45.0, 150.0, 8);
    PARAMS mp;
    mp.x0 = 55.0;  // what the loop-width fit left
    ASSERT_EQ(centre_fit(mp, t, 3, false, 123.0), 0);
    EXPECT_NEAR(mp.x0, 200.0, 1e-6);
    EXPECT_NEAR(mp.y0, 150.0, 1e-6);
    EXPECT_NEAR(mp.radius, 30.0, 1e-6);
    EXPECT_NEAR(mp.phi0, -45.0, 1e-4);
    for (int i = 0; i < t.count(); ++i) EXPECT_NEAR(t.est_x[i], t.x[i], 1e-6);
}

TEST(CentreFit, MotionFitKnownAxisHoldsIt) {
    ObservationTable t = sinusoid(200.0, 30.0, 60.0, 150.0, 8);
    PARAMS mp;
    mp.x0 = 55.0;
    ASSERT_EQ(centre_fit(mp, t, 2, true, 190.0), 0);
    EXPECT_EQ(mp.x0, 190.0);
    EXPECT_NEAR(mp.y0, 150.0, 1e-6);
    EXPECT_NEAR(mp.radius, 30.0, 1e-6);
    EXPECT_NEAR(mp.phi0, 60.0, 1e-4);
}

}  // namespace
}  // namespace orva
