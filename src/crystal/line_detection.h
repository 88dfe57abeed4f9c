// Straight parallel crystal edges inside the window of interest of one image.
//
// get_lines2 turns the grey window into line weights (inverted, blurred,
// ridge response, restricted to the line mask, upper percentiles only) and
// hough_lines finds the best pair of parallel segments whose spacing matches
// their length; the result is the mean of the pair's four end points, or
// (-1, -1) when no pair qualifies.
//
// Conventions: windows are row-major, x the column, y the row, origin at the
// window's top-left pixel. A line of angle bin deg (of deg_N bins over 180
// degrees) and distance bin r is the set of points with
// x cos(phi) + y sin(phi) = r - r_M, phi = deg * pi / deg_N. After the angle
// halving there are 90 bins of 2 degrees each.
#pragma once

#include <span>
#include <vector>

#include "loop/feature_maps.h"
#include "toolkit/arrays.h"
#include "types.h"

namespace orva {

// Longest run of positive weights along one accepted line.
struct LINE_SEGMENT {
    unsigned int xs = 0, ys = 0;     // first pixel of the run
    unsigned int xe = 0, ye = 0;     // last pixel of the run
    unsigned int len = 0;            // pixels in the run
    unsigned int r = 0;              // distance bin; signed distance r - r_M
    unsigned int deg = 0;            // angle bin 0..89 (normal angle 2 * deg degrees)
    unsigned int parallel_flag = 0;  // two or more lines accepted in this bin
    unsigned int ortho_flag = 0;     // a line also accepted 45 bins away
    double score = 0.0;              // sum of the run's weights
};

// Buffers of the Hough search, kept by a caller that searches many windows so
// that they are not handed back to the system and faulted in again for each.
struct HoughWork {
    std::vector<double> voter_x, voter_y;
    std::vector<float> voter_w;
    std::vector<int> cells;
    Matrix<float> space, suppressed;
    std::vector<float> sorted;
    std::vector<LINE_SEGMENT> segments;
};

// The same for get_lines2: the window's response maps and weights.
struct LineWork {
    FeatureWork feature;
    std::vector<unsigned char> inverted, blurred;
    std::vector<float> weights;
    HoughWork hough;
};

// im: full image geometry; mask: full-image line mask; bptr: the grey window
// (roi[1] - roi[0]) x (roi[3] - roi[2]); roi = {left, right, top, bottom}.
// Writes the line position in window pixels. Returns the feature-map status,
// or 0 for a window narrower or lower than 16 pixels (result (-1, -1)).
int get_lines2(const IMAGE& im, std::span<const unsigned char> mask,
               std::span<const unsigned char> bptr, std::span<const unsigned int, 4> roi, int& x2,
               int& y2);
// The same with the buffers of `work`; the results are identical.
int get_lines2(const IMAGE& im, std::span<const unsigned char> mask,
               std::span<const unsigned char> bptr, std::span<const unsigned int, 4> roi, int& x2,
               int& y2, LineWork& work);

// 3x3 smoothing (kernel 1 1 1 / 1 2 1 / 1 1 1 over 10, rounded half up) of the
// interior; border rows and columns are copied. Returns 0.
int blurring(const IMAGE& im, std::span<const unsigned char> bptr, std::span<unsigned char> optr);

// Hough transform of the weights pptr (one per window pixel; only values > 0
// vote) and the parallel-pair search. bptr is not read. Returns 0.
int hough_lines(const IMAGE& ims, std::span<const unsigned char> bptr, std::span<const float> pptr,
                int& x2, int& y2);
// The same with the buffers of `work`; the results are identical.
int hough_lines(std::span<const float> pptr, const IMAGE& ims, int& x2, int& y2, HoughWork& work);

// The vote space of hough_lines before angles are merged: rows 1..180 for the
// 1-degree normal angles, columns 1..2 r_M + 1 for the distances -r_M..r_M
// (r_M the diagonal rounded up), a zero frame around; each cell holds the sum
// of its weights added in pixel order.
Matrix<float> hough_votes(const IMAGE& ims, std::span<const float> pptr);

// Longest run of positive weights along the line (deg, r); the first of equal
// runs. result keeps its contents when no point has a positive weight.
void get_line_segment(int deg, int deg_N, int r_M, int r, const IMAGE& ims,
                      std::span<const float> pptr, LINE_SEGMENT& result);

// 0..100: how squarely the two segments' midpoints face each other across the
// bin's direction (0 when they are more than 30 degrees off or coincide).
int get_line_dist_p(const LINE_SEGMENT& line_seg0, const LINE_SEGMENT& line_seg1);

// exp(-0.5 v^2), v = 1 - (shorter length : spacing, as a ratio <= 1).
double get_relation_score(const LINE_SEGMENT& line_seg0, const LINE_SEGMENT& line_seg1);

// Angle between two directions in degrees, 0..180.
float theta_diff(float a1, float a2);

}  // namespace orva
