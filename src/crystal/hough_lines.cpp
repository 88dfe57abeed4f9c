// Straight-line Hough transform of a weight window and the search for the
// best pair of parallel segments.
//
// Method: every pixel with a positive weight votes its weight for the 180
// normal angles of 1 degree, at the distance rounded half up; pairs of angles
// (2k, 2k + 1) are then merged into 90 bins. A cell survives when no 8-neighbour
// is strictly greater (the frame around the 90 bins counts as 0) and it lies at
// or above the 99.5th percentile of all merged cells. Accepted lines of a bin
// with two or more of them are cut to their longest run of positive weights,
// and every pair of one bin more than 3 distance bins apart is scored by
// run sums, sqrt of the spacing, how squarely they face each other and how
// their spacing matches their length. The strictly best pair (the first on a
// tie) gives the mean of its four end points; none gives (-1, -1).
// Status: 0. The result is (-1, -1) also when the segment list cannot be
// allocated (with a message).
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "crystal/line_detection.h"
#include "toolkit/arrays.h"
#include "toolkit/order_statistics.h"
#include "toolkit/vector_clones.h"

namespace orva {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int VOTE_ANGLES = 180;  // 1-degree normal angles
constexpr int SUB_FAC = 2;        // angles merged per bin
constexpr int NUM_BINS = VOTE_ANGLES / SUB_FAC;
constexpr double ACCEPT_QUANTILE = 0.995;
constexpr long MIN_PAIR_SPACING = 3;  // distance bins; closer pairs score 0

// The vote space: (VOTE_ANGLES + 2) x (r_N + 2) cells with a zero frame.
struct HoughGrid {
    int r_M = 0;
    int r_N = 0;
    Matrix<float>& space;
};

// Cell (column of a vote row) of every voter at one angle: the distance
// rounded half up, shifted by r_M + 1. The distance is far inside int, where
// truncation corrected downwards is floor; kept in int so the loop vectorises.
ORVA_VECTOR_CLONES
void vote_cells(const HoughWork& voters, double c, double s, int r_M, int* __restrict cell) {
    const std::size_t n = voters.voter_x.size();
    const double* __restrict x = voters.voter_x.data();
    const double* __restrict y = voters.voter_y.data();
    for (std::size_t k = 0; k < n; ++k) {
        const double d = x[k] * c + y[k] * s + 0.5;
        const int t = static_cast<int>(d);
        cell[k] = (static_cast<double>(t) > d ? t - 1 : t) + r_M + 1;
    }
}

// Votes of every positive weight, 1-degree angles, into rows 1..180.
// Cells add their votes in pixel order, as a per-pixel walk would; only the
// cells are worked out for all voters of an angle first.
void vote(const IMAGE& ims, std::span<const float> pptr, HoughGrid& grid, HoughWork& voters) {
    voters.voter_x.clear();
    voters.voter_y.clear();
    voters.voter_w.clear();
    for (unsigned int y = 0; y < ims.height; ++y)
        for (unsigned int x = 0; x < ims.width; ++x) {
            const float w = pptr[static_cast<std::size_t>(y) * ims.width + x];
            if (w > 0.0f) {
                voters.voter_x.push_back(static_cast<double>(x));
                voters.voter_y.push_back(static_cast<double>(y));
                voters.voter_w.push_back(w);
            }
        }
    // Neighbouring pixels often vote into the same cell, each add waiting for
    // the one before; the rows of kAnglesAtOnce angles are filled side by
    // side, so that their adds overlap. Every row still adds in pixel order.
    constexpr int kAnglesAtOnce = 4;
    static_assert(VOTE_ANGLES % kAnglesAtOnce == 0);
    const std::size_t n = voters.voter_x.size();
    std::vector<int>& cells = voters.cells;
    cells.resize(n * kAnglesAtOnce);
    const float* w = voters.voter_w.data();
    for (int deg0 = 0; deg0 < VOTE_ANGLES; deg0 += kAnglesAtOnce) {
        float* row[kAnglesAtOnce];
        const int* cell[kAnglesAtOnce];
        for (int a = 0; a < kAnglesAtOnce; ++a) {
            const double phi = (deg0 + a) * kPi / 180.0;
            const double c = std::cos(phi), s = std::sin(phi);
            int* angle_cells = cells.data() + a * n;
            vote_cells(voters, c, s, grid.r_M, angle_cells);
            row[a] = grid.space[deg0 + a + 1];
            cell[a] = angle_cells;
        }
        for (std::size_t k = 0; k < n; ++k) {
            // Read once: the stores into the rows could otherwise have changed it.
            const float weight = w[k];
            row[0][cell[0][k]] += weight;
            row[1][cell[1][k]] += weight;
            row[2][cell[2][k]] += weight;
            row[3][cell[3][k]] += weight;
        }
    }
}

// The vote space of ims in grid.space (reshaped and cleared first).
void fill_votes(const IMAGE& ims, std::span<const float> pptr, HoughGrid& grid, HoughWork& work) {
    const double diag = std::sqrt(static_cast<double>(ims.width) * ims.width +
                                  static_cast<double>(ims.height) * ims.height);
    grid.r_M = static_cast<int>(std::ceil(diag));
    grid.r_N = 2 * grid.r_M + 1;
    grid.space.reset(VOTE_ANGLES + 2, grid.r_N + 2, "fmatrix");
    vote(ims, pptr, grid, work);
}

// Rows 1..90 become bins of two angles each; the row after the last bin is
// cleared so it acts as frame. Bin row k is written only after rows
// 2k - 1 and 2k, which no earlier bin overwrites, have been read.
void halve_angles(HoughGrid& grid) {
    for (int deg = 1; deg <= NUM_BINS; ++deg) {
        float* bin = grid.space[deg];
        const float* first = grid.space[2 * deg - 1];
        const float* second = grid.space[2 * deg];
        for (int c = 1; c <= grid.r_N; ++c) bin[c] = first[c] + second[c];
    }
    std::fill_n(grid.space[NUM_BINS + 1], grid.r_N + 2, 0.0f);
}

// Whether no 8-neighbour of cell (deg, c) is strictly greater than v.
bool is_local_max(const Matrix<float>& hs, int deg, int c, float v) {
    for (int dd = -1; dd <= 1; ++dd)
        for (int dc = -1; dc <= 1; ++dc)
            if ((dd != 0 || dc != 0) && hs[deg + dd][c + dc] > v) return false;
    return true;
}

// Local maxima (ties kept) at or above the acceptance quantile; 90 x r_N.
// The quantile comes first, so that only the few cells at or above it are
// tested against their neighbours.
void suppress(const HoughGrid& grid, Matrix<float>& sup, std::vector<float>& sorted) {
    const Matrix<float>& hs = grid.space;
    const unsigned long cells = static_cast<unsigned long>(NUM_BINS) * grid.r_N;
    sorted.resize(cells);
    for (int deg = 1; deg <= NUM_BINS; ++deg)
        std::copy_n(hs[deg] + 1, grid.r_N, sorted.begin() + (deg - 1) * grid.r_N);
    const float thresh = kth_smallest(
        sorted, static_cast<unsigned long>(static_cast<double>(cells - 1) * ACCEPT_QUANTILE));

    sup.reset(NUM_BINS, grid.r_N, "fmatrix");
    for (int deg = 1; deg <= NUM_BINS; ++deg)
        for (int c = 1; c <= grid.r_N; ++c) {
            const float v = hs[deg][c];
            if (!(v < thresh) && is_local_max(hs, deg, c, v)) sup[deg - 1][c - 1] = v;
        }
}

// Segments of the accepted lines, ordered by bin, then by distance. Bins with
// a single line and no orthogonal partner are dropped.
bool collect_segments(const IMAGE& ims, std::span<const float> pptr, const HoughGrid& grid,
                      const Matrix<float>& sup, std::vector<LINE_SEGMENT>& segments) {
    unsigned int l_cnt[NUM_BINS] = {};
    unsigned char p_indicator[NUM_BINS] = {};
    unsigned char o_indicator[NUM_BINS] = {};
    for (int k = 0; k < NUM_BINS; ++k)
        for (int r = 0; r < grid.r_N; ++r)
            if (sup[k][r] > 0.0f) ++l_cnt[k];
    unsigned long num_lines = 0;
    for (int k = 0; k < NUM_BINS; ++k) {
        p_indicator[k] = l_cnt[k] > 1;
        o_indicator[k] = l_cnt[k] > 0 && l_cnt[(k + NUM_BINS / 2) % NUM_BINS] > 0;
    }
    for (int k = 0; k < NUM_BINS; ++k) {
        if (!p_indicator[k] && !o_indicator[k]) l_cnt[k] = 0;
        num_lines += l_cnt[k];
    }
    if (num_lines == 0) return true;

    try {
        segments.assign(num_lines, LINE_SEGMENT{});
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "\n Cannot allocate LINE_SEGMENT!");
        errno = ENOMEM;
        std::perror("Reason");
        return false;
    }
    std::size_t next = 0;
    for (int k = 0; k < NUM_BINS; ++k) {
        unsigned int taken = 0;
        for (int r = 0; r < grid.r_N && taken < l_cnt[k]; ++r) {
            if (!(sup[k][r] > 0.0f)) continue;
            LINE_SEGMENT& seg = segments[next++];
            get_line_segment(k, NUM_BINS, grid.r_M, r, ims, pptr, seg);
            seg.r = static_cast<unsigned int>(r);
            seg.deg = static_cast<unsigned int>(k);
            seg.parallel_flag = p_indicator[k];
            seg.ortho_flag = o_indicator[k];
            ++taken;
        }
    }
    return true;
}

}  // namespace

Matrix<float> hough_votes(const IMAGE& ims, std::span<const float> pptr) {
    HoughWork work;
    HoughGrid grid{0, 0, work.space};
    fill_votes(ims, pptr, grid, work);
    return std::move(work.space);
}

int hough_lines(const IMAGE& ims, std::span<const unsigned char> /*bptr*/,
                std::span<const float> pptr, int& x2, int& y2) {
    HoughWork work;
    return hough_lines(pptr, ims, x2, y2, work);
}

int hough_lines(std::span<const float> pptr, const IMAGE& ims, int& x2, int& y2, HoughWork& work) {
    x2 = -1;
    y2 = -1;
    const std::size_t npix = static_cast<std::size_t>(ims.width) * ims.height;
    if (npix == 0 || pptr.size() < npix) return 0;

    HoughGrid grid{0, 0, work.space};
    fill_votes(ims, pptr, grid, work);
    halve_angles(grid);
    Matrix<float>& sup = work.suppressed;
    suppress(grid, sup, work.sorted);

    std::vector<LINE_SEGMENT>& segments = work.segments;
    segments.clear();
    if (!collect_segments(ims, pptr, grid, sup, segments)) return 0;

    // Parallel pairs within one bin.
    double max_score = 0.0;
    long best_i = -1, best_j = -1;
    const long num_lines = static_cast<long>(segments.size());
    for (long i = 0; i < num_lines; ++i) {
        const LINE_SEGMENT& a = segments[i];
        if (a.parallel_flag == 0) continue;
        for (long j = i + 1; j < num_lines && segments[j].deg <= a.deg; ++j) {
            const LINE_SEGMENT& b = segments[j];
            int dist = get_line_dist_p(a, b);
            if (dist <= 0) dist = 1;
            const double rel = get_relation_score(a, b);
            const long r_dist = std::labs(static_cast<long>(a.r) - static_cast<long>(b.r));
            const double score =
                r_dist > MIN_PAIR_SPACING
                    ? a.score * b.score * std::sqrt(static_cast<double>(r_dist)) * dist * rel
                    : 0.0;
            if (score > max_score) {
                max_score = score;
                best_i = i;
                best_j = j;
            }
        }
    }

    if (max_score > 0.0) {
        const LINE_SEGMENT& a = segments[best_i];
        const LINE_SEGMENT& b = segments[best_j];
        x2 = static_cast<int>((a.xs + a.xe + b.xs + b.xe) / 4);
        y2 = static_cast<int>((a.ys + a.ye + b.ys + b.ye) / 4);
    }
    return 0;
}

}  // namespace orva
