// Mean position or robust combined motion fit of the observation table.
#include "analysis/centre_fit.h"

#include <cstdio>

#include "fit/combined_fit.h"
#include "toolkit/arrays.h"

namespace orva {

int motion_fit_threshold(bool known_centre) {
    return known_centre ? 2 : 3;
}

void mean_position(const ObservationTable& table, PARAMS& mp) {
    double sum_x = 0.0, sum_y = 0.0;
    int n_x = 0, n_y = 0;
    for (int i = 0; i < table.count(); ++i) {
        if (table.x[i] > 0) {
            sum_x += table.x[i];
            ++n_x;
        }
        if (table.y[i] > 0) {
            sum_y += table.y[i];
            ++n_y;
        }
    }
    if (n_x > 0) mp.x0 = sum_x / n_x;
    if (n_y > 0) mp.y0 = sum_y / n_y;
}

int centre_fit(PARAMS& mp, ObservationTable& table, int numimg_processed, bool known_centre,
               double x0_preset) {
    if (numimg_processed < motion_fit_threshold(known_centre)) {
        mean_position(table, mp);
        return 0;
    }
    const int n = table.count();
    Matrix<double> obs = matrix(2, n);
    Matrix<double> est = matrix(2, n);
    for (int i = 0; i < n; ++i) {
        obs[0][i] = table.x[i];
        obs[1][i] = table.y[i];
    }
    mp.x0 = known_centre ? x0_preset : -1.0;
    const int status = weighted_combined_LS(mp, obs, est, table.angle, n, table.weight, stdout);
    if (status != 0) return status;
    for (int i = 0; i < n; ++i) {
        table.est_x[i] = est[0][i];
        table.est_y[i] = est[1][i];
    }
    return 0;
}

}  // namespace orva
