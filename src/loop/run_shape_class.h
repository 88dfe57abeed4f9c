// One shape class for a whole run from the classes of its images, and the
// loop part (centre, mean width, box) of each image from that class.
//
// Canonical coordinates: x column, y row, row 0 at the top (the loop tip).
// The run class is the lower class of the most frequent pair of adjacent
// classes; its reliability is the share of classified images in that pair
// (single precision), -1 when every image is UNKNOWN or every image empty.
#pragma once

#include <span>

#include "loop/shapes.h"
#include "types.h"

namespace orva {

constexpr int UV_SPECIAL = 3;   // image_special: UV-light fluorescence images
constexpr int TIP_SPECIAL = 4;  // image_special: find the tip of the loop object

struct RunShape {
    int type = NO_OBJECT;      // the run's shape class
    float reliability = 0.0f;  // share of the images agreeing with it, or -1
};

// Most frequent adjacent pair (c, c + 1) of classes, c = 1..13, starting from
// (3, 4) and replaced only by a strictly higher count; with skip_small (the
// repeated search) the pairs starting at P010 and P005 are not considered and
// c runs to 14.
// Returns c and stores the pair's count.
int best_adjacent_pair(std::span<const int, NUM_SHAPE_CLASSES> hist_shape, bool skip_small,
                       int* count);

// The run class of shapes (one record per image) and its reliability.
// image_special UV_SPECIAL makes the run UV_IMAGE with reliability 0.
RunShape run_shape_class(std::span<const SHAPE_PARAMS> shapes, int image_special,
                         unsigned int height);

// Where the loop share of an image came from.
enum class LoopShare { Empty, Local, Global };

// Sets centre, width and box of one image from the first rows of its outline
// (the share of its traced rows its own class gives, or the run class's when
// its top is within 3 % of the image height or the run is unreliable). An
// empty image gets centre (0, 0) and width imc.width and keeps its box.
// With uv the image's class is first set to the run class.
LoopShare loop_part(SHAPE_PARAMS& shape, const RunShape& run, const IMAGE& imc, bool uv);

}  // namespace orva
