// Whole-program runs of the built binary where only the real program shows the
// fault: planted links, full disks, borders and a known axis outside the image.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/scene_run.h"

namespace orva {
namespace {

using testing::read_file;

class OrvaBinary : public testing::SceneRun {
  protected:
    // A small series whose job asks for cross images and logs.
    void SetUp() override { render("--size 240x180 --images 4 --set-cross --logoutx --seed 5"); }
    // The run with every file it writes limited to `blocks` blocks, as on a full disk.
    int run_limited(int blocks) {
        return run("job.txt result.txt", "trap '' XFSZ; ulimit -f " + std::to_string(blocks) + ";");
    }
    std::string marker() const { return read_file(path("Orva_check.txt")); }
};

TEST_F(OrvaBinary, PlantedLinksAreReplacedAndFailedWritesAreReported) {
    testing::write_file(path("victim.txt"), "precious");
    const char* written[] = {"Orva_check.txt", "logORVA.txt", "log_res2.txt", "cross_00.jpg",
                             "centre.jpg"};
    for (const char* name : written) std::filesystem::create_symlink("victim.txt", path(name));
    EXPECT_EQ(run(), 0) << messages;
    EXPECT_EQ(read_file(path("victim.txt")), "precious");
    for (const char* name : written)
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path(name))))
            << name;

    // A full disk: logs that cannot be written completely fail the run like
    // a log that cannot be created; pictures are only reported.
    testing::write_file(path("result.txt"), "old");
    EXPECT_EQ(run_limited(1), 92);
    EXPECT_TRUE(said("\nORVA: Cannot write logORVA.txt: File too large\n")) << messages;
    EXPECT_TRUE(said("\nORVA: Cannot write cross_00.jpg: File too large\n"));
    EXPECT_EQ(marker(), "1");
    // Nothing can be written: the marker is empty, never an earlier "1".
    EXPECT_EQ(run_limited(0), 92);
    EXPECT_TRUE(said("\nORVA: Cannot write Orva_check.txt: File too large\n"));
    EXPECT_EQ(marker(), "");
    EXPECT_EQ(read_file(path("result.txt")), "old");
}

TEST_F(OrvaBinary, BordersAndKnownAxisOutsideTheImage) {
    const std::string job = read_file(path("job.txt"));
    const struct {
        const char* line;
        int status;
        const char* message;
    } cases[] = {
        {"BORDER 300\n", 2, "Borders 300 300 300 300 leave no image of 240 x 180"},
        {"BORDER_L 2147483647\n", 2, "Borders 4 4 2147483647 4 leave no image of 240 x 180"},
        {"BORDER -50\n", 1, "\n BORDER -50: a border cannot be negative\n"},
        {"CENTRE_COORD 5000\n", 17, "\n CENTRE_COORD 5000 lies outside the analysed image"},
    };
    for (const auto& c : cases) {
        testing::write_file(path("job.txt"), c.line + job);
        EXPECT_EQ(run(), c.status) << c.line;
        EXPECT_TRUE(said(c.message)) << messages;
    }
}

}  // namespace
}  // namespace orva
