// The ground truth agrees with what is drawn: pin tip, mean loop width and
// crystal diameter measured in rendered views; the special scenes give what the
// program reports for them; the file holds only defined keys.
#include "truth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "render.h"
#include "scene_support.h"

namespace orva::scenegen {
namespace {

using testing::make_scene;

SceneOptions quiet_options() {
    SceneOptions o;
    o.width = 360;
    o.height = 240;
    o.blur = 0.0;
    o.noise = 0.0;
    o.gradient = 0.0;
    o.vignette = 0.0;
    o.seed = 21;
    return o;
}

TEST(ScenegenTruth, PinTipIsWhereThePinEndsInTheInputImage) {
    SceneOptions o = quiet_options();
    o.kind = SceneKind::Pin;
    o.loop_position = 2;  // the pin comes in from the left: its tip is a column
    o.loop_top = 100.0;
    o.pin_offset = 0.0;
    const Scene s = make_scene(o);
    const Truth t = compute_truth(s);
    EXPECT_EQ(t.precentring, 1);
    EXPECT_DOUBLE_EQ(t.y_centre, t.pin_tip_y);
    Renderer r(s);
    Rng noise(1);
    ByteBuffer grey;
    r.expose(r.render_transmission(0.0), noise, grey);
    int tip = -1;
    long row_sum = 0, dark = 0;
    for (int y = 0; y < o.height; ++y)
        for (int x = 0; x < o.width; ++x)
            if (grey[y * o.width + x] < 150) {
                tip = std::max(tip, x);
                row_sum += y;
                ++dark;
            }
    EXPECT_NEAR(tip, t.pin_tip_y, 1.5);
    EXPECT_NEAR(static_cast<double>(row_sum) / dark, t.x_centre, 1.0);
}

TEST(ScenegenTruth, MeanLoopWidthAndCrystalDiameterMatchTheDrawing) {
    SceneOptions o = quiet_options();
    o.loop_shape = LoopShape::Teardrop;
    o.loop_size = 110.0;
    o.fibre = 3.0;
    o.crystal_size = 40.0;
    o.crystal_shape = CrystalShape::Rhomb;
    o.angles = {20.0, 75.0, 140.0};
    Scene s = make_scene(o);
    const Truth t = compute_truth(s);

    // Loop alone: mean width of the rows the ring spans, averaged over the angles.
    Scene loop_only = s;
    loop_only.has_pin = loop_only.has_crystal = false;
    Renderer rl(loop_only);
    double width_sum = 0.0;
    for (double a : s.angles) {
        const std::vector<float>& tr = rl.render_transmission(a);
        double rows = 0.0, sum = 0.0;
        for (int y = 0; y < s.can_height; ++y) {
            int first = -1, last = -1;
            for (int x = 0; x < s.can_width; ++x)
                if (tr[static_cast<size_t>(y) * s.can_width + x] < 0.7f) {
                    if (first < 0) first = x;
                    last = x;
                }
            if (first >= 0) {
                sum += last - first + 1;
                rows += 1.0;
            }
        }
        width_sum += sum / rows;
    }
    EXPECT_NEAR(width_sum / s.angles.size(), t.loop_width_px, 1.5);
    EXPECT_DOUBLE_EQ(t.loop_width, t.loop_width_px);  // 360 + 240: full resolution

    // Crystal alone: area-equivalent diameter of its silhouette.
    Scene crystal_only = s;
    crystal_only.has_pin = crystal_only.has_loop = false;
    Renderer rc(crystal_only);
    double diameter_sum = 0.0;
    for (double a : s.angles) {
        const std::vector<float>& tr = rc.render_transmission(a);
        double area = 0.0;
        for (float v : tr) area += v < 0.999f ? 1.0 : 0.0;
        diameter_sum += 2.0 * std::sqrt(area / 3.141592653589793);
    }
    EXPECT_NEAR(diameter_sum / s.angles.size(), t.crystal_diameter, 1.5);
}

TEST(ScenegenTruth, SpecialScenesAndHalfResolution) {
    SceneOptions o = quiet_options();
    o.kind = SceneKind::Empty;
    Truth t = compute_truth(make_scene(o));
    EXPECT_EQ(t.x_centre, -1.0);
    EXPECT_EQ(t.y_centre, -1.0);
    EXPECT_EQ(t.precentring, 1);
    EXPECT_FALSE(t.has_motion);

    o.kind = SceneKind::Crystal;
    o.prealign = true;
    o.loop_position = 1;
    t = compute_truth(make_scene(o));
    EXPECT_EQ(t.precentring, 1);
    EXPECT_DOUBLE_EQ(t.y_centre, t.loop_y);
    EXPECT_DOUBLE_EQ(t.x_centre, t.axis);
    // The off-axis loop centre turns with the sample: that is the motion reported.
    EXPECT_GT(t.radius, 5.0);
    EXPECT_DOUBLE_EQ(t.radius, t.loop_radius);
    EXPECT_DOUBLE_EQ(t.target_angle, t.loop_phase);

    // The program halves images whose width plus height exceed 1800.
    SceneOptions big = quiet_options();
    big.width = 1024;
    big.height = 768;
    t = compute_truth(make_scene(big));
    EXPECT_FALSE(t.half_resolution);
    EXPECT_DOUBLE_EQ(t.loop_width, t.loop_width_px);
    big.width = 1033;
    t = compute_truth(make_scene(big));
    EXPECT_TRUE(t.half_resolution);
    EXPECT_DOUBLE_EQ(t.loop_width, 0.5 * t.loop_width_px);
}

TEST(ScenegenTruth, FileHoldsOnlyDefinedKeys) {
    testing::ScratchDir dir;
    ASSERT_TRUE(dir.ok());
    auto keys_of = [&](const SceneOptions& o) {
        const Scene s = make_scene(o);
        std::string error;
        EXPECT_EQ(write_truth(dir.file("truth.txt"), s, compute_truth(s), error), 0) << error;
        std::map<std::string, std::string> kv;
        std::ifstream in(dir.file("truth.txt"));
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream f(line);
            std::string k, v;
            f >> k >> v;
            kv[k] = v;
        }
        return kv;
    };
    SceneOptions o = quiet_options();
    o.phase = 200.0;  // read back in (-180, 180]
    o.radius = 12.0;
    o.loop_position = 3;
    auto kv = keys_of(o);
    EXPECT_EQ(kv["TARGET_ANGLE"], "-160.00");
    EXPECT_EQ(kv["RADIUS"], "12.00");
    EXPECT_EQ(kv["MOTION_SIGN"], "-1");
    EXPECT_EQ(kv["PRECENTRING"], "0");
    EXPECT_TRUE(kv.count("CRYSTAL_DIAMETER") && kv.count("LOOP_WIDTH") && kv.count("PIN_TIP_Y"));
    EXPECT_TRUE(kv.count("LOOP_RADIUS") && kv.count("LOOP_PHASE"));
    const std::string shape = kv["CRYSTAL_SHAPE"];
    EXPECT_TRUE(shape == "plate" || shape == "prism" || shape == "rhomb") << shape;

    o.kind = SceneKind::Empty;
    kv = keys_of(o);
    EXPECT_EQ(kv.count("TARGET_ANGLE") + kv.count("RADIUS") + kv.count("LOOP_WIDTH") +
                  kv.count("CRYSTAL_SHAPE") + kv.count("LOOP_RADIUS"),
              0u);
    EXPECT_EQ(kv["X_CENTRE"], "-1.00");
    EXPECT_EQ(kv["PRECENTRING"], "1");
}

}  // namespace
}  // namespace orva::scenegen
