// Result values of the version-2.3 method: back from the cleaned image to
// input-image pixels, phase range, crystal diameter, reliability and the
// cross positions.
//
// Conventions: final_x is an input column and final_y an input row for every
// loop_pos; cleaned x is the coordinate across the spindle axis. The
// reliability is the Maxwell distribution function: the probability that a
// three-dimensional normal error of deviation s per axis stays within r,
//   erf(r / (s sqrt2)) - r sqrt2 / (s sqrt(pi)) exp(-r^2 / (2 s^2)).
#include <algorithm>
#include <cmath>
#include <functional>

#include "v23/conventional_run.h"

namespace orva::conventional {

namespace {

constexpr double SQRT2 = 1.414213562;
constexpr double SQRT_PI = 1.772004514666935;  // the stored constant of the formula

}  // namespace

void to_input_coordinates(int loop_pos, int imx, int imy, const int* border, bool add_borders,
                          int& final_x, int& final_y) {
    const int x = final_x;
    const int y = final_y;
    switch (loop_pos) {
        case 1:
            final_y = imy - 1 - y;
            break;
        case 2:
            final_x = imy - 1 - y;
            final_y = x;
            break;
        case 3:
            final_x = y;
            final_y = imx - 1 - x;
            break;
        default:
            break;
    }
    if (!add_borders) return;
    final_y += final_y >= 0 ? border[BORDER_TOP] : -border[BORDER_TOP];
    final_x += final_x >= 0 ? border[BORDER_LEFT] : -border[BORDER_LEFT];
}

double normalised_phase(double phi0, double radius) {
    if (radius < 1.0) phi0 = 0.0;
    if (phi0 <= -180.0) phi0 += 360.0;
    if (phi0 > 180.0) phi0 -= 360.0;
    return phi0;
}

int object_diameter(std::span<int> owidth, int num_images) {
    const auto n =
        static_cast<std::size_t>(std::clamp(num_images, 0, static_cast<int>(owidth.size())));
    std::sort(owidth.begin(), owidth.begin() + static_cast<std::ptrdiff_t>(n), std::greater<>());
    for (int i = static_cast<int>(n) - 1; i >= 1; --i)
        if (owidth[i] > 0) return owidth[i];
    return 0;
}

double v23_reliability(int diameter, double tot_devW) {
    if (!(tot_devW > 0.0)) return -1.0;
    const double r = diameter * 0.5;
    const double s = tot_devW;
    return std::erf(r / (s * SQRT2)) -
           (r * SQRT2) / (s * SQRT_PI) * std::exp(-(r * r) / (2.0 * s * s));
}

int reliability_percent(double reliability) {
    if (reliability < 0.0) return -1;
    return static_cast<int>(std::floor(100.0 * reliability));
}

void cross_position(int loop_pos, int imx, const int* border, const PARAMS& mp, double phi_q,
                    int final_x, int final_y, int& x, int& y) {
    const int m = static_cast<int>(
        std::floor(mp.x0 + 0.5 + mp.radius * std::cos((phi_q - mp.phi0) * RADIAN)));
    switch (loop_pos) {
        case 2:
            x = final_x;
            y = m + border[BORDER_TOP];
            break;
        case 3:
            x = final_x;
            y = imx - 1 - m + border[BORDER_TOP];
            break;
        default:
            x = m + border[BORDER_LEFT];
            y = final_y;
            break;
    }
}

}  // namespace orva::conventional
