// Whole-program runs of the TRACK method on rendered series: a crystal near the
// loop's rim is centred (with the candidates in the run log and the crosses on
// the trajectory), an empty loop and a pin-only view give the loop answer with
// PRECENTRING 1, views that cannot fix a trajectory say so, and a run of two
// images goes to the method the job would get without TRACK.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "e2e/scene_run.h"

namespace orva {
namespace {

using testing::file_exists;
using testing::read_file;

double angle_difference(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

class TrackRun : public testing::SceneRun {
  protected:
    int run(const std::string& scene_args) { return render_and_run("--line TRACK " + scene_args); }
};

TEST_F(TrackRun, CrystalNearTheRimIsCentredWithLogAndCrosses) {
    ASSERT_EQ(run("--seed 7 --images 8 --loop-position 3 --crystal-size 40 --radius 70 "
                  "--crystal-across 0.95 --set-cross --logoutx"),
              0);
    EXPECT_EQ(result["PRECENTRING"], 0);
    EXPECT_NEAR(result["X_CENTRE"], truth["X_CENTRE"], 5.0);
    EXPECT_NEAR(result["Y_CENTRE"], truth["Y_CENTRE"], 10.0);
    EXPECT_NEAR(result["RADIUS"], truth["RADIUS"], 10.0);
    EXPECT_NEAR(angle_difference(result["TARGET_ANGLE"], truth["TARGET_ANGLE"]), 0.0, 20.0);
    EXPECT_GE(result["RELIABILITY"], 30);
    EXPECT_TRUE(said("TRACK: the crystal moves through"));
    const std::string log = read_file(path("logORVA.txt"));
    EXPECT_NE(log.find("# TRACK candidates per image"), std::string::npos);
    EXPECT_NE(log.find("*"), std::string::npos);
    EXPECT_TRUE(file_exists(path("cross_07.jpg")));
    EXPECT_TRUE(file_exists(path("centre.jpg")));
}

TEST_F(TrackRun, NoCrystalGivesTheLoopAnswer) {
    for (const char* scene : {"--scene loop --seed 4 --images 8", "--scene pin --seed 5 --images 8",
                              "--scene empty --seed 6 --images 4"}) {
        ASSERT_EQ(run(scene), 0) << scene;
        EXPECT_EQ(result["PRECENTRING"], 1) << scene;
    }
    EXPECT_TRUE(said("All images are empty."));
    ASSERT_EQ(run("--scene loop --seed 4 --images 8"), 0);
    EXPECT_TRUE(said("TRACK: nothing moves like a crystal through the series."));
    EXPECT_NEAR(result["X_CENTRE"], truth["X_CENTRE"], 8.0);
}

TEST_F(TrackRun, ViewsOfOneAngleAndItsHalfTurnTellNothing) {
    ASSERT_EQ(run("--seed 7 --images 4 --angles 10,10,190,190 --crystal-size 40"), 0);
    EXPECT_EQ(result["PRECENTRING"], 1);
    EXPECT_EQ(result["RELIABILITY"], 0);
    EXPECT_TRUE(
        said("TRACK: the images lie too close in angle (or half a turn apart) to "
             "follow an object."));
}

TEST_F(TrackRun, TwoImagesTakeTheMethodTheJobWouldGet) {
    ASSERT_EQ(run("--seed 8 --images 2"), 0);
    EXPECT_TRUE(said("TRACK needs at least three images; the version-2.3 method is used."));
}

}  // namespace
}  // namespace orva
