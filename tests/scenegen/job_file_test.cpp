// The job files the generator writes mean to the program's job-file reader
// exactly what the options asked for.
#include "run/job_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "job_file_writer.h"
#include "scene_support.h"
#include "series.h"

namespace orva::scenegen {
namespace {

JobSettings read_back(const Scene& s, const testing::ScratchDir& dir, const std::string& name,
                      int centre) {
    JobImages images;
    for (size_t i = 0; i < s.angles.size(); ++i)
        images.names.push_back(image_name(s.opt, static_cast<int>(i)));
    if (s.opt.background) images.background = "back.png";
    const std::string path = dir.file(name);
    std::ofstream(path, std::ios::binary) << job_file_text(s, images, centre);
    JobSettings job;
    EXPECT_EQ(read_job_file(path.c_str(), job), 0);
    return job;
}

TEST(ScenegenJobFile, ListWithEveryKeywordRoundTrips) {
    testing::ScratchDir dir;
    ASSERT_TRUE(dir.ok());
    SceneOptions o;
    o.angles = {90.0, 0.0, -90.0, 180.5};
    o.loop_position = 3;
    o.border = 6;
    o.border_side[SIDE_LEFT] = 2;
    o.background = true;
    o.centre_coord = true;
    o.prealign = o.vers23 = o.set_cross = o.logoutx = true;
    o.crlf = true;
    o.extra_lines = {"IMAGE_SPECIAL 5"};
    const Scene s = testing::make_scene(o);
    const JobSettings job = read_back(s, dir, "job.txt", 287);

    ASSERT_EQ(job.images.size(), 4u);
    // Sorted by angle, -90 read as 270, names staying with their angles.
    const float angles[4] = {0.0f, 90.0f, 180.5f, 270.0f};
    const int file_index[4] = {1, 0, 3, 2};
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(job.images[i].angle, angles[i]);
        EXPECT_EQ(job.images[i].name, image_name(o, file_index[i]));
    }
    EXPECT_EQ(job.numimg, 4);
    EXPECT_EQ(job.loop_pos, 3);
    const int borders[4] = {6, 6, 2, 6};
    for (int side = 0; side < 4; ++side) EXPECT_EQ(job.border[side], borders[side]);
    EXPECT_EQ(job.background_flag, 1);
    EXPECT_EQ(job.back_name, "back.png");
    EXPECT_EQ(job.centre_coord, 287);
    EXPECT_EQ(job.prealignment_flag, 1);
    EXPECT_EQ(job.vers23_flag, 1);
    EXPECT_EQ(job.set_cross_flag, 1);
    EXPECT_EQ(job.logout_flag, 1);
    EXPECT_EQ(job.image_special, 5);
}

TEST(ScenegenJobFile, DataLinesAndStripeBordersRoundTrip) {
    testing::ScratchDir dir;
    ASSERT_TRUE(dir.ok());
    SceneOptions o;
    o.num_images = 38;  // more than a NUMBER_OF_IMAGES list may announce
    o.start_angle = 5.0;
    o.data_lines = true;
    o.stripes = {0, 0, 5, 0};
    o.centre_coord_value = 123;
    o.centre_coord = true;  // the explicit value wins
    const Scene s = testing::make_scene(o);
    const JobSettings job = read_back(s, dir, "job.txt", 999);
    ASSERT_EQ(job.images.size(), 38u);
    // Angles are kept to a hundredth of a degree, in the images and the job alike.
    EXPECT_FLOAT_EQ(job.images[37].angle, 355.53f);
    EXPECT_DOUBLE_EQ(s.angles[37], 355.53);
    const int borders[4] = {4, 4, 9, 4};  // stripe plus margin on the left only
    for (int side = 0; side < 4; ++side) EXPECT_EQ(job.border[side], borders[side]);
    EXPECT_EQ(job.centre_coord, 123);
    EXPECT_EQ(job.loop_pos, 0);
    EXPECT_EQ(job.background_flag, 0);
    EXPECT_EQ(job.prealignment_flag + job.vers23_flag + job.set_cross_flag + job.logout_flag, 0);
}

}  // namespace
}  // namespace orva::scenegen
