// Loop outline, pin and crystal positions at a rotation angle, and the crystal
// bodies with their projection (orthographic, camera on the +z side).
#include "geometry.h"

#include <algorithm>
#include <cmath>

namespace orva::scenegen {

namespace {

constexpr double PI = 3.14159265358979323846;

Vec3 sub(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec3 add(const Vec3& a, const Vec3& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec3 scale(const Vec3& a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3 rotate(const std::array<double, 9>& m, const Vec3& v) {
    return {m[0] * v.x + m[1] * v.y + m[2] * v.z, m[3] * v.x + m[4] * v.y + m[5] * v.z,
            m[6] * v.x + m[7] * v.y + m[8] * v.z};
}

// Prism over a centrally symmetric base polygon (z = 0) along `extrusion`.
CrystalBody extruded(const std::vector<Vec3>& base, const Vec3& extrusion) {
    CrystalBody body;
    const int n = static_cast<int>(base.size());
    for (const Vec3& b : base) body.vertices.push_back(sub(b, scale(extrusion, 0.5)));
    for (const Vec3& b : base) body.vertices.push_back(add(b, scale(extrusion, 0.5)));
    std::vector<int> bottom, top;
    for (int i = 0; i < n; ++i) {
        bottom.push_back(i);
        top.push_back(n + i);
        const int j = (i + 1) % n;
        body.faces.push_back({i, j, n + j, n + i});
    }
    body.faces.push_back(bottom);
    body.faces.push_back(top);
    return body;
}

std::vector<Vec3> hexagon(double circumradius) {
    std::vector<Vec3> pts;
    for (int k = 0; k < 6; ++k) {
        const double t = k * PI / 3.0;
        pts.push_back({circumradius * std::cos(t), circumradius * std::sin(t), 0.0});
    }
    return pts;
}

}  // namespace

std::array<double, 2> loop_v_range(const Scene& s) {
    switch (s.loop_shape) {
        case LoopShape::Round:
            return {-s.loop_half_width, s.loop_half_width};
        case LoopShape::Oval:
            return {-s.loop_half_height, s.loop_half_height};
        case LoopShape::Teardrop:
            return {-s.loop_half_width, s.loop_half_height};
    }
    return {0.0, 0.0};
}

double loop_half_width_at(const Scene& s, double v) {
    const double a = s.loop_half_width;
    const auto range = loop_v_range(s);
    if (v < range[0] || v > range[1]) return -1.0;
    switch (s.loop_shape) {
        case LoopShape::Round:
            return a * std::sqrt(std::max(0.0, 1.0 - (v / a) * (v / a)));
        case LoopShape::Oval: {
            const double b = s.loop_half_height;
            return a * std::sqrt(std::max(0.0, 1.0 - (v / b) * (v / b)));
        }
        case LoopShape::Teardrop:
            if (v < 0.0) return a * std::sqrt(std::max(0.0, 1.0 - (v / a) * (v / a)));
            return a * std::cos(PI * v / (2.0 * s.loop_half_height));
    }
    return -1.0;
}

std::vector<Point2> loop_centre_line(const Scene& s, double spacing) {
    std::vector<Point2> pts;
    const double a = s.loop_half_width;
    if (s.loop_shape != LoopShape::Teardrop) {
        const double b = s.loop_shape == LoopShape::Oval ? s.loop_half_height : a;
        const int n = std::max(8, static_cast<int>(std::ceil(2.0 * PI * std::max(a, b) / spacing)));
        for (int i = 0; i < n; ++i) {
            const double t = 2.0 * PI * i / n;
            pts.push_back({a * std::sin(t), -b * std::cos(t)});
        }
        return pts;
    }
    // Teardrop: right tail down to the point, left tail back up, then the arc over the top.
    const double tail = s.loop_half_height;
    const double slope = std::sqrt(1.0 + (a * PI / (2.0 * tail)) * (a * PI / (2.0 * tail)));
    const int nt = std::max(4, static_cast<int>(std::ceil(tail * slope / spacing)));
    for (int i = 0; i < nt; ++i) {
        const double v = tail * i / nt;
        pts.push_back({a * std::cos(PI * v / (2.0 * tail)), v});
    }
    for (int i = 0; i < nt; ++i) {
        const double v = tail * (nt - i) / nt;
        pts.push_back({-a * std::cos(PI * v / (2.0 * tail)), v});
    }
    const int na = std::max(4, static_cast<int>(std::ceil(PI * a / spacing)));
    for (int i = 0; i < na; ++i) {
        const double t = -PI / 2.0 + PI * i / na;
        pts.push_back({a * std::sin(t), -a * std::cos(t)});
    }
    return pts;
}

double loop_scale(const Scene& s, double angle_deg) {
    return std::cos((angle_deg - s.loop_plane) * DEG);
}

double loop_normal_at(const Scene& s, double u, double v) {
    const double bottom = loop_v_range(s)[1];
    const double across = s.loop_half_width > 0.0 ? u / s.loop_half_width : 0.0;
    return s.loop_lift + s.loop_tilt * (v - bottom) + s.loop_bend * across * across;
}

double loop_sweep_at(const Scene& s, double v) {
    if (s.loop_sweep == 0.0) return 0.0;
    const auto range = loop_v_range(s);
    const double height = range[1] - range[0];
    return height > 0.0 ? s.loop_sweep * (range[1] - v) / height : 0.0;
}

Point2 loop_point(const Scene& s, double u, double v, double angle_deg) {
    const double t = (angle_deg - s.loop_plane) * DEG;
    double in_plane = u + s.loop_offset;
    if (s.loop_sweep != 0.0) in_plane += loop_sweep_at(s, v);
    return {s.axis + in_plane * std::cos(t) + loop_normal_at(s, u, v) * std::sin(t),
            s.loop_origin + v};
}

bool film_row_extent(const Scene& s, double v, double angle_deg, double& left, double& right) {
    const double hw = loop_half_width_at(s, v);
    if (hw < 0.0) return false;
    // Along the row the column is a quadratic in u: c0 + c1 u + c2 u^2.
    const double t = (angle_deg - s.loop_plane) * DEG;
    const double k = std::cos(t), sn = std::sin(t);
    const double a = s.loop_half_width;
    const double c1 = k;
    const double c2 = a > 0.0 ? s.loop_bend * sn / (a * a) : 0.0;
    auto column = [&](double u) { return loop_point(s, u, v, angle_deg).x; };
    left = std::min(column(-hw), column(hw));
    right = std::max(column(-hw), column(hw));
    if (c2 != 0.0) {
        const double vertex = -c1 / (2.0 * c2);
        if (vertex > -hw && vertex < hw) {
            left = std::min(left, column(vertex));
            right = std::max(right, column(vertex));
        }
    }
    return true;
}

double fibre_thickness(const Scene& s, double t) {
    // Two slow waves round the ring: a drawn fibre is never quite even.
    const double wave = 0.65 * std::sin(2.0 * PI * 2.0 * t + s.fibre_wave_phase[0]) +
                        0.35 * std::sin(2.0 * PI * 5.0 * t + s.fibre_wave_phase[1]);
    const double even = s.fibre * std::max(0.4, 1.0 + s.fibre_variation * wave);
    if (s.knots.empty()) return even;
    double gain = 0.0;
    for (const FibreKnot& k : s.knots) {
        const double d = std::remainder(t - k.t, 1.0) / k.length;
        gain += k.gain * std::exp(-d * d);
    }
    return even * (1.0 + gain);
}

std::vector<Point2> stem_line(const Scene& s, double angle_deg) {
    const double bottom_v = loop_v_range(s)[1];
    const Point2 top = loop_point(s, 0.0, bottom_v, angle_deg);
    const Point2 end{pin_column(s, angle_deg), s.pin_top + 2.0};
    const int n =
        std::max(2, static_cast<int>(std::ceil(std::hypot(end.x - top.x, end.y - top.y))));
    std::vector<Point2> pts;
    for (int i = 0; i <= n; ++i) {
        const double f = static_cast<double>(i) / n;
        const double ease = f * f * (3.0 - 2.0 * f);  // vertical at both ends
        pts.push_back({top.x + (end.x - top.x) * ease, top.y + (end.y - top.y) * f});
    }
    return pts;
}

PolarPosition loop_centre_motion(const Scene& s) {
    // Without folding the row's extreme columns are the ring points u = +-hw, whose
    // middle is the in-plane offset plus the film's displacement there.
    const auto range = loop_v_range(s);
    const int steps = 400;
    double lift = 0.0;
    for (int i = 0; i < steps; ++i) {
        const double v = range[0] + (range[1] - range[0]) * (i + 0.5) / steps;
        lift += loop_normal_at(s, loop_half_width_at(s, v), v);
    }
    lift /= steps;
    double offset = s.loop_offset;
    if (s.loop_sweep != 0.0) {
        double sweep = 0.0;
        for (int i = 0; i < steps; ++i)
            sweep += loop_sweep_at(s, range[0] + (range[1] - range[0]) * (i + 0.5) / steps);
        offset += sweep / steps;
    }
    PolarPosition p;
    p.radius = std::hypot(offset, lift);
    p.phase = s.loop_plane + std::atan2(lift, offset) / DEG;
    return p;
}

double loop_reach(const Scene& s) {
    double reach = 0.0;
    for (const Point2& p : loop_centre_line(s, 2.0))
        reach = std::max(reach, std::hypot(p.x + s.loop_offset + loop_sweep_at(s, p.y),
                                           loop_normal_at(s, p.x, p.y)));
    return reach;
}

double pin_column(const Scene& s, double angle_deg) {
    return s.axis + s.pin_offset * std::cos((angle_deg - s.pin_phase) * DEG);
}

Point2 crystal_centre(const Scene& s, double angle_deg) {
    return {s.axis + s.radius * std::cos((angle_deg - s.phase) * DEG), s.crystal_row};
}

CrystalBody make_crystal_body(CrystalShape shape, double size) {
    switch (shape) {
        case CrystalShape::Plate:
            return extruded(hexagon(0.5 * size), {0.0, 0.0, 0.22 * size});
        case CrystalShape::Prism:
            return extruded(hexagon(0.2 * size), {0.0, 0.0, 0.85 * size});
        case CrystalShape::Needle:
            return extruded(hexagon(0.07 * size), {0.0, 0.0, 0.96 * size});
        case CrystalShape::Rhomb: {
            // Three equal edges at 75 degrees to each other; the long diagonal is `size`.
            const double cos_alpha = std::cos(75.0 * DEG);
            const double cos_theta = std::sqrt((2.0 * cos_alpha + 1.0) / 3.0);
            const double sin_theta = std::sqrt(1.0 - cos_theta * cos_theta);
            const double edge = size / std::sqrt(3.0 + 6.0 * cos_alpha);
            std::array<Vec3, 3> e;
            for (int k = 0; k < 3; ++k) {
                const double t = 2.0 * PI * k / 3.0;
                e[k] = scale({sin_theta * std::cos(t), sin_theta * std::sin(t), cos_theta}, edge);
            }
            const Vec3 h0 = scale(e[0], 0.5), h1 = scale(e[1], 0.5);
            std::vector<Vec3> base = {sub(scale(h0, -1.0), h1), sub(h0, h1), add(h0, h1),
                                      add(scale(h0, -1.0), h1)};
            return extruded(base, e[2]);
        }
    }
    return {};
}

std::vector<ProjectedFace> project_crystal(const Scene& s, const CrystalBody& body,
                                           double angle_deg) {
    const double ca = std::cos(angle_deg * DEG), sa = std::sin(angle_deg * DEG);
    const Vec3 centre{s.radius * std::cos(s.phase * DEG), 0.0, s.radius * std::sin(s.phase * DEG)};
    std::vector<Vec3> world;
    world.reserve(body.vertices.size());
    for (const Vec3& v : body.vertices) world.push_back(rotate(s.crystal_orientation, v));

    std::vector<ProjectedFace> out;
    for (int f = 0; f < static_cast<int>(body.faces.size()); ++f) {
        const std::vector<int>& face = body.faces[f];
        // Newell normal, turned outwards (the body is centred at the origin).
        Vec3 normal, mid;
        for (size_t i = 0; i < face.size(); ++i) {
            const Vec3& p = world[face[i]];
            const Vec3& q = world[face[(i + 1) % face.size()]];
            normal = add(normal, cross(p, q));
            mid = add(mid, p);
        }
        if (dot(normal, mid) < 0.0) normal = scale(normal, -1.0);
        const double len = std::sqrt(dot(normal, normal));
        if (len <= 0.0) continue;
        const double facing = (-normal.x * sa + normal.z * ca) / len;
        if (facing <= 1e-9) continue;
        ProjectedFace pf;
        pf.facing = facing;
        pf.index = f;
        for (int idx : face) {
            const Vec3 p = add(centre, world[idx]);
            pf.polygon.push_back({s.axis + p.x * ca + p.z * sa, s.crystal_row + p.y});
        }
        out.push_back(std::move(pf));
    }
    return out;
}

}  // namespace orva::scenegen
