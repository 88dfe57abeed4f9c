// Mean position with too few images, and the combined motion fit with an
// unknown or a known axis.
#include "analysis/centre_fit.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orva {
namespace {

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
    EXPECT_EQ(mp.radius + mp.phi0, 19.0);  // as the width fit left them

    PARAMS known;
    EXPECT_EQ(centre_fit(known, t, 1, true, 80.0), 0);  // 2 needed with a known axis
    EXPECT_DOUBLE_EQ(known.x0, 105.0);
}

TEST(CentreFit, MotionFitReplacesTheWidthFitAndHoldsAKnownAxis) {
    for (const bool known : {false, true}) {
        SCOPED_TRACE(known);
        ObservationTable t;
        for (int i = 0; i < 8; ++i)
            t.add(45.0 * i, 200.0 + 30.0 * std::cos((45.0 * i - 60.0) * RADIAN), 150.0);
        PARAMS mp;
        mp.x0 = 55.0;  // what the loop-width fit left
        ASSERT_EQ(centre_fit(mp, t, known ? 2 : 3, known, known ? 190.0 : 123.0), 0);
        EXPECT_NEAR(mp.x0, known ? 190.0 : 200.0, known ? 0.0 : 1e-6);  // a known one exactly
        EXPECT_NEAR(mp.y0, 150.0, 1e-6);
        EXPECT_NEAR(mp.radius, 30.0, 1e-6);
        EXPECT_NEAR(mp.phi0, 60.0, 1e-4);
        EXPECT_NEAR(t.est_x[3] - t.x[3], known ? -10.0 : 0.0, 1e-6);
    }
}

}  // namespace
}  // namespace orva
