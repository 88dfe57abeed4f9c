// The joint trajectory search on candidate sets built in memory: a known
// trajectory among outliers, two crystals, series of three and four images, a
// series without any consistent object, and the decision and reliability on
// that evidence.
#include "track/trajectory_search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "track/track_decision.h"

namespace orva {
namespace {

constexpr double DEG = 0.0174532924;

Candidate at(double x, double y, double size, double weight) {
    Candidate c;
    c.x = x;
    c.y = y;
    c.size = size;
    c.weight = weight;
    c.elongation = 2.0;
    c.motion = 1.0;  // they move with the sample
    c.depth = 1.0;
    c.span = 3.0;
    return c;
}

// n images evenly spread over a turn; each holds the point of every trajectory
// (with its weight) and `outliers` random candidates.
std::vector<TrackImage> series(int n, const std::vector<std::pair<Trajectory, double>>& objects,
                               int outliers, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> x(100.0, 400.0), y(50.0, 350.0), w(0.05, 0.3);
    std::vector<TrackImage> images(n);
    for (int q = 0; q < n; ++q) {
        TrackImage& image = images[q];
        image.angle = 360.0 * q / n + 7.0;
        for (const auto& [t, weight] : objects)
            image.candidates.push_back(at(t.x_at(image.angle) + 0.4, t.y - 0.3, 20.0, weight));
        for (int k = 0; k < outliers; ++k)
            image.candidates.push_back(at(x(rng), y(rng), 15.0, w(rng)));
        for (std::size_t k = 0; k < image.candidates.size(); ++k)
            image.candidates[k].rank = static_cast<int>(k);
    }
    return images;
}

std::vector<std::vector<char>> nothing_taken(const std::vector<TrackImage>& images) {
    std::vector<std::vector<char>> taken;
    for (const TrackImage& image : images) taken.emplace_back(image.candidates.size(), 0);
    return taken;
}

Trajectory make(double x0, double radius, double phase, double y) {
    Trajectory t;
    t.x0 = x0;
    t.a = radius * std::cos(phase * DEG);
    t.b = radius * std::sin(phase * DEG);
    t.y = y;
    return t;
}

void expect_near(const Trajectory& got, const Trajectory& want, double tol) {
    EXPECT_NEAR(got.x0, want.x0, tol);
    EXPECT_NEAR(got.a, want.a, tol);
    EXPECT_NEAR(got.b, want.b, tol);
    EXPECT_NEAR(got.y, want.y, tol);
}

TEST(TrajectorySearch, FindsAKnownTrajectoryAmongOutliersFromAnAxisSomePixelsOff) {
    // Three, four and twelve images; with four or more the axis itself is refined.
    for (int n : {3, 4, 12}) {
        const Trajectory truth = make(250.0, 80.0, 35.0, 180.0);
        const auto images = series(n, {{truth, 0.6}}, 12, 11u + n);
        SearchSettings settings;
        settings.axis = n >= 4 ? 252.0 : 250.0;
        const TrajectoryFit fit = best_trajectory(images, settings, nothing_taken(images));
        ASSERT_TRUE(fit.found()) << n;
        EXPECT_EQ(static_cast<int>(fit.matches.size()), n);
        expect_near(fit.t, truth, 1.5);
        for (const Match& m : fit.matches) EXPECT_EQ(m.candidate, 0) << n;
    }
}

TEST(TrajectorySearch, KnownAxisStaysPut) {
    const Trajectory truth = make(250.0, 60.0, -120.0, 200.0);
    const auto images = series(8, {{truth, 0.6}}, 8, 5u);
    SearchSettings settings;
    settings.axis = 251.0;
    settings.axis_known = true;
    const TrajectoryFit fit = best_trajectory(images, settings, nothing_taken(images));
    ASSERT_TRUE(fit.found());
    EXPECT_DOUBLE_EQ(fit.t.x0, 251.0);
}

TEST(TrajectorySearch, TwoCrystalsTheBetterSupportedFirstEachCandidateOnce) {
    const Trajectory strong = make(250.0, 90.0, 20.0, 150.0);
    const Trajectory weak = make(250.0, 40.0, 200.0, 260.0);
    const auto images = series(8, {{strong, 0.7}, {weak, 0.4}}, 6, 3u);
    SearchSettings settings;
    settings.axis = 250.0;
    auto taken = nothing_taken(images);
    const TrajectoryFit first = best_trajectory(images, settings, taken);
    ASSERT_TRUE(first.found());
    expect_near(first.t, strong, 1.5);
    for (const Match& m : first.matches) taken[m.image][m.candidate] = 1;
    const TrajectoryFit second = best_trajectory(images, settings, taken);
    ASSERT_TRUE(second.found());
    expect_near(second.t, weak, 1.5);
    for (const Match& m : second.matches) EXPECT_FALSE(taken[m.image][m.candidate]);
}

TEST(TrajectorySearch, RandomCandidatesMakeNoCrystal) {
    const auto images = series(8, {}, 12, 9u);
    SearchSettings settings;
    settings.axis = 250.0;
    std::vector<TrajectoryFit> found;
    auto taken = nothing_taken(images);
    for (int k = 0; k < 3; ++k) {
        found.push_back(best_trajectory(images, settings, taken));
        if (!found.back().found()) break;
        for (const Match& m : found.back().matches) taken[m.image][m.candidate] = 1;
    }
    ASSERT_FALSE(found.empty());
    if (found[0].found()) {
        const Evidence e = evidence_of(images, found, 0, 8);
        EXPECT_LT(e.support, 0.75);
        EXPECT_FALSE(is_crystal(crystal_probability(e)));
    }
}

TEST(TrackDecision, StrongConsistentSupportIsACrystalAndReliable) {
    const Trajectory truth = make(250.0, 70.0, 60.0, 190.0);
    const auto images = series(16, {{truth, 0.8}}, 6, 21u);
    SearchSettings settings;
    settings.axis = 250.0;
    const std::vector<TrajectoryFit> found{
        best_trajectory(images, settings, nothing_taken(images))};
    const Evidence e = evidence_of(images, found, 0, 16);
    EXPECT_EQ(e.supporting, 16);
    const double p = crystal_probability(e);
    EXPECT_TRUE(is_crystal(p));
    EXPECT_GE(track_reliability(p), 0.3);  // a crystal answer never says less
    // The same support from a round object of one size in every view (ice, a
    // bubble) is less likely a crystal.
    Evidence ice = e;
    ice.roundness = 1.0;
    ice.size_spread = 0.0;
    Evidence turning = e;
    turning.roundness = 1.6;
    turning.size_spread = 0.3;
    EXPECT_LT(crystal_probability(ice), crystal_probability(turning));
    // An even round spot, darkest in its middle at full resolution too, is ice;
    // with darker edges it may be a small crystal.
    Evidence speck = e;
    speck.roundness = 1.1;
    speck.sharp_edge = 1.05;
    EXPECT_EQ(crystal_probability(speck), 0.0);
    speck.sharp_edge = 1.4;
    EXPECT_GT(crystal_probability(speck), 0.0);
    // An oval outline at full resolution is no speck of ice either.
    speck.sharp_edge = 1.05;
    speck.outline_elongation = 1.3;
    EXPECT_GT(crystal_probability(speck), 0.0);
    // Choosing among a run's trajectories: more support wins, and at the same
    // probability one in the loop's film beats one on its outline.
    Evidence half = e;
    half.support = 0.5;
    half.share = 0.5 * e.share;
    EXPECT_GT(choice_score(e, p), choice_score(half, p));
    Evidence on_outline = e;
    on_outline.clearance = 0.0;
    EXPECT_GT(choice_score(e, p), choice_score(on_outline, p));
    // Still objects lined up by chance along a wide circle are no crystal.
    Evidence still = e;
    still.motion = 0.1;
    still.radius = 3.0 * e.size;
    EXPECT_FALSE(is_crystal(crystal_probability(still)));
    // Reliability never falls as the probability grows.
    double last = -1.0;
    for (double q = 0.0; q <= 1.0; q += 0.05) {
        EXPECT_GE(track_reliability(q), last);
        last = track_reliability(q);
    }
    // A "no crystal" answer is the more trustworthy the less anything looked like one.
    EXPECT_DOUBLE_EQ(no_crystal_reliability(0.0), 1.0);
    for (double q = 0.05; q <= 1.0; q += 0.05)
        EXPECT_LE(no_crystal_reliability(q), no_crystal_reliability(q - 0.05));
}

}  // namespace
}  // namespace orva
