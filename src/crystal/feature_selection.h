// Good-feature selection: pixels whose 2x2 gradient structure matrix has a
// large smaller eigenvalue, taken greedily in decreasing order of that value
// and kept a minimum distance apart.
//
// Images are row-major 8-bit grey, x the column, y the row. The tracking
// context carries window, smoothing and border settings derived from the
// region size; the fields for tracking over a sequence are set but unused here.
// Degenerate input (region smaller than twice the border) gives no candidates,
// and every feature slot stays unfilled (x = y = -1, val = -1).
#pragma once

#include <span>
#include <utility>
#include <vector>

namespace orva {

struct KLT_TrackingContext {
    int mindist = 10;
    int window_width = 7;
    int window_height = 7;
    bool sequentialMode = true;
    bool smoothBeforeSelecting = true;
    bool writeInternalImages = false;
    int min_eigenvalue = 5;
    float min_determinant = 0.01f;
    float min_displacement = 0.1f;
    int max_iterations = 10;
    float max_residue = 10.0f;
    float grad_sigma = 1.0f;
    float smooth_sigma_fact = 0.1f;
    float pyramid_sigma_fact = 0.9f;
    int nSkippedPixels = 0;
    int borderx = 0;
    int bordery = 0;
    int nPyramidLevels = 2;
    int subsampling = 4;
    int search_range = 15;
    int affine_window_width = 15;
    int affine_window_height = 15;
    int affineConsistencyCheck = -1;
    int affine_max_iterations = 10;
    float affine_max_residue = 10.0f;
    float affine_min_displacement = 0.02f;
    float affine_max_displacement_differ = 1.5f;
};

struct KLT_Feature {
    float x = -1.0f;
    float y = -1.0f;
    int val = -1;  // smaller eigenvalue, -1 for an unfilled slot
    float aff_x = -1.0f;
    float aff_y = -1.0f;
    float aff_Axx = 1.0f;
    float aff_Ayx = 0.0f;
    float aff_Axy = 0.0f;
    float aff_Ayy = 1.0f;
};

using KLT_FeatureList = std::vector<KLT_Feature>;

// One candidate of the selection: position and truncated smaller eigenvalue.
struct KLT_Candidate {
    int x;
    int y;
    int val;
};

// Buffers of one selection, kept by a caller that selects in many regions.
struct SelectionWork {
    std::vector<float> floatimg, tmp, smooth, gradx, grady;
    std::vector<float> gxx, gxy, gyy;           // per-pixel gradient products
    std::vector<float> sum_xx, sum_xy, sum_yy;  // window sums of one candidate row
    std::vector<KLT_Candidate> candidates;
    std::vector<unsigned char> featuremap;
};

// Defaults for a region of size = max(width, height), width imx, taken from
// a box roi_width wide.
KLT_TrackingContext KLTCreateTrackingContext(int size, int imx, int roi_width);
// n unfilled feature slots (n <= 0 gives none).
KLT_FeatureList KLTCreateFeatureList(int n);
// Fills every slot of featurelist from image (ncols x nrows bytes).
void KLTSelectGoodFeatures(const KLT_TrackingContext& tc, std::span<const unsigned char> image,
                           int ncols, int nrows, KLT_FeatureList& featurelist);
void KLTSelectGoodFeatures(const KLT_TrackingContext& tc, std::span<const unsigned char> image,
                           int ncols, int nrows, KLT_FeatureList& featurelist, SelectionWork& work);

// Building blocks, exposed for the tests.

// Sorts by val, largest first, with the quicksort whose order of ties the
// selection relies on.
void sort_candidates(std::span<KLT_Candidate> list);
// The list as sort_candidates leaves it, sorted only as far as it is read:
// at(k) makes places 0 .. k final (null past the end).
class SortedPrefix {
  public:
    explicit SortedPrefix(std::span<KLT_Candidate> list);
    const KLT_Candidate* at(std::size_t k);

  private:
    std::span<KLT_Candidate> list_;
    std::vector<std::pair<std::size_t, std::size_t>> pending_;  // parts to sort, leftmost last
    std::size_t ready_ = 0;                                     // places before are final
};
// Walks sorted candidates and fills every slot of featurelist, keeping
// features mindist apart (occupied square of half side mindist - 1).
void enforce_minimum_distance(std::span<const KLT_Candidate> list, KLT_FeatureList& featurelist,
                              int ncols, int nrows, int mindist, int min_eigenvalue);

}  // namespace orva
