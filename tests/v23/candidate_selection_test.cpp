// Choice between the two TELKU candidates over a run: rounding, absent
// candidates, swaps driven by the sinusoid and by the common y, the width
// weighting, alternating swaps, and degenerate runs.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "v23/telku.h"

namespace orva {
namespace {

constexpr double kAbsent = -1.0;

// One run's inputs and outputs.
struct SelectionRun {
    explicit SelectionRun(int n)
        : xc0(n),
          yc0(n),
          xc1(n, kAbsent),
          yc1(n, kAbsent),
          xc0_f(n, 1.0),
          yc0_f(n, 1.0),
          xc1_f(n, 1.0),
          yc1_f(n, 1.0),
          width0(n, 50),
          angles(n, 0.0f) {}
    int call(CandidateSelection& state) {
        return select_cand(state, xc0, yc0, xc1, yc1, xc0_f, yc0_f, xc1_f, yc1_f, width0, angles,
                           static_cast<int>(xc0.size()), stdout);
    }
    std::vector<double> xc0, yc0, xc1, yc1, xc0_f, yc0_f, xc1_f, yc1_f;
    std::vector<int> width0;
    std::vector<float> angles;
};

TEST(SelectCand, RoundsTopCandidatesAndNeverSwapsAnAbsentSecond) {
    SelectionRun run(5);
    for (int i = 0; i < 5; ++i) {
        run.angles[i] = static_cast<float>(72 * i);
        run.xc0[i] = 300.4 + 50 * std::sin(72 * i * 3.141592654 / 180);
        run.yc0[i] = 100.4;
    }
    // Image 4: a top candidate far off; its absent second (-1, -1) would be
    // nearer if its coordinates counted.
    run.xc0[4] = 5.4;
    run.yc0[4] = 500.4;
    run.xc0_f[4] = 0.25;
    run.yc0_f[4] = 0.5;
    CandidateSelection state;
    ASSERT_EQ(run.call(state), 0);
    EXPECT_EQ(run.yc0[0], 100.0);
    EXPECT_EQ(run.xc0[0], 300.0);  // 100.4 style values come back rounded
    EXPECT_EQ(run.xc0[4], 5.0);
    EXPECT_EQ(run.yc0[4], 500.0);
    EXPECT_EQ(run.xc0_f[4], 0.25);
    EXPECT_EQ(run.yc0_f[4], 0.5);
    EXPECT_EQ(run.xc1[4], kAbsent);  // the second candidates are not written
}

TEST(SelectCand, SwapsACandidateOffTheSinusoid) {
    SelectionRun run(8);
    for (int i = 0; i < 8; ++i) {
        run.angles[i] = static_cast<float>(45 * i);
        run.xc0[i] = 200 + 80 * std::sin(45 * i * 3.141592654 / 180);
        run.yc0[i] = 100;
    }
    // Image 3 (135 degrees): the top candidate is a stray spot, the second the
    // crystal on the sinusoid.
    run.xc1[3] = run.xc0[3];
    run.yc1[3] = 100;
    run.xc1_f[3] = 0.9;
    run.yc1_f[3] = 0.8;
    run.xc0[3] = 60;
    run.xc0_f[3] = 0.3;
    run.yc0_f[3] = 0.4;
    CandidateSelection state;
    ASSERT_EQ(run.call(state), 0);
    EXPECT_EQ(run.xc0[3], 257.0);
    EXPECT_EQ(run.yc0[3], 100.0);
    EXPECT_EQ(run.xc0_f[3], 0.9);
    EXPECT_EQ(run.yc0_f[3], 0.8);
    // The model follows the top candidates.
    EXPECT_NEAR(function(state, 90.0), 280.0, 40.0);
    EXPECT_NEAR(function(state, 270.0), 120.0, 40.0);
}

TEST(SelectCand, AlternatingSwapsEndAndTheCommonYUsesTheMedianIndex) {
    // All x on one value, so only y decides. Five images: the common y is the
    // merit-weighted mean of the top y values at or below the fourth largest
    // (index (2 * 5) / 3 = 3 of the decreasing order).
    SelectionRun run(5);
    const double top_y[5] = {25, 70, 60, 90, 85};
    const double top_f[5] = {0.1, 0.5, 1, 2, 1};
    const double second_y[5] = {65, 0, kAbsent, 45, 40};
    const double second_f[5] = {2, 1, 1, 2, 2};
    for (int i = 0; i < 5; ++i) {
        run.angles[i] = static_cast<float>(60 * i);
        run.xc0[i] = 300;
        run.yc0[i] = top_y[i];
        run.yc0_f[i] = top_f[i];
        run.xc1[i] = second_y[i] < 0 ? kAbsent : 300;
        run.yc1[i] = second_y[i];
        run.yc1_f[i] = second_f[i];
    }
    // Common y 57: image 0 is swapped to 65; the next passes swap images 3 and
    // 4 (common y 63, then 50); with the common y at 43 image 0 goes back to 25.
    // Another median index (N / 2, one above or below, or counted from the
    // other end) ends differently.
    CandidateSelection state;
    ASSERT_EQ(run.call(state), 0);
    const double final_y[5] = {25, 70, 60, 45, 40};
    const double final_f[5] = {0.1, 0.5, 1, 2, 2};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(run.yc0[i], final_y[i]) << i;
        EXPECT_EQ(run.yc0_f[i], final_f[i]) << i;
        EXPECT_EQ(run.xc0[i], 300.0);
    }
    EXPECT_EQ(state.scan_start, 0);  // the last pass found nothing to swap
    EXPECT_DOUBLE_EQ(function(state, 123.0), 300.0);
}

TEST(SelectCand, WideObjectsWeighTheCommonY) {
    // Four images: the common y comes from the two lowest top y values, 40 of
    // a wide object (weight 1/(1 + e^-5)) and 60 of a narrow one (1/(1 + e^5)):
    // 40, where equal weights would give 50.
    SelectionRun run(4);
    const double top_y[4] = {40, 60, 500, 600};
    const int width[4] = {100, 10, 55, 55};
    for (int i = 0; i < 4; ++i) {
        run.angles[i] = static_cast<float>(90 * i);
        run.xc0[i] = 300;
        run.yc0[i] = top_y[i];
        run.width0[i] = width[i];
    }
    // Image 3's second candidate: 555 off in x and on y = 40. Squared distance
    // 308025 against 560^2 = 313600 of the top when the common y is 40; with
    // 50 it would be 308125 against 302500 and stay second.
    run.xc1[3] = 855;
    run.yc1[3] = 40;
    run.xc1_f[3] = 0.0;  // keeps the sinusoid where it is after the swap
    CandidateSelection state;
    ASSERT_EQ(run.call(state), 0);
    EXPECT_EQ(run.xc0[3], 855.0);
    EXPECT_EQ(run.yc0[3], 40.0);
    EXPECT_EQ(run.xc0_f[3], 0.0);
}

TEST(SelectCand, DegenerateRuns) {
    // No top candidate at all: nothing to fit; outputs are the rounded inputs
    // and the model is left as it was.
    SelectionRun none(3);
    for (int i = 0; i < 3; ++i) {
        none.xc0[i] = kAbsent;
        none.yc0[i] = kAbsent;
        none.xc0_f[i] = 0;
        none.yc0_f[i] = 0;
        none.xc1[i] = 40.6;
        none.yc1[i] = 50;
    }
    CandidateSelection state{1.5, 2.5, 3.5, 0};
    ASSERT_EQ(none.call(state), 0);
    EXPECT_EQ(none.xc0[1], kAbsent);
    EXPECT_EQ(state.a, 1.5);
    EXPECT_EQ(state.off, 3.5);

    // Merits all 0: the common y falls back to the median; still no crash and
    // a single image keeps its candidate.
    SelectionRun one(1);
    one.xc0[0] = 10.5;
    one.yc0[0] = 20.49;
    one.xc0_f[0] = 0;
    one.yc0_f[0] = 0;
    one.xc1[0] = 11;
    one.yc1[0] = 300;
    CandidateSelection fresh;
    ASSERT_EQ(one.call(fresh), 0);
    EXPECT_EQ(one.xc0[0], 11.0);
    EXPECT_EQ(one.yc0[0], 20.0);

    // Arrays shorter than the image count are refused.
    std::vector<double> two(2, 1.0);
    std::vector<int> w(2, 1);
    std::vector<float> a(2, 0.0f);
    testing::internal::CaptureStderr();
    EXPECT_EQ(select_cand(fresh, two, two, two, two, two, two, two, two, w, a, 3, stdout), 3);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("select_cand"), std::string::npos);
    EXPECT_EQ(select_cand(fresh, two, two, two, two, two, two, two, two, w, a, 0, stdout), 0);
}

TEST(SelectCand, ProcessWideModelIsReadByFunction) {
    SelectionRun run(3);
    for (int i = 0; i < 3; ++i) {
        run.angles[i] = static_cast<float>(120 * i);
        run.xc0[i] = 150;
        run.yc0[i] = 70;
    }
    ASSERT_EQ(select_cand(run.xc0, run.yc0, run.xc1, run.yc1, run.xc0_f, run.yc0_f, run.xc1_f,
                          run.yc1_f, run.width0, run.angles, 3, stdout),
              0);
    EXPECT_DOUBLE_EQ(function(45.0), 150.0);
    EXPECT_DOUBLE_EQ(candidate_selection_state().off, 150.0);
    EXPECT_EQ(candidate_selection_state().scan_start, 0);
}

}  // namespace
}  // namespace orva
