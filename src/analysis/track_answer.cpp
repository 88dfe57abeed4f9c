// Method-choice messages, crystal answer and no-crystal message of TRACK runs.
#include "analysis/track_answer.h"

#include <cmath>
#include <cstdio>

#include "analysis/observations.h"

namespace orva {

void announce_track(const ORVAPARAMS& params) {
    if (params.prealignment_flag != 0) return;
    // Two images with a known axis go to the default method, whose crystal search
    // then says itself that it takes over.
    if (params.num_images < 3 && (params.num_images < 2 || params.centre_coord < 1))
        std::fprintf(stderr,
                     "\n TRACK needs at least three images; the version-2.3 method is used.");
    else if (params.vers23_flag)
        std::fprintf(stderr, "\n TRACK and VERS23 both given: TRACK is used.");
}

TrackAnswer track_answer(const TrackResult& track, PARAMS& mp, DriverLog& log) {
    const TrajectoryFit& fit = track.best;
    mp.x0 = fit.t.x0;
    mp.y0 = fit.t.y;
    mp.radius = fit.t.radius();
    mp.phi0 = phase_angle(fit.t.a, fit.t.b, mp.radius);
    mp.var_x0 = fit.var_x0;
    mp.var_y0 = fit.var_y;
    mp.var_p0 = fit.var_a;
    mp.var_q0 = fit.var_b;
    mp.gofn = fit.gof;

    TrackAnswer answer;
    ObservationTable& table = answer.table;
    for (const Match& m : fit.matches) {
        const TrackImage& image = track.images[m.image];
        const Candidate& c = image.candidates[m.candidate];
        table.add(image.angle, c.x, c.y, m.image, "track");
        table.weight.back() = m.contribution;
        table.est_x.back() = fit.t.x_at(image.angle);
        table.est_y.back() = fit.t.y;
    }
    log_fit_table(log, table, true);

    std::fprintf(stderr, "\n TRACK: the crystal moves through %d of %d images.",
                 static_cast<int>(fit.matches.size()), track.evidence.usable);
    if (track.crystals > 1) {
        std::fprintf(stderr,
                     "\n TRACK: %d objects move like crystals; the best supported one is centred.",
                     track.crystals);
        log.write("\n# %d objects move like crystals; the best supported one is centred.",
                  track.crystals);
    }
    answer.crystal_size = static_cast<int>(std::lround(fit.size));
    answer.reliability = track.reliability;
    return answer;
}

void report_track_no_crystal(DriverLog& log, bool undecidable) {
    std::fprintf(stderr, "\n### ! TRACK: %s",
                 undecidable ? "the images lie too close in angle (or half a turn apart) to "
                               "follow an object."
                             : "nothing moves like a crystal through the series.");
    std::fprintf(stderr, "\n### ! 'PRECENTRING' is set to '1' in output file");
    std::fprintf(stderr, "\n### ! 'Y_CENTRE' and 'X_CENTRE' are taken from the loop centres.");
    std::fprintf(stderr, "\n### ! -------------------------------------------\n");
    log.write("\n\n# TRACK: no crystal, the loop centres are used");
}

}  // namespace orva
