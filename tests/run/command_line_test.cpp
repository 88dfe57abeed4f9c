// Command-line choice between usage, help and a run; the banner layout.
#include "run/command_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace orva {
namespace {

struct Checked {
    int status;
    std::string messages;
};

Checked check(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::testing::internal::CaptureStderr();
    const int status = check_command_line(static_cast<int>(args.size()), argv.data());
    return {status, ::testing::internal::GetCapturedStderr()};
}

const std::string USAGE =
    "\n**********************************************************"
    "\nUsage : orva data_file_name result_file_name"
    "\n**********************************************************"
    "\norva -help\n";

TEST(CommandLine, UsageHelpOrRun) {
    EXPECT_EQ(check({"orva"}).status, 1);
    EXPECT_EQ(check({"orva"}).messages, USAGE);
    EXPECT_EQ(check({"orva", "job.txt"}).messages, USAGE);
    EXPECT_EQ(check({"orva", "job.txt"}).status, 1);
    EXPECT_EQ(check({"orva", "-Help"}).messages, USAGE);

    for (auto args : {std::vector<std::string>{"orva", "-help"},
                      std::vector<std::string>{"orva", "-help", "result.txt", "more"}}) {
        const Checked help = check(args);
        EXPECT_EQ(help.status, 1);
        EXPECT_EQ(
            help.messages.rfind("\n**********************************************************"
                                "\nUsage : orva data_file_name result_file_name"
                                "\n**********************************************************\n\n"
                                "NUMBER_OF_IMAGES  <number> (compulsory)\n",
                                0),
            0u);
        const std::string tail =
            "SHADOW (in combintion with VERS23 only)\n"
            "\t\t This keyword is for the cases when a shadow \n"
            "\t\t (e.g. from a cryo head) comes into the field of view \n";
        EXPECT_EQ(help.messages.substr(help.messages.size() - tail.size()), tail);
        EXPECT_NE(help.messages.find("\t\t  Closes the input list.\n\nLOOP_POSITION"),
                  std::string::npos);
    }

    const Checked run = check({"orva", "job.txt", "result.txt", "ignored"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.messages, "");
    EXPECT_EQ(check({"orva", "job.txt", "-help"}).status, 0);
}

TEST(CommandLine, BannerLines) {
    ::testing::internal::CaptureStderr();
    write_banner();
    const std::string banner = ::testing::internal::GetCapturedStderr();
    std::istringstream lines(banner);
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);) got.push_back(line);
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0], "");
    const std::string frame = "#" + std::string(68, '=') + "#";
    EXPECT_EQ(got[1], frame);
    EXPECT_EQ(got[2], "#" + std::string(28, ' ') + " ORVA 3.0  " + std::string(29, ' ') + "#");
    EXPECT_EQ(got[3], frame);
    EXPECT_EQ(got[4].rfind("# sub-version: ", 0), 0u);
    EXPECT_EQ(got[4].substr(got[4].size() - 34), " " + std::string(32, ' ') + "#");
    EXPECT_EQ(got[5], frame);
    EXPECT_NE(banner.back(), '\n');
}

}  // namespace
}  // namespace orva
