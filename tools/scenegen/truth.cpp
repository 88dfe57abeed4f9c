// Ground truth from the resolved scene: canonical geometry turned into the
// result frame of the loop position (see truth.h), mean loop width by numeric
// integration over the ring's rows, crystal diameter from the projected faces.
// The pin's tip is the end of the pin that can be seen: where it leaves the view
// when its end lies beyond the edge.
#include "truth.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace orva::scenegen {

namespace {

double polygon_area(const std::vector<Point2>& p) {
    double a = 0.0;
    for (size_t i = 0; i < p.size(); ++i) {
        const Point2& q = p[(i + 1) % p.size()];
        a += p[i].x * q.y - q.x * p[i].y;
    }
    return 0.5 * std::fabs(a);
}

// Mean outer width over the ring's rows (fibre included) at an angle.
double mean_loop_width(const Scene& s, double angle) {
    const auto range = loop_v_range(s);
    const int steps = 400;
    double sum = 0.0;
    for (int i = 0; i < steps; ++i) {
        const double v = range[0] + (range[1] - range[0]) * (i + 0.5) / steps;
        double left = 0.0, right = 0.0;
        if (film_row_extent(s, v, angle, left, right)) sum += right - left;
        sum += s.fibre;
    }
    // The fibre adds half its thickness above and below the centre line.
    const double rows = range[1] - range[0] + s.fibre;
    return (sum / steps * (range[1] - range[0]) + s.fibre * s.fibre) / rows;
}

const char* kind_name(SceneKind k) {
    switch (k) {
        case SceneKind::Crystal:
            return "crystal";
        case SceneKind::Loop:
            return "loop";
        case SceneKind::Pin:
            return "pin";
        case SceneKind::Empty:
            return "empty";
    }
    return "?";
}

const char* loop_shape_name(LoopShape s) {
    switch (s) {
        case LoopShape::Round:
            return "round";
        case LoopShape::Oval:
            return "oval";
        case LoopShape::Teardrop:
            return "teardrop";
    }
    return "?";
}

}  // namespace

const char* crystal_shape_name(CrystalShape s) {
    switch (s) {
        case CrystalShape::Plate:
            return "plate";
        case CrystalShape::Prism:
            return "prism";
        case CrystalShape::Rhomb:
            return "rhomb";
        case CrystalShape::Needle:
            return "needle";
    }
    return "?";
}

Point2 canonical_to_result(double c, double r, int loop_position, int width, int height) {
    switch (loop_position) {
        case 1:
            return {c, height - 1.0 - r};
        case 2:
            return {c, width - 1.0 - r};
        case 3:
            return {height - 1.0 - c, r};
        default:
            return {c, r};
    }
}

int result_motion_sign(int loop_position) {
    return loop_position == 3 ? -1 : 1;
}

Truth compute_truth(const Scene& s) {
    const SceneOptions& o = s.opt;
    Truth t;
    t.kind = o.kind;
    t.loop_position = o.loop_position;
    t.width = o.width;
    t.height = o.height;
    t.num_images = static_cast<int>(s.angles.size());
    t.half_resolution = o.width + o.height > 1800;
    const int pos = o.loop_position;
    auto to_result = [&](double c, double r) {
        return canonical_to_result(c, r, pos, o.width, o.height);
    };

    t.axis = to_result(s.axis, 0.0).x;
    if (s.has_pin) {
        const Point2 tip = to_result(s.axis, std::max(0.0, s.pin_top));
        t.pin_tip_x = tip.x;
        t.pin_tip_y = tip.y;
    }
    if (s.has_loop) {
        const auto range = loop_v_range(s);
        const Point2 centre = to_result(s.axis, s.loop_origin + 0.5 * (range[0] + range[1]));
        t.loop_x = centre.x;
        t.loop_y = centre.y;
        double sum = 0.0;
        for (double a : s.angles) sum += mean_loop_width(s, a);
        t.loop_width_px = sum / s.angles.size();
        t.loop_width = t.half_resolution ? 0.5 * t.loop_width_px : t.loop_width_px;
        t.loop_width_max = 2.0 * s.loop_half_width + s.fibre;
        const PolarPosition motion = loop_centre_motion(s);
        t.loop_radius = motion.radius;
        t.loop_phase = std::remainder(motion.phase, 360.0);
        if (t.loop_phase <= -180.0) t.loop_phase += 360.0;
    }
    if (s.has_crystal) {
        const Point2 c = to_result(s.axis, s.crystal_row);
        t.crystal_x = c.x;
        t.crystal_y = c.y;
        t.crystal_size = s.crystal_size;
        const CrystalBody body = make_crystal_body(s.crystal_shape, s.crystal_size);
        double sum = 0.0;
        for (double a : s.angles) {
            double area = 0.0;
            for (const ProjectedFace& f : project_crystal(s, body, a))
                area += polygon_area(f.polygon);
            sum += 2.0 * std::sqrt(area / 3.141592653589793);
        }
        t.crystal_diameter = sum / s.angles.size();
    }

    // What the result should say for this kind of job.
    t.x_centre = t.axis;
    if (o.kind == SceneKind::Empty) {
        t.has_motion = t.has_angle = false;
        t.x_centre = t.y_centre = -1.0;
        t.precentring = 1;
    } else if (o.kind == SceneKind::Pin) {
        t.y_centre = t.pin_tip_y;
        t.radius = s.pin_offset;
        t.target_angle = s.pin_phase;
        t.precentring = 1;
    } else if (o.kind == SceneKind::Loop || o.prealign) {
        // The loop's centre, off the axis, turns with the sample.
        t.y_centre = t.loop_y;
        t.radius = t.loop_radius;
        t.target_angle = t.loop_phase;
        t.precentring = 1;
    } else {
        t.y_centre = t.crystal_y;
        t.radius = s.radius;
        t.target_angle = s.phase;
        t.precentring = 0;
    }
    return t;
}

int write_truth(const std::string& path, const Scene& s, const Truth& t, std::string& error) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return 1;
    }
    std::fprintf(
        f,
        "# scenegen ground truth (seed %llu)\n"
        "# Pixels of the input images. X_CENTRE: the spindle axis, a column from the left\n"
        "# for loop positions 0 and 1, a row from the top for 2 and 3. Y_CENTRE: along the\n"
        "# axis, a row from the top for 0 and 1, a column from the left for 2 and 3.\n"
        "# At rotation angle a the crystal centre lies at\n"
        "#   X_CENTRE + MOTION_SIGN * RADIUS * cos(a - TARGET_ANGLE)   (degrees)\n"
        "# along X_CENTRE's direction, at Y_CENTRE along the axis. TARGET_ANGLE is the\n"
        "# angle of the largest excursion in the program's upright view, in (-180, 180];\n"
        "# MOTION_SIGN is -1 for loop position 3, whose upright columns run against the\n"
        "# input rows, else +1. LOOP_WIDTH is in result-file units (halved when the\n"
        "# program works at half resolution, width + height > 1800). The loop's centre\n"
        "# (LOOP_X_CENTRE, LOOP_Y_CENTRE: the axis and the middle of the ring's rows)\n"
        "# is off the axis: the middle of its rows' extent moves as\n"
        "#   LOOP_X_CENTRE + MOTION_SIGN * LOOP_RADIUS * cos(a - LOOP_PHASE),\n"
        "# which is what a loop or pre-alignment result gives as RADIUS and TARGET_ANGLE.\n"
        "# PIN_TIP is the end of the pin that shows, the view's edge when the pin\n"
        "# reaches beyond it.\n"
        "# Keys missing below are not defined for this scene.\n",
        static_cast<unsigned long long>(s.opt.seed));
    std::fprintf(f, "SCENE %s\n", kind_name(t.kind));
    std::fprintf(f, "LOOP_POSITION %d\nIMAGE_WIDTH %d\nIMAGE_HEIGHT %d\nNUMBER_OF_IMAGES %d\n",
                 t.loop_position, t.width, t.height, t.num_images);
    std::fprintf(f, "HALF_RESOLUTION %d\nMOTION_SIGN %d\n", t.half_resolution ? 1 : 0,
                 result_motion_sign(t.loop_position));
    if (t.has_angle) std::fprintf(f, "TARGET_ANGLE %.2f\n", t.target_angle);
    if (t.has_motion) std::fprintf(f, "RADIUS %.2f\n", t.radius);
    std::fprintf(f, "Y_CENTRE %.2f\nX_CENTRE %.2f\nPRECENTRING %d\n", t.y_centre, t.x_centre,
                 t.precentring);
    if (s.has_loop)
        std::fprintf(f, "LOOP_WIDTH %.2f\nLOOP_WIDTH_PX %.2f\nLOOP_WIDTH_MAX %.2f\n", t.loop_width,
                     t.loop_width_px, t.loop_width_max);
    if (s.has_pin || s.has_loop) std::fprintf(f, "AXIS %.2f\n", t.axis);
    if (s.has_crystal)
        std::fprintf(f,
                     "CRYSTAL_X_CENTRE %.2f\nCRYSTAL_Y_CENTRE %.2f\nCRYSTAL_RADIUS %.2f\n"
                     "CRYSTAL_PHASE %.2f\nCRYSTAL_SIZE %.2f\nCRYSTAL_DIAMETER %.2f\n",
                     t.crystal_x, t.crystal_y, s.radius, s.phase, t.crystal_size,
                     t.crystal_diameter);
    if (s.has_crystal) std::fprintf(f, "CRYSTAL_SHAPE %s\n", crystal_shape_name(s.crystal_shape));
    if (s.has_loop) std::fprintf(f, "LOOP_SHAPE %s\n", loop_shape_name(s.loop_shape));
    if (s.has_loop)
        std::fprintf(f,
                     "LOOP_X_CENTRE %.2f\nLOOP_Y_CENTRE %.2f\nLOOP_RADIUS %.2f\nLOOP_PHASE %.2f\n",
                     t.loop_x, t.loop_y, t.loop_radius, t.loop_phase);
    if (s.has_pin) std::fprintf(f, "PIN_TIP_X %.2f\nPIN_TIP_Y %.2f\n", t.pin_tip_x, t.pin_tip_y);
    std::fprintf(f, "ANGLES");
    for (double a : s.angles) std::fprintf(f, " %.2f", a);
    std::fprintf(f, "\n");
    const bool bad = std::ferror(f) != 0;
    if (std::fclose(f) != 0 || bad) {
        error = "cannot write " + path;
        return 1;
    }
    return 0;
}

}  // namespace orva::scenegen
