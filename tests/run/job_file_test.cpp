// Job-file reader: fields, keywords and their order, line handling, the image list, every
// failure, and the hints for misspelt keywords.
#include "run/job_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "orva_defines.h"
#include "run/keyword_hint.h"
#include "support/files.h"

namespace orva {
namespace {

struct Parsed {
    int status = -1;
    JobSettings job;
    std::string messages;
    std::vector<int> border() const { return {job.border, job.border + 4}; }
    // "angle name" of every entry, in list order.
    std::string listing() const {
        std::string out;
        for (const ImageEntry& e : job.images) {
            char angle[32];
            std::snprintf(angle, sizeof angle, "%g ", e.angle);
            out += (out.empty() ? "" : ", ") + std::string(angle) + e.name;
        }
        return out;
    }
};

Parsed parse(std::string text) {
    Parsed p;
    std::FILE* in = fmemopen(text.data(), text.size(), "r");
    ::testing::internal::CaptureStderr();
    p.status = read_job_stream(in, "job.txt", p.job);
    p.messages = ::testing::internal::GetCapturedStderr();
    std::fclose(in);
    return p;
}

std::string data_lines(int n, const char* name) {
    std::string out;
    for (int i = 0; i < n; ++i) out += "DATA " + std::to_string(i) + " " + name + "\n";
    return out;
}

TEST(JobFile, FieldsAndBlankLines) {
    const char* line = " \tDATA\t\t 90.5  name.pgm\r\n";
    EXPECT_STREQ(get_nth_field(line, 2), "90.5  name.pgm\r\n");
    EXPECT_STREQ(get_nth_field(line, 3), "name.pgm\r\n");
    EXPECT_EQ(get_nth_field(line, 4), line);  // too few fields: the line itself
    EXPECT_EQ(get_nth_field(nullptr, 1), nullptr);
    EXPECT_EQ(blank_line("\x01\x1f \t\xc3\xa9\r\n"), 1);  // control and non-ASCII bytes only
    EXPECT_EQ(blank_line("   !"), 0);                     // 33
    EXPECT_EQ(blank_line("\x7f"), 0);                     // 127 counts
}

TEST(JobFile, KeywordsDefaultsAndUnreadableValues) {
    // loop_pos, centre_coord, loop_type, set_cross, logout, prealign, vers23,
    // background, image_special, uv.
    const auto flags = [](const std::string& text) {
        const JobSettings j = parse(text + "DATA_END\nBORDER 9\n").job;
        EXPECT_EQ(j.border[0], 4);  // nothing after DATA_END is read
        return std::vector<int>{
            j.loop_pos,          j.centre_coord, j.loop_type,       j.set_cross_flag, j.logout_flag,
            j.prealignment_flag, j.vers23_flag,  j.background_flag, j.image_special,  j.uv_flag};
    };
    EXPECT_EQ(flags(""), (std::vector<int>{0, -1, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(flags("# a comment line\nSET_CROSS\nLOGOUTX\nLOOP_TYPE 3\n\n   \nPREALIGN\nVERS23\n"
                    "LOOP_POS 2\nCENTRE_COORD 321\nBACK back.pgm\nIMAGE_SPECIAL 4\n"),
              (std::vector<int>{2, 321, 3, 1, 1, 1, 1, 1, 4, 0}));
    EXPECT_EQ(flags("LOOP_POSITION 3\nIMAGE_SPECIAL 3\nSHADOW\nCENTRE_COORD 99999999999\n"
                    "LOOP_TYPE 5x\n"),
              (std::vector<int>{3, -1, 5, 0, 0, 0, 0, 0, 6, 1}));
    EXPECT_EQ(flags("IMAGE_SPECIAL 3\nIMAGE_SPECIAL 0\nLOOP_POS -1\n"),
              (std::vector<int>{-1, -1, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(parse("BACK back.pgm\nDATA_END\n").job.back_name, "back.pgm");
}

TEST(JobFile, BordersFollowTheOrderOfTheLines) {
    const struct {
        const char* text;
        std::vector<int> border;  // bottom, top, left, right
    } cases[] = {
        // clang-format off
        {"BORDER 10\nBORDER_L 2\n", {10, 10, 2, 10}},
        {"BORDER_L 2\nBORDER 10\n", {10, 10, 10, 10}},
        {"BORDER_B 1\nBORDER_T 2\nBORDER_L 3\nBORDER_R 5\n", {1, 2, 3, 5}},
        {"IMAGE_SPECIAL 2\nBORDER_T 5\n", {4, 5, 4, 4}},
        {"BORDER_T 5\nIMAGE_SPECIAL 2\n", {4, 18, 4, 4}},
        {"BORDER 7\nBORDER\nBORDER_L abc\nBORDER_R +3\n", {7, 7, 7, 3}},
        {"border 3\n", {4, 4, 4, 4}},  // keywords are case-sensitive
        // clang-format on
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse(std::string(c.text) + "DATA_END\n").border(), c.border) << c.text;
    // A line longer than a read is taken in pieces of 1023 characters.
    std::string first = "BORDER_L 3";
    first.resize(MAX_LEN - 1, ' ');
    EXPECT_EQ(parse(first + "BORDER_R 9\nDATA_END\n").border(), (std::vector<int>{4, 4, 3, 9}));
}

TEST(JobFile, ImageListsLineEndsAndFailures) {
    const std::string eof = "\n End of file reached!\n";  // after the system's own message
    const std::string range = "\nNUMBER_OF_IMAGES: value must be in the range of 1...36\n";
    const std::string infinite = "\n The angle of a.pgm in job.txt is not a finite number\n";
    const std::string short_list =
        "\n ====================================\n Wrong value for NUM_IMG keyword (4)"
        "\n Only 2 images in data file\n ====================================\n";
    const std::string list = "NUMBER_OF_IMAGES ";
    const std::string cr =
        "\n\n*************************************************************\n"
        " 'job.txt' contains carriage return (ASCII: 13) without\n";
    const std::string cr_tail =
        "additional newline character (ASCII: 10) \n Cannot process this file properly! \n"
        " Please check creation of job.txt!\n"
        "*************************************************************\n";
    const struct {
        std::string text;
        int status;
        std::string message, listing;
    } cases[] = {
        // clang-format off
        // Negative angles get 360 once; the list is sorted by angle, stably.
        {"DATA -90 m90.pgm\nDATA 400 p400.pgm\nDATA -400 m400.pgm\nDATA 0 z.pgm\n", 0, "",
         "-40 m400.pgm, 0 z.pgm, 270 m90.pgm, 400 p400.pgm"},
        {list + "6\nDATA_START\n90 a\n0 b\n270 c\n180 d\n0 e\n-270 f\n", 0, "",
         "0 b, 0 e, 90 a, 90 f, 180 d, 270 c"},
        // The angle is the number starting the line, else 0.
        {list + "3\nDATA_START\n  45.5e0 x\nabc y\n# z\n", 0, "", "0 y, 0 z, 45.5 x"},
        {list + "4\nDATA_START\n0 a\n90 b\n", 0, short_list, "0 a, 90 b"},
        // A list line beyond the announced count is read as a keyword line.
        {list + "1\nDATA_START\n0 a\n90 b\n", 0, "\n\n ===> Unknown keyword: 90 !", "0 a"},
        // DATA lines set the count; an announced count alone gives no entries.
        {list + "5\nDATA 10 a\nDATA 20 b\n", 0, "", "10 a, 20 b"},
        {list + "3\n", 0, "", ""},
        {"NUM_IMG 36\n", 0, "", ""},
        // Carriage return and line feed is a line end, a bare carriage return is not;
        // the first and the last character of a line are not examined.
        {list + "2\r\nDATA_START\r\n10 a\r\n20 b\r\n", 0, "", "10 a, 20 b"},
        {"\rDATA 5 a\r\n", 0, "", "5 a"},
        {"BORDER 6\rNUMBER_OF_IMAGES 1\rDATA_START\r", 1, cr + "\t " + cr_tail, ""},
        {list + "1\nDATA_START\n0 a.pgm\rx\n", 1, cr + " " + cr_tail, ""},
        {list + "0\n", 1, range, ""},
        {list + "37\n", 1, range, ""},
        {list + "\n", 1, "\n NUMBER_OF_IMAGES needs a number\n" + range, ""},
        // A missing value is named; a file name is never taken from another field.
        {"BACK\nBACK \f\nDATA 0 a\n", 0, "\n BACK needs a file name\n\n BACK needs a file name\n",
         "0 a"},
        {list + "2\nDATA_START\n0 a\n0\r\n", 1,
         "\n Entry 2 of the image list of job.txt has no file name: 0\n", ""},
        // A misspelt keyword keeps its old message and gets a hint.
        {"NUMBER_OF_IMAGE 2\nREPORT\nDATA 0 a\n", 0,
         "\n\n ===> Unknown keyword: NUMBER_OF_IMAGE !\n      Did you mean NUMBER_OF_IMAGES?"
         "\n REPORT needs a file name\n",
         "0 a"},
        {"DATA 30\n", 1, "\n DATA line without a file name in job.txt: DATA 30\n", ""},
        {"BORDER_L -5\n", 1, "\n BORDER_L -5: a border cannot be negative\n", ""},
        {"NUM_IMG -1\n", 1, range, ""},
        {list + "2\nDATA_START\n0 a\n \t\n", 1,
         "\n Blank line in the image list of job.txt (entry 2)\n", ""},
        {"DATA nan a.pgm\n", 1, infinite, ""},
        {"DATA -1e39 a.pgm\n", 1, infinite, ""},
        {"NUM_IMG 1\nDATA_START\ninfinity a.pgm\n", 1, infinite, ""},
        // clang-format on
    };
    for (const auto& c : cases) {
        const Parsed p = parse(c.text + "DATA_END\nBORDER 1\n");
        EXPECT_EQ(p.status, c.status) << c.text;
        EXPECT_EQ(p.messages, c.message) << c.text;
        if (c.status != 0) continue;
        EXPECT_EQ(p.listing(), c.listing) << c.text;
        EXPECT_EQ(p.job.numimg, static_cast<int>(p.job.images.size())) << c.text;
        EXPECT_EQ(p.job.border[0], 4) << c.text;  // reading ended at the first DATA_END
    }
    EXPECT_EQ(parse("DATA 5 a\nDATA_END\r").status, 0);  // the last line's last character
    // No DATA_END: the end of the file is an error, inside the list too.
    for (const char* text : {"NUMBER_OF_IMAGES 1\nDATA_START\n0 a\n", "NUM_IMG 3\nDATA_START\n"}) {
        const Parsed p = parse(text);
        EXPECT_EQ(p.status, 1);
        EXPECT_TRUE(p.messages.ends_with(eof)) << p.messages;
    }
}

TEST(JobFile, CapacityAndNameLength) {
    // At most 40 entries, DATA lines and a list together.
    EXPECT_EQ(parse(data_lines(40, "f") + "DATA_END\n").job.images.size(), 40u);
    const Parsed over = parse(data_lines(41, "f") + "DATA_END\n");
    EXPECT_EQ(over.status, 1);
    EXPECT_EQ(over.messages, "\n Too many images in job.txt: at most 40 can be processed\n");
    std::string list = "NUMBER_OF_IMAGES 30\nDATA_START\n";
    for (int i = 0; i < 30; ++i) list += "100 l\n";
    EXPECT_EQ(parse(data_lines(10, "d") + list + "DATA_END\n").job.numimg, 40);
    EXPECT_EQ(parse(data_lines(11, "d") + list + "DATA_END\n").status, 1);

    const std::string longest(MAX_NAME_LEN, 'n');
    EXPECT_EQ(parse("DATA 0 " + longest + "\nDATA_END\n").status, 0);
    const Parsed too_long = parse("DATA 0 " + longest + "x\nDATA_END\n");
    EXPECT_EQ(too_long.status, 1);
    EXPECT_TRUE(too_long.messages.starts_with("\n File name longer than 499 characters in job"));
    EXPECT_EQ(parse("BACK " + longest + "x\nDATA_END\n").status, 1);

    // A line is read in pieces of 1023 characters; what follows the first piece
    // is read as a line of its own.
    const std::string piece = "LOGOUTX " + std::string(1023 - 8, 'x');
    const Parsed split = parse(piece + "TRACK\n" + data_lines(1, "f") + "DATA_END\n");
    EXPECT_EQ(split.job.track_flag, 1);
    EXPECT_EQ(parse(piece + "xTRACK\n" + data_lines(1, "f") + "DATA_END\n").job.track_flag, 0);
}

TEST(JobFile, FileThatCannotBeOpened) {
    testing::ScratchDir dir;
    const std::string name = dir.file("missing.txt");
    JobSettings job;
    testing::StderrCapture capture;
    EXPECT_EQ(read_job_file(name.c_str(), job), 1);
    EXPECT_EQ(capture.text(),
              "\n*************************************************************\nCannot open " +
                  name +
                  " \nNo such file or directory\n"
                  "*************************************************************\n");
}

TEST(JobFile, CloseWordsGetTheirKeyword) {
    const std::pair<const char*, const char*> cases[] = {// word, hint (null: none)
                                                         {"NUMBER_OF_IMAGE", "NUMBER_OF_IMAGES"},
                                                         {"NUMBR_OF_IMAGE", "NUMBER_OF_IMAGES"},
                                                         {"number_of_images", "NUMBER_OF_IMAGES"},
                                                         {"BAK", "BACK"},
                                                         {"DA", nullptr},
                                                         {"CENTER_COORD", "CENTRE_COORD"},
                                                         {"BACKGROUND", "BACK"},
                                                         {"REPORT_FILE", "REPORT"},
                                                         {"0.00", nullptr},
                                                         {"", nullptr},
                                                         {"IMAGE_LIST", nullptr}};
    for (const auto& [word, hint] : cases) EXPECT_STREQ(closest_keyword(word), hint) << word;
}

}  // namespace
}  // namespace orva
