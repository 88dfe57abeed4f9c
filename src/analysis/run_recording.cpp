// Filling the run record from the default driver's state.
#include "analysis/run_recording.h"

#include <string>

#include "analysis/centre_fit.h"

namespace orva {

namespace {

const char* const QUADRANT_RANGES[4] = {"0..90", "90..180", "180..270", "270..360"};

const char* method_reason(int num_images, int centre_coord, int vers23_flag, bool version23) {
    if (!version23)
        return vers23_flag ? "PREALIGN runs use the default method; VERS23 is ignored"
                           : "the default method";
    if (num_images < 2) return "one image is too few for the default method";
    if (num_images < 3 && centre_coord < 1)
        return "two images without CENTRE_COORD are too few for the default method";
    return "VERS23 in the job file";
}

const char* track_reason(int num_images, int centre_coord, int vers23_flag, bool version23) {
    if (version23) return method_reason(num_images, centre_coord, 0, true);
    return vers23_flag ? "TRACK in the job file; VERS23 is ignored" : "TRACK in the job file";
}

}  // namespace

void record_method(RunRecord* record, int num_images, int centre_coord, int vers23_flag,
                   bool version23, bool track) {
    if (record == nullptr) return;
    if (track) {
        record->method = version23 ? "version-2.3" : "track";
        record->method_reason = track_reason(num_images, centre_coord, vers23_flag, version23);
        return;
    }
    record->method = version23 ? "version-2.3" : "default";
    record->method_reason = method_reason(num_images, centre_coord, vers23_flag, version23);
}

void record_missing_quadrants(RunRecord* record, unsigned quadrants) {
    for (int k = 0; k < 4; ++k)
        if (!(quadrants & (1u << k)))
            record_warning(record, "missing_quadrant",
                           std::string("There is no image in the range of ") + QUADRANT_RANGES[k] +
                               " degrees");
}

void record_default_start(RunRecord* record, int sub_flag, int background_flag, int num_images) {
    if (record == nullptr) return;
    record->scale = sub_flag == 1 ? 2 : 1;
    record->background_used = background_flag != 0;
    record->analysed.assign(static_cast<std::size_t>(num_images), AnalysedImage{});
}

void record_objects(RunRecord* record, std::span<const SHAPE_PARAMS> shapes) {
    if (record == nullptr) return;
    for (std::size_t q = 0; q < shapes.size() && q < record->analysed.size(); ++q)
        record->analysed[q].empty = shapes[q].type == NO_OBJECT ? 1 : 0;
}

void record_precentring(RunRecord* record, const char* reason, const char* text) {
    if (record == nullptr) return;
    record->precentring_reason = reason;
    if (text != nullptr && *text != '\0') record->warn(reason, text);
}

void record_observations(RunRecord* record, const ObservationTable& table, const CutFrame& frame,
                         const char* stand_in) {
    if (record == nullptr) return;
    const bool upright = frame.loop_pos == 0 || frame.loop_pos == 1;
    for (int i = 0; i < table.count(); ++i) {
        const int q = table.image[i];
        if (q < 0 || static_cast<std::size_t>(q) >= record->analysed.size()) continue;
        // Observed positions are whole cut-image pixels: the rounding changes nothing.
        const CentrePixels p = correct_coordinates(table.x[i], table.y[i], frame);
        RecordedObservation o;
        o.detector = stand_in != nullptr ? stand_in : table.detector[i];
        o.column = upright ? p.final_x : p.final_y;
        o.row = upright ? p.final_y : p.final_x;
        o.weight = table.weight[i];
        o.rejected = table.weight[i] == 0.0;
        record->analysed[q].observations.push_back(o);
    }
}

InputCentre input_centre(double x0, double y0, const CutFrame& frame) {
    const int scale = frame.sub_flag == 1 ? 2 : 1;
    const double W = frame.cut_width * scale;
    const double H = frame.cut_height * scale;
    x0 *= scale;
    y0 *= scale;
    switch (frame.loop_pos) {
        case 0:
            return {x0 + frame.left, y0 + frame.top};
        case 1:
            return {x0 + frame.left, H - 1 - y0 + frame.top};
        case 2:
            return {x0 + frame.top, H - 1 - y0 + frame.left};
        default:
            return {W - 1 - x0 + frame.top, y0 + frame.left};
    }
}

void record_default_fit(RunRecord* record, const PARAMS& mp, const ResultContext& ctx) {
    if (record == nullptr) return;
    if (too_few_images(ctx.numimg_processed, ctx.centre_coord))
        record->warn("too_few_images", "Number of non-empty images (" +
                                           std::to_string(ctx.numimg_processed) +
                                           ") is too low for optimal detection");
    record->loop_width = static_cast<double>(ctx.maxwidth) * (ctx.frame.sub_flag == 1 ? 2 : 1);

    RecordedFit& fit = record->fit;
    fit.axis_is_row = ctx.frame.loop_pos >= 2;
    fit.sign = ctx.frame.loop_pos == 3 ? -1 : 1;
    if (ctx.numimg_processed < 1 || !ctx.position_found) {
        fit.kind = "none";
        return;
    }
    fit.kind =
        ctx.numimg_processed < motion_fit_threshold(ctx.centre_coord >= 1) ? "mean" : "motion";
    const InputCentre c = input_centre(mp.x0, mp.y0, ctx.frame);
    fit.axis = c.across;
    fit.along = c.along;
    fit.radius = mp.radius;
    fit.phase = mp.phi0;
}

}  // namespace orva
