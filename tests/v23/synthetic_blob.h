// A flat grey scene with one dark, finely textured disc ("crystal") for the
// version-2.3 detector tests.
#pragma once

#include <random>
#include <vector>

namespace orva::blob {

struct BlobScene {
    int width = 0;
    int height = 0;
    int cx = 0;
    int cy = 0;
    int radius = 0;
    std::vector<unsigned char> pixels;
};

// Background `background` with seeded pixel noise of +-noise (camera noise
// spreads it over a few grey levels); inside the disc a seeded random texture
// of 3 x 3 cells between `dark` and `dark + spread`.
inline BlobScene make_blob_scene(int width, int height, int cx, int cy, int radius,
                                 int background = 180, int dark = 20, int spread = 220,
                                 int noise = 0, unsigned seed = 7) {
    BlobScene s{width,  height,
                cx,     cy,
                radius, std::vector<unsigned char>(static_cast<std::size_t>(width) * height)};
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> cell(0, spread);
    std::uniform_int_distribution<int> grain(-noise, noise);
    std::vector<int> cells(static_cast<std::size_t>((width / 3 + 1) * (height / 3 + 1)));
    for (int& v : cells) v = dark + cell(rng);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int dx = x - cx;
            const int dy = y - cy;
            const bool inside = dx * dx + dy * dy <= radius * radius;
            s.pixels[static_cast<std::size_t>(y) * width + x] = static_cast<unsigned char>(
                inside ? cells[static_cast<std::size_t>(y / 3) * (width / 3 + 1) + x / 3]
                       : background + grain(rng));
        }
    return s;
}

// A textured loop (disc of radius 30 at (cx, cy)) held by a thin dark stem
// that runs down into a thick checkered pin entering from the bottom edge, on
// a flat background of 180.
inline std::vector<unsigned char> make_loop_on_pin_scene(int width, int height, int cx, int cy,
                                                         unsigned seed = 3) {
    std::vector<unsigned char> img(static_cast<std::size_t>(width) * height, 180);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> cell(20, 240);
    std::vector<int> cells(static_cast<std::size_t>((width / 3 + 1) * (height / 3 + 1)));
    for (int& v : cells) v = cell(rng);
    const int pin_top = height - 40;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int dx = x - cx;
            const int dy = y - cy;
            int v = 180;
            if (dx * dx + dy * dy <= 30 * 30)
                v = cells[static_cast<std::size_t>(y / 3) * (width / 3 + 1) + x / 3];
            else if (y > cy + 25 && y < pin_top && dx >= -3 && dx <= 3)
                v = 40;
            else if (y >= pin_top && dx >= -15 && dx <= 15)
                v = 60 + ((x / 2 + y / 2) % 2) * 120;
            img[static_cast<std::size_t>(y) * width + x] = static_cast<unsigned char>(v);
        }
    return img;
}

}  // namespace orva::blob
