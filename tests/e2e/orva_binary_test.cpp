// Whole-program runs of the built binary in a scratch directory: exit status,
// marker file, result file and the key messages.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "run/scratch_dir.h"

namespace orva {
namespace {

using testing::pgm_image;
using testing::read_file;
using testing::write_file;

class OrvaBinary : public ::testing::Test {
  protected:
    // Runs the program in the scratch directory; standard error goes to `messages`.
    int run(const std::string& args) {
        const std::string command = "cd '" + dir.path().string() + "' && '" ORVA_BINARY "' " +
                                    args + " 2>stderr.txt >stdout.txt";
        const int raw = std::system(command.c_str());
        messages = read_file(path("stderr.txt"));
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    // The same with every file the run writes limited to `blocks` blocks
    // (ulimit -f), as on a full disk; standard error goes through a pipe.
    int run_limited(int blocks) {
        const std::string command =
            "cd '" + dir.path().string() + "' && { (trap '' XFSZ; ulimit -f " +
            std::to_string(blocks) +
            "; ORVA_DIAG_DIR= exec '" ORVA_BINARY
            "' job.txt result.txt 2>&1 >/dev/null); echo $? >status.txt; } | cat >stderr.txt";
        std::system(command.c_str());
        messages = read_file(path("stderr.txt"));
        return std::stoi(read_file(path("status.txt")));
    }
    // A small rendered series whose job asks for cross images and logs.
    void render() {
        const std::string command = "'" ORVA_SCENEGEN "' --quiet --out '" + dir.path().string() +
                                    "' --size 240x180 --images 4 --set-cross --logoutx --seed 5";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    int run_job(const std::string& job_text) {
        write_file(path("job.txt"), job_text);
        return run("job.txt result.txt");
    }
    std::string path(const std::string& name) const { return dir.file(name); }
    std::string marker() const { return read_file(path("Orva_check.txt")); }
    bool has(const std::string& text) const { return messages.find(text) != std::string::npos; }

    testing::ScratchDir dir;
    std::string messages;
};

TEST_F(OrvaBinary, CommandLine) {
    EXPECT_EQ(run(""), 1);
    EXPECT_TRUE(has("\nUsage : "));
    EXPECT_TRUE(has(" -help\n"));
    EXPECT_FALSE(has("NUMBER_OF_IMAGES"));
    EXPECT_EQ(marker(), "0");
    EXPECT_TRUE(has("ORVA 3.0"));

    EXPECT_EQ(run("job.txt"), 1);
    EXPECT_FALSE(has("NUMBER_OF_IMAGES"));

    EXPECT_EQ(run("-help result.txt"), 1);
    EXPECT_TRUE(has("NUMBER_OF_IMAGES  <number> (compulsory)\n"));
    EXPECT_EQ(marker(), "0");

    // A third argument is ignored: the run goes as far as the images.
    write_file(path("job.txt"), "DATA 0 gone.pgm\nDATA_END\n");
    EXPECT_EQ(run("job.txt result.txt extra"), 99);
    EXPECT_TRUE(has("\nORVA failed with error 99\n"));
}

TEST_F(OrvaBinary, JobFileErrorsEndAtOnce) {
    write_file(path("result.txt"), "old");
    write_file(path("a.pgm"), pgm_image(4, 4));
    EXPECT_EQ(run_job("NUMBER_OF_IMAGES 1\rDATA_START\r0 a.pgm\rDATA_END\r"), 1);
    EXPECT_TRUE(has(" 'job.txt' contains carriage return (ASCII: 13)"));
    EXPECT_EQ(marker(), "0");

    EXPECT_EQ(run_job("NUMBER_OF_IMAGES 1\nDATA_START\n0 a.pgm\n"), 1);
    EXPECT_TRUE(has("\n End of file reached!\n"));
    EXPECT_EQ(run_job("NUMBER_OF_IMAGES 0\nDATA_END\n"), 1);
    EXPECT_TRUE(has("\nNUMBER_OF_IMAGES: value must be in the range of 1...36\n"));
    EXPECT_EQ(run("missing.txt result.txt"), 1);
    EXPECT_TRUE(has("Cannot open missing.txt \n"));

    EXPECT_EQ(marker(), "0");
    EXPECT_FALSE(has("failed with error"));
    EXPECT_EQ(read_file(path("result.txt")), "old");
}

TEST_F(OrvaBinary, ImageFailuresGoThroughTheEndOfRun) {
    write_file(path("result.txt"), "old");
    write_file(path("a.pgm"), pgm_image(4, 4));
    write_file(path("p2.pgm"), "P2\n2 2\n255\n1 2 3 4\n");
    write_file(path("comp.tif"), std::string("MM\0\x2b\0\0\0\x08", 8));
    write_file(path("notes.txt"), "hello\n");
    write_file(path("wide.pgm"), pgm_image(5, 4));

    const struct {
        const char* second;
        int status;
        const char* message;
    } cases[] = {
        {"p2.pgm", 11, "\n Only P5 and P5 type  PGM/PPM supported!\n"},
        {"comp.tif", 11, "\nPresently this software is compatible to uncompressed TIFF images"},
        {"notes.txt", 13, "\n Unknown image type! Cannot deal with!\n"},
        {"wide.pgm", 14, "must have one size"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run_job(std::string("DATA 0 a.pgm\nDATA 90 ") + c.second + "\nDATA_END\n"),
                  c.status)
            << c.second;
        EXPECT_TRUE(has(c.message)) << messages;
        EXPECT_TRUE(has("\nORVA failed with error " + std::to_string(c.status) + "\n"));
        EXPECT_EQ(marker(), "1");
    }
    EXPECT_EQ(run_job("NUM_IMG 2\nDATA_START\n0 x.pgm\n90 y.pgm\nDATA_END\n"), 99);
    EXPECT_TRUE(has("\nORVA: None of the files could be found."));
    EXPECT_EQ(read_file(path("result.txt")), "old");
}

TEST_F(OrvaBinary, ReadableJobReachesTheAnalysis) {
    write_file(path("result.txt"), "old");
    for (const char* name : {"a.pgm", "c.pgm", "d.pgm"}) write_file(path(name), pgm_image(8, 8));
    const int status = run_job(
        "NUMBER_OF_IMAGES 4\r\nBACK nothing.pgm\r\nDATA_START\r\n0 a.pgm\r\n90 b.pgm\r\n"
        "180 c.pgm\r\n270 d.pgm\r\nDATA_END\r\n");
    EXPECT_TRUE(has("Input file b.pgm could not be opened for reading"));
    EXPECT_TRUE(has("Try to continue without background image\n"));
    EXPECT_EQ(marker(), "1");
    // Whatever the analysis makes of these tiny images, the closing line, the
    // exit status and the result file agree.
    if (status == 0) {
        EXPECT_TRUE(has("\nORVA ready.\n"));
        const std::regex eight_lines(
            "TARGET_ANGLE \t-?[0-9]+\nRADIUS \t\t?-?[0-9]+\nY_CENTRE \t-?[0-9]+\n"
            "X_CENTRE \t-?[0-9]+\nLOOP_WIDTH ?\t-?[0-9]+\nRIGHT_BORDER ?\t-?[0-9]+\n"
            "RELIABILITY \t -?[0-9]+\nPRECENTRING \t[01]\n");
        EXPECT_TRUE(std::regex_match(read_file(path("result.txt")), eight_lines));
    } else {
        EXPECT_TRUE(has("\nORVA failed with error " + std::to_string(status) + "\n")) << messages;
        EXPECT_EQ(read_file(path("result.txt")), "old");
    }
}

TEST_F(OrvaBinary, VersionAndImageBesideTheJobFile) {
    EXPECT_EQ(run("--version"), 0);
    EXPECT_EQ(read_file(path("stdout.txt")).rfind("orva 3.0 (built ", 0), 0u);
    EXPECT_EQ(messages, "");
    EXPECT_FALSE(std::filesystem::exists(path("Orva_check.txt")));  // not a run

    // Image names are read from the working directory; a same-named file
    // beside the job file is pointed out.
    std::filesystem::create_directory(path("sub"));
    write_file(path("sub/job.txt"), "DATA 0 a.pgm\nDATA_END\n");
    write_file(path("sub/a.pgm"), pgm_image(4, 4));
    EXPECT_EQ(run("sub/job.txt result.txt"), 99);
    EXPECT_TRUE(
        has("Reason: No such file or directory\nA file of that name lies next to the job "
            "file: sub/a.pgm"));
}

TEST_F(OrvaBinary, PlantedLinksAreReplacedAndFailedWritesAreReported) {
    render();
    write_file(path("victim.txt"), "precious");
    const char* written[] = {"Orva_check.txt", "logORVA.txt", "log_res2.txt", "cross_00.jpg",
                             "centre.jpg"};
    for (const char* name : written) std::filesystem::create_symlink("victim.txt", path(name));
    EXPECT_EQ(run("job.txt result.txt"), 0) << messages;
    EXPECT_EQ(read_file(path("victim.txt")), "precious");
    for (const char* name : written)
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path(name))))
            << name;

    // A full disk: logs that cannot be written completely fail the run like
    // a log that cannot be created; pictures are only reported.
    write_file(path("result.txt"), "old");
    EXPECT_EQ(run_limited(1), 92);
    EXPECT_TRUE(has("\nORVA: Cannot write logORVA.txt: File too large\n")) << messages;
    EXPECT_TRUE(has("\nORVA: Cannot write cross_00.jpg: File too large\n"));
    EXPECT_EQ(marker(), "1");
    // Nothing can be written: the marker is empty, never an earlier "1".
    EXPECT_EQ(run_limited(0), 92);
    EXPECT_TRUE(has("\nORVA: Cannot write Orva_check.txt: File too large\n"));
    EXPECT_EQ(marker(), "");
    EXPECT_EQ(read_file(path("result.txt")), "old");
}

TEST_F(OrvaBinary, BordersAndKnownAxisOutsideTheImage) {
    render();
    const std::string job = read_file(path("job.txt"));
    const struct {
        const char* line;
        int status;
        const char* message;
    } cases[] = {
        {"BORDER 300\n", 2, "Borders 300 300 300 300 leave no image of 240 x 180"},
        {"BORDER -50\n", 1, "\n BORDER -50: a border cannot be negative\n"},
        {"CENTRE_COORD 5000\n", 17, "\n CENTRE_COORD 5000 lies outside the analysed image"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run_job(c.line + job), c.status) << c.line;
        EXPECT_TRUE(has(c.message)) << messages;
    }
}

}  // namespace
}  // namespace orva
