// Result file text in both variants and its safe replacement.
#include "run/result_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/files.h"

namespace orva {
namespace {

const ORVARESULT EXAMPLE{320, 240, 30, 45, 100, 500, 73, 0};
const std::string EXAMPLE_TEXT =
    "TARGET_ANGLE \t45\nRADIUS \t\t30\nY_CENTRE \t240\nX_CENTRE \t320\nLOOP_WIDTH\t100\n"
    "RIGHT_BORDER\t500\nRELIABILITY \t 73\nPRECENTRING \t0\n";

int entries(const std::filesystem::path& dir) {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator(dir),
                                          std::filesystem::directory_iterator()));
}

TEST(ResultText, NormalAndZeroVariants) {
    const std::string zero_head =
        "TARGET_ANGLE \t0\nRADIUS \t0\nY_CENTRE \t0\nX_CENTRE \t0\nLOOP_WIDTH \t0\n"
        "RIGHT_BORDER \t0\n";
    const auto at_angle = [](const std::string& phi) {
        return "TARGET_ANGLE \t" + phi + EXAMPLE_TEXT.substr(EXAMPLE_TEXT.find('\n'));
    };
    const struct {
        int phi, reliability, precentring, x;
        std::string text;
    } cases[] = {
        {45, 73, 0, 320, EXAMPLE_TEXT},
        {-20, -5, 1, -3,
         "TARGET_ANGLE \t-20\nRADIUS \t\t30\nY_CENTRE \t240\nX_CENTRE \t-3\nLOOP_WIDTH\t100\n"
         "RIGHT_BORDER\t500\nRELIABILITY \t -1\nPRECENTRING \t1\n"},
        {359, 73, 0, 320, at_angle("359")},
        {-360, 73, 0, 320, at_angle("-360")},
        // From one turn on either way: the zero variant, spaced differently.
        {360, 73, 0, 320, zero_head + "RELIABILITY \t 73\nPRECENTRING \t0\n"},
        {400, 73, 1, 320, zero_head + "RELIABILITY \t 73\nPRECENTRING \t1\n"},
        {-361, -2, 0, 320, zero_head + "RELIABILITY \t -1\nPRECENTRING \t0\n"},
    };
    for (const auto& c : cases) {
        ORVARESULT r = EXAMPLE;
        r.phi = c.phi;
        r.reliability = c.reliability;
        r.precentring_flag = c.precentring;
        r.x_centre = c.x;
        EXPECT_EQ(format_result(r), c.text) << c.phi;
    }
}

TEST(ResultFile, ReplacesTheOldFileWholeAndKeepsItsPermissions) {
    testing::ScratchDir dir;
    const std::string name = dir.file("result.txt");
    EXPECT_EQ(write_result_file(name.c_str(), EXAMPLE), 0);
    EXPECT_EQ(testing::read_file(name), EXAMPLE_TEXT);

    testing::write_file(name, std::string(5000, 'x'));  // longer than the new text
    ASSERT_EQ(chmod(name.c_str(), 0640), 0);
    ORVARESULT r = EXAMPLE;
    r.radius = 7;
    EXPECT_EQ(write_result_file(name.c_str(), r), 0);
    std::string expected = EXAMPLE_TEXT;
    EXPECT_EQ(testing::read_file(name), expected.replace(expected.find("\t\t30"), 4, "\t\t7"));
    struct stat st {};
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(entries(dir.path()), 1);  // no temporary file left beside it
}

TEST(ResultFile, FailureIsReportedAndLeavesTheOldFile) {
    testing::ScratchDir dir;
    // A directory in the way of the result file, and a missing directory.
    const std::string blocked = dir.file("blocked");
    std::filesystem::create_directory(blocked);
    testing::write_file(blocked + "/inside.txt", "old");
    for (const std::string& name : {blocked, dir.file("none/result.txt")}) {
        testing::StderrCapture capture;
        EXPECT_EQ(write_result_file(name.c_str(), EXAMPLE), RESULT_WRITE_ERROR);
        EXPECT_TRUE(capture.text().starts_with("\nORVA: Cannot write result file " + name + ": "));
    }
    EXPECT_EQ(testing::read_file(blocked + "/inside.txt"), "old");
    EXPECT_EQ(entries(dir.path()), 1);
}

TEST(ResultFile, WhatIsNotARegularFileIsWrittenIntoOrRefusedNeverReplaced) {
    testing::ScratchDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    testing::StderrCapture capture;
    EXPECT_EQ(write_result_file(fifo.c_str(), EXAMPLE), RESULT_WRITE_ERROR);  // nobody reads
    EXPECT_NE(capture.text().find(": no process reads from it\n"), std::string::npos);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(write_result_file(fifo.c_str(), EXAMPLE), 0);
    char got[256] = {};
    EXPECT_EQ(read(reader, got, sizeof got), static_cast<ssize_t>(EXAMPLE_TEXT.size()));
    EXPECT_EQ(std::string(got), EXAMPLE_TEXT);
    close(reader);
    // Devices such as /dev/null are written into and stay what they are.
    EXPECT_EQ(write_result_file("/dev/null", EXAMPLE), 0);
    for (const char* special : {fifo.c_str(), "/dev/null"}) {
        struct stat st {};
        ASSERT_EQ(lstat(special, &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) << special;
    }

    // A link is followed: the file it names is replaced, or created, and the link stays.
    for (const bool existing : {true, false}) {
        const std::string target = dir.file(existing ? "target.txt" : "new.txt");
        const std::string link = dir.file(existing ? "link.txt" : "link2.txt");
        if (existing) testing::write_file(target, "old");
        std::filesystem::create_symlink(target, link);
        EXPECT_EQ(write_result_file(link.c_str(), EXAMPLE), 0);
        EXPECT_TRUE(std::filesystem::is_symlink(link));
        EXPECT_EQ(testing::read_file(target), EXAMPLE_TEXT);
    }
}

}  // namespace
}  // namespace orva
