// Image-set loading on tiny files written by the tests: skipping, type dispatch, size check.
#include "run/image_set.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/files.h"

namespace orva {
namespace {

using testing::pgm_image;
using testing::pgm_pixels;

class ImageSet : public ::testing::Test {
  protected:
    // Adds a list entry; `content` empty means the file does not exist.
    std::string add(float angle, const std::string& name, const std::string& content) {
        const std::string path = dir.file(name);
        std::filesystem::remove(path);
        if (!content.empty()) testing::write_file(path, content);
        job.images.push_back({angle, path});
        return path;
    }
    // A background with `content`; empty means a missing file.
    void set_background(const std::string& content) {
        job.back_name = dir.file("back.pgm");
        job.background_flag = 1;
        std::filesystem::remove(job.back_name);
        if (!content.empty()) testing::write_file(job.back_name, content);
    }
    int load() {
        testing::StderrCapture capture;
        const int status = load_image_set(job, params, images);
        messages = capture.text();
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

// Types that cannot be read, sizes that differ, or nothing loaded end the run,
// with nothing printed after the message.
TEST_F(ImageSet, WhatEndsTheRun) {
    const std::string none =
        "\nORVA: None of the files could be found.\n\tPlease check path and filenames in the "
        "data file.\n";
    const std::string tiff_message =
        "odd\n***************************************************\nPresently this software is "
        "compatible to uncompressed TIFF images\n"
        "***************************************************\n";
    const std::string a = pgm_image(4, 3), tall = pgm_image(3, 4);
    const struct {
        std::vector<std::string> contents;  // images at angles 0, 10, ..; "" is missing
        std::string background;             // "-": none
        int status;
        std::string ending;
    } cases[] = {
        {{a, "P2\n2 2\n255\n1 2 3 4\n", a},
         "-",
         11,
         "odd\n Only P5 and P5 type  PGM/PPM supported!\n"},
        {{a, std::string("MM\0\x2b\0\0\0\x08", 8), a}, "-", 11, tiff_message},
        {{a, "just some words\n", a}, "-", 13, "odd\n Unknown image type! Cannot deal with!\n"},
        {{a}, "not an image at all", 13, "\n Unknown image type! Cannot deal with!\n"},
        {{}, "-", 99, none},
        {{"", "P5\n0 0\n255\n"}, a, 99, none},
        {{a, tall},
         "-",
         14,
         "odd has 3 x 4 pixels, the images before it 4 x 3."
         "\n All images of a job, the background included, must have one size.\n"},
        {{a}, pgm_image(4, 4), 14, "must have one size.\n"},
        // A missing first image does not fix the size: the first one loaded does.
        {{"", tall, tall}, "-", 0, ""},
    };
    for (const auto& c : cases) {
        job = JobSettings{};
        params = ORVAPARAMS{};
        images.clear();
        for (std::size_t i = 0; i < c.contents.size(); ++i)
            add(10.0f * i, i == 1 ? "odd" : "img" + std::to_string(i), c.contents[i]);
        if (c.background != "-") set_background(c.background);
        EXPECT_EQ(load(), c.status) << c.ending;
        EXPECT_TRUE(messages.ends_with(c.ending)) << messages;
    }
}

}  // namespace
}  // namespace orva
