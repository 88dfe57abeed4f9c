// Per-angle rendering of the sample's transmission and the camera exposure.
// Method: every element is drawn only inside its own bounding box; fibres (nylon
// ring and stem) are rasterised as a distance field to their centre lines, which
// gives both the anti-aliased fibre and the darkened refracting rim of the film
// next to it; crystal faces are convex polygons filled by signed edge distances.
#include "render.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace orva::scenegen {

namespace {

constexpr float FAR_AWAY = 1e9f;
constexpr double FIBRE_ABSORBANCE = 0.6;
constexpr double FILM_ABSORBANCE = 0.035;
constexpr double FILM_RIM_ABSORBANCE = 0.22;
constexpr double CRYSTAL_ABSORBANCE = 0.3;
constexpr double CRYSTAL_EDGE_ABSORBANCE = 0.72;
constexpr double ICE_ABSORBANCE = 0.5;
constexpr double BUBBLE_RIM_ABSORBANCE = 0.4;
constexpr double STRIPE_LEVEL = 12.0;
constexpr int NOISE_TABLE = 4096;

double clamp01(double v) {
    return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}

}  // namespace

CanonicalMap canonical_map(int loop_position, int w, int h) {
    // Canonical width is w for positions 0 and 1, h for 2 and 3.
    switch (loop_position) {
        case 1:
            return {static_cast<long>(h - 1) * w, -static_cast<long>(w), 1};
        case 2:
            return {static_cast<long>(w - 1) * h, 1, -static_cast<long>(h)};
        case 3:
            return {static_cast<long>(h - 1), -1, static_cast<long>(h)};
        default:
            return {0, static_cast<long>(w), 1};
    }
}

void Renderer::Box::add(double xa, double ya, double xb, double yb) {
    x0 = std::min(x0, static_cast<int>(std::floor(xa)));
    y0 = std::min(y0, static_cast<int>(std::floor(ya)));
    x1 = std::max(x1, static_cast<int>(std::ceil(xb)) + 1);
    y1 = std::max(y1, static_cast<int>(std::ceil(yb)) + 1);
}

Renderer::Renderer(const Scene& scene) : scene_(scene) {
    w_ = scene.can_width;
    h_ = scene.can_height;
    body_ = make_crystal_body(scene.crystal_shape, scene.crystal_size);
    band_ = 3.0 * (1.5 + 0.004 * std::min(w_, h_));
    dist_.assign(static_cast<size_t>(w_) * h_, FAR_AWAY);
    t_.assign(static_cast<size_t>(w_) * h_, 1.0f);

    const SceneOptions& o = scene.opt;
    const double gx = std::cos(scene.gradient_direction), gy = std::sin(scene.gradient_direction);
    illumination_.resize(static_cast<size_t>(o.width) * o.height);
    for (int y = 0; y < o.height; ++y) {
        const double yn = o.height > 1 ? (2.0 * y - (o.height - 1)) / (o.height - 1) : 0.0;
        for (int x = 0; x < o.width; ++x) {
            const double xn = o.width > 1 ? (2.0 * x - (o.width - 1)) / (o.width - 1) : 0.0;
            const double slope = 1.0 + 0.5 * o.gradient * (gx * xn + gy * yn);
            const double fall_off = 1.0 - 0.5 * o.vignette * (xn * xn + yn * yn);
            illumination_[static_cast<size_t>(y) * o.width + x] =
                static_cast<float>(o.brightness * slope * fall_off);
        }
    }

    // Box-Muller table from its own stream: the same for every seed run.
    Rng table_rng(0x5EED5EEDULL);
    gauss_.resize(NOISE_TABLE);
    for (int i = 0; i < NOISE_TABLE; i += 2) {
        const double u1 = std::max(1e-12, table_rng.uniform());
        const double u2 = table_rng.uniform();
        const double r = std::sqrt(-2.0 * std::log(u1));
        gauss_[i] = static_cast<float>(r * std::cos(6.283185307179586 * u2));
        gauss_[i + 1] = static_cast<float>(r * std::sin(6.283185307179586 * u2));
    }

    if (!scene.dirt.empty()) {
        // Specks on the optics are out of focus: soft edges over about two pixels.
        dirt_.assign(static_cast<size_t>(w_) * h_, 1.0f);
        for (const DirtSpeck& d : scene.dirt) {
            Box b{INT_MAX / 2, INT_MAX / 2, INT_MIN / 2, INT_MIN / 2};
            b.add(d.x - d.r - 2, d.y - d.r - 2, d.x + d.r + 2, d.y + d.r + 2);
            clip(b);
            for (int y = b.y0; y < b.y1; ++y)
                for (int x = b.x0; x < b.x1; ++x) {
                    const double cover = clamp01(0.5 * (d.r + 1.0 - std::hypot(x - d.x, y - d.y)));
                    dirt_[static_cast<size_t>(y) * w_ + x] *=
                        static_cast<float>(1.0 - cover * d.absorbance);
                }
        }
    }

    if (o.blur >= 0.3) {
        const int reach = static_cast<int>(std::ceil(3.0 * o.blur));
        double sum = 0.0;
        for (int k = -reach; k <= reach; ++k) {
            kernel_.push_back(static_cast<float>(std::exp(-0.5 * k * k / (o.blur * o.blur))));
            sum += kernel_.back();
        }
        for (float& k : kernel_) k = static_cast<float>(k / sum);
    }
}

void Renderer::clip(Box& b) const {
    b.x0 = std::max(b.x0, 0);
    b.y0 = std::max(b.y0, 0);
    b.x1 = std::min(b.x1, w_);
    b.y1 = std::min(b.y1, h_);
}

const std::vector<float>& Renderer::render_transmission(double angle) {
    std::vector<float>& t = t_;
    if (!dirty_.empty())
        for (int y = dirty_.y0; y < dirty_.y1; ++y)
            std::fill(t.begin() + static_cast<long>(y) * w_ + dirty_.x0,
                      t.begin() + static_cast<long>(y) * w_ + dirty_.x1, 1.0f);
    dirty_ = {INT_MAX / 2, INT_MAX / 2, INT_MIN / 2, INT_MIN / 2};
    fibre_box_ = dirty_;

    if (scene_.has_pin) draw_pin(angle, t);
    if (scene_.has_loop) {
        draw_fibres(angle);
        draw_film(angle, t);
        apply_fibres(t);
    }
    if (scene_.has_crystal) draw_crystal(angle, t);
    if (scene_.has_loop) draw_spots(angle, t);
    clip(dirty_);
    if (!kernel_.empty() && !dirty_.empty()) blur(t);
    clip(dirty_);
    return t_;
}

void Renderer::draw_pin(double angle, std::vector<float>& t) {
    const Scene& s = scene_;
    const double pc = pin_column(s, angle);
    const double phw = s.pin_half_width;
    const double tip = s.has_loop ? 0.5 * s.stem_width : 0.35 * phw;
    const int y_start = std::max(0, static_cast<int>(std::floor(s.pin_top)));
    if (y_start >= h_) return;
    dirty_.add(pc - phw - 2, y_start, pc + phw + 2, h_ - 1);
    for (int y = y_start; y < h_; ++y) {
        const double dy = y - s.pin_top;
        const double top_cover = clamp01(dy + 0.5);
        if (top_cover <= 0.0) continue;
        const double hw =
            dy < s.pin_taper ? tip + (phw - tip) * std::max(0.0, dy) / s.pin_taper : phw;
        const int xa = std::max(0, static_cast<int>(std::floor(pc - hw - 1.0)));
        const int xb = std::min(w_ - 1, static_cast<int>(std::ceil(pc + hw + 1.0)));
        float* row = t.data() + static_cast<long>(y) * w_;
        for (int x = xa; x <= xb; ++x) {
            const double dx = x - pc;
            const double cover = clamp01(hw + 0.5 - std::fabs(dx)) * top_cover;
            if (cover <= 0.0) continue;
            const double xr = std::min(1.0, std::fabs(dx) / hw);
            const double depth = std::sqrt(1.0 - xr * xr);
            double a = s.plastic_pin ? 0.25 + 0.4 * depth : 0.86 + 0.08 * depth;
            if (s.opt.reflection && dy > s.pin_taper) {
                const double g = (dx / hw - 0.35) / 0.12;
                a -= 0.45 * std::exp(-g * g);
            }
            row[x] *= static_cast<float>(1.0 - cover * a);
        }
    }
}

void Renderer::stamp_segment(Point2 p, Point2 q, double radius) {
    const double reach = radius + band_;
    Box b{INT_MAX / 2, INT_MAX / 2, INT_MIN / 2, INT_MIN / 2};
    b.add(std::min(p.x, q.x) - reach, std::min(p.y, q.y) - reach, std::max(p.x, q.x) + reach,
          std::max(p.y, q.y) + reach);
    clip(b);
    if (b.empty()) return;
    fibre_box_.add(b.x0, b.y0, b.x1 - 1, b.y1 - 1);
    dirty_.add(b.x0, b.y0, b.x1 - 1, b.y1 - 1);
    const double dx = q.x - p.x, dy = q.y - p.y;
    const double len2 = dx * dx + dy * dy;
    for (int y = b.y0; y < b.y1; ++y) {
        float* row = dist_.data() + static_cast<long>(y) * w_;
        for (int x = b.x0; x < b.x1; ++x) {
            double u = len2 > 0.0 ? ((x - p.x) * dx + (y - p.y) * dy) / len2 : 0.0;
            u = clamp01(u);
            const double ex = x - (p.x + u * dx), ey = y - (p.y + u * dy);
            const float d = static_cast<float>(std::sqrt(ex * ex + ey * ey) - radius);
            if (d < row[x]) row[x] = d;
        }
    }
}

void Renderer::draw_fibres(double angle) {
    const Scene& s = scene_;
    const std::vector<Point2> line = loop_centre_line(s, 1.0);
    const size_t n = line.size();
    for (size_t i = 0; i < n; ++i) {
        const Point2& p = line[i];
        const Point2& q = line[(i + 1) % n];
        const double thickness = fibre_thickness(s, (i + 0.5) / n);
        stamp_segment(loop_point(s, p.x, p.y, angle), loop_point(s, q.x, q.y, angle),
                      0.5 * thickness);
    }
    if (s.has_pin) {
        // The stem runs from the ring's lowest point into the pin's end.
        const std::vector<Point2> stem = stem_line(s, angle);
        for (size_t i = 0; i + 1 < stem.size(); ++i)
            stamp_segment(stem[i], stem[i + 1], 0.5 * s.stem_width);
    }
}

void Renderer::draw_film(double angle, std::vector<float>& t) {
    const Scene& s = scene_;
    const double k = std::fabs(loop_scale(s, angle));
    const auto range = loop_v_range(s);
    const double base = std::min(0.12, FILM_ABSORBANCE / std::max(k, 0.2));
    const double rim_length = band_ / 3.0;
    const int ya = std::max(0, static_cast<int>(std::ceil(s.loop_origin + range[0])));
    const int yb = std::min(h_ - 1, static_cast<int>(std::floor(s.loop_origin + range[1])));
    for (int y = ya; y <= yb; ++y) {
        double left = 0.0, right = 0.0;
        if (!film_row_extent(s, y - s.loop_origin, angle, left, right)) continue;
        const int xa = std::max(0, static_cast<int>(std::ceil(left)));
        const int xb = std::min(w_ - 1, static_cast<int>(std::floor(right)));
        if (xb < xa) continue;
        float* row = t.data() + static_cast<long>(y) * w_;
        const float* dist = dist_.data() + static_cast<long>(y) * w_;
        for (int x = xa; x <= xb; ++x) {
            double a = base;
            const double d = std::max(0.0f, dist[x]);
            if (d < band_) a += FILM_RIM_ABSORBANCE * std::exp(-d / rim_length);
            row[x] *= static_cast<float>(1.0 - a);
        }
        dirty_.add(xa, y, xb, y);
    }
}

void Renderer::apply_fibres(std::vector<float>& t) {
    clip(fibre_box_);
    const double r = 0.5 * scene_.fibre;
    for (int y = fibre_box_.y0; y < fibre_box_.y1; ++y) {
        float* row = t.data() + static_cast<long>(y) * w_;
        float* dist = dist_.data() + static_cast<long>(y) * w_;
        for (int x = fibre_box_.x0; x < fibre_box_.x1; ++x) {
            const double d = dist[x];
            dist[x] = FAR_AWAY;
            if (d >= 0.5) continue;
            const double cover = clamp01(0.5 - d);
            // A round fibre focuses the light a little along its middle.
            const double core = r >= 1.5 ? 0.25 * clamp01((-d / r - 0.5) * 2.0) : 0.0;
            row[x] *= static_cast<float>(1.0 - cover * FIBRE_ABSORBANCE * (1.0 - core));
        }
    }
}

void Renderer::draw_crystal(double angle, std::vector<float>& t) {
    const Scene& s = scene_;
    const double edge_width = std::max(1.2, 0.06 * s.crystal_size);
    for (const ProjectedFace& face : project_crystal(s, body_, angle)) {
        const auto& poly = face.polygon;
        const size_t n = poly.size();
        double area = 0.0;
        for (size_t i = 0; i < n; ++i)
            area += poly[i].x * poly[(i + 1) % n].y - poly[(i + 1) % n].x * poly[i].y;
        if (std::fabs(area) < 1e-9) continue;
        const double sign = area > 0.0 ? 1.0 : -1.0;
        // Inward unit normals and offsets of the edges: d = nx * x + ny * y + c.
        std::vector<std::array<double, 3>> edges;
        Box b{INT_MAX / 2, INT_MAX / 2, INT_MIN / 2, INT_MIN / 2};
        for (size_t i = 0; i < n; ++i) {
            const Point2& p = poly[i];
            const Point2& q = poly[(i + 1) % n];
            const double ex = q.x - p.x, ey = q.y - p.y;
            const double len = std::hypot(ex, ey);
            if (len < 1e-12) continue;
            const double nx = -sign * ey / len, ny = sign * ex / len;
            edges.push_back({nx, ny, -(nx * p.x + ny * p.y)});
            b.add(p.x - 1.0, p.y - 1.0, p.x + 1.0, p.y + 1.0);
        }
        clip(b);
        if (b.empty()) continue;
        dirty_.add(b.x0, b.y0, b.x1 - 1, b.y1 - 1);
        const double shade = s.face_shade[face.index];
        const double body = std::min(0.6, CRYSTAL_ABSORBANCE * shade * (0.6 + 0.4 * face.facing));
        for (int y = b.y0; y < b.y1; ++y) {
            float* row = t.data() + static_cast<long>(y) * w_;
            for (int x = b.x0; x < b.x1; ++x) {
                double inside = 1e9;
                for (const auto& e : edges) inside = std::min(inside, e[0] * x + e[1] * y + e[2]);
                if (inside <= -0.5) continue;
                const double cover = clamp01(inside + 0.5);
                const double edge = clamp01(1.0 - inside / edge_width);
                const double a = body + (CRYSTAL_EDGE_ABSORBANCE - body) * edge;
                row[x] *= static_cast<float>(1.0 - cover * a);
            }
        }
    }
}

void Renderer::draw_spots(double angle, std::vector<float>& t) {
    const Scene& s = scene_;
    const double k = loop_scale(s, angle);
    for (const FilmSpot& ice : s.ice) {
        const Point2 c = loop_point(s, ice.u, ice.v, angle);
        const double cx = c.x, cy = c.y;
        Box b{INT_MAX / 2, INT_MAX / 2, INT_MIN / 2, INT_MIN / 2};
        b.add(cx - ice.r - 1, cy - ice.r - 1, cx + ice.r + 1, cy + ice.r + 1);
        clip(b);
        if (b.empty()) continue;
        dirty_.add(b.x0, b.y0, b.x1 - 1, b.y1 - 1);
        for (int y = b.y0; y < b.y1; ++y)
            for (int x = b.x0; x < b.x1; ++x) {
                const double cover = clamp01(ice.r + 0.5 - std::hypot(x - cx, y - cy));
                t[static_cast<long>(y) * w_ + x] *=
                    static_cast<float>(1.0 - cover * ICE_ABSORBANCE);
            }
    }
    for (const FilmSpot& bubble : s.bubbles) {
        // A flat bubble in the film: an ellipse narrowing with the loop's projection.
        const double rx = std::fabs(k) * bubble.r, ry = bubble.r;
        if (rx < 1.0) continue;
        const Point2 c = loop_point(s, bubble.u, bubble.v, angle);
        const double cx = c.x, cy = c.y;
        Box b{INT_MAX / 2, INT_MAX / 2, INT_MIN / 2, INT_MIN / 2};
        b.add(cx - rx - 1, cy - ry - 1, cx + rx + 1, cy + ry + 1);
        clip(b);
        if (b.empty()) continue;
        dirty_.add(b.x0, b.y0, b.x1 - 1, b.y1 - 1);
        for (int y = b.y0; y < b.y1; ++y)
            for (int x = b.x0; x < b.x1; ++x) {
                const double rho = std::hypot((x - cx) / rx, (y - cy) / ry);
                const double cover = clamp01((1.0 - rho) * rx + 0.5);
                if (cover <= 0.0) continue;
                const double a = rho > 0.7 ? BUBBLE_RIM_ABSORBANCE : -0.05;
                t[static_cast<long>(y) * w_ + x] *= static_cast<float>(1.0 - cover * a);
            }
    }
}

void Renderer::blur(std::vector<float>& t) {
    const int reach = static_cast<int>(kernel_.size() / 2);
    Box b = dirty_;
    b.x0 -= reach;
    b.y0 -= reach;
    b.x1 += reach;
    b.y1 += reach;
    clip(b);
    const int bw = b.x1 - b.x0, bh = b.y1 - b.y0;
    // Horizontal pass into the scratch block, vertical pass back into t; outside
    // the box the view is clear (1), so edge replication is exact there.
    scratch_.resize(static_cast<size_t>(bw) * bh);
    for (int y = 0; y < bh; ++y) {
        const float* src = t.data() + static_cast<long>(y + b.y0) * w_;
        float* dst = scratch_.data() + static_cast<long>(y) * bw;
        for (int x = 0; x < bw; ++x) {
            float sum = 0.0f;
            for (int k = 0; k <= 2 * reach; ++k) {
                const int xs = std::clamp(x + b.x0 + k - reach, 0, w_ - 1);
                sum += kernel_[k] * src[xs];
            }
            dst[x] = sum;
        }
    }
    for (int y = 0; y < bh; ++y) {
        float* dst = t.data() + static_cast<long>(y + b.y0) * w_ + b.x0;
        for (int x = 0; x < bw; ++x) dst[x] = 0.0f;
        for (int k = 0; k <= 2 * reach; ++k) {
            const int ys = y + b.y0 + k - reach;
            const float wk = kernel_[k];
            if (ys < b.y0 || ys >= b.y1) {
                // Outside the block: clear view, or the replicated image edge.
                const int ye = std::clamp(ys, 0, h_ - 1);
                if (ye >= b.y0 && ye < b.y1) {
                    const float* src = scratch_.data() + static_cast<long>(ye - b.y0) * bw;
                    for (int x = 0; x < bw; ++x) dst[x] += wk * src[x];
                } else {
                    for (int x = 0; x < bw; ++x) dst[x] += wk;
                }
                continue;
            }
            const float* src = scratch_.data() + static_cast<long>(ys - b.y0) * bw;
            for (int x = 0; x < bw; ++x) dst[x] += wk * src[x];
        }
    }
    dirty_ = b;
}

void Renderer::expose(const std::vector<float>& t, Rng& noise, orva::ByteBuffer& grey) const {
    const SceneOptions& o = scene_.opt;
    const int w = o.width, h = o.height;
    grey.resize(static_cast<size_t>(w) * h);
    const CanonicalMap map = canonical_map(o.loop_position, w, h);
    const float sigma = static_cast<float>(o.noise);
    std::uint64_t bits = 0;
    int left = 0;
    for (int y = 0; y < h; ++y) {
        long idx = map.base_of_row0 + map.row_step * y;
        const float* illum = illumination_.data() + static_cast<long>(y) * w;
        unsigned char* out = grey.data() + static_cast<long>(y) * w;
        for (int x = 0; x < w; ++x, idx += map.column_step) {
            if (left == 0) {
                bits = noise.next();
                left = 4;
            }
            const float g = gauss_[bits & (NOISE_TABLE - 1)];
            bits >>= 16;
            --left;
            const float tx = dirt_.empty() ? t[idx] : t[idx] * dirt_[idx];
            // Shot noise grows with the light that arrives.
            const float v = illum[x] * tx + sigma * (0.4f + 0.6f * std::min(tx, 1.0f)) * g;
            out[x] = static_cast<unsigned char>(std::clamp(std::floor(v + 0.5f), 0.0f, 255.0f));
        }
    }
    // Dark stripes along the chosen edges, as some cameras deliver them.
    const auto& st = o.stripes;
    for (int y = 0; y < h; ++y) {
        unsigned char* out = grey.data() + static_cast<long>(y) * w;
        const bool full_row = y < st[SIDE_TOP] || y >= h - st[SIDE_BOTTOM];
        for (int x = 0; x < w; ++x) {
            if (!full_row && x >= st[SIDE_LEFT] && x < w - st[SIDE_RIGHT]) {
                x = std::max(x, w - st[SIDE_RIGHT] - 1);
                continue;
            }
            const double v = STRIPE_LEVEL + 2.0 * gauss_[noise.next() & (NOISE_TABLE - 1)];
            out[x] = static_cast<unsigned char>(std::clamp(std::floor(v + 0.5), 0.0, 255.0));
        }
    }
}

void Renderer::expose_background(Rng& noise, orva::ByteBuffer& grey) const {
    const std::vector<float> clear(static_cast<size_t>(w_) * h_, 1.0f);
    expose(clear, noise, grey);
}

}  // namespace orva::scenegen
