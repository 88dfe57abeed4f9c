// Whole-program runs on rendered series, compared with the scene's truth: both
// methods, every loop position, a known axis, half resolution, every input
// format, runs without a background image, pre-alignment, a pin through the
// view and empty views. (Their files are fixed byte for byte by the golden
// check; this says the answers are right.)
//
// Tolerances in input pixels: the default method's axis within 3 (5 at half
// resolution, where one analysed pixel is two input pixels), the crystal along
// the axis within 8, its radius within 6 and its phase within 12 degrees; a
// known axis comes back exactly. The version-2.3 method within 6, 10, 10 and
// 20 degrees (its detectors lean towards the loop centre). Pre-alignment
// follows the loop centre, within 25 along the axis.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "e2e/scene_run.h"

namespace orva {
namespace {

// Difference of two angles in degrees, folded into [0, 180].
double angle_gap(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

using Accuracy = testing::SceneRun;
using Values = std::map<std::string, double>;

double value(const Values& values, const std::string& key) {
    const auto it = values.find(key);
    return it == values.end() ? std::nan("") : it->second;
}

constexpr double SKIP = -1.0;

TEST_F(Accuracy, ResultsAgreeWithTheTruth) {
    const std::string clear = "--seed 2 --background ";  // a loop the loop stage outlines well
    const std::string half = clear + "--size 1280x960 ";
    const std::string v23 = "--vers23 --seed 7 ";
    const struct {
        std::string scene;
        bool loop;    // the truth of the loop centre, not the crystal
        bool turned;  // the axis is the result's row (version 2.3, loop from the side)
        double axis, along, radius, phase;
        int precentring, min_reliability;
    } cases[] = {
        // clang-format off
        {clear + "--loop-position 0", false, false, 3, 8, 6, 12, 0, 50},
        {clear + "--loop-position 1 --centre-coord --format pgm", false, false, 0.5, 8, 6, 12, 0, 50},
        {clear + "--loop-position 2 --format jpeg", false, false, 3, 8, 6, 12, 0, 50},
        {clear + "--loop-position 3 --centre-coord --format tiff-mm", false, false, 0.5, 8, 6, 12, 0, 50},
        {half + "--loop-position 2", false, false, 5, 8, 6, 12, 0, 50},
        {half + "--loop-position 3 --centre-coord", false, false, 0.5, SKIP, SKIP, SKIP, 0, -1},
        {"--seed 1", false, false, 3, 8, 6, 12, 0, 50},
        {"--seed 8 --format ppm", false, false, 3, 8, 6, 12, 0, 50},
        {clear + "--prealign", true, false, 3, 25, 5, 10, 1, -1},
        {"--prealign --vers23 --background --seed 4", true, false, 3, SKIP, SKIP, SKIP, 1, -1},
        {"--scene pin --seed 1", false, false, 3, 0.05 * 576, SKIP, SKIP, 1, -1},
        {"--scene empty --images 4", false, false, 0, 0, SKIP, SKIP, 1, -1},
        {v23 + "--loop-position 0", false, false, 6, 10, 10, 20, 0, 85},
        {v23 + "--loop-position 3 --format tiff-ii", false, true, 6, 10, 10, SKIP, 0, 85},
        {"--images 2 --seed 5", false, false, 6, 10, SKIP, SKIP, 0, -1},
        {"--scene pin --vers23 --loop-top -30 --pin-width 110 --seed 1", false, false, 6, SKIP,
         SKIP, SKIP, 1, -1},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scene);
        ASSERT_EQ(render_and_run(c.scene), 0) << messages;
        const auto want = [&](const char* key, const char* loop_key) {
            return value(truth, c.loop ? loop_key : key);
        };
        const double axis = value(result, c.turned ? "Y_CENTRE" : "X_CENTRE");
        const double along = value(result, c.turned ? "X_CENTRE" : "Y_CENTRE");
        EXPECT_NEAR(axis, want("X_CENTRE", "LOOP_X_CENTRE"), c.axis);
        const auto near = [&](const char* what, double got, double wanted, double tolerance) {
            if (tolerance == SKIP) return;
            EXPECT_LE(std::fabs(got - wanted), tolerance) << what << " " << got << " " << wanted;
        };
        near("along", along, want("Y_CENTRE", "LOOP_Y_CENTRE"), c.along);
        near("radius", value(result, "RADIUS"), want("RADIUS", "LOOP_RADIUS"), c.radius);
        near("phase", angle_gap(value(result, "TARGET_ANGLE"), want("TARGET_ANGLE", "LOOP_PHASE")),
             0, c.phase);
        EXPECT_EQ(value(result, "PRECENTRING"), c.precentring);
        EXPECT_GE(value(result, "RELIABILITY"), c.min_reliability);
    }
}

}  // namespace
}  // namespace orva
