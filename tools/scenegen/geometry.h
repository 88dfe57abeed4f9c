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
// A ring or film point (u, v) appears at row loop_origin + v and column
//   axis + (u + loop_offset + w(v)) * cos(angle - loop_plane) + n(u, v) * sin(angle - loop_plane)
// with n the film's displacement out of the loop plane and w the in-plane bend (scene.h). Rows
// therefore never depend on the angle: the lean and the bend are shears.
//
// The crystal is a centrally symmetric convex polyhedron (hexagonal plate,
// hexagonal prism, rhombohedron, hexagonal needle), so its projection is symmetric about the
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

// cos(angle - loop_plane): the factor applied to in-plane offsets in the projection.
double loop_scale(const Scene& scene, double angle_deg);

// Displacement of the film out of the loop plane at (u, v), pixels.
double loop_normal_at(const Scene& scene, double u, double v);

// In-plane displacement w(v) of the ring bent to one side (scene.h); 0 when unbent.
double loop_sweep_at(const Scene& scene, double v);

// Canonical position of the film point (u, v) at an angle.
Point2 loop_point(const Scene& scene, double u, double v, double angle_deg);

// Columns [left, right] that the film row v (between the ring's centre lines)
// covers at an angle; false when v lies outside the ring.
bool film_row_extent(const Scene& scene, double v, double angle_deg, double& left, double& right);

// Fibre thickness at the fraction t (0..1) of the way round the ring's centre line.
double fibre_thickness(const Scene& scene, double t);

// Centre line of the stem at an angle, from the ring's lowest point down into the
// pin's end: it leaves the ring and enters the pin along the axis direction.
std::vector<Point2> stem_line(const Scene& scene, double angle_deg);

// Sample-frame position of a point in polar form: its column at angle a is
// axis + radius * cos(a - phase).
struct PolarPosition {
    double radius = 0.0;
    double phase = 0.0;  // degrees
};

// The motion of the loop's centre: the mean over the ring's rows of the middle of
// each row's extent follows axis + radius * cos(a - phase) (while no row folds over,
// i.e. away from exactly edge-on views of a sagging film).
PolarPosition loop_centre_motion(const Scene& scene);

// Largest distance of the ring's centre line from the axis at any angle, pixels.
double loop_reach(const Scene& scene);

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
