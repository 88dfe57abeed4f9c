// Decision rule and reliability of the TRACK method (see track_decision.h).
#include "track/track_decision.h"

#include <cmath>

namespace orva {

namespace {

constexpr double MIN_SHARE = 0.4;
constexpr int MIN_SUPPORTING = 3;

}  // namespace

bool is_crystal(const Evidence& e) {
    return e.supporting >= MIN_SUPPORTING && e.share >= MIN_SHARE;
}

double track_reliability(const Evidence& e) {
    const double z = -3.0 + 6.0 * e.share + 2.0 * e.margin - 4.0 * e.residual;
    return 1.0 / (1.0 + std::exp(-z));
}

}  // namespace orva
