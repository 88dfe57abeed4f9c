// Result values, reliability, cross images, result record and figures file.
//
// Reliability: with d the crystal diameter and s the total standard deviation
// of the centre (both cut-image pixels), the Maxwell distribution function at
// radius d/2:
//   R = erf(d / (2 sqrt2 s)) - d / (sqrt(2 pi) s) * exp(-d^2 / (8 s^2)).
#include "analysis/result_stage.h"

#include <cmath>
#include <cstdio>

#include "parallel/image_map.h"
#include "toolkit/safe_files.h"

namespace orva {

namespace {

constexpr double TWO_SQRT2 = 2.828427124;
constexpr double SQRT_2PI = 2.5066282746310002;

void warn_too_few_images(int numimg_processed) {
    std::fprintf(stderr, "\n================================");
    std::fprintf(stderr, "================================");
    std::fprintf(stderr, "\n= Warning !! ");
    std::fprintf(stderr, "Number of non-empty images (%d)", numimg_processed);
    std::fprintf(stderr, " is too low for optimal detection!");
    std::fprintf(stderr, "\n================================");
    std::fprintf(stderr, "================================\n");
}

void log_position(DriverLog& log, int loop_pos, const CentrePixels& centre, double radius,
                  double phi0) {
    const bool upright = loop_pos == 0 || loop_pos == 1;
    log.write("\n#\n# angle to rotate crystal into position of");
    log.write(" maximum excursion: %d", static_cast<int>(phi0));
    log.write("\n# maximum excursion in pixels: %d", static_cast<int>(std::floor(radius + 0.5)));
    log.write("\n# position in Y direction");
    log.write(upright ? " (counting from the top): %d" : " (counting from the left): %d",
              centre.final_y);
    log.write("\n# position in X direction");
    log.write(upright ? " (counting from the left): %d" : " (counting from the top): %d",
              centre.final_x);
}

void write_cross_images(const ResultContext& ctx, const CentrePixels& centre, double radius,
                        double phi0, const std::vector<ByteBuffer>& images,
                        std::span<const float> angles, DriverLog& log) {
    std::fprintf(stderr, "\n Output cross images");
    log.write("\n# CRYSTAL_CENTRES: ");
    IMAGE im;
    im.width = static_cast<unsigned>(ctx.width);
    im.height = static_cast<unsigned>(ctx.height);
    im.size = static_cast<unsigned long>(im.width) * im.height;
    std::vector<CrossPosition> positions;
    for (int q = 0; q < ctx.num_images; ++q) {
        const CrossPosition p = cross_position(ctx.frame.loop_pos, centre.final_x, centre.final_y,
                                               radius, phi0, angles[q]);
        log.write("%d,%d ", p.x, p.y);
        positions.push_back(p);
    }
    log.write("\n#");
    // The cross images, then the centre image, each on its own thread. A
    // cross image that cannot be written is only reported.
    map_images(ctx.num_images + 1, [&](int q, int /*slot*/) {
        if (q < ctx.num_images)
            set_cross(images[q], im, q, positions[q].x, positions[q].y);
        else
            write_centre_image(images, positions, ctx.width, ctx.height);
        return 0;
    });
}

// False after a message when the file cannot be created or written completely.
bool write_figures_file(const ResultContext& ctx, const ORVARESULT& result, const PARAMS& mp,
                        const Deviations& dev) {
    std::string reason;
    std::FILE* file = open_output_stream(FIGURES_FILE_NAME, reason);
    if (file == nullptr) {
        std::perror("");
        report_output_failure(FIGURES_FILE_NAME, reason);
        return false;
    }
    std::fputs(figures_header().c_str(), file);
    std::fputs(figures_line(ctx, result, mp, dev).c_str(), file);
    if (close_output_stream(file, reason)) return true;
    report_output_failure(FIGURES_FILE_NAME, reason);
    return false;
}

}  // namespace

bool too_few_images(int numimg_processed, int centre_coord) {
    return numimg_processed < 3 || (numimg_processed < 4 && centre_coord < 0);
}

bool fit_values_usable(const PARAMS& mp, const ResultContext& ctx) {
    const bool with_position = ctx.numimg_processed >= 1 && ctx.position_found;
    auto usable = [](double v) { return std::isfinite(v) && std::fabs(v) <= FIT_VALUE_LIMIT; };
    if (usable(mp.radius) && usable(mp.phi0) &&
        (!with_position || (usable(mp.x0) && usable(mp.y0))))
        return true;
    std::fprintf(stderr,
                 "\norvafunc: the motion fit gave values that are no image position"
                 " (x0 %g, y0 %g, radius %g, phi0 %g)\n",
                 mp.x0, mp.y0, mp.radius, mp.phi0);
    return false;
}

CentrePixels correct_coordinates(double x0, double y0, const CutFrame& frame) {
    int W = frame.cut_width;
    int H = frame.cut_height;
    if (frame.sub_flag == 1) {
        x0 *= 2;
        y0 *= 2;
        W *= 2;
        H *= 2;
    }
    CentrePixels c;
    c.final_y = static_cast<int>(std::floor(y0 + 0.5));
    c.final_x = static_cast<int>(std::floor(x0 + 0.5));
    switch (frame.loop_pos) {
        case 0:
            c.final_x += frame.left;
            c.final_y += frame.top;
            break;
        case 1:
            c.final_x += frame.left;
            c.final_y = (H - 1 - c.final_y) + frame.top;
            break;
        case 2:
            c.final_x += frame.top;
            c.final_y = (H - 1 - c.final_y) + frame.left;
            break;
        default:
            c.final_x = (W - 1 - c.final_x) + frame.top;
            c.final_y += frame.left;
            break;
    }
    return c;
}

void normalise_phase(double& radius, double& phi0, int sub_flag) {
    if (radius < 1.0)
        phi0 = 0.0;
    else if (sub_flag == 1)
        radius *= 2;
    if (phi0 <= -180.0)
        phi0 += 360.0;
    else if (phi0 > 180.0)
        phi0 -= 360.0;
}

Deviations deviations_of(const PARAMS& mp) {
    Deviations dev;
    dev.p = std::sqrt(mp.var_p0);
    dev.q = std::sqrt(mp.var_q0);
    dev.v = std::sqrt(mp.var_y0);
    dev.total = std::sqrt(mp.var_y0 + mp.var_p0 + mp.var_q0);
    return dev;
}

double crystal_reliability(int d, double s) {
    if (!(s > 0)) return -1.0;
    const double dd = d;
    return std::erf(dd / (TWO_SQRT2 * s)) - dd / (SQRT_2PI * s) * std::exp(-dd * dd / (8 * s * s));
}

int reliability_percent(double reliability) {
    if (reliability < 0) return static_cast<int>(std::floor(reliability));
    return static_cast<int>(std::floor(100 * reliability));
}

CrossPosition cross_position(int loop_pos, int final_x, int final_y, double radius, double phi0,
                             double angle) {
    const double c = std::cos((angle - phi0) * DEG_TO_RAD);
    CrossPosition p;
    if (loop_pos == 0 || loop_pos == 1) {
        p.x = static_cast<int>(std::floor(0.5 + final_x + c * radius));
        p.y = final_y;
    } else if (loop_pos == 2) {
        p.x = final_y;
        p.y = static_cast<int>(std::floor(0.5 + final_x + c * radius));
    } else {
        p.x = final_y;
        p.y = static_cast<int>(std::floor(0.5 + final_x - c * radius));
    }
    return p;
}

std::string figures_header() {
    return std::string("#img  w    h   phi0 radius Y_POS X_POS") +
           "  DEV_P  DEV_Q  DEV_2D  DEV_V  ESD" +
           "    GoF  C_radius  precentring reliability DEV_X0\n";
}

std::string figures_line(const ResultContext& ctx, const ORVARESULT& result, const PARAMS& mp,
                         const Deviations& dev) {
    const int c_radius = ctx.frame.sub_flag == 1 ? ctx.crystal_size : ctx.crystal_size / 2;
    char line[512];
    std::snprintf(line, sizeof line,
                  "%3d %4d %4d %4d %4d    %4d %4d   %6.3f %6.3f  %6.3f %6.3f %6.3f %6.3f %d"
                  "     %7d         %3d     %6.3f\n",
                  ctx.num_images, ctx.width, ctx.height, result.phi, result.radius, result.y_centre,
                  result.x_centre, dev.p, dev.q, std::sqrt((mp.var_q0 + mp.var_p0) * 0.5), dev.v,
                  dev.total, mp.gofn, c_radius, result.precentring_flag, result.reliability,
                  std::sqrt(mp.var_x0));
    return line;
}

int result_stage(PARAMS& mp, const ResultContext& ctx, const std::vector<ByteBuffer>& images,
                 std::span<const float> angles, DriverLog& log, ORVARESULT& result) {
    if (!fit_values_usable(mp, ctx)) return UNUSABLE_FIT;
    log.write("\n#----------------------------------------");
    log.write("\n# correction of coordinates according");
    log.write(" loop position and cut borders");
    log.write("\n#----------------------------------------");

    CentrePixels centre;
    if (ctx.numimg_processed >= 1 && ctx.position_found)
        centre = correct_coordinates(mp.x0, mp.y0, ctx.frame);

    double radius = mp.radius;
    double phi0 = mp.phi0;
    normalise_phase(radius, phi0, ctx.frame.sub_flag);
    mp.radius = radius;
    mp.phi0 = phi0;
    log_position(log, ctx.frame.loop_pos, centre, radius, phi0);

    Deviations dev;
    double reliability = ctx.reliability;
    if (too_few_images(ctx.numimg_processed, ctx.centre_coord)) {
        warn_too_few_images(ctx.numimg_processed);
    } else {
        dev = deviations_of(mp);
        log.write("\n#\n# Deviation of coordinates");
        log.write("\n# p_dev: %.3f", dev.p);
        log.write("\t q_dev: %.3f", dev.q);
        log.write("\t v_dev: %.3f", dev.v);
        log.write("\t TOTALdev : %.3f", dev.total);
        log.write("\n#\n# Crystal diameter: %d",
                  ctx.frame.sub_flag == 1 ? 2 * ctx.crystal_size : ctx.crystal_size);
        if (!ctx.reliability_fixed) reliability = crystal_reliability(ctx.crystal_size, dev.total);
    }

    log.write("\n#\n# cosine parameter in original image");
    log.write("\n# %d + %6.1f * cos( (phi - %6.1f) * pi/180)", centre.final_x, radius, phi0);
    log.write("\n#");

    if (ctx.set_cross_flag == 1) write_cross_images(ctx, centre, radius, phi0, images, angles, log);

    result.phi = static_cast<int>(std::floor(phi0));
    result.radius = static_cast<int>(std::floor(radius + 0.5));
    result.x_centre = centre.final_x;
    result.y_centre = centre.final_y;
    result.loop_width = ctx.maxwidth;
    result.right_border = ctx.width - ctx.forrightborder;
    result.reliability = reliability_percent(reliability);
    result.precentring_flag = ctx.precentring_flag;

    // Like the run log, a figures file that was asked for and cannot be
    // written fails the run.
    if (ctx.write_figures && !write_figures_file(ctx, result, mp, dev)) return DRIVER_LOG_ERROR;
    return 0;
}

}  // namespace orva
