// The driver's run log: header, writes only while open, closing line, file
// replacement and a file that cannot be created.
#include "analysis/driver_log.h"

#include <gtest/gtest.h>

#include "run/scratch_dir.h"

namespace orva {
namespace {

const std::string HEADER =
    "# ORVA version 3.00\n# --------------------------------------------"
    "\n#  all coordinates correspond to cleaned image\n# "
    "--------------------------------------------";

TEST(DriverLog, HeaderWritesDurationAndFiles) {
    testing::ScratchDir dir;
    const std::string name = dir.file("logORVA.txt");
    testing::write_file(name, "an older and much longer log of another run\n");
    DriverLog log;
    ASSERT_TRUE(log.open(name.c_str()));
    log.write("\n# %2d: %4d", 3, 41);
    log.close(7);
    EXPECT_FALSE(log.on());
    log.write("dropped");  // closed: swallowed, no crash
    EXPECT_EQ(testing::read_file(name), HEADER + "\n#  3:   41\n# total duration: 7\n");

    DriverLog missing;
    EXPECT_FALSE(missing.open(dir.file("no/such/dir.txt").c_str()));
    EXPECT_EQ(missing.stream(), nullptr);
}

}  // namespace
}  // namespace orva
