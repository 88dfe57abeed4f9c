// The driver's run log: header, writes only while open, closing line, file
// replacement and a file that cannot be created.
#include "analysis/driver_log.h"

#include <gtest/gtest.h>

#include "log_capture.h"
#include "run/scratch_dir.h"

namespace orva {
namespace {

const std::string HEADER =
    "# ORVA version 3.00\n# --------------------------------------------"
    "\n#  all coordinates correspond to cleaned image\n# "
    "--------------------------------------------";

TEST(DriverLog, HeaderWritesDurationAndFiles) {
    testing::LogCapture capture;
    capture.log.write("\n# %2d: %4d", 3, 41);
    EXPECT_EQ(capture.all(), HEADER + "\n#  3:   41\n# total duration: 0\n");
    EXPECT_FALSE(capture.log.on());
    capture.log.write("dropped");  // closed: swallowed, no crash

    testing::ScratchDir dir;
    const std::string name = dir.file("logORVA.txt");
    testing::write_file(name, "an older and much longer log of another run\n");
    {
        DriverLog log;
        ASSERT_TRUE(log.open(name.c_str()));
        log.close(7);
    }
    EXPECT_EQ(testing::read_file(name), HEADER + "\n# total duration: 7\n");

    DriverLog missing;
    EXPECT_FALSE(missing.open(dir.file("no/such/dir.txt").c_str()));
    EXPECT_EQ(missing.stream(), nullptr);
}

}  // namespace
}  // namespace orva
