// The driver's run log: header, writes only when open, closing line.
#include "analysis/driver_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "run/scratch_dir.h"

namespace orva {
namespace {

std::string contents(std::FILE* f) {
    std::rewind(f);
    std::string text;
    for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) text += static_cast<char>(c);
    return text;
}

const char* const HEADER =
    "# ORVA version 3.00"
    "\n# --------------------------------------------"
    "\n#  all coordinates correspond to cleaned image"
    "\n# --------------------------------------------";

TEST(DriverLog, HeaderWritesAndDuration) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    {
        DriverLog log;
        log.attach(f);
        EXPECT_TRUE(log.on());
        EXPECT_EQ(log.stream(), f);
        log.write("\n# %2d: %4d", 3, 41);
        log.close(7);
        EXPECT_FALSE(log.on());
        log.write("not written");
    }
    EXPECT_EQ(contents(f), std::string(HEADER) + "\n#  3:   41\n# total duration: 7\n");
    std::fclose(f);
}

TEST(DriverLog, OffSwallowsEverything) {
    DriverLog log;
    EXPECT_FALSE(log.on());
    EXPECT_EQ(log.stream(), nullptr);
    log.write("%s", "nothing");
    log.close(1);
}

TEST(DriverLog, FileReplacedAndFailureReported) {
    testing::ScratchDir dir;
    const std::string name = dir.file("logORVA.txt");
    testing::write_file(name, "an older and much longer log of another run\n");
    {
        DriverLog log;
        ASSERT_TRUE(log.open(name.c_str()));
        log.close(0);
    }
    EXPECT_EQ(testing::read_file(name), std::string(HEADER) + "\n# total duration: 0\n");

    DriverLog log;
    EXPECT_FALSE(log.open(dir.file("missing/logORVA.txt").c_str()));
    EXPECT_FALSE(log.on());
}

}  // namespace
}  // namespace orva
