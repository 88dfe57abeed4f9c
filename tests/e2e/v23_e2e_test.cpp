// Whole-program runs of the version-2.3 method on rendered series: a two-image
// job without a known axis, VERS23 jobs of 8 images at every loop position, an
// empty view, a pin through the whole view, and its logs and cross images.
//
// The method reports true image coordinates for every loop position: X_CENTRE
// is a column and Y_CENTRE a row. For loop positions 2 and 3 the spindle axis
// is therefore Y_CENTRE and the position along it X_CENTRE, the other way
// round from the rendered truth (whose X_CENTRE is always the axis).
// Tolerances (input pixels): the axis within 6, the position along it within
// 10, the radius within 10 (the detectors lean towards the loop centre), the
// phase within 20 degrees.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "e2e/scene_run.h"

namespace orva {
namespace {

using testing::file_exists;
using testing::read_file;

double phase_gap(double a, double b) { return std::fabs(testing::angle_difference(a, b)); }

class Version23Run : public testing::SceneRun {
  protected:
    bool has(const std::string& text) const { return said(text); }
    int count(const std::string& text) const {
        int n = 0;
        for (auto p = messages.find(text); p != std::string::npos; p = messages.find(text, p + 1))
            ++n;
        return n;
    }
};

TEST_F(Version23Run, TwoImagesWithoutKnownAxis) {
    const int status = render_and_run("--images 2 --seed 5");
    ASSERT_EQ(status, 0) << messages;
    EXPECT_EQ(read_file(path("Orva_check.txt")), "1");
    EXPECT_TRUE(has("\n Processing Image 0"));
    EXPECT_TRUE(has("\n Processing Image 1"));
    EXPECT_TRUE(has("Number of non-empty images (2)  is too low for optimal detection!"));
    EXPECT_TRUE(has("\n### ! The RELIABILITY of coordinates is rather low (-100 %)."));
    EXPECT_TRUE(has("\nORVA ready.\n"));
    ASSERT_EQ(result.size(), 8u);
    EXPECT_EQ(result["RELIABILITY"], -1);
    EXPECT_EQ(result["PRECENTRING"], 0);
    EXPECT_EQ(result["TARGET_ANGLE"], 0);  // no sinusoid for two images
    EXPECT_EQ(result["RADIUS"], 0);
    // Images at 0 and 180 degrees: the mean of the positions is the axis.
    EXPECT_NEAR(result["X_CENTRE"], truth["X_CENTRE"], 6);
    EXPECT_NEAR(result["Y_CENTRE"], truth["Y_CENTRE"], 10);
}

TEST_F(Version23Run, EightImagesEveryLoopPosition) {
    for (int loop_pos = 0; loop_pos < 4; ++loop_pos) {
        SCOPED_TRACE(loop_pos);
        const int status =
            render_and_run("--vers23 --seed 7 --loop-position " + std::to_string(loop_pos));
        ASSERT_EQ(status, 0) << messages;
        EXPECT_EQ(count("\n Processing Image "), 8);
        EXPECT_FALSE(has("seems to be empty"));
        EXPECT_FALSE(has("is too low for optimal detection"));
        EXPECT_EQ(result["PRECENTRING"], 0);
        EXPECT_GE(result["RELIABILITY"], 85);
        const bool turned = loop_pos >= 2;
        const double axis = turned ? result["Y_CENTRE"] : result["X_CENTRE"];
        const double along = turned ? result["X_CENTRE"] : result["Y_CENTRE"];
        EXPECT_NEAR(axis, truth["X_CENTRE"], 6);
        EXPECT_NEAR(along, truth["Y_CENTRE"], 10);
        EXPECT_NEAR(result["RADIUS"], truth["RADIUS"], 10);
        if (loop_pos != 3) {
            EXPECT_LT(phase_gap(result["TARGET_ANGLE"], truth["TARGET_ANGLE"]), 20);
        }
    }
}

TEST_F(Version23Run, AllImagesEmpty) {
    const int status = render_and_run("--scene empty --vers23 --images 4 --size 320x240");
    ASSERT_EQ(status, 0) << messages;
    EXPECT_EQ(count("\n\torva_conventional: Image seems to be empty !"), 4);
    EXPECT_TRUE(
        has("\n### ! All images are empty."
            "\n### ! 'PRECENTRING' is set to '1' in output file"
            "\n### ! Either there is no loop at all or the loop"
            "\n### !  has to be moved along the spindle axis"
            "\n### !  into the field of the camera view."
            "\n### ! -------------------------------------------\n"));
    EXPECT_TRUE(has("\n= Warning !!  Number of non-empty images (0)  is too low"));
    EXPECT_TRUE(
        has("\n### ! The RELIABILITY of coordinates is rather low (-100 %)."
            "\n### ! Check the recorded images!"
            "\n### ! Something senseful should be initiated!"));
    EXPECT_EQ(result["PRECENTRING"], 1);
    EXPECT_EQ(result["RELIABILITY"], -1);
    EXPECT_EQ(result["X_CENTRE"], -1);
    EXPECT_EQ(result["Y_CENTRE"], 240 - 4 - 4);  // cleaned height, no border added
    EXPECT_EQ(result["TARGET_ANGLE"], 0);
    EXPECT_EQ(result["RADIUS"], 0);
}

TEST_F(Version23Run, PinThroughTheWholeView) {
    // A pin as thin as at a centring zoom, its end just beyond the top edge. (A
    // pin wider than about a quarter of the view leaves its cone's flanks in the
    // pin-free image, where the crystal detectors then place X_CENTRE.)
    const int status =
        render_and_run("--scene pin --vers23 --loop-top -30 --pin-width 110 --seed 1");
    ASSERT_EQ(status, 0) << messages;
    EXPECT_TRUE(
        has("\n### ! The pin covers a wide area of the image."
            "\n### ! 'PRECENTRING' is set to '1' in output file"
            "\n### ! 'Y_CENTRE' and 'X_CENTRE' can be interpreted"
            "\n### !  as coordinates of the tip of the pin."
            "\n### ! Thus, a accurate precentring is possible."));
    EXPECT_FALSE(has("All images are empty"));
    EXPECT_EQ(result["PRECENTRING"], 1);
    EXPECT_NEAR(result["X_CENTRE"], truth["X_CENTRE"], 6);
    EXPECT_LT(result["Y_CENTRE"], 576 / 4);  // near the top, where the pin leaves the view
}

TEST_F(Version23Run, LogsAndCrossImages) {
    const int status = render_and_run("--vers23 --images 4 --seed 11 --logoutx --set-cross");
    ASSERT_EQ(status, 0) << messages;
    const std::string log = read_file(path("logORVA.txt"));
    EXPECT_NE(log.find("# ORVA version 3.00"), std::string::npos);
    EXPECT_NE(log.find("\n# Image No.:   3"), std::string::npos);
    EXPECT_NE(log.find("# modified top candidate from TELKU"), std::string::npos);
    EXPECT_NE(log.find("\n\n# final y coord after weigthing"), std::string::npos);
    EXPECT_NE(log.find("\n#\n# Deviation of coordinates\n# p_dev: "), std::string::npos);
    const std::string figures = read_file(path("log_res2.txt"));
    EXPECT_NE(figures.find("\nCORRCOEFF "), std::string::npos);
    EXPECT_NE(figures.find("#img  w    h   phi0 radius Y_POS X_POS"), std::string::npos);
    for (int q = 0; q < 4; ++q) {
        char name[32];
        std::snprintf(name, sizeof name, "cross_%02d.jpg", q);
        EXPECT_TRUE(file_exists(path(name))) << name;
    }
    EXPECT_FALSE(file_exists(path("centre.jpg")));
}

}  // namespace
}  // namespace orva
