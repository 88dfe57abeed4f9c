// Fitted motion parameters shared by the sinusoid and the combined fits.
//
// Model of one image coordinate over the rotation angle phi (degrees):
//   value(phi) = x0 + radius * cos(phi - phi0)
// solved in its linear form x0 + p * cos(phi) + q * sin(phi) with
// p = radius * cos(phi0), q = radius * sin(phi0). The combined fit adds the
// constant y0 of the coordinate along the spindle axis.
#pragma once

namespace orva {

// Degrees to radians: the program's stored factor, deliberately not pi/180 to
// full precision, so fitted phases match the established results.
constexpr double RADIAN = 0.0174532924;

struct PARAMS {
    double x0 = 0.0;      // constant of the moving coordinate (pixels)
    double y0 = 0.0;      // constant of the axial coordinate (combined fits only)
    double radius = 0.0;  // amplitude, >= 0
    double phi0 = 0.0;    // degrees, where the sinusoid peaks; within [-180, 180] up to rounding
    double var_x0 = 0.0;  // variance of x0
    double var_y0 = 0.0;  // variance of y0 (combined fits only)
    double var_p0 = 0.0;  // variance of the cosine coefficient p
    double var_q0 = 0.0;  // variance of the sine coefficient q
    double gofn = 0.0;    // weighted squared residuals per degree of freedom; 0 without any
};

// Phase in degrees of p * cos(phi) + q * sin(phi) with radius = sqrt(p^2 + q^2):
// the mean of the closest pair among the two angles with that cosine and the
// two with that sine; on equal distances the later pair of (c1,s1), (c1,s2),
// (c2,s1), (c2,s2) wins, so a maximum at 180 degrees gives +180, never -180.
// radius 0 gives 0.
double phase_angle(double p, double q, double radius);

}  // namespace orva
