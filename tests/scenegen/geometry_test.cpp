// The rendered sample moves as the scene says: the crystal's centroid follows
// axis + radius * cos(angle - phase) at a fixed row, and the loop's projected
// width follows |cos(angle - loop_plane)|.
#include "geometry.h"

#include <gtest/gtest.h>

#include <cmath>

#include "render.h"
#include "scene_support.h"

namespace orva::scenegen {
namespace {

using testing::centroid;
using testing::make_scene;

constexpr double RAD = 3.14159265358979323846 / 180.0;

SceneOptions sharp_options() {
    SceneOptions o;
    o.width = 400;
    o.height = 300;
    o.blur = 0.0;
    o.seed = 11;
    return o;
}

TEST(ScenegenGeometry, CrystalCentroidFollowsSinusoidForEveryShape) {
    for (CrystalShape shape : {CrystalShape::Plate, CrystalShape::Prism, CrystalShape::Rhomb}) {
        for (double phase : {60.0, -135.0}) {
            SceneOptions o = sharp_options();
            o.crystal_shape = shape;
            o.crystal_size = 40.0;
            o.radius = 50.0;
            o.phase = phase;
            o.axis = 190.0;
            Scene s = make_scene(o);
            s.has_pin = s.has_loop = false;  // the crystal alone
            Renderer r(s);
            for (double a = -20.0; a < 360.0; a += 25.0) {
                const std::vector<float>& t = r.render_transmission(a);
                const auto c = centroid(s.can_width, s.can_height, [&](int x, int y) {
                    return t[static_cast<size_t>(y) * s.can_width + x] < 0.98f;
                });
                ASSERT_GT(c.count, 50) << "angle " << a;
                EXPECT_NEAR(c.x, 190.0 + 50.0 * std::cos((a - phase) * RAD), 1.0)
                    << "shape " << static_cast<int>(shape) << " phase " << phase << " angle " << a;
                EXPECT_NEAR(c.y, s.crystal_row, 1.0) << "angle " << a;
            }
        }
    }
}

// At the ring's widest row the film spans the in-plane width scaled by
// |cos(a - loop_plane)|; its middle sits at the projected ring centre, which is
// the axis for a flat centred ring and moves on a circle for an off-axis, leaning one.
TEST(ScenegenGeometry, LoopWidthFollowsAbsoluteCosineOfLoopPlane) {
    for (double offset : {0.0, 25.0}) {
        SceneOptions o = sharp_options();
        o.kind = SceneKind::Loop;
        o.loop_shape = LoopShape::Round;
        o.loop_size = 120.0;
        o.fibre = 3.0;
        o.fibre_variation = 0.0;
        o.loop_plane = 30.0;
        o.loop_offset = offset;
        o.loop_tilt = offset > 0.0 ? 15.0 : 0.0;
        o.loop_bend = 0.0;
        Scene s = make_scene(o);
        s.has_pin = false;
        Renderer r(s);
        const int row = static_cast<int>(std::lround(s.loop_origin));  // the ring's widest row
        // Out-of-plane displacement of that row: the lift plus the lean from the neck.
        const double lift = s.loop_lift + std::tan(o.loop_tilt.value() * RAD) *
                                              (row - s.loop_origin - s.loop_half_width);
        for (double a = 0.0; a <= 360.0; a += 15.0) {
            const std::vector<float>& t = r.render_transmission(a);
            int first = -1, last = -1;
            for (int x = 0; x < s.can_width; ++x)
                if (t[static_cast<size_t>(row) * s.can_width + x] < 0.7f) {
                    if (first < 0) first = x;
                    last = x;
                }
            ASSERT_GE(first, 0) << "angle " << a;
            // Ring centre line 117 wide in its plane, plus one fibre thickness.
            const double expected = 117.0 * std::fabs(std::cos((a - 30.0) * RAD)) + 3.0;
            EXPECT_NEAR(last - first + 1, expected, 1.5) << "offset " << offset << " angle " << a;
            const double middle =
                s.axis + offset * std::cos((a - 30.0) * RAD) + lift * std::sin((a - 30.0) * RAD);
            EXPECT_NEAR(0.5 * (first + last), middle, 1.0) << "offset " << offset << " angle " << a;
        }
    }
}

TEST(ScenegenGeometry, TeardropAndOvalSpanTheirStatedRows) {
    for (LoopShape shape : {LoopShape::Oval, LoopShape::Teardrop}) {
        SceneOptions o = sharp_options();
        o.kind = SceneKind::Loop;
        o.loop_shape = shape;
        o.loop_size = 80.0;
        o.fibre = 2.0;
        o.loop_top = 40.0;
        o.loop_plane = 0.0;
        Scene s = make_scene(o);
        s.has_pin = false;
        Renderer r(s);
        const std::vector<float>& t = r.render_transmission(0.0);
        int top = -1, bottom = -1;
        for (int y = 0; y < s.can_height; ++y)
            for (int x = 0; x < s.can_width; ++x)
                if (t[static_cast<size_t>(y) * s.can_width + x] < 0.7f) {
                    if (top < 0) top = y;
                    bottom = y;
                }
        // Both are taller than wide: 1.3 (oval) and 1.25 (teardrop) times the width.
        const double height = shape == LoopShape::Oval ? 1.3 * 78.0 + 2.0 : 1.25 * 78.0 + 2.0;
        EXPECT_NEAR(top, 40.0, 1.0);
        EXPECT_NEAR(bottom - top + 1, height, 2.0);
    }
}

TEST(ScenegenGeometry, SampleOutsideTheViewLeavesItClear) {
    SceneOptions o = sharp_options();
    o.blur = 2.0;
    o.axis = -300.0;  // the whole sample lies left of the view
    o.ice = 3;
    const Scene s = make_scene(o);
    Renderer r(s);
    for (double a : {0.0, 90.0, 180.0}) {
        const std::vector<float>& t = r.render_transmission(a);
        ASSERT_EQ(t.size(), static_cast<size_t>(s.can_width) * s.can_height);
        for (float v : t) ASSERT_EQ(v, 1.0f) << "angle " << a;
    }
}

}  // namespace
}  // namespace orva::scenegen
