// Loop extraction over whole runs of small synthetic canonical images: the
// status codes, loops found against a background and within a series, the
// run log, and the diagnostic files in /dev/shm not following planted links.
#include "loop/loop_extraction.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace orva {
namespace {

namespace fs = std::filesystem;

constexpr unsigned int W = 200;
constexpr unsigned int H = 120;

IMAGE canonical() {
    IMAGE im;
    im.width = W;
    im.height = H;
    im.size = W * H;
    return im;
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

struct RunOutput {
    int status = -1;
    int processed = -1;
    int type = -1;
    float reliability = -2.0f;
    std::string err;
};

RunOutput run(ORVAPARAMS& xp, std::vector<SHAPE_PARAMS>& shapes, std::FILE* log = nullptr) {
    RunOutput out;
    testing::internal::CaptureStderr();
    out.status =
        get_loop(xp, canonical(), shapes, &out.processed, &out.type, &out.reliability, log);
    out.err = testing::internal::GetCapturedStderr();
    return out;
}

TEST(GetLoop, StatusCodes) {
    // Two images without a background: too few for a series comparison.
    ORVAPARAMS xp =
        run_params({loop_image(background_image(1), 60), loop_image(background_image(2), 140)});
    std::vector<SHAPE_PARAMS> shapes(MAX_NUMIMG);
    RunOutput out = run(xp, shapes);
    EXPECT_EQ(out.status, 3);
    EXPECT_EQ(out.err, "\n Processing Images: 0\nToo less images for precise analysis\n");

    // Images too small for edge maps: their warnings still come first, one
    // per image, before the run gives up.
    IMAGE tiny;
    tiny.width = 6;
    tiny.height = 5;
    tiny.size = 30;
    ORVAPARAMS small = run_params({ByteBuffer(30, 10), ByteBuffer(30, 90)});
    int processed = -1, type = -1;
    float reliability = 0.0f;
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_loop(small, tiny, shapes, &processed, &type, &reliability, nullptr), 3);
    const std::string warning = "\n Warning!\n Size of ROI is too small  ";
    EXPECT_EQ(
        testing::internal::GetCapturedStderr(),
        warning + warning + "\n Processing Images: 0\nToo less images for precise analysis\n");

    // A background that is not the scene's: far more than half the pixels change.
    xp.background_flag = 1;
    xp.back_ptr = ByteBuffer(W * H, 200);
    for (unsigned long p = 0; p < xp.back_ptr.size(); ++p)
        xp.back_ptr[p] = static_cast<unsigned char>(p % 3 * 100);
    out = run(xp, shapes);
    EXPECT_EQ(out.status, 78);
    EXPECT_NE(out.err.find("background image does not seem to be appropriate"), std::string::npos);

    // More images announced than handed over.
    xp.num_images = 3;
    out = run(xp, shapes);
    EXPECT_EQ(out.status, 5);
}

TEST(GetLoop, LoopsAgainstABackground) {
    const ByteBuffer back = background_image(3);
    const std::vector<int> centres = {70, 100, 130};
    std::vector<ByteBuffer> images;
    for (int cx : centres) images.push_back(loop_image(back, cx));
    ORVAPARAMS xp = run_params(images);
    xp.background_flag = 1;
    xp.back_ptr = back;
    std::vector<SHAPE_PARAMS> shapes(MAX_NUMIMG);
    const RunOutput out = run(xp, shapes);
    ASSERT_EQ(out.status, 0);
    EXPECT_EQ(out.err, "\n Processing Images: 0 1 2");
    EXPECT_EQ(out.processed, 3);
    for (int q = 0; q < 3; ++q) {
        const SHAPE_PARAMS& s = shapes[q];
        EXPECT_EQ(s.x_coord_left.size(), H);
        EXPECT_EQ(s.y_coord_right.size(), H);
        EXPECT_EQ(s.x_coord_top.size(), W);
        EXPECT_EQ(s.y_coord_bottom.size(), W);
        EXPECT_NE(s.type, NO_OBJECT);
        EXPECT_NEAR(static_cast<int>(s.centre_x), centres[q], 3) << q;
        EXPECT_EQ(s.box_t, 21u) << q;  // the lone tip pixel of row 20 falls to the median
        EXPECT_GE(s.box_l, static_cast<unsigned>(centres[q] - 23));
        EXPECT_LE(s.box_r, static_cast<unsigned>(centres[q] + 23));
        EXPECT_GT(s.width, 0u);
        EXPECT_LE(s.width, 45u);
    }
}

TEST(GetLoop, LoopsWithinASeriesAndTheRunLog) {
    const std::vector<int> centres = {40, 100, 160};
    std::vector<ByteBuffer> images;
    for (int q = 0; q < 3; ++q) images.push_back(loop_image(background_image(10), centres[q]));
    ORVAPARAMS xp = run_params(images);
    xp.reserved = 1;
    std::vector<SHAPE_PARAMS> shapes(MAX_NUMIMG);
    std::FILE* log = std::tmpfile();
    ASSERT_NE(log, nullptr);
    const RunOutput out = run(xp, shapes, log);
    ASSERT_EQ(out.status, 0);
    EXPECT_EQ(out.processed, 3);
    for (int q = 0; q < 3; ++q) {
        EXPECT_NE(shapes[q].type, NO_OBJECT) << q;
        EXPECT_NEAR(static_cast<int>(shapes[q].centre_x), centres[q], 4) << q;
        EXPECT_LT(shapes[q].centre_y, 64u) << q;
    }

    std::rewind(log);
    std::string text;
    char buf[512];
    while (std::fgets(buf, sizeof buf, log)) text += buf;
    std::fclose(log);
    EXPECT_EQ(text.rfind("\n# shapes_reliability: ", 0), 0u);
    EXPECT_NE(text.find("\n# shapes[0].y_coord_left[0]: "), std::string::npos);
    EXPECT_NE(text.find("\t 0.03 * imc->height: 4\n# use "), std::string::npos);
    EXPECT_NE(text.find("\n\n# results from shape classification\n#  phi         type   class"
                        "\n#   0.0 "),
              std::string::npos);
    EXPECT_NE(text.find("\n#  30.0 "), std::string::npos);
    std::ostringstream tail;
    tail << "\n# final: " << std::string(13 - std::string(shape_name[out.type]).size(), ' ')
         << shape_name[out.type] << "\n# Number of processed images: 3";
    EXPECT_EQ(text.substr(text.size() - tail.str().size()), tail.str());
}

TEST(GetLoop, PlantedLinkInDevShmIsNotFollowed) {
    const fs::path shm = "/dev/shm";
    const fs::path link = shm / "diffmask_00.jpg";
    if (!fs::is_directory(shm)) GTEST_SKIP() << "no " << shm;
    std::error_code ec;
    fs::remove(link, ec);
    if (fs::exists(fs::symlink_status(link))) GTEST_SKIP() << link << " belongs to someone else";

    std::string tmpl = (fs::temp_directory_path() / "orva_victim_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    const fs::path victim = fs::path(tmpl) / "victim.txt";
    std::ofstream(victim) << "keep me";
    fs::create_symlink(victim, link);

    const ByteBuffer back = background_image(4);
    ORVAPARAMS xp = run_params({loop_image(back, 80), loop_image(back, 120)});
    xp.background_flag = 1;
    xp.back_ptr = back;
    std::vector<SHAPE_PARAMS> shapes(MAX_NUMIMG);
    EXPECT_EQ(run(xp, shapes).status, 0);

    std::ifstream in(victim);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "keep me");
    EXPECT_FALSE(fs::is_symlink(link));
    fs::remove(link, ec);
    fs::remove_all(tmpl, ec);
}

}  // namespace
}  // namespace orva
