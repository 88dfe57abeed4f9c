// The version-2.3 driver on small in-memory series: empty runs, pin-only runs,
// status propagation, logs, figures file, cross images and small images.
#include "v23/conventional.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "run/scratch_dir.h"
#include "v23_images.h"

namespace orva {
namespace {

using testing::GreyImage;

ORVAPARAMS params_for(const std::vector<GreyImage>& imgs, int loop_pos = 0) {
    ORVAPARAMS xp;
    xp.num_images = static_cast<int>(imgs.size());
    xp.width = imgs.at(0).w();
    xp.height = imgs.at(0).h();
    xp.loop_pos = loop_pos;
    for (std::size_t i = 0; i < imgs.size(); ++i)
        xp.angle.push_back(static_cast<float>(i * 360.0 / imgs.size()));
    return xp;
}

int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (auto p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
    return n;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct DriverRun {
    int status = -1;
    ORVARESULT res;
    std::string err;
};

// Result fields start at values the driver must overwrite (or, for the loop
// width and right border, leave to the caller).
DriverRun run(ORVAPARAMS& xp, const std::vector<GreyImage>& imgs, std::FILE* log = nullptr) {
    DriverRun r;
    r.res.x_centre = r.res.y_centre = r.res.phi = r.res.radius = 12345;
    r.res.reliability = r.res.precentring_flag = 12345;
    r.res.loop_width = 77;
    r.res.right_border = 88;
    std::vector<ByteBuffer> buffers;
    for (const auto& g : imgs) buffers.push_back(g.pix);
    ::testing::internal::CaptureStdout();
    r.err = testing::stderr_of([&] { r.status = orva_conventional(xp, buffers, r.res, log); });
    ::testing::internal::GetCapturedStdout();
    return r;
}

TEST(Conventional, AllImagesEmpty) {
    const std::vector<GreyImage> imgs(3, GreyImage(160, 120, 140));
    // Cleaned 152 x 112 (loop positions 0, 1) or 112 x 152 (2, 3); no borders added.
    for (const auto& [loop_pos, x, y] :
         {std::array{0, -1, 112}, {1, -1, -1}, {2, -1, -1}, {3, 152, 112}}) {
        SCOPED_TRACE(loop_pos);
        ORVAPARAMS xp = params_for(imgs, loop_pos);
        const DriverRun r = run(xp, imgs);
        ASSERT_EQ(r.status, 0);
        // Loop width and right border are left to the caller.
        EXPECT_EQ(
            (std::array{r.res.x_centre, r.res.y_centre, r.res.precentring_flag, r.res.reliability,
                        r.res.phi, r.res.radius, r.res.loop_width, r.res.right_border}),
            (std::array{x, y, 1, -1, 0, 0, 77, 88}));
        EXPECT_EQ(count(r.err, "\n\torva_conventional: Image seems to be empty !"), 3);
        EXPECT_EQ(count(r.err, "\n Processing Image "), 3);
        EXPECT_TRUE(has(r.err,
                        "\n### ! All images are empty."
                        "\n### ! 'PRECENTRING' is set to '1' in output file"
                        "\n### ! Either there is no loop at all or the loop"));
        EXPECT_TRUE(has(r.err,
                        "\n= Warning !!  Number of non-empty images (0)  is too low for "
                        "optimal detection!"));
        EXPECT_TRUE(has(r.err, "\n### ! The RELIABILITY of coordinates is rather low (-100 %)."));
        EXPECT_FALSE(has(r.err, "The pin covers"));
    }
}

TEST(Conventional, StatusesEndTheRunWithoutResult) {
    const std::vector<GreyImage> imgs(2, GreyImage(60, 50, 90));
    // Unknown loop position, borders leaving 2 of 60 columns, more images than
    // were loaded, or none.
    for (const auto& [loop_pos, left, num_images, status] :
         {std::array{4, 0, 2, 2}, {0, 50, 2, 2}, {0, 0, 3, 1}, {0, 0, 0, 1}}) {
        ORVAPARAMS xp = params_for(imgs, loop_pos);
        xp.border[BORDER_LEFT] += left;
        xp.num_images = num_images;
        const DriverRun r = run(xp, imgs);
        EXPECT_EQ(r.status, status) << loop_pos << " " << left << " " << num_images;
        EXPECT_EQ(r.res.x_centre, 12345);
        EXPECT_EQ(r.res.precentring_flag, 12345);
        EXPECT_EQ(has(r.err, "\n Unknown value for loop_pos (4)"), loop_pos == 4);
    }

    // UV images skip the emptiness test: a uniform image is processed.
    ORVAPARAMS xp = params_for(imgs);
    xp.image_special = 3;
    const DriverRun r = run(xp, imgs);
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(has(r.err, "seems to be empty"));
    EXPECT_EQ(r.res.precentring_flag, 0);
    EXPECT_TRUE(has(r.err, "Number of non-empty images (2) "));
}

// A dark pin through the whole view. (A pin ending inside the view leaves
// rows of noise above it, which count as wide rows: no pin-only run then.)
std::vector<GreyImage> pin_series(int n) {
    std::vector<GreyImage> imgs(n, GreyImage(240, 200, 200));
    for (int i = 0; i < n; ++i) {
        imgs[i].rect(105 + i, 0, 134 + i, 199, 40);
        imgs[i].add_noise(2, 100 + i);
    }
    return imgs;
}

TEST(Conventional, PinOnlySeries) {
    const auto imgs = pin_series(4);
    ORVAPARAMS xp = params_for(imgs);
    const DriverRun r = run(xp, imgs);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.res.precentring_flag, 1);
    EXPECT_EQ(r.res.y_centre, 0 + 4);  // from the first cleaned row, plus the top border
    EXPECT_TRUE(has(r.err,
                    "\n### ! The pin covers a wide area of the image."
                    "\n### ! 'PRECENTRING' is set to '1' in output file"));
    EXPECT_FALSE(has(r.err, "seems to be empty"));
}

TEST(Conventional, LogFiguresFileAndCrosses) {
    testing::ScratchDir dir;
    testing::WorkingDir cwd(dir.path());
    auto imgs = pin_series(2);
    imgs.push_back(GreyImage(240, 200, 200));  // one empty image
    ORVAPARAMS xp = params_for(imgs);
    xp.reserved = 1;
    xp.set_cross_flag = 1;
    std::FILE* log = std::fopen("run.log", "w");
    ASSERT_NE(log, nullptr);
    ASSERT_EQ(run(xp, imgs, log).status, 0);
    std::fclose(log);
    const std::string text = testing::read_file("run.log");

    EXPECT_EQ(count(text, "\n# Image No.: "), 2);  // not for the empty image
    EXPECT_TRUE(has(text, "\n# Image No.:   0\n#   0.0 0"));
    EXPECT_TRUE(has(text, "\n#   0.0 2"));
    EXPECT_TRUE(has(text, "\n# 120.0 4"));
    EXPECT_EQ(count(text, "\nduration: "), 2);
    EXPECT_FALSE(has(text, "Deviation of coordinates"));  // too few images

    const std::string figures = testing::read_file("log_res2.txt");
    EXPECT_TRUE(has(figures, "\n   3  240  200 "));
    for (const char* name : {"cross_00.jpg", "cross_01.jpg", "cross_02.jpg"})
        EXPECT_TRUE(testing::file_exists(name)) << name;

    // Without the log switch neither the log nor the figures file is written.
    std::remove("log_res2.txt");
    log = std::fopen("quiet.log", "w");
    xp.reserved = xp.set_cross_flag = 0;
    run(xp, imgs, log);
    std::fclose(log);
    EXPECT_EQ(testing::read_file("quiet.log"), "");
    EXPECT_FALSE(testing::file_exists("log_res2.txt"));
}

// Small and narrow images through every loop position and the special image
// kinds: the run must end with status 0 and stay inside every buffer.
TEST(Conventional, SmallImagesStayInside) {
    for (const auto& [w, h] : {std::pair{11, 11}, {12, 40}, {40, 12}, {70, 11}}) {
        std::vector<GreyImage> imgs(2, GreyImage(w, h, 180));
        for (int i = 0; i < 2; ++i) {
            imgs[i].rect(w / 3, h / 2, w / 2, h - 1, 30);
            imgs[i].rect(w / 3 + i, h / 4, w / 3 + i + 2, h / 4 + 2, 60);
            imgs[i].add_noise(20, 40 + i);
        }
        for (int loop_pos = 0; loop_pos < 4; ++loop_pos)
            for (int special : {0, loop_pos == 0 ? 1 : 6}) {
                ORVAPARAMS xp = params_for(imgs, loop_pos);
                xp.image_special = special;
                EXPECT_EQ(run(xp, imgs).status, 0)
                    << w << "x" << h << " pos " << loop_pos << " special " << special;
            }
    }
}

}  // namespace
}  // namespace orva
