// Choice between the two TELKU candidates over a run: rounding, absent
// candidates, swaps driven by the sinusoid and by the common y, the width
// weighting, alternating swaps, and degenerate runs.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "v23/telku.h"

namespace orva {
namespace {

constexpr double kAbsent = -1.0;

// One run's inputs and outputs: top candidates at x 300 and absent seconds,
// merits 1, widths 50, image i at `step` * i degrees.
struct SelectionRun {
    SelectionRun(int n, float step)
        : xc0(n, 300), yc0(n), xc1(n, kAbsent), yc1(n, kAbsent), width0(n, 50), angles(n) {
        for (auto* merits : {&xc0_f, &yc0_f, &xc1_f, &yc1_f}) merits->assign(n, 1.0);
        for (int i = 0; i < n; ++i) angles[i] = step * static_cast<float>(i);
    }
    // x, y and their merits of image i's top candidate.
    std::array<double, 4> top(int i) const { return {xc0[i], yc0[i], xc0_f[i], yc0_f[i]}; }
    int call(CandidateSelection& state) {
        return select_cand(state, xc0, yc0, xc1, yc1, xc0_f, yc0_f, xc1_f, yc1_f, width0, angles,
                           static_cast<int>(xc0.size()), stdout);
    }
    std::vector<double> xc0, yc0, xc1, yc1, xc0_f, yc0_f, xc1_f, yc1_f;
    std::vector<int> width0;
    std::vector<float> angles;
};

using Top = std::array<double, 4>;

double sine_x(double centre, double amplitude, float angle) {
    return centre + amplitude * std::sin(angle * 3.141592654 / 180);
}

TEST(SelectCand, SwapsOffTheSinusoidRoundsAndNeverSwapsAnAbsentSecond) {
    SelectionRun run(8, 45);
    for (int i = 0; i < 8; ++i) {
        run.xc0[i] = sine_x(200.4, 80, run.angles[i]);
        run.yc0[i] = 100.4;
    }
    // Image 3: the top candidate is a stray spot, the second the crystal.
    run.xc1[3] = run.xc0[3];
    run.yc1[3] = 100;
    run.xc1_f[3] = 0.9;
    run.yc1_f[3] = 0.8;
    run.xc0[3] = 60;
    run.xc0_f[3] = 0.3;
    run.yc0_f[3] = 0.4;
    // Image 6: a top candidate far off; its absent second (-1, -1) would be
    // nearer if its coordinates counted.
    run.xc0[6] = 5.4;
    run.yc0[6] = 500.4;
    run.xc0_f[6] = 0.25;
    run.yc0_f[6] = 0.5;
    CandidateSelection state;
    ASSERT_EQ(run.call(state), 0);
    EXPECT_EQ(run.top(0), (Top{200, 100, 1, 1}));  // 200.4 and 100.4 come back rounded
    EXPECT_EQ(run.top(3), (Top{257, 100, 0.9, 0.8}));
    EXPECT_EQ(run.top(6), (Top{5, 500, 0.25, 0.5}));
    EXPECT_EQ(run.xc1[6], kAbsent);                   // the second candidates are not written
    EXPECT_NEAR(function(state, 90.0), 280.0, 40.0);  // the model follows the top candidates
    EXPECT_NEAR(function(state, 270.0), 120.0, 40.0);
}

TEST(SelectCand, AlternatingSwapsEndAndTheCommonYUsesTheMedianIndex) {
    // All x on one value, so only y decides. Five images: the common y is the
    // merit-weighted mean of the top y values at or below the fourth largest
    // (index (2 * 5) / 3 = 3 of the decreasing order).
    SelectionRun run(5, 60);
    run.yc0 = {25, 70, 60, 90, 85};
    run.yc0_f = {0.1, 0.5, 1, 2, 1};
    run.yc1 = {65, 0, kAbsent, 45, 40};
    run.yc1_f = {2, 1, 1, 2, 2};
    run.xc1 = {300, 300, kAbsent, 300, 300};
    // Common y 57: image 0 is swapped to 65; the next passes swap images 3 and
    // 4 (common y 63, then 50); with the common y at 43 image 0 goes back to 25.
    // Another median index (N / 2, one above or below, or counted from the
    // other end) ends differently.
    CandidateSelection state;
    ASSERT_EQ(run.call(state), 0);
    EXPECT_EQ(run.yc0, (std::vector<double>{25, 70, 60, 45, 40}));
    EXPECT_EQ(run.yc0_f, (std::vector<double>{0.1, 0.5, 1, 2, 2}));
    EXPECT_EQ(run.xc0, std::vector<double>(5, 300.0));
    EXPECT_EQ(state.scan_start, 0);  // the last pass found nothing to swap
    EXPECT_DOUBLE_EQ(function(state, 123.0), 300.0);
}

TEST(SelectCand, WideObjectsWeighTheCommonY) {
    // The common y comes from the two lowest top y values, 40 of a wide object
    // (weight 1/(1 + e^-5)) and 60 of a narrow one (1/(1 + e^5)): 40, where
    // equal weights would give 50.
    SelectionRun run(4, 90);
    run.yc0 = {40, 60, 500, 600};
    run.width0 = {100, 10, 55, 55};
    // Image 3's second candidate: 555 off in x and on y = 40. Squared distance
    // 308025 against 560^2 = 313600 of the top when the common y is 40; with
    // 50 it would be 308125 against 302500 and stay second.
    run.xc1[3] = 855;
    run.yc1[3] = 40;
    run.xc1_f[3] = 0.0;  // keeps the sinusoid where it is after the swap
    CandidateSelection state;
    ASSERT_EQ(run.call(state), 0);
    EXPECT_EQ(run.top(3), (Top{855, 40, 0, 1}));
}

TEST(SelectCand, DegenerateRunsAndTheProcessWideModel) {
    // No top candidate at all: nothing to fit; the model is left as it was.
    SelectionRun none(3, 0);
    none.xc0 = none.yc0 = {kAbsent, kAbsent, kAbsent};
    none.xc0_f = none.yc0_f = {0, 0, 0};
    none.xc1 = {40.6, 40.6, 40.6};
    none.yc1 = {50, 50, 50};
    CandidateSelection state{1.5, 2.5, 3.5, 0};
    ASSERT_EQ(none.call(state), 0);
    EXPECT_EQ(none.xc0[1], kAbsent);
    EXPECT_EQ(state.a, 1.5);
    EXPECT_EQ(state.off, 3.5);

    // Merits all 0: the common y falls back to the median; a single image
    // keeps its candidate.
    SelectionRun one(1, 0);
    one.xc0 = {10.5};
    one.yc0 = {20.49};
    one.xc0_f = one.yc0_f = {0};
    one.xc1 = {11};
    one.yc1 = {300};
    CandidateSelection fresh;
    ASSERT_EQ(one.call(fresh), 0);
    EXPECT_EQ(one.xc0[0], 11.0);
    EXPECT_EQ(one.yc0[0], 20.0);

    // The plain select_cand fits the model that function(angle) reads.
    SelectionRun flat(3, 120);
    flat.xc0 = {150, 150, 150};
    flat.yc0 = {70, 70, 70};
    ASSERT_EQ(select_cand(flat.xc0, flat.yc0, flat.xc1, flat.yc1, flat.xc0_f, flat.yc0_f,
                          flat.xc1_f, flat.yc1_f, flat.width0, flat.angles, 3, stdout),
              0);
    EXPECT_DOUBLE_EQ(function(45.0), 150.0);
    EXPECT_EQ(candidate_selection_state().scan_start, 0);
}

}  // namespace
}  // namespace orva
