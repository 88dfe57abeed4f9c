// Whether a trajectory is a crystal, and how far to trust it.
//
// The evidence is what the trajectory search found for one trajectory: how many
// of the images with a loop support it and how strongly, how crystal-like and how
// highly ranked its candidates are, how well they agree with the trajectory and
// with one another, and how it compares with the other trajectories of the run.
// A crystal turns as the sample turns, so its outline changes from view to view;
// a perfectly round blob that looks the same in every view is a drop of ice or a
// bubble in the film.
#pragma once

#include <span>
#include <vector>

#include "track/trajectory_search.h"

namespace orva {

struct Evidence {
    int usable = 0;                // images with a loop
    int supporting = 0;            // images with a matching candidate
    double share = 0.0;            // score / usable
    double support = 0.0;          // supporting / usable
    double top = 0.0;              // share of the images whose best candidate supports it
    double mean_log_weight = 0.0;  // mean ln(weight) of the supporting candidates
    double residual = 0.0;         // rms distance of the matches over the crystal size
    double lead = 0.0;             // (score - best other score) / the larger of the two
    double roundness = 1.0;        // median elongation of the supporting candidates
    double contrast_spread = 0.0;  // standard deviation of ln(contrast) over the views
    double size_spread = 0.0;      // standard deviation of ln(size) over the views
    double radius = 0.0;           // of the trajectory, pixels
    double size = 0.0;             // median size of the supporting candidates, pixels
    double motion = 0.0;           // median share of the supporting responses that moves
    // Upper quartiles over the views of how deep inside the outline the object
    // lies and how wide the outline is at its row, both in object sizes: a knot
    // in the fibre or the neck where the loop meets its stem is never deep inside
    // a wide outline, a crystal in the film is whenever the loop faces the camera.
    double depth = 0.0;
    double span = 0.0;
    double sharp_edge = 1.0;  // median of the candidates' sharp_edge
    double clearance = 2.0;   // upper quartile of the candidates' clearance
    // How the object's outline at full resolution changes while it turns: the
    // standard deviations of ln(area) and of ln(outline elongation) over the
    // views, and the median outline elongation.
    double area_spread = 0.0;
    double outline_spread = 0.0;
    double outline_elongation = 1.0;
};

// The evidence of trajectory k among the trajectories found in a run.
Evidence evidence_of(std::span<const TrackImage> images, std::span<const TrajectoryFit> found,
                     std::size_t k, int usable);

// Probability (0..1) that the trajectory is the crystal.
double crystal_probability(const Evidence& e);

// True when the probability shows a crystal.
bool is_crystal(double probability);

// Which of a run's trajectories is the crystal, given that one is: the highest
// score wins. `probability` is the trajectory's crystal_probability.
double choice_score(const Evidence& e, double probability);

// The reliability figure (0..1) of a crystal answer of that probability.
double track_reliability(double probability);

// The reliability figure (0..1) of a "no crystal" answer whose most probable
// trajectory had that probability (0 when there was none).
double no_crystal_reliability(double probability);

}  // namespace orva
