// What the analysis driver makes of the TRACK method's search: the messages
// about the method choice, the motion parameters and the fit table of a crystal
// answer, and the message of a run without a crystal.
//
// Positions are cut-image pixels, angles degrees. The crystal's motion is the
// trajectory x0 + a cos(phi) + b sin(phi), which the result stage reads as
// x0 + radius cos(phi - phi0) with radius = sqrt(a^2 + b^2).
#pragma once

#include "analysis/driver_log.h"
#include "analysis/observations.h"
#include "fit/least_squares.h"
#include "orva_defines.h"
#include "track/track_method.h"

namespace orva {

// Says on standard error when TRACK does not decide the method: too few images
// for the default method (the version-2.3 method takes the run), or VERS23
// given as well (TRACK wins). Pre-alignment runs need no crystal: nothing said.
void announce_track(const ORVAPARAMS& params);

struct TrackAnswer {
    int crystal_size = 0;      // cut-image pixels
    double reliability = 0.0;  // 0..1
    ObservationTable table;    // the supporting candidates, as written to the run log
};

// Fills mp (x0, y0, radius, phi0, variances, gofn) from the best trajectory,
// writes the supporting candidates as the fit table of the run log and reports
// the answer on standard error.
TrackAnswer track_answer(const TrackResult& track, PARAMS& mp, DriverLog& log);

// The message block of a run in which nothing moves like a crystal, or in which
// the views lie too close in angle to tell (`undecidable`).
void report_track_no_crystal(DriverLog& log, bool undecidable);

}  // namespace orva
