// Candidates of drawn images: a crystal touching the inside of the loop's rim is
// found, at its centre and among the best ranked, while the static pin is not
// taken for it; its dark edge and its outline are seen at the image's resolution; an image
// without a loop has none, and a series needs three images with a loop before a
// trajectory is looked for.
#include "track/candidates.h"

#include <gtest/gtest.h>

#include <cmath>

#include "track/track_method.h"

namespace orva {
namespace {

constexpr int W = 240, H = 240;
constexpr double RING_X = 120.0, RING_Y = 100.0, RING_R = 70.0;

IMAGE geometry() {
    IMAGE imc;
    imc.width = W;
    imc.height = H;
    imc.size = static_cast<unsigned long>(W) * H;
    return imc;
}

// A loop ring with a pin below it and a dark crystal of diameter 20 touching
// the ring from inside at `at_angle` (degrees round the ring); an edged crystal
// is darker at its edge than in its middle, as a crystal's outline is.
// With a knot, the fibre is thicker (a dark disc of radius 5) 100 degrees
// further round; with a dark corner, something dark and still (a shadow, the
// mount) fills the lower right corner of the search box.
ByteBuffer draw(double at_angle, bool edged = false, bool knot = false, bool dark_corner = false) {
    ByteBuffer image(static_cast<std::size_t>(W) * H, 200);
    const double cx = RING_X + 55.0 * std::cos(at_angle * 0.0174532924);
    const double cy = RING_Y + 55.0 * std::sin(at_angle * 0.0174532924);
    const double kx = RING_X + RING_R * std::cos((at_angle + 100.0) * 0.0174532924);
    const double ky = RING_Y + RING_R * std::sin((at_angle + 100.0) * 0.0174532924);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            unsigned char& p = image[static_cast<std::size_t>(y) * W + x];
            const double ring = std::fabs(std::hypot(x - RING_X, y - RING_Y) - RING_R);
            if (ring < 2.0) p = 90;
            if (y > 185 && std::fabs(x - RING_X) < 25) p = 30;  // the pin
            const double r = std::hypot(x - cx, y - cy);
            if (r < 10.0) p = edged && r < 7.0 ? 110 : edged ? 40 : 70;
            if (knot && std::hypot(x - kx, y - ky) < 5.0) p = 70;
            if (dark_corner && x > 185 && y > 195) p = 20;
        }
    return image;
}

SHAPE_PARAMS outline() {
    SHAPE_PARAMS s;
    s.type = P100;
    for (int y = 28; y < H - 2; ++y) {
        const double dy = y - RING_Y;
        const double half =
            std::fabs(dy) < RING_R + 2 ? std::sqrt((RING_R + 2) * (RING_R + 2) - dy * dy) : 0.0;
        const double w = y > 185 ? 25.0 : half;
        if (w <= 0.0) continue;
        s.y_coord_left.push_back(y);
        s.y_coord_right.push_back(y);
        s.x_coord_left.push_back(static_cast<unsigned>(RING_X - w));
        s.x_coord_right.push_back(static_cast<unsigned>(RING_X + w));
    }
    s.num_coord_left = s.num_coord_right = static_cast<unsigned>(s.y_coord_left.size());
    for (unsigned x = s.x_coord_left[0]; x <= s.x_coord_right[0]; ++x) {  // the top
        s.x_coord_top.push_back(x);
        s.y_coord_top.push_back(s.y_coord_left[0]);
    }
    s.num_coord_top = static_cast<unsigned>(s.x_coord_top.size());
    s.width = 140;
    s.box_t = 28;
    s.box_b = 172;
    s.box_l = 48;
    s.box_r = 192;
    return s;
}

TEST(Candidates, CrystalOnTheRimIsFoundAtItsCentre) {
    const double angles[4] = {-30.0, 40.0, 150.0, 220.0};
    std::vector<ByteBuffer> images;
    for (double a : angles) images.push_back(draw(a));
    const std::vector<SHAPE_PARAMS> shapes(4, outline());
    const CandidateContext ctx = candidate_context(geometry(), images, shapes, false);
    CandidateWork work;
    for (int q = 0; q < 4; ++q) {
        const std::vector<Candidate> found =
            collect_candidates(ctx, images[q], shapes[q], DefaultPosition{}, work);
        ASSERT_FALSE(found.empty());
        const double cx = RING_X + 55.0 * std::cos(angles[q] * 0.0174532924);
        const double cy = RING_Y + 55.0 * std::sin(angles[q] * 0.0174532924);
        int rank = -1;
        for (const Candidate& c : found)
            if (std::hypot(c.x - cx, c.y - cy) < 3.0) {
                rank = c.rank;
                break;
            }
        EXPECT_GE(rank, 0) << q;
        EXPECT_LT(rank, 3) << q;
        EXPECT_GT(found[rank < 0 ? 0 : rank].motion, 0.8) << q;
        for (std::size_t k = 1; k < found.size(); ++k)
            EXPECT_GE(found[k - 1].weight, found[k].weight);
    }
}

// The found disc of the first of three views.
Candidate first_disc(bool edged, bool dark_corner) {
    const double angles[3] = {-30.0, 90.0, 200.0};
    std::vector<ByteBuffer> images;
    for (double a : angles) images.push_back(draw(a, edged, false, dark_corner));
    const std::vector<SHAPE_PARAMS> shapes(3, outline());
    const CandidateContext ctx = candidate_context(geometry(), images, shapes, false);
    CandidateWork work;
    const double cx = RING_X + 55.0 * std::cos(angles[0] * 0.0174532924);
    const double cy = RING_Y + 55.0 * std::sin(angles[0] * 0.0174532924);
    for (const Candidate& c : collect_candidates(ctx, images[0], shapes[0], DefaultPosition{}, work))
        if (std::hypot(c.x - cx, c.y - cy) < 3.0) return c;
    ADD_FAILURE() << "no disc found, edged " << edged << ", dark corner " << dark_corner;
    return Candidate{};
}

TEST(Candidates, DarkEdgeIsSeenSharpAndAnEvenDiscHasNone) {
    for (const bool edged : {false, true}) {
        const Candidate disc = first_disc(edged, false);
        if (edged)
            EXPECT_GT(disc.sharp_edge, 1.5);
        else
            EXPECT_NEAR(disc.sharp_edge, 1.0, 0.1);
        // Either way the outline is the whole disc of radius 10, round.
        EXPECT_NEAR(disc.area, 314.0, 30.0) << edged;
        EXPECT_LT(disc.outline_elongation, 1.1) << edged;
        // These measures compare with the background, wherever the box has
        // something dark and still.
        const Candidate beside_dark = first_disc(edged, true);
        EXPECT_NEAR(beside_dark.sharp_edge, disc.sharp_edge, 0.01) << edged;
        EXPECT_NEAR(beside_dark.area, disc.area, 1.0) << edged;
        EXPECT_NEAR(beside_dark.outline_elongation, disc.outline_elongation, 0.01) << edged;
    }
}

// Once the outline is measured, an oval one raises a candidate above a round one
// of the same first weight, the more so for the smallest objects, and the
// first weight still orders candidates of one outline.
TEST(Candidates, AnOvalOutlineWeighsMoreMostOfAllWhenSmall) {
    const auto weight = [](double first, double size, double elongation) {
        Candidate c;
        c.weight = first;
        c.size = size;
        c.outline_elongation = elongation;
        return outline_weight(c);
    };
    for (const double size : {9.0, 36.0}) {
        EXPECT_GT(weight(0.3, size, 1.4), weight(0.3, size, 1.0)) << size;
        EXPECT_GT(weight(0.5, size, 1.2), weight(0.3, size, 1.2)) << size;
    }
    EXPECT_GT(weight(0.3, 9.0, 1.4) - weight(0.3, 9.0, 1.0),
              weight(0.3, 36.0, 1.4) - weight(0.3, 36.0, 1.0));
}

// A knot moves with the loop and is as compact as a crystal, but it lies on the
// outline in every view; the crystal inside the loop is clear of it and ranks
// above the knot.
TEST(Candidates, KnotInTheFibreLiesOnTheOutline) {
    const double angles[4] = {-30.0, 40.0, 150.0, 220.0};
    std::vector<ByteBuffer> images;
    for (double a : angles) images.push_back(draw(a, true, true));
    const std::vector<SHAPE_PARAMS> shapes(4, outline());
    const CandidateContext ctx = candidate_context(geometry(), images, shapes, false);
    CandidateWork work;
    for (int q = 0; q < 4; ++q) {
        const double a = angles[q] * 0.0174532924, k = (angles[q] + 100.0) * 0.0174532924;
        const Candidate* crystal = nullptr;
        const Candidate* knot = nullptr;
        const std::vector<Candidate> found =
            collect_candidates(ctx, images[q], shapes[q], DefaultPosition{}, work);
        for (const Candidate& c : found) {
            if (!crystal && std::hypot(c.x - RING_X - 55.0 * std::cos(a),
                                       c.y - RING_Y - 55.0 * std::sin(a)) < 3.0)
                crystal = &c;
            if (!knot && std::hypot(c.x - RING_X - RING_R * std::cos(k),
                                    c.y - RING_Y - RING_R * std::sin(k)) < 3.0)
                knot = &c;
        }
        ASSERT_NE(crystal, nullptr) << q;
        ASSERT_NE(knot, nullptr) << q;
        EXPECT_LT(knot->clearance, 0.35) << q;
        EXPECT_GT(crystal->clearance, 0.6) << q;
        EXPECT_LT(crystal->rank, knot->rank) << q;
    }
}

// A needle, 60 x 6 pixels, lying across the loop and moving with it, is found in
// pieces at the scales of its width; the best of them lies at its middle.
TEST(Candidates, NeedleIsFoundAtItsMiddle) {
    const double shifts[3] = {-30.0, 0.0, 25.0};
    std::vector<ByteBuffer> images;
    for (double d : shifts) {
        ByteBuffer image = draw(0.0);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const double u = (x - RING_X - d) * 0.8 + (y - RING_Y) * 0.6;  // along
                const double v = -(x - RING_X - d) * 0.6 + (y - RING_Y) * 0.8;
                if (std::fabs(u) < 30.0 && std::fabs(v) < 3.0)
                    image[static_cast<std::size_t>(y) * W + x] = 60;
            }
        images.push_back(image);
    }
    const std::vector<SHAPE_PARAMS> shapes(3, outline());
    const CandidateContext ctx = candidate_context(geometry(), images, shapes, false);
    CandidateWork work;
    for (int q = 0; q < 3; ++q) {
        const double mx = RING_X + shifts[q], my = RING_Y;
        const std::vector<Candidate> found =
            collect_candidates(ctx, images[q], shapes[q], DefaultPosition{}, work);
        const Candidate* best = nullptr;
        for (const Candidate& c : found) {
            const double u = (c.x - mx) * 0.8 + (c.y - my) * 0.6;
            const double v = -(c.x - mx) * 0.6 + (c.y - my) * 0.8;
            if (std::fabs(u) < 35.0 && std::fabs(v) < 6.0 && (!best || c.rank < best->rank))
                best = &c;
        }
        ASSERT_NE(best, nullptr) << q;
        EXPECT_LT(std::hypot(best->x - mx, best->y - my), 3.0) << q;
        EXPECT_GT(best->outline_elongation, 2.0) << q;
    }
}

TEST(Candidates, NoLoopNoCandidates) {
    const std::vector<ByteBuffer> images(3, draw(0.0));
    const std::vector<SHAPE_PARAMS> shapes(3);  // NO_OBJECT
    EXPECT_TRUE(search_box(shapes[0], geometry()).empty());
    const CandidateContext ctx = candidate_context(geometry(), images, shapes, false);
    CandidateWork work;
    EXPECT_TRUE(collect_candidates(ctx, images[0], shapes[0], DefaultPosition{}, work).empty());
}

// A run of these views; the input refers to them, so later changes to them count.
TrackInput run_of(const std::vector<ByteBuffer>& images, const std::vector<SHAPE_PARAMS>& shapes,
                  const std::vector<double>& angles) {
    TrackInput in;
    in.imc = geometry();
    in.images = &images;
    in.shapes = shapes;
    in.angles = angles;
    return in;
}

TEST(Candidates, TwoImagesWithALoopOutOfFourMakeNoTrajectory) {
    const std::vector<ByteBuffer> images(4, draw(-30.0, true));
    const std::vector<double> angles{0.0, 90.0, 180.0, 270.0};
    std::vector<SHAPE_PARAMS> shapes(4, outline());
    const TrackInput in = run_of(images, shapes, angles);
    TrackResult three;
    shapes[3] = SHAPE_PARAMS();
    ASSERT_EQ(track_crystal(in, three), 0);
    EXPECT_TRUE(three.best.found());
    TrackResult two;
    shapes[2] = SHAPE_PARAMS();
    ASSERT_EQ(track_crystal(in, two), 0);
    EXPECT_FALSE(two.best.found());
    EXPECT_FALSE(two.crystal);
    EXPECT_EQ(two.reliability, no_crystal_reliability(0.0));
    EXPECT_FALSE(two.angles_too_close);
}

TEST(Candidates, ViewsWithinAFewDegreesOrHalfATurnFixNoTrajectory) {
    EXPECT_FALSE(angles_fix_trajectory(std::vector<double>{0.0, 10.0, 180.0, 360.0, -170.0}));
    EXPECT_TRUE(angles_fix_trajectory(std::vector<double>{0.0, 180.0, 200.0}));
    const std::vector<ByteBuffer> images(4, draw(-30.0, true));
    std::vector<double> angles{5.0, 5.0, 185.0, 365.0};
    std::vector<SHAPE_PARAMS> shapes(4, outline());
    const TrackInput in = run_of(images, shapes, angles);
    TrackResult out;
    ASSERT_EQ(track_crystal(in, out), 0);
    EXPECT_TRUE(out.angles_too_close);
    EXPECT_FALSE(out.crystal);
    EXPECT_EQ(out.reliability, 0.0);
    // The series could tell, but the loop shows only in views that cannot:
    // nothing to follow, as when too few images show it.
    angles[1] = 95.0;
    shapes[1] = SHAPE_PARAMS();
    ASSERT_EQ(track_crystal(in, out), 0);
    EXPECT_FALSE(out.angles_too_close);
    EXPECT_FALSE(out.best.found());
    EXPECT_EQ(out.reliability, no_crystal_reliability(0.0));
}

}  // namespace
}  // namespace orva
