// The driver on small in-memory runs: parameter errors, the hand-over to the
// version-2.3 method, the run log, failing stages and views without a loop.
#include "analysis/orvafunc.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "run/scratch_dir.h"

namespace orva {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

class Driver : public ::testing::Test {
  protected:
    Driver() : cwd(dir.path()) {
        result.x_centre = 11;  // marks an untouched record
        set_images(4, 64, 48, 150);
    }

    void set_images(int n, int width, int height, unsigned char grey) {
        params.num_images = n;
        params.width = width;
        params.height = height;
        images.assign(n, ByteBuffer(static_cast<std::size_t>(width) * height, grey));
        params.angle.clear();
        for (int q = 0; q < n; ++q) params.angle.push_back(90.0f * q);
    }

    int run() {
        CaptureStdout();
        CaptureStderr();
        const int status = orvafunc(params, images, result);
        messages = GetCapturedStderr();
        GetCapturedStdout();
        return status;
    }
    bool said(const std::string& text) const { return messages.find(text) != std::string::npos; }

    testing::ScratchDir dir;
    testing::WorkingDir cwd;
    ORVAPARAMS params;
    std::vector<ByteBuffer> images;
    ORVARESULT result;
    std::string messages;
};

TEST_F(Driver, ParameterErrorsStopBeforeAnything) {
    params.loop_pos = 4;
    params.reserved = 1;
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(messages,
              "\n Image Preparation\n LOOP_POS: value must be in the range of 0...3, but is 4\n");
    EXPECT_FALSE(testing::file_exists("logORVA.txt"));

    params.loop_pos = 0;
    params.num_images = 37;
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(said("\n NUM_IMG: value must be in the range of 1...36\n"));
    params.num_images = 0;
    EXPECT_EQ(run(), 1);

    // More images announced than handed over.
    params.num_images = 5;
    EXPECT_EQ(run(), 1);
    EXPECT_FALSE(testing::file_exists("logORVA.txt"));
    EXPECT_EQ(result.x_centre, 11);
}

TEST_F(Driver, TwoImagesWithoutAxisGoToTheOlderMethod) {
    set_images(2, 64, 48, 150);
    params.angle = {-90.0f, 10.0f};
    params.reserved = 1;
    EXPECT_EQ(run(), 0);
    EXPECT_FALSE(said("\n Processing Images:"));  // only the default pipeline says this
    EXPECT_FLOAT_EQ(params.angle[0], 270.0f);     // angles come back folded
    // Both halves 0..90 and 180..270 lack an image.
    EXPECT_TRUE(said("\n= Warning !!  There is no image in the range of 90..180 degrees!"));
    EXPECT_TRUE(said("\n= Warning !!  There is no image in the range of 180..270 degrees!"));
    EXPECT_FALSE(said("0..90 degrees"));
    EXPECT_TRUE(params.image_ptr.empty());
    const std::string log = testing::read_file("logORVA.txt");
    EXPECT_EQ(log.rfind("# ORVA version 3.00", 0), 0u);
    EXPECT_NE(log.find("\n# total duration: "), std::string::npos);
    // The older method found both flat images empty and filled the result itself.
    EXPECT_EQ(result.x_centre, -1);
    EXPECT_EQ(result.precentring_flag, 1);
}

TEST_F(Driver, Vers23WithoutPrealignmentGoesToTheOlderMethod) {
    params.vers23_flag = 1;
    EXPECT_EQ(run(), 0);
    EXPECT_FALSE(said("\n Processing Images:"));
    params.image_special = 4;  // finding the loop tip is a pre-alignment
    EXPECT_EQ(run(), 0);
    EXPECT_FALSE(said("version-2.3"));
}

TEST_F(Driver, LogThatCannotBeCreatedEndsTheRun) {
    std::filesystem::create_directory("logORVA.txt");
    params.reserved = 1;
    EXPECT_EQ(run(), 92);
    EXPECT_TRUE(said("\n Cannot open logORVA.txt\n"));
    EXPECT_FALSE(said("Warning"));
    EXPECT_EQ(result.x_centre, 11);
}

TEST_F(Driver, FailingStageStatusIsPassedOn) {
    params.border[BORDER_LEFT] = 40;
    params.border[BORDER_RIGHT] = 40;  // nothing of the 64 columns is left
    EXPECT_EQ(run(), 2);
    EXPECT_EQ(result.x_centre, 11);
    EXPECT_TRUE(params.image_ptr.empty());
}

TEST_F(Driver, UniformViewIsEmpty) {
    params.background_flag = 1;
    params.back_ptr = ByteBuffer(64 * 48, 150);
    params.reserved = 1;
    params.set_cross_flag = 1;
    ASSERT_EQ(run(), 0);
    EXPECT_TRUE(
        said("\n### ! All images are empty."
             "\n### ! 'PRECENTRING' is set to '1' in output file"
             "\n### ! Either there is no loop at all or the loop"
             "\n### !  has to be moved along the spindle axis"
             "\n### !  into the field of the camera view."
             "\n### ! -------------------------------------------\n"));
    EXPECT_EQ(result.x_centre, -1);
    EXPECT_EQ(result.y_centre, -1);
    EXPECT_EQ(result.precentring_flag, 1);
    EXPECT_EQ(result.reliability, -1);
    EXPECT_EQ(result.loop_width, 56);  // an empty image counts the whole cut width
    EXPECT_EQ(result.radius, 0);
    EXPECT_EQ(result.phi, 0);
    // The background was replaced by its cut copy (56 x 40 with borders 4).
    EXPECT_EQ(params.back_ptr.size(), 56u * 40u);
    EXPECT_TRUE(params.image_ptr.empty());
    const std::string log = testing::read_file("logORVA.txt");
    EXPECT_NE(log.find("\n\n# loop is ouside the image"), std::string::npos);
    EXPECT_NE(log.find("Box details 3 "), std::string::npos);
    EXPECT_TRUE(testing::file_exists("log_res2.txt"));
    EXPECT_TRUE(testing::file_exists("cross_03.jpg"));
}

TEST_F(Driver, UnchangingSeriesWithoutBackgroundIsEmptyAtHalfResolution) {
    set_images(3, 1000, 802, 120);
    params.centre_coord = 500;
    ASSERT_EQ(run(), 0);
    EXPECT_TRUE(said("All images are empty."));
    EXPECT_TRUE(said("Number of non-empty images (0) is too low"));
    EXPECT_EQ(result.x_centre, -1);
    EXPECT_EQ(result.right_border, 1000);
    EXPECT_FALSE(testing::file_exists("logORVA.txt"));
}

}  // namespace
}  // namespace orva
