// The default driver's part of the run record (run_record.h): the method and
// why it was chosen, the analysis scale, which images show an object, the
// observations of the motion fit in input-image pixels with their final
// weights, the fitted motion, the loop width, pre-centring reasons and the
// warnings printed. Every function does nothing when record is null.
#pragma once

#include <span>

#include "analysis/observations.h"
#include "analysis/result_stage.h"
#include "fit/least_squares.h"
#include "loop/shapes.h"
#include "orva_defines.h"
#include "run_record.h"

namespace orva {

// The method the run goes to and the reason, from the same figures as
// use_version23_method; track: TRACK was asked for (outside pre-alignment).
void record_method(RunRecord* record, int num_images, int centre_coord, int vers23_flag,
                   bool version23, bool track = false);

// One warning per quadrant of the circle without an image.
void record_missing_quadrants(RunRecord* record, unsigned quadrants);

// Scale (sub_flag 1: half resolution), background use, one slot per image.
void record_default_start(RunRecord* record, int sub_flag, int background_flag, int num_images);

// Which images show an object after loop extraction.
void record_objects(RunRecord* record, std::span<const SHAPE_PARAMS> shapes);

// Sets the pre-centring reason; a non-empty text is also a warning.
void record_precentring(RunRecord* record, const char* reason, const char* text);

// The rows of the table after the fit, each under its image; stand_in, when
// given, names the detector of every row (the loop centres stand for a pin
// tip or a loop tip).
void record_observations(RunRecord* record, const ObservationTable& table, const CutFrame& frame,
                         const char* stand_in = nullptr);

// The fitted motion after the result stage (mp holds the normalised radius and
// phase), the loop width in input pixels and the too-few-images warning.
void record_default_fit(RunRecord* record, const PARAMS& mp, const ResultContext& ctx);

// The fitted centre (x0, y0) of the cut image in input pixels, not rounded:
// the position across the spindle axis first, along it second.
struct InputCentre {
    double across = 0.0;
    double along = 0.0;
};
InputCentre input_centre(double x0, double y0, const CutFrame& frame);

}  // namespace orva
