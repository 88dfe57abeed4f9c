// The driver's three ways to a centre on small drawn loop series: the loop
// centres of a pre-alignment run, the loop tips with a known axis, and the
// crystal run with the order of its log.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "analysis/orvafunc.h"
#include "run/scratch_dir.h"

namespace orva {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

constexpr int VIEW_W = 200;
constexpr int VIEW_H = 160;

class DriverPaths : public ::testing::Test {
  protected:
    DriverPaths() : cwd(dir.path()) {}

    // A dark ring on a stem over a bright background, the ring centre moving
    // as 100 + 20 cos(angle) across the view, optionally with a dark crystal
    // at its centre. Ring rows 40..100, stem from row 98 down.
    void draw_loops(int n, double step, bool crystal) {
        params.num_images = n;
        params.width = VIEW_W;
        params.height = VIEW_H;
        params.background_flag = 1;
        params.back_ptr = ByteBuffer(VIEW_W * VIEW_H, 200);
        params.angle.clear();
        images.assign(n, ByteBuffer(VIEW_W * VIEW_H, 200));
        for (int q = 0; q < n; ++q) {
            params.angle.push_back(static_cast<float>(q * step));
            const double cx = 100.0 + 20.0 * std::cos(q * step * 0.0174532925);
            for (int y = 0; y < VIEW_H; ++y) {
                for (int x = 0; x < VIEW_W; ++x) {
                    const double r = std::hypot(x - cx, y - 70.0);
                    if ((r >= 24.0 && r <= 30.0) || (std::fabs(x - cx) <= 5.0 && y >= 98) ||
                        (crystal && r <= 8.0))
                        images[q][y * VIEW_W + x] = 40;
                }
            }
        }
    }

    int run() {
        CaptureStdout();
        CaptureStderr();
        const int status = orvafunc(params, images, result);
        messages = GetCapturedStderr();
        GetCapturedStdout();
        log = testing::read_file("logORVA.txt");
        return status;
    }
    bool said(const std::string& text) const { return messages.find(text) != std::string::npos; }

    // The top of image q's loop box, from its "Box details" line.
    int box_top(int q) const {
        const std::size_t at = log.find("Box details " + std::to_string(q) + " ");
        int b = 0, l = 0, r = 0, t = -1;
        if (at != std::string::npos)
            std::sscanf(log.c_str() + at, "Box details %*d %d %d %d %d", &b, &l, &r, &t);
        return t;
    }
    // The smallest of the loop widths logged after the boxes.
    int narrowest_width(int n) const {
        int narrowest = 1 << 20;
        for (int q = 0; q < n; ++q) {
            const std::size_t at = log.find("\n\n" + std::to_string(q) + "  ");
            int width = 1 << 20;
            if (at != std::string::npos) std::sscanf(log.c_str() + at, "%*d %d", &width);
            if (width < narrowest) narrowest = width;
        }
        return narrowest;
    }

    testing::ScratchDir dir;
    testing::WorkingDir cwd;
    ORVAPARAMS params;
    std::vector<ByteBuffer> images;
    ORVARESULT result;
    std::string messages;
    std::string log;
};

// Without a crystal search the loop centres move on the sinusoid; the crystal
// size is twice the narrowest loop, and the fit table has no angle groups.
TEST_F(DriverPaths, PrealignmentFitsTheLoopCentres) {
    draw_loops(6, 60.0, true);
    params.prealignment_flag = 1;
    params.reserved = 1;
    ASSERT_EQ(run(), 0);
    EXPECT_TRUE(said("\n Modelling PIN/Pre-Alignment"));
    EXPECT_FALSE(said("Modelling Xtal motion"));
    EXPECT_EQ(result.precentring_flag, 1);
    EXPECT_NEAR(result.x_centre, 100, 1);
    EXPECT_NEAR(result.radius, 20, 1);

    EXPECT_NE(log.find("\n\n# loop width | crystal_size\n#  0: "), std::string::npos);
    const int narrowest = narrowest_width(6);
    ASSERT_LT(narrowest, 100);
    EXPECT_NE(log.find("\n#\n# Crystal diameter: " + std::to_string(2 * narrowest) + "\n"),
              std::string::npos);
    const std::size_t table = log.find("\n#\n# final coord after LS");
    ASSERT_NE(table, std::string::npos);
    const std::size_t end = log.find("\n#-----", table);
    EXPECT_EQ(log.substr(table + 3, end - table - 3).find("\n#\n"), std::string::npos);

    const std::string figures = testing::read_file("log_res2.txt");
    const std::string row = figures.substr(figures.find('\n') + 1);
    double skip = 0.0;
    int c_radius = 0, precentring = 0;
    ASSERT_EQ(std::sscanf(row.c_str(), "%*d %*d %*d %*d %*d %*d %*d %lf %lf %lf %lf %lf %lf %d %d",
                          &skip, &skip, &skip, &skip, &skip, &skip, &c_radius, &precentring),
              8);
    EXPECT_EQ(c_radius, narrowest);
    EXPECT_EQ(precentring, 1);
}

// IMAGE_SPECIAL 4 takes the loop tips; with a known axis two images suffice,
// the axis comes back exactly and, with too few images for a deviation, the
// shape figure is the reliability.
TEST_F(DriverPaths, LoopTipsWithAKnownAxisFromTwoImages) {
    draw_loops(2, 90.0, true);
    params.image_special = 4;
    params.centre_coord = 100;
    params.reserved = 1;
    ASSERT_EQ(run(), 0);
    EXPECT_TRUE(said("\n Modelling PIN/Pre-Alignment"));
    EXPECT_EQ(result.precentring_flag, 1);
    EXPECT_EQ(result.x_centre, 100);
    const int tip = box_top(0);
    ASSERT_GT(tip, 0);
    EXPECT_EQ(box_top(1), tip);
    EXPECT_EQ(result.y_centre, tip + 4);  // the first traced row, below the top border
    EXPECT_TRUE(said("Number of non-empty images (2) is too low"));
    float shapes_reliability = -1.0f;
    const std::size_t at = log.find("# shapes_reliability: ");
    ASSERT_NE(at, std::string::npos);
    std::sscanf(log.c_str() + at, "# shapes_reliability: %f", &shapes_reliability);
    EXPECT_EQ(result.reliability,
              static_cast<int>(std::floor(100 * static_cast<double>(shapes_reliability))));

    // Pre-alignment alone keeps the loop centres, well below the tip.
    draw_loops(2, 90.0, true);
    params.image_special = 0;
    params.prealignment_flag = 1;
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(result.x_centre, 100);
    EXPECT_GT(result.y_centre, tip + 14);
}

// A crystal run writes its log in the order of its steps, with an angle
// group mark before each angle's rows.
TEST_F(DriverPaths, CrystalRunLogsItsStepsInOrder) {
    draw_loops(6, 60.0, true);
    params.reserved = 1;
    ASSERT_EQ(run(), 0);
    EXPECT_TRUE(said("\n Modelling Xtal motion"));
    EXPECT_EQ(result.precentring_flag, 0);
    EXPECT_NEAR(result.x_centre, 100, 1);
    EXPECT_NEAR(result.y_centre, 70, 2);
    EXPECT_NEAR(result.radius, 20, 1);

    std::size_t from = 0;
    for (const char* step :
         {"\nBox details 0 ", "\n\n0  ", "Box details 5 ", "\nEstimated Width ",
          "\n\n# loop width | crystal_size\n# 0: ", "\n# 5: ", "\n\n# bulge determination",
          " for image: ", "\t max_width: ", "\n# max_width/crystal_size: ",
          "\n#\n# final coord after LS", "\n#\n   0.0 ", "\n#\n  60.0 ", "\n#\n 300.0 ",
          "\n#----------------------------------------\n# correction of coordinates",
          "\n#\n# Deviation of coordinates", "\n#\n# Crystal diameter: ",
          "\n#\n# cosine parameter in original image", "\n# total duration: "}) {
        const std::size_t at = log.find(step, from);
        ASSERT_NE(at, std::string::npos) << step;
        from = at + 1;
    }
}

}  // namespace
}  // namespace orva
