// Result coordinates for every loop position, phase folding, reliability,
// cross positions, the figures file and the whole result stage.
#include "analysis/result_stage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "log_capture.h"
#include "run/scratch_dir.h"

namespace orva {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

const std::string BAR = "================================";

TEST(ResultCoordinates, EveryLoopPositionAndHalfResolution) {
    // A 300 x 200 cut image, left border 4, top border 6; floor(v + 0.5), also below 0.
    const struct {
        double x0, y0;
        int pos, sub, x, y;
    } cases[] = {
        // clang-format off
        {50.4, 20.6, 0, 0, 54, 27},  {50.4, 20.6, 1, 0, 54, 184},  {50.4, 20.6, 2, 0, 56, 182},
        {50.4, 20.6, 3, 0, 255, 25}, {50.4, 20.6, 0, 1, 105, 47},  {50.4, 20.6, 1, 1, 105, 364},
        {50.4, 20.6, 2, 1, 107, 362}, {50.4, 20.6, 3, 1, 504, 45}, {-0.7, -0.5, 0, 0, 3, 6},
        {100.2, 5.0, 0, 1, 204, 16},  // 200.4 in input pixels, rounded, plus the left border
        // clang-format on
    };
    for (const auto& c : cases) {
        const CentrePixels p = correct_coordinates(c.x0, c.y0, {300, 200, c.sub, c.pos, 4, 6});
        EXPECT_EQ(p.final_x, c.x) << "pos " << c.pos << " sub " << c.sub << " x0 " << c.x0;
        EXPECT_EQ(p.final_y, c.y) << "pos " << c.pos << " sub " << c.sub << " x0 " << c.x0;
    }
}

TEST(Phase, FoldedAndDroppedForTinyRadius) {
    // radius, phi0, sub_flag, radius and phi0 after.
    const double cases[][5] = {{5, -180, 0, 5, 180},     {5, 190, 0, 5, -170},
                               {5, 180, 0, 5, 180},      {0.6, 95, 1, 0.6, 0},
                               {5, -10.4, 1, 10, -10.4}, {1, -200, 1, 2, 160}};
    for (const auto& c : cases) {
        double radius = c[0], phi0 = c[1];
        normalise_phase(radius, phi0, static_cast<int>(c[2]));
        EXPECT_DOUBLE_EQ(radius, c[3]) << c[0] << " " << c[1];
        EXPECT_DOUBLE_EQ(phi0, c[4]) << c[0] << " " << c[1];
    }
}

TEST(Reliability, MaxwellDistributionAndPercent) {
    EXPECT_EQ(reliability_percent(crystal_reliability(20, 5.0)), 73);  // 0.7385
    EXPECT_EQ(reliability_percent(crystal_reliability(20, 0.0)), -1);
    EXPECT_EQ(crystal_reliability(0, 3.0), 0.0);
    EXPECT_EQ(reliability_percent(-0.25) + reliability_percent(0.999), -1 + 99);
}

TEST(CrossPositions, FollowTheMotionForEachLoopPosition) {
    // Axis 100, crystal row 50; pos, radius, phi0, angle, x, y.
    const double cases[][6] = {{0, 10, 30, 30, 110, 50},
                               {1, 10, 30, 210, 90, 50},
                               {2, 10, 30, 30, 50, 110},
                               {3, 10, 30, 30, 50, 90} /* against the rows */,
                               {0, 14.6, 0, 60, 107, 50} /* 107.3 */};
    for (const auto& c : cases) {
        const CrossPosition p = cross_position(static_cast<int>(c[0]), 100, 50, c[1], c[2], c[3]);
        EXPECT_EQ(p.x, c[4]) << c[0];
        EXPECT_EQ(p.y, c[5]) << c[0];
    }
}

class ResultStage : public ::testing::Test {
  protected:
    ResultStage() : cwd(dir.path()) {
        ctx.num_images = ctx.numimg_processed = 4;
        ctx.width = 40;
        ctx.height = 30;
        ctx.frame = {32, 22, 0, 0, 4, 4};
        ctx.crystal_size = 20;
        ctx.maxwidth = 17;
        ctx.forrightborder = 5;
        // Total deviation 5.
        mp = {15.4, 10.5, 3.2, -10.4, 0.0, 7.0, 9.0, 9.0, 0.0};
        images.assign(4, ByteBuffer(40 * 30, 128));
    }
    std::string run() {
        testing::LogCapture capture;
        CaptureStderr();
        EXPECT_EQ(result_stage(mp, ctx, images, angles, capture.log, result), 0);
        messages = GetCapturedStderr();
        return capture.body();
    }

    testing::ScratchDir dir;
    testing::WorkingDir cwd;
    ResultContext ctx;
    PARAMS mp;
    std::vector<ByteBuffer> images;
    std::vector<float> angles = {0.0f, 90.0f, 180.0f, 270.0f};
    ORVARESULT result;
    std::string messages;
};

TEST_F(ResultStage, RecordOfAFittedRun) {
    run();
    const ORVARESULT want{19, 15, 3, -11, 17, 35, 73, 0};  // phi floored
    EXPECT_EQ(std::memcmp(&result, &want, sizeof want), 0);
    EXPECT_EQ(messages, "");
    EXPECT_FALSE(testing::file_exists("log_res2.txt") || testing::file_exists("centre.jpg"));
}

TEST_F(ResultStage, NoCentreAndReliabilityWithTooFewImages) {
    ctx.numimg_processed = 0;
    ctx.precentring_flag = 1;
    mp.radius = 0.0;
    EXPECT_EQ(run().find("Deviation"), std::string::npos);
    EXPECT_EQ(std::vector<int>({result.x_centre, result.y_centre, result.reliability,
                                result.precentring_flag, result.phi}),
              std::vector<int>({-1, -1, -1, 1, 0}));
    EXPECT_EQ(messages, "\n" + BAR + BAR +
                            "\n= Warning !! Number of non-empty images (0) is too low for "
                            "optimal detection!\n" +
                            BAR + BAR + "\n");
    ctx.numimg_processed = 4;
    ctx.position_found = false;
    run();
    EXPECT_EQ(result.x_centre + result.y_centre, -2);

    // Three images are enough only with an axis from the job; else the
    // reliability is the one handed in.
    ctx.position_found = true;
    ctx.numimg_processed = 3;
    ctx.reliability = 0.875;
    run();
    EXPECT_EQ(result.reliability, 87);
    EXPECT_NE(messages.find("Number of non-empty images (3)"), std::string::npos);
    ctx.centre_coord = 0;
    run();
    EXPECT_EQ(messages, "");
    EXPECT_EQ(result.reliability, 73);
    mp.var_p0 = mp.var_q0 = mp.var_y0 = 0.0;  // a perfect fit
    run();
    EXPECT_EQ(result.reliability, -1);
}

TEST_F(ResultStage, UnusableFitValuesFailWithoutAResult) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    // x0, y0, radius, phi0; the last: limits are inclusive, and a centre that
    // was not found is not read.
    const struct {
        double x0, y0, radius, phi0;
        bool position_found;
        int status;
    } cases[] = {{nan, 10.5, 3.2, -10.4, true, UNUSABLE_FIT},
                 {15.4, -inf, 3.2, 1, true, 22},
                 {15.4, 10.5, 3e9, -10.4, true, 22},
                 {15.4, 10.5, 3.2, nan, true, 22},
                 {-1e8, 1e8, 1e8, -10.4, true, 0},
                 {nan, inf, 3.2, -10.4, false, 0}};
    for (const auto& c : cases) {
        mp.x0 = c.x0;
        mp.y0 = c.y0;
        mp.radius = c.radius;
        mp.phi0 = c.phi0;
        ctx.position_found = c.position_found;
        result.radius = 77;
        testing::LogCapture capture;
        CaptureStderr();
        EXPECT_EQ(result_stage(mp, ctx, images, angles, capture.log, result), c.status) << c.x0;
        messages = GetCapturedStderr();
        if (c.status == 0) continue;
        EXPECT_EQ(capture.body(), "");
        EXPECT_EQ(result.radius, 77);
        EXPECT_EQ(messages.rfind("\norvafunc: the motion fit gave values that are no image", 0),
                  0u);
    }
}

TEST_F(ResultStage, CrossImagesAndOutputsThatCannotBeWritten) {
    ctx.set_cross_flag = 1;
    ctx.write_figures = true;
    mp.phi0 = 0.0;
    mp.radius = 5.0;
    std::filesystem::create_directory("log_res2.txt");
    std::filesystem::create_directory("cross_01.jpg");
    EXPECT_NE(run().find("\n# CRYSTAL_CENTRES: 24,15 19,15 14,15 19,15 \n#"), std::string::npos);
    EXPECT_EQ(messages.rfind("\n Output cross images", 0), 0u);
    EXPECT_NE(messages.find("Is a directory"), std::string::npos);
    EXPECT_EQ(result.reliability, 73);
    for (const char* name : {"cross_00.jpg", "cross_03.jpg", "centre.jpg"})
        EXPECT_EQ(testing::read_file(name).substr(0, 2), "\xFF\xD8") << name;
    EXPECT_FALSE(testing::file_exists("cross_04.jpg"));
}

}  // namespace
}  // namespace orva
