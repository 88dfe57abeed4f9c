// Accuracy benchmark: renders a fixed, varied set of scenes with the scene
// generator, runs orva on each and compares the result file with the ground
// truth. Prints one line per scene and a summary (success rate, median and
// 90th-percentile errors). Run by hand through bench/accuracy.
//
// Success of a crystal scene: status 0, PRECENTRING 0, and with the tolerance
// T = max(4 px, crystal diameter / 4): |dX_CENTRE| <= T, |dY_CENTRE| <= T, and the
// crystal position the result predicts lies within T of the true one at every
// angle of the series (this covers RADIUS and TARGET_ANGLE together). Pin-only
// scenes: status 0, PRECENTRING 1, axis and pin tip within max(6 px, pin width /
// 10). Empty views: status 0, PRECENTRING 1, X_CENTRE = Y_CENTRE = -1.
// With --prealign the same crystal scenes carry PREALIGN and the result must give
// the loop centre (axis, centre of the ring's extent) within max(6 px, loop width
// / 10), with PRECENTRING 1; the errors of RADIUS and TARGET_ANGLE against the
// off-axis loop centre's motion are listed but do not decide success. Angle
// errors count only where the true radius is at least 10 px, where the angle is
// well defined. With --vers23 the results are read in that method's frame:
// X_CENTRE a column and Y_CENTRE a row for every loop position, and for an empty
// view Y_CENTRE the image's extent, not -1.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "geometry.h"
#include "image_writers.h"
#include "method_comparison.h"
#include "scene.h"
#include "series.h"
#include "truth.h"

namespace orva::bench {
namespace {

using namespace orva::scenegen;

constexpr double MIN_RADIUS_FOR_ANGLE = 10.0;

struct BenchScene {
    SceneOptions opt;
    const char* kind = "crystal";
};

// The fixed scene set: crystal scenes spread over seeds, sizes, loop positions,
// crystal sizes, radii, formats, image counts, blur, distractors and backgrounds,
// seen at a centring zoom (the loop 0.40 to 0.56 of the view along the axis wide, off
// the axis, leaning and sagging as the generator draws it from the seed); then a
// few pin-only views (a wide pin through the whole view, with a background image)
// and empty views.
std::vector<BenchScene> scene_set() {
    static const int sizes[4][2] = {{640, 480}, {768, 576}, {1024, 768}, {1360, 1024}};
    static const ImageFormat formats[6] = {ImageFormat::Jpeg,   ImageFormat::Png,
                                           ImageFormat::Pgm,    ImageFormat::TiffII,
                                           ImageFormat::TiffMM, ImageFormat::Ppm};
    static const int counts[4] = {8, 12, 18, 36};
    static const double crystal_fraction[3] = {0.2, 0.32, 0.45};
    static const double radius_fraction[3] = {0.1, 0.5, 0.9};
    std::vector<BenchScene> set;
    for (int i = 0; i < 60; ++i) {
        BenchScene b;
        SceneOptions& o = b.opt;
        o.seed = 1000 + i;
        o.width = sizes[(i / 4) % 4][0];
        o.height = sizes[(i / 4) % 4][1];
        o.loop_position = i % 4;
        o.format = formats[(i / 3) % 6];
        o.num_images = counts[(i / 6) % 4];
        o.start_angle = (i % 2) * 5.0;
        o.background = i % 3 == 1;
        o.blur = 0.8 + 0.4 * ((i / 9) % 3);
        o.noise = 1.5 + (i % 3);
        o.ice = i % 5 == 0 ? 2 : 0;
        o.bubbles = i % 7 == 0 ? 1 : 0;
        o.reflection = i % 4 == 2;
        if (i % 10 == 3) o.stripes = {0, 0, 6, 6};
        // Along the axis the view is the upright height; across it the loop, off
        // the axis, must stay in view.
        const bool turned = o.loop_position >= 2;
        const double upright_height = turned ? o.width : o.height;
        const double upright_width = turned ? o.height : o.width;
        const double loop_size =
            std::min(upright_height * (0.40 + 0.04 * (i % 5)), 0.62 * upright_width);
        o.loop_size = loop_size;
        o.crystal_size = crystal_fraction[(i / 5) % 3] * loop_size;
        o.crystal_offset = 0.0;
        // Up to about a third of the loop size from the axis; the generator puts
        // the ring around the crystal.
        o.radius = radius_fraction[(i / 7) % 3] * 0.35 * loop_size;
        set.push_back(b);
    }
    for (int i = 0; i < 4; ++i) {
        BenchScene b;
        b.kind = "pin";
        b.opt.kind = SceneKind::Pin;  // written with a background image
        b.opt.seed = 2000 + i;
        b.opt.loop_position = i;
        b.opt.num_images = 12;
        b.opt.format = i == 1 ? ImageFormat::Jpeg : ImageFormat::Png;
        set.push_back(b);
    }
    for (int i = 0; i < 2; ++i) {
        BenchScene b;
        b.kind = "empty";
        b.opt.kind = SceneKind::Empty;
        b.opt.seed = 3000 + i;
        b.opt.num_images = 8;
        b.opt.background = i == 1;
        set.push_back(b);
    }
    return set;
}

struct Section {
    const char* title;
    bool vers23 = false;
    bool prealign = false;
};

struct Errors {
    std::vector<double> x, y, radius, angle;
};

struct Tally {
    int ok = 0;
    int total = 0;
};

struct Settings {
    std::string orva = ORVA_BINARY;
    std::string keep;
    int limit = -1;
    double timeout = 300.0;
    bool vers23 = false;
    bool prealign = false;
    bool only_extra = false;
    std::string track_set;  // "tuning" or "reported": run the crystal-search section only
    std::string methods = "default,vers23,track";
    std::string scenes;  // comma-separated scene ids of that section, empty for all
    bool logoutx = false;
    unsigned long long seeds = 0;  // that section drawn from this seed on (0: the set's own)
};

// Largest distance between the predicted and the true crystal positions over the
// series' angles (result frame, input pixels).
double worst_position_error(const Truth& t, const std::vector<double>& angles, double rx, double ry,
                            double rr, double ra) {
    const int sign = result_motion_sign(t.loop_position);
    double worst = 0.0;
    for (double a : angles) {
        const double along_true =
            t.x_centre + sign * t.radius * std::cos((a - t.target_angle) * DEG);
        const double along_res = rx + sign * rr * std::cos((a - ra) * DEG);
        worst = std::max(worst, std::hypot(along_res - along_true, ry - t.y_centre));
    }
    return worst;
}

void run_section(const Section& section, const std::vector<BenchScene>& scenes,
                 const Settings& settings, const std::string& work) {
    std::printf("\n== %s\n", section.title);
    std::printf(
        "%-3s %-7s %-9s %3s %-7s %2s %2s | %7s %7s %6s %7s | %5s %5s %4s %4s %1s %3s | "
        "%6s %6s %6s %6s %6s %5s %s\n",
        "id", "scene", "size", "pos", "fmt", "bg", "n", "X_true", "Y_true", "R_true", "A_true", "X",
        "Y", "R", "A", "P", "st", "dX", "dY", "dR", "dA", "dpos", "tol", "ok");
    Errors errors;
    Tally all, crystal, pin, empty;
    for (size_t i = 0; i < scenes.size(); ++i) {
        BenchScene b = scenes[i];
        const bool is_crystal = b.opt.kind == SceneKind::Crystal;
        if (section.prealign && !is_crystal) continue;
        b.opt.vers23 = section.vers23;
        b.opt.prealign = section.prealign;
        char folder[64];
        std::snprintf(folder, sizeof folder, "scene%02zu", i);
        b.opt.out_dir = (std::filesystem::path(work) / folder).string();
        b.opt.quiet = true;
        Scene scene;
        std::string error;
        if (resolve_scene(b.opt, scene, error) || write_series(scene, nullptr, error)) {
            std::printf("%-3zu cannot render: %s\n", i, error.c_str());
            continue;
        }
        const Truth t = compute_truth(scene);
        const RunOutcome run = run_program(settings.orva, {"job.txt", "result.txt"}, b.opt.out_dir,
                                           "orva.out", "orva.err", settings.timeout);
        const auto result = read_key_values(b.opt.out_dir + "/result.txt");
        double rx = 0, ry = 0, rr = 0, ra = 0, rp = -1;
        const bool have = run.status == 0 && number_of(result, "X_CENTRE", rx) &&
                          number_of(result, "Y_CENTRE", ry) && number_of(result, "RADIUS", rr) &&
                          number_of(result, "TARGET_ANGLE", ra) &&
                          number_of(result, "PRECENTRING", rp);
        // The version-2.3 method states a column as X_CENTRE and a row as Y_CENTRE
        // whatever the loop position; for positions 2 and 3 the axis is then its Y.
        if (section.vers23 && b.opt.loop_position >= 2) std::swap(rx, ry);

        double tol = 0.0, dpos = 0.0;
        bool ok = false;
        const double dx = rx - t.x_centre, dy = ry - t.y_centre, dr = rr - t.radius;
        const bool angle_defined = t.has_angle && t.radius >= MIN_RADIUS_FOR_ANGLE;
        const double da = wrap_degrees(ra - t.target_angle);
        if (have) {
            if (section.prealign) {
                tol = std::max(6.0, 0.1 * t.loop_width_max);
                ok = rp == 1 && std::fabs(dx) <= tol && std::fabs(dy) <= tol;
            } else if (is_crystal) {
                tol = std::max(4.0, 0.25 * t.crystal_diameter);
                dpos = worst_position_error(t, scene.angles, rx, ry, rr, ra);
                ok = rp == 0 && std::fabs(dx) <= tol && std::fabs(dy) <= tol && dpos <= tol;
            } else if (b.opt.kind == SceneKind::Pin) {
                tol = std::max(6.0, 0.2 * scene.pin_half_width);
                ok = rp == 1 && std::fabs(dx) <= tol && std::fabs(dy) <= tol;
            } else {
                // That method gives an empty view the image's extent along the axis.
                ok = rp == 1 && rx == -1 && (section.vers23 || ry == -1);
            }
            if (is_crystal || b.opt.kind == SceneKind::Pin) {
                errors.x.push_back(std::fabs(dx));
                errors.y.push_back(std::fabs(dy));
                errors.radius.push_back(std::fabs(dr));
                if (angle_defined) errors.angle.push_back(std::fabs(da));
            }
        }
        Tally& kind = is_crystal ? crystal : (b.opt.kind == SceneKind::Pin ? pin : empty);
        kind.total++;
        all.total++;
        if (ok) {
            kind.ok++;
            all.ok++;
        }

        char size[16];
        std::snprintf(size, sizeof size, "%dx%d", b.opt.width, b.opt.height);
        char truth_angle[16] = "-";
        if (t.has_angle) std::snprintf(truth_angle, sizeof truth_angle, "%.1f", t.target_angle);
        std::printf("%-3zu %-7s %-9s %3d %-7s %2d %2zu | %7.1f %7.1f %6.1f %7s | ", i, b.kind, size,
                    b.opt.loop_position, format_name(b.opt.format), scene.background ? 1 : 0,
                    scene.angles.size(), t.x_centre, t.y_centre, t.radius, truth_angle);
        if (have) {
            char angle_err[16] = "-";
            if (angle_defined) std::snprintf(angle_err, sizeof angle_err, "%.1f", da);
            std::printf(
                "%5.0f %5.0f %4.0f %4.0f %1.0f %3d | %6.1f %6.1f %6.1f %6s %6.1f %5.1f %s\n", rx,
                ry, rr, ra, rp, run.status, dx, dy, dr, angle_err, dpos, tol, ok ? "yes" : "NO");
        } else {
            std::printf("%-28s %3d | %s: %s\n", run.timed_out ? "timed out" : "no result",
                        run.status, "messages", last_lines(b.opt.out_dir + "/orva.err", 2).c_str());
        }
        std::fflush(stdout);
        if (settings.keep.empty()) std::filesystem::remove_all(b.opt.out_dir);
    }

    std::printf("\n-- summary: %s\n", section.title);
    std::printf("success: %d of %d (%.1f%%)", all.ok, all.total,
                all.total ? 100.0 * all.ok / all.total : 0.0);
    std::printf("   crystal %d/%d", crystal.ok, crystal.total);
    if (pin.total) std::printf(", pin only %d/%d", pin.ok, pin.total);
    if (empty.total) std::printf(", empty %d/%d", empty.ok, empty.total);
    std::printf("\nerrors of the runs that gave a result (pixels, degrees):\n");
    std::printf("  %-26s %8s %8s %5s\n", "", "median", "90th pct", "n");
    auto row = [](const char* name, const std::vector<double>& v) {
        std::printf("  %-26s %8.2f %8.2f %5zu\n", name, quantile(v, 0.5), quantile(v, 0.9),
                    v.size());
    };
    row("|X_CENTRE error|", errors.x);
    row("|Y_CENTRE error|", errors.y);
    row("|RADIUS error|", errors.radius);
    row("|TARGET_ANGLE error| (R>=10)", errors.angle);
}

void usage(const char* program) {
    std::printf(
        "Usage: %s [options]\n"
        "Renders a fixed set of scenes, runs orva on each and compares with the truth.\n"
        "  --vers23        add a section with VERS23 in every job\n"
        "  --prealign      add a section with PREALIGN in the crystal jobs (loop centre)\n"
        "  --only-extra    run only the sections added by --vers23 / --prealign\n"
        "  --limit N       use only the first N crystal scenes (and all pin/empty ones)\n"
        "  --keep DIR      keep the rendered scenes and orva's files under DIR\n"
        "  --orva PATH     the program to test (default: the built orva)\n"
        "  --timeout S     seconds allowed per run (default 300)\n"
        "  --track SET     instead, the crystal-search section: 200 scenes of the TUNING, the\n"
        "                  VALIDATION or the REPORTED set (tuning | validation | reported), each\n"
        "                  run with the default method,\n"
        "                  VERS23 and TRACK side by side; --limit N takes the first N scenes\n"
        "  --methods LIST  methods of that section, of default,vers23,track (default: all)\n"
        "  --scenes LIST   only these scene ids of that section (comma-separated)\n"
        "  --logoutx       write LOGOUTX into that section's jobs (keep them with --keep)\n"
        "  --seeds N       draw that section's scenes from seed N on, as the set's own are drawn\n",
        program);
}

}  // namespace
}  // namespace orva::bench

int main(int argc, char** argv) {
    using namespace orva::bench;
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--vers23")
            settings.vers23 = true;
        else if (a == "--prealign")
            settings.prealign = true;
        else if (a == "--only-extra")
            settings.only_extra = true;
        else if (a == "--limit")
            settings.limit = std::atoi(value().c_str());
        else if (a == "--keep")
            settings.keep = value();
        else if (a == "--orva")
            settings.orva = value();
        else if (a == "--timeout")
            settings.timeout = std::atof(value().c_str());
        else if (a == "--track")
            settings.track_set = value();
        else if (a == "--methods")
            settings.methods = value();
        else if (a == "--scenes")
            settings.scenes = value();
        else if (a == "--logoutx")
            settings.logoutx = true;
        else if (a == "--seeds")
            settings.seeds = std::strtoull(value().c_str(), nullptr, 10);
        else if (a == "--help" || a == "-h") {
            usage(argv[0]);
            return 0;
        } else {
            std::fprintf(stderr, "unknown option %s\n", a.c_str());
            usage(argv[0]);
            return 2;
        }
    }
    if (!settings.track_set.empty()) {
        if (settings.track_set != "tuning" && settings.track_set != "validation" &&
            settings.track_set != "reported") {
            std::fprintf(stderr, "--track needs tuning, validation or reported\n");
            return 2;
        }
        ComparisonSettings cs;
        cs.orva = settings.orva;
        cs.keep = !settings.keep.empty();
        cs.work = cs.keep ? settings.keep : make_scratch_folder("comparison");
        if (cs.work.empty()) {
            std::fprintf(stderr, "cannot create a scratch folder\n");
            return 1;
        }
        std::filesystem::create_directories(cs.work);
        cs.logoutx = settings.logoutx;
        cs.timeout = settings.timeout;
        cs.limit = settings.limit;
        cs.seeds = settings.seeds;
        for (std::size_t at = 0; at < settings.scenes.size();) {
            cs.only.push_back(std::atoi(settings.scenes.c_str() + at));
            const std::size_t comma = settings.scenes.find(',', at);
            at = comma == std::string::npos ? settings.scenes.size() : comma + 1;
        }
        static const char* const names[3] = {"default", "vers23", "track"};
        for (int m = 0; m < 3; ++m)
            cs.methods[m] =
                ("," + settings.methods + ",").find(std::string(",") + names[m] + ",") !=
                std::string::npos;
        run_comparison(settings.track_set == "tuning"       ? SceneSet::Tuning
                       : settings.track_set == "validation" ? SceneSet::Validation
                                                            : SceneSet::Reported,
                       cs);
        if (!cs.keep) std::filesystem::remove_all(cs.work);
        return 0;
    }
    std::vector<BenchScene> scenes = scene_set();
    if (settings.limit >= 0) {
        std::vector<BenchScene> kept;
        int crystals = 0;
        for (const BenchScene& b : scenes)
            if (b.opt.kind != orva::scenegen::SceneKind::Crystal || crystals++ < settings.limit)
                kept.push_back(b);
        scenes = kept;
    }
    std::string work = settings.keep;
    if (work.empty()) {
        work = make_scratch_folder("accuracy");
    } else {
        std::filesystem::create_directories(work);
    }
    if (work.empty()) {
        std::fprintf(stderr, "cannot create a scratch folder\n");
        return 1;
    }
    std::printf("accuracy benchmark: %zu scenes, orva %s\n", scenes.size(), settings.orva.c_str());
    std::printf(
        "X_CENTRE is the axis, Y_CENTRE the position along it (input pixels); "
        "dpos: worst crystal-position error over the series\n");
    if (!settings.only_extra) run_section({"default method"}, scenes, settings, work);
    if (settings.vers23) run_section({"VERS23 in every job", true, false}, scenes, settings, work);
    if (settings.prealign)
        run_section({"PREALIGN (loop centre against truth)", false, true}, scenes, settings, work);
    if (settings.keep.empty()) std::filesystem::remove_all(work);
    return 0;
}
