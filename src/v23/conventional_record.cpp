// The version-2.3 method's part of the run record: which images are empty, the
// detector positions across the axis with their final weights, and the fitted
// motion, all in input-image pixels.
//
// Cleaned-image x runs across the spindle axis, y along it; the map back to
// the input image is that of to_input_coordinates, without rounding:
//   loop_pos 0: column x + L,          row y + T
//   loop_pos 1: column x + L,          row imy - 1 - y + T
//   loop_pos 2: column imy - 1 - y + L, row x + T
//   loop_pos 3: column y + L,          row imx - 1 - x + T
#include <algorithm>
#include <string>

#include "run_record.h"
#include "v23/conventional_run.h"

namespace orva::conventional {

namespace {

constexpr int FIT_MIN_IMAGES = 4;  // as in the driver: fewer give a mean
constexpr const char* DETECTOR_NAMES[V23_DETECTORS] = {"corners", "telku", "virpa", "dexla"};

struct InputPoint {
    double column = 0.0;
    double row = 0.0;
};

InputPoint to_input(int loop_pos, int imx, int imy, const int* border, double x, double y) {
    InputPoint p;
    switch (loop_pos) {
        case 1:
            p = {x, imy - 1 - y};
            break;
        case 2:
            p = {imy - 1 - y, x};
            break;
        case 3:
            p = {y, imx - 1 - x};
            break;
        default:
            p = {x, y};
            break;
    }
    p.column += border[BORDER_LEFT];
    p.row += border[BORDER_TOP];
    return p;
}

// The detector positions along the axis, in fit-slot order.
double axial_position(const V23Detections& d, int i, int k) {
    const double y[V23_DETECTORS] = {d.twodf_y[i], d.telku0_y[i], d.virpa_y[i], d.dexla_y[i]};
    return y[k] > 0.0 ? y[k] : NOT_A_VALUE;
}

}  // namespace

void record_start(RunRecord* record, int num_images) {
    if (record == nullptr) return;
    record->scale = 1;
    record->background_used = false;
    record->analysed.assign(static_cast<std::size_t>(num_images), AnalysedImage{});
}

void record_image(RunRecord* record, int q, bool empty) {
    if (record == nullptr || q < 0 || static_cast<std::size_t>(q) >= record->analysed.size())
        return;
    record->analysed[q].empty = empty ? 1 : 0;
}

void record_empty_images(RunRecord* record) {
    if (record == nullptr) return;
    for (std::size_t q = 0; q < record->analysed.size(); ++q)
        if (record->analysed[q].empty == 1)
            record->warn("image_empty", "Image " + std::to_string(q) + " seems to be empty");
}

void record_precentring(RunRecord* record, const char* reason, const char* text) {
    if (record == nullptr) return;
    record->precentring_reason = reason;
    record->warn(reason, text);
}

void record_observations(RunRecord* record, const V23Detections& d, const V23Fit& fit,
                         const V23Figures& fig, int loop_pos, int imx, int imy, const int* border) {
    if (record == nullptr) return;
    const int n = std::min(fig.num_images, static_cast<int>(record->analysed.size()));
    const auto first = fit.ls_vals_obs.begin();
    const auto [lo, hi] = std::minmax_element(first, first + V23_DETECTORS * n);
    // A single image gives a mean of all slots without the smallest and the largest.
    const bool trimmed = fig.numimg_processed == 1 && n > 0;
    bool low_dropped = !trimmed || *lo <= 0.0;  // a missing slot is no observation
    bool high_dropped = !trimmed;
    for (int i = 0; i < n; ++i) {
        for (int k = 0; k < V23_DETECTORS; ++k) {
            const int slot = V23_DETECTORS * i + k;
            const double x = fit.ls_vals_obs[slot];
            if (x <= 0.0) continue;  // nothing found: no observation
            const InputPoint p = to_input(loop_pos, imx, imy, border, x, axial_position(d, i, k));
            RecordedObservation o;
            o.detector = DETECTOR_NAMES[k];
            o.column = p.column;
            o.row = p.row;
            if (fig.numimg_processed >= FIT_MIN_IMAGES) {
                o.weight = fit.ls_weights[slot];
            } else if (!high_dropped && x == *hi) {
                o.weight = 0.0, high_dropped = true;
            } else if (!low_dropped && x == *lo) {
                o.weight = 0.0, low_dropped = true;
            }
            o.rejected = o.weight == 0.0;
            record->analysed[i].observations.push_back(o);
        }
    }
}

void record_fit(RunRecord* record, const V23Fit& fit, const V23Figures& fig, int loop_pos, int imx,
                int imy, const int* border) {
    if (record == nullptr) return;
    RecordedFit& r = record->fit;
    // X_CENTRE is always a column here, so a horizontal axis lies in Y_CENTRE.
    r.axis_is_row = loop_pos >= 2;
    r.axis_line = r.axis_is_row ? "Y_CENTRE" : "X_CENTRE";
    r.along_line = r.axis_is_row ? "X_CENTRE" : "Y_CENTRE";
    r.sign = loop_pos == 3 ? -1 : 1;
    if (fig.numimg_processed < 1) {
        r.kind = "none";
        return;
    }
    r.kind = fig.numimg_processed < FIT_MIN_IMAGES ? "mean" : "motion";
    const InputPoint p = to_input(loop_pos, imx, imy, border, fit.mp.x0, fig.mean_y);
    r.axis = r.axis_is_row ? p.row : p.column;
    r.along = r.axis_is_row ? p.column : p.row;
    r.radius = fit.mp.radius;
    r.phase = fit.mp.phi0;
}

}  // namespace orva::conventional
