// Cutting, turning, overlay-bar and shadow removal of the version-2.3 cleaning.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "v23/conventional_run.h"
#include "v23/image_preparation.h"
#include "v23_images.h"

namespace orva {
namespace {

using namespace conventional;

using testing::GreyImage;

TEST(CleanUp, UnknownLoopPositionAndTooSmallImages) {
    GreyImage in(20, 10, 7);
    const int border[4] = {0, 0, 0, 0};
    IMAGE imc;
    ByteBuffer out;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(clean_up(in.im, in.pix, imc, out, 0, 4, border, 0, nullptr), 2);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "\n Unknown value for loop_pos (4)");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(clean_up(in.im, in.pix, imc, out, 0, -1, border, 0, nullptr), 2);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "\n Unknown value for loop_pos (-1)");
    EXPECT_TRUE(out.empty());

    // Borders that leave less than 3 x 3 pixels, or nothing at all.
    const int wide[4] = {4, 4, 0, 0};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(clean_up(in.im, in.pix, imc, out, 0, 0, wide, 0, nullptr), 2);
    const int huge[4] = {0, 0, 30, 0};
    EXPECT_EQ(clean_up(in.im, in.pix, imc, out, 0, 0, huge, 0, nullptr), 2);
    EXPECT_FALSE(::testing::internal::GetCapturedStderr().empty());
    EXPECT_TRUE(out.empty());
}

// Every loop position cuts the borders and brings the pin edge to the bottom;
// the result conversion must bring each cleaned pixel back to where it was.
TEST(CleanUp, OrientationAndItsInverse) {
    const int W = 9, H = 7;
    const int border[4] = {1, 2, 1, 3};  // bottom, top, left, right
    GreyImage in(W, H);
    in.fill([&](int x, int y) { return y * W + x; });
    for (int loop_pos = 0; loop_pos < 4; ++loop_pos) {
        SCOPED_TRACE(loop_pos);
        IMAGE imc;
        ByteBuffer out;
        ASSERT_EQ(clean_up(in.im, in.pix, imc, out, 0, loop_pos, border, 0, nullptr), 0);
        const bool turned = loop_pos >= 2;
        EXPECT_EQ(imc.width, turned ? 4u : 5u);
        EXPECT_EQ(imc.height, turned ? 5u : 4u);
        EXPECT_EQ(imc.size, 20u);
        ASSERT_EQ(out.size(), 20u);
        for (int r = 0; r < static_cast<int>(imc.height); ++r) {
            for (int c = 0; c < static_cast<int>(imc.width); ++c) {
                int x = c, y = r;
                to_input_coordinates(loop_pos, imc.width, imc.height, border, true, x, y);
                ASSERT_GE(x, 0);
                ASSERT_GE(y, 0);
                EXPECT_EQ(out[r * imc.width + c], y * W + x) << c << "," << r;
            }
        }
    }
    // The bottom edge of the cleaned image is the side the loop enters from.
    IMAGE imc;
    ByteBuffer out;
    const int none[4] = {0, 0, 0, 0};
    ASSERT_EQ(clean_up(in.im, in.pix, imc, out, 0, 2, none, 0, nullptr), 0);
    EXPECT_EQ(out[0], W - 1);                         // top-right pixel
    EXPECT_EQ(out[(imc.height - 1) * imc.width], 0);  // top-left pixel
    ASSERT_EQ(clean_up(in.im, in.pix, imc, out, 0, 1, none, 0, nullptr), 0);
    EXPECT_EQ(out[0], (H - 1) * W);  // bottom-left pixel
}

// A bar profile darkest in its middle column c, nine pixels wide.
void draw_bar(GreyImage& img, bool vertical, int c, int from, int to) {
    for (int along = from; along <= to; ++along)
        for (int d = -4; d <= 4; ++d) {
            const auto v = static_cast<unsigned char>(20 + 15 * std::abs(d));
            if (vertical)
                img.at(c + d, along) = v;
            else
                img.at(along, c + d) = v;
        }
}

int darkest(const GreyImage& img) {
    int m = 255;
    for (unsigned char p : img.pix) m = std::min<int>(m, p);
    return m;
}

TEST(CleanUp, OverlayBarsAreErased) {
    GreyImage in(500, 400, 200);
    draw_bar(in, true, 240, 0, 80);      // from the top
    draw_bar(in, true, 240, 330, 399);   // from the bottom
    draw_bar(in, false, 190, 0, 60);     // from the left
    draw_bar(in, false, 190, 430, 499);  // from the right
    const int none[4] = {0, 0, 0, 0};
    IMAGE imc;
    ByteBuffer out;
    ASSERT_EQ(clean_up(in.im, in.pix, imc, out, 0, 0, none, 0, nullptr), 0);
    EXPECT_EQ(out, in.pix);  // only image_special 1 touches the bars

    ASSERT_EQ(clean_up(in.im, in.pix, imc, out, 1, 0, none, 0, nullptr), 0);
    GreyImage cleaned(500, 400);
    cleaned.pix = out;
    EXPECT_EQ(darkest(cleaned), 200);

    // A bar further in than its traced length is left standing.
    GreyImage longer(500, 400, 200);
    draw_bar(longer, true, 240, 0, 200);
    ASSERT_EQ(clean_up(longer.im, longer.pix, imc, out, 1, 0, none, 0, nullptr), 0);
    cleaned.pix = out;
    EXPECT_EQ(cleaned.at(240, 100), 200);  // inside the 112 default rows
    EXPECT_EQ(cleaned.at(240, 150), 20);
}

TEST(CleanUp, MissingBottomBarAndSmallImagesStayInside) {
    // Only a top bar: the bottom bar's column becomes 0 and the bottom-left
    // corner must not be painted from outside the row.
    GreyImage in(500, 400, 200);
    draw_bar(in, true, 240, 0, 80);
    // A wandering dark spot where the bottom bar would be: its trace disagrees.
    for (int y = 280; y < 400; ++y) in.at(230 + (y * 7) % 20, y) = 5;
    for (int y = 300; y < 400; ++y)
        for (int x = 0; x < 6; ++x) in.at(x, y) = static_cast<unsigned char>(x * 30 + (y % 7));
    const int none[4] = {0, 0, 0, 0};
    IMAGE imc;
    ByteBuffer out;
    ASSERT_EQ(clean_up(in.im, in.pix, imc, out, 1, 0, none, 0, nullptr), 0);
    for (int y = 300; y < 400; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(out[y * 500 + x], in.at(x, y));
    EXPECT_EQ(out[40 * 500 + 240], 200);

    // Images smaller than the default bar places and the scan depth.
    for (int size : {3, 8, 25, 60}) {
        GreyImage small(size + 2, size, 90);
        small.add_noise(40, size);
        ASSERT_EQ(clean_up(small.im, small.pix, imc, out, 1, 0, none, 1, nullptr), 0);
        EXPECT_EQ(out.size(), small.pix.size());
    }
}

TEST(CleanUp, ShadowTakesTheRowLevel) {
    GreyImage in(400, 600, 0);
    in.fill([](int x, int y) { return 100 + (y % 50) + (x == 399 ? 100 : 0); });
    in.rect(0, 0, 100, 100, 10);  // the dark shadow in the corner
    const int none[4] = {0, 0, 0, 0};
    IMAGE imc;
    ByteBuffer out;
    ASSERT_EQ(clean_up(in.im, in.pix, imc, out, 0, 0, none, 1, nullptr), 0);
    auto at = [&](int x, int y) { return static_cast<int>(out[y * 400 + x]); };
    // Row 20: 101 dark pixels of 10, 298 of 120, the last one not counted.
    const double level = (101 * 10 + 298 * 120) / 400.0;
    EXPECT_EQ(at(0, 20), static_cast<int>(std::floor(level + 0.5)));
    EXPECT_EQ(at(50, 20), at(0, 20));
    EXPECT_EQ(at(379, 0), at(0, 0));    // inside: 379^2 / 380^2 < 1
    EXPECT_EQ(at(380, 0), 100);         // outside the ellipse
    EXPECT_EQ(at(0, 579), at(1, 579));  // the ellipse's lowest row
    EXPECT_EQ(at(300, 500), in.at(300, 500));
    // Row 0 keeps 100 everywhere but inside the shadow it becomes the row level.
    EXPECT_EQ(at(200, 0), static_cast<int>(std::floor((101 * 10 + 298 * 100) / 400.0 + 0.5)));
}

}  // namespace
}  // namespace orva
