// Crystal-size estimate, bulge correction, loop tips and the observation
// tables of the motion fit.
#include "analysis/observations.h"

#include <cmath>

namespace orva {

namespace {

// A loop box touching the side strips may be cut off, so its width says
// nothing about the crystal.
constexpr int MIN_BOX_LEFT = 4;
constexpr int RIGHT_EDGE_MARGIN = 5;
constexpr double BULGE_MIN_RATIO = 1.5;
constexpr int BULGE_MIN_EXTRA = 10;

}  // namespace

void ObservationTable::add(double a, double xv, double yv, int q, const char* source) {
    angle.push_back(a);
    image.push_back(q);
    detector.push_back(source);
    x.push_back(xv);
    y.push_back(yv);
    weight.push_back(1.0);
    est_x.push_back(0.0);
    est_y.push_back(0.0);
}

bool ObservationTable::has_position() const {
    for (int i = 0; i < count(); ++i)
        if (x[i] > 0 && y[i] > 0) return true;
    return false;
}

NarrowestLoop narrowest_loop(std::span<const SHAPE_PARAMS> shapes, int cut_width, DriverLog& log,
                             const char* row_format) {
    NarrowestLoop found;
    found.crystal_size = cut_width;
    for (int q = 0; q < static_cast<int>(shapes.size()); ++q) {
        const SHAPE_PARAMS& s = shapes[q];
        if (s.type == NO_OBJECT) continue;
        const int width = static_cast<int>(s.width);
        const bool clear_of_sides = static_cast<int>(s.box_l) > MIN_BOX_LEFT &&
                                    static_cast<long>(s.box_r) < cut_width - RIGHT_EDGE_MARGIN;
        if (width < found.crystal_size && clear_of_sides) {
            found.crystal_size = width;
            found.q_minwidth = q;
        }
        log.write(row_format, q, width);
        log.write(" %4d", found.crystal_size);
    }
    return found;
}

int smallest_width(std::span<const SHAPE_PARAMS> shapes, int cut_width) {
    int smallest = cut_width;
    for (const SHAPE_PARAMS& s : shapes)
        if (static_cast<int>(s.width) < smallest) smallest = static_cast<int>(s.width);
    return smallest;
}

bool bulge_accepted(int max_width, int crystal_size) {
    return max_width >= BULGE_MIN_RATIO * crystal_size &&
           max_width >= crystal_size + BULGE_MIN_EXTRA;
}

bool apply_bulge(std::span<SHAPE_PARAMS> shapes, int q, int x_bulge, int y_bulge) {
    const int centre_y = static_cast<int>(shapes[q].centre_y);
    if (y_bulge <= centre_y) return false;
    const int shift = (y_bulge - centre_y) / 3;
    for (SHAPE_PARAMS& s : shapes)
        s.centre_y = static_cast<unsigned>(static_cast<int>(s.centre_y) + shift);
    shapes[q].centre_y = static_cast<unsigned>(y_bulge);
    shapes[q].centre_x = static_cast<unsigned>(x_bulge);
    return true;
}

void use_loop_tips(std::span<SHAPE_PARAMS> shapes) {
    for (SHAPE_PARAMS& s : shapes) {
        if (s.num_coord_left == 0 || s.x_coord_left.empty() || s.x_coord_right.empty() ||
            s.y_coord_left.empty())
            continue;
        s.centre_x = (s.x_coord_left[0] + s.x_coord_right[0]) / 2;
        s.centre_y = s.y_coord_left[0];
    }
}

ObservationTable loop_centre_observations(std::span<const SHAPE_PARAMS> shapes,
                                          std::span<const double> angles) {
    ObservationTable table;
    for (std::size_t q = 0; q < shapes.size() && q < angles.size(); ++q)
        if (shapes[q].type != NO_OBJECT)
            table.add(angles[q], shapes[q].centre_x, shapes[q].centre_y, static_cast<int>(q),
                      "loop_centre");
    return table;
}

ObservationTable crystal_observations(std::span<const double> angles, std::span<const int> x1,
                                      std::span<const int> y1, std::span<const int> x2,
                                      std::span<const int> y2, std::span<const int> x3,
                                      std::span<const int> y3) {
    ObservationTable table;
    const auto add_found = [&table](double a, int x, int y, std::size_t q, const char* source) {
        if (x > 0 && y > 0) table.add(a, x, y, static_cast<int>(q), source);
    };
    for (std::size_t q = 0; q < angles.size(); ++q) {
        add_found(angles[q], x1[q], y1[q], q, "blob");
        add_found(angles[q], x2[q], y2[q], q, "edges");
        add_found(angles[q], x3[q], y3[q], q, "corners");
    }
    return table;
}

ObservationTable motion_observations(std::span<const double> angles,
                                     std::span<const SHAPE_PARAMS> shapes, std::span<const int> x1,
                                     std::span<const int> y1, std::span<const int> x2,
                                     std::span<const int> y2, std::span<const int> x3,
                                     std::span<const int> y3, bool* loop_centres) {
    ObservationTable table = crystal_observations(angles, x1, y1, x2, y2, x3, y3);
    *loop_centres = !table.has_position();
    if (*loop_centres) table = loop_centre_observations(shapes, angles);
    return table;
}

void log_fit_table(DriverLog& log, const ObservationTable& table, bool mark_angles) {
    log.write("\n#\n# final coord after LS");
    log.write("\n#  phi     x     y ");
    log.write("   weight Final_x Final_y");
    log.write("    dx    dy    dr");
    for (int i = 0; i < table.count(); ++i) {
        if (mark_angles && (i == 0 || table.angle[i] != table.angle[i - 1])) log.write("\n#");
        const double dx = table.x[i] - table.est_x[i];
        const double dy = table.y[i] - table.est_y[i];
        log.write("\n %5.1f", table.angle[i]);
        log.write(" %6.0f", table.x[i]);
        log.write(" %6.0f", table.y[i]);
        log.write(" %6.3f", table.weight[i]);
        log.write(" %6.1f", table.est_x[i]);
        log.write(" %6.1f", table.est_y[i]);
        log.write(" %6.1f", dx);
        log.write(" %6.1f", dy);
        log.write(" %6.1f", std::sqrt(dx * dx + dy * dy));
    }
}

}  // namespace orva
