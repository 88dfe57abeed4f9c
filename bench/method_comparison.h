// The crystal-search section of the accuracy benchmark: a set of scenes drawn to
// cover what users meet (crystals anywhere in the loop, near its rim too, 10 to
// 120 px, radius 0 to 150 px, bent loops, needles and plates, distractors, empty
// loops, pin-only and empty views, 4 to 36 images, every loop position, with and
// without a background image), run with the default method, VERS23 and TRACK side
// by side.
//
// Three sets are drawn the same way from different seeds: the TUNING and the
// VALIDATION sets, on which the TRACK method's constants were chosen (the second
// to choose its decision model and scales on more scenes than one set holds),
// and the REPORTED set, which is kept apart from them and only ever measured.
#pragma once

#include <string>
#include <vector>

#include "scene.h"

namespace orva::bench {

enum class SceneSet { Tuning, Validation, Reported };

// TUNING, VALIDATION or REPORTED.
const char* set_name(SceneSet set);

struct ComparisonScene {
    scenegen::SceneOptions opt;
    std::string kind;       // crystal, loop, pin, pin-tip, empty
    bool near_rim = false;  // crystal within one crystal size of the fibre
    bool bent = false;      // loop bent to one side
};

// Seeds of a set: base + 0, base + 1, ...
std::uint64_t set_seed_base(SceneSet set);

// The scenes of a set drawn from seed `base` on (150 crystal scenes, then 50
// without a crystal).
std::vector<ComparisonScene> comparison_scenes(std::uint64_t base);

// The further sets TRACK's decision and choice of trajectory were fitted on
// besides the tuning and validation sets: drawn like them from these seeds.
inline constexpr std::uint64_t FITTING_SEEDS[] = {110000, 130000, 150000, 170000,
                                                   190000, 210000, 230000, 250000};

struct ComparisonSettings {
    std::string orva;
    std::string work;  // scratch folder; kept when keep is set
    bool keep = false;
    bool logoutx = false;
    double timeout = 300.0;
    bool methods[3] = {true, true, true};  // default, VERS23, TRACK
    int limit = -1;                        // first N scenes only
    std::vector<int> only;                 // these scene ids only, when not empty
    std::uint64_t seeds = 0;               // draw from this seed on instead of the set's own
};

// Renders and runs every scene, prints one line per scene and the summaries.
void run_comparison(SceneSet set, const ComparisonSettings& settings);

}  // namespace orva::bench
