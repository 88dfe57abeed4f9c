// VIRPA and DEXLA: the equalisation of an overfull level, the DEXLA response
// tables, and whole-detector runs on synthetic scenes.
#include "v23/virpa.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include "v23/virpa_image.h"
#include "v23_images.h"

namespace orva {
namespace {

// mx columns by my rows, pixel (c, r) = f(c, r).
Image image_of(int mx, int my, const std::function<double(int, int)>& f) {
    Image im(mx, my);
    for (int r = 0; r < my; ++r)
        for (int c = 0; c < mx; ++c) im.pixel[r][c] = f(c, r);
    return im;
}

Image filled(int mx, int my, double v) {
    return image_of(mx, my, [v](int, int) { return v; });
}

TEST(DexlaEqualisation, AnOverfullLevelEndsAtTheTop) {
    // 496 pixels (target 1 per level) nearly all on one level: its share runs
    // past the last output level, so the brighter level above it is never
    // reached; it belongs to the brightest pixels and ends at the top, not at 0.
    Image glare = filled(16, 31, 50.0);
    glare.pixel[0][0] = 10.0;
    glare.pixel[1][1] = 240.0;
    glare.histEqualization();
    EXPECT_EQ(glare.pixel[0][0], 0.0);
    EXPECT_EQ(glare.pixel[1][1], 255.0);
    EXPECT_EQ(glare.pixel[5][5], 255.0);
}

TEST(Dexla, ResponseTablesFollowTheMeanOfTheInput) {
    // Half-size image: mid-grey with a 5 x 5 spot of level 1 (level 0 has no
    // dark response) at (20, 20) and one of 255 at (60, 40).
    const Image spots = image_of(100, 70, [](int c, int r) {
        if (std::abs(c - 20) <= 2 && std::abs(r - 20) <= 2) return 1.0;
        return std::abs(c - 60) <= 2 && std::abs(r - 40) <= 2 ? 255.0 : 128.0;
    });
    // Input mean <= 100: no dark table, the bright spot is found; >= 200: no
    // bright table, the dark spot; in between with nothing standing out: (0, 0).
    for (const auto& [level, spotted, x, y] :
         {std::array{100, 1, 120, 80}, {200, 1, 40, 40}, {150, 0, 0, 0}}) {
        Image half = spotted ? spots : filled(100, 70, 128.0);
        const Point p = half.Dexla(
            std::vector<unsigned char>(200 * 140, static_cast<unsigned char>(level)), 0);
        EXPECT_EQ((std::array{p.x, p.y}), (std::array{x, y})) << level;
    }
}

TEST(VirpaDetector, FindsATexturedBlobAndNothingInAFlatImage) {
    // Tolerances: VIRPA a quarter, DEXLA half of the blob radius.
    for (const auto& k : testing::kBlobCases) {
        SCOPED_TRACE(k.w * 1000 + k.cx);
        const testing::GreyImage scene = testing::blob_scene(k.w, k.h, k.cx, k.cy, k.r);
        std::vector<double> vx(3, -5), vy(3, -5), dx(3, -5), dy(3, -5);
        ASSERT_EQ(virpa_dexla(scene.pix, k.w, k.h, 0, 1, vx, vy, dx, dy, 0, 0), 0);
        EXPECT_NEAR(vx[1], k.cx, k.r / 4.0);
        EXPECT_NEAR(vy[1], k.cy, k.r / 4.0);
        EXPECT_NEAR(dx[1], k.cx, k.r / 2.0);
        EXPECT_NEAR(dy[1], k.cy, k.r / 2.0);
        EXPECT_EQ(vx[0] + dy[2], -10);  // other slots untouched
    }
    // A flat image has no texture: VIRPA finds nothing.
    std::vector<double> vx(1, -5), vy(1, -5), dx(1, -5), dy(1, -5);
    const std::vector<unsigned char> flat(50 * 40, 128);
    ASSERT_EQ(virpa_dexla(flat, 50, 40, 0, 0, vx, vy, dx, dy, 0, 0), 0);
    EXPECT_EQ((std::array{vx[0], vy[0]}), (std::array{0.0, 0.0}));
}

}  // namespace
}  // namespace orva
