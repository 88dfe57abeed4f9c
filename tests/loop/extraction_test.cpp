// Loop extraction: the status codes of a run, and the diagnostic files (band
// and hull lists, links planted in the folder or in /dev/shm not followed, a
// missing folder skipped). (Whole runs and their logs are fixed by the golden
// check.)
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "imageio/jpeg_io.h"
#include "loop/loop_diagnostics.h"
#include "loop/loop_extraction.h"
#include "run/scratch_dir.h"
#include "support/images.h"

namespace orva {
namespace {

namespace fs = std::filesystem;

constexpr unsigned int W = 200;
constexpr unsigned int H = 120;

IMAGE canonical() {
    return test::geometry(W, H);
}

// Seeded grey noise around 60.
ByteBuffer background_image(unsigned seed) {
    ByteBuffer img(W * H);
    std::mt19937 rng(seed);
    for (auto& v : img) v = static_cast<unsigned char>(58 + rng() % 5);
    return img;
}

// A disc-shaped loop of radius 22 with its top at row 20, on a pin from the
// bottom edge, centred at column cx.
ByteBuffer loop_image(const ByteBuffer& background, int cx) {
    ByteBuffer img = background;
    const int cy = 42;
    for (int y = 0; y < static_cast<int>(H); ++y) {
        for (int x = 0; x < static_cast<int>(W); ++x) {
            const bool disc = (x - cx) * (x - cx) + (y - cy) * (y - cy) <= 22 * 22;
            const bool pin = y > cy && std::abs(x - cx) <= 4;
            if (disc || pin) img[y * W + x] = 190;
        }
    }
    return img;
}

ORVAPARAMS run_params(std::vector<ByteBuffer> images) {
    ORVAPARAMS xp;
    xp.num_images = static_cast<int>(images.size());
    xp.image_ptr = std::move(images);
    xp.width = W;
    xp.height = H;
    for (int q = 0; q < xp.num_images; ++q) xp.angle.push_back(30.0f * q);
    return xp;
}

// Status and standard error of a run.
std::pair<int, std::string> run(ORVAPARAMS& xp, const IMAGE& im = canonical()) {
    std::vector<SHAPE_PARAMS> shapes(MAX_NUMIMG);
    int processed = -1, type = -1;
    float reliability = 0.0f;
    ::testing::internal::CaptureStderr();
    const int status = get_loop(xp, im, shapes, &processed, &type, &reliability, nullptr);
    return {status, ::testing::internal::GetCapturedStderr()};
}

TEST(GetLoop, StatusCodes) {
    // Two images without a background: too few for a series comparison.
    ORVAPARAMS xp =
        run_params({loop_image(background_image(1), 60), loop_image(background_image(2), 140)});
    const std::string too_few = "\n Processing Images: 0\nToo less images for precise analysis\n";
    EXPECT_EQ(run(xp), std::pair(3, too_few));
    // Images too small for edge maps: their warnings still come first, one
    // per image, before the run gives up.
    ORVAPARAMS small = run_params({ByteBuffer(30, 10), ByteBuffer(30, 90)});
    const std::string warning = "\n Warning!\n Size of ROI is too small  ";
    EXPECT_EQ(run(small, test::geometry(6, 5)), std::pair(3, warning + warning + too_few));

    // A background that is not the scene's: far more than half the pixels change.
    xp.background_flag = 1;
    xp.back_ptr = ByteBuffer(W * H, 200);
    for (unsigned long p = 0; p < xp.back_ptr.size(); ++p)
        xp.back_ptr[p] = static_cast<unsigned char>(p % 3 * 100);
    const auto [status, err] = run(xp);
    EXPECT_EQ(status, 78);
    EXPECT_NE(err.find("background image does not seem to be appropriate"), std::string::npos);
    xp.num_images = 3;  // more images announced than handed over
    EXPECT_EQ(run(xp).first, 5);
}

TEST(GetLoop, PlantedLinkInDevShmIsNotFollowed) {
    const fs::path shm = "/dev/shm";
    const fs::path link = shm / "diffmask_00.jpg";
    if (!fs::is_directory(shm)) GTEST_SKIP() << "no " << shm;
    std::error_code ec;
    fs::remove(link, ec);
    if (fs::exists(fs::symlink_status(link))) GTEST_SKIP() << link << " belongs to someone else";

    testing::ScratchDir elsewhere;
    const std::string victim = elsewhere.file("victim.txt");
    testing::write_file(victim, "keep me");
    fs::create_symlink(victim, link);

    const ByteBuffer back = background_image(4);
    ORVAPARAMS xp = run_params({loop_image(back, 80), loop_image(back, 120)});
    xp.background_flag = 1;
    xp.back_ptr = back;
    EXPECT_EQ(run(xp).first, 0);
    EXPECT_EQ(testing::read_file(victim), "keep me");
    EXPECT_FALSE(fs::is_symlink(link));
    fs::remove(link, ec);
}

namespace fs = std::filesystem;

using test::geometry;
using testing::ScratchDir;

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

// The mask picture painted pixel by pixel: object grey, background white,
// red beside a left-flank marker 2, else green beside a right-flank marker 3,
// columns 0, w - 2 and w - 1 black.
std::vector<unsigned char> painted_mask(const std::vector<unsigned char>& m, int w, int h) {
    std::vector<unsigned char> rgb(3 * m.size(), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 1; x <= w - 3; ++x) {
            const unsigned char* r = m.data() + y * w;
            auto near = [&](int v) { return r[x - 1] == v || r[x] == v || r[x + 1] == v; };
            const unsigned char grey = r[x] == 1 ? 210 : 255;
            const std::array<unsigned char, 3> c = near(2) ? std::array<unsigned char, 3>{255, 0, 0}
                                                   : near(3)
                                                       ? std::array<unsigned char, 3>{0, 255, 0}
                                                       : std::array{grey, grey, grey};
            std::copy(c.begin(), c.end(), rgb.begin() + 3 * (y * w + x));
        }
    return rgb;
}

TEST(LoopDiagnostics, MaskPictureIsTheOnePaintedPixelByPixel) {
    // Blobs with flank markers and stray values, sizes around the 16-pixel
    // cells; the last is noise, too mixed to be coded cell by cell.
    std::mt19937 rng(5);
    const int sizes[][2] = {{3, 3}, {40, 37}, {100, 64}, {257, 130}, {64, 48}};
    for (const auto& [w, h] : sizes) {
        const bool noise = w == 64;
        std::vector<unsigned char> mask(static_cast<std::size_t>(w) * h, 0);
        const int cx = static_cast<int>(rng() % w), r = 5 + static_cast<int>(rng() % 40);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                unsigned char& v = mask[static_cast<std::size_t>(y) * w + x];
                v = (x - cx) * (x - cx) + (y - h / 2) * (y - h / 2) < r * r;
                if (noise || rng() % 4000 == 0) v = static_cast<unsigned char>(rng() % 5);
            }
        ScratchDir dir;
        DiagnosticCounters counters;
        write_loop_diagnostics(dir.path().string(), geometry(w, h), mask, 0, counters);
        const std::string expected = (dir.path() / "expected.jpg").string();
        ASSERT_TRUE(write_JPEG_file(expected.c_str(), DIAGNOSTIC_JPEG_QUALITY, w, h,
                                    painted_mask(mask, w, h).data()));
        EXPECT_TRUE(read_file(dir.path() / "diffmask_00.jpg") == read_file(expected))
            << w << "x" << h;
    }
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
