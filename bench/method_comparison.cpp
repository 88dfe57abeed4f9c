// Scene set and runner of the crystal-search section (see method_comparison.h).
//
// Success of a crystal scene, for every method alike: status 0, PRECENTRING 0, and
// with T = max(5 px, a quarter of the crystal's mean projected area-equivalent
// diameter): |dX_CENTRE|, |dY_CENTRE| and |dRADIUS| <= T, and |dTARGET_ANGLE| <= 20
// degrees where the true radius is at least 10 px. A scene without a crystal is
// right when the run succeeds with PRECENTRING 1. The version-2.3 method's results
// are read in its own frame (a column and a row whatever the loop position).
#include "method_comparison.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "bench_support.h"
#include "geometry.h"
#include "image_writers.h"
#include "job_file_writer.h"
#include "series.h"
#include "truth.h"

namespace orva::bench {

namespace {

using namespace orva::scenegen;

constexpr int CRYSTAL_SCENES = 150;
constexpr int LOOP_SCENES = 20;
constexpr int PIN_SCENES = 18;
constexpr int EMPTY_SCENES = 12;
constexpr double MIN_TOLERANCE = 5.0;
constexpr double MAX_ANGLE_ERROR = 20.0;
constexpr double MIN_RADIUS_FOR_ANGLE = 10.0;
constexpr int METHODS = 3;
const char* const METHOD_NAME[METHODS] = {"default", "VERS23", "TRACK"};
const char* const METHOD_LINE[METHODS] = {nullptr, "VERS23", "TRACK"};

const int COUNTS[4] = {4, 8, 16, 36};

// A draw of the image size: mostly the common camera sizes, some large enough to
// be analysed at half resolution.
void draw_size(Rng& rng, SceneOptions& o) {
    static const int sizes[4][2] = {{640, 480}, {768, 576}, {1024, 768}, {1360, 1024}};
    const double u = rng.uniform();
    const int k = u < 0.4 ? 0 : u < 0.7 ? 1 : u < 0.85 ? 2 : 3;
    o.width = sizes[k][0];
    o.height = sizes[k][1];
}

void draw_camera(Rng& rng, SceneOptions& o) {
    o.blur = rng.uniform(0.7, 2.0);
    o.noise = rng.uniform(1.5, 3.5);
    if (rng.uniform() < 0.3) {
        o.format = ImageFormat::Jpeg;
        o.quality = 85 + rng.index(11);
    } else {
        o.format = ImageFormat::Png;
    }
}

// Ice in the film, dirt on the optics, knots in the fibre, bubbles.
void draw_distractors(Rng& rng, SceneOptions& o) {
    o.ice = rng.uniform() < 0.35 ? 1 + rng.index(5) : 0;
    o.dirt = rng.uniform() < 0.3 ? 2 + rng.index(7) : 0;
    o.knots = rng.uniform() < 0.3 ? 1 + rng.index(3) : 0;
    o.bubbles = rng.uniform() < 0.1 ? 1 + rng.index(2) : 0;
}

// Series shape of scene i: the image count, the loop position and the background
// cycle through every combination.
void draw_series(int i, Rng& rng, SceneOptions& o) {
    o.num_images = COUNTS[i % 4];
    o.loop_position = (i / 4) % 4;
    o.background = (i / 4 + i / 16) % 2 == 0;
    o.start_angle = std::round(rng.uniform(0.0, 90.0));
}

// True when the loop stays in the view across the axis at every angle.
bool loop_fits(const SceneOptions& o) {
    Scene s;
    std::string error;
    if (resolve_scene(o, s, error) != 0) return false;
    const double reach = loop_reach(s) + s.fibre * (1.0 + s.fibre_variation) + 4.0;
    return 2.0 * reach <= s.can_width - 1.0;
}

// The draws every scene starts with, always in this order, so that a seed keeps
// naming the same scene.
ComparisonScene start_scene(int i, std::uint64_t seed, SceneKind kind, const char* name, Rng& rng) {
    ComparisonScene c;
    c.kind = name;
    c.opt.seed = seed;
    c.opt.kind = kind;
    draw_series(i, rng, c.opt);
    draw_size(rng, c.opt);
    draw_camera(rng, c.opt);
    return c;
}

ComparisonScene crystal_scene(int i, std::uint64_t seed) {
    Rng rng(seed * 7919 + 17);
    ComparisonScene c = start_scene(i, seed, SceneKind::Crystal, "crystal", rng);
    SceneOptions& o = c.opt;
    draw_distractors(rng, o);

    const bool turned = o.loop_position >= 2;
    const double up_height = turned ? o.width : o.height;
    const double up_width = turned ? o.height : o.width;
    static const LoopShape loop_shapes[3] = {LoopShape::Round, LoopShape::Oval,
                                             LoopShape::Teardrop};
    static const double height_factor[3] = {1.0, 1.3, 1.25};
    const int shape = rng.index(3);
    o.loop_shape = loop_shapes[shape];

    static const CrystalShape crystal_shapes[4] = {CrystalShape::Plate, CrystalShape::Prism,
                                                   CrystalShape::Rhomb, CrystalShape::Needle};
    const double u = rng.uniform();
    o.crystal_shape = crystal_shapes[u < 0.3 ? 0 : u < 0.55 ? 1 : u < 0.8 ? 2 : 3];
    const double size = 10.0 * std::pow(12.0, rng.uniform());  // 10 to 120 px, log-uniform
    o.crystal_size = size;
    const double max_loop = std::min(0.7 * up_height / height_factor[shape], 0.62 * up_width);
    const double lo = std::min(std::max(0.3 * up_height, 1.5 * size + 10.0), max_loop);
    const double hi = std::max(lo, std::min(0.55 * up_height, max_loop));
    o.loop_size = rng.uniform(lo, hi);

    c.near_rim = rng.uniform() < 0.4;
    const double side = rng.uniform() < 0.5 ? -1.0 : 1.0;
    o.crystal_across = c.near_rim ? side * rng.uniform(0.75, 1.0) : rng.uniform(-0.7, 0.7);
    o.crystal_along = rng.uniform(-0.9, 0.9);
    c.bent = rng.uniform() < 0.3;
    if (c.bent) {
        o.loop_tilt = (rng.uniform() < 0.5 ? -1.0 : 1.0) * rng.uniform(25.0, 45.0);
        o.loop_sweep = (rng.uniform() < 0.5 ? -1.0 : 1.0) * rng.uniform(0.1, 0.35) * *o.loop_size;
    }
    o.radius = rng.uniform(0.0, 150.0);
    // Shrink the excursion (and the bend) until the loop stays in view.
    for (int k = 0; k < 20 && !loop_fits(o); ++k) {
        o.radius = 0.85 * *o.radius;
        o.loop_sweep *= 0.85;
    }
    return c;
}

ComparisonScene loop_scene(int i, std::uint64_t seed) {
    Rng rng(seed * 7919 + 17);
    ComparisonScene c = start_scene(i, seed, SceneKind::Loop, "loop", rng);
    SceneOptions& o = c.opt;
    draw_distractors(rng, o);
    c.bent = rng.uniform() < 0.3;
    if (c.bent) {
        o.loop_tilt = (rng.uniform() < 0.5 ? -1.0 : 1.0) * rng.uniform(25.0, 45.0);
        o.loop_sweep = (rng.uniform() < 0.5 ? -1.0 : 1.0) * rng.uniform(0.05, 0.2) *
                       (o.loop_position >= 2 ? o.width : o.height);
        for (int k = 0; k < 20 && !loop_fits(o); ++k) o.loop_sweep *= 0.85;
    }
    return c;
}

// A pin without a loop: half of them reach through the whole view (the pin brought
// in too far), half end in the view; half with a background image.
ComparisonScene pin_scene(int i, std::uint64_t seed) {
    Rng rng(seed * 7919 + 17);
    ComparisonScene c = start_scene(i, seed, SceneKind::Pin, "pin", rng);
    SceneOptions& o = c.opt;
    o.dirt = rng.uniform() < 0.3 ? 2 + rng.index(5) : 0;
    o.no_background = i % 2 == 1;
    const bool tip = (i / 2) % 2 == 1;
    c.kind = tip ? "pin-tip" : "pin";
    const double up_height = o.loop_position >= 2 ? o.width : o.height;
    if (tip) {
        o.loop_top = rng.uniform(0.2, 0.6) * up_height;
        o.pin_width = rng.uniform(0.08, 0.2) * up_height;
    }
    o.pin_offset = rng.uniform(0.0, 3.0);
    return c;
}

ComparisonScene empty_scene(int i, std::uint64_t seed) {
    Rng rng(seed * 7919 + 17);
    ComparisonScene c = start_scene(i, seed, SceneKind::Empty, "empty", rng);
    SceneOptions& o = c.opt;
    o.dirt = rng.uniform() < 0.4 ? 2 + rng.index(7) : 0;
    return c;
}

// What one method made of one scene.
struct Outcome {
    bool ran = false;  // status 0 and a complete result file
    int status = -1;
    bool ok = false;
    double precentring = -1, reliability = -1;
    double dx = 0, dy = 0, dr = 0, da = 0;
    bool angle_counts = false;
    double cpu = 0.0;
    const char* verdict = "";
    bool said_nothing_moves = false;  // TRACK's own "no crystal" answer
};

Outcome evaluate(const Truth& t, bool has_crystal, bool vers23, const RunOutcome& run,
                 const std::map<std::string, std::string>& result) {
    Outcome out;
    out.status = run.status;
    out.cpu = run.cpu_seconds;
    double rx = 0, ry = 0, rr = 0, ra = 0;
    out.ran = run.status == 0 && number_of(result, "X_CENTRE", rx) &&
              number_of(result, "Y_CENTRE", ry) && number_of(result, "RADIUS", rr) &&
              number_of(result, "TARGET_ANGLE", ra) &&
              number_of(result, "PRECENTRING", out.precentring) &&
              number_of(result, "RELIABILITY", out.reliability);
    if (!out.ran) {
        out.verdict = run.timed_out ? "time" : "fail";
        return out;
    }
    if (vers23 && t.loop_position >= 2) std::swap(rx, ry);
    if (!has_crystal) {
        out.ok = out.precentring == 1;
        out.verdict = out.ok ? "ok" : "xtal?";
        return out;
    }
    out.dx = rx - t.x_centre;
    out.dy = ry - t.y_centre;
    out.dr = rr - t.radius;
    out.da = wrap_degrees(ra - t.target_angle);
    out.angle_counts = t.radius >= MIN_RADIUS_FOR_ANGLE;
    const double tol = std::max(MIN_TOLERANCE, 0.25 * t.crystal_diameter);
    const bool near = std::fabs(out.dx) <= tol && std::fabs(out.dy) <= tol &&
                      std::fabs(out.dr) <= tol &&
                      (!out.angle_counts || std::fabs(out.da) <= MAX_ANGLE_ERROR);
    out.ok = out.precentring == 0 && near;
    out.verdict = out.precentring != 0 ? "none" : near ? "ok" : "off";
    return out;
}

// Job file of the scene with one more keyword line (or none).
bool write_job(const Scene& scene, const std::string& dir, const std::string& name,
               const char* keyword, bool logoutx) {
    Scene copy = scene;
    if (keyword) copy.opt.extra_lines.push_back(keyword);
    copy.opt.logoutx = logoutx;
    JobImages images;
    for (size_t i = 0; i < scene.angles.size(); ++i)
        images.names.push_back(image_name(scene.opt, static_cast<int>(i)));
    if (scene.background)
        images.background = std::string("back.") + format_extension(scene.opt.format);
    std::ofstream out(dir + "/" + name, std::ios::binary);
    out << job_file_text(copy, images, 0);
    return static_cast<bool>(out);
}

// Success counts of one group of scenes.
struct Tally {
    int ok = 0, total = 0;
    void add(bool good) {
        ++total;
        if (good) ++ok;
    }
};

std::string percent(const Tally& t) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%3d/%-3d %5.1f%%", t.ok, t.total,
                  t.total ? 100.0 * t.ok / t.total : 0.0);
    return buf;
}

struct MethodSummary {
    Tally crystal, no_crystal;
    std::map<std::string, Tally> no_crystal_kind;
    std::vector<double> dx, dy, dr, da;
    double cpu = 0.0;
    long images = 0;
};

void print_summary(SceneSet set, const ComparisonSettings& settings,
                   const MethodSummary (&summary)[METHODS],
                   const std::map<std::string, Tally>& track_groups,
                   const std::map<int, Tally>& bands, const std::map<int, Tally>& none_bands,
                   int track_misses) {
    std::printf("\n-- summary: crystal-search section, %s set\n", set_name(set));
    std::printf("%-8s %-20s %-20s %6s %6s %6s %6s %9s\n", "method", "crystal scenes",
                "no crystal (P=1)", "|dX|", "|dY|", "|dR|", "|dA|", "CPU ms/im");
    for (int m = 0; m < METHODS; ++m) {
        if (!settings.methods[m]) continue;
        const MethodSummary& s = summary[m];
        std::printf("%-8s %-20s %-20s %6.1f %6.1f %6.1f %6.1f %9.1f\n", METHOD_NAME[m],
                    percent(s.crystal).c_str(), percent(s.no_crystal).c_str(), quantile(s.dx, 0.5),
                    quantile(s.dy, 0.5), quantile(s.dr, 0.5), quantile(s.da, 0.5),
                    s.images ? 1000.0 * s.cpu / s.images : 0.0);
    }
    std::printf(
        "(errors: medians over the crystal scenes answered with a crystal, pixels and "
        "degrees)\nno-crystal scenes by kind:\n");
    for (int m = 0; m < METHODS; ++m) {
        if (!settings.methods[m]) continue;
        std::printf("  %-8s", METHOD_NAME[m]);
        for (const auto& [kind, tally] : summary[m].no_crystal_kind)
            std::printf("  %s %s", kind.c_str(), percent(tally).c_str());
        std::printf("\n");
    }
    if (!settings.methods[2]) return;
    std::printf("TRACK on the crystal scenes by group:\n");
    for (const auto& [group, tally] : track_groups)
        std::printf("  %-22s %s\n", group.c_str(), percent(tally).c_str());
    std::printf(
        "TRACK reliability calibration (runs that answered with a crystal, PRECENTRING 0;\n"
        "right = a crystal scene centred within tolerance):\n");
    static const char* const band_name[5] = {"  0-29", " 30-49", " 50-69", " 70-89", "90-100"};
    for (int b = 0; b < 5; ++b) {
        const auto it = bands.find(b);
        const Tally t = it == bands.end() ? Tally{} : it->second;
        std::printf("  RELIABILITY %s: %s right\n", band_name[b], percent(t).c_str());
    }
    std::printf("  crystal scenes answered with PRECENTRING 1 (crystal missed): %d\n",
                track_misses);
    std::printf(
        "TRACK reliability of its PRECENTRING 1 answers (right = a scene without a crystal;\n"
        "empty and pin-only views, which give -1 or the loop figure, left out):\n");
    for (int b = 0; b < 5; ++b) {
        const auto it = none_bands.find(b);
        const Tally t = it == none_bands.end() ? Tally{} : it->second;
        std::printf("  RELIABILITY %s: %s right\n", band_name[b], percent(t).c_str());
    }
}

int band_of(double reliability) {
    return reliability < 30   ? 0
           : reliability < 50 ? 1
           : reliability < 70 ? 2
           : reliability < 90 ? 3
                              : 4;
}

const char* size_band(double size) {
    return size < 20   ? "size 10-20"
           : size < 40 ? "size 20-40"
           : size < 80 ? "size 40-80"
                       : "size 80-120";
}

const char* radius_band(double r) {
    return r < 10    ? "radius 0-10"
           : r < 50  ? "radius 10-50"
           : r < 100 ? "radius 50-100"
                     : "radius 100-150";
}

}  // namespace

const char* set_name(SceneSet set) {
    return set == SceneSet::Tuning       ? "TUNING"
           : set == SceneSet::Validation ? "VALIDATION"
                                         : "REPORTED";
}

std::uint64_t set_seed_base(SceneSet set) {
    return set == SceneSet::Tuning ? 50000 : set == SceneSet::Validation ? 90000 : 70000;
}

std::vector<ComparisonScene> comparison_scenes(std::uint64_t base) {
    std::vector<ComparisonScene> scenes;
    int n = 0;
    for (int i = 0; i < CRYSTAL_SCENES; ++i, ++n) scenes.push_back(crystal_scene(i, base + n));
    for (int i = 0; i < LOOP_SCENES; ++i, ++n) scenes.push_back(loop_scene(i, base + n));
    for (int i = 0; i < PIN_SCENES; ++i, ++n) scenes.push_back(pin_scene(i, base + n));
    for (int i = 0; i < EMPTY_SCENES; ++i, ++n) scenes.push_back(empty_scene(i, base + n));
    return scenes;
}

void run_comparison(SceneSet set, const ComparisonSettings& settings) {
    const std::uint64_t base = settings.seeds > 0 ? settings.seeds : set_seed_base(set);
    std::vector<ComparisonScene> scenes = comparison_scenes(base);
    if (settings.limit >= 0 && settings.limit < static_cast<int>(scenes.size()))
        scenes.resize(settings.limit);
    std::printf("\n== crystal-search section: %s set, %zu scenes, seeds %llu..%llu\n",
                set_name(set), scenes.size(), static_cast<unsigned long long>(base),
                static_cast<unsigned long long>(base + scenes.size() - 1));
    std::printf(
        "TRACK's constants were chosen on the TUNING and VALIDATION sets (seeds %llu.., "
        "%llu..), its decision and its choice among trajectories also on sets from seeds",
        static_cast<unsigned long long>(set_seed_base(SceneSet::Tuning)),
        static_cast<unsigned long long>(set_seed_base(SceneSet::Validation)));
    for (std::uint64_t seed : FITTING_SEEDS)
        std::printf(" %llu..", static_cast<unsigned long long>(seed));
    std::printf("; the REPORTED set (seeds %llu..) was never used for tuning.\n",
                static_cast<unsigned long long>(set_seed_base(SceneSet::Reported)));
    std::printf(
        "verdicts: ok; off = crystal answer outside tolerance; none = PRECENTRING 1 on a "
        "crystal; xtal? = crystal answer without a crystal; fail/time = no result\n");
    std::printf("%-3s %-7s %-9s %1s %2s %1s %5s %-6s %5s %1s%1s %-5s |", "id", "kind", "size", "p",
                "n", "b", "csize", "shape", "R", "r", "B", "dist");
    for (int m = 0; m < METHODS; ++m)
        if (settings.methods[m]) std::printf(" %-7s", METHOD_NAME[m]);
    if (settings.methods[2]) std::printf(" %4s %6s %6s %6s %6s", "rel", "dX", "dY", "dR", "dA");
    std::printf("\n");

    MethodSummary summary[METHODS];
    std::map<std::string, Tally> groups;
    std::map<int, Tally> bands, none_bands;
    int misses = 0;
    for (size_t i = 0; i < scenes.size(); ++i) {
        if (!settings.only.empty() && std::find(settings.only.begin(), settings.only.end(),
                                                static_cast<int>(i)) == settings.only.end())
            continue;
        ComparisonScene& c = scenes[i];
        char folder[32];
        std::snprintf(folder, sizeof folder, "scene%03zu", i);
        const std::string dir = (std::filesystem::path(settings.work) / folder).string();
        c.opt.out_dir = dir;
        c.opt.quiet = true;
        Scene scene;
        std::string error;
        if (resolve_scene(c.opt, scene, error) || write_series(scene, nullptr, error)) {
            std::printf("%-3zu cannot render: %s\n", i, error.c_str());
            continue;
        }
        const Truth t = compute_truth(scene);
        const bool has_crystal = scene.has_crystal;
        char size[16];
        std::snprintf(size, sizeof size, "%dx%d", c.opt.width, c.opt.height);
        char dist[8];
        std::snprintf(dist, sizeof dist, "%c%c%c%c", c.opt.ice ? 'i' : '-', c.opt.dirt ? 'd' : '-',
                      c.opt.knots ? 'k' : '-', c.opt.bubbles ? 'b' : '-');
        std::printf("%-3zu %-7s %-9s %1d %2zu %1d %5.0f %-6s %5.0f %1s%1s %-5s |", i,
                    c.kind.c_str(), size, c.opt.loop_position, scene.angles.size(),
                    scene.background ? 1 : 0, has_crystal ? scene.crystal_size : 0.0,
                    has_crystal ? crystal_shape_name(scene.crystal_shape) : "-",
                    has_crystal ? scene.radius : 0.0, c.near_rim ? "r" : "-", c.bent ? "B" : "-",
                    dist);

        Outcome track;
        for (int m = 0; m < METHODS; ++m) {
            if (!settings.methods[m]) continue;
            const std::string job = std::string("job_") + METHOD_NAME[m] + ".txt";
            const std::string res = std::string("result_") + METHOD_NAME[m] + ".txt";
            if (!write_job(scene, dir, job, METHOD_LINE[m], settings.logoutx)) {
                std::printf(" %-7s", "nojob");
                continue;
            }
            const RunOutcome run = run_program(
                settings.orva, {job, res}, dir, std::string("out_") + METHOD_NAME[m] + ".txt",
                std::string("err_") + METHOD_NAME[m] + ".txt", settings.timeout);
            Outcome out = evaluate(t, has_crystal, m == 1, run, read_key_values(dir + "/" + res));
            if (m == 2) {
                std::ifstream err(dir + "/err_" + METHOD_NAME[m] + ".txt");
                const std::string text((std::istreambuf_iterator<char>(err)),
                                       std::istreambuf_iterator<char>());
                out.said_nothing_moves =
                    text.find("nothing moves like a crystal") != std::string::npos;
            }
            std::printf(" %-7s", out.verdict);
            MethodSummary& s = summary[m];
            s.cpu += out.cpu;
            s.images += static_cast<long>(scene.angles.size());
            if (has_crystal) {
                s.crystal.add(out.ok);
                if (out.ran && out.precentring == 0) {
                    s.dx.push_back(std::fabs(out.dx));
                    s.dy.push_back(std::fabs(out.dy));
                    s.dr.push_back(std::fabs(out.dr));
                    if (out.angle_counts) s.da.push_back(std::fabs(out.da));
                }
            } else {
                s.no_crystal.add(out.ok);
                s.no_crystal_kind[c.kind].add(out.ok);
            }
            if (m == 2) track = out;
        }
        if (settings.methods[2]) {
            std::printf(" %4.0f", track.reliability);
            if (has_crystal && track.ran)
                std::printf(" %6.1f %6.1f %6.1f %6.1f", track.dx, track.dy, track.dr, track.da);
            if (track.ran && track.precentring == 0)
                bands[band_of(track.reliability)].add(track.ok);
            if (track.ran && track.precentring == 1 && track.said_nothing_moves)
                none_bands[band_of(track.reliability)].add(!has_crystal);
            if (has_crystal && track.ran && track.precentring != 0) ++misses;
            if (has_crystal) {
                groups[std::string("images ") + std::to_string(scene.angles.size())].add(track.ok);
                groups[size_band(scene.crystal_size)].add(track.ok);
                groups[radius_band(scene.radius)].add(track.ok);
                groups[std::string("shape ") + crystal_shape_name(scene.crystal_shape)].add(
                    track.ok);
                groups[c.near_rim ? "near the rim" : "inside the loop"].add(track.ok);
                if (c.bent) groups["bent loop"].add(track.ok);
                groups[scene.background ? "with background" : "without background"].add(track.ok);
                groups[std::string("loop position ") + std::to_string(c.opt.loop_position)].add(
                    track.ok);
                if (c.opt.ice || c.opt.dirt || c.opt.knots || c.opt.bubbles)
                    groups["with distractors"].add(track.ok);
                if (t.half_resolution) groups["half resolution"].add(track.ok);
            }
        }
        std::printf("\n");
        std::fflush(stdout);
        if (!settings.keep) std::filesystem::remove_all(dir);
    }
    print_summary(set, settings, summary, groups, bands, none_bands, misses);
}

}  // namespace orva::bench
