// TELKU crystal detector: multi-grid local-contrast maxima clustered into two
// candidates per image, and the choice between the candidates across a run.
#pragma once

#include <cstdio>
#include <span>

#include "types.h"

namespace orva {

// Naming of the image being examined: the driver sets base_name to "telku%d"
// (image index) before each call. The detector itself writes no files.
struct TelkuContext {
    char base_name[256] = {};
    void set_image(int q);
};

// `cptr` (width x height of `im`) is contrast-stretched in place. Writes two
// candidates xc[0..1], yc[0..1] (image pixels, -1 when absent), their merits
// fomx, fomy (0 when absent), the object thickness and the median object area
// (image pixels). Sets im.size. Returns 0; when a grid's detection fails the
// outputs stay "nothing found" (-1, merits 0, sizes 0).
int telku(std::span<unsigned char> cptr, IMAGE& im, std::FILE* logfile, int* xc, int* yc,
          float* fomx, float* fomy, int* owidth, int* oheight, int* oarea);

// The model x = a * sin((ph + angle) / 180 * 3.141592654) + off (angle and
// ph in degrees) that select_cand fits, and the scan start of its swap search.
// Both persist from one call to the next within a process.
struct CandidateSelection {
    double a = 0.0;
    double ph = 0.0;
    double off = 0.0;
    int scan_start = 0;
};

// The process-wide state the plain select_cand uses (scan start 0 at start-up).
CandidateSelection& candidate_selection_state();

// The model at angle (degrees).
double function(const CandidateSelection& model, double angle);
double function(double angle);  // the process-wide model

// Chooses, image by image, between the two TELKU candidates so that the top
// candidates follow one sinusoid over the angles. Returns 0, or 3.
int select_cand(std::span<double> xc0, std::span<double> yc0, std::span<double> xc1,
                std::span<double> yc1, std::span<double> xc0_f, std::span<double> yc0_f,
                std::span<double> xc1_f, std::span<double> yc1_f, std::span<int> width0,
                std::span<const float> angles, int numimg, std::FILE* logfile);
// The same on an explicit state.
int select_cand(CandidateSelection& state, std::span<double> xc0, std::span<double> yc0,
                std::span<double> xc1, std::span<double> yc1, std::span<double> xc0_f,
                std::span<double> yc0_f, std::span<double> xc1_f, std::span<double> yc1_f,
                std::span<int> width0, std::span<const float> angles, int numimg,
                std::FILE* logfile);

}  // namespace orva
