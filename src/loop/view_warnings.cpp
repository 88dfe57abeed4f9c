// Warning blocks for views without a loop; see view_warnings.h.
#include "loop/view_warnings.h"

#include <cstdio>

namespace orva {

void warn_all_empty() {
    std::fprintf(stderr, "\n### ! All images are empty.");
    std::fprintf(stderr, "\n### ! 'PRECENTRING' is set to '1' in output file");
    std::fprintf(stderr, "\n### ! Either there is no loop at all or the loop");
    std::fprintf(stderr, "\n### !  has to be moved along the spindle axis");
    std::fprintf(stderr, "\n### !  into the field of the camera view.");
    std::fprintf(stderr, "\n### ! -------------------------------------------\n");
}

void warn_pin_only() {
    std::fprintf(stderr, "\n### ! The pin covers a wide area of the image.");
    std::fprintf(stderr, "\n### ! 'PRECENTRING' is set to '1' in output file");
    std::fprintf(stderr, "\n### ! 'Y_CENTRE' and 'X_CENTRE' can be interpreted");
    std::fprintf(stderr, "\n### !  as coordinates of the tip of the pin.");
    std::fprintf(stderr, "\n### ! Thus, a accurate precentring is possible.");
    std::fprintf(stderr, "\n### ! --------------------------------------------\n");
}

}  // namespace orva
