// Job-file reader: fields, keywords and their order, line handling, the image list and every
// failure.
#include "run/job_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "orva_defines.h"
#include "run/scratch_dir.h"

namespace orva {
namespace {

struct Parsed {
    int status = -1;
    JobSettings job;
    std::string messages;
};

Parsed parse(const std::string& text) {
    Parsed p;
    std::string copy = text;
    std::FILE* in = fmemopen(copy.data(), copy.size(), "r");
    if (in == nullptr) throw std::runtime_error("fmemopen failed");
    ::testing::internal::CaptureStderr();
    p.status = read_job_stream(in, "job.txt", p.job);
    p.messages = ::testing::internal::GetCapturedStderr();
    std::fclose(in);
    return p;
}

std::vector<std::string> names(const JobSettings& job) {
    std::vector<std::string> out;
    for (const ImageEntry& e : job.images) out.push_back(e.name);
    return out;
}

std::vector<float> angles(const JobSettings& job) {
    std::vector<float> out;
    for (const ImageEntry& e : job.images) out.push_back(e.angle);
    return out;
}

TEST(JobFileStrings, FieldsAreFoundAcrossRunsOfSeparators) {
    const char* line = " \tDATA\t\t 90.5  name.pgm\r\n";
    EXPECT_STREQ(get_nth_field(line, 1), "DATA\t\t 90.5  name.pgm\r\n");
    EXPECT_STREQ(get_nth_field(line, 2), "90.5  name.pgm\r\n");
    EXPECT_STREQ(get_nth_field(line, 3), "name.pgm\r\n");
    // Too few fields: the line itself.
    EXPECT_EQ(get_nth_field(line, 4), line);
    EXPECT_EQ(get_nth_field("   \r\n", 1), std::string("   \r\n"));
    EXPECT_EQ(get_nth_field(nullptr, 1), nullptr);

    EXPECT_EQ(blank_line(" \t\r\n"), 1);
    EXPECT_EQ(blank_line("\x01\x1f\xc3\xa9\n"), 1);  // control and non-ASCII bytes only
    EXPECT_EQ(blank_line("   !"), 0);                // 33
    EXPECT_EQ(blank_line("\x7f"), 0);                // 127 counts
    EXPECT_EQ(blank_line(""), 1);
}

TEST(JobFileKeywords, EveryKeywordSetsItsTargetAndDefaultsStand) {
    Parsed d = parse("DATA_END\n");
    ASSERT_EQ(d.status, 0);
    EXPECT_EQ(d.job.border[0], 4);
    EXPECT_EQ(d.job.border[3], 4);
    EXPECT_EQ(d.job.centre_coord, -1);
    EXPECT_EQ(d.job.image_special, 0);
    EXPECT_EQ(d.job.background_flag, 0);
    EXPECT_EQ(d.job.numimg, 0);
    EXPECT_TRUE(d.job.images.empty());

    Parsed p = parse(
        "# a comment line\n"
        "SET_CROSS\nLOGOUTX\nLOOP_TYPE 3\n\n   \nPREALIGN\nVERS23\nLOOP_POS 2\n"
        "CENTRE_COORD 321\nBACK back.pgm\nNUM_IMG 1\nDATA_START\n12.5 one.pgm\nDATA_END\n"
        "BORDER 99\n");  // after DATA_END: never read
    ASSERT_EQ(p.status, 0) << p.messages;
    EXPECT_EQ(p.job.set_cross_flag, 1);
    EXPECT_EQ(p.job.logout_flag, 1);
    EXPECT_EQ(p.job.loop_type, 3);
    EXPECT_EQ(p.job.prealignment_flag, 1);
    EXPECT_EQ(p.job.vers23_flag, 1);
    EXPECT_EQ(p.job.loop_pos, 2);
    EXPECT_EQ(p.job.centre_coord, 321);
    EXPECT_EQ(p.job.back_name, "back.pgm");
    EXPECT_EQ(p.job.background_flag, 1);
    EXPECT_EQ(p.job.border[0], 4);
    ASSERT_EQ(p.job.images.size(), 1u);
    EXPECT_FLOAT_EQ(p.job.images[0].angle, 12.5f);
    EXPECT_EQ(p.job.images[0].name, "one.pgm");
    EXPECT_EQ(p.messages, "");

    Parsed s = parse("LOOP_POSITION 3\nIMAGE_SPECIAL 3\nSHADOW\nDATA_END\n");
    EXPECT_EQ(s.job.loop_pos, 3);
    EXPECT_EQ(s.job.image_special, 6);
    EXPECT_EQ(s.job.uv_flag, 1);  // UV images stay UV images for the reader
    Parsed later = parse("IMAGE_SPECIAL 3\nIMAGE_SPECIAL 0\nDATA_END\n");
    EXPECT_EQ(later.job.image_special, 0);
    EXPECT_EQ(later.job.uv_flag, 1);
    EXPECT_EQ(parse("IMAGE_SPECIAL 4\nDATA_END\n").job.uv_flag, 0);
}

TEST(JobFileKeywords, BordersFollowTheOrderOfTheLines) {
    Parsed a = parse("BORDER 10\nBORDER_L 2\nDATA_END\n");
    EXPECT_EQ(std::vector<int>(a.job.border, a.job.border + 4), (std::vector<int>{10, 10, 2, 10}));
    Parsed b = parse("BORDER_L 2\nBORDER 10\nDATA_END\n");
    EXPECT_EQ(std::vector<int>(b.job.border, b.job.border + 4), (std::vector<int>{10, 10, 10, 10}));
    Parsed c = parse("BORDER_B 1\nBORDER_T 2\nBORDER_L 3\nBORDER_R 5\nDATA_END\n");
    EXPECT_EQ(std::vector<int>(c.job.border, c.job.border + 4), (std::vector<int>{1, 2, 3, 5}));

    Parsed special_first = parse("IMAGE_SPECIAL 2\nBORDER_T 5\nDATA_END\n");
    EXPECT_EQ(special_first.job.border[BORDER_TOP], 5);
    EXPECT_EQ(special_first.job.image_special, 2);
    Parsed special_last = parse("BORDER_T 5\nIMAGE_SPECIAL 2\nDATA_END\n");
    EXPECT_EQ(special_last.job.border[BORDER_TOP], 18);
    EXPECT_EQ(special_last.job.border[BORDER_BOTTOM], 4);
}

TEST(JobFileKeywords, MissingOrUnreadableValuesLeaveTheTarget) {
    Parsed p = parse(
        "BORDER 7\nBORDER\nBORDER_L abc\nCENTRE_COORD 99999999999\nLOOP_TYPE 5x\n"
        "LOOP_POS -1\nBORDER_R +3\nDATA_END\n");
    ASSERT_EQ(p.status, 0);
    EXPECT_EQ(p.job.border[BORDER_BOTTOM], 7);
    EXPECT_EQ(p.job.border[BORDER_LEFT], 7);
    EXPECT_EQ(p.job.border[BORDER_RIGHT], 3);
    EXPECT_EQ(p.job.centre_coord, -1);
    EXPECT_EQ(p.job.loop_type, 5);  // the number stops at the first non-digit
    EXPECT_EQ(p.job.loop_pos, -1);
}

TEST(JobFileKeywords, UnknownKeywordsAreReportedAndSkipped) {
    Parsed p = parse("border 3\nNUMBER_OF_IMAGES 1\nDATA_START\n0 a.pgm\n90 b.pgm\nDATA_END\n");
    ASSERT_EQ(p.status, 0);
    EXPECT_EQ(p.job.border[0], 4);  // keywords are case-sensitive
    // The list line beyond the announced count is read as a keyword line.
    EXPECT_EQ(p.messages, "\n\n ===> Unknown keyword: border !\n\n ===> Unknown keyword: 90 !");
    EXPECT_EQ(names(p.job), std::vector<std::string>{"a.pgm"});
}

TEST(JobFileLines, CarriageReturnLineFeedIsAcceptedBareCarriageReturnIsNot) {
    Parsed crlf = parse(
        "BORDER 6\r\nNUMBER_OF_IMAGES 2\r\nDATA_START\r\n10 a.pgm\r\n"
        "20 b.pgm\r\nDATA_END\r\n");
    ASSERT_EQ(crlf.status, 0) << crlf.messages;
    EXPECT_EQ(crlf.job.border[0], 6);
    EXPECT_EQ(names(crlf.job), (std::vector<std::string>{"a.pgm", "b.pgm"}));

    const std::string keyword_message =
        "\n\n*************************************************************\n"
        " 'job.txt' contains carriage return (ASCII: 13) without\n\t additional newline "
        "character (ASCII: 10) \n Cannot process this file properly! \n Please check creation "
        "of job.txt!\n*************************************************************\n";
    Parsed bare = parse("BORDER 6\rNUMBER_OF_IMAGES 1\rDATA_START\r0 a.pgm\rDATA_END\r");
    EXPECT_EQ(bare.status, 1);
    EXPECT_EQ(bare.messages, keyword_message);

    Parsed in_list = parse("NUMBER_OF_IMAGES 1\nDATA_START\n0 a.pgm\rx\nDATA_END\n");
    EXPECT_EQ(in_list.status, 1);
    EXPECT_NE(in_list.messages.find(" without\n additional newline character (ASCII: 10) "),
              std::string::npos);

    // The first and the last character of a line are not examined.
    Parsed edges = parse("\rBORDER 8\nDATA_END\r");
    EXPECT_EQ(edges.status, 0);
    EXPECT_EQ(edges.job.border[0], 8);
}

TEST(JobFileLines, LongLinesAreReadInPieces) {
    // The first 1023 characters form one line, the rest another.
    std::string first = "BORDER_L 3";
    first.resize(MAX_LEN - 1, ' ');
    Parsed p = parse(first + "BORDER_R 9\nDATA_END\n");
    ASSERT_EQ(p.status, 0) << p.messages;
    EXPECT_EQ(p.job.border[BORDER_LEFT], 3);
    EXPECT_EQ(p.job.border[BORDER_RIGHT], 9);
}

TEST(JobFileImages, AnglesAreNormalisedAndTheListSortedStably) {
    Parsed d = parse(
        "DATA -90 m90.pgm\nDATA 400 p400.pgm\nDATA -400 m400.pgm\nDATA 0 z.pgm\n"
        "DATA_END\n");
    ASSERT_EQ(d.status, 0);
    EXPECT_EQ(angles(d.job), (std::vector<float>{-40.0f, 0.0f, 270.0f, 400.0f}));
    EXPECT_EQ(names(d.job), (std::vector<std::string>{"m400.pgm", "z.pgm", "m90.pgm", "p400.pgm"}));

    Parsed l = parse(
        "NUMBER_OF_IMAGES 6\nDATA_START\n90 a.pgm\n0 b.pgm\n270 c.pgm\n"
        "180 d.pgm\n0 e.pgm\n-270 f.pgm\nDATA_END\n");
    ASSERT_EQ(l.status, 0) << l.messages;
    EXPECT_EQ(angles(l.job), (std::vector<float>{0, 0, 90, 90, 180, 270}));
    EXPECT_EQ(names(l.job),
              (std::vector<std::string>{"b.pgm", "e.pgm", "a.pgm", "f.pgm", "d.pgm", "c.pgm"}));
}

TEST(JobFileImages, ListLinesAreTakenAsTheyCome) {
    // The angle is the number at the start of the line, 0 when there is none;
    // comment-like lines are entries; a lone field is also the file name.
    Parsed p = parse(
        "NUMBER_OF_IMAGES 4\nDATA_START\n  45.5e0 x.pgm\nabc y.pgm\n# z.pgm\n"
        "30\nDATA_END\n");
    ASSERT_EQ(p.status, 0) << p.messages;
    EXPECT_EQ(angles(p.job), (std::vector<float>{0, 0, 30, 45.5f}));
    EXPECT_EQ(names(p.job), (std::vector<std::string>{"y.pgm", "z.pgm", "30", "x.pgm"}));
}

TEST(JobFileImages, ShortListRunsWithTheEntriesRead) {
    Parsed p = parse("NUMBER_OF_IMAGES 4\nDATA_START\n0 a.pgm\n90 b.pgm\nDATA_END\nBORDER 1\n");
    ASSERT_EQ(p.status, 0);
    EXPECT_EQ(p.messages,
              "\n ====================================\n Wrong value for NUM_IMG keyword (4)"
              "\n Only 2 images in data file\n ====================================\n");
    EXPECT_EQ(p.job.numimg, 2);
    EXPECT_EQ(names(p.job), (std::vector<std::string>{"a.pgm", "b.pgm"}));
    EXPECT_EQ(p.job.border[0], 4);  // the reading ended at the list's DATA_END
}

TEST(JobFileImages, DataLinesSetTheImageCount) {
    Parsed p = parse("NUMBER_OF_IMAGES 5\nDATA 10 a.pgm\nDATA 20 b.pgm\nDATA_END\n");
    ASSERT_EQ(p.status, 0);
    EXPECT_EQ(p.job.numimg, 2);
    EXPECT_EQ(p.job.images.size(), 2u);

    // An announced count without any list gives no entries, never unnamed ones.
    Parsed none = parse("NUMBER_OF_IMAGES 3\nDATA_END\n");
    ASSERT_EQ(none.status, 0);
    EXPECT_EQ(none.job.numimg, 0);
    EXPECT_TRUE(none.job.images.empty());
}

TEST(JobFileErrors, ImageCountOutOfRange) {
    const std::string message = "\nNUMBER_OF_IMAGES: value must be in the range of 1...36\n";
    for (const char* value : {"0", "37", "-1", ""}) {
        Parsed p = parse(std::string("NUMBER_OF_IMAGES ") + value + "\nDATA_END\n");
        EXPECT_EQ(p.status, 1) << value;
        EXPECT_EQ(p.messages, message) << value;
    }
    EXPECT_EQ(parse("NUM_IMG 37\nDATA_END\n").status, 1);
    EXPECT_EQ(parse("NUM_IMG 1\nDATA_END\n").status, 0);
    EXPECT_EQ(parse("NUM_IMG 36\nDATA_END\n").status, 0);
}

TEST(JobFileErrors, EndOfFileBeforeDataEnd) {
    Parsed p = parse("NUMBER_OF_IMAGES 1\nDATA_START\n0 a.pgm\n");
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.messages.substr(p.messages.size() - 23), "\n End of file reached!\n");

    Parsed in_list = parse("NUMBER_OF_IMAGES 3\nDATA_START\n0 a.pgm\n");
    EXPECT_EQ(in_list.status, 1);
    EXPECT_NE(in_list.messages.find("\n End of file reached!\n"), std::string::npos);
}

TEST(JobFileErrors, CapacityNamesAndBlankListLines) {
    std::string forty;
    for (int i = 0; i < MAX_NUMIMG; ++i) forty += "DATA " + std::to_string(i) + " f.pgm\n";
    Parsed full = parse(forty + "DATA_END\n");
    EXPECT_EQ(full.status, 0);
    EXPECT_EQ(full.job.images.size(), 40u);

    Parsed over = parse(forty + "DATA 41 f.pgm\nDATA_END\n");
    EXPECT_EQ(over.status, 1);
    EXPECT_NE(over.messages.find("Too many images"), std::string::npos);

    // DATA lines and a list together count every entry, and share the capacity.
    std::string ten;
    for (int i = 0; i < 10; ++i) ten += "DATA " + std::to_string(i) + " d.pgm\n";
    std::string list;
    for (int i = 0; i < 30; ++i) list += std::to_string(100 + i) + " l.pgm\n";
    Parsed mixed = parse(ten + "NUMBER_OF_IMAGES 30\nDATA_START\n" + list + "DATA_END\n");
    EXPECT_EQ(mixed.status, 0) << mixed.messages;
    EXPECT_EQ(mixed.job.numimg, 40);
    Parsed mixed_over =
        parse(ten + "DATA 0 x.pgm\nNUMBER_OF_IMAGES 30\nDATA_START\n" + list + "DATA_END\n");
    EXPECT_EQ(mixed_over.status, 1);

    const std::string longest(MAX_NAME_LEN, 'n');
    EXPECT_EQ(parse("DATA 0 " + longest + "\nDATA_END\n").status, 0);
    Parsed too_long = parse("DATA 0 " + longest + "x\nDATA_END\n");
    EXPECT_EQ(too_long.status, 1);
    EXPECT_NE(too_long.messages.find("File name longer than 499 characters"), std::string::npos);
    EXPECT_EQ(parse("BACK " + longest + "x\nDATA_END\n").status, 1);

    for (const char* angle : {"nan", "inf", "-1e39"}) {
        Parsed odd = parse(std::string("DATA ") + angle + " a.pgm\nDATA_END\n");
        EXPECT_EQ(odd.status, 1) << angle;
        EXPECT_EQ(odd.messages, "\n The angle of a.pgm in job.txt is not a finite number\n");
    }
    EXPECT_EQ(parse("NUM_IMG 1\nDATA_START\ninfinity a.pgm\nDATA_END\n").status, 1);

    Parsed blank = parse("NUMBER_OF_IMAGES 2\nDATA_START\n0 a.pgm\n \t\nDATA_END\n");
    EXPECT_EQ(blank.status, 1);
    EXPECT_EQ(blank.messages, "\n Blank line in the image list of job.txt (entry 2)\n");
}

TEST(JobFileErrors, JobFileThatCannotBeOpened) {
    testing::ScratchDir dir;
    const std::string name = dir.file("missing.txt");
    JobSettings job;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(read_job_file(name.c_str(), job), 1);
    const std::string messages = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(messages,
              "\n*************************************************************\n"
              "Cannot open " +
                  name +
                  " \nNo such file or directory\n"
                  "*************************************************************\n");

    testing::write_file(dir.file("job.txt"), "NUM_IMG 1\nDATA_START\n5 a.pgm\nDATA_END\n");
    EXPECT_EQ(read_job_file(dir.file("job.txt").c_str(), job), 0);
    EXPECT_EQ(names(job), std::vector<std::string>{"a.pgm"});
}

}  // namespace
}  // namespace orva
