// What a run did, told for its JSON report: the images listed and loaded, the
// method and why it was chosen, the observations that entered the motion fit,
// the fitted motion, the pre-centring reason and every warning printed.
//
// The record is filled only when a report is asked for (ORVAPARAMS::record
// set); every stage writes its own part and nothing reads it back during the
// run. Positions are input-image pixels (column from the left, row from the
// top); angles are degrees; NaN stands for a value that does not exist. Per
// image parts are indexed like ORVAPARAMS::angle and are sized before the
// per-image loops, so each image writes only its own slot.
#pragma once

#include <limits>
#include <string>
#include <vector>

namespace orva {

constexpr double NOT_A_VALUE = std::numeric_limits<double>::quiet_NaN();

// One listed image, in loading order (ascending angle).
struct ListedImage {
    std::string file;
    float angle = 0.0f;  // as read from the job file
    bool used = false;   // loaded and handed to the analysis
    std::string reason;  // why it was not used
};

// One position that entered the fit across the spindle axis.
struct RecordedObservation {
    std::string detector;  // the detector, or the stand-in (loop centre, pin tip) used
    double column = NOT_A_VALUE;
    double row = NOT_A_VALUE;
    double weight = 1.0;    // final weight in the fit
    bool rejected = false;  // left out by the robust fit (weight 0)
};

struct AnalysedImage {
    int empty = -1;  // 1 no object found, 0 object found, -1 not examined
    std::vector<RecordedObservation> observations;
};

// The fitted motion of the crystal (or of the loop or pin for a pre-centring).
// The moving coordinate at rotation angle a is axis + sign * radius * cos(a - phase).
struct RecordedFit {
    std::string kind;             // "motion", "mean" (too few images: no motion) or "none"
    double axis = NOT_A_VALUE;    // position across the spindle axis
    double along = NOT_A_VALUE;   // position along the spindle axis
    double radius = NOT_A_VALUE;  // input pixels
    double phase = NOT_A_VALUE;   // degrees, (-180, 180]
    int sign = 1;
    bool axis_is_row = false;             // else a column
    std::string axis_line = "X_CENTRE";   // the result-file line that holds axis
    std::string along_line = "Y_CENTRE";  // the one that holds along
};

struct RecordedWarning {
    std::string code;
    std::string text;
};

struct RunRecord {
    // Image loading
    std::vector<ListedImage> images;
    std::string background_file;  // empty: no background listed
    bool background_loaded = false;
    std::string background_reason;  // why it was not used
    int width = 0;                  // input images, 0 before the first was loaded
    int height = 0;
    std::string failure;  // what a failing stage said, in one line

    // The analysis
    std::string method;  // "default", "version-2.3", "track"
    std::string method_reason;
    int scale = 0;  // 1 full resolution, 2 half resolution, 0 not reached
    bool background_used = false;
    std::vector<AnalysedImage> analysed;
    RecordedFit fit;
    double loop_width = NOT_A_VALUE;  // input pixels
    std::string precentring_reason;

    std::vector<RecordedWarning> warnings;

    void warn(std::string code, std::string text) {
        warnings.push_back({std::move(code), std::move(text)});
    }
};

// Adds a warning when a record is kept.
inline void record_warning(RunRecord* record, std::string code, std::string text) {
    if (record != nullptr) record->warn(std::move(code), std::move(text));
}

}  // namespace orva
