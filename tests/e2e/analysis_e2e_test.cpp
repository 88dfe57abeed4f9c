// Whole-program runs of the analysis on rendered rotation series: empty
// views, pre-alignment, every loop position with and without a known axis,
// half resolution, JPEG and PGM input, runs without a background image, and
// the cross images and logs.
//
// Tolerances (input-image pixels unless said otherwise): the spindle axis
// within 3 (5 at half resolution, where one analysed pixel is two input
// pixels); a known axis is reported back exactly; the crystal along the axis
// within 8, its radius within 6 and its phase within 12 degrees on a scene
// whose loop the loop stage outlines well; loop centres of a pre-alignment
// within 25 along the axis.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <sys/wait.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/scene_run.h"

namespace orva {
namespace {

using testing::angle_difference;
using testing::file_exists;
using testing::key_values;
using testing::read_file;

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    bool red_at(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return false;
        const unsigned char* p = &rgb[3 * (static_cast<std::size_t>(y) * width + x)];
        return p[0] > 180 && p[1] < 90 && p[2] < 90;
    }
};

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void jpeg_fail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// Decodes a JPEG file into RGB; width 0 when it cannot be read.
RgbImage read_rgb_jpeg(const std::string& name) {
    const std::string data = read_file(name);
    RgbImage image;
    if (data.empty()) return image;
    jpeg_decompress_struct info{};
    JpegError error{};
    info.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = jpeg_fail;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return RgbImage{};
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.data()), data.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    image.width = static_cast<int>(info.output_width);
    image.height = static_cast<int>(info.output_height);
    image.rgb.resize(3 * static_cast<std::size_t>(image.width) * image.height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &image.rgb[3 * static_cast<std::size_t>(info.output_scanline) * image.width];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return image;
}

class AnalysisRun : public testing::SceneRun {
  protected:
    double got(const std::string& key) const {
        const auto it = result.find(key);
        return it == result.end() ? -9999.0 : it->second;
    }
    double want(const std::string& key) const {
        const auto it = truth.find(key);
        return it == truth.end() ? 9999.0 : it->second;
    }

    void expect_crystal(double axis_tol, double row_tol, const std::string& what) {
        EXPECT_EQ(got("PRECENTRING"), 0) << what;
        EXPECT_NEAR(got("X_CENTRE"), want("X_CENTRE"), axis_tol) << what;
        EXPECT_NEAR(got("Y_CENTRE"), want("Y_CENTRE"), row_tol) << what;
        EXPECT_NEAR(got("RADIUS"), want("RADIUS"), 6.0) << what;
        EXPECT_NEAR(angle_difference(got("TARGET_ANGLE"), want("TARGET_ANGLE")), 0.0, 12.0) << what;
        EXPECT_GE(got("RELIABILITY"), 50) << what;
    }
};

// The scene whose loop the loop stage outlines well in every view.
const std::string CLEAR_SCENE = "--seed 2 --background";

TEST_F(AnalysisRun, EmptyViewIsAPrecentringWithoutCentre) {
    for (const char* extra : {"", " --background"}) {
        const std::string args = std::string("--scene empty --images 4") + extra;
        ASSERT_EQ(render_and_run(args), 0) << args;
        EXPECT_TRUE(said("\n### ! All images are empty.")) << args;
        EXPECT_TRUE(said("\n### ! 'PRECENTRING' is set to '1' in output file")) << args;
        EXPECT_TRUE(said("Number of non-empty images (0) is too low")) << args;
        EXPECT_TRUE(said("\nORVA ready.\n"));
        EXPECT_EQ(got("X_CENTRE"), -1) << args;
        EXPECT_EQ(got("Y_CENTRE"), -1) << args;
        EXPECT_EQ(got("PRECENTRING"), 1) << args;
        EXPECT_EQ(got("RELIABILITY"), -1) << args;
        EXPECT_EQ(got("RADIUS"), 0) << args;
        EXPECT_EQ(read_file(path("Orva_check.txt")), "1");
    }
}

// A wide pin through the whole view, seen against a background image, is a
// pre-centring on the pin: the axis within 3, and along it the top of the view,
// where the pin leaves it (the loop part of such a run is the object's top 5 %
// of rows, so within 0.05 of the view's height).
TEST_F(AnalysisRun, PinOnlyIsAPrecentring) {
    for (int seed : {1, 2}) {
        const std::string args = "--scene pin --seed " + std::to_string(seed);
        ASSERT_EQ(render_and_run(args), 0) << args;
        EXPECT_TRUE(said("\n### ! The pin covers a wide area of the image.")) << args;
        EXPECT_FALSE(said("Modelling Xtal motion")) << args;
        EXPECT_EQ(got("PRECENTRING"), 1) << args;
        EXPECT_NEAR(got("X_CENTRE"), want("X_CENTRE"), 3.0) << args;
        EXPECT_NEAR(got("Y_CENTRE"), want("Y_CENTRE"), 0.05 * 576) << args;
    }
}

TEST_F(AnalysisRun, PrealignmentFindsTheLoopCentre) {
    ASSERT_EQ(render_and_run(CLEAR_SCENE + " --prealign"), 0);
    EXPECT_TRUE(said("\n Modelling PIN/Pre-Alignment"));
    EXPECT_FALSE(said("Modelling Xtal motion"));
    EXPECT_EQ(got("PRECENTRING"), 1);
    EXPECT_NEAR(got("X_CENTRE"), want("LOOP_X_CENTRE"), 3.0);
    EXPECT_NEAR(got("Y_CENTRE"), want("LOOP_Y_CENTRE"), 25.0);
    // The loop sits off the axis: its centre turns on a circle of its own.
    EXPECT_NEAR(got("RADIUS"), want("LOOP_RADIUS"), 5.0);
    EXPECT_NEAR(angle_difference(got("TARGET_ANGLE"), want("LOOP_PHASE")), 0.0, 10.0);

    // The axis comes out right for other loops as well, and VERS23 does not
    // take a pre-alignment away from the default method.
    for (int seed : {1, 4, 6}) {
        const std::string args = "--prealign --vers23 --background --seed " + std::to_string(seed);
        ASSERT_EQ(render_and_run(args), 0) << args;
        EXPECT_EQ(got("PRECENTRING"), 1) << args;
        EXPECT_NEAR(got("X_CENTRE"), want("LOOP_X_CENTRE"), 3.0) << args;
    }
}

TEST_F(AnalysisRun, EveryLoopPosition) {
    for (int pos = 0; pos < 4; ++pos) {
        const std::string args = CLEAR_SCENE + " --loop-position " + std::to_string(pos);
        ASSERT_EQ(render_and_run(args), 0) << args;
        expect_crystal(3.0, 8.0, args);
        EXPECT_TRUE(said("\n Modelling Xtal motion"));
    }
}

TEST_F(AnalysisRun, KnownAxisIsReportedBackForEveryLoopPosition) {
    for (int pos = 0; pos < 4; ++pos) {
        const std::string args =
            CLEAR_SCENE + " --centre-coord --loop-position " + std::to_string(pos);
        ASSERT_EQ(render_and_run(args), 0) << args;
        EXPECT_EQ(got("X_CENTRE"), std::floor(want("X_CENTRE") + 0.5)) << args;
        expect_crystal(0.5, 8.0, args);
    }
    // Half resolution, loop from the right.
    const std::string args = CLEAR_SCENE + " --size 1280x960 --loop-position 3 --centre-coord";
    ASSERT_EQ(render_and_run(args), 0);
    EXPECT_EQ(got("X_CENTRE"), std::floor(want("X_CENTRE") + 0.5));
}

TEST_F(AnalysisRun, HalfResolution) {
    for (int pos : {0, 2}) {
        const std::string args =
            CLEAR_SCENE + " --size 1280x960 --loop-position " + std::to_string(pos);
        ASSERT_EQ(render_and_run(args), 0) << args;
        expect_crystal(5.0, 8.0, args);
        // The loop width stays in analysed (halved) pixels.
        EXPECT_NEAR(got("LOOP_WIDTH"), want("LOOP_WIDTH"), 0.2 * want("LOOP_WIDTH")) << args;
    }
}

TEST_F(AnalysisRun, JpegAndPgmInput) {
    for (const char* format : {"jpeg", "pgm"}) {
        const std::string args = CLEAR_SCENE + " --format " + format;
        ASSERT_EQ(render_and_run(args), 0) << args;
        expect_crystal(3.0, 8.0, args);
    }
}

// Without a background image the loops are found by change across the series:
// an off-axis, leaning loop changes between every two views, so the crystal is
// found with the same tolerances as with a background image. (A long prism can
// draw the detectors to one of its ends, as with seed 5, and the axis of seed 3
// comes out 5 px off a 76 px crystal; such scenes are left to the accuracy
// benchmark.)
TEST_F(AnalysisRun, WithoutBackgroundTheCrystalIsFound) {
    for (int seed : {1, 2, 8, 9}) {
        const std::string args = "--seed " + std::to_string(seed);
        ASSERT_EQ(render_and_run(args), 0) << args;
        EXPECT_FALSE(said("All images are empty.")) << args;
        expect_crystal(3.0, 8.0, args);
    }
}

TEST_F(AnalysisRun, CrossImagesAndLogs) {
    ASSERT_EQ(render_and_run(CLEAR_SCENE + " --set-cross --logoutx --images 6"), 0);
    EXPECT_TRUE(said("\n Output cross images"));

    const std::string log = read_file(path("logORVA.txt"));
    EXPECT_EQ(log.rfind("# ORVA version 3.00\n# ---", 0), 0u);
    for (const char* part :
         {"\n# Number of processed images: 6", "Box details 5 ", "\nEstimated Width ",
          "\n\n# bulge determination for image: ", "\n#\n# final coord after LS",
          "\n# correction of coordinates according loop position and cut borders",
          "\n#\n# Deviation of coordinates\n# p_dev: ", "\n# cosine parameter in original image",
          "\n# CRYSTAL_CENTRES: "})
        EXPECT_NE(log.find(part), std::string::npos) << part;
    const std::string tail = "\n# total duration: ";
    ASSERT_NE(log.rfind(tail), std::string::npos);
    EXPECT_EQ(log.back(), '\n');

    // The crosses sit where the log says, near the true crystal positions.
    const std::size_t at = log.find("\n# CRYSTAL_CENTRES: ");
    std::istringstream positions(log.substr(at + 20, log.find('\n', at + 1) - at - 20));
    const double x_axis = want("X_CENTRE"), radius = want("RADIUS"), phase = want("TARGET_ANGLE");
    const double row = want("Y_CENTRE");
    const double angles[6] = {0, 60, 120, 180, 240, 300};
    for (int q = 0; q < 6; ++q) {
        int x = 0, y = 0;
        char comma = 0;
        ASSERT_TRUE(positions >> x >> comma >> y) << q;
        const double true_x = x_axis + radius * std::cos((angles[q] - phase) * M_PI / 180.0);
        EXPECT_NEAR(x, true_x, 10.0) << q;
        EXPECT_NEAR(y, row, 8.0) << q;
        char name[32];
        std::snprintf(name, sizeof name, "cross_%02d.jpg", q);
        const RgbImage cross = read_rgb_jpeg(path(name));
        ASSERT_EQ(cross.width, 768) << name;
        ASSERT_EQ(cross.height, 576) << name;
        EXPECT_TRUE(cross.red_at(x, y)) << name;
        EXPECT_TRUE(cross.red_at(x - 9, y) && cross.red_at(x + 9, y)) << name;
        EXPECT_TRUE(cross.red_at(x, y - 9) && cross.red_at(x, y + 9)) << name;
        EXPECT_FALSE(cross.red_at(x + 14, y) || cross.red_at(x + 5, y + 5)) << name;
    }
    EXPECT_FALSE(file_exists(path("cross_06.jpg")));
    const RgbImage centre = read_rgb_jpeg(path("centre.jpg"));
    EXPECT_EQ(centre.width, 768);
    EXPECT_EQ(centre.height, 576);

    // The figures file repeats the result.
    const std::string figures = read_file(path("log_res2.txt"));
    const std::string header =
        "#img  w    h   phi0 radius Y_POS X_POS  DEV_P  DEV_Q  DEV_2D  DEV_V  ESD    GoF  "
        "C_radius  precentring reliability DEV_X0\n";
    ASSERT_EQ(figures.rfind(header, 0), 0u);
    std::istringstream row_fields(figures.substr(header.size()));
    double f[17];
    for (double& v : f) ASSERT_TRUE(row_fields >> v);
    EXPECT_EQ(f[0], 6);
    EXPECT_EQ(f[1], 768);
    EXPECT_EQ(f[2], 576);
    EXPECT_EQ(f[3], std::floor(got("TARGET_ANGLE")));
    EXPECT_EQ(f[4], got("RADIUS"));
    EXPECT_EQ(f[5], got("Y_CENTRE"));
    EXPECT_EQ(f[6], got("X_CENTRE"));
    EXPECT_EQ(f[14], got("PRECENTRING"));
    EXPECT_EQ(f[15], got("RELIABILITY"));
    EXPECT_EQ(figures.back(), '\n');
}

TEST_F(AnalysisRun, Vers23RunIsHandedToTheOlderMethod) {
    ASSERT_EQ(render_and_run(CLEAR_SCENE + " --vers23 --images 4"), 0);
    // Only the default pipeline extracts loops image by image.
    EXPECT_FALSE(said("\n Processing Images:"));
    EXPECT_TRUE(said("\nORVA ready.\n"));
    EXPECT_TRUE(file_exists(path("result.txt")));
}

}  // namespace
}  // namespace orva
