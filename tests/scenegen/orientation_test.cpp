// Each loop position turns the upright view so that the pin enters from the
// named side, the program's own orientation step turns it back exactly, and the
// truth says where the crystal shows in the written images.
#include "loop/orientation.h"

#include <gtest/gtest.h>

#include <cmath>

#include "render.h"
#include "scene_support.h"
#include "truth.h"

namespace orva::scenegen {
namespace {

using testing::centroid;
using testing::make_scene;

constexpr double RAD = 3.14159265358979323846 / 180.0;

// Flat light and no noise, so that exposures can be compared byte for byte.
SceneOptions flat_options(int loop_position) {
    SceneOptions o;
    o.width = 320;
    o.height = 200;
    o.loop_position = loop_position;
    o.blur = 0.0;
    o.noise = 0.0;
    o.gradient = 0.0;
    o.vignette = 0.0;
    o.seed = 5;
    return o;
}

TEST(ScenegenOrientation, TruthLocatesTheCrystalInTheInputImage) {
    for (int pos = 0; pos < 4; ++pos) {
        SceneOptions o = flat_options(pos);
        o.crystal_size = 24.0;
        o.radius = 30.0;
        o.phase = 40.0;
        o.crystal_shape = CrystalShape::Plate;
        Scene s = make_scene(o);
        s.has_pin = s.has_loop = false;
        const Truth truth = compute_truth(s);
        ASSERT_DOUBLE_EQ(truth.target_angle, 40.0);
        ASSERT_DOUBLE_EQ(truth.radius, 30.0);
        Renderer r(s);
        Rng noise(1);
        ByteBuffer grey;
        for (double a : {0.0, 70.0, 160.0, 250.0}) {
            r.expose(r.render_transmission(a), noise, grey);
            const auto c = centroid(o.width, o.height,
                                    [&](int x, int y) { return grey[y * o.width + x] < 196; });
            ASSERT_GT(c.count, 30);
            const double along = truth.x_centre + result_motion_sign(pos) * truth.radius *
                                                      std::cos((a - truth.target_angle) * RAD);
            const double col = pos < 2 ? along : truth.y_centre;
            const double row = pos < 2 ? truth.y_centre : along;
            EXPECT_NEAR(c.x, col, 1.0) << "position " << pos << " angle " << a;
            EXPECT_NEAR(c.y, row, 1.0) << "position " << pos << " angle " << a;
        }
    }
}

TEST(ScenegenOrientation, PinEntersFromTheNamedSide) {
    for (int pos = 0; pos < 4; ++pos) {
        SceneOptions o = flat_options(pos);
        o.kind = SceneKind::Pin;
        o.loop_top = 60.0;  // the pin's end inside the view
        const Scene s = make_scene(o);
        Renderer r(s);
        Rng noise(1);
        ByteBuffer grey;
        r.expose(r.render_transmission(0.0), noise, grey);
        auto dark_on_edge = [&](int side) {
            int n = 0;
            const bool rows = side == SIDE_BOTTOM || side == SIDE_TOP;
            const int len = rows ? o.width : o.height;
            for (int i = 0; i < len; ++i) {
                const int x = rows ? i : (side == SIDE_LEFT ? 0 : o.width - 1);
                const int y = rows ? (side == SIDE_TOP ? 0 : o.height - 1) : i;
                n += grey[y * o.width + x] < 100;
            }
            return n;
        };
        // Loop positions number the sides as the border table does.
        for (int side = 0; side < 4; ++side) {
            if (side == pos)
                EXPECT_GT(dark_on_edge(side), 10) << "position " << pos << " side " << side;
            else
                EXPECT_EQ(dark_on_edge(side), 0) << "position " << pos << " side " << side;
        }
    }
}

TEST(ScenegenOrientation, ProgramOrientationRestoresTheUprightView) {
    for (int pos = 0; pos < 4; ++pos) {
        SceneOptions o = flat_options(pos);
        o.ice = 2;
        const Scene s = make_scene(o);
        Renderer r(s);
        Rng noise(1);
        ByteBuffer input;
        r.expose(r.render_transmission(33.0), noise, input);

        // The same scene written upright, at the upright size.
        SceneOptions upright = o;
        upright.loop_position = 0;
        upright.width = s.can_width;
        upright.height = s.can_height;
        const Scene su = make_scene(upright);
        Renderer ru(su);
        ByteBuffer expected;
        ru.expose(ru.render_transmission(33.0), noise, expected);

        IMAGE im;
        im.width = o.width;
        im.height = o.height;
        im.size = im.width * im.height;
        IMAGE imc;
        const int border[4] = {0, 0, 0, 0};
        ASSERT_EQ(get_new_format(im, imc, pos, border, 0), 0);
        ASSERT_EQ(static_cast<int>(imc.width), s.can_width);
        ByteBuffer cut(imc.size);
        ASSERT_EQ(cut_border(im, input, imc, cut, pos, 0, border, 0, nullptr), 0);
        EXPECT_EQ(cut, expected) << "position " << pos;
    }
}

}  // namespace
}  // namespace orva::scenegen
