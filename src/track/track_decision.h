// Whether the best trajectory is a crystal, and how far to trust it.
//
// The evidence is what the trajectory search found: the share of the images
// with a loop that support the trajectory (each by its weighted contribution),
// the residual of its matches relative to the crystal's size, the margin of its
// score over the next trajectory made of other candidates, and whether it moves
// at all (a point that stays on the axis looks like the pin's tip, the stem or
// the loop's tip in every view).
#pragma once

namespace orva {

struct Evidence {
    int usable = 0;         // images with a loop
    int supporting = 0;     // images with a matching candidate
    double share = 0.0;     // score / usable, 0..1
    double residual = 0.0;  // rms distance of the matches over the crystal size
    double margin = 0.0;    // (score - second score) / score, 0..1
    double radius = 0.0;    // of the trajectory, pixels
    double size = 0.0;      // median size of the matched candidates, pixels
    double motion = 0.0;    // median share of the matched responses that moves
};

// True when the evidence shows a crystal.
bool is_crystal(const Evidence& e);

// Probability (0..1) that the crystal answer is right.
double track_reliability(const Evidence& e);

}  // namespace orva
