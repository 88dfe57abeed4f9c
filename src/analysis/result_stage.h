// The end of an analysis run: the fitted motion, in cut-image pixels, turned
// into input-image pixels; the phase folded into (-180, 180]; the reliability
// of the centre; the cross images; the result record; the figures file
// "log_res2.txt" and the closing lines of the run log.
//
// Coordinate conventions of the result: for loop positions 0 and 1 final_x is
// the input column of the spindle axis and final_y the input row of the
// crystal; for 2 and 3 final_x is an input row and final_y an input column.
// The crystal moves as final_x + radius * cos(angle - phi0), angle in degrees,
// except for loop position 3 where the cut columns run against the input rows
// (final_x - radius * cos(angle - phi0)). The stage fails only on a fit whose
// values cannot be turned into pixels (UNUSABLE_FIT); nothing is written then.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "analysis/driver_log.h"
#include "fit/least_squares.h"
#include "imageio/cross_images.h"
#include "orva_defines.h"

namespace orva {

constexpr double DEG_TO_RAD = 0.0174532925;
// Status of a run whose motion fit gave a value that is not a finite number or
// lies beyond FIT_VALUE_LIMIT: no result is made up from it.
constexpr int UNUSABLE_FIT = 22;
// Pixels or degrees; far beyond any image, and small enough that every pixel
// position derived from such a value stays inside int.
constexpr double FIT_VALUE_LIMIT = 1e8;
constexpr const char* FIGURES_FILE_NAME = "log_res2.txt";

// How cut-image pixels map back to the input image.
struct CutFrame {
    int cut_width = 0;  // of the cut image (halved when sub_flag is 1)
    int cut_height = 0;
    int sub_flag = 0;  // 1: the cut image is at half resolution
    int loop_pos = 0;  // 0..3
    int left = 0;      // left border width L
    int top = 0;       // top border width T
};

struct CentrePixels {
    int final_x = -1;
    int final_y = -1;
};

// The fitted centre (x0, y0) of the cut image in input-image pixels.
CentrePixels correct_coordinates(double x0, double y0, const CutFrame& frame);

// A radius below 1 carries no phase (phi0 = 0); otherwise a half-resolution
// radius is doubled. phi0 is then folded into (-180, 180].
void normalise_phase(double& radius, double& phi0, int sub_flag);

// Standard deviations of the fitted centre from the fit's variances.
struct Deviations {
    double p = 0.0;      // sqrt(var_p0)
    double q = 0.0;      // sqrt(var_q0)
    double v = 0.0;      // sqrt(var_y0)
    double total = 0.0;  // sqrt(var_y0 + var_p0 + var_q0)
};
Deviations deviations_of(const PARAMS& mp);

// Probability that a three-dimensional isotropic normal error of scale s
// stays within a sphere of diameter d; -1 when s is not above 0.
double crystal_reliability(int d, double s);
// The result's percentage: floor(R) for a negative R, else floor(100 R).
int reliability_percent(double reliability);

// Too few non-empty images for a trustworthy deviation of the centre.
bool too_few_images(int numimg_processed, int centre_coord);

// Where the cross goes in input image pixels for the image at `angle`.
CrossPosition cross_position(int loop_pos, int final_x, int final_y, double radius, double phi0,
                             double angle);

// Everything of the driver's run the result stage reads.
struct ResultContext {
    int num_images = 0;
    int width = 0;  // input image
    int height = 0;
    CutFrame frame;
    int centre_coord = -1;
    int numimg_processed = 0;
    int crystal_size = 0;  // cut-image pixels
    int maxwidth = 0;
    int forrightborder = 0;
    int precentring_flag = 0;
    bool position_found = true;  // false: no usable position, centre -1, -1
    double reliability = -1.0;   // kept when too few images are usable
    // Kept always (TRACK's own figure).
    bool reliability_fixed = false;
    int set_cross_flag = 0;
    bool write_figures = false;  // LOGOUTX
};

// The header and the one row of "log_res2.txt".
std::string figures_header();
std::string figures_line(const ResultContext& ctx, const ORVARESULT& result, const PARAMS& mp,
                         const Deviations& dev);

// Whether the fitted values the stage turns into pixels are usable: radius
// and phi0 always, x0 and y0 when a position was found. Otherwise reports them
// on standard error.
bool fit_values_usable(const PARAMS& mp, const ResultContext& ctx);

// Runs the whole stage: fills result, writes the log lines, the cross images
// (set_cross_flag) and the figures file (write_figures). mp is left with the
// normalised radius and phi0. Returns 0; UNUSABLE_FIT with nothing written
// and result untouched; or DRIVER_LOG_ERROR when the figures file cannot be
// created or written completely (result is filled even then).
int result_stage(PARAMS& mp, const ResultContext& ctx, const std::vector<ByteBuffer>& images,
                 std::span<const float> angles, DriverLog& log, ORVARESULT& result);

}  // namespace orva
