// From observations to the result: crystal-size estimate, bulge rules, loop
// tips, observation tables, the centre fit (a mean with too few images, the
// motion fit with an unknown or a known axis); result coordinates for every
// loop position, phase folding, reliability, cross positions and the whole
// result stage. (The log's tables are fixed by the golden check.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "analysis/centre_fit.h"
#include "analysis/observations.h"
#include "analysis/result_stage.h"
#include "run/scratch_dir.h"

namespace orva {
namespace {

// A driver log on a temporary file, and what was written to it after the header.
class LogCapture {
  public:
    LogCapture() : file_(std::tmpfile()) { log.attach(file_); }
    ~LogCapture() { std::fclose(file_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // What follows the header, without the closing duration line; closes the log.
    std::string body() {
        log.close(0);
        std::rewind(file_);
        std::string text;
        for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_))
            text += static_cast<char>(c);
        const std::string header_end = "image\n# --------------------------------------------";
        const std::size_t from = text.find(header_end) + header_end.size();
        return text.substr(from, text.rfind("\n# total duration: 0\n") - from);
    }

    DriverLog log;

  private:
    std::FILE* file_;
};

SHAPE_PARAMS loop(int width, int box_l, int box_r, int cx = 50, int cy = 40) {
    SHAPE_PARAMS s;
    s.type = P060;
    s.width = static_cast<unsigned>(width);
    s.box_l = static_cast<unsigned>(box_l);
    s.box_r = static_cast<unsigned>(box_r);
    s.centre_x = static_cast<unsigned>(cx);
    s.centre_y = static_cast<unsigned>(cy);
    return s;
}

TEST(CrystalSize, NarrowestLoopClearOfTheSides) {
    const std::vector<SHAPE_PARAMS> shapes = {loop(60, 10, 80),
                                              loop(30, 4, 80) /* touches the left strip */,
                                              loop(25, 10, 95) /* reaches cut_width - 5 */,
                                              loop(40, 5, 94),
                                              SHAPE_PARAMS{},
                                              loop(40, 10, 50) /* not below 40 */,
                                              loop(35, 10, 50)};
    LogCapture capture;
    const NarrowestLoop found = narrowest_loop(shapes, 100, capture.log, "\n#%2d: %4d");
    EXPECT_EQ(found.q_minwidth, 6);
    EXPECT_EQ(found.crystal_size, 35);
    EXPECT_EQ(capture.body(),
              "\n# 0:   60   60\n# 1:   30   60\n# 2:   25   60\n# 3:   40   40"
              "\n# 5:   40   40\n# 6:   35   35");

    DriverLog off;
    const NarrowestLoop none = narrowest_loop(std::span(shapes).subspan(1, 2), 100, off, "%d%d");
    EXPECT_EQ(none.q_minwidth, -1);
    EXPECT_EQ(none.crystal_size, 100);

    // The pin-only estimate takes every image.
    EXPECT_EQ(smallest_width(std::span(shapes).first(2), 100), 30);
    EXPECT_EQ(smallest_width(std::span(shapes).first(1), 50), 50);
}

TEST(Bulge, AcceptedOnlyWhenClearlyWiderAndBelowTheCentre) {
    // At least 10 more (10: 19 / 20) and 1.5 times as wide (40: 59 / 60); -1 is none.
    const int cases[][3] = {{19, 10, 0}, {20, 10, 1}, {59, 40, 0}, {60, 40, 1}, {-1, 0, 0}};
    for (const auto& c : cases) EXPECT_EQ(bulge_accepted(c[0], c[1]), c[2] == 1) << c[0];

    std::vector<SHAPE_PARAMS> shapes = {loop(50, 5, 90, 40, 30), loop(30, 5, 90, 44, 20),
                                        loop(50, 5, 90, 47, 33)};
    const auto centres = [&shapes] {
        std::vector<unsigned> out;
        for (const SHAPE_PARAMS& s : shapes) out.insert(out.end(), {s.centre_x, s.centre_y});
        return out;
    };
    EXPECT_TRUE(apply_bulge(shapes, 1, 52, 31));  // 11 rows down: the others move by 3
    EXPECT_EQ(centres(), (std::vector<unsigned>{40, 33, 52, 31, 47, 36}));
    EXPECT_FALSE(apply_bulge(shapes, 1, 60, 31));  // at the centre: nothing moves
    EXPECT_EQ(centres(), (std::vector<unsigned>{40, 33, 52, 31, 47, 36}));
}

TEST(LoopTips, MiddleOfTheFirstTracedRow) {
    std::vector<SHAPE_PARAMS> shapes = {loop(50, 5, 90, 40, 30), loop(50, 5, 90, 40, 30)};
    shapes[0].x_coord_left = {21, 20};
    shapes[0].x_coord_right = {30, 31};
    shapes[0].y_coord_left = {12, 13};
    shapes[0].num_coord_left = 2;
    use_loop_tips(shapes);  // image 1 has no outline and keeps its centre
    EXPECT_EQ(shapes[0].centre_x, 25u);
    EXPECT_EQ(shapes[0].centre_y, 12u);
    EXPECT_EQ(shapes[1].centre_x, 40u);
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
    EXPECT_EQ(mp.radius + mp.phi0, 19.0);  // as the width fit left them

    PARAMS known;
    EXPECT_EQ(centre_fit(known, t, 1, true, 80.0), 0);  // 2 needed with a known axis
    EXPECT_DOUBLE_EQ(known.x0, 105.0);
}

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

const std::string BAR = "================================";

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
    std::string run(int status = 0) {
        LogCapture capture;
        CaptureStderr();
        EXPECT_EQ(result_stage(mp, ctx, images, angles, capture.log, result), status);
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
        LogCapture capture;
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
    // A picture that cannot be written is only reported; a figures file that
    // was asked for fails the run like the run log.
    EXPECT_NE(run(DRIVER_LOG_ERROR).find("\n# CRYSTAL_CENTRES: 24,15 19,15 14,15 19,15 \n#"),
              std::string::npos);
    EXPECT_EQ(messages.rfind("\n Output cross images", 0), 0u);
    EXPECT_NE(messages.find("Is a directory"), std::string::npos);
    EXPECT_NE(messages.find("\nORVA: Cannot write cross_01.jpg: it is a directory\n"),
              std::string::npos);
    EXPECT_NE(messages.find("\nORVA: Cannot write log_res2.txt: it is a directory\n"),
              std::string::npos);
    EXPECT_EQ(result.reliability, 73);
    for (const char* name : {"cross_00.jpg", "cross_03.jpg", "centre.jpg"})
        EXPECT_EQ(testing::read_file(name).substr(0, 2), "\xFF\xD8") << name;
    EXPECT_FALSE(testing::file_exists("cross_04.jpg"));
}

}  // namespace
}  // namespace orva
