// The whole run through run_orva with a test driver: the command line, job file to result
// file, marker and status.
#include "run/run_orva.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "run/result_file.h"
#include "support/files.h"

namespace orva {
namespace {

using testing::pgm_image;
using testing::pgm_pixels;
using testing::read_file;
using testing::write_file;

class RunOrva : public ::testing::Test {
  protected:
    RunOrva() : here(dir.path()) {
        write_file("a.pgm", pgm_image(2, 2));
        write_file("result.txt", "old result");
    }

    // The driver records what it was given and answers with known values.
    int run(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const AnalysisDriver driver = [this](ORVAPARAMS& p, std::vector<ByteBuffer>& imgs,
                                             ORVARESULT& result) {
            ++calls;
            seen = p;
            images = imgs;
            result = {320, 240, 30, 45, 100, 500, 73, 0};
            return driver_status;
        };
        ::testing::internal::CaptureStdout();
        testing::StderrCapture capture;
        const int status = run_orva(static_cast<int>(args.size()), argv.data(), driver);
        messages = capture.text();
        output = ::testing::internal::GetCapturedStdout();
        return status;
    }
    int run_job(const std::string& job_text, const char* result = "result.txt") {
        write_file("job.txt", job_text);
        return run({"orva", "job.txt", result});
    }
    bool said(const std::string& text) const { return messages.find(text) != std::string::npos; }

    testing::ScratchDir dir;
    testing::WorkingDir here;
    int driver_status = 0;
    int calls = 0;
    ORVAPARAMS seen;
    std::vector<ByteBuffer> images;
    std::string messages, output;
};

TEST_F(RunOrva, CommandLine) {
    const std::string stars = "\n**********************************************************";
    const std::string usage = stars + "\nUsage : orva data_file_name result_file_name" + stars;
    const std::string help_tail =
        "SHADOW (in combintion with VERS23 only)\n"
        "\t\t This keyword is for the cases when a shadow \n"
        "\t\t (e.g. from a cryo head) comes into the field of view \n";
    write_file("job.txt", "DATA 0 a.pgm\nDATA_END\n");
    enum Text { NONE, USAGE, HELP };
    const struct {
        std::vector<std::string> args;
        int status;
        Text text;
    } cases[] = {
        {{"orva"}, 1, USAGE},
        {{"orva", "job.txt"}, 1, USAGE},
        {{"orva", "-Help"}, 1, USAGE},
        {{"orva", "-help"}, 1, HELP},
        {{"orva", "-help", "result.txt", "more"}, 1, HELP},
        {{"orva", "job.txt", "result.txt", "ignored"}, 0, NONE},
        {{"orva", "job.txt", "-help"}, 0, NONE},
    };
    for (const auto& c : cases) {
        calls = 0;
        EXPECT_EQ(run(c.args), c.status) << c.args.size() << " " << c.args.back();
        EXPECT_EQ(calls, c.status == 0);
        EXPECT_EQ(read_file(MARKER_FILE), c.status == 0 ? "1" : "0");
        if (c.text == USAGE) {
            EXPECT_TRUE(messages.ends_with(usage + "\norva -help\n")) << messages;
        } else if (c.text == HELP) {
            EXPECT_TRUE(said(usage + "\n\nNUMBER_OF_IMAGES  <number> (compulsory)\n"));
            EXPECT_TRUE(said("\t\t  Closes the input list.\n\nLOOP_POSITION"));
            EXPECT_TRUE(messages.ends_with(help_tail));
        }
    }
    // The version alone: on standard output, and no run at all.
    std::filesystem::remove(MARKER_FILE);
    EXPECT_EQ(run({"orva", "--version"}), 0);
    EXPECT_TRUE(output.starts_with("orva 3.0 (built ")) << output;
    EXPECT_EQ(messages, "");
    EXPECT_FALSE(testing::file_exists(MARKER_FILE));
}

TEST_F(RunOrva, FromJobFileToResultFile) {
    write_file("a.pgm", pgm_image(6, 4, 1));
    write_file("c.pgm", pgm_image(6, 4, 3));
    write_file("d.pgm", pgm_image(6, 4, 4));
    write_file("back.pgm", pgm_image(6, 4, 9));
    ASSERT_EQ(run_job("NUMBER_OF_IMAGES 4\nBACK back.pgm\nLOGOUTX\nDATA_START\n270 d.pgm\n"
                      "-20 a.pgm\n90 b.pgm\n180 c.pgm\nDATA_END\n"),
              0)
        << messages;
    EXPECT_EQ(read_file("result.txt"),
              "TARGET_ANGLE \t45\nRADIUS \t\t30\nY_CENTRE \t240\nX_CENTRE \t320\nLOOP_WIDTH\t100\n"
              "RIGHT_BORDER\t500\nRELIABILITY \t 73\nPRECENTRING \t0\n");
    EXPECT_EQ(read_file(MARKER_FILE), "1");
    EXPECT_TRUE(messages.ends_with("\nORVA ready.\n"));

    ASSERT_EQ(calls, 1);
    EXPECT_EQ(seen.num_images, 3);
    EXPECT_EQ(seen.angle, (std::vector<float>{180, 270, 340}));
    EXPECT_EQ(images, (std::vector<ByteBuffer>{pgm_pixels(6, 4, 3), pgm_pixels(6, 4, 4),
                                               pgm_pixels(6, 4, 1)}));
    EXPECT_EQ(seen.back_ptr, pgm_pixels(6, 4, 9));
}

TEST_F(RunOrva, FailuresLeaveTheOldResult) {
    const struct {
        const char* job;
        int driver_status;
        const char* result;
        int status, calls;
        const char* marker;  // "0": ended before the end-of-run steps
    } cases[] = {
        // clang-format off
        {"DATA 0 a.pgm\rDATA_END\r\n", 0, "result.txt", 1, 0, "0"},        // job file
        {"NUMBER_OF_IMAGES 37\nDATA_END\n", 0, "result.txt", 1, 0, "0"},     // job file
        {"DATA 0 a.pgm\nDATA 9 b.pgm\n", 0, "result.txt", 1, 0, "0"},        // no DATA_END
        {"DATA 0 gone.pgm\nDATA_END\n", 0, "result.txt", 99, 0, "1"},        // the images
        {"DATA 0 a.pgm\nDATA_END\n", 21, "result.txt", 21, 1, "1"},          // the driver
        {"DATA 0 a.pgm\nDATA_END\n", 0, "no_such_dir/result.txt", 15, 1, "1"},  // writing
        // clang-format on
    };
    for (const auto& c : cases) {
        calls = 0;
        driver_status = c.driver_status;
        EXPECT_EQ(run_job(c.job, c.result), c.status) << c.job;
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(read_file(MARKER_FILE), c.marker);
        const std::string closing = "\nORVA failed with error " + std::to_string(c.status) + "\n";
        EXPECT_EQ(messages.ends_with(closing), c.status != 1) << messages;
        EXPECT_EQ(read_file("result.txt"), "old result");
    }
    EXPECT_FALSE(testing::file_exists("no_such_dir"));

    // Image names are read from the working directory; a same-named file
    // beside the job file is pointed out.
    std::filesystem::create_directory("sub");
    write_file("sub/job.txt", "DATA 0 b.pgm\nDATA_END\n");
    write_file("sub/b.pgm", pgm_image(4, 4));
    EXPECT_EQ(run({"orva", "sub/job.txt", "result.txt"}), 99);
    EXPECT_TRUE(
        said("Reason: No such file or directory\nA file of that name lies next to the job "
             "file: sub/b.pgm"));
}

}  // namespace
}  // namespace orva
