// Diagnostic files: contents of the band and hull lists, and safe writing
// (planted links are not followed, a missing directory is skipped).
#include "loop/loop_diagnostics.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run/scratch_dir.h"
#include "support/images.h"

namespace orva {
namespace {

namespace fs = std::filesystem;

using testing::ScratchDir;
using test::geometry;

std::string read_file(const fs::path& p) {
    return testing::read_file(p.string());
}

TEST(LoopDiagnostics, BandAndHullLists) {
    ScratchDir dir;
    // 20 x 30: three bands. Rows 0..19 hold columns 4..12, rows 20..29 hold
    // columns 6..8 (less than 5 apart), with a right-flank marker in row 25.
    const IMAGE im = geometry(20, 30);
    std::vector<unsigned char> mask(im.size, 0);
    for (int y = 0; y < 20; ++y)
        for (int x = 4; x <= 12; ++x) mask[y * 20 + x] = 1;
    for (int y = 20; y < 30; ++y)
        for (int x = 6; x <= 8; ++x) mask[y * 20 + x] = y == 25 ? 3 : 1;

    DiagnosticCounters counters;
    write_loop_diagnostics(dir.path().string(), im, mask, 0, counters);
    // Bands from the last to the first; the narrow last band is written as 0 0.
    EXPECT_EQ(read_file(dir.path() / "masks2_yvalues_0.txt"), "0 0 4 12 4 12 ");
    EXPECT_EQ(read_file(dir.path() / "masks2_max.txt"), "8 ");
    // Hull of all points but the last ((29, 6) is left out), as (30 - row, col).
    EXPECT_EQ(read_file(dir.path() / "masks2_hull_0.txt"), "6 30 4 11 4 2 6 1 8 11 12 30 12");
    for (const char* name : {"diffmask_00.jpg", "masks2_yvalues_0.jpg", "masks2_hull_0.jpg"}) {
        const std::string jpeg = read_file(dir.path() / name);
        ASSERT_GT(jpeg.size(), 2u) << name;
        EXPECT_EQ(static_cast<unsigned char>(jpeg[0]), 0xFF);
        EXPECT_EQ(static_cast<unsigned char>(jpeg[1]), 0xD8);
    }

    // Each numbered file keeps its own counter; no temporary file is left.
    write_loop_diagnostics(dir.path().string(), im, mask, 1, counters);
    EXPECT_TRUE(fs::exists(dir.path() / "diffmask_01.jpg"));
    EXPECT_TRUE(fs::exists(dir.path() / "masks2_hull_1.txt"));
    EXPECT_EQ(counters.yvalues_txt, 2);
    EXPECT_EQ(counters.hull_jpg, 2);
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().filename().string().rfind(".orva_diag_", 0), 0u) << entry.path();
}

TEST(LoopDiagnostics, PlantedLinkIsReplacedNotFollowed) {
    ScratchDir dir, elsewhere;
    const fs::path target = elsewhere.path() / "victim.txt";
    std::ofstream(target) << "keep me";
    fs::create_symlink(target, dir.path() / "diffmask_00.jpg");
    fs::create_symlink(target, dir.path() / "masks2_max.txt");

    const IMAGE im = geometry(16, 12);
    std::vector<unsigned char> mask(im.size, 1);
    DiagnosticCounters counters;
    write_loop_diagnostics(dir.path().string(), im, mask, 0, counters);

    EXPECT_EQ(read_file(target), "keep me");
    EXPECT_FALSE(fs::is_symlink(dir.path() / "diffmask_00.jpg"));
    EXPECT_FALSE(fs::is_symlink(dir.path() / "masks2_max.txt"));
    EXPECT_TRUE(fs::is_regular_file(dir.path() / "diffmask_00.jpg"));
}

TEST(LoopDiagnostics, MissingDirectoryIsSkipped) {
    ScratchDir dir;
    const fs::path missing = dir.path() / "no_such_dir";
    const IMAGE im = geometry(16, 12);
    std::vector<unsigned char> mask(im.size, 1);
    DiagnosticCounters counters;
    ::testing::internal::CaptureStderr();
    write_loop_diagnostics(missing.string(), im, mask, 0, counters);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_FALSE(write_file_privately(missing.string(), "x.txt", "x"));
}

}  // namespace
}  // namespace orva
