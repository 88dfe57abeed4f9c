// Scene description for the synthetic rotation-series generator: the options a
// user gives, and the fully resolved scene (every unset option drawn from the seed).
//
// Conventions. All geometry is stated in the canonical view: the pin enters from
// the bottom edge, the spindle axis is vertical at column `axis`, rows grow
// downwards, pixel (c, r) has its centre at coordinate (c, r). Rotation angles are
// degrees. A sample-frame point at distance rho from the axis and azimuth psi sits
// at column axis + rho * cos(angle - psi) at rotation angle `angle`; so the crystal
// (rho = radius, psi = phase) is furthest to the right of the axis in the canonical
// view at angle == phase.
//
// The loop is a ring with a film, drawn in its own coordinates (u across, v along
// the axis, see geometry.h). Its plane has the azimuth `loop_plane`; the ring's
// centre sits `loop_offset` from the axis within that plane, and the film leaves
// the plane by n(u, v) = loop_lift + loop_tilt * (v - v_bottom) + loop_bend * (u/a)^2
// along the plane's normal (a the ring's half width, v_bottom the ring's lowest
// point, where the stem holds it). A film point then sits at column
//   axis + (u + loop_offset + w(v)) * cos(angle - loop_plane) + n(u, v) * sin(angle - loop_plane)
// and row loop_origin + v, where w(v) = loop_sweep * (v_bottom - v) / (v_bottom - v_top)
// bends the ring to one side within its plane (0 unless asked for): the ring is off
// the axis, leans and sags as real loops do, so no two views of a turn look alike. The crystal lies
// in the film; the ring is placed around it, so that the crystal keeps exactly the stated radius
// and phase.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orva::scenegen {

enum class SceneKind { Crystal, Loop, Pin, Empty };
enum class LoopShape { Round, Oval, Teardrop };
enum class CrystalShape { Plate, Prism, Rhomb, Needle };
enum class ImageFormat { Jpeg, Png, Pgm, Ppm, TiffII, TiffMM };

// Index order of the four image sides, as in the program's border table.
enum Side { SIDE_BOTTOM = 0, SIDE_TOP = 1, SIDE_LEFT = 2, SIDE_RIGHT = 3 };

// Everything a user can ask for; unset optionals are drawn from the seed.
struct SceneOptions {
    std::string out_dir = "scene-out";
    std::uint64_t seed = 1;
    int width = 768;  // input image size, pixels
    int height = 576;
    int num_images = 8;
    double start_angle = 0.0;
    std::optional<double> step;  // default 360 / num_images
    std::vector<double> angles;  // explicit list; overrides num_images/start/step
    int loop_position = 0;       // 0 bottom, 1 top, 2 left, 3 right

    ImageFormat format = ImageFormat::Png;
    bool colour = false;  // RGB files where the format allows grey (PNG, TIFF)
    bool tint = false;    // RGB with a warm tint instead of R = G = B
    int quality = 90;     // JPEG

    SceneKind kind = SceneKind::Crystal;
    std::optional<LoopShape> loop_shape;
    std::optional<double> loop_size;        // outer in-plane width of the ring, pixels
    std::optional<double> loop_top;         // canonical row of the ring's top
    std::optional<double> loop_plane;       // degrees; default: near the crystal phase
    std::optional<double> loop_offset;      // ring centre from the axis in the loop plane, pixels
    std::optional<double> loop_tilt;        // degrees the loop leans out of its plane at the neck
    std::optional<double> loop_bend;        // out-of-plane sag of the ring's sides, pixels
    std::optional<double> fibre;            // nylon thickness, pixels
    std::optional<double> fibre_variation;  // relative change of the thickness along the ring
    std::optional<double> stem_length;      // visible stem between ring and pin, pixels
    std::optional<CrystalShape> crystal_shape;
    std::optional<double> crystal_size;    // largest extent, pixels
    std::optional<double> radius;          // crystal distance from the axis, pixels
    std::optional<double> phase;           // degrees
    std::optional<double> crystal_offset;  // along the axis from the loop centre, + = down
    std::optional<double> crystal_across;  // -1..1: across the loop, share of the room to the fibre
    std::optional<double> crystal_along;   // -1..1: along the axis, share of the room to the fibre
    double loop_sweep = 0.0;               // ring's top displaced within its plane, pixels
    std::optional<double> axis;            // canonical column
    std::optional<double> pin_offset;      // pin distance from the axis, pixels
    std::optional<double> pin_width;       // pixels
    std::optional<bool> plastic_pin;

    double blur = 1.0;   // defocus, Gaussian sigma in pixels
    double noise = 2.0;  // sensor noise, grey levels at full brightness
    double brightness = 200.0;
    double gradient = 0.15;      // illumination slope across the frame (fraction)
    double vignette = 0.25;      // fall-off towards the corners (fraction)
    int ice = 0;                 // ice specks in the film
    int bubbles = 0;             // bubbles in the film
    int dirt = 0;                // dark specks on the optics, static in the view
    int knots = 0;               // thickenings of the nylon fibre
    bool reflection = false;     // bright stripe on the pin
    bool background = false;     // write a background image and BACK
    bool no_background = false;  // not even for a pin-only view, which has one by default

    std::array<int, 4> stripes{0, 0, 0, 0};  // dark stripes painted at bottom, top, left, right
    std::optional<int> border;               // BORDER n
    std::array<std::optional<int>, 4> border_side;  // BORDER_B, BORDER_T, BORDER_L, BORDER_R

    bool data_lines = false;  // DATA lines instead of NUMBER_OF_IMAGES + DATA_START list
    std::string job_name = "job.txt";
    std::string truth_name = "truth.txt";
    std::string prefix = "img";
    bool centre_coord = false;  // write CENTRE_COORD with the true axis
    std::optional<int> centre_coord_value;
    bool prealign = false;
    bool vers23 = false;
    bool set_cross = false;
    bool logoutx = false;
    bool crlf = false;
    bool absolute_paths = false;
    std::vector<std::string> extra_lines;
    bool quiet = false;
};

// One ice speck or bubble, in the film plane: u across (signed, along the loop
// plane), v along the axis from the loop origin, r its radius; all pixels.
struct FilmSpot {
    double u = 0.0;
    double v = 0.0;
    double r = 0.0;
};

// A thickening of the fibre: at fraction t of the way round the ring, over about
// `length` of that way (also a fraction), `gain` times the fibre's thickness more.
struct FibreKnot {
    double t = 0.0;
    double length = 0.0;
    double gain = 0.0;
};

// A dark speck on the camera's optics: canonical pixels, absorbance 0..1.
struct DirtSpeck {
    double x = 0.0;
    double y = 0.0;
    double r = 0.0;
    double absorbance = 0.0;
};

// The resolved scene, canonical-view pixels throughout.
struct Scene {
    SceneOptions opt;
    int can_width = 0;  // canonical view size (input size, turned for positions 2 and 3)
    int can_height = 0;
    std::vector<double> angles;

    double axis = 0.0;

    bool has_pin = false;
    double pin_top = 0.0;  // row of the pin's upper end
    double pin_half_width = 0.0;
    double pin_taper = 0.0;  // length of the cone at the pin's end
    double pin_offset = 0.0;
    double pin_phase = 0.0;
    bool plastic_pin = false;

    bool has_loop = false;
    LoopShape loop_shape = LoopShape::Round;
    double loop_half_width = 0.0;   // in-plane, ring centre line
    double loop_half_height = 0.0;  // oval: vertical semi-axis; teardrop: tail length
    double loop_origin = 0.0;       // row of the ring's reference point (see geometry.h)
    double loop_plane = 0.0;
    double loop_offset = 0.0;  // u of the axis is -loop_offset
    double loop_lift = 0.0;    // n at the ring's lowest point
    double loop_tilt = 0.0;    // dn/dv, the tangent of the lean
    double loop_bend = 0.0;    // n added at |u| = loop_half_width
    double loop_sweep = 0.0;   // in-plane displacement of the ring's top from its lowest point
    double fibre = 0.0;
    double fibre_variation = 0.0;
    std::array<double, 2> fibre_wave_phase{0.0, 0.0};  // radians
    double stem_width = 0.0;

    bool has_crystal = false;
    CrystalShape crystal_shape = CrystalShape::Plate;
    double crystal_size = 0.0;
    double radius = 0.0;
    double phase = 0.0;
    double crystal_row = 0.0;
    double crystal_u = 0.0;  // the crystal centre in loop coordinates
    double crystal_v = 0.0;
    std::array<double, 9> crystal_orientation{1, 0, 0, 0, 1, 0, 0, 0, 1};  // row-major
    std::vector<double> face_shade;  // per face absorbance factor

    std::vector<FilmSpot> ice;
    std::vector<FilmSpot> bubbles;
    std::vector<FibreKnot> knots;
    std::vector<DirtSpeck> dirt;
    double gradient_direction = 0.0;  // radians, in the input frame
    bool background = false;          // a background image is written
};

// Small deterministic generator (splitmix64): the same seed gives the same scene
// and the same noise on every machine.
class Rng {
  public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    int index(int n) { return static_cast<int>(uniform() * n) % n; }

  private:
    std::uint64_t state_;
};

// Fills every unset option from the seed and checks the result. Returns 0, or 1
// with a message in `error` when the options contradict each other.
int resolve_scene(const SceneOptions& opt, Scene& scene, std::string& error);

// The rotation angles of the series, degrees rounded to 0.01, in the order the
// images are written.
std::vector<double> series_angles(const SceneOptions& opt);

}  // namespace orva::scenegen
