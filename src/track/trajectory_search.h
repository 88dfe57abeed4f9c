// The joint search of all images for the one point of the sample that most of
// them show: a crystal is a point in space, so in the cut images its column
// moves as x(phi) = x0 + a cos(phi) + b sin(phi) while its row y stays put
// (phi the rotation angle in degrees, x and y cut-image pixels).
//
// Method: every pair of well-ranked candidates from two images at clearly
// different angles whose rows agree gives a trajectory (with the axis x0 from a
// prior); each trajectory is scored by the images that hold a candidate near
// its prediction, every image with its best such candidate only, each
// contribution weighed by the candidate's weight and by how close it lies
// (within a tolerance that grows with the candidate's size). The best few are
// refined by weighted least squares on their matches (the axis too, when it is
// not known and four or more images support it) and scored again, now also
// weighing how well each candidate's size agrees with the others'. Candidates
// already taken by an earlier trajectory support no other.
#pragma once

#include <span>
#include <vector>

#include "track/candidates.h"

namespace orva {

struct TrackImage {
    double angle = 0.0;  // degrees
    std::vector<Candidate> candidates;
};

struct Trajectory {
    double x0 = 0.0;
    double a = 0.0;
    double b = 0.0;
    double y = 0.0;

    double x_at(double angle_deg) const;
    double radius() const;
};

// The candidate of one image that supports a trajectory.
struct Match {
    int image = 0;
    int candidate = 0;
    double dx = 0.0;  // candidate minus prediction, pixels
    double dy = 0.0;
    double tolerance = 0.0;
    double contribution = 0.0;  // what the image adds to the score, 0..1
};

struct TrajectoryFit {
    Trajectory t;
    double score = 0.0;  // sum of the contributions
    double size = 0.0;   // median size of the matched candidates, pixels
    std::vector<Match> matches;
    // Of the last weighted least squares: variances of x0, a, b and y, and the
    // weighted squared residual per degree of freedom.
    double var_x0 = 0.0, var_a = 0.0, var_b = 0.0, var_y = 0.0, gof = 0.0;

    bool found() const { return !matches.empty(); }
};

struct SearchSettings {
    double axis = 0.0;        // the axis x0 used to make trajectories from pairs
    bool axis_known = false;  // x0 stays at `axis` (CENTRE_COORD)
};

// Tolerance of a candidate's distance from a trajectory, pixels.
double match_tolerance(const Candidate& c);

// Whether two of these angles (degrees) lie far enough apart, and not half a
// turn, for a pair of views to fix a trajectory: the pair search needs one.
bool angles_fix_trajectory(std::span<const double> angles);

// The best trajectory among the candidates not marked in `taken`
// (taken[image][candidate]); not found() when no pair makes one.
TrajectoryFit best_trajectory(std::span<const TrackImage> images, const SearchSettings& settings,
                              const std::vector<std::vector<char>>& taken);

// The matches of a given trajectory (for tests and for scoring a known answer).
TrajectoryFit score_trajectory(std::span<const TrackImage> images, const Trajectory& t,
                               const std::vector<std::vector<char>>& taken, double typical_size);

}  // namespace orva
