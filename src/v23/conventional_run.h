// State of one version-2.3 run shared by the driver, its result conversion
// and its logs: per-image detector results, the fit arrays and the figures.
//
// Conventions: positions are pixels of the cleaned image (pin from the
// bottom, x the column across the spindle axis, y the row along it) until
// to_input_coordinates turns them into input-image pixels. A detector value
// of 0 (or -1 for TELKU) means that nothing was found. Angles in degrees.
#pragma once

#include <cstdio>
#include <span>
#include <vector>

#include "fit/least_squares.h"
#include "loop/view_warnings.h"
#include "orva_defines.h"

namespace orva::conventional {

// Detectors per image, in the order of the fit arrays.
constexpr int V23_DETECTORS = 4;  // 2df, TELKU top, VIRPA, DEXLA

struct V23Detections {
    std::vector<float> phi = std::vector<float>(MAX_NUMIMG);
    std::vector<double> twodf_x = std::vector<double>(MAX_NUMIMG);
    std::vector<double> twodf_y = std::vector<double>(MAX_NUMIMG);
    std::vector<double> telku0_x = std::vector<double>(MAX_NUMIMG);
    std::vector<double> telku0_y = std::vector<double>(MAX_NUMIMG);
    std::vector<double> telku1_x = std::vector<double>(MAX_NUMIMG);
    std::vector<double> telku1_y = std::vector<double>(MAX_NUMIMG);
    std::vector<double> weight_telku0_x = std::vector<double>(MAX_NUMIMG);
    std::vector<double> weight_telku0_y = std::vector<double>(MAX_NUMIMG);
    std::vector<double> weight_telku1_x = std::vector<double>(MAX_NUMIMG);
    std::vector<double> weight_telku1_y = std::vector<double>(MAX_NUMIMG);
    std::vector<double> virpa_x = std::vector<double>(MAX_NUMIMG);
    std::vector<double> virpa_y = std::vector<double>(MAX_NUMIMG);
    std::vector<double> dexla_x = std::vector<double>(MAX_NUMIMG);
    std::vector<double> dexla_y = std::vector<double>(MAX_NUMIMG);
    std::vector<int> owidth = std::vector<int>(MAX_NUMIMG);
    std::vector<int> oarea = std::vector<int>(MAX_NUMIMG);
    std::vector<int> pin_pos = std::vector<int>(MAX_NUMIMG);
};

// Observations of the moving coordinate, four per image.
struct V23Fit {
    std::vector<double> ls_vals_obs = std::vector<double>(V23_DETECTORS * MAX_NUMIMG);
    std::vector<double> ls_vals_res = std::vector<double>(V23_DETECTORS * MAX_NUMIMG);
    std::vector<double> ls_param = std::vector<double>(V23_DETECTORS * MAX_NUMIMG);
    std::vector<double> ls_weights = std::vector<double>(V23_DETECTORS * MAX_NUMIMG);
    PARAMS mp{.x0 = -1.0};
};

struct V23Figures {
    int num_images = 0;
    int numimg_processed = 0;
    int pin_cnt = 0;
    int precentring_flag = 0;
    double mean_y = 0.0;
    double y_dev = 0.0;
    double y_devW = 0.0;
    double p_devW = 0.0;
    double q_devW = 0.0;
    double tot_devW = 0.0;
    double reliability = -1.0;
    int diameter = 0;
    int final_x = 0;
    int final_y = 0;
};

// --- result conversion (conventional_result.cpp) ---

// Turns the cleaned-image position into input-image pixels: undoes the
// orientation of loop_pos (imx, imy: cleaned size) and, when add_borders,
// adds the top border to final_y and the left border to final_x (subtracts
// from a negative value).
void to_input_coordinates(int loop_pos, int imx, int imy, const int* border, bool add_borders,
                          int& final_x, int& final_y);

// phi0 into (-180, 180], 0 for a radius below one pixel.
double normalised_phase(double phi0, double radius);

// Smallest positive object width apart from the largest one (sorts owidth
// descending); 0 when there is none.
int object_diameter(std::span<int> owidth, int num_images);

// Probability that a three-dimensional normal error of deviation tot_devW per
// axis stays within half the diameter; -1 when tot_devW is not positive.
double v23_reliability(int diameter, double tot_devW);

// Result value of the reliability: floor(100 R), or -1 for a negative R.
int reliability_percent(double reliability);

// Input-image position of the cross for image q, whose angle is phi_q.
void cross_position(int loop_pos, int imx, const int* border, const PARAMS& mp, double phi_q,
                    int final_x, int final_y, int& x, int& y);

// --- the run record for the report (conventional_record.cpp); each function
// does nothing when record is null ---

// Full-resolution analysis, one slot per image.
void record_start(RunRecord* record, int num_images);
// Whether image q shows an object; empty images are also warnings, added by
// record_empty_images once all images are done.
void record_image(RunRecord* record, int q, bool empty);
void record_empty_images(RunRecord* record);
// The pre-centring reason and its warning.
void record_precentring(RunRecord* record, const char* reason, const char* text);
// The positions across the axis that entered the fit of the moving coordinate,
// with their final weights; imx, imy: cleaned image size.
void record_observations(RunRecord* record, const V23Detections& d, const V23Fit& fit,
                         const V23Figures& fig, int loop_pos, int imx, int imy, const int* border);
// The fitted motion in input pixels (after the phase is normalised).
void record_fit(RunRecord* record, const V23Fit& fit, const V23Figures& fig, int loop_pos, int imx,
                int imy, const int* border);

// --- logs and messages (conventional_log.cpp) ---

void log_top_candidate(std::FILE* log, const V23Detections& d, int q);
void log_image(std::FILE* log, const V23Detections& d, int q);
void warn_too_few_images(int numimg_processed);
void warn_low_reliability(double reliability);

// Writes "log_res2.txt": residual correlations (when images were processed)
// and the one-row summary. Width and height are the input image's. False
// after a message when the file cannot be created or written completely.
bool write_log_res2(const V23Detections& d, const V23Fit& fit, const V23Figures& fig, int width,
                    int height);

}  // namespace orva::conventional
