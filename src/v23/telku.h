// TELKU crystal detector: multi-grid local-contrast maxima clustered into two
// candidates per image, and the choice between the candidates across a run.
#pragma once

#include <cstdio>
#include <span>

#include "types.h"

namespace orva {

// `cptr` (width x height of `im`) is contrast-stretched in place. Writes two
// candidates xc[0..1], yc[0..1] (image pixels, -1 when absent), their merits
// fomx, fomy (0 when absent), the object thickness and the median object area.
int telku(std::span<unsigned char> cptr, IMAGE& im, std::FILE* logfile, int* xc, int* yc,
          float* fomx, float* fomy, int* owidth, int* oheight, int* oarea);

// Chooses, image by image, between the two TELKU candidates so that the top
// candidates follow one sinusoid over the angles. Returns 0, or 3.
int select_cand(std::span<double> xc0, std::span<double> yc0, std::span<double> xc1,
                std::span<double> yc1, std::span<double> xc0_f, std::span<double> yc0_f,
                std::span<double> xc1_f, std::span<double> yc1_f, std::span<int> width0,
                std::span<const float> angles, int numimg, std::FILE* logfile);

}  // namespace orva
