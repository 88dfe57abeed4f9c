// Hints for unknown keywords, and the REPORT keyword.
#include "run/keyword_hint.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "run/job_file.h"

namespace orva {
namespace {

TEST(KeywordHint, CloseWordsGetTheirKeyword) {
    const struct {
        const char* word;
        const char* hint;  // null: no hint
    } cases[] = {
        {"NUMBER_OF_IMAGE", "NUMBER_OF_IMAGES"},
        {"number_of_images", "NUMBER_OF_IMAGES"},
        {"BAK", "BACK"},
        {"back", "BACK"},
        {"CENTER_COORD", "CENTRE_COORD"},
        {"LOOP_POSITON", "LOOP_POSITION"},
        {"VERS_23", "VERS23"},
        {"REPROT", "REPORT"},
        {"DATA_STRAT", "DATA_START"},
        {"0.00", nullptr},
        {"BACKGROUND", "BACK"},
        {"DA", nullptr},
        {"REPORT_FILE", "REPORT"},
        {"", nullptr},
        {"IMAGE_LIST", nullptr},
    };
    for (const auto& c : cases) {
        const char* hint = closest_keyword(c.word);
        EXPECT_STREQ(hint, c.hint) << c.word;
    }
}

JobSettings parse(std::string text, std::string& messages) {
    JobSettings job;
    std::FILE* in = fmemopen(text.data(), text.size(), "r");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(read_job_stream(in, "job.txt", job), 0);
    messages = ::testing::internal::GetCapturedStderr();
    std::fclose(in);
    return job;
}

TEST(KeywordHint, JobFileHintsAndReport) {
    std::string messages;
    JobSettings job = parse("NUMBER_OF_IMAGE 2\nREPORT out/r.json\nREPORT\nDATA_END\n", messages);
    // The old message stays as it was; the hint is one more line.
    EXPECT_EQ(messages,
              "\n\n ===> Unknown keyword: NUMBER_OF_IMAGE !\n      Did you mean NUMBER_OF_IMAGES?"
              "\n REPORT needs a file name\n");
    EXPECT_EQ(job.report_name, "out/r.json");
    ASSERT_EQ(job.warnings.size(), 2u);
    EXPECT_EQ(job.warnings[0].code, "unknown_keyword");

    job = parse("DATA 0 a.png\nDATA_END\n", messages);
    EXPECT_EQ(messages, "");
    EXPECT_EQ(job.report_name, "");
}

}  // namespace
}  // namespace orva
