// The version-2.3 driver on small in-memory series (empty runs, pin-only
// runs, statuses, the log, figures file and cross images, small images), its
// result conversion, and the robust axial mean over the detectors.
#include "v23/conventional.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "run/scratch_dir.h"
#include "v23/conventional_run.h"
#include "v23/image_preparation.h"
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
        EXPECT_EQ(
            (std::array{r.res.x_centre, r.res.y_centre, r.res.precentring_flag, r.res.reliability,
                        r.res.phi, r.res.radius, r.res.loop_width, r.res.right_border}),
            (std::array{x, y, 1, -1, 0, 0, 77, 88}));
        EXPECT_EQ(count(r.err, "\n\torva_conventional: Image seems to be empty !"), 3);
        EXPECT_EQ(count(r.err, "\n Processing Image "), 3);
        for (const char* part : {"\n### ! All images are empty.\n### ! 'PRECENTRING' is set to "
                                 "'1' in output file\n### ! Either there is no loop at all or",
                                 "\n= Warning !!  Number of non-empty images (0)  is too low for "
                                 "optimal detection!",
                                 "\n### ! The RELIABILITY of coordinates is rather low (-100 %)."})
            EXPECT_EQ(count(r.err, part), 1) << part;
        EXPECT_EQ(count(r.err, "The pin covers"), 0);
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
        EXPECT_EQ(r.res.x_centre + r.res.precentring_flag, 2 * 12345);
        EXPECT_EQ(count(r.err, "\n Unknown value for loop_pos (4)"), loop_pos == 4);
    }

    // UV images skip the emptiness test: a uniform image is processed.
    ORVAPARAMS xp = params_for(imgs);
    xp.image_special = 3;
    const DriverRun r = run(xp, imgs);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count(r.err, "seems to be empty"), 0);
    EXPECT_EQ(r.res.precentring_flag, 0);
    EXPECT_EQ(count(r.err, "Number of non-empty images (2) "), 1);
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
    EXPECT_EQ(count(r.err,
                    "\n### ! The pin covers a wide area of the image."
                    "\n### ! 'PRECENTRING' is set to '1' in output file"),
              1);
    EXPECT_EQ(count(r.err, "seems to be empty"), 0);
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

TEST(V23Result, CoordinatesCrossesDiameterAndReliability) {
    using namespace conventional;
    const int border[4] = {1, 7, 5, 2};  // bottom, top, left, right
    // Cleaned image 30 x 20: loop_pos, position, borders added, input position.
    for (const auto& [loop_pos, cx, cy, borders, in_x, in_y] :
         {std::array{0, 4, 6, 1, 4 + 5, 6 + 7},
          {1, 4, 6, 1, 4 + 5, 20 - 1 - 6 + 7},
          {2, 4, 6, 1, 20 - 1 - 6 + 5, 4 + 7},
          {3, 4, 6, 1, 6 + 5, 30 - 1 - 4 + 7},
          {0, -1, -3, 1, -1 - 5, -3 - 7},  // negative positions move away from the image
          {1, -1, 20, 0, -1, -1}}) {       // no borders without images
        int x = cx, y = cy;
        to_input_coordinates(loop_pos, 30, 20, border, borders == 1, x, y);
        EXPECT_EQ((std::array{x, y}), (std::array{in_x, in_y})) << loop_pos << " " << cx;
    }
    // At 90 degrees the crystal is at x0 + radius: floor(50.7); at 270 floor(30.7).
    PARAMS mp;
    mp.x0 = 40.2;
    mp.radius = 10.0;
    mp.phi0 = 90.0;
    for (const auto& [loop_pos, phi, cx, cy] : {std::array{0, 90, 50 + 5, 33},
                                                {1, 270, 30 + 5, 33},
                                                {2, 90, 45, 50 + 7},
                                                {3, 90, 45, 100 - 1 - 50 + 7}}) {
        int x = 0, y = 0;
        cross_position(loop_pos, 100, border, mp, phi, 45, 33, x, y);
        EXPECT_EQ((std::array{x, y}), (std::array{cx, cy})) << loop_pos;
    }
    std::vector<int> w = {30, 0, 12, 50, 7};
    EXPECT_EQ(object_diameter(w, 4), 12);  // the fifth entry is not an image
    EXPECT_EQ(normalised_phase(-180.0, 5.0), 180.0);
    EXPECT_EQ(normalised_phase(77.0, 0.99), 0.0);  // no phase below a radius of 1
    EXPECT_EQ(reliability_percent(v23_reliability(20, 5.0)), 73);
    EXPECT_EQ(v23_reliability(20, 0.0), -1.0);
}

// n images; TELKU misses are -1, the other detectors' 0.
std::array<double, 3> mean_y(int n, std::vector<double> telku, std::vector<double> twodf,
                             std::vector<double> virpa, std::vector<double> dexla) {
    for (auto* v : {&twodf, &virpa, &dexla}) v->resize(n, 0.0);
    telku.resize(n, -1.0);
    std::array<double, 3> m{};
    m[0] = get_mean_y(n, telku, twodf, virpa, dexla, m[1], m[2], nullptr);
    return m;
}

TEST(MeanY, KnownErrorsAFarValueRejectedAndNoDivisionByZero) {
    const std::vector<double> same(5, 137.0);
    // One value (or one repeated), or none: no spread, nothing divided by 0.
    EXPECT_EQ(mean_y(5, same, same, same, same), (std::array{137.0, 0.0, 0.0}));
    EXPECT_EQ(mean_y(3, {}, {}, {0, 42.5}, {}), (std::array{42.5, 0.0, 0.0}));
    EXPECT_EQ(mean_y(4, {}, {}, {}, {}), (std::array{0.0, 0.0, 0.0}));
    // Mean 100, d^2 = 100 each, s^2 = 200: equal weights; sqrt(200) and 10.
    std::array<double, 3> m = mean_y(1, {}, {90.0}, {}, {110.0});
    EXPECT_DOUBLE_EQ(m[0], 100.0);
    EXPECT_NEAR(m[1], std::sqrt(200.0), 1e-12);
    EXPECT_NEAR(m[2], 10.0, 1e-12);
    // The plain mean would be 122 and the plain error still sees the far value.
    m = mean_y(3, {99.0, 100.0, 101.0}, {100.5, 99.5, 100.0}, {100.2, 99.8}, {0, 0, 300.0});
    EXPECT_NEAR(m[0], 100.0, 0.3);
    EXPECT_GT(m[1], 5.0);
    EXPECT_LT(m[2], 0.5);
}

}  // namespace
}  // namespace orva
