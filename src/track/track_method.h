// The TRACK method's crystal search over a whole run of cut images: candidates
// in every image, the joint trajectory search, the decision and the reliability.
// The run set-up, the cutting and the loop extraction are the default method's
// (analysis/), which calls this after the loops are known.
//
// Conventions: cut-image pixels (pin entering from the bottom), x the column, y
// the row; angles in degrees. The trajectory is x = x0 + a cos(phi) + b sin(phi),
// y constant. Status: 0 (kept as a status so that a failing stage can stop the
// run as the default method's stages do).
#pragma once

#include <span>
#include <string>
#include <vector>

#include "loop/shapes.h"
#include "track/track_decision.h"
#include "track/trajectory_search.h"
#include "types.h"

namespace orva {

struct TrackInput {
    IMAGE imc;                                        // cut geometry
    const std::vector<ByteBuffer>* images = nullptr;  // cut images
    std::span<const SHAPE_PARAMS> shapes;             // loop records
    std::span<const double> angles;                   // degrees
    bool half_resolution = false;                     // the cut images are the input halved
    bool axis_known = false;
    double axis = -1.0;  // cut-image column of the axis when known
};

struct TrackResult {
    bool crystal = false;            // the most crystal-like trajectory passes
    TrajectoryFit best;              // the chosen trajectory (found() false when there was none)
    int crystals = 0;                // trajectories that would each pass as a crystal
    double axis_prior = 0.0;         // the axis the pair search used
    Evidence evidence;               // of the chosen trajectory
    double probability = 0.0;        // of the most crystal-like trajectory: the decision
    double reliability = 0.0;        // 0..1
    bool angles_too_close = false;   // no two of the job's views could fix a trajectory
    std::vector<TrackImage> images;  // every image's candidates, for the log
    std::string log;                 // lines for the run log
};

int track_crystal(const TrackInput& in, TrackResult& out);

}  // namespace orva
