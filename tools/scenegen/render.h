// Rendering of one rotation angle: the sample's transmission in the canonical
// view, then the camera exposure in the input frame of the chosen loop position.
//
// Transmission: 1 where the light passes freely, lower where pin, stem, nylon
// ring, film, crystal and film spots absorb; elements multiply. Edges are
// anti-aliased by coverage from signed distances; defocus is a Gaussian blur over
// the box the sample occupies (the clear view is unchanged by a blur).
// Exposure: grey = illumination (gradient and vignetting) x transmission (times the
// dirt on the optics, which the background image shows too) + sensor noise, rounded
// and limited to 0..255, then the dark border stripes.
#pragma once

#include <array>
#include <vector>

#include "geometry.h"
#include "scene.h"
#include "types.h"

namespace orva::scenegen {

// Input pixel (x, y) shows canonical pixel canonical_index(...): the canonical view
// turned back for the loop position (bottom: as is; top: flipped top to bottom;
// left: turned a quarter clockwise; right: a quarter counter-clockwise).
struct CanonicalMap {
    long base_of_row0 = 0;  // canonical index of input pixel (0, 0)
    long row_step = 0;      // change per input row
    long column_step = 0;   // change per input column
};
CanonicalMap canonical_map(int loop_position, int input_width, int input_height);

class Renderer {
  public:
    explicit Renderer(const Scene& scene);

    // Transmission of the sample at an angle, can_width * can_height values; valid
    // until the next call.
    const std::vector<float>& render_transmission(double angle_deg);

    // Grey input-frame image (width * height bytes) from a canonical transmission.
    // Each call draws fresh noise from `noise`.
    void expose(const std::vector<float>& t, Rng& noise, orva::ByteBuffer& grey) const;

    // The same view without the sample.
    void expose_background(Rng& noise, orva::ByteBuffer& grey) const;

  private:
    struct Box {
        int x0, y0, x1, y1;  // inclusive-exclusive, canonical pixels
        void add(double xa, double ya, double xb, double yb);
        bool empty() const { return x1 <= x0 || y1 <= y0; }
    };

    void draw_pin(double angle, std::vector<float>& t);
    void draw_fibres(double angle);
    void stamp_segment(Point2 p, Point2 q, double radius);
    void draw_film(double angle, std::vector<float>& t);
    void apply_fibres(std::vector<float>& t);
    void draw_crystal(double angle, std::vector<float>& t);
    void draw_spots(double angle, std::vector<float>& t);
    void blur(std::vector<float>& t);
    void clip(Box& b) const;

    const Scene& scene_;
    CrystalBody body_;
    int w_ = 0, h_ = 0;
    std::vector<float> illumination_;  // input frame
    std::vector<float> gauss_;         // standard normal table for the noise
    std::vector<float> t_;             // canonical transmission
    std::vector<float> dist_;          // distance outside the nearest fibre surface
    std::vector<float> scratch_;       // blur rows
    std::vector<float> kernel_;
    std::vector<float> dirt_;    // canonical transmission of the optics' dirt; empty when clean
    Box dirty_{0, 0, 0, 0};      // where t differs from 1
    Box fibre_box_{0, 0, 0, 0};  // where dist_ holds values
    double band_ = 0.0;          // reach of the film's edge darkening
};

}  // namespace orva::scenegen
