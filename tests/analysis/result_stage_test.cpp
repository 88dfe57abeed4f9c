// Result coordinates for every loop position, phase folding, reliability,
// cross positions, the figures file and the whole result stage.
#include "analysis/result_stage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "log_capture.h"
#include "run/scratch_dir.h"

namespace orva {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

TEST(ResultCoordinates, EveryLoopPositionAndHalfResolution) {
    struct Case {
        int pos, sub, x, y;
    };
    // x0 50.4 and y0 20.6 in a 300 x 200 cut image, left border 4, top border 6.
    const Case cases[] = {
        {0, 0, 54, 27},  {1, 0, 54, 184},  {2, 0, 56, 182},  {3, 0, 255, 25},
        {0, 1, 105, 47}, {1, 1, 105, 364}, {2, 1, 107, 362}, {3, 1, 504, 45},
    };
    for (const Case& c : cases) {
        const CentrePixels p = correct_coordinates(50.4, 20.6, {300, 200, c.sub, c.pos, 4, 6});
        EXPECT_EQ(p.final_x, c.x) << "pos " << c.pos << " sub " << c.sub;
        EXPECT_EQ(p.final_y, c.y) << "pos " << c.pos << " sub " << c.sub;
    }
    // 100.2 in the halved frame is 200.4, rounded to 200, plus the left border.
    EXPECT_EQ(correct_coordinates(100.2, 5.0, {300, 200, 1, 0, 4, 6}).final_x, 204);
    // floor(v + 0.5), also below zero.
    const CentrePixels low = correct_coordinates(-0.7, -0.5, {300, 200, 0, 0, 4, 6});
    EXPECT_EQ(low.final_x, 3);
    EXPECT_EQ(low.final_y, 6);
}

TEST(Phase, FoldedAndDroppedForTinyRadius) {
    struct Case {
        double radius, phi0;
        int sub;
        double want_radius, want_phi0;
    };
    const Case cases[] = {
        {5.0, -180.0, 0, 5.0, 180.0}, {5.0, 190.0, 0, 5.0, -170.0}, {5.0, 180.0, 0, 5.0, 180.0},
        {0.6, 95.0, 1, 0.6, 0.0},     {5.0, -10.4, 1, 10.0, -10.4}, {1.0, -200.0, 1, 2.0, 160.0},
    };
    for (const Case& c : cases) {
        double radius = c.radius, phi0 = c.phi0;
        normalise_phase(radius, phi0, c.sub);
        EXPECT_DOUBLE_EQ(radius, c.want_radius) << c.radius << " " << c.phi0;
        EXPECT_DOUBLE_EQ(phi0, c.want_phi0) << c.radius << " " << c.phi0;
    }
}

TEST(Reliability, MaxwellDistributionAndPercent) {
    EXPECT_NEAR(crystal_reliability(20, 5.0), 0.7385, 5e-4);
    EXPECT_EQ(reliability_percent(crystal_reliability(20, 5.0)), 73);
    EXPECT_EQ(reliability_percent(crystal_reliability(20, 0.0)), -1);
    EXPECT_EQ(crystal_reliability(0, 3.0), 0.0);
    EXPECT_GT(crystal_reliability(100, 2.0), 0.9999);
    EXPECT_EQ(reliability_percent(-0.25), -1);
    EXPECT_EQ(reliability_percent(0.999), 99);
}

TEST(CrossPositions, FollowTheMotionForEachLoopPosition) {
    // Axis 100, crystal row 50, radius 10, largest excursion at 30 degrees.
    const CrossPosition up = cross_position(0, 100, 50, 10.0, 30.0, 30.0);
    EXPECT_EQ(up.x, 110);
    EXPECT_EQ(up.y, 50);
    EXPECT_EQ(cross_position(1, 100, 50, 10.0, 30.0, 210.0).x, 90);
    const CrossPosition left = cross_position(2, 100, 50, 10.0, 30.0, 30.0);
    EXPECT_EQ(left.x, 50);
    EXPECT_EQ(left.y, 110);
    EXPECT_EQ(cross_position(3, 100, 50, 10.0, 30.0, 30.0).y, 90);  // runs against the rows
    EXPECT_EQ(cross_position(0, 100, 50, 14.6, 0.0, 60.0).x, 107);  // 107.3 rounds down
}

TEST(FiguresFile, HeaderAndRowLayout) {
    EXPECT_EQ(figures_header(),
              "#img  w    h   phi0 radius Y_POS X_POS  DEV_P  DEV_Q  DEV_2D  DEV_V  ESD    GoF  "
              "C_radius  precentring reliability DEV_X0\n");
    ResultContext ctx;
    ctx.num_images = 8;
    ctx.width = 768;
    ctx.height = 576;
    ctx.crystal_size = 45;
    const ORVARESULT r{336, 187, 23, -11, 0, 0, 73, 0};
    PARAMS mp;
    mp.var_p0 = 4.0;
    mp.var_q0 = 2.25;
    mp.var_y0 = 1.0;
    mp.var_x0 = 0.25;
    mp.gofn = 12.5;
    EXPECT_EQ(figures_line(ctx, r, mp, deviations_of(mp)),
              "  8  768  576  -11   23     187  336    2.000  1.500   1.768  1.000  2.693 12.500 22"
              "           0          73      0.500\n");
    ctx.frame.sub_flag = 1;  // the crystal size is then already a radius in input pixels
    EXPECT_EQ(figures_line(ctx, r, mp, Deviations{}),
              "  8  768  576  -11   23     187  336    0.000  0.000   1.768  0.000  0.000 12.500 45"
              "           0          73      0.500\n");
}

class ResultStage : public ::testing::Test {
  protected:
    ResultStage() : cwd(dir.path()) {
        ctx.num_images = 4;
        ctx.width = 40;
        ctx.height = 30;
        ctx.frame = {32, 22, 0, 0, 4, 4};
        ctx.numimg_processed = 4;
        ctx.crystal_size = 20;
        ctx.maxwidth = 17;
        ctx.forrightborder = 5;
        mp.x0 = 15.4;
        mp.y0 = 10.5;
        mp.radius = 3.2;
        mp.phi0 = -10.4;
        mp.var_p0 = mp.var_q0 = 9.0;
        mp.var_y0 = 7.0;  // total deviation 5
        images.assign(4, ByteBuffer(40 * 30, 128));
    }
    std::string run() {
        CaptureStderr();
        EXPECT_EQ(result_stage(mp, ctx, images, angles, capture.log, result), 0);
        messages = GetCapturedStderr();
        return capture.body();
    }

    testing::ScratchDir dir;
    testing::WorkingDir cwd;
    testing::LogCapture capture;
    ResultContext ctx;
    PARAMS mp;
    std::vector<ByteBuffer> images;
    std::vector<float> angles = {0.0f, 90.0f, 180.0f, 270.0f};
    ORVARESULT result;
    std::string messages;
};

TEST_F(ResultStage, RecordAndLogOfAFittedRun) {
    EXPECT_EQ(run(),
              "\n#----------------------------------------"
              "\n# correction of coordinates according loop position and cut borders"
              "\n#----------------------------------------"
              "\n#\n# angle to rotate crystal into position of maximum excursion: -10"
              "\n# maximum excursion in pixels: 3"
              "\n# position in Y direction (counting from the top): 15"
              "\n# position in X direction (counting from the left): 19"
              "\n#\n# Deviation of coordinates"
              "\n# p_dev: 3.000\t q_dev: 3.000\t v_dev: 2.646\t TOTALdev : 5.000"
              "\n#\n# Crystal diameter: 20"
              "\n#\n# cosine parameter in original image"
              "\n# 19 +    3.2 * cos( (phi -  -10.4) * pi/180)\n#");
    const ORVARESULT want{19, 15, 3, -11, 17, 35, 73, 0};  // phi floored, the log truncates
    EXPECT_EQ(std::memcmp(&result, &want, sizeof want), 0);
    EXPECT_EQ(messages, "");
    EXPECT_FALSE(testing::file_exists("log_res2.txt"));
    EXPECT_FALSE(testing::file_exists("centre.jpg"));
}

TEST_F(ResultStage, TurnedViewsNameTheirAxes) {
    ctx.frame.loop_pos = 2;
    const std::string log = run();
    EXPECT_NE(log.find("\n# position in Y direction (counting from the left): "),
              std::string::npos);
    EXPECT_NE(log.find("\n# position in X direction (counting from the top): "), std::string::npos);
}

TEST_F(ResultStage, NoCentreWithoutLoopOrPosition) {
    ctx.numimg_processed = 0;
    ctx.precentring_flag = 1;
    mp.radius = 0.0;
    EXPECT_EQ(run().find("Deviation"), std::string::npos);
    EXPECT_EQ(result.x_centre, -1);
    EXPECT_EQ(result.y_centre, -1);
    EXPECT_EQ(result.reliability, -1);
    EXPECT_EQ(result.precentring_flag, 1);
    EXPECT_EQ(result.phi, 0);
    const std::string bar = "================================";
    EXPECT_EQ(messages, "\n" + bar + bar +
                            "\n= Warning !! Number of non-empty images (0) is too low for "
                            "optimal detection!\n" +
                            bar + bar + "\n");

    ctx.numimg_processed = 4;
    ctx.position_found = false;
    run();
    EXPECT_EQ(result.x_centre, -1);
    EXPECT_EQ(result.y_centre, -1);
}

TEST_F(ResultStage, ReliabilityNeedsEnoughImagesAndAnError) {
    ctx.numimg_processed = 3;  // enough only with an axis from the job
    ctx.reliability = 0.875;
    run();
    EXPECT_EQ(result.reliability, 87);
    EXPECT_NE(messages.find("Number of non-empty images (3)"), std::string::npos);

    ctx.centre_coord = 0;  // not below 0
    run();
    EXPECT_EQ(messages, "");
    EXPECT_EQ(result.reliability, 73);

    mp.var_p0 = mp.var_q0 = mp.var_y0 = 0.0;  // a perfect fit
    run();
    EXPECT_EQ(result.reliability, -1);
}

TEST_F(ResultStage, HalfResolutionDoublesCentreAndRadiusNotLoopWidth) {
    ctx.width = 80;
    ctx.height = 60;
    images.assign(4, ByteBuffer(80 * 60, 100));
    ctx.frame = {36, 26, 1, 0, 4, 4};
    EXPECT_NE(run().find("\n#\n# Crystal diameter: 40"), std::string::npos);
    EXPECT_EQ(result.x_centre, 35);  // 30.8 rounds to 31, plus 4
    EXPECT_EQ(result.y_centre, 25);
    EXPECT_EQ(result.radius, 6);
    EXPECT_EQ(result.loop_width, 17);
    EXPECT_EQ(result.reliability, 73);  // crystal size and deviation both in cut pixels
}

TEST_F(ResultStage, CrossImagesAndFiguresFile) {
    ctx.set_cross_flag = 1;
    ctx.write_figures = true;
    mp.phi0 = 0.0;
    mp.radius = 5.0;
    EXPECT_NE(run().find("\n# CRYSTAL_CENTRES: 24,15 19,15 14,15 19,15 \n#"), std::string::npos);
    EXPECT_EQ(messages, "\n Output cross images");
    for (const char* name : {"cross_00.jpg", "cross_03.jpg", "centre.jpg"})
        EXPECT_EQ(testing::read_file(name).substr(0, 2), "\xFF\xD8") << name;
    EXPECT_FALSE(testing::file_exists("cross_04.jpg"));
    EXPECT_EQ(testing::read_file("log_res2.txt"),
              figures_header() +
                  "  4   40   30    0    5      15   19    3.000  3.000   3.000  2.646  5.000  "
                  "0.000 10           0          73      0.000\n");
}

TEST_F(ResultStage, UnwritableOutputsDoNotStopTheRun) {
    ctx.set_cross_flag = 1;
    ctx.write_figures = true;
    std::filesystem::create_directory("log_res2.txt");
    std::filesystem::create_directory("cross_01.jpg");
    run();
    EXPECT_EQ(result.reliability, 73);
    EXPECT_TRUE(testing::file_exists("cross_02.jpg"));
    EXPECT_TRUE(testing::file_exists("centre.jpg"));
    EXPECT_NE(messages.find("Is a directory"), std::string::npos);
}

}  // namespace
}  // namespace orva
