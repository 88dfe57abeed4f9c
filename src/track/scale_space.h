// Gaussian scale space of a float image and its scale-normalised Hessian.
//
// The pyramid has two scales per octave (sigma 1.6 and 2.26 pixels of the
// octave's own grid, i.e. 1.6 * 2^octave and 2.26 * 2^octave pixels of the
// base image). Each octave's base is every second pixel of the previous octave's
// coarser scale. Pixel (x, y) of octave o lies at base pixel (x * 2^o, y * 2^o).
// Borders are extended by replication.
//
// The Hessian entries are normalised by sigma^2 (in the octave's pixels), so
// that a blob's determinant xx * yy - xy^2 peaks at a scale proportional to its
// size and with a height that depends on its contrast only: a dark disc of
// diameter d on a bright ground responds most near sigma = d / (2 sqrt 2).
#pragma once

#include <vector>

namespace orva {

// A row-major float image.
struct Plane {
    int width = 0;
    int height = 0;
    std::vector<float> px;

    float at(int x, int y) const { return px[static_cast<std::size_t>(y) * width + x]; }
    // Sets the size; the pixels keep whatever they held (buffers are reused, and
    // px may hold more than width * height values).
    void shape(int w, int h);
};

// One scale of the pyramid: the blurred image and its normalised second
// derivatives on the octave's grid.
struct HessianLevel {
    int octave = 0;      // the grid is 2^octave base pixels
    double sigma = 0.0;  // base pixels
    int width = 0;
    int height = 0;
    std::vector<float> xx, yy, xy;
    std::vector<float> smooth;  // the blurred image itself (may hold more than width * height)

    std::size_t index(int x, int y) const { return static_cast<std::size_t>(y) * width + x; }
};

constexpr double FIRST_SCALE = 1.6;    // octave pixels
constexpr double SECOND_SCALE = 2.26;  // octave pixels, about sqrt(2) * FIRST_SCALE

// The pyramid of one image and the buffers it is made in, kept from one image
// to the next so that they are not allocated and cleared again.
struct ScaleSpace {
    std::vector<HessianLevel> levels;  // finest first; only the first `count` are valid
    int count = 0;
    Plane base, first, second, scratch;
};

// The blur's taps: a Gaussian cut at 3 sigma (at least one tap either way),
// normalised to sum 1.
std::vector<float> gaussian_kernel(double sigma);

// Separable Gaussian blur (kernel cut at 3 sigma) with replicated borders;
// scratch holds the intermediate rows.
void gaussian_blur(const Plane& in, double sigma, Plane& out, Plane& scratch);

// The Hessian pyramid of space.base (which it overwrites) with at most
// max_octaves octaves; an octave is made only while its grid is at least 8
// pixels in both directions.
void hessian_pyramid(int max_octaves, ScaleSpace& space);

}  // namespace orva
