// Run checks, method choice, half resolution, quadrant warnings and the known
// axis position of the analysis driver, and its run log.
#include "analysis/driver_setup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/driver_log.h"
#include "analysis/result_stage.h"
#include "run/scratch_dir.h"

namespace orva {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

TEST(MethodChoice, TooFewImagesOrVers23GoToTheOlderMethod) {
    // num_images, centre_coord, prealignment, vers23, older method.
    const int cases[][5] = {
        {2, -1, 0, 0, 1},  {2, 0, 0, 0, 1},  {2, 200, 0, 0, 0} /* a known axis makes two enough */,
        {1, 200, 0, 0, 1}, {3, -1, 0, 0, 0}, {8, -1, 0, 1, 1},
        {8, -1, 1, 1, 0},  {2, -1, 1, 1, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(use_version23_method(c[0], c[1], c[2], c[3]), c[4] == 1) << c[0] << " " << c[1];
}

TEST(RunChecks, HalfResolutionRangesBordersAndMessages) {
    EXPECT_EQ(subsampling_flag(1024, 768), 0);
    EXPECT_EQ(subsampling_flag(1000, 800), 0);
    EXPECT_EQ(subsampling_flag(1280, 960), 1);

    CaptureStderr();
    EXPECT_EQ(check_loop_position(4) + check_loop_position(-1), 2);
    EXPECT_EQ(check_loop_position(0) + check_loop_position(3), 0);
    EXPECT_EQ(check_image_count(0) + check_image_count(37), 2);
    EXPECT_EQ(check_image_count(1) + check_image_count(36), 0);
    EXPECT_EQ(GetCapturedStderr(),
              "\n LOOP_POS: value must be in the range of 0...3, but is 4\n"
              "\n LOOP_POS: value must be in the range of 0...3, but is -1\n"
              "\n NUM_IMG: value must be in the range of 1...36\n"
              "\n NUM_IMG: value must be in the range of 1...36\n");

    // Edge markers need 8 columns on the right; image_special 2 cuts 18 rows at the top.
    const int job[4] = {4, 5, 6, 7}, wide[4] = {4, 5, 6, 12};
    int border[4];
    adjust_borders(job, 1, border);
    EXPECT_EQ(std::vector<int>(border, border + 4), (std::vector<int>{4, 5, 6, 8}));
    adjust_borders(wide, 1, border);
    EXPECT_EQ(border[3], 12);
    adjust_borders(job, 2, border);
    EXPECT_EQ(std::vector<int>(border, border + 4), (std::vector<int>{4, 18, 6, 7}));
}

TEST(Angles, FoldedOnceQuadrantsNotedAndWarnedInOrder) {
    std::vector<float> angles = {-90.0f, 0.0f, 89.99f, 400.0f};
    EXPECT_EQ(normalise_angles(angles), 0b1001u);
    EXPECT_FLOAT_EQ(angles[0], 270.0f);
    EXPECT_FLOAT_EQ(angles[3], 400.0f);  // only negatives are folded
    std::vector<float> edges = {90.0f, 180.0f, 270.0f, 359.9f};
    EXPECT_EQ(normalise_angles(edges), 0b1110u);

    const std::string bar = "================================";
    CaptureStderr();
    warn_missing_quadrants(0b1010u);
    warn_missing_quadrants(0b1111u);
    EXPECT_EQ(GetCapturedStderr(),
              "\n" + bar + bar +
                  "\n= Warning !!  There is no image in the range of 0..90 degrees!\n" + bar + bar +
                  "\n\n" + bar + bar +
                  "\n= Warning !!  There is no image in the range of 180..270 degrees!\n" + bar +
                  bar + "\n");
}

// A fit that keeps the preset axis must report the given centre again, for
// every loop position, with and without half resolution.
TEST(KnownAxis, ResultStageReportsTheGivenCentreBack) {
    const int border[4] = {3, 5, 7, 9};
    IMAGE imc;
    EXPECT_EQ(preset_axis(-1, 0, border, 0, imc), -1.0);  // none given
    EXPECT_EQ(preset_axis(0, 0, border, 0, imc), -1.0);
    EXPECT_EQ(preset_axis(200, 0, border, 1, imc), 96.5);  // minus the left border, halved
    for (int sub = 0; sub <= 1; ++sub) {
        for (int pos = 0; pos < 4; ++pos) {
            imc.width = (pos < 2 ? 800 - 16 : 600 - 8) >> sub;
            CutFrame frame{static_cast<int>(imc.width), 300, sub, pos, border[2], border[1]};
            for (int centre : {100, 301, 350}) {
                const double x0 = preset_axis(centre, pos, border, sub, imc);
                EXPECT_EQ(correct_coordinates(x0, 10.0, frame).final_x, centre)
                    << "loop position " << pos << " sub " << sub;
            }
        }
    }
}

const std::string HEADER =
    "# ORVA version 3.00\n# --------------------------------------------"
    "\n#  all coordinates correspond to cleaned image\n# "
    "--------------------------------------------";

TEST(DriverLog, HeaderWritesDurationAndFiles) {
    testing::ScratchDir dir;
    const std::string name = dir.file("logORVA.txt");
    testing::write_file(name, "an older and much longer log of another run\n");
    DriverLog log;
    ASSERT_TRUE(log.open(name.c_str()));
    log.write("\n# %2d: %4d", 3, 41);
    log.close(7);
    EXPECT_FALSE(log.on());
    log.write("dropped");  // closed: swallowed, no crash
    EXPECT_EQ(testing::read_file(name), HEADER + "\n#  3:   41\n# total duration: 7\n");

    DriverLog missing;
    EXPECT_FALSE(missing.open(dir.file("no/such/dir.txt").c_str()));
    EXPECT_EQ(missing.stream(), nullptr);
}

TEST(RunChecks, KnownAxisMustLieInTheAnalysedImage) {
    const int border[4] = {1, 2, 3, 4};  // bottom, top, left, right
    // centre_coord, loop_pos, status on a 40 x 30 image.
    const int cases[][3] = {
        {-1, 0, 0}, {0, 0, 0},  {3, 0, 0},  {35, 1, 0},  {2, 0, 17},    {36, 1, 17},
        {2, 2, 0},  {28, 3, 0}, {1, 2, 17}, {29, 3, 17}, {5000, 0, 17},
    };
    for (const auto& c : cases) {
        CaptureStderr();
        EXPECT_EQ(check_known_axis(c[0], c[1], border, 40, 30), c[2]) << c[0] << " " << c[1];
        const std::string said = GetCapturedStderr();
        EXPECT_EQ(said.empty(), c[2] == 0) << said;
    }
    CaptureStderr();
    check_known_axis(5000, 0, border, 40, 30);
    EXPECT_EQ(GetCapturedStderr(),
              "\n CENTRE_COORD 5000 lies outside the analysed image (columns 3 to 35)\n");
}

}  // namespace
}  // namespace orva
