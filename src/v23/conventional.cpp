// The version-2.3 analysis driver. Every image is cleaned and turned so that
// the pin enters from the bottom, tested for emptiness, flattened against a
// fitted background surface and freed of its pin; four detectors (corner
// clusters, TELKU, VIRPA, DEXLA) then give crystal positions. The coordinate
// along the spindle axis is a robust mean over all detectors and images (or
// the median pin tip when most images show only a pin); the coordinate across
// it is fitted as x0 + radius cos(phi - phi0) over all detector positions
// with iterative reweighting (a trimmed or plain mean for three images or
// fewer). The result goes back to input-image pixels with a reliability from
// the fit's deviations and the object size.
//
// Conventions: cleaned-image pixels until the final conversion; angles in
// degrees; a detector value of 0 (TELKU: -1) is no observation.
// Status: 0, or the first non-zero status of clean_up, detect_emptyness,
// background_compensation, detect_pin, remove_pin, select_cand or
// weightedLeastSquares (then xres is not written); 1 for an image count
// outside 1 .. MAX_NUMIMG; LOG_FILE_ERROR (92) when the figures file of a
// logging run cannot be written (xres is written all the same).
// Degenerate input: all images empty gives x -1, y from the image height and
// pre-centring 1; two or three processed images without any positive x
// position give the middle column of the cleaned image.
#include "v23/conventional.h"

#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>

#include "crystal/corner_features.h"
#include "fit/sinusoid_fit.h"
#include "imageio/cross_images.h"
#include "parallel/image_map.h"
#include "run_record.h"
#include "toolkit/arrays.h"
#include "toolkit/heap_sort.h"
#include "toolkit/safe_files.h"
#include "v23/conventional_run.h"
#include "v23/image_preparation.h"
#include "v23/telku.h"
#include "v23/virpa.h"

namespace orva {

namespace {

using namespace conventional;

constexpr const char* ROUTINE = "orva_conventional";
constexpr int SPECIAL_TOP_BORDER = 2;  // image_special: fixed top border
constexpr int SPECIAL_UV = 3;          // UV-light images: no emptiness test
constexpr int SPECIAL_SHADOW = 6;      // cryo-head shadow in the top-left corner
constexpr int SPECIAL_TOP_BORDER_ROWS = 18;
constexpr double GOOD_RELIABILITY = 0.85;
constexpr int FIT_MIN_IMAGES = 4;  // fewer processed images: a mean instead of the fit

// The inputs of the analysis of one image, the same for every image of a run.
struct ImageInputs {
    const std::vector<ByteBuffer>& images;
    IMAGE im;  // input size
    int image_special = 0;
    int loop_pos = 0;
    const int* border = nullptr;  // after the image_special adjustment
    bool uv_flag = false;
    int shadow_flag = 0;
};

// What the analysis of one image gives besides its detector slots.
struct ImageOutcome {
    int status = 0;
    int imx = 0;  // cleaned size; 0 when the cleaning failed
    int imy = 0;
    bool processed = false;  // not empty: the detectors ran
    bool pin = false;        // a pin was found
};

// The detectors on the prepared image img1 (imx x imy); they write slot q of d.
void run_detectors(const ImageInputs& in, int q, std::span<unsigned char> img1, int imx, int imy,
                   int sub_samp, const int* roi, V23Detections& d) {
    const int roi_width = sub_samp * (roi[1] - roi[0]);
    const int roi_height = sub_samp * (roi[3] - roi[2]);
    if (twodf(img1, imx, imy, q, d.twodf_x, d.twodf_y, roi_width) != 0) {
        d.twodf_x[q] = 0.0;
        d.twodf_y[q] = 0.0;
    }

    d.virpa_x[q] = d.virpa_y[q] = d.dexla_x[q] = d.dexla_y[q] = 0.0;
    if (virpa_dexla(img1, imx, imy, in.image_special, q, d.virpa_x, d.virpa_y, d.dexla_x, d.dexla_y,
                    roi_width, roi_height) != 0)
        d.virpa_x[q] = d.virpa_y[q] = d.dexla_x[q] = d.dexla_y[q] = 0.0;

    // TELKU stretches the image's contrast in place, so it runs last.
    IMAGE im;
    im.width = static_cast<unsigned int>(imx);
    im.height = static_cast<unsigned int>(imy);
    im.size = static_cast<unsigned long>(im.width) * im.height;
    int xc[2] = {-1, -1};
    int yc[2] = {-1, -1};
    float fomx[2] = {};
    float fomy[2] = {};
    int oheight = 0;
    TelkuContext names;  // file-name stem of the image TELKU examines
    names.set_image(q);
    telku(img1, im, stdout, xc, yc, fomx, fomy, &d.owidth[q], &oheight, &d.oarea[q]);
    auto found = [](int v) { return v > 0 ? static_cast<double>(v) : -1.0; };
    d.telku0_x[q] = found(xc[0]);
    d.telku0_y[q] = found(yc[0]);
    d.telku1_x[q] = found(xc[1]);
    d.telku1_y[q] = found(yc[1]);
    d.weight_telku0_x[q] = fomx[0];
    d.weight_telku0_y[q] = fomy[0];
    d.weight_telku1_x[q] = fomx[1];
    d.weight_telku1_y[q] = fomy[1];
}

// Analyses image q: cleaning, emptiness test, background flattening, pin
// removal and the four detectors. It reads only `in`, writes only slot q of d
// and what it returns, and its own messages go to `messages`; working storage
// is per thread. Images can therefore be analysed in any order or side by
// side, as long as their outcomes are taken in image order.
ImageOutcome analyse_image(const ImageInputs& in, int q, V23Detections& d, std::FILE* messages) {
    ImageOutcome out;
    std::fprintf(messages, "\n Processing Image %d", q);
    IMAGE imc;
    ByteBuffer cleaned;
    out.status = clean_up(in.im, in.images[q], imc, cleaned, in.image_special, in.loop_pos,
                          in.border, in.shadow_flag, stdout);
    if (out.status != 0) return out;
    const int imx = static_cast<int>(imc.width);
    const int imy = static_cast<int>(imc.height);
    out.imx = imx;
    out.imy = imy;

    ByteBuffer sptr, gptr;
    IMAGE ims, img;
    int sub_samp = 1;
    int roi[4] = {};
    get_roi(cleaned, imc, sptr, ims, gptr, img, sub_samp, roi, q, stdout);

    if (!in.uv_flag) {
        int empty_flag = 0;
        out.status = detect_emptyness(sptr, ims, sub_samp, empty_flag, q, stdout);
        if (out.status != 0) return out;
        if (empty_flag) {
            std::fprintf(messages, "\n\t%s: Image seems to be empty !", ROUTINE);
            return out;
        }
    }
    out.processed = true;
    double a[preparation::NUM_PARAM + 1] = {};
    get_surface_params(sptr, ims, sub_samp, a, roi, q, stdout);

    // Both are written in full before they are read (flattening, pin removal).
    thread_local ByteBuffer img1;
    thread_local ByteBuffer img2;
    img1.resize(imc.size);
    img2.resize(imc.size);
    out.status = background_compensation(cleaned, img2, imx, imy, roi, sub_samp, a, q,
                                         in.shadow_flag, stdout);
    if (out.status != 0) return out;
    get_roi(img2, imc, sptr, ims, gptr, img, sub_samp, roi, q, stdout);

    int pin_len = 0;
    out.status = detect_pin(gptr, img, sub_samp, d.pin_pos[q], pin_len, stdout);
    if (out.status != 0) return out;
    out.pin = d.pin_pos[q] >= 0;
    int remove_flag = 0;
    out.status =
        remove_pin(img2, img1, img2, imx, imy, roi, sub_samp, q, remove_flag, pin_len, stdout);
    if (out.status != 0) return out;

    run_detectors(in, q, img1, imx, imy, sub_samp, roi, d);
    return out;
}

class Conventional {
  public:
    Conventional(ORVAPARAMS& xp, const std::vector<ByteBuffer>& images, std::FILE* logoutx)
        : xp_(xp), images_(images) {
        gettimeofday(&start_, nullptr);
        std::copy(std::begin(xp.border), std::end(xp.border), border_);
        if (xp.image_special == SPECIAL_TOP_BORDER) border_[BORDER_TOP] = SPECIAL_TOP_BORDER_ROWS;
        uv_flag_ = xp.image_special == SPECIAL_UV;
        shadow_flag_ = xp.image_special == SPECIAL_SHADOW ? 1 : 0;
        log_ = logout_requested(xp) ? logoutx : nullptr;
        logging_ = logout_requested(xp);
    }

    int run(ORVARESULT& xres);

  private:
    ImageInputs image_inputs() const;
    int take_outcome(int q, const ImageOutcome& outcome);
    void axial_coordinate();
    int moving_coordinate();
    int result(ORVARESULT& xres);
    void mark_images() const;
    long seconds() const;
    void log(const char* format, ...) const __attribute__((format(printf, 2, 3)));

    ORVAPARAMS& xp_;
    const std::vector<ByteBuffer>& images_;
    int border_[4] = {};
    bool uv_flag_ = false;
    int shadow_flag_ = 0;
    std::FILE* log_ = nullptr;
    bool logging_ = false;
    timeval start_{};
    int imx_ = 0;
    int imy_ = 0;
    V23Detections d_;
    V23Fit fit_;
    V23Figures fig_;
};

void Conventional::log(const char* format, ...) const {
    if (log_ == nullptr) return;
    std::va_list args;
    va_start(args, format);
    std::vfprintf(log_, format, args);
    va_end(args);
}

long Conventional::seconds() const {
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<long>(now.tv_sec - start_.tv_sec);
}

ImageInputs Conventional::image_inputs() const {
    IMAGE im;
    im.width = static_cast<unsigned int>(xp_.width);
    im.height = static_cast<unsigned int>(xp_.height);
    im.size = static_cast<unsigned long>(im.width) * im.height;
    return {.images = images_,
            .im = im,
            .image_special = xp_.image_special,
            .loop_pos = xp_.loop_pos,
            .border = border_,
            .uv_flag = uv_flag_,
            .shadow_flag = shadow_flag_};
}

// Adds image q's outcome to the run, in image order; its status, when not 0,
// ends the run.
int Conventional::take_outcome(int q, const ImageOutcome& outcome) {
    if (outcome.imx > 0) {
        imx_ = outcome.imx;
        imy_ = outcome.imy;
    }
    if (outcome.status != 0) return outcome.status;
    if (!outcome.processed) {
        record_image(xp_.record, q, true);
        return 0;
    }
    fig_.numimg_processed += 1;
    record_image(xp_.record, q, false);
    if (outcome.pin) fig_.pin_cnt += 1;
    if (log_ != nullptr) {
        log_image(log_, d_, q);
        log("\nduration: %ld\n", seconds());
    }
    return 0;
}

void Conventional::axial_coordinate() {
    const int n = fig_.num_images;
    if (fig_.numimg_processed == 0) {
        fig_.mean_y = imy_;
        fig_.precentring_flag = 1;
        log("\n\n loop is ouside the image\n");
        warn_all_empty();
        record_precentring(xp_.record, "empty_view",
                           "All images are empty: there is no loop in view, or it has to be moved "
                           "along the spindle axis into the view");
        return;
    }
    if (fig_.pin_cnt > fig_.numimg_processed / 2) {
        fig_.precentring_flag = 1;
        warn_pin_only();
        record_precentring(xp_.record, "pin_only",
                           "The pin covers a wide area of the image: Y_CENTRE and X_CENTRE are "
                           "the tip of the pin");
        // The pins are the largest entries: the others are -1, or 0 when empty.
        heap_sort_i_(static_cast<unsigned long>(n), d_.pin_pos);
        const int cnt = fig_.pin_cnt;
        fig_.mean_y = d_.pin_pos[n - 1 - cnt / 2];
        if (cnt > 1) {
            double sum = 0.0;
            for (int i = n - cnt; i < n; ++i)
                sum += (d_.pin_pos[i] - fig_.mean_y) * (d_.pin_pos[i] - fig_.mean_y);
            fig_.y_devW = std::sqrt(sum / (cnt - 1)) / std::sqrt(static_cast<double>(cnt));
        }
        log("\n\n# final y of pin");
        log("\n# phi    pin_pos");
        for (int i = 0; i < n; ++i) {
            log("\n# %5.1f", static_cast<double>(d_.phi[i]));
            log("%6d", d_.pin_pos[i]);
        }
        log("\n# median:%6.0f", fig_.mean_y);
        log("\n# y_devW:%6.0f", fig_.y_devW);
        return;
    }
    fig_.precentring_flag = 0;
    fig_.mean_y = get_mean_y(n, d_.telku0_y, d_.twodf_y, d_.virpa_y, d_.dexla_y, fig_.y_dev,
                             fig_.y_devW, stdout);
    log("\n\n# final y coord after weigthing");
    log("\n# phi   2df TELKU Virpa Dexla  Final");
    for (int i = 0; i < n; ++i) {
        log("\n# %5.1f", static_cast<double>(d_.phi[i]));
        log("%6.0f%6.0f", d_.twodf_y[i], d_.telku0_y[i]);
        log("%6.0f%6.0f", d_.virpa_y[i], d_.dexla_y[i]);
        log("%6.0f", fig_.mean_y);
    }
}

int Conventional::moving_coordinate() {
    const int n = fig_.num_images;
    const int N = V23_DETECTORS * n;
    auto positive = [](double v) { return v > 0.0 ? v : 0.0; };
    for (int i = 0; i < n; ++i) {
        const double observed[V23_DETECTORS] = {d_.twodf_x[i], d_.telku0_x[i], d_.virpa_x[i],
                                                d_.dexla_x[i]};
        for (int k = 0; k < V23_DETECTORS; ++k) {
            fit_.ls_param[V23_DETECTORS * i + k] = d_.phi[i];
            fit_.ls_vals_obs[V23_DETECTORS * i + k] = positive(observed[k]);
        }
    }

    PARAMS& mp = fit_.mp;
    if (fig_.numimg_processed >= FIT_MIN_IMAGES) {
        std::fill(fit_.ls_weights.begin(), fit_.ls_weights.begin() + N, 1.0);
        const int status = weightedLeastSquares(
            mp, std::span(fit_.ls_vals_obs).first(N), std::span(fit_.ls_vals_res).first(N),
            std::span(fit_.ls_param).first(N), N, std::span(fit_.ls_weights).first(N), stdout);
        if (status != 0) return status;
    } else {
        if (fig_.numimg_processed == 1) {
            // All slots, misses included, without the smallest and the largest.
            std::vector<double> sorted(fit_.ls_vals_obs.begin(), fit_.ls_vals_obs.begin() + N);
            heap_sort_dd(static_cast<unsigned long>(N), sorted);
            double sum = 0.0;
            for (int k = 1; k < N - 1; ++k) sum += sorted[k];
            mp.x0 = sum / (N - 2);
        } else {
            double sum = 0.0;
            int count = 0;
            for (int k = 0; k < N; ++k) {
                if (fit_.ls_vals_obs[k] > 0.0) {
                    sum += fit_.ls_vals_obs[k];
                    ++count;
                }
            }
            // Nothing seen across the axis: ask for no movement across it.
            mp.x0 = count > 0 ? sum / count : (imx_ - 1) * 0.5;
        }
        std::fill(fit_.ls_vals_res.begin(), fit_.ls_vals_res.begin() + N, mp.x0);
    }

    log("\n#\n# final x coord after LS");
    log("\n# phi   2df TELKU Virpa Dexla  Final");
    for (int i = 0; i < n; ++i) {
        log("\n# %5.1f", static_cast<double>(d_.phi[i]));
        log("%6.0f%6.0f", d_.twodf_x[i], d_.telku0_x[i]);
        log("%6.0f%6.0f", d_.virpa_x[i], d_.dexla_x[i]);
        log("%6.1f", fit_.ls_vals_res[V23_DETECTORS * i]);
    }
    record_observations(xp_.record, d_, fit_, fig_, xp_.loop_pos, imx_, imy_, border_);
    return 0;
}

void Conventional::mark_images() const {
    IMAGE im;
    im.width = static_cast<unsigned int>(xp_.width);
    im.height = static_cast<unsigned int>(xp_.height);
    im.size = static_cast<unsigned long>(im.width) * im.height;
    // Each cross image on its own thread; whatever they report comes out in
    // image order.
    map_images(fig_.num_images, [&](int q, int /*slot*/) {
        if (images_[q].size() < im.size) return 0;
        int x = 0;
        int y = 0;
        cross_position(xp_.loop_pos, imx_, border_, fit_.mp, d_.phi[q], fig_.final_x, fig_.final_y,
                       x, y);
        set_cross(images_[q], im, q, x, y);
        return 0;
    });
}

int Conventional::result(ORVARESULT& xres) {
    PARAMS& mp = fit_.mp;
    log("\n------------------------------------------");
    log("\n correction of coordinates according");
    log(" loop position and cut borders");
    log("\n------------------------------------------");

    fig_.final_y = static_cast<int>(std::floor(fig_.mean_y + 0.5));
    fig_.final_x = static_cast<int>(std::floor(mp.x0 + 0.5));
    to_input_coordinates(xp_.loop_pos, imx_, imy_, border_, fig_.numimg_processed > 0, fig_.final_x,
                         fig_.final_y);

    mp.phi0 = normalised_phase(mp.phi0, mp.radius);
    log("\n#\n# angle to rotate crystal into position of");
    log(" maximum excursion: %d", static_cast<int>(mp.phi0));
    log("\n# maximum excursion in pixels: %d", static_cast<int>(std::floor(mp.radius + 0.5)));
    if (xp_.loop_pos == 0 || xp_.loop_pos == 1) {
        log("\n# position in Y direction");
        log(" (counting from the top): %d", fig_.final_y);
    } else {
        log("\n# position in X direction");
        log(" (counting from the left): %d", fig_.final_x);
    }

    if (fig_.numimg_processed < FIT_MIN_IMAGES) {
        warn_too_few_images(fig_.numimg_processed);
        record_warning(xp_.record, "too_few_images",
                       "Number of non-empty images (" + std::to_string(fig_.numimg_processed) +
                           ") is too low for optimal detection");
        fig_.tot_devW = 0.0;
    } else {
        fig_.p_devW = std::sqrt(mp.var_p0);
        fig_.q_devW = std::sqrt(mp.var_q0);
        fig_.tot_devW = std::sqrt(fig_.y_devW * fig_.y_devW + mp.var_p0 + mp.var_q0);
        log("\n#\n# Deviation of coordinates");
        log("\n# p_dev: %f", fig_.p_devW);
        log("\t q_dev: %f", fig_.q_devW);
        log("\t v_dev: %f", fig_.y_devW);
        log("\t TOTALdev : %f", fig_.tot_devW);
    }
    log("\n#\n# cosine parameter in cleaned image");
    log("\n# %6.1f + %6.1f * cos( (phi - %6.1f) * pi/180)", mp.x0, mp.radius, mp.phi0);
    log("\n#");

    if (xp_.set_cross_flag) mark_images();

    std::sort(d_.oarea.begin(), d_.oarea.begin() + fig_.num_images, std::greater<>());
    fig_.diameter = object_diameter(d_.owidth, fig_.num_images);
    fig_.reliability = v23_reliability(fig_.diameter, fig_.tot_devW);
    // A figures file that was asked for and cannot be written fails the run,
    // as the run log does.
    const bool figures_written = !logging_ || write_log_res2(d_, fit_, fig_, xp_.width, xp_.height);
    if (fig_.reliability < GOOD_RELIABILITY) {
        warn_low_reliability(fig_.reliability);
        char text[80];
        std::snprintf(text, sizeof text, "The RELIABILITY of coordinates is rather low (%.0f %%)",
                      std::floor(100.0 * fig_.reliability));
        record_warning(xp_.record, "low_reliability", text);
    }
    record_fit(xp_.record, fit_, fig_, xp_.loop_pos, imx_, imy_, border_);

    xres.phi = static_cast<int>(std::floor(mp.phi0));
    xres.radius = static_cast<int>(std::floor(mp.radius + 0.5));
    xres.x_centre = fig_.final_x;
    xres.y_centre = fig_.final_y;
    xres.reliability = reliability_percent(fig_.reliability);
    xres.precentring_flag = fig_.precentring_flag;
    return figures_written ? 0 : LOG_FILE_ERROR;
}

int Conventional::run(ORVARESULT& xres) {
    const std::size_t loaded = std::min(images_.size(), xp_.angle.size());
    if (xp_.num_images < 1 || xp_.num_images > MAX_NUMIMG ||
        static_cast<std::size_t>(xp_.num_images) > loaded) {
        std::fprintf(stderr, "\n%s: %d images announced, %zu loaded", ROUTINE, xp_.num_images,
                     loaded);
        return 1;
    }
    fig_.num_images = xp_.num_images;
    std::fprintf(stdout, "\n");
    std::copy(xp_.angle.begin(), xp_.angle.begin() + fig_.num_images, d_.phi.begin());
    record_start(xp_.record, fig_.num_images);

    // Images are analysed side by side; their outcomes, messages and log
    // lines are taken in image order.
    const ImageInputs inputs = image_inputs();
    std::vector<ImageOutcome> outcomes(static_cast<std::size_t>(fig_.num_images));
    const int status = map_images(
        fig_.num_images,
        [&](int q, int /*slot*/) {
            outcomes[q] = analyse_image(inputs, q, d_, stderr);
            return 0;
        },
        [&](int q) { return take_outcome(q, outcomes[q]); });
    if (status != 0) return status;
    record_empty_images(xp_.record);

    const int select_status = select_cand(
        d_.telku0_x, d_.telku0_y, d_.telku1_x, d_.telku1_y, d_.weight_telku0_x, d_.weight_telku0_y,
        d_.weight_telku1_x, d_.weight_telku1_y, d_.owidth, d_.phi, fig_.num_images, stdout);
    if (select_status != 0) return select_status;
    if (log_ != nullptr) {
        log("# modified top candidate from TELKU");
        for (int q = 0; q < fig_.num_images; ++q) log_top_candidate(log_, d_, q);
    }

    axial_coordinate();
    if (fig_.numimg_processed > 0) {
        const int fit_status = moving_coordinate();
        if (fit_status != 0) return fit_status;
    }
    return result(xres);
}

}  // namespace

int orva_conventional(ORVAPARAMS& xp, const std::vector<ByteBuffer>& image_arr, ORVARESULT& xres,
                      std::FILE* logoutx) {
    Conventional run(xp, image_arr, logoutx);
    return run.run(xres);
}

}  // namespace orva
