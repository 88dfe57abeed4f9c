// The scene generator's truth agrees with what it draws, every loop position
// turns the upright view the way the program turns it back, and its job files
// mean to the program's reader what the options asked for. (Its files
// themselves are fixed byte for byte by the golden-output check.)
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>

#include "geometry.h"
#include "job_file_writer.h"
#include "loop/orientation.h"
#include "render.h"
#include "run/job_file.h"
#include "run/scratch_dir.h"
#include "series.h"
#include "truth.h"

namespace orva::scenegen {
namespace {

constexpr double RAD = 3.14159265358979323846 / 180.0;

Scene make_scene(const SceneOptions& opt) {
    Scene scene;
    std::string error;
    EXPECT_EQ(resolve_scene(opt, scene, error), 0) << error;
    return scene;
}

// Flat light and no noise, so that exposures can be compared byte for byte.
SceneOptions flat_options(int loop_position) {
    SceneOptions o;
    o.width = 320;
    o.height = 200;
    o.loop_position = loop_position;
    o.blur = o.noise = o.gradient = o.vignette = 0.0;
    o.seed = 5;
    return o;
}

struct Centroid {
    double x = 0.0, y = 0.0;
    long count = 0;
};
Centroid centroid(int width, int height, const std::function<bool(int, int)>& inside) {
    Centroid c;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (inside(x, y)) c.x += x, c.y += y, ++c.count;
    if (c.count > 0) c.x /= c.count, c.y /= c.count;
    return c;
}

ByteBuffer expose(const Scene& s, double angle) {
    Renderer r(s);
    Rng noise(1);
    ByteBuffer grey;
    r.expose(r.render_transmission(angle), noise, grey);
    return grey;
}

TEST(ScenegenTruth, CrystalShowsWhereTheTruthSaysForEveryLoopPosition) {
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
        for (double a : {0.0, 70.0, 160.0, 250.0}) {
            const ByteBuffer grey = expose(s, a);
            const Centroid c = centroid(o.width, o.height,
                                        [&](int x, int y) { return grey[y * o.width + x] < 196; });
            ASSERT_GT(c.count, 30);
            const double along = truth.x_centre + result_motion_sign(pos) * truth.radius *
                                                      std::cos((a - truth.target_angle) * RAD);
            EXPECT_NEAR(c.x, pos < 2 ? along : truth.y_centre, 1.0) << pos << " angle " << a;
            EXPECT_NEAR(c.y, pos < 2 ? truth.y_centre : along, 1.0) << pos << " angle " << a;
        }
    }
}

// The crystal's own pixels, with an off-axis, leaning and sagging loop drawn
// around it, follow the truth's sinusoid.
TEST(ScenegenTruth, CrystalInsideAnOffAxisLeaningLoopFollowsTheTruth) {
    SceneOptions o;
    o.seed = 8;
    o.width = 400;
    o.height = 300;
    o.blur = 0.0;
    o.loop_tilt = 18.0;
    o.loop_bend = 12.0;
    const Scene full = make_scene(o);
    Scene without = full;
    without.has_crystal = false;
    const Truth truth = compute_truth(full);
    ASSERT_GT(truth.radius, 5.0);
    ASSERT_GT(std::fabs(full.loop_offset), 10.0);
    Renderer rf(full), rw(without);
    for (double a = 0.0; a < 360.0; a += 40.0) {
        const std::vector<float> t_full = rf.render_transmission(a);
        const std::vector<float>& t_rest = rw.render_transmission(a);
        // Elements multiply, so the ratio is the crystal's own transmission.
        const Centroid c = centroid(full.can_width, full.can_height, [&](int x, int y) {
            const size_t i = static_cast<size_t>(y) * full.can_width + x;
            return t_full[i] < 0.98f * t_rest[i];
        });
        ASSERT_GT(c.count, 30) << "angle " << a;
        EXPECT_NEAR(c.x, truth.x_centre + truth.radius * std::cos((a - truth.target_angle) * RAD),
                    1.0)
            << "angle " << a;
        EXPECT_NEAR(c.y, truth.y_centre, 1.0) << "angle " << a;
    }
}

// The middle of the ring's rows moves on the circle the truth gives to a loop
// or pre-alignment run (away from edge-on views, where a sagging film folds).
TEST(ScenegenTruth, LoopCentreMovesAsTheTruthSays) {
    for (int pos : {0, 3}) {
        SceneOptions o = flat_options(pos);
        o.seed = 12;
        o.width = 360;
        o.height = 300;
        o.kind = SceneKind::Loop;
        o.fibre_variation = 0.0;
        Scene s = make_scene(o);
        s.has_pin = false;
        const Truth truth = compute_truth(s);
        EXPECT_GT(truth.radius, 10.0);
        EXPECT_DOUBLE_EQ(truth.radius, truth.loop_radius);
        Renderer r(s);
        for (double a = 0.0; a < 360.0; a += 20.0) {
            if (std::fabs(loop_scale(s, a)) < 0.5) continue;
            const std::vector<float>& t = r.render_transmission(a);
            double sum = 0.0;
            int rows = 0;
            for (int y = 0; y < s.can_height; ++y) {
                int first = -1, last = -1;
                for (int x = 0; x < s.can_width; ++x)
                    if (t[static_cast<size_t>(y) * s.can_width + x] < 0.7f) {
                        if (first < 0) first = x;
                        last = x;
                    }
                if (first >= 0) sum += 0.5 * (first + last), ++rows;
            }
            ASSERT_GT(rows, 20);
            // Upright columns; for position 3 the result frame runs the other way.
            const double axis = pos == 3 ? o.height - 1.0 - truth.x_centre : truth.x_centre;
            EXPECT_NEAR(sum / rows,
                        axis + truth.loop_radius * std::cos((a - truth.loop_phase) * RAD), 1.0)
                << "position " << pos << " angle " << a;
        }
    }
}

TEST(ScenegenTruth, SpecialScenesAndHalfResolution) {
    SceneOptions o = flat_options(0);
    o.kind = SceneKind::Empty;
    Truth t = compute_truth(make_scene(o));
    EXPECT_EQ(t.x_centre, -1.0);
    EXPECT_EQ(t.y_centre, -1.0);
    EXPECT_EQ(t.precentring, 1);

    // Pre-alignment reports the off-axis loop centre's motion.
    o.kind = SceneKind::Crystal;
    o.prealign = true;
    o.loop_position = 1;
    t = compute_truth(make_scene(o));
    EXPECT_EQ(t.precentring, 1);
    EXPECT_DOUBLE_EQ(t.y_centre, t.loop_y);
    EXPECT_GT(t.radius, 5.0);
    EXPECT_DOUBLE_EQ(t.radius, t.loop_radius);
    EXPECT_DOUBLE_EQ(t.target_angle, t.loop_phase);

    // The program halves images whose width plus height exceed 1800.
    SceneOptions big = flat_options(0);
    big.width = 1024;
    big.height = 776;
    t = compute_truth(make_scene(big));
    EXPECT_FALSE(t.half_resolution);
    EXPECT_DOUBLE_EQ(t.loop_width, t.loop_width_px);
    big.height = 777;
    t = compute_truth(make_scene(big));
    EXPECT_TRUE(t.half_resolution);
    EXPECT_DOUBLE_EQ(t.loop_width, 0.5 * t.loop_width_px);
}

// The pin enters from the named side, its end where the truth puts it, and the
// program's own orientation step turns every input image back into the
// upright view exactly.
TEST(ScenegenLoopPositions, PinSideAndTheProgramsOrientation) {
    for (int pos = 0; pos < 4; ++pos) {
        SceneOptions o = flat_options(pos);
        o.kind = SceneKind::Pin;
        o.loop_top = 60.0;  // the pin's end inside the view
        o.pin_offset = 0.0;
        const Scene pin = make_scene(o);
        const Truth truth = compute_truth(pin);
        const ByteBuffer grey = expose(pin, 0.0);
        for (int side = 0; side < 4; ++side) {
            const bool rows = side == SIDE_BOTTOM || side == SIDE_TOP;
            int dark = 0;
            for (int i = 0; i < (rows ? o.width : o.height); ++i) {
                const int x = rows ? i : (side == SIDE_LEFT ? 0 : o.width - 1);
                const int y = rows ? (side == SIDE_TOP ? 0 : o.height - 1) : i;
                dark += grey[y * o.width + x] < 100;
            }
            EXPECT_EQ(dark > 10, side == pos) << "position " << pos << " side " << side;
        }
        // The pin's end along the axis: the last dark pixel from its side.
        int end = pos == 0 || pos == 3 ? 1 << 20 : -1;
        for (int y = 0; y < o.height; ++y)
            for (int x = 0; x < o.width; ++x)
                if (grey[y * o.width + x] < 150) {
                    const int along = pos < 2 ? y : x;
                    end = pos == 0 || pos == 3 ? std::min(end, along) : std::max(end, along);
                }
        EXPECT_NEAR(end, truth.pin_tip_y, 1.5) << "position " << pos;

        o = flat_options(pos);
        o.ice = 2;
        const Scene s = make_scene(o);
        const ByteBuffer input = expose(s, 33.0);
        SceneOptions upright = o;
        upright.loop_position = 0;
        upright.width = s.can_width;
        upright.height = s.can_height;
        const ByteBuffer expected = expose(make_scene(upright), 33.0);
        IMAGE im;
        im.width = o.width;
        im.height = o.height;
        im.size = im.width * im.height;
        IMAGE imc;
        const int border[4] = {0, 0, 0, 0};
        ASSERT_EQ(get_new_format(im, imc, pos, border, 0), 0);
        ByteBuffer cut(imc.size);
        ASSERT_EQ(cut_border(im, input, imc, cut, pos, 0, border, 0, nullptr), 0);
        EXPECT_EQ(cut, expected) << "position " << pos;
    }
}

JobSettings read_back(const Scene& s, const std::string& path, int centre) {
    JobImages images;
    for (size_t i = 0; i < s.angles.size(); ++i)
        images.names.push_back(image_name(s.opt, static_cast<int>(i)));
    if (s.opt.background) images.background = "back.png";
    std::ofstream(path, std::ios::binary) << job_file_text(s, images, centre);
    JobSettings job;
    EXPECT_EQ(read_job_file(path.c_str(), job), 0);
    return job;
}

TEST(ScenegenJobFile, EveryKeywordAndDataLinesRoundTrip) {
    testing::ScratchDir dir;
    SceneOptions o;
    o.angles = {90.0, 0.0, -90.0, 180.5};
    o.loop_position = 3;
    o.border = 6;
    o.border_side[SIDE_LEFT] = 2;
    o.background = o.centre_coord = o.prealign = o.vers23 = o.set_cross = o.logoutx = true;
    o.crlf = true;
    o.extra_lines = {"IMAGE_SPECIAL 5"};
    JobSettings job = read_back(make_scene(o), dir.file("job.txt"), 287);
    ASSERT_EQ(job.images.size(), 4u);
    // Sorted by angle, -90 read as 270, names staying with their angles.
    const float angles[4] = {0.0f, 90.0f, 180.5f, 270.0f};
    const int file_index[4] = {1, 0, 3, 2};
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(job.images[i].angle, angles[i]);
        EXPECT_EQ(job.images[i].name, image_name(o, file_index[i]));
    }
    EXPECT_EQ(std::vector<int>(job.border, job.border + 4), (std::vector<int>{6, 6, 2, 6}));
    EXPECT_EQ((std::vector<int>{job.numimg, job.loop_pos, job.background_flag, job.centre_coord,
                                job.prealignment_flag, job.vers23_flag, job.set_cross_flag,
                                job.logout_flag, job.image_special}),
              (std::vector<int>{4, 3, 1, 287, 1, 1, 1, 1, 5}));
    EXPECT_EQ(job.back_name, "back.png");

    SceneOptions d;
    d.num_images = 38;  // more than a NUMBER_OF_IMAGES list may announce
    d.start_angle = 5.0;
    d.data_lines = true;
    d.stripes = {0, 0, 5, 0};
    d.centre_coord_value = 123;
    d.centre_coord = true;  // the explicit value wins
    const Scene s = make_scene(d);
    job = read_back(s, dir.file("data.txt"), 999);
    ASSERT_EQ(job.images.size(), 38u);
    // Angles are kept to a hundredth of a degree, in the images and the job alike.
    EXPECT_FLOAT_EQ(job.images[37].angle, 355.53f);
    EXPECT_DOUBLE_EQ(s.angles[37], 355.53);
    // The stripe plus a margin on the left only.
    EXPECT_EQ(std::vector<int>(job.border, job.border + 4), (std::vector<int>{4, 4, 9, 4}));
    EXPECT_EQ(job.centre_coord, 123);
    EXPECT_EQ(job.prealignment_flag + job.vers23_flag + job.set_cross_flag + job.logout_flag, 0);
}

}  // namespace
}  // namespace orva::scenegen
