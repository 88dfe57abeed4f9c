// Image-set loading on tiny files written by the tests: skipping, type dispatch, size check.
#include "run/image_set.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "run/scratch_dir.h"

namespace orva {
namespace {

using testing::pgm_image;
using testing::pgm_pixels;

class ImageSet : public ::testing::Test {
  protected:
    // Adds a list entry; `content` empty means the file does not exist.
    std::string add(float angle, const std::string& name, const std::string& content) {
        const std::string path = dir.file(name);
        if (!content.empty()) testing::write_file(path, content);
        job.images.push_back({angle, path});
        return path;
    }
    void set_background(const std::string& content) {
        job.back_name = dir.file("back.pgm");
        job.background_flag = 1;
        testing::write_file(job.back_name, content);
    }
    int load() {
        ::testing::internal::CaptureStderr();
        const int status = load_image_set(job, params, images);
        messages = ::testing::internal::GetCapturedStderr();
        return status;
    }
    bool said(const std::string& text) const { return messages.find(text) != std::string::npos; }

    testing::ScratchDir dir;
    JobSettings job;
    ORVAPARAMS params;
    std::vector<ByteBuffer> images;
    std::string messages;
};

TEST_F(ImageSet, SkipsWhatCannotBeReadAndKeepsEachAngleWithItsImage) {
    // Borders, set_cross, image_special, uv, loop_pos, centre_coord, loop_type,
    // prealignment, background, vers23, logout.
    job = {{1, 2, 3, 4}, 5, 6, 0, 7, 8, 9, 10, 0, 11, 12, 0, {}, "", "", "", {}};
    add(0, "a.pgm", pgm_image(4, 3, 10));
    const std::string missing = add(90, "b.pgm", "");
    add(180, "short.pgm", "P5\n4 3\n255\nab");  // fewer pixels than declared
    add(270, "d.pgm", pgm_image(4, 3, 40));
    set_background(pgm_image(4, 3, 200));
    ASSERT_EQ(load(), 0) << messages;
    EXPECT_EQ(params.angle, (std::vector<float>{0, 270}));
    EXPECT_EQ(images, (std::vector<ByteBuffer>{pgm_pixels(4, 3, 10), pgm_pixels(4, 3, 40)}));
    EXPECT_EQ(params.back_ptr, pgm_pixels(4, 3, 200));
    const ORVAPARAMS& p = params;
    EXPECT_EQ((std::vector<int>{p.num_images, p.width, p.height, p.background_flag, p.border[0],
                                p.border[1], p.border[2], p.border[3], p.set_cross_flag,
                                p.image_special, p.loop_pos, p.centre_coord, p.loop_type,
                                p.prealignment_flag, p.vers23_flag, p.reserved}),
              (std::vector<int>{2, 4, 3, 1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_TRUE(said("\n Reading Image " + missing +
                     "\n**************************************************\nInput file " + missing +
                     " could not be opened for reading\nReason: No such file or directory\n"
                     "Try to proceed with next image\n"
                     "************************************************\n Reading Image "));
    EXPECT_TRUE(said("short.pgm could not be read as an image\nTry to proceed with next image\n"));
    // The background is read after every listed image.
    EXPECT_EQ(messages.rfind("\n Reading Image "),
              messages.find("\n Reading Image " + job.back_name));

    // A background that is missing or unreadable is dropped, the run goes on.
    for (const std::string& back : {std::string("P5\n4 3\n255\n"), std::string()}) {
        set_background(back);
        if (back.empty()) std::filesystem::remove(job.back_name);
        ASSERT_EQ(load(), 0) << messages;
        EXPECT_EQ(params.background_flag, 0);
        EXPECT_TRUE(said("Try to continue without background image\n"));
    }
}

TEST_F(ImageSet, FifosDevicesAndDirectoriesAreSkippedWithoutWaiting) {
    add(0, "a.pgm", pgm_image(4, 3));
    const std::string fifo = add(90, "fifo.pgm", "");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // no writer: opening it would wait
    const std::string folder = add(180, "folder.pgm", "");
    std::filesystem::create_directory(folder);
    job.images.push_back({270, "/dev/zero"});
    ASSERT_EQ(load(), 0) << messages;
    EXPECT_EQ(params.angle, (std::vector<float>{0}));
    for (const std::string& what : {fifo + " is a FIFO (named pipe)", folder + " is a directory",
                                    std::string("/dev/zero is a character device")})
        EXPECT_TRUE(
            said("\nInput file " + what + ", not an image file\nTry to proceed with next image\n"))
            << what;
}

TEST_F(ImageSet, UnsupportedOrUnknownTypesEndTheRun) {
    const struct {
        std::string content;
        int status;
        std::string message;
    } cases[] = {
        {"P2\n2 2\n255\n1 2 3 4\n", 11, "\n Only P5 and P5 type  PGM/PPM supported!\n"},
        {std::string("MM\0\x2b\0\0\0\x08", 8), 11,
         "\n***************************************************\nPresently this software is "
         "compatible to uncompressed TIFF images\n"
         "***************************************************\n"},
        {"just some words\n", 13, "\n Unknown image type! Cannot deal with!\n"},
    };
    for (const auto& c : cases) {
        job.images.clear();
        add(0, "a.pgm", pgm_image(2, 2));
        add(10, "odd", c.content);
        add(20, "c.pgm", pgm_image(2, 2));
        EXPECT_EQ(load(), c.status) << c.message;
        EXPECT_TRUE(messages.ends_with("odd" + c.message)) << messages;  // nothing after it
    }
    // The background is checked the same way.
    job.images.resize(1);
    set_background("not an image at all");
    EXPECT_EQ(load(), 13);
}

TEST_F(ImageSet, NoLoadableImage) {
    const std::string message =
        "\nORVA: None of the files could be found.\n\tPlease check path and filenames in the "
        "data file.\n";
    EXPECT_EQ(load(), 99);
    EXPECT_EQ(messages, message);
    add(0, "gone1.pgm", "");
    add(1, "broken.pgm", "P5\n0 0\n255\n");
    set_background(pgm_image(2, 2));
    EXPECT_EQ(load(), 99);
    EXPECT_TRUE(messages.ends_with(message));
}

TEST_F(ImageSet, ImagesOfDifferentSizesAreRejected) {
    add(0, "a.pgm", pgm_image(4, 3));
    add(1, "b.pgm", pgm_image(3, 4));
    EXPECT_EQ(load(), 14);
    EXPECT_TRUE(messages.ends_with(
        "b.pgm has 3 x 4 pixels, the images before it 4 x 3."
        "\n All images of a job, the background included, must have one size.\n"));
    job.images.pop_back();
    set_background(pgm_image(4, 4));
    EXPECT_EQ(load(), 14);

    // A missing first image does not fix the size: the first one loaded does.
    job = JobSettings{};
    add(0, "gone.pgm", "");
    add(1, "b.pgm", pgm_image(3, 4));
    add(2, "c.pgm", pgm_image(3, 4));
    EXPECT_EQ(load(), 0);
}

}  // namespace
}  // namespace orva
