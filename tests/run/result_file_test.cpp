// Result file text in both variants, its safe replacement, the marker file and the closing line.
#include "run/result_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "run/scratch_dir.h"

namespace orva {
namespace {

using testing::file_exists;
using testing::read_file;
using testing::write_file;

ORVARESULT example() {
    ORVARESULT r;
    r.phi = 45;
    r.radius = 30;
    r.x_centre = 320;
    r.y_centre = 240;
    r.loop_width = 100;
    r.right_border = 500;
    r.reliability = 73;
    r.precentring_flag = 0;
    return r;
}

const std::string EXAMPLE_TEXT =
    "TARGET_ANGLE \t45\nRADIUS \t\t30\nY_CENTRE \t240\nX_CENTRE \t320\nLOOP_WIDTH\t100\n"
    "RIGHT_BORDER\t500\nRELIABILITY \t 73\nPRECENTRING \t0\n";

TEST(ResultText, NormalVariant) {
    EXPECT_EQ(format_result(example()), EXAMPLE_TEXT);

    ORVARESULT r = example();
    r.phi = -20;
    r.reliability = -5;
    r.precentring_flag = 1;
    r.x_centre = -3;
    EXPECT_EQ(format_result(r),
              "TARGET_ANGLE \t-20\nRADIUS \t\t30\nY_CENTRE \t240\nX_CENTRE \t-3\n"
              "LOOP_WIDTH\t100\nRIGHT_BORDER\t500\nRELIABILITY \t -1\nPRECENTRING \t1\n");
    r.phi = 180;
    r.reliability = -1000;
    EXPECT_EQ(format_result(r).substr(0, 18), "TARGET_ANGLE \t180\n");
    EXPECT_NE(format_result(r).find("RELIABILITY \t -1\n"), std::string::npos);
}

TEST(ResultText, ZeroVariantOutsideOneTurnEachWay) {
    const std::string zero_head =
        "TARGET_ANGLE \t0\nRADIUS \t0\nY_CENTRE \t0\nX_CENTRE \t0\nLOOP_WIDTH \t0\n"
        "RIGHT_BORDER \t0\n";
    ORVARESULT r = example();
    for (int phi : {360, 400, -361}) {
        r.phi = phi;
        EXPECT_EQ(format_result(r), zero_head + "RELIABILITY \t 73\nPRECENTRING \t0\n") << phi;
    }
    r.reliability = -2;
    EXPECT_EQ(format_result(r), zero_head + "RELIABILITY \t -1\nPRECENTRING \t0\n");
    for (int phi : {359, -360}) {
        r.phi = phi;
        EXPECT_EQ(format_result(r).rfind("TARGET_ANGLE \t" + std::to_string(phi) + "\n", 0), 0u);
    }
}

TEST(ResultFile, ReplacesTheOldFileWholeAndKeepsItsPermissions) {
    testing::ScratchDir dir;
    const std::string name = dir.file("result.txt");
    EXPECT_EQ(write_result_file(name.c_str(), example()), 0);
    EXPECT_EQ(read_file(name), EXAMPLE_TEXT);

    write_file(name, std::string(5000, 'x'));  // longer than the new text
    ASSERT_EQ(chmod(name.c_str(), 0640), 0);
    ORVARESULT r = example();
    r.radius = 7;
    EXPECT_EQ(write_result_file(name.c_str(), r), 0);
    std::string expected = EXAMPLE_TEXT;
    expected.replace(expected.find("\t\t30"), 4, "\t\t7");
    EXPECT_EQ(read_file(name), expected);
    struct stat st {};
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // Nothing else is left in the directory.
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(ResultFile, FailureIsReportedAndLeavesTheOldFile) {
    testing::ScratchDir dir;
    // A directory in the way of the result file.
    const std::string blocked = dir.file("blocked");
    std::filesystem::create_directory(blocked);
    write_file(blocked + "/inside.txt", "old");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(write_result_file(blocked.c_str(), example()), RESULT_WRITE_ERROR);
    const std::string messages = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(messages.find("ORVA: Cannot write result file " + blocked), std::string::npos);
    EXPECT_EQ(read_file(blocked + "/inside.txt"), "old");

    const std::string no_dir = dir.file("none/result.txt");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(write_result_file(no_dir.c_str(), example()), RESULT_WRITE_ERROR);
    ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(file_exists(no_dir));

    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);  // no temporary file left behind
}

TEST(EndOfRun, MarkerResultAndClosingLine) {
    testing::ScratchDir dir;
    testing::WorkingDir here(dir.path());

    EXPECT_EQ(write_marker(MARKER_STARTED), 0);
    EXPECT_EQ(read_file(MARKER_FILE), "0");

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(finish_run(0, "result.txt", example()), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "\nORVA ready.\n");
    EXPECT_EQ(read_file("result.txt"), EXAMPLE_TEXT);
    EXPECT_EQ(read_file(MARKER_FILE), "1");

    write_marker(MARKER_STARTED);
    ORVARESULT other = example();
    other.phi = 10;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(finish_run(7, "result.txt", other), 7);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "\nORVA failed with error 7\n");
    EXPECT_EQ(read_file("result.txt"), EXAMPLE_TEXT);
    EXPECT_EQ(read_file(MARKER_FILE), "1");

    std::filesystem::create_directory("taken");
    write_marker(MARKER_STARTED);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(finish_run(0, "taken", example()), RESULT_WRITE_ERROR);
    const std::string messages = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(messages.find("\nORVA failed with error 15\n"), std::string::npos);
    EXPECT_EQ(messages.find("ready"), std::string::npos);
    EXPECT_EQ(read_file(MARKER_FILE), "1");
}

}  // namespace
}  // namespace orva
