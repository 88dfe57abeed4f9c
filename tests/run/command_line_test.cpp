// Command-line choice between usage, help and a run; the banner layout.
#include "run/command_line.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace orva {
namespace {

TEST(CommandLine, UsageHelpOrRun) {
    const std::string stars = "\n**********************************************************";
    const std::string usage = stars + "\nUsage : orva data_file_name result_file_name" + stars;
    const std::string help_tail =
        "SHADOW (in combintion with VERS23 only)\n"
        "\t\t This keyword is for the cases when a shadow \n"
        "\t\t (e.g. from a cryo head) comes into the field of view \n";
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
        std::vector<std::string> args = c.args;
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(check_command_line(static_cast<int>(args.size()), argv.data()), c.status)
            << args.size() << " " << args.back();
        const std::string text = ::testing::internal::GetCapturedStderr();
        if (c.text == NONE) {
            EXPECT_EQ(text, "");
        } else if (c.text == USAGE) {
            EXPECT_EQ(text, usage + "\norva -help\n");
        } else {
            EXPECT_EQ(text.rfind(usage + "\n\nNUMBER_OF_IMAGES  <number> (compulsory)\n", 0), 0u);
            EXPECT_NE(text.find("\t\t  Closes the input list.\n\nLOOP_POSITION"),
                      std::string::npos);
            EXPECT_EQ(text.substr(text.size() - help_tail.size()), help_tail);
        }
    }
}

TEST(CommandLine, BannerLines) {
    ::testing::internal::CaptureStderr();
    write_banner();
    const std::string frame = "\n#={68}#";
    EXPECT_TRUE(std::regex_match(
        ::testing::internal::GetCapturedStderr(),
        std::regex(frame + "\n# {29}ORVA 3\\.0 {31}#" + frame +
                   "\n# sub-version: [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [0-9:]{8} {33}#" + frame)));
}

}  // namespace
}  // namespace orva
