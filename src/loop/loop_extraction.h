// Loop extraction: finds the loop object in every canonical image of a run,
// outlines and classifies it, decides one shape class for the run and places
// each image's loop centre, mean width and box.
//
// Canonical images have the pin entering from the bottom, so the loop tip is
// the top of the object; x is the column, y the row, row 0 at the top.
// Status: 0, 3 (no background image and fewer than 3 images), 78 (the
// background image leaves less than half of the pixels as background), 5 when
// the images, the background or the records do not cover num_images and imc.
// Empty images (class NO_OBJECT) are no failure: they are reported on standard
// error and left out of *num_processed.
#pragma once

#include <cstdio>
#include <span>

#include "loop/shapes.h"
#include "orva_defines.h"
#include "parallel/background_queue.h"
#include "types.h"

namespace orva {

// Fills shapes[0 .. xp.num_images-1] (sizing each record's eight coordinate
// vectors: left/right imc.height entries, top/bottom imc.width entries),
// *num_processed (images holding an object), *sh_type (the run's shape class)
// and *sh_reliability. xp.image_ptr holds the canonical images, xp.back_ptr the
// canonical background (used when xp.background_flag is set). logoutx is the
// run log, written only when logout_requested(xp) (may be null).
// The images are worked on in parallel (parallel/image_map.h). The
// diagnostic files of each image are written by `diagnostics` beside the rest
// of the run when it is given, else at once.
int get_loop(ORVAPARAMS& xp, const IMAGE& imc, std::span<SHAPE_PARAMS> shapes, int* num_processed,
             int* sh_type, float* sh_reliability, std::FILE* logoutx,
             BackgroundQueue* diagnostics = nullptr);

}  // namespace orva
