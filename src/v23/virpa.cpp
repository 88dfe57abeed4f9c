// VIRPA and DEXLA crystal positions of one prepared image.
//
// VIRPA: the contrast-stretched image is zoomed down to fit a 256 x 256
// transform, padded smoothly, and its local standard deviation inside a disc
// is computed by FFT convolution (mean of squares minus squared mean). The
// disc radius is searched (2, 21, 41, then bisection) until the area above
// the texture threshold matches the disc area; the largest object of that
// mask gives the centroid, scaled back by the zoom factor. Each thread keeps
// the transform planes and the spectra of recently used discs from image to
// image, and a pass transforms back only the rows its threshold reads.
// DEXLA: on the half-size, equalised copy (see dexla.cpp).
// Conventions: results are image pixels of img1, x column, y row. Status: 0,
// or 3 when the arguments do not describe an image and a slot q (results then
// not written). A search that never
// stops gives VIRPA (0, 0), the driver's "nothing found".
#include "v23/virpa.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>
#include <vector>

#include "v23/telku_convolution.h"
#include "v23/virpa_image.h"

namespace orva {
namespace {

constexpr int Nfft = 256;
constexpr int ZOOM_SIDE = 224;
constexpr int ZOOM_ROUND = 112;
constexpr double CONTRAST = 4.0;
constexpr int MAX_PASSES = 10;
constexpr double TARGET = 1.0;
constexpr double AREA_PI = 3.14;
constexpr double RATIO_LOW = 0.9;
constexpr double RATIO_HIGH = 1.1;
constexpr int DEXLA_ZOOM = 2;

constexpr std::size_t KEPT_DISCS = 8;  // the search visits few radii, the same from image to image

// Storage of the radius search that each thread keeps from image to image:
// the padded image, its square, their spectra, the two local means and the
// deviation map, and the disc spectra of the radii used most recently (a
// disc's spectrum depends on its radius alone).
struct SearchWork {
    Image in{Nfft, Nfft};
    Image sq{Nfft, Nfft};
    Image result{Nfft, Nfft};
    Complex spec_in{Nfft};
    Complex spec_sq{Nfft};
    Complex mean_sq{Nfft};
    Complex mean{Nfft};
    std::vector<std::pair<int, Complex>> discs;  // most recently used last
};

SearchWork& search_work() {
    thread_local SearchWork work;
    return work;
}

const Complex& disc_spectrum(SearchWork& work, int rad) {
    auto& discs = work.discs;
    const auto kept =
        std::find_if(discs.begin(), discs.end(), [rad](const auto& d) { return d.first == rad; });
    if (kept != discs.end()) {
        std::rotate(kept, kept + 1, discs.end());
        return discs.back().second;
    }
    Image disc(Nfft, Nfft);
    disc.ball(rad);
    Complex spec_disc(Nfft);
    spec_disc.FFT_2d(disc, Nfft, Nfft);
    if (discs.size() == KEPT_DISCS) discs.erase(discs.begin());
    discs.emplace_back(rad, std::move(spec_disc));
    return discs.back().second;
}

// Rows of the deviation map, before its quadrant shift, that the threshold
// reads: window rows f.x .. f.x + zoomed.my - 1 of the shifted map.
std::array<RowRange, 2> rows_read(const Point& f, const Image& zoomed) {
    const int half = Nfft / 2;
    const int first = std::clamp(f.x, 0, Nfft) + half;
    const int last = std::clamp(f.x + zoomed.my, 0, Nfft) + half;  // one past
    if (last <= Nfft) return {RowRange{first, last}, RowRange{}};
    if (first >= Nfft) return {RowRange{first - Nfft, last - Nfft}, RowRange{}};
    return {RowRange{first, Nfft}, RowRange{0, last - Nfft}};
}

// One pass: threshold of the local standard deviation inside a disc of
// radius rad, written into `zoomed`; returns the mask area over the disc area.
// Only the rows the threshold reads are transformed back and evaluated.
double texture_ratio(SearchWork& work, int rad, const Point& f, Image& zoomed) {
    const Complex& spec_disc = disc_spectrum(work, rad);
    work.mean_sq.multiplication(work.spec_sq, spec_disc, Nfft);
    work.mean.multiplication(work.spec_in, spec_disc, Nfft);
    const std::array<RowRange, 2> rows = rows_read(f, zoomed);
    ffti_2D(work.mean_sq.Real, work.mean_sq.Img, Nfft, Nfft, rows);
    ffti_2D(work.mean.Real, work.mean.Img, Nfft, Nfft, rows);
    for (const RowRange& r : rows)
        work.result.StdDev(work.mean_sq, work.mean, Nfft, r.begin, r.end);
    work.result.shift(Nfft, Nfft);
    const int count = work.result.getactualimage(zoomed, f, 0.0, 0.0);
    const double area = rad * rad * AREA_PI + 0.5;
    return count / area;
}

}  // namespace

int virpa_zoomfactor(int imx, int imy) {
    return (std::max(imx, imy) + ZOOM_ROUND) / ZOOM_SIDE + 1;
}

int virpa_radius_search(Image& zoomed, Image& final_image, Point& f) {
    SearchWork& work = search_work();
    std::fill(work.in.pixel.flat().begin(), work.in.pixel.flat().end(), 0.0);
    f = work.in.paddingZeros(zoomed);
    work.sq.square(work.in);
    work.spec_in.FFT_2d(work.in, Nfft, Nfft);
    work.spec_sq.FFT_2d(work.sq, Nfft, Nfft);

    int radX[3] = {2, 21, 41};
    double ratio[3] = {0.0, 0.0, 0.0};
    int idx = 0;
    for (int loop_cnt = 0; loop_cnt < MAX_PASSES; ++loop_cnt) {
        bool stop = false;
        int rad = 0;
        if (loop_cnt < 3) {
            rad = radX[loop_cnt];
        } else if (ratio[0] < TARGET) {
            stop = true;  // texture smaller than the smallest disc
            rad = radX[0];
        } else if (ratio[2] > TARGET) {
            stop = true;
            rad = radX[1];
        } else {
            const int old = radX[1];
            if (ratio[1] > TARGET) {
                radX[0] = radX[1];
                radX[1] = (radX[1] + radX[2]) / 2;
            } else {
                radX[2] = radX[1];
                radX[1] = (radX[1] + radX[0]) / 2;
            }
            if (radX[1] == old) stop = true;
            rad = radX[1];
            idx = 1;
        }
        ratio[idx] = texture_ratio(work, rad, f, zoomed);
        if (ratio[idx] > RATIO_LOW * TARGET && ratio[idx] < RATIO_HIGH * TARGET) stop = true;
        if (radX[1] - radX[0] < 2 && radX[2] - radX[1] < 2) stop = true;
        if (stop) {
            final_image.copy(zoomed);
            return loop_cnt + 1;
        }
        if (idx < 2) ++idx;
    }
    return MAX_PASSES;
}

int virpa_dexla(std::span<const unsigned char> img1, int imx, int imy, int image_special, int q,
                std::span<double> virpa_x, std::span<double> virpa_y, std::span<double> dexla_x,
                std::span<double> dexla_y, int, int) {
    const char* name = "virpa_dexla";
    if (imx < 1 || imy < 1 || q < 0 ||
        img1.size() < static_cast<std::size_t>(imx) * static_cast<std::size_t>(imy) ||
        virpa_x.size() <= static_cast<std::size_t>(q) ||
        virpa_y.size() <= static_cast<std::size_t>(q) ||
        dexla_x.size() <= static_cast<std::size_t>(q) ||
        dexla_y.size() <= static_cast<std::size_t>(q)) {
        std::fprintf(stderr, "\n %s: No image of %d x %d for slot %d!", name, imx, imy, q);
        return 3;
    }
    // Both detectors read only sub-sampled pixels: they are taken straight
    // from the bytes instead of from full-size copies.
    const std::span<const unsigned char> pixels = img1.first(static_cast<std::size_t>(imx) * imy);
    const auto [lo, hi] = std::minmax_element(pixels.begin(), pixels.end());

    // VIRPA.
    const int zoomfactor = virpa_zoomfactor(imx, imy);
    Image zoomed(0, 0);
    zoomed.zoom(pixels, imx, imy, zoomfactor);
    zoomed.contrastEnhancement(CONTRAST, *lo, *hi);
    Image final_image(zoomed.mx, zoomed.my);
    Point f;
    const int passes = virpa_radius_search(zoomed, final_image, f);
    if (image_special != 1) final_image.selectLargeObject(passes);
    Point p;
    Image::centroid(final_image, zoomfactor, p);
    virpa_x[q] = p.x;
    virpa_y[q] = p.y;

    // DEXLA.
    Image half(0, 0);
    half.zoom(pixels, imx, imy, DEXLA_ZOOM);
    half.histEqualization();
    const Point d = half.Dexla(img1, q);
    dexla_x[q] = d.x;
    dexla_y[q] = d.y;
    return 0;
}

}  // namespace orva
