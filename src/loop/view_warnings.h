// The warning blocks on standard error of a run whose views hold no loop to
// centre on: every image empty, or a pin only. Both analysis methods write
// them, word for word the same.
#pragma once

namespace orva {

// No loop in any image: it is outside the view or not mounted.
void warn_all_empty();
// The pin fills the view: the result is the tip of the pin.
void warn_pin_only();

}  // namespace orva
