// Resolves a scene: every option the user left unset is drawn from the seed, in a
// fixed order, so that one seed always gives one scene. Sizes default to fractions
// of the canonical view so that any image size gives a similar view: a centring
// zoom, the loop 0.45 to 0.6 of the view's height along the axis wide (less where
// it would not fit across), off the axis, leaning and
// sagging a little, on a short stem and a thin pin that sits on the axis. The
// crystal's radius and phase are kept exactly; the ring is placed around it.
// Returns 0, or 1 with a message for options that cannot make a scene.
#include "scene.h"

#include <algorithm>
#include <cmath>

#include "geometry.h"

namespace orva::scenegen {

namespace {

double normalise_angle(double a) {
    while (a > 180.0) a -= 360.0;
    while (a <= -180.0) a += 360.0;
    return a;
}

std::array<double, 9> rotation_from_angles(double yaw, double pitch, double roll) {
    const double cy = std::cos(yaw), sy = std::sin(yaw);
    const double cp = std::cos(pitch), sp = std::sin(pitch);
    const double cr = std::cos(roll), sr = std::sin(roll);
    // R = Ry(yaw) * Rx(pitch) * Rz(roll), row-major.
    const std::array<double, 9> ry{cy, 0, sy, 0, 1, 0, -sy, 0, cy};
    const std::array<double, 9> rx{1, 0, 0, 0, cp, -sp, 0, sp, cp};
    const std::array<double, 9> rz{cr, -sr, 0, sr, cr, 0, 0, 0, 1};
    auto mul = [](const std::array<double, 9>& a, const std::array<double, 9>& b) {
        std::array<double, 9> m{};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k) m[3 * i + j] += a[3 * i + k] * b[3 * k + j];
        return m;
    };
    return mul(ry, mul(rx, rz));
}

// Places the ice specks or bubbles inside the film, away from the crystal.
std::vector<FilmSpot> place_spots(const Scene& s, Rng& rng, int count, double rmin, double rmax) {
    std::vector<FilmSpot> spots;
    const auto range = loop_v_range(s);
    for (int i = 0, tries = 0; i < count && tries < 200 * count; ++tries) {
        FilmSpot spot;
        spot.r = rng.uniform(rmin, rmax);
        spot.v = rng.uniform(range[0], range[1]);
        const double w = loop_half_width_at(s, spot.v) - s.fibre - spot.r;
        if (w <= 0.0) continue;
        spot.u = rng.uniform(-w, w);
        if (s.has_crystal) {
            const double du = spot.u - s.crystal_u;
            const double dv = spot.v - s.crystal_v;
            if (std::hypot(du, dv) < 0.6 * s.crystal_size + spot.r) continue;
        }
        spots.push_back(spot);
        ++i;
    }
    return spots;
}

// Knots and dirt come from streams of their own, so that asking for them leaves
// every other draw of the seed as it was.
constexpr std::uint64_t KNOT_STREAM = 0x6B6E6F7473ULL;
constexpr std::uint64_t DIRT_STREAM = 0x6469727421ULL;

std::vector<FibreKnot> place_knots(const Scene& s, int count) {
    const std::vector<Point2> line = loop_centre_line(s, 1.0);
    double perimeter = 0.0;
    for (size_t i = 0; i < line.size(); ++i) {
        const Point2& q = line[(i + 1) % line.size()];
        perimeter += std::hypot(q.x - line[i].x, q.y - line[i].y);
    }
    Rng rng(s.opt.seed ^ KNOT_STREAM);
    std::vector<FibreKnot> knots;
    for (int i = 0; i < count; ++i) {
        FibreKnot k;
        k.t = rng.uniform();
        k.length = rng.uniform(1.2, 2.0) * s.fibre / std::max(perimeter, 1.0);
        k.gain = rng.uniform(0.6, 1.4);
        knots.push_back(k);
    }
    return knots;
}

// Specks on the optics: anywhere in the middle of the view, some of them in clumps.
std::vector<DirtSpeck> place_dirt(const Scene& s, int count) {
    const double m = std::min(s.can_width, s.can_height);
    Rng rng(s.opt.seed ^ DIRT_STREAM);
    std::vector<DirtSpeck> dirt;
    for (int i = 0; i < count; ++i) {
        DirtSpeck d;
        d.x = rng.uniform(0.15, 0.85) * s.can_width;
        d.y = rng.uniform(0.1, 0.9) * s.can_height;
        d.r = rng.uniform(1.5, std::max(2.5, 0.012 * m));
        d.absorbance = rng.uniform(0.25, 0.6);
        const int clump = rng.index(3);
        dirt.push_back(d);
        for (int j = 0; j < clump; ++j) {
            DirtSpeck part = d;
            part.x += rng.uniform(-1.2, 1.2) * d.r;
            part.y += rng.uniform(-1.2, 1.2) * d.r;
            part.r *= rng.uniform(0.5, 0.9);
            dirt.push_back(part);
        }
    }
    return dirt;
}

}  // namespace

std::vector<double> series_angles(const SceneOptions& opt) {
    // Kept to a hundredth of a degree: the job file states them that way, and the
    // images must show exactly the angles it states.
    auto hundredths = [](double a) { return std::round(a * 100.0) / 100.0; };
    std::vector<double> angles;
    if (!opt.angles.empty()) {
        for (double a : opt.angles) angles.push_back(hundredths(a));
        return angles;
    }
    const double step = opt.step ? *opt.step : 360.0 / std::max(1, opt.num_images);
    for (int i = 0; i < opt.num_images; ++i)
        angles.push_back(hundredths(opt.start_angle + step * i));
    return angles;
}

int resolve_scene(const SceneOptions& opt, Scene& s, std::string& error) {
    s = Scene{};
    s.opt = opt;
    if (opt.width < 16 || opt.height < 16 || opt.width > 20000 || opt.height > 20000) {
        error = "image size must be between 16 and 20000 pixels per side";
        return 1;
    }
    if (opt.loop_position < 0 || opt.loop_position > 3) {
        error = "loop position must be 0, 1, 2 or 3";
        return 1;
    }
    s.angles = series_angles(opt);
    if (s.angles.empty() || s.angles.size() > 40) {
        error = "the series needs 1 to 40 angles";
        return 1;
    }
    const bool turned = opt.loop_position >= 2;
    s.can_width = turned ? opt.height : opt.width;
    s.can_height = turned ? opt.width : opt.height;
    const double cw = s.can_width, ch = s.can_height;
    const double m = std::min(cw, ch);

    // Fixed draw order: every draw is made whether or not an option overrides it,
    // so setting one option does not change the others.
    Rng rng(opt.seed);
    const double d_axis = rng.uniform(-0.06, 0.06) * cw;
    const double d_loop_size = rng.uniform(0.45, 0.6) * ch;
    const auto d_shape = static_cast<LoopShape>(rng.index(3));
    const double d_loop_top = rng.uniform(0.05, 0.12) * ch;
    const double d_stem = rng.uniform(0.05, 0.1) * ch;
    const double d_pin_scale = rng.uniform(0.3, 0.5);
    const double d_pin_offset = rng.uniform(0.0, 0.3);
    const double d_pin_phase = rng.uniform(-180.0, 180.0);
    const bool d_plastic = rng.uniform() < 0.3;
    const auto d_cshape = static_cast<CrystalShape>(rng.index(3));
    const double d_csize = rng.uniform(0.2, 0.45);
    const double d_phase = rng.uniform(-180.0, 180.0);
    const double d_offset = rng.uniform(-0.3, 0.3);
    const double d_across = rng.uniform(-0.85, 0.85);
    const double yaw = rng.uniform(0.0, 6.283185307179586);
    const double pitch = rng.uniform(-1.2, 1.2);
    const double roll = rng.uniform(0.0, 6.283185307179586);
    s.gradient_direction = rng.uniform(0.0, 6.283185307179586);
    const double d_loop_offset = rng.uniform(0.1, 0.25) * (rng.uniform() < 0.5 ? -1.0 : 1.0);
    const double d_tilt = rng.uniform(6.0, 20.0) * (rng.uniform() < 0.5 ? -1.0 : 1.0);
    const double d_bend = rng.uniform(0.03, 0.1) * (rng.uniform() < 0.5 ? -1.0 : 1.0);
    const double d_plane_turn = rng.uniform(-12.0, 12.0);
    s.fibre_wave_phase = {rng.uniform(0.0, 6.283185307179586), rng.uniform(0.0, 6.283185307179586)};

    s.has_loop = opt.kind == SceneKind::Crystal || opt.kind == SceneKind::Loop;
    s.has_crystal = opt.kind == SceneKind::Crystal;
    s.has_pin = opt.kind != SceneKind::Empty;
    // A pin turning on its axis looks alike in every view: only a background
    // image shows it to change detection.
    s.background = !opt.no_background && (opt.background || opt.kind == SceneKind::Pin);

    // Loop: outer width given, centre line half a fibre inside. The default is a
    // centring zoom, the loop large in the view, made smaller only where the loop,
    // its stem and a little pin would not fit.
    s.loop_shape = opt.loop_shape ? *opt.loop_shape : d_shape;
    const double loop_top = opt.loop_top ? *opt.loop_top : d_loop_top;
    const double stem = opt.stem_length ? *opt.stem_length : d_stem;
    double loop_size = d_loop_size;
    if (!opt.loop_size) {
        const double height_factor = s.loop_shape == LoopShape::Oval       ? 1.3
                                     : s.loop_shape == LoopShape::Teardrop ? 1.25
                                                                           : 1.0;
        const double offset_room =
            opt.loop_offset ? std::fabs(*opt.loop_offset) / loop_size : std::fabs(d_loop_offset);
        loop_size = std::min(loop_size, (0.92 * ch - loop_top - stem) / height_factor);
        loop_size = std::min(loop_size, (0.5 * cw - 6.0) / (0.62 + offset_room));
        loop_size = std::max(loop_size, 8.0);
    } else {
        loop_size = *opt.loop_size;
    }
    s.fibre = opt.fibre ? *opt.fibre : std::max(2.0, 0.018 * loop_size);
    s.fibre_variation = opt.fibre_variation ? *opt.fibre_variation : 0.25;
    s.stem_width = 1.6 * s.fibre;
    s.loop_half_width = std::max(2.0, 0.5 * (loop_size - s.fibre));
    s.loop_half_height = s.loop_shape == LoopShape::Oval       ? 1.3 * s.loop_half_width
                         : s.loop_shape == LoopShape::Teardrop ? 1.5 * s.loop_half_width
                                                               : s.loop_half_width;
    const auto range = loop_v_range(s);
    s.loop_origin = loop_top + 0.5 * s.fibre - range[0];
    const double loop_bottom = s.loop_origin + range[1];
    s.loop_tilt = std::tan((opt.loop_tilt ? *opt.loop_tilt : d_tilt) * DEG);
    s.loop_bend = opt.loop_bend ? *opt.loop_bend : d_bend * loop_size;
    s.loop_sweep = opt.loop_sweep;

    // Pin: below the loop's stem; in a pin-only view a wide pin through the whole
    // view, its end beyond the top edge, as before the loop is brought in. It leaves
    // more than half the view clear, or the background image would not be usable.
    const double pin_width = opt.pin_width                ? *opt.pin_width
                             : opt.kind == SceneKind::Pin ? std::min(0.6 * m, 0.46 * cw)
                                                          : d_pin_scale * loop_size;
    s.pin_half_width = 0.5 * pin_width;
    s.pin_taper = 1.2 * s.pin_half_width;
    s.pin_offset = opt.pin_offset ? *opt.pin_offset : d_pin_offset;
    s.pin_phase = d_pin_phase;
    s.plastic_pin = opt.plastic_pin ? *opt.plastic_pin : d_plastic;
    s.pin_top = s.has_loop ? loop_bottom + stem : (opt.loop_top ? *opt.loop_top : -0.17 * ch);

    // The loop plane turns a little away from the crystal's azimuth; a plane and
    // its half-turn are the same plane, so the crystal's side of the axis is +u.
    s.phase = normalise_angle(opt.phase ? *opt.phase : d_phase);
    s.loop_plane = opt.loop_plane ? *opt.loop_plane : s.phase - d_plane_turn;
    double turn = normalise_angle(s.phase - s.loop_plane);
    if (s.has_crystal && std::fabs(turn) > 90.0) {
        s.loop_plane += 180.0;
        turn = normalise_angle(s.phase - s.loop_plane);
    }
    const double default_offset = d_loop_offset * loop_size;

    if (s.has_crystal) {
        s.crystal_shape = opt.crystal_shape ? *opt.crystal_shape : d_cshape;
        s.crystal_size = opt.crystal_size ? *opt.crystal_size : d_csize * loop_size;
        const double inner_half_height = 0.5 * (range[1] - range[0]) - s.fibre;
        const double along_share =
            opt.crystal_along ? std::clamp(*opt.crystal_along, -1.0, 1.0) : d_offset;
        const double offset =
            opt.crystal_offset
                ? *opt.crystal_offset
                : along_share * std::max(0.0, inner_half_height - 0.5 * s.crystal_size);
        s.crystal_v = 0.5 * (range[0] + range[1]) + offset;
        s.crystal_row = s.loop_origin + s.crystal_v;
        const double room = loop_half_width_at(s, s.crystal_v) -
                            s.fibre * (1.0 + s.fibre_variation) - 0.5 * s.crystal_size;
        const double across =
            opt.crystal_across ? std::clamp(*opt.crystal_across, -1.0, 1.0) : d_across;
        // The crystal's distance from the axis within the loop plane, and the ring
        // placed around it: off the axis, yet holding the crystal.
        double along = 0.0;
        if (opt.radius) {
            if (*opt.radius < 0.0) {
                error = "the radius must not be negative";
                return 1;
            }
            s.radius = *opt.radius;
            along = s.radius * std::cos(turn * DEG);
            // The ring leans towards the crystal's side and keeps it off the fibre
            // where there is room.
            const double towards =
                along < 0.0 ? -std::fabs(default_offset) : std::fabs(default_offset);
            const double slack = 0.8 * room;
            s.loop_offset = opt.loop_offset      ? *opt.loop_offset
                            : opt.crystal_across ? along - across * std::max(0.0, room)
                            : room > 0.0         ? std::clamp(towards, along - slack, along + slack)
                                                 : along;
        } else {
            s.loop_offset = opt.loop_offset ? *opt.loop_offset : default_offset;
            along = s.loop_offset + across * std::max(0.0, room);
            if (along < 0.0 && !opt.loop_offset) {
                s.loop_offset = -s.loop_offset;  // the mirror image holds the crystal too
                along = -along;
            }
            along = std::max(0.0, along);
            s.radius = along / std::max(0.25, std::cos(turn * DEG));
            along = s.radius * std::cos(turn * DEG);
        }
        // So far loop_offset is the ring's centre at the crystal's row; a bent
        // ring has it elsewhere at its lowest point.
        s.crystal_u = along - s.loop_offset;
        s.loop_offset -= loop_sweep_at(s, s.crystal_v);
        // The film passes through the crystal's centre.
        const double out_of_plane = s.radius * std::sin(turn * DEG);
        s.loop_lift = 0.0;
        s.loop_lift = out_of_plane - loop_normal_at(s, s.crystal_u, s.crystal_v);
    } else {
        // The neck stays on the plane through the axis; the lean moves the ring off it.
        s.loop_offset = opt.loop_offset ? *opt.loop_offset : default_offset;
        s.loop_lift = 0.0;
    }

    // The default axis keeps the whole loop in view at every angle.
    s.axis = opt.axis ? *opt.axis : 0.5 * (cw - 1.0) + d_axis;
    if (!opt.axis && s.has_loop) {
        const double reach = loop_reach(s) + s.fibre * (1.0 + s.fibre_variation) + 4.0;
        const double lo = reach, hi = cw - 1.0 - reach;
        s.axis = lo <= hi ? std::clamp(s.axis, lo, hi) : 0.5 * (cw - 1.0);
    }

    if (s.crystal_shape == CrystalShape::Plate) {
        // A plate lies in the film: its flat face along the film normal, spun in plane.
        const double plane = s.loop_plane * DEG;
        s.crystal_orientation = rotation_from_angles(-plane, 0.3 * pitch, roll);
    } else {
        s.crystal_orientation = rotation_from_angles(yaw, pitch, roll);
    }
    const CrystalBody body = make_crystal_body(s.crystal_shape, s.crystal_size);
    for (size_t f = 0; f < body.faces.size(); ++f) s.face_shade.push_back(rng.uniform(0.75, 1.25));

    if (s.has_loop && opt.knots > 0) s.knots = place_knots(s, opt.knots);
    if (opt.dirt > 0) s.dirt = place_dirt(s, opt.dirt);
    if (s.has_loop) {
        s.ice = place_spots(s, rng, opt.ice, 1.0, std::max(1.5, 0.012 * m));
        s.bubbles =
            place_spots(s, rng, opt.bubbles, std::max(2.5, 0.01 * m), std::max(4.0, 0.025 * m));
    }
    return 0;
}

}  // namespace orva::scenegen
