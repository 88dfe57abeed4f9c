// Geometry of the sample at one rotation angle, in the canonical view (see
// scene.h for the frame and the angle convention).
//
// The loop is a closed nylon ring described by its centre line in its own plane:
// u across (signed, along the loop plane), v along the axis from `loop_origin`,
// + downwards towards the pin.
//   round:    circle of radius a = loop_half_width, v in [-a, a]
//   oval:     ellipse a x b (b = loop_half_height), v in [-b, b]
//   teardrop: upper half circle of radius a (v in [-a, 0]) continued by a tail
//             u = a cos(pi v / 2L) down to a point at v = L = loop_half_height
// A ring point (u, v) appears at column axis + u * cos(angle - loop_plane), row
// loop_origin + v.
//
// The crystal is a centrally symmetric convex polyhedron (hexagonal plate,
// hexagonal prism, rhombohedron), so its projection is symmetric about the
// projected centre and the rendered centroid follows the sinusoid exactly.
#pragma once

#include <array>
#include <vector>

#include "scene.h"

namespace orva::scenegen {

constexpr double DEG = 0.017453292519943295;  // radians per degree

struct Point2 {
    double x = 0.0;  // column (or u)
    double y = 0.0;  // row (or v)
};

struct Vec3 {
    double x = 0.0, y = 0.0, z = 0.0;
};

// v range [top, bottom] of the ring centre line, relative to loop_origin.
std::array<double, 2> loop_v_range(const Scene& scene);

// Half width |u| of the ring centre line at v, or -1 outside the ring.
double loop_half_width_at(const Scene& scene, double v);

// Closed polyline of the ring centre line in (u, v), points at most `spacing` apart.
std::vector<Point2> loop_centre_line(const Scene& scene, double spacing);

// cos(angle - loop_plane): the factor applied to u in the projection.
double loop_scale(const Scene& scene, double angle_deg);

// Projected outer width of the loop (ring plus fibre) at an angle, pixels.
double loop_projected_width(const Scene& scene, double angle_deg);

// Column of the pin's centre line at an angle.
double pin_column(const Scene& scene, double angle_deg);

// Canonical position of the crystal centre at an angle.
Point2 crystal_centre(const Scene& scene, double angle_deg);

// Canonical crystal body: vertices about the origin and faces as vertex index
// cycles (either orientation).
struct CrystalBody {
    std::vector<Vec3> vertices;
    std::vector<std::vector<int>> faces;
};
CrystalBody make_crystal_body(CrystalShape shape, double size);

// One projected face that looks towards the camera: its polygon in canonical
// pixels and |normal . view| (1 when seen face-on).
struct ProjectedFace {
    std::vector<Point2> polygon;
    double facing = 0.0;
    int index = 0;
};
std::vector<ProjectedFace> project_crystal(const Scene& scene, const CrystalBody& body,
                                           double angle_deg);

}  // namespace orva::scenegen
