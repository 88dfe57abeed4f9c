// Phase of p * cos(phi) + q * sin(phi) in degrees: acos and asin each give two
// candidate angles; the phase is the mean of the closest cosine/sine pair.
// Shared by the sinusoid fit and the combined fits.
#include <algorithm>
#include <cmath>

#include "fit/least_squares.h"

namespace orva {

double phase_angle(double p, double q, double radius) {
    if (!(radius > 0.0)) return 0.0;
    // Rounding can push the ratios a hair beyond [-1, 1].
    const double cos_ratio = std::clamp(p / radius, -1.0, 1.0);
    const double sin_ratio = std::clamp(q / radius, -1.0, 1.0);

    const double a = std::acos(cos_ratio) / RADIAN;  // 0 .. 180
    const double c1 = a;
    const double c2 = -a;
    const double b = std::asin(sin_ratio) / RADIAN;  // -90 .. 90
    const double s1 = b;
    const double s2 = b >= 0.0 ? 180.0 - b : -180.0 - b;

    const double d11 = std::fabs(c1 - s1);
    const double d12 = std::fabs(c1 - s2);
    const double d21 = std::fabs(c2 - s1);
    const double d22 = std::fabs(c2 - s2);

    // Tested in this order, each pair replacing the result when it is no
    // farther than all others: on a tie the later pair wins.
    double phi0 = 0.0;
    if (d11 <= d12 && d11 <= d21 && d11 <= d22) phi0 = (c1 + s1) / 2.0;
    if (d12 <= d11 && d12 <= d21 && d12 <= d22) phi0 = (c1 + s2) / 2.0;
    if (d21 <= d11 && d21 <= d12 && d21 <= d22) phi0 = (c2 + s1) / 2.0;
    if (d22 <= d11 && d22 <= d12 && d22 <= d21) phi0 = (c2 + s2) / 2.0;
    return phi0;
}

}  // namespace orva
