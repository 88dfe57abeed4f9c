// The version-2.3 driver on small in-memory series: empty runs, pin-only runs,
// status propagation, logs, figures file and cross images.
#include "v23/conventional.h"

#include <gtest/gtest.h>

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

std::vector<ByteBuffer> buffers(const std::vector<GreyImage>& imgs) {
    std::vector<ByteBuffer> b;
    for (const auto& g : imgs) b.push_back(g.pix);
    return b;
}

int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (auto p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
    return n;
}

std::string read_stream(std::FILE* f) {
    std::rewind(f);
    std::string s;
    for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) s += static_cast<char>(c);
    return s;
}

struct DriverRun {
    int status = -1;
    ORVARESULT res;
    std::string err;
};

DriverRun run(ORVAPARAMS& xp, const std::vector<GreyImage>& imgs, std::FILE* log = nullptr) {
    DriverRun r;
    r.res.x_centre = r.res.y_centre = r.res.phi = r.res.radius = 12345;
    r.res.reliability = r.res.precentring_flag = 12345;
    r.res.loop_width = 77;
    r.res.right_border = 88;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    r.status = orva_conventional(xp, buffers(imgs), r.res, log);
    r.err = ::testing::internal::GetCapturedStderr();
    ::testing::internal::GetCapturedStdout();
    return r;
}

TEST(Conventional, AllImagesEmpty) {
    const std::vector<GreyImage> imgs(3, GreyImage(160, 120, 140));
    struct Case {
        int loop_pos, x, y;
    };
    // Cleaned 152 x 112 (loop positions 0, 1) or 112 x 152 (2, 3); no borders added.
    for (const Case c : {Case{0, -1, 112}, Case{1, -1, -1}, Case{2, -1, -1}, Case{3, 152, 112}}) {
        SCOPED_TRACE(c.loop_pos);
        ORVAPARAMS xp = params_for(imgs, c.loop_pos);
        const DriverRun r = run(xp, imgs);
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(r.res.x_centre, c.x);
        EXPECT_EQ(r.res.y_centre, c.y);
        EXPECT_EQ(r.res.precentring_flag, 1);
        EXPECT_EQ(r.res.reliability, -1);
        EXPECT_EQ(r.res.phi, 0);
        EXPECT_EQ(r.res.radius, 0);
        EXPECT_EQ(r.res.loop_width, 77);  // left to the caller
        EXPECT_EQ(r.res.right_border, 88);
        EXPECT_EQ(count(r.err, "\n\torva_conventional: Image seems to be empty !"), 3);
        EXPECT_EQ(count(r.err, "\n Processing Image "), 3);
        EXPECT_NE(r.err.find("\n### ! All images are empty."
                             "\n### ! 'PRECENTRING' is set to '1' in output file"
                             "\n### ! Either there is no loop at all or the loop"),
                  std::string::npos);
        EXPECT_NE(r.err.find("\n= Warning !!  Number of non-empty images (0)  is too low for "
                             "optimal detection!"),
                  std::string::npos);
        EXPECT_NE(r.err.find("\n### ! The RELIABILITY of coordinates is rather low (-100 %)."),
                  std::string::npos);
        EXPECT_EQ(r.err.find("The pin covers"), std::string::npos);
    }
}

TEST(Conventional, StatusesEndTheRunWithoutResult) {
    std::vector<GreyImage> imgs(2, GreyImage(60, 50, 90));
    ORVAPARAMS xp = params_for(imgs, 4);
    DriverRun r = run(xp, imgs);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("\n Unknown value for loop_pos (4)"), std::string::npos);
    EXPECT_EQ(r.res.x_centre, 12345);
    EXPECT_EQ(r.res.precentring_flag, 12345);

    xp = params_for(imgs);
    xp.border[BORDER_LEFT] = 40;
    xp.border[BORDER_RIGHT] = 18;
    r = run(xp, imgs);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.res.y_centre, 12345);

    xp = params_for(imgs);
    xp.num_images = 3;  // more than were loaded
    EXPECT_EQ(run(xp, imgs).status, 1);
    xp.num_images = 0;
    EXPECT_EQ(run(xp, imgs).status, 1);

    // UV images skip the emptiness test: a uniform image is processed.
    xp = params_for(imgs);
    xp.image_special = 3;
    r = run(xp, imgs);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.find("seems to be empty"), std::string::npos);
    EXPECT_EQ(r.res.precentring_flag, 0);
    EXPECT_NE(r.err.find("Number of non-empty images (2) "), std::string::npos);
}

// A dark pin through the whole view. (A pin ending inside the view leaves
// rows of noise above it, which count as wide rows: no pin-only run then.)
std::vector<GreyImage> pin_series(int n) {
    std::vector<GreyImage> imgs;
    for (int i = 0; i < n; ++i) {
        GreyImage g(240, 200, 200);
        g.rect(105 + i, 0, 134 + i, 199, 40);
        g.add_noise(2, 100 + i);
        imgs.push_back(g);
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
    EXPECT_NE(r.err.find("\n### ! The pin covers a wide area of the image."
                         "\n### ! 'PRECENTRING' is set to '1' in output file"),
              std::string::npos);
    EXPECT_EQ(r.err.find("All images are empty"), std::string::npos);
    EXPECT_EQ(r.err.find("seems to be empty"), std::string::npos);
    EXPECT_GE(r.res.reliability, -1);
    EXPECT_LE(r.res.reliability, 100);
}

TEST(Conventional, LogFiguresFileAndCrosses) {
    testing::ScratchDir dir;
    testing::WorkingDir cwd(dir.path());
    auto imgs = pin_series(2);
    imgs.push_back(GreyImage(240, 200, 200));  // one empty image
    ORVAPARAMS xp = params_for(imgs);
    xp.reserved = 1;
    xp.set_cross_flag = 1;
    std::FILE* log = std::tmpfile();
    ASSERT_NE(log, nullptr);
    const DriverRun r = run(xp, imgs, log);
    ASSERT_EQ(r.status, 0);
    const std::string text = read_stream(log);
    std::fclose(log);

    EXPECT_EQ(count(text, "\n# Image No.: "), 2);  // not for the empty image
    EXPECT_NE(text.find("\n# Image No.:   0\n#   0.0 0"), std::string::npos);
    EXPECT_NE(text.find("\n#   0.0 2"), std::string::npos);
    EXPECT_NE(text.find("\n# 120.0 4"), std::string::npos);
    EXPECT_EQ(count(text, "\nduration: "), 2);
    EXPECT_NE(text.find("# modified top candidate from TELKU"), std::string::npos);
    EXPECT_NE(text.find("\n\n# final y of pin\n# phi    pin_pos"), std::string::npos);
    EXPECT_NE(text.find("\n#\n# final x coord after LS\n# phi   2df TELKU Virpa Dexla  Final"),
              std::string::npos);
    EXPECT_NE(text.find("\n correction of coordinates according loop position and cut borders"),
              std::string::npos);
    EXPECT_NE(text.find("\n# position in Y direction (counting from the top): "),
              std::string::npos);
    EXPECT_NE(text.find("\n#\n# cosine parameter in cleaned image\n# "), std::string::npos);
    EXPECT_EQ(text.find("Deviation of coordinates"), std::string::npos);  // too few images

    const std::string figures = testing::read_file("log_res2.txt");
    EXPECT_NE(figures.find("\nCORRCOEFF "), std::string::npos);
    EXPECT_NE(figures.find("\n\n#img  w    h   phi0 radius Y_POS X_POS  DEV_P  DEV_Q"),
              std::string::npos);
    EXPECT_NE(figures.find("\n   3  240  200 "), std::string::npos);
    for (const char* name : {"cross_00.jpg", "cross_01.jpg", "cross_02.jpg"})
        EXPECT_TRUE(testing::file_exists(name)) << name;
    EXPECT_FALSE(testing::file_exists("centre.jpg"));

    // Without the log switch neither the log nor the figures file is written.
    std::remove("log_res2.txt");
    std::FILE* quiet = std::tmpfile();
    xp.reserved = 0;
    xp.set_cross_flag = 0;
    run(xp, imgs, quiet);
    EXPECT_EQ(read_stream(quiet), "");
    std::fclose(quiet);
    EXPECT_FALSE(testing::file_exists("log_res2.txt"));
}

}  // namespace
}  // namespace orva

namespace orva {
namespace {

// Small and narrow images through every loop position and the special image
// kinds: the run must end with status 0 and stay inside every buffer.
TEST(Conventional, SmallImagesStayInside) {
    struct Size {
        int w, h;
    };
    for (const Size size : {Size{11, 11}, Size{12, 40}, Size{40, 12}, Size{70, 11}}) {
        std::vector<GreyImage> imgs;
        for (int i = 0; i < 2; ++i) {
            GreyImage g(size.w, size.h, 180);
            g.rect(size.w / 3, size.h / 2, size.w / 2, size.h - 1, 30);
            g.rect(size.w / 3 + i, size.h / 4, size.w / 3 + i + 2, size.h / 4 + 2, 60);
            g.add_noise(20, 40 + i);
            imgs.push_back(g);
        }
        for (int loop_pos = 0; loop_pos < 4; ++loop_pos) {
            for (int special : {0, loop_pos == 0 ? 1 : 6}) {
                SCOPED_TRACE(std::to_string(size.w) + "x" + std::to_string(size.h) + " pos " +
                             std::to_string(loop_pos) + " special " + std::to_string(special));
                ORVAPARAMS xp = params_for(imgs, loop_pos);
                xp.image_special = special;
                EXPECT_EQ(run(xp, imgs).status, 0);
            }
        }
    }
}

}  // namespace
}  // namespace orva
