// The scene generator's options for the crystal-search benchmark: needles,
// the crystal's place across and along the loop, loops bent to one side, knots
// in the fibre and dirt on the optics. Each keeps the crystal's motion exact and
// leaves every other draw of the seed alone.
#include <gtest/gtest.h>

#include <cmath>

#include "geometry.h"
#include "render.h"
#include "scene.h"

namespace orva::scenegen {
namespace {

Scene resolved(const SceneOptions& opt) {
    Scene s;
    std::string error;
    EXPECT_EQ(resolve_scene(opt, s, error), 0) << error;
    return s;
}

// Room across the loop at the crystal's row, as the generator measures it.
double room(const Scene& s) {
    return loop_half_width_at(s, s.crystal_v) - s.fibre * (1.0 + s.fibre_variation) -
           0.5 * s.crystal_size;
}

TEST(ScenegenOptions, NeedleIsLongAndThin) {
    const CrystalBody body = make_crystal_body(CrystalShape::Needle, 100.0);
    double longest = 0.0, widest = 0.0;
    for (const Vec3& v : body.vertices) {
        longest = std::max(longest, std::fabs(v.z));
        widest = std::max(widest, std::hypot(v.x, v.y));
    }
    EXPECT_NEAR(2.0 * longest, 96.0, 1e-9);
    EXPECT_GT(longest / widest, 6.0);
}

TEST(ScenegenOptions, CrystalPlaceAcrossAndAlongTheLoopKeepsItsMotion) {
    for (double across : {-1.0, 0.0, 0.8}) {
        for (bool given_radius : {false, true}) {
            SceneOptions o;
            o.seed = 31;
            o.crystal_size = 30.0;
            o.crystal_across = across;
            o.crystal_along = 0.5;
            o.loop_sweep = 40.0;
            if (given_radius) o.radius = 60.0;
            const Scene s = resolved(o);
            const double r = room(s);
            EXPECT_NEAR(std::fabs(s.crystal_u), std::fabs(across) * r, 1e-6) << across;
            // The film point under the crystal follows the stated motion.
            for (double a : {0.0, 75.0, 200.0}) {
                const Point2 film = loop_point(s, s.crystal_u, s.crystal_v, a);
                EXPECT_NEAR(film.x, crystal_centre(s, a).x, 1e-6) << across << " " << a;
            }
            if (given_radius) {
                EXPECT_DOUBLE_EQ(s.radius, 60.0);
            }
        }
    }
}

TEST(ScenegenOptions, BentLoopMovesItsTopNotItsLowestPoint) {
    SceneOptions o;
    o.seed = 12;
    o.kind = SceneKind::Loop;
    const Scene flat = resolved(o);
    o.loop_sweep = 50.0;
    const Scene bent = resolved(o);
    const auto range = loop_v_range(bent);
    EXPECT_DOUBLE_EQ(loop_sweep_at(bent, range[1]), 0.0);
    EXPECT_DOUBLE_EQ(loop_sweep_at(bent, range[0]), 50.0);
    EXPECT_DOUBLE_EQ(loop_sweep_at(flat, range[0]), 0.0);
}

TEST(ScenegenOptions, KnotsAndDirtLeaveTheSceneAloneAndDirtShowsInTheBackground) {
    SceneOptions o;
    o.seed = 44;
    o.width = 160;
    o.height = 120;
    const Scene plain = resolved(o);
    o.knots = 3;
    o.dirt = 4;
    const Scene busy = resolved(o);
    EXPECT_EQ(busy.knots.size(), 3u);
    EXPECT_GE(busy.dirt.size(), 4u);
    EXPECT_DOUBLE_EQ(busy.radius, plain.radius);
    EXPECT_DOUBLE_EQ(busy.phase, plain.phase);
    EXPECT_DOUBLE_EQ(busy.loop_offset, plain.loop_offset);
    // A knot thickens the fibre where it sits.
    const FibreKnot& k = busy.knots[0];
    EXPECT_GT(fibre_thickness(busy, k.t), fibre_thickness(plain, k.t) * (1.0 + 0.5 * k.gain));

    Rng noise_a(1), noise_b(1);
    ByteBuffer clean, dirty;
    Renderer(plain).expose_background(noise_a, clean);
    Renderer(busy).expose_background(noise_b, dirty);
    long darker = 0;
    for (std::size_t i = 0; i < clean.size(); ++i)
        if (dirty[i] + 10 < clean[i]) ++darker;
    EXPECT_GT(darker, 10);
}

}  // namespace
}  // namespace orva::scenegen
