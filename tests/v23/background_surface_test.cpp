// Emptiness test, background surface fit and background compensation.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "v23/image_preparation.h"
#include "v23_images.h"

namespace orva {
namespace {

using testing::GreyImage;

int empty_flag_of(const GreyImage& s) {
    int flag = -1;
    EXPECT_EQ(detect_emptyness(s.pix, s.im, 1, flag, 0, nullptr), 0);
    return flag;
}

TEST(Emptiness, SmoothImagesAreEmptyObjectsAreNot) {
    EXPECT_EQ(empty_flag_of(GreyImage(120, 90, 130)), 1);  // uniform: contrast 0
    // A strong quadratic illumination is taken out by the surface fit.
    GreyImage lit(120, 90);
    lit.fill([](int x, int y) { return 40 + 0.01 * x * x + 0.6 * y - 0.004 * x * y; });
    EXPECT_EQ(empty_flag_of(lit), 1);
    lit.rect(50, 40, 70, 89, 10);
    EXPECT_EQ(empty_flag_of(lit), 0);
    // Mild sensor noise alone stays below 10 grey levels of contrast.
    GreyImage noisy(120, 90, 128);
    noisy.add_noise(3, 7);
    EXPECT_EQ(empty_flag_of(noisy), 1);
    // Too small for 2 % of the residuals: one at each end is used.
    GreyImage tiny(5, 4, 100);
    EXPECT_EQ(empty_flag_of(tiny), 1);
    tiny.at(2, 2) = 0;
    EXPECT_EQ(empty_flag_of(tiny), 0);
}

// a[0..5] of a0 x^2 + a1 x + a2 y^2 + a3 y + a4 x y + a5.
double surface(const double* a, double x, double y) {
    return a[0] * x * x + a[1] * x + a[2] * y * y + a[3] * y + a[4] * x * y + a[5];
}

// Integer surface z = 5 + x - y + x^2 + y^2 + x y on sub-sampled pixels: the
// fit outside the ROI must find it exactly and scale it to full resolution.
TEST(SurfaceFit, RecoversAKnownQuadratic) {
    GreyImage s(10, 10);
    s.fill([](int x, int y) { return 5 + x - y + x * x + y * y + x * y; });
    const int roi[4] = {3, 6, 4, 8};
    double a[7] = {};
    const std::string err = testing::stderr_of(
        [&] { ASSERT_EQ(get_surface_params(s.pix, s.im, 2, a, roi, 0, nullptr), 0); });
    EXPECT_EQ(err, "");
    const double expect[6] = {1.0 / 4, 1.0 / 2, 1.0 / 4, -1.0 / 2, 1.0 / 4, 5.0};
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(a[k], expect[k], 1e-8) << k;

    // The object inside the ROI does not disturb the fit.
    s.rect(3, 4, 6, 9, 0);
    ASSERT_EQ(get_surface_params(s.pix, s.im, 1, a, roi, 0, nullptr), 0);
    EXPECT_NEAR(a[0], 1.0, 1e-9);
    EXPECT_NEAR(a[4], 1.0, 1e-9);
    EXPECT_NEAR(a[5], 5.0, 1e-8);
}

TEST(SurfaceFit, WideRegionsAndDegenerateSamples) {
    // A ROI over the whole width is replaced by the middle half of the columns.
    GreyImage s(40, 30);
    s.fill([](int x, int y) { return 20 + 3 * y + 0.05 * x * x; });
    s.rect(10, 10, 30, 29, 250);
    const int across[4] = {0, 37, 10, 27};  // edge image is 38 wide
    double a[7] = {};
    ASSERT_EQ(get_surface_params(s.pix, s.im, 1, a, across, 0, nullptr), 0);
    EXPECT_NEAR(a[0], 0.05, 0.002);
    EXPECT_NEAR(a[3], 3.0, 0.05);
    EXPECT_NEAR(a[5], 20.0, 0.6);

    // Samples in row 0 and in column 2 only: y (x - 2) vanishes on all of
    // them, which is reported; the samples themselves are still matched.
    GreyImage thin(3, 10);
    thin.fill([](int x, int y) { return y == 0 ? 50 + 2 * x : (x == 2 ? 54 + 3 * y : 0); });
    const int left[4] = {0, 1, 0, 7};
    const std::string err = testing::stderr_of(
        [&] { ASSERT_EQ(get_surface_params(thin.pix, thin.im, 1, a, left, 0, nullptr), 0); });
    EXPECT_EQ(err, "\nget_surface_params: Singular value! Something wrong!");
    for (int x = 0; x < 3; ++x) EXPECT_NEAR(surface(a, x, 0), 50 + 2 * x, 1e-6);
    for (int y = 0; y < 10; ++y) EXPECT_NEAR(surface(a, 2, y), 54 + 3 * y, 1e-6);
}

TEST(BackgroundCompensation, FlattensToTheReferenceLevel) {
    const int imx = 80, imy = 60;
    const double a[7] = {0.005, -0.2, 0.01, 0.3, -0.002, 90.0, 0.0};
    GreyImage c(imx, imy);
    c.fill([&](int x, int y) { return std::floor(surface(a, x, y) + 0.5); });
    c.rect(30, 30, 49, 59, 5);  // an object that must keep its contrast
    // Reference corner ((5-1)*2, (6-1)*2) = (8, 10) and its upper-left neighbours.
    const int roi[4] = {5, 30, 6, 29};
    const double ref = 0.25 * (c.at(8, 10) + c.at(8, 9) + c.at(7, 10) + c.at(7, 9));
    ByteBuffer out(imx * imy);
    ASSERT_EQ(background_compensation(c.pix, out, imx, imy, roi, 2, a, 0, 0, nullptr), 0);
    for (int y = 0; y < imy; ++y)
        for (int x = 0; x < imx; ++x)
            if (x < 30 || x > 49 || y < 30) {
                EXPECT_NEAR(out[y * imx + x], ref, 1.0) << x << "," << y;
            }
    EXPECT_LT(out[45 * imx + 40], 10);

    // A corner near the image edge: the reference is the corner pixel alone.
    const int edge_roi[4] = {1, 30, 2, 29};  // (0, 2) <= sub_samp: both 0
    ASSERT_EQ(background_compensation(c.pix, out, imx, imy, edge_roi, 2, a, 0, 0, nullptr), 0);
    EXPECT_EQ(out[0], static_cast<int>(std::floor(c.at(0, 0) + (c.at(0, 0) - a[5]))));
}

TEST(BackgroundCompensation, ClampsAndPaintsTheShadow) {
    GreyImage c(500, 700, 250);
    c.rect(0, 0, 50, 50, 10);
    c.at(450, 650) = 10;
    const int roi[4] = {60, 80, 60, 80};  // reference at (59, 59): 250
    ByteBuffer out(c.pix.size());
    auto compensated = [&](double level, int shadow, int x, int y) {
        const double a[7] = {0, 0, 0, 0, 0, level, 0};
        EXPECT_EQ(background_compensation(c.pix, out, 500, 700, roi, 1, a, 0, shadow, nullptr), 0);
        return static_cast<int>(out[y * 500 + x]);
    };
    EXPECT_EQ(compensated(0, 0, 100, 100), 255);  // background 0: raised by 250
    EXPECT_EQ(compensated(600, 0, 100, 100), 0);
    EXPECT_EQ(compensated(250, 1, 20, 20), 250);   // inside the ellipse: the level
    EXPECT_EQ(compensated(250, 1, 450, 650), 10);  // outside it: compensated only
    EXPECT_EQ(compensated(250, 0, 20, 20), 10);
}

}  // namespace
}  // namespace orva
