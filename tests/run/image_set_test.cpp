// Image-set loading on tiny files written by the tests: skipping, type dispatch, size check.
#include "run/image_set.h"

#include <gtest/gtest.h>

#include <string>

#include "run/scratch_dir.h"

namespace orva {
namespace {

using testing::pgm_image;
using testing::pgm_pixels;
using testing::write_file;

struct Loaded {
    int status = -1;
    ORVAPARAMS params;
    std::vector<ByteBuffer> images;
    std::string messages;
};

Loaded load(const JobSettings& job) {
    Loaded l;
    ::testing::internal::CaptureStderr();
    l.status = load_image_set(job, l.params, l.images);
    l.messages = ::testing::internal::GetCapturedStderr();
    return l;
}

class ImageSet : public ::testing::Test {
  protected:
    // Adds a list entry; `content` empty means the file does not exist.
    std::string add(float angle, const std::string& name, const std::string& content) {
        const std::string path = dir.file(name);
        if (!content.empty()) write_file(path, content);
        job.images.push_back({angle, path});
        return path;
    }
    std::string set_background(const std::string& content) {
        job.back_name = dir.file("back.pgm");
        job.background_flag = 1;
        if (!content.empty()) write_file(job.back_name, content);
        return job.back_name;
    }

    testing::ScratchDir dir;
    JobSettings job;
};

TEST_F(ImageSet, SkipsMissingImagesAndKeepsEachAngleWithItsImage) {
    add(0, "a.pgm", pgm_image(4, 3, 10));
    const std::string missing = add(90, "b.pgm", "");
    add(180, "c.pgm", pgm_image(4, 3, 30));
    add(270, "d.pgm", pgm_image(4, 3, 40));
    const Loaded l = load(job);
    ASSERT_EQ(l.status, 0) << l.messages;
    EXPECT_EQ(l.params.num_images, 3);
    EXPECT_EQ(l.params.angle, (std::vector<float>{0, 180, 270}));
    ASSERT_EQ(l.images.size(), 3u);
    EXPECT_EQ(l.images[0], pgm_pixels(4, 3, 10));
    EXPECT_EQ(l.images[1], pgm_pixels(4, 3, 30));
    EXPECT_EQ(l.images[2], pgm_pixels(4, 3, 40));
    EXPECT_EQ(l.params.width, 4);
    EXPECT_EQ(l.params.height, 3);
    EXPECT_EQ(l.params.background_flag, 0);
    EXPECT_NE(l.messages.find("\n Reading Image " + missing +
                              "\n**************************************************"
                              "\nInput file " +
                              missing +
                              " could not be opened for reading"
                              "\nReason: No such file or directory\n"
                              "Try to proceed with next image\n"
                              "************************************************"
                              "\n Reading Image "),
              std::string::npos)
        << l.messages;
}

TEST_F(ImageSet, BackgroundComesLastAndMayBeMissing) {
    add(0, "a.pgm", pgm_image(4, 3, 1));
    set_background(pgm_image(4, 3, 200));
    const Loaded with = load(job);
    ASSERT_EQ(with.status, 0) << with.messages;
    EXPECT_EQ(with.params.background_flag, 1);
    EXPECT_EQ(with.params.back_ptr, pgm_pixels(4, 3, 200));
    EXPECT_EQ(with.images.size(), 1u);
    // The background is read after every listed image.
    EXPECT_EQ(with.messages.rfind("\n Reading Image "),
              with.messages.find("\n Reading Image " + job.back_name));

    std::filesystem::remove(job.back_name);
    const Loaded without = load(job);
    ASSERT_EQ(without.status, 0) << without.messages;
    EXPECT_EQ(without.params.background_flag, 0);
    EXPECT_TRUE(without.params.back_ptr.empty());
    EXPECT_NE(without.messages.find("Try to continue without background image\n"),
              std::string::npos);
}

TEST_F(ImageSet, ParamsCarryTheJobSettings) {
    add(12.5f, "a.pgm", pgm_image(5, 2));
    job.border[BORDER_BOTTOM] = 1;
    job.border[BORDER_TOP] = 2;
    job.border[BORDER_LEFT] = 3;
    job.border[BORDER_RIGHT] = 4;
    job.set_cross_flag = 1;
    job.image_special = 5;
    job.loop_pos = 3;
    job.centre_coord = 77;
    job.loop_type = 2;
    job.prealignment_flag = 1;
    job.vers23_flag = 1;
    job.logout_flag = 1;
    const Loaded l = load(job);
    ASSERT_EQ(l.status, 0);
    EXPECT_EQ(std::vector<int>(l.params.border, l.params.border + 4),
              (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(l.params.set_cross_flag, 1);
    EXPECT_EQ(l.params.image_special, 5);
    EXPECT_EQ(l.params.loop_pos, 3);
    EXPECT_EQ(l.params.centre_coord, 77);
    EXPECT_EQ(l.params.loop_type, 2);
    EXPECT_EQ(l.params.prealignment_flag, 1);
    EXPECT_EQ(l.params.vers23_flag, 1);
    EXPECT_EQ(l.params.reserved, 1);
    EXPECT_EQ(l.params.angle, std::vector<float>{12.5f});
}

TEST_F(ImageSet, UnsupportedOrUnknownTypesEndTheRun) {
    add(0, "a.pgm", pgm_image(2, 2));
    add(10, "text.pgm", "P2\n2 2\n255\n1 2 3 4\n");
    add(20, "c.pgm", pgm_image(2, 2));
    const Loaded p2 = load(job);
    EXPECT_EQ(p2.status, 11);
    EXPECT_NE(p2.messages.find("\n Only P5 and P5 type  PGM/PPM supported!\n"), std::string::npos);
    EXPECT_EQ(p2.messages.find("c.pgm"), std::string::npos);  // nothing loaded after it

    job.images.clear();
    add(0, "comp.tif", std::string("MM\0\x2b\0\0\0\x08", 8));
    const Loaded tiff = load(job);
    EXPECT_EQ(tiff.status, 11);
    EXPECT_NE(tiff.messages.find("\n***************************************************"
                                 "\nPresently this software is compatible to uncompressed TIFF "
                                 "images\n***************************************************\n"),
              std::string::npos);

    job.images.clear();
    add(0, "notes.txt", "just some words\n");
    const Loaded text = load(job);
    EXPECT_EQ(text.status, 13);
    EXPECT_NE(text.messages.find("\n Unknown image type! Cannot deal with!\n"), std::string::npos);

    // The background is checked the same way.
    job.images.clear();
    add(0, "a.pgm", pgm_image(2, 2));
    set_background("not an image at all");
    EXPECT_EQ(load(job).status, 13);
}

TEST_F(ImageSet, FilesThatOpenButCannotBeReadAreSkipped) {
    add(0, "short.pgm", "P5\n4 4\n255\nab");  // fewer pixels than declared
    add(5, "b.pgm", pgm_image(4, 4, 9));
    set_background("P5\n4 4\n255\n");
    const Loaded l = load(job);
    ASSERT_EQ(l.status, 0) << l.messages;
    EXPECT_EQ(l.params.num_images, 1);
    EXPECT_EQ(l.params.angle, std::vector<float>{5});
    EXPECT_EQ(l.images[0], pgm_pixels(4, 4, 9));
    EXPECT_EQ(l.params.background_flag, 0);
    EXPECT_NE(l.messages.find("short.pgm could not be read as an image\n"
                              "Try to proceed with next image\n"),
              std::string::npos);
    EXPECT_NE(l.messages.find("Try to continue without background image\n"), std::string::npos);
}

TEST_F(ImageSet, NoLoadableImage) {
    const std::string message =
        "\nORVA: None of the files could be found.\n\tPlease check path and filenames in the "
        "data file.\n";
    add(0, "gone1.pgm", "");
    add(1, "broken.pgm", "P5\n0 0\n255\n");
    set_background(pgm_image(2, 2));
    const Loaded l = load(job);
    EXPECT_EQ(l.status, 99);
    EXPECT_EQ(l.messages.substr(l.messages.size() - message.size()), message);

    JobSettings empty;
    const Loaded none = load(empty);
    EXPECT_EQ(none.status, 99);
    EXPECT_EQ(none.messages, message);
}

TEST_F(ImageSet, ImagesOfDifferentSizesAreRejected) {
    add(0, "a.pgm", pgm_image(4, 3));
    add(1, "b.pgm", pgm_image(3, 4));
    const Loaded l = load(job);
    EXPECT_EQ(l.status, 14);
    EXPECT_NE(l.messages.find("has 3 x 4 pixels, the images before it 4 x 3."), std::string::npos);

    job.images.pop_back();
    set_background(pgm_image(4, 4));
    EXPECT_EQ(load(job).status, 14);

    // A missing first image does not fix the size: the first one loaded does.
    job.images.clear();
    job.background_flag = 0;
    add(0, "gone.pgm", "");
    add(1, "b.pgm", pgm_image(3, 4));
    add(2, "c.pgm", pgm_image(3, 4));
    EXPECT_EQ(load(job).status, 0);
}

}  // namespace
}  // namespace orva
