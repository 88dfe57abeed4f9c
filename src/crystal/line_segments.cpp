// Segments along accepted Hough lines and the figures that score a pair.
//
// get_line_segment walks a line one pixel per step: along the rows for steep
// lines (normal angle up to 45 or above 135 degrees), along the columns for
// flat ones, rounding the other coordinate half up. The longest run of
// positive weights wins; a non-positive weight or a point outside the window
// ends a run. Angles of the pair figures are degrees.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "crystal/line_detection.h"
#include "toolkit/fast_floor.h"

namespace orva {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Pairs whose midpoints are further off the bin's direction score 0.
constexpr float MAX_FACING_ANGLE = 30.0f;
constexpr double RELATION_SIGMA = 1.0;

}  // namespace

void get_line_segment(int deg, int deg_N, int r_M, int r, const IMAGE& ims,
                      std::span<const float> pptr, LINE_SEGMENT& result) {
    const long width = ims.width;
    const long height = ims.height;
    if (deg_N <= 0 || pptr.size() < static_cast<std::size_t>(width * height)) return;

    const double phi = deg * kPi / deg_N;
    const int rho = r - r_M;
    unsigned int run_len = 0;
    float run_sum = 0.0f;
    unsigned int best_len = 0;
    unsigned int start_x = 0, start_y = 0;

    auto visit = [&](long x, long y) {
        if (x < 0 || x >= width || y < 0 || y >= height || !(pptr[y * width + x] > 0.0f)) {
            run_len = 0;
            run_sum = 0.0f;
            return;
        }
        if (run_len == 0) {
            start_x = static_cast<unsigned int>(x);
            start_y = static_cast<unsigned int>(y);
        }
        ++run_len;
        run_sum += pptr[y * width + x];
        if (run_len > best_len) {
            best_len = run_len;
            result.len = run_len;
            result.xs = start_x;
            result.ys = start_y;
            result.xe = static_cast<unsigned int>(x);
            result.ye = static_cast<unsigned int>(y);
            result.score = run_sum;
        }
    };

    if (phi <= kPi / 4 || phi > 3 * kPi / 4) {
        const double s = std::sin(phi), c = std::cos(phi);
        for (long y = 0; y < height; ++y) {
            const long x = deg == 0 ? rho : floor_to_long((rho - s * y) / c + 0.5);
            visit(x, y);
        }
    } else {
        const double s = std::sin(phi), c = std::cos(phi);
        for (long x = 0; x < width; ++x) {
            const long y = deg == deg_N / 2 ? rho : floor_to_long((rho - c * x) / s + 0.5);
            visit(x, y);
        }
    }
}

int get_line_dist_p(const LINE_SEGMENT& line_seg0, const LINE_SEGMENT& line_seg1) {
    // Doubled midpoints.
    const long cx0 = static_cast<long>(line_seg0.xs) + line_seg0.xe;
    const long cy0 = static_cast<long>(line_seg0.ys) + line_seg0.ye;
    const long cx1 = static_cast<long>(line_seg1.xs) + line_seg1.xe;
    const long cy1 = static_cast<long>(line_seg1.ys) + line_seg1.ye;
    const long dx = std::labs(cx0 - cx1);
    const long dy = std::labs(cy0 - cy1);
    if (dx == 0 && dy == 0) return 0;  // no direction between coinciding midpoints

    const double phi =
        dx == 0 ? 90.0 : std::atan(static_cast<double>(dy) / static_cast<double>(dx)) * 180.0 / kPi;
    // The bin index itself serves as the angle here, not the normal angle 2 * deg.
    const float alpha = theta_diff(static_cast<float>(line_seg0.deg), static_cast<float>(phi));
    if (std::fabs(alpha) > MAX_FACING_ANGLE) return 0;
    const double c = std::cos(static_cast<double>(alpha) * kPi / 180.0);
    return static_cast<int>(std::floor(100.0 * (c * c) + 0.5));
}

double get_relation_score(const LINE_SEGMENT& line_seg0, const LINE_SEGMENT& line_seg1) {
    const long len = std::min(line_seg0.len, line_seg1.len);
    const long r_dist = std::labs(static_cast<long>(line_seg0.r) - static_cast<long>(line_seg1.r));
    double ratio = 1.0;  // equal length and spacing, including both 0
    if (len < r_dist)
        ratio = static_cast<double>(len) / static_cast<double>(r_dist);
    else if (len > r_dist)
        ratio = static_cast<double>(r_dist) / static_cast<double>(len);
    const double v = 1.0 - ratio;
    return std::exp(-0.5 * v * v / (RELATION_SIGMA * RELATION_SIGMA));
}

float theta_diff(float a1, float a2) {
    if (a1 >= 360.0f) a1 -= 360.0f;
    if (a2 >= 360.0f) a2 -= 360.0f;
    float d = std::fabs(a1 - a2);
    if (d > 180.0f) d = 360.0f - d;
    return d;
}

}  // namespace orva
