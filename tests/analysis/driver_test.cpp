// The analysis driver: run checks, method choice, half resolution, quadrant
// warnings, the known axis position and the run log; on small in-memory runs
// parameter errors, the hand-over to the version-2.3 method, failing stages,
// and loop tips with a known axis from two drawn images. (Whole runs of every
// kind are fixed by the golden check.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/driver_log.h"
#include "analysis/driver_setup.h"
#include "analysis/orvafunc.h"
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

class Driver : public ::testing::Test {
  protected:
    Driver() : cwd(dir.path()) {
        result.x_centre = 11;  // marks an untouched record
        set_images(4, 64, 48, 150);
    }

    void set_images(int n, int width, int height, unsigned char grey, double step = 90.0) {
        params.num_images = n;
        params.width = width;
        params.height = height;
        images.assign(n, ByteBuffer(static_cast<std::size_t>(width) * height, grey));
        params.angle.clear();
        for (int q = 0; q < n; ++q) params.angle.push_back(static_cast<float>(step * q));
    }
    // A dark ring on a stem over a bright background, the ring centre moving
    // as 100 + 20 cos(angle) across a 200 x 160 view, with a dark crystal at
    // its centre. Ring rows 40..100, stem from row 98 down.
    void draw_loops(int n, double step) {
        set_images(n, 200, 160, 200, step);
        params.background_flag = 1;
        params.back_ptr = ByteBuffer(200 * 160, 200);
        for (int q = 0; q < n; ++q) {
            const double cx = 100.0 + 20.0 * std::cos(q * step * 0.0174532925);
            for (int y = 0; y < 160; ++y)
                for (int x = 0; x < 200; ++x) {
                    const double r = std::hypot(x - cx, y - 70.0);
                    if ((r >= 24.0 && r <= 30.0) || (std::fabs(x - cx) <= 5.0 && y >= 98) || r <= 8)
                        images[q][y * 200 + x] = 40;
                }
        }
    }

    int run() {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int status = orvafunc(params, images, result);
        messages = ::testing::internal::GetCapturedStderr();
        ::testing::internal::GetCapturedStdout();
        log = std::filesystem::is_regular_file("logORVA.txt") ? testing::read_file("logORVA.txt")
                                                              : "";
        return status;
    }
    bool said(const std::string& text) const { return messages.find(text) != std::string::npos; }
    // The number `skip` numbers after `key` in the log, -1 when the key is missing.
    double logged(const std::string& key, int skip = 0) const {
        const std::size_t at = log.find(key);
        std::istringstream in(at == std::string::npos ? "" : log.substr(at + key.size()));
        double value = -1.0;
        for (int i = 0; i <= skip; ++i) in >> value;
        return value;
    }

    testing::ScratchDir dir;
    testing::WorkingDir cwd;
    ORVAPARAMS params;
    std::vector<ByteBuffer> images;
    ORVARESULT result;
    std::string messages, log;
};

TEST_F(Driver, ParameterErrorsStopBeforeAnything) {
    params.loop_pos = 4;
    params.reserved = 1;
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(messages,
              "\n Image Preparation\n LOOP_POS: value must be in the range of 0...3, but is 4\n");
    params.loop_pos = 0;
    for (int n : {0, 37, 5}) {  // 5: more images announced than handed over
        params.num_images = n;
        EXPECT_EQ(run(), 1) << n;
        EXPECT_TRUE(said(n == 5 ? "\norvafunc: 5 images announced, but 4 images and 4 angles"
                                : "\n NUM_IMG: value must be in the range of 1...36\n"));
    }
    EXPECT_FALSE(testing::file_exists("logORVA.txt"));
    EXPECT_EQ(result.x_centre, 11);
}

TEST_F(Driver, TooFewImagesOrVers23GoToTheOlderMethod) {
    set_images(2, 64, 48, 150);
    params.angle = {-90.0f, 10.0f};
    params.reserved = 1;
    EXPECT_EQ(run(), 0);
    EXPECT_FALSE(said("\n Processing Images:"));  // only the default pipeline says this
    EXPECT_FLOAT_EQ(params.angle[0], 270.0f);     // angles come back folded
    EXPECT_TRUE(said("\n= Warning !!  There is no image in the range of 90..180 degrees!"));
    EXPECT_FALSE(said("0..90 degrees"));
    EXPECT_EQ(log.rfind("# ORVA version 3.00", 0), 0u);
    EXPECT_NE(log.find("\n# total duration: "), std::string::npos);
    // The older method found both flat images empty and filled the result itself.
    EXPECT_EQ(result.x_centre, -1);

    set_images(4, 64, 48, 150);
    params.vers23_flag = 1;
    EXPECT_EQ(run(), 0);
    EXPECT_FALSE(said("\n Processing Images:"));
    params.image_special = 4;  // finding the loop tip is a pre-alignment
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(said("\n Processing Images:"));
}

TEST_F(Driver, FailuresLeaveTheResult) {
    std::filesystem::create_directory("logORVA.txt");
    params.reserved = 1;
    EXPECT_EQ(run(), 92);
    EXPECT_TRUE(said("\n Cannot open logORVA.txt\n"));
    EXPECT_FALSE(said("Warning"));
    EXPECT_EQ(result.x_centre, 11);

    params.reserved = 0;
    params.border[BORDER_LEFT] = params.border[BORDER_RIGHT] = 40;  // no column of 64 is left
    EXPECT_EQ(run(), 2);
    EXPECT_EQ(result.x_centre, 11);
    EXPECT_TRUE(params.image_ptr.empty());
}

// IMAGE_SPECIAL 4 takes the loop tips; with a known axis two images suffice,
// the axis comes back exactly and, with too few images for a deviation, the
// shape figure is the reliability.
TEST_F(Driver, LoopTipsWithAKnownAxisFromTwoImages) {
    draw_loops(2, 90.0);
    params.image_special = 4;
    params.centre_coord = 100;
    params.reserved = 1;
    ASSERT_EQ(run(), 0);
    EXPECT_TRUE(said("\n Modelling PIN/Pre-Alignment"));
    EXPECT_TRUE(said("Number of non-empty images (2) is too low"));
    EXPECT_EQ(result.precentring_flag, 1);
    EXPECT_EQ(result.x_centre, 100);
    // The first traced row, below the top border: the box top of "Box details q b l r t".
    const double tip = logged("Box details 0 ", 3);
    ASSERT_GT(tip, 0);
    EXPECT_EQ(logged("Box details 1 ", 3), tip);
    EXPECT_EQ(result.y_centre, tip + 4);
    const float shapes_reliability = static_cast<float>(logged("# shapes_reliability: "));
    EXPECT_EQ(result.reliability,
              static_cast<int>(std::floor(100 * static_cast<double>(shapes_reliability))));

    // Pre-alignment alone keeps the loop centres, well below the tip.
    draw_loops(2, 90.0);
    params.image_special = 0;
    params.prealignment_flag = 1;
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(result.x_centre, 100);
    EXPECT_GT(result.y_centre, tip + 14);
}

}  // namespace
}  // namespace orva
