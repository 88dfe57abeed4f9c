// Run-parameter checks, border adjustment, angle folding and quadrant warnings,
// method choice, half-resolution switch and the known axis position.
//
// The known axis position is the inverse of the coordinate correction of the
// result stage: for every loop position, a fit that reproduces the preset x0
// reports centre_coord again as the axis.
#include "analysis/driver_setup.h"

#include <cstdio>

#include "orva_defines.h"

namespace orva {

namespace {

constexpr int EDGE_MARKER_IMAGES = 1;
constexpr int TOP_STRIPE_IMAGES = 2;
constexpr int MIN_RIGHT_BORDER_WITH_MARKERS = 8;
constexpr int TOP_STRIPE_BORDER = 18;

const char* const QUADRANT_TEXT[4] = {
    "the range of 0..90 degrees!", "the range of 90..180 degrees!",
    "the range of 180..270 degrees!", "the range of 270..360 degrees!"};

}  // namespace

int check_loop_position(int loop_pos) {
    if (loop_pos >= 0 && loop_pos <= 3) return 0;
    std::fprintf(stderr, "\n LOOP_POS: value must be in the range of 0...3");
    std::fprintf(stderr, ", but is %d\n", loop_pos);
    return RUN_PARAMETER_ERROR;
}

int check_image_count(int num_images) {
    if (num_images >= MIN_RUN_IMAGES && num_images <= MAX_RUN_IMAGES) return 0;
    std::fprintf(stderr, "\n NUM_IMG: value must be in the range of 1...36\n");
    return RUN_PARAMETER_ERROR;
}

int check_known_axis(int centre_coord, int loop_pos, const int* border, int width, int height) {
    if (centre_coord < 1) return 0;
    const bool columns = loop_pos == 0 || loop_pos == 1;
    const long first = columns ? border[BORDER_LEFT] : border[BORDER_TOP];
    const long last =
        columns ? long{width} - 1 - border[BORDER_RIGHT] : long{height} - 1 - border[BORDER_BOTTOM];
    if (centre_coord >= first && centre_coord <= last) return 0;
    std::fprintf(stderr, "\n CENTRE_COORD %d lies outside the analysed image (%s %ld to %ld)\n",
                 centre_coord, columns ? "columns" : "rows", first, last);
    return AXIS_OUTSIDE_IMAGE;
}

void adjust_borders(const int* job_border, int image_special, int* border) {
    for (int i = 0; i < 4; ++i) border[i] = job_border[i];
    if (image_special == EDGE_MARKER_IMAGES && border[3] < MIN_RIGHT_BORDER_WITH_MARKERS)
        border[3] = MIN_RIGHT_BORDER_WITH_MARKERS;
    if (image_special == TOP_STRIPE_IMAGES) border[1] = TOP_STRIPE_BORDER;
}

unsigned normalise_angles(std::span<float> angles) {
    unsigned quadrants = 0;
    for (float& angle : angles) {
        if (angle < 0.0f) angle += 360.0f;
        for (int k = 0; k < 4; ++k)
            if (angle >= 90.0f * k && angle < 90.0f * (k + 1)) quadrants |= 1u << k;
    }
    return quadrants;
}

void warn_missing_quadrants(unsigned quadrants) {
    for (int k = 0; k < 4; ++k) {
        if (quadrants & (1u << k)) continue;
        std::fprintf(stderr, "\n================================");
        std::fprintf(stderr, "================================");
        std::fprintf(stderr, "\n= Warning !!  There is no image in ");
        std::fprintf(stderr, "%s", QUADRANT_TEXT[k]);
        std::fprintf(stderr, "\n================================");
        std::fprintf(stderr, "================================\n");
    }
}

bool use_version23_method(int num_images, int centre_coord, int prealignment_flag,
                          int vers23_flag) {
    return (num_images < 3 && (centre_coord < 1 || num_images < 2)) ||
           (prealignment_flag == 0 && vers23_flag == 1);
}

int subsampling_flag(int width, int height) {
    return width + height > HALF_RESOLUTION_SUM ? 1 : 0;
}

double preset_axis(int centre_coord, int loop_pos, const int* border, int sub_flag,
                   const IMAGE& imc) {
    if (centre_coord < 1) return -1.0;
    double x0 = 0.0;
    if (loop_pos == 0 || loop_pos == 1) {
        x0 = centre_coord - border[2];
    } else if (loop_pos == 2) {
        x0 = centre_coord - border[1];
    } else {
        // Cut columns count input rows upwards from the bottom border.
        const int full_width = sub_flag ? 2 * static_cast<int>(imc.width) : imc.width;
        x0 = full_width - 1 - (centre_coord - border[1]);
    }
    if (sub_flag == 1) x0 /= 2;
    return x0;
}

}  // namespace orva
