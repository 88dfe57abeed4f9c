// The hint for an unknown job-file keyword: the known keyword it most likely
// misspells.
#pragma once

#include <string_view>

namespace orva {

// The known keyword closest to `word`, or null when none is close. Close means
// at most one edit (a letter added, dropped, changed, or two neighbours
// swapped) for keywords of up to four letters and at most two for longer ones,
// letter case not counted; the first keyword of the smallest distance wins.
// Failing that, a keyword the word starts with ("BACKGROUND": BACK), the
// longest one.
const char* closest_keyword(std::string_view word);

}  // namespace orva
