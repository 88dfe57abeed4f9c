// Cutting, turning, overlay-bar and shadow removal of the version-2.3 cleaning.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "v23/conventional_run.h"
#include "v23/image_preparation.h"
#include "v23_images.h"

namespace orva {
namespace {

using testing::GreyImage;
using testing::stderr_of;

constexpr int kNoBorder[4] = {0, 0, 0, 0};

struct Cleaned {
    int status = -1;
    IMAGE imc;
    ByteBuffer out;
};

Cleaned clean(const GreyImage& in, int special, int loop_pos, const int* border = kNoBorder,
              int shadow = 0) {
    Cleaned c;
    c.status = clean_up(in.im, in.pix, c.imc, c.out, special, loop_pos, border, shadow, nullptr);
    return c;
}

TEST(CleanUp, UnknownLoopPositionAndTooSmallImages) {
    const GreyImage in(20, 10, 7);
    // Borders that leave less than 3 x 3 pixels, or nothing at all: some message.
    const int wide[4] = {4, 4, 0, 0}, huge[4] = {0, 0, 30, 0};
    for (const auto& [loop_pos, border, message] :
         {std::tuple{4, kNoBorder, "\n Unknown value for loop_pos (4)"},
          {-1, kNoBorder, "\n Unknown value for loop_pos (-1)"},
          {0, wide, ""},
          {0, huge, ""}}) {
        Cleaned c;
        const std::string err = stderr_of([&] { c = clean(in, 0, loop_pos, border); });
        EXPECT_TRUE(*message ? err == message : !err.empty()) << err;
        EXPECT_EQ(c.status, 2);
        EXPECT_TRUE(c.out.empty());
    }
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
        const Cleaned c = clean(in, 0, loop_pos, border);
        ASSERT_EQ(c.status, 0);
        const bool turned = loop_pos >= 2;
        EXPECT_EQ(testing::geometry(c.imc),
                  (testing::Geometry{turned ? 4u : 5u, turned ? 5u : 4u, 20}));
        ASSERT_EQ(c.out.size(), 20u);
        for (int r = 0; r < static_cast<int>(c.imc.height); ++r)
            for (int col = 0; col < static_cast<int>(c.imc.width); ++col) {
                int x = col, y = r;
                conventional::to_input_coordinates(loop_pos, c.imc.width, c.imc.height, border,
                                                   true, x, y);
                ASSERT_GE(x, 0);
                ASSERT_GE(y, 0);
                EXPECT_EQ(c.out[r * c.imc.width + col], y * W + x) << col << "," << r;
            }
    }
    // The bottom edge of the cleaned image is the side the loop enters from.
    Cleaned c = clean(in, 0, 2);
    EXPECT_EQ(c.out[0], W - 1);                             // top-right pixel
    EXPECT_EQ(c.out[(c.imc.height - 1) * c.imc.width], 0);  // top-left pixel
    EXPECT_EQ(clean(in, 0, 1).out[0], (H - 1) * W);         // bottom-left pixel
}

// A bar profile darkest in its middle line c, nine pixels wide.
void draw_bar(GreyImage& img, bool vertical, int c, int from, int to) {
    for (int along = from; along <= to; ++along)
        for (int d = -4; d <= 4; ++d)
            (vertical ? img.at(c + d, along) : img.at(along, c + d)) =
                static_cast<unsigned char>(20 + 15 * std::abs(d));
}

TEST(CleanUp, OverlayBarsAreErasedAMissingOneLeavesTheCornerAlone) {
    GreyImage in(500, 400, 200);
    draw_bar(in, true, 240, 0, 80);          // from the top
    draw_bar(in, true, 240, 330, 399);       // from the bottom
    draw_bar(in, false, 190, 0, 60);         // from the left
    draw_bar(in, false, 190, 430, 499);      // from the right
    EXPECT_EQ(clean(in, 0, 0).out, in.pix);  // only image_special 1 touches the bars
    EXPECT_EQ(testing::level_range(clean(in, 1, 0).out, 500).first, 200);

    // A bar further in than its traced length is left standing.
    GreyImage longer(500, 400, 200);
    draw_bar(longer, true, 240, 0, 200);
    const ByteBuffer out = clean(longer, 1, 0).out;
    EXPECT_EQ(out[100 * 500 + 240], 200);  // inside the 112 default rows
    EXPECT_EQ(out[150 * 500 + 240], 20);

    // Only a top bar and a wandering dark spot where the bottom bar would be:
    // its trace disagrees, the bottom bar's column becomes 0 and the
    // bottom-left corner must not be painted from outside the row.
    GreyImage top(500, 400, 200);
    draw_bar(top, true, 240, 0, 80);
    for (int y = 280; y < 400; ++y) top.at(230 + (y * 7) % 20, y) = 5;
    for (int y = 300; y < 400; ++y)
        for (int x = 0; x < 6; ++x) top.at(x, y) = static_cast<unsigned char>(x * 30 + (y % 7));
    const Cleaned c = clean(top, 1, 0);
    ASSERT_EQ(c.status, 0);
    for (int y = 300; y < 400; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(c.out[y * 500 + x], top.at(x, y));
    EXPECT_EQ(c.out[40 * 500 + 240], 200);
}

TEST(CleanUp, ShadowTakesTheRowLevel) {
    GreyImage in(400, 600);
    in.fill([](int x, int y) { return 100 + (y % 50) + (x == 399 ? 100 : 0); });
    in.rect(0, 0, 100, 100, 10);  // the dark shadow in the corner
    const ByteBuffer out = clean(in, 0, 0, kNoBorder, 1).out;
    auto at = [&](int x, int y) { return static_cast<int>(out[y * 400 + x]); };
    // Row 20: 101 dark pixels of 10, 298 of 120, the last one not counted.
    EXPECT_EQ(at(0, 20), static_cast<int>(std::floor((101 * 10 + 298 * 120) / 400.0 + 0.5)));
    EXPECT_EQ(at(50, 20), at(0, 20));
    // Row 0 inside the ellipse (379^2 / 380^2 < 1) takes the row level.
    EXPECT_EQ(at(200, 0), static_cast<int>(std::floor((101 * 10 + 298 * 100) / 400.0 + 0.5)));
    EXPECT_EQ(at(379, 0), at(0, 0));
    EXPECT_EQ(at(380, 0), 100);         // outside the ellipse
    EXPECT_EQ(at(0, 579), at(1, 579));  // the ellipse's lowest row
    EXPECT_EQ(at(300, 500), in.at(300, 500));
}

}  // namespace
}  // namespace orva
