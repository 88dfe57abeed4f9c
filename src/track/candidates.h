// Crystal candidates of one image: every compact dark object in and just around
// the loop, found as maxima of the scale-normalised Hessian determinant over
// scales of about 5 to 200 pixels, plus the position the default method's
// corner-cluster detector found.
//
// Two responses are measured at every scale: that of the image itself, and that
// of the image minus the per-pixel maximum over the series, in which whatever
// stays put while the sample turns (pin, stem on the axis, dirt on the optics,
// the illumination) is gone. Their ratio says how much of an object moves.
//
// Conventions: cut-image pixels (pin entering from the bottom), x the column,
// y the row. collect_candidates reads only the shared context and its own image
// and writes only its result, so the images of a run can be searched in any
// order or at the same time.
#pragma once

#include <span>
#include <vector>

#include "loop/shapes.h"
#include "track/scale_space.h"
#include "types.h"

namespace orva {

// Where a candidate comes from: the blob search here, or the default method's
// corner-cluster detector.
enum CandidateSource { OWN_BLOB = 0, DEFAULT_CORNERS = 1 };

struct Candidate {
    double x = 0.0;  // cut-image pixels
    double y = 0.0;
    double size = 0.0;        // diameter of the matching disc, pixels
    double strength = 0.0;    // sqrt of the normalised Hessian determinant, grey levels
    double motion = 0.0;      // share of the response that moves with the sample, 0..1
    double elongation = 1.0;  // ratio of the Hessian's eigenvalues, >= 1
    // How the object looks at its scale, each relative to its own contrast (the
    // series maximum minus the image at its centre): the mean and the largest
    // contrast on a ring just outside it (dark lines running through raise them).
    double contrast = 0.0;  // grey levels
    double ring_mean = 0.0;
    double ring_max = 0.0;
    double edge_share = 1.0;  // darkest point inside the object over its centre, seen sharper
    double sharp_edge = 1.0;  // the same in the image itself, at its own resolution
    double fill = 1.0;        // mean contrast inside the object over its darkest point
    double absorbance = 0.0;  // contrast over the brightness of the series maximum
    double depth = 0.0;       // distance inside the loop's outline, in sizes (< 0 outside)
    double loop_share = 0.0;  // size over the loop's mean width
    double span = 0.0;        // the outline's width at the candidate's row, in sizes (0 outside)
    double clearance = 2.0;   // distance to the nearest point of the outline, in sizes (<= 2)
    // The object as the image shows it at its own resolution: the pixels joined
    // to its centre at half its strongest contrast (area, pixels) and how
    // elongated they are (the square root of their moments' eigenvalue ratio).
    double area = 0.0;
    double outline_elongation = 1.0;
    int source = OWN_BLOB;
    int level = 0;        // the scale-space level it was found or measured on
    int rank = 0;         // 0 for the strongest of its image
    double weight = 0.0;  // how crystal-like, 0..1
};

// A rectangle of the cut image: columns x0 <= x < x1, rows y0 <= y < y1.
struct Box {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool empty() const { return x1 <= x0 || y1 <= y0; }
    bool contains(double x, double y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

// The part of the image searched for one loop: the rows and flanks of its
// outline with a margin around them (the box of the loop part is not used: the
// shape class that sets it can cut a large loop short); empty for an image
// without a loop.
Box search_box(const SHAPE_PARAMS& shape, const IMAGE& imc);

// What the candidate searches of all images share; built once per run.
struct CandidateContext {
    IMAGE imc;         // cut geometry
    Box box;           // union of the images' search boxes
    ScaleSpace still;  // of the per-pixel maximum over the series, inside box
    // The background's brightness: the median of that maximum over the box.
    // The measures taken at the image's own resolution compare with it.
    double background = 0.0;
    int octaves = 0;
    int reduce = 1;  // cut-image pixels per pixel of the search grid (1 or 2)
};

// The per-pixel maximum of the images in `box` and its scale space. The search
// grid is the images at half resolution: a full-resolution run (the images not
// halved when cut) is reduced by 2 here, so that the finest scale is about 3
// pixels of the input images either way (objects of about 9 pixels).
CandidateContext candidate_context(const IMAGE& imc, std::span<const ByteBuffer> images,
                                   std::span<const SHAPE_PARAMS> shapes, bool full_resolution);

// The default corner-cluster detector's position in one image (0 or less:
// nothing found).
struct DefaultPosition {
    int x = 0;
    int y = 0;
};

// How crystal-like a candidate looks, 0..1; strongest is the largest strength
// among the candidates of its image.
double crystal_likeness(const Candidate& c, double strongest);

// The weight of a candidate whose outline has been measured, from its
// crystal_likeness: an oval outline at full resolution raises it, the more so
// for the smallest objects (under SMALL_OBJECT pixels: the scale space's two
// finest steps, 9 and 13 pixels), which otherwise look like drops of ice. A
// crystal turning shows an oval in most views; a drop of ice never does.
constexpr double SMALL_OBJECT = 15.0;
double outline_weight(const Candidate& c);

// Responses of one level inside a window of its grid.
struct LevelMaps {
    int x0 = 0, y0 = 0, width = 0, height = 0;  // window in level pixels
    std::vector<float> raw, moving;
    float raw_at(int x, int y) const {
        return raw[static_cast<std::size_t>(y - y0) * width + x - x0];
    }
    float moving_at(int x, int y) const {
        return moving[static_cast<std::size_t>(y - y0) * width + x - x0];
    }
};

// Buffers of one image's search, kept from one image to the next (one per
// worker when images are searched at the same time).
struct CandidateWork {
    ScaleSpace space;
    LevelMaps maps;
};

// The ranked candidates of image q (at most MAX_CANDIDATES). An image without a
// loop has none.
constexpr int MAX_CANDIDATES = 16;
std::vector<Candidate> collect_candidates(const CandidateContext& ctx, const ByteBuffer& image,
                                          const SHAPE_PARAMS& shape, const DefaultPosition& corners,
                                          CandidateWork& work);

}  // namespace orva
