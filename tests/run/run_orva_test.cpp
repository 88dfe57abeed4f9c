// The whole run through run_orva with a test driver: job file to result file, marker and status.
#include "run/run_orva.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/result_file.h"
#include "run/scratch_dir.h"

namespace orva {
namespace {

using testing::file_exists;
using testing::pgm_image;
using testing::read_file;
using testing::write_file;

const std::string EIGHT_LINES =
    "TARGET_ANGLE \t45\nRADIUS \t\t30\nY_CENTRE \t240\nX_CENTRE \t320\nLOOP_WIDTH\t100\n"
    "RIGHT_BORDER\t500\nRELIABILITY \t 73\nPRECENTRING \t0\n";

// Records what it was given and answers with known values or a given status.
struct TestDriver {
    int status = 0;
    int phi = 45;
    int calls = 0;
    ORVAPARAMS seen;
    std::vector<ByteBuffer> images;
    ORVARESULT on_entry;

    AnalysisDriver driver() {
        return [this](ORVAPARAMS& params, std::vector<ByteBuffer>& imgs, ORVARESULT& result) {
            ++calls;
            seen = params;
            images = imgs;
            on_entry = result;
            result.phi = phi;
            result.radius = 30;
            result.x_centre = 320;
            result.y_centre = 240;
            result.loop_width = 100;
            result.right_border = 500;
            result.reliability = 73;
            result.precentring_flag = 0;
            return status;
        };
    }
};

class RunOrva : public ::testing::Test {
  protected:
    RunOrva() : here(dir.path()) {}

    int run(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::testing::internal::CaptureStderr();
        const int status = run_orva(static_cast<int>(args.size()), argv.data(), test.driver());
        messages = ::testing::internal::GetCapturedStderr();
        return status;
    }
    int run_job(const std::string& job_text) {
        write_file("job.txt", job_text);
        return run({"orva", "job.txt", "result.txt"});
    }
    std::string marker() const { return read_file(MARKER_FILE); }
    bool ends_with(const std::string& tail) const {
        return messages.size() >= tail.size() &&
               messages.compare(messages.size() - tail.size(), tail.size(), tail) == 0;
    }

    testing::ScratchDir dir;
    testing::WorkingDir here;
    TestDriver test;
    std::string messages;
};

TEST_F(RunOrva, FromJobFileToResultFile) {
    write_file("a.pgm", pgm_image(6, 4, 1));
    write_file("c.pgm", pgm_image(6, 4, 3));
    write_file("d.pgm", pgm_image(6, 4, 4));
    write_file("back.pgm", pgm_image(6, 4, 9));
    const int status = run_job(
        "NUMBER_OF_IMAGES 4\nBACK back.pgm\nLOGOUTX\nDATA_START\n270 d.pgm\n-20 a.pgm\n"
        "90 b.pgm\n180 c.pgm\nDATA_END\n");
    ASSERT_EQ(status, 0) << messages;
    EXPECT_EQ(read_file("result.txt"), EIGHT_LINES);
    EXPECT_EQ(marker(), "1");
    EXPECT_TRUE(ends_with("\nORVA ready.\n"));

    ASSERT_EQ(test.calls, 1);
    EXPECT_EQ(test.seen.num_images, 3);
    EXPECT_EQ(test.seen.angle, (std::vector<float>{180, 270, 340}));
    ASSERT_EQ(test.images.size(), 3u);
    EXPECT_EQ(test.images[0], testing::pgm_pixels(6, 4, 3));
    EXPECT_EQ(test.images[2], testing::pgm_pixels(6, 4, 1));
    EXPECT_EQ(test.seen.width, 6);
    EXPECT_EQ(test.seen.height, 4);
    EXPECT_EQ(test.seen.background_flag, 1);
    EXPECT_EQ(test.seen.back_ptr, testing::pgm_pixels(6, 4, 9));
    EXPECT_EQ(test.seen.reserved, 1);
    EXPECT_EQ(test.on_entry.phi, 0);
    EXPECT_EQ(test.on_entry.reliability, 0);
}

TEST_F(RunOrva, AngleOutsideOneTurnGivesTheZeroFile) {
    write_file("a.pgm", pgm_image(2, 2));
    test.phi = 400;
    ASSERT_EQ(run_job("DATA 0 a.pgm\nDATA_END\n"), 0);
    EXPECT_EQ(read_file("result.txt"),
              "TARGET_ANGLE \t0\nRADIUS \t0\nY_CENTRE \t0\nX_CENTRE \t0\nLOOP_WIDTH \t0\n"
              "RIGHT_BORDER \t0\nRELIABILITY \t 73\nPRECENTRING \t0\n");
}

TEST_F(RunOrva, FailingDriverLeavesTheOldResult) {
    write_file("a.pgm", pgm_image(2, 2));
    write_file("result.txt", "old result");
    test.status = 21;
    EXPECT_EQ(run_job("DATA 0 a.pgm\nDATA_END\n"), 21);
    EXPECT_EQ(read_file("result.txt"), "old result");
    EXPECT_EQ(marker(), "1");
    EXPECT_TRUE(ends_with("\nORVA failed with error 21\n"));
}

TEST_F(RunOrva, EarlyFailuresKeepTheMarkerAtZero) {
    write_file("result.txt", "old result");
    write_file("a.pgm", pgm_image(2, 2));
    EXPECT_EQ(run({"orva"}), 1);
    EXPECT_EQ(marker(), "0");
    EXPECT_EQ(run({"orva", "-help", "result.txt"}), 1);
    EXPECT_EQ(marker(), "0");

    EXPECT_EQ(run_job("DATA 0 a.pgm\rDATA_END\r\n"), 1);
    EXPECT_EQ(marker(), "0");
    EXPECT_EQ(run_job("NUMBER_OF_IMAGES 37\nDATA_END\n"), 1);
    EXPECT_EQ(run_job("DATA 0 a.pgm\n"), 1);
    EXPECT_TRUE(ends_with("\n End of file reached!\n"));
    EXPECT_EQ(run({"orva", "missing.txt", "result.txt"}), 1);
    EXPECT_EQ(marker(), "0");

    EXPECT_EQ(test.calls, 0);
    EXPECT_EQ(read_file("result.txt"), "old result");
    EXPECT_EQ(messages.find("failed with error"), std::string::npos);
}

TEST_F(RunOrva, LoadingFailuresEndTheRunWithoutTheDriver) {
    write_file("result.txt", "old result");
    write_file("a.pgm", pgm_image(2, 2));
    write_file("b.pgm", pgm_image(2, 3));
    EXPECT_EQ(run_job("DATA 0 a.pgm\nDATA 1 b.pgm\nDATA_END\n"), 14);
    EXPECT_EQ(marker(), "1");
    EXPECT_TRUE(ends_with("\nORVA failed with error 14\n"));

    EXPECT_EQ(run_job("DATA 0 gone.pgm\nDATA_END\n"), 99);
    EXPECT_EQ(marker(), "1");
    EXPECT_EQ(test.calls, 0);
    EXPECT_EQ(read_file("result.txt"), "old result");
}

TEST_F(RunOrva, ResultFileThatCannotBeWritten) {
    write_file("a.pgm", pgm_image(2, 2));
    write_file("job.txt", "DATA 0 a.pgm\nDATA_END\n");
    EXPECT_EQ(run({"orva", "job.txt", "no_such_dir/result.txt"}), 15);
    EXPECT_EQ(test.calls, 1);
    EXPECT_EQ(marker(), "1");
    EXPECT_TRUE(ends_with("\nORVA failed with error 15\n"));
    EXPECT_FALSE(file_exists("no_such_dir"));
}

}  // namespace
}  // namespace orva
