// Density of corner features and its largest cluster.
//
// The stronger features (value bin above 0) each add a Gaussian to a double
// map, centred one pixel up and left of the feature; the map is scaled to its
// peak (0..255), thresholded, and the cluster with the most pixels is found by
// seeding labels 255, 254, ... and growing them into pending neighbours.
// Maps are row-major, imx columns by imy rows, x column, y row.
#pragma once

#include <span>
#include <vector>

#include "crystal/feature_selection.h"

namespace orva {

constexpr double THRESHOLD = 180.3122;  // on the 0..255 scale of the density
constexpr int MAXNUM_FEATURES = 200;

// Zeroes density (imx * imy) and adds the kernel of every feature above bin 0.
// Returns 0, or 12 when the feature values do not spread (all equal, or no
// slot). density must already hold imx * imy values.
int add_feature_density(const KLT_FeatureList& features, int mindist, int imx, int imy,
                        std::span<double> density);

// First maximum in row-major order; false when it is not above 0.
bool density_peak(std::span<const double> density, int imx, int imy, int& peak_x, int& peak_y,
                  double& peak);

// 255 where 255 * value / peak exceeds THRESHOLD, else 0; the outer rows and
// columns are cleared.
void threshold_density(std::span<const double> density, double peak, int imx, int imy,
                       std::span<int> bimage);

// Seeds and grows labels in place (255, 254, ... down to 1 at most; seeds past
// the last label only join a neighbouring cluster). Returns the label count.
int label_clusters(std::span<int> bimage, int imx, int imy);

// Centroid (rounded half up) of the label with the most pixels, ties to the
// lower label; false when there is no label.
bool largest_cluster_centroid(std::span<const int> bimage, int imx, int imy, double& cx,
                              double& cy);

}  // namespace orva
