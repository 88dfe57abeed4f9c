// Option table, strict number parsing and the help text of the scene generator.
#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <sstream>

namespace orva::scenegen {

namespace {

using Setter = std::function<bool(const std::string&, SceneOptions&, std::string&)>;

struct Option {
    const char* name;
    const char* arg;  // nullptr for a flag
    const char* help;
    Setter set;
};

bool to_double(const std::string& s, double& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(s.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(out);
}

bool to_int(const std::string& s, long lo, long hi, int& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::stringstream in(s);
    std::string part;
    while (std::getline(in, part, sep)) parts.push_back(part);
    return parts;
}

// A number from lo to hi, for a plain or an optional field.
template <typename Field>
Setter real(Field SceneOptions::*field, double lo, double hi) {
    return [=](const std::string& v, SceneOptions& o, std::string& err) {
        double d;
        if (!to_double(v, d) || d < lo || d > hi) {
            err = "needs a number from " + std::to_string(lo) + " to " + std::to_string(hi);
            return false;
        }
        o.*field = d;
        return true;
    };
}

// A whole number from lo to hi handed to store.
Setter whole_number(std::function<void(SceneOptions&, int)> store, int lo, int hi) {
    return [=](const std::string& v, SceneOptions& o, std::string& err) {
        int n;
        if (!to_int(v, lo, hi, n)) {
            err = "needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
            return false;
        }
        store(o, n);
        return true;
    };
}

// A whole number from lo to hi, for a plain or an optional field.
template <typename Field>
Setter integer(Field SceneOptions::*field, int lo, int hi) {
    return whole_number([field](SceneOptions& o, int n) { o.*field = n; }, lo, hi);
}

Setter flag(bool SceneOptions::*field) {
    return [=](const std::string&, SceneOptions& o, std::string&) {
        o.*field = true;
        return true;
    };
}

Setter text(std::string SceneOptions::*field) {
    return [=](const std::string& v, SceneOptions& o, std::string& err) {
        if (v.empty()) {
            err = "needs a name";
            return false;
        }
        o.*field = v;
        return true;
    };
}

template <typename E>
Setter choice(std::function<void(SceneOptions&, E)> store,
              std::vector<std::pair<const char*, E>> names) {
    return [=](const std::string& v, SceneOptions& o, std::string& err) {
        for (const auto& [name, value] : names)
            if (v == name) {
                store(o, value);
                return true;
            }
        err = "unknown value '" + v + "'";
        return false;
    };
}

Setter border_side(int side) {
    return whole_number([side](SceneOptions& o, int n) { o.border_side[side] = n; }, -10000, 10000);
}

const std::vector<Option>& option_table() {
    static const std::vector<Option> table = {
        // Output
        {"--out", "DIR",
         "folder for images, job file and truth file, created if missing (default scene-out)",
         text(&SceneOptions::out_dir)},
        {"--prefix", "NAME", "image file names NAME_00.ext, NAME_01.ext, ... (default img)",
         text(&SceneOptions::prefix)},
        {"--job-name", "NAME", "job file name inside --out (default job.txt)",
         text(&SceneOptions::job_name)},
        {"--truth-name", "NAME", "ground-truth file name inside --out (default truth.txt)",
         text(&SceneOptions::truth_name)},
        {"--format", "F",
         "jpeg, png, pgm (P5), ppm (P6), tiff-ii or tiff-mm (uncompressed, 4 strips) (default png)",
         choice<ImageFormat>([](SceneOptions& o, ImageFormat f) { o.format = f; },
                             {{"jpeg", ImageFormat::Jpeg},
                              {"jpg", ImageFormat::Jpeg},
                              {"png", ImageFormat::Png},
                              {"pgm", ImageFormat::Pgm},
                              {"ppm", ImageFormat::Ppm},
                              {"tiff-ii", ImageFormat::TiffII},
                              {"tiff-mm", ImageFormat::TiffMM}})},
        {"--colour", nullptr, "write PNG and TIFF as RGB (R = G = B); JPEG and PPM are always RGB",
         flag(&SceneOptions::colour)},
        {"--tint", nullptr,
         "RGB files get a warm back-light tint instead of R = G = B (implies --colour)",
         [](const std::string&, SceneOptions& o, std::string&) {
             o.tint = o.colour = true;
             return true;
         }},
        {"--quality", "Q", "JPEG quality 1..100 (default 90)",
         integer(&SceneOptions::quality, 1, 100)},
        {"--absolute-paths", nullptr,
         "name images in the job file by absolute path (default: names relative to --out)",
         flag(&SceneOptions::absolute_paths)},
        {"--quiet", nullptr, "print nothing on success", flag(&SceneOptions::quiet)},
        // Series
        {"--seed", "N", "seed of every random choice and of the noise (default 1)",
         [](const std::string& v, SceneOptions& o, std::string& err) {
             char* end = nullptr;
             errno = 0;
             const unsigned long long s = std::strtoull(v.c_str(), &end, 10);
             if (v.empty() || v[0] == '-' || errno != 0 || *end != '\0') {
                 err = "needs a whole number of 0 or more";
                 return false;
             }
             o.seed = s;
             return true;
         }},
        {"--size", "WxH", "input image size in pixels (default 768x576)",
         [](const std::string& v, SceneOptions& o, std::string& err) {
             const auto parts = split(v, 'x');
             if (parts.size() != 2 || !to_int(parts[0], 16, 20000, o.width) ||
                 !to_int(parts[1], 16, 20000, o.height)) {
                 err = "needs WIDTHxHEIGHT, 16 to 20000 each";
                 return false;
             }
             return true;
         }},
        {"--images", "N", "number of images, 1..40, angles evenly spread (default 8)",
         integer(&SceneOptions::num_images, 1, 40)},
        {"--start", "DEG", "angle of the first image (default 0)",
         real(&SceneOptions::start_angle, -1e6, 1e6)},
        {"--step", "DEG", "angle step (default 360 / images)",
         real(&SceneOptions::step, -1e6, 1e6)},
        {"--angles", "LIST",
         "comma-separated angles in degrees, in file order (overrides --images, --start, --step)",
         [](const std::string& v, SceneOptions& o, std::string& err) {
             o.angles.clear();
             for (const std::string& part : split(v, ',')) {
                 double d;
                 if (!to_double(part, d)) {
                     err = "needs numbers separated by commas";
                     return false;
                 }
                 o.angles.push_back(d);
             }
             if (o.angles.empty() || o.angles.size() > 40) {
                 err = "needs 1 to 40 angles";
                 return false;
             }
             return true;
         }},
        {"--loop-position", "P",
         "side the loop enters from: 0 bottom, 1 top (view flipped), 2 left, 3 right (view "
         "turned); "
         "written as LOOP_POSITION when not 0 (default 0)",
         integer(&SceneOptions::loop_position, 0, 3)},
        // Scene
        {"--scene", "KIND",
         "crystal (loop with crystal), loop (no crystal), pin (pin only: a wide pin through the "
         "whole view, written with a background image, without which a pin turning on its axis "
         "cannot be told from the background) or empty (default crystal)",
         choice<SceneKind>([](SceneOptions& o, SceneKind k) { o.kind = k; },
                           {{"crystal", SceneKind::Crystal},
                            {"loop", SceneKind::Loop},
                            {"pin", SceneKind::Pin},
                            {"empty", SceneKind::Empty}})},
        {"--loop-shape", "S", "round, oval or teardrop (default: from the seed)",
         choice<LoopShape>([](SceneOptions& o, LoopShape s) { o.loop_shape = s; },
                           {{"round", LoopShape::Round},
                            {"oval", LoopShape::Oval},
                            {"teardrop", LoopShape::Teardrop}})},
        {"--loop-size", "PX",
         "outer width of the ring in its plane (default 0.45..0.6 of the upright view's height, "
         "a centring zoom; less where the loop, stem and some pin would not fit)",
         real(&SceneOptions::loop_size, 4, 1e5)},
        {"--loop-top", "ROW",
         "upright-view row of the ring's top (default 0.05..0.12 of the view height); for --scene "
         "pin the row of the pin's end (default -0.17 of the view height, beyond the top edge)",
         real(&SceneOptions::loop_top, -1e5, 1e5)},
        {"--loop-plane", "DEG",
         "azimuth of the loop plane (default: the crystal phase turned by up to 12 degrees); the "
         "film always passes through the crystal",
         real(&SceneOptions::loop_plane, -1e6, 1e6)},
        {"--loop-offset", "PX",
         "distance of the ring's centre from the axis within the loop plane, + on the crystal's "
         "side (without a crystal: towards the loop-plane azimuth) (default 0.1..0.25 of the loop "
         "size, either side; with --radius moved as far as "
         "needed to hold the crystal); 0 with --loop-tilt 0 --loop-bend 0 and --loop-plane equal "
         "to --phase gives a flat ring centred on the axis",
         real(&SceneOptions::loop_offset, -1e5, 1e5)},
        {"--loop-tilt", "DEG",
         "lean of the loop out of its plane, about its lowest point where the stem holds it "
         "(default 6..20 either way)",
         real(&SceneOptions::loop_tilt, -80, 80)},
        {"--loop-bend", "PX",
         "sag of the ring's sides out of the loop plane (default 0.03..0.1 of the loop size "
         "either way)",
         real(&SceneOptions::loop_bend, -1e5, 1e5)},
        {"--loop-sweep", "PX",
         "bend of the ring to one side within its plane: its top is moved PX from where it would "
         "be, its lowest point stays (default 0)",
         real(&SceneOptions::loop_sweep, -1e5, 1e5)},
        {"--fibre", "PX", "nylon fibre thickness (default 1.8% of the loop size, at least 2)",
         real(&SceneOptions::fibre, 0.5, 100)},
        {"--fibre-variation", "F",
         "relative change of the fibre thickness along the ring (default 0.25; 0 for an even "
         "fibre)",
         real(&SceneOptions::fibre_variation, 0, 0.9)},
        {"--stem", "PX",
         "length of the stem between the ring and the pin's end (default 0.05..0.1 of the view "
         "height)",
         real(&SceneOptions::stem_length, 0, 1e5)},
        {"--crystal-shape", "S",
         "plate, prism, rhomb or needle (about seven times longer than thick) (default: plate, "
         "prism or rhomb from the seed)",
         choice<CrystalShape>([](SceneOptions& o, CrystalShape s) { o.crystal_shape = s; },
                              {{"plate", CrystalShape::Plate},
                               {"prism", CrystalShape::Prism},
                               {"rhomb", CrystalShape::Rhomb},
                               {"needle", CrystalShape::Needle}})},
        {"--crystal-size", "PX",
         "largest extent of the crystal (default 0.2..0.45 of the loop size)",
         real(&SceneOptions::crystal_size, 1, 1e5)},
        {"--radius", "PX",
         "distance of the crystal centre from the spindle axis (default: where the crystal sits in "
         "the off-axis loop)",
         real(&SceneOptions::radius, 0, 1e5)},
        {"--phase", "DEG",
         "rotation angle at which the crystal lies furthest right of the axis in the upright view; "
         "its column there is axis + radius * cos(angle - phase) (default: from the seed)",
         real(&SceneOptions::phase, -1e6, 1e6)},
        {"--crystal-offset", "PX",
         "crystal position along the axis from the loop centre, + towards the pin",
         real(&SceneOptions::crystal_offset, -1e5, 1e5)},
        {"--crystal-across", "F",
         "crystal position across the loop at its row, as a share of the room between the ring's "
         "middle and the fibre: 0 in the middle, +-1 touching the fibre (default: from the seed)",
         real(&SceneOptions::crystal_across, -1, 1)},
        {"--crystal-along", "F",
         "crystal position along the axis, as a share of the room between the loop's middle row "
         "and the fibre, + towards the pin (default: from the seed; --crystal-offset wins)",
         real(&SceneOptions::crystal_along, -1, 1)},
        {"--axis", "COL",
         "upright-view column of the spindle axis (default: near the middle, where the loop stays "
         "in view at every angle)",
         real(&SceneOptions::axis, -1e5, 1e5)},
        {"--pin-offset", "PX",
         "distance of the pin from the axis, a wobble of the mount (default 0..0.3; more than "
         "about 0.5 lets the pin's edges show as change between the views)",
         real(&SceneOptions::pin_offset, 0, 1e5)},
        {"--pin-width", "PX",
         "pin diameter (default 0.3..0.5 of the loop size; for --scene pin 0.6 of the smaller "
         "view side, at most 0.46 of the upright view's width so that half the view stays clear)",
         real(&SceneOptions::pin_width, 1, 1e5)},
        {"--pin", "M", "metal (dark, opaque) or plastic (translucent) (default: from the seed)",
         choice<bool>([](SceneOptions& o, bool p) { o.plastic_pin = p; },
                      {{"metal", false}, {"plastic", true}})},
        // Camera
        {"--blur", "SIGMA", "defocus, Gaussian sigma in pixels; below 0.3 none (default 1)",
         real(&SceneOptions::blur, 0, 20)},
        {"--noise", "SIGMA", "sensor noise in grey levels at full light (default 2)",
         real(&SceneOptions::noise, 0, 100)},
        {"--brightness", "LEVEL", "grey level of the clear view at the centre (default 200)",
         real(&SceneOptions::brightness, 1, 255)},
        {"--gradient", "F", "illumination slope across the frame, fraction (default 0.15)",
         real(&SceneOptions::gradient, 0, 1)},
        {"--vignette", "F", "light fall-off towards the corners, fraction (default 0.25)",
         real(&SceneOptions::vignette, 0, 1)},
        {"--ice", "N", "ice specks in the film (default 0)", integer(&SceneOptions::ice, 0, 100)},
        {"--bubbles", "N", "bubbles in the film (default 0)",
         integer(&SceneOptions::bubbles, 0, 100)},
        {"--knots", "N",
         "knots in the nylon fibre: places where it is 1.6 to 2.4 times as thick (default 0)",
         integer(&SceneOptions::knots, 0, 20)},
        {"--dirt", "N",
         "dark specks of dirt on the optics, some in clumps; they stay put in every image and "
         "show in the background image too (default 0)",
         integer(&SceneOptions::dirt, 0, 100)},
        {"--reflection", nullptr, "a bright reflection stripe along the pin",
         flag(&SceneOptions::reflection)},
        {"--background", nullptr,
         "also write back.EXT, the same view without the sample, and BACK in the job (always "
         "for --scene pin)",
         flag(&SceneOptions::background)},
        {"--no-background", nullptr, "write no background image, also not for --scene pin",
         flag(&SceneOptions::no_background)},
        {"--stripes", "N|B,T,L,R",
         "dark stripes of N pixels on every edge, or per edge bottom,top,left,right; unless a "
         "--border "
         "option is given the job excludes each with BORDER_x = width + 4",
         [](const std::string& v, SceneOptions& o, std::string& err) {
             const auto parts = split(v, ',');
             int n[4];
             const bool ok = (parts.size() == 1 && to_int(parts[0], 0, 10000, n[0])) ||
                             (parts.size() == 4 && to_int(parts[0], 0, 10000, n[0]) &&
                              to_int(parts[1], 0, 10000, n[1]) &&
                              to_int(parts[2], 0, 10000, n[2]) && to_int(parts[3], 0, 10000, n[3]));
             if (!ok) {
                 err = "needs N or B,T,L,R";
                 return false;
             }
             for (int i = 0; i < 4; ++i) o.stripes[i] = parts.size() == 1 ? n[0] : n[i];
             return true;
         }},
        // Job file
        {"--border", "N", "write BORDER N", integer(&SceneOptions::border, -10000, 10000)},
        {"--border-b", "N", "write BORDER_B N (after BORDER)", border_side(SIDE_BOTTOM)},
        {"--border-t", "N", "write BORDER_T N", border_side(SIDE_TOP)},
        {"--border-l", "N", "write BORDER_L N", border_side(SIDE_LEFT)},
        {"--border-r", "N", "write BORDER_R N", border_side(SIDE_RIGHT)},
        {"--data-lines", nullptr,
         "list the images as DATA lines instead of NUMBER_OF_IMAGES and DATA_START",
         flag(&SceneOptions::data_lines)},
        {"--centre-coord", nullptr,
         "write CENTRE_COORD with the true axis position (X_CENTRE, rounded)",
         flag(&SceneOptions::centre_coord)},
        {"--centre-coord-value", "N", "write CENTRE_COORD N",
         integer(&SceneOptions::centre_coord_value, -100000, 100000)},
        {"--prealign", nullptr, "write PREALIGN (the truth then gives the loop centre)",
         flag(&SceneOptions::prealign)},
        {"--vers23", nullptr, "write VERS23", flag(&SceneOptions::vers23)},
        {"--set-cross", nullptr, "write SET_CROSS", flag(&SceneOptions::set_cross)},
        {"--logoutx", nullptr, "write LOGOUTX", flag(&SceneOptions::logoutx)},
        {"--crlf", nullptr, "end the job file's lines with carriage return and line feed",
         flag(&SceneOptions::crlf)},
        {"--line", "TEXT",
         "add TEXT as a line before the image list (repeatable), e.g. \"IMAGE_SPECIAL 5\"",
         [](const std::string& v, SceneOptions& o, std::string&) {
             o.extra_lines.push_back(v);
             return true;
         }},
    };
    return table;
}

}  // namespace

int parse_options(const std::vector<std::string>& args, SceneOptions& opt, std::string& error) {
    const auto& table = option_table();
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool has_value = false;
        if (name == "--help" || name == "-h") return OPTIONS_HELP;
        const size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            has_value = true;
        }
        const Option* found = nullptr;
        for (const Option& o : table)
            if (name == o.name) found = &o;
        if (!found) {
            error = "unknown option " + args[i] + " (see --help)";
            return OPTIONS_BAD;
        }
        if (found->arg && !has_value) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value " + found->arg;
                return OPTIONS_BAD;
            }
            value = args[++i];
        } else if (!found->arg && has_value) {
            error = name + " takes no value";
            return OPTIONS_BAD;
        }
        std::string why;
        if (!found->set(value, opt, why)) {
            error = name + " " + value + ": " + why;
            return OPTIONS_BAD;
        }
    }
    return OPTIONS_OK;
}

std::string help_text(const char* program) {
    std::string out;
    out += std::string("Usage: ") + program + " [options]\n\n";
    out +=
        "Renders a rotation series of a sample loop on a pin, as a back-lit beamline camera\n"
        "sees it, and writes the images, a job file for orva and the ground truth.\n\n"
        "Geometry is given in the upright view: the pin enters from the bottom, the spindle\n"
        "axis is vertical, rows grow downwards. At rotation angle a (degrees) the crystal\n"
        "centre is at column axis + radius * cos(a - phase) and a fixed row; the loop's\n"
        "projected width follows |cos(a - loop-plane)|. As real loops, the ring sits off the\n"
        "axis, leans and sags out of its plane and has an uneven fibre, so no view of a turn\n"
        "repeats another; the film passes through the crystal. --loop-position turns that view\n"
        "into the input images. The truth file (KEY value lines) holds what orva's result file\n"
        "should say: TARGET_ANGLE (= phase, in (-180, 180]), RADIUS, Y_CENTRE, X_CENTRE in\n"
        "input-image pixels (X_CENTRE the axis: a column from the left for positions 0 and 1, a\n"
        "row from the top for 2 and 3; Y_CENTRE along the axis: a row from the top for 0 and 1,\n"
        "a column from the left for 2 and 3), PRECENTRING, and the crystal size and loop width.\n"
        "For position 3 the crystal lies at X_CENTRE - RADIUS at TARGET_ANGLE (MOTION_SIGN -1),\n"
        "for the others at X_CENTRE + RADIUS. For --scene loop and --prealign RADIUS and\n"
        "TARGET_ANGLE describe the loop centre's motion; for --scene pin Y_CENTRE is the end of\n"
        "the pin that shows.\n"
        "The same options and seed always give the same files.\n\nOptions:\n";
    for (const Option& o : option_table()) {
        std::string head = std::string("  ") + o.name + (o.arg ? std::string(" ") + o.arg : "");
        if (head.size() < 26)
            head.resize(26, ' ');
        else
            head += "\n" + std::string(26, ' ');
        // Wrap the description at about 92 columns.
        std::string line = head;
        std::stringstream words(o.help);
        std::string word;
        const size_t newline = head.rfind('\n');
        size_t width = newline == std::string::npos ? head.size() : head.size() - newline - 1;
        bool first = true;
        while (words >> word) {
            if (!first && width + word.size() + 1 > 92) {
                line += "\n" + std::string(26, ' ');
                width = 26;
                first = true;
            }
            if (!first) {
                line += " ";
                ++width;
            }
            line += word;
            width += word.size();
            first = false;
        }
        out += line + "\n";
    }
    out += "  --help                  this text\n";
    return out;
}

}  // namespace orva::scenegen
