// The default analysis driver: checks the run, chooses the method, cuts and
// orients the images, extracts the loops, fits the loop width, handles the
// runs without a crystal search (empty view, pin only, pre-alignment), finds
// the crystal with two detectors and fits its motion, then hands over to the
// result stage.
//
// Positions inside the pipeline are cut-image pixels (canonical orientation,
// pin entering from the bottom, halved when width + height exceed 1800);
// angles are degrees. Statuses: 0; 1 for a parameter out of range; 92 when
// the run log or the figures file cannot be created or written completely;
// the version-2.3 method's status for runs handed to it; 17 for a known axis
// outside the analysed image; else the status of the first failing stage
// (orientation, border cutting, loop extraction, crystal detector 1, combined
// fit, result stage). The result record is filled only on success. When no
// detector finds the crystal in any image the run falls back to the loop
// centres and reports a pre-centring.
#include "analysis/orvafunc.h"

#include <sys/time.h>

#include <cstdio>

#include "analysis/centre_fit.h"
#include "analysis/driver_log.h"
#include "analysis/driver_setup.h"
#include "analysis/observations.h"
#include "analysis/result_stage.h"
#include "analysis/run_recording.h"
#include "analysis/track_answer.h"
#include "analysis/version23_method.h"
#include "crystal/centring_image.h"
#include "crystal/corner_features.h"
#include "fit/sinusoid_fit.h"
#include "loop/bulge.h"
#include "loop/loop_extraction.h"
#include "loop/orientation.h"
#include "loop/view_warnings.h"
#include "parallel/background_queue.h"
#include "parallel/image_map.h"
#include "toolkit/arrays.h"
#include "track/track_method.h"

namespace orva {

namespace {

constexpr int PREALIGN_SPECIAL = 4;  // image_special: find the tip of the loop object

// The state of one default-pipeline run.
struct Run {
    Run(ORVAPARAMS& params, std::vector<ByteBuffer>& loaded, DriverLog& run_log)
        : xp(params), images(loaded), log(run_log) {}

    ORVAPARAMS& xp;
    std::vector<ByteBuffer>& images;
    DriverLog& log;

    int border[4] = {0, 0, 0, 0};
    int sub_flag = 0;
    int prealignment_flag = 0;
    bool known_centre = false;
    double x0_preset = -1.0;
    IMAGE image;
    IMAGE imagec;
    std::vector<double> angles;
    std::vector<SHAPE_PARAMS> shapes = std::vector<SHAPE_PARAMS>(MAX_NUMIMG);

    int numimg_processed = 0;
    int shape_type = 0;
    float shapes_reliability = 0.0f;
    int maxwidth = 0;
    int forrightborder = 0;
    PARAMS mp;

    int crystal_size = 0;
    int precentring_flag = 0;
    bool position_found = true;
    double reliability = -1.0;
    bool reliability_fixed = false;  // TRACK: its own figure, not the fit's deviations

    // Inspection files, written beside the rest of the run.
    BackgroundQueue diagnostics;

    int n() const { return xp.num_images; }
    int cut_width() const { return static_cast<int>(imagec.width); }
    std::span<SHAPE_PARAMS> run_shapes() { return std::span<SHAPE_PARAMS>(shapes).first(n()); }
};

// The cut images live in params.image_ptr only for the duration of the run.
struct CutImagesRelease {
    ORVAPARAMS& xp;
    ~CutImagesRelease() { std::vector<ByteBuffer>().swap(xp.image_ptr); }
};

long seconds_since(const timeval& start) {
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<long>(now.tv_sec - start.tv_sec);
}

// The image list must match the announced count; main guarantees it, a
// direct caller might not.
int check_image_list(const ORVAPARAMS& xp, const std::vector<ByteBuffer>& images) {
    if (static_cast<std::size_t>(xp.num_images) <= images.size() &&
        static_cast<std::size_t>(xp.num_images) <= xp.angle.size() && xp.width >= 1 &&
        xp.height >= 1)
        return 0;
    std::fprintf(stderr, "\norvafunc: %d images announced, but %zu images and %zu angles given\n",
                 xp.num_images, images.size(), xp.angle.size());
    return RUN_PARAMETER_ERROR;
}

CutFrame cut_frame(const Run& r) {
    CutFrame frame;
    frame.cut_width = static_cast<int>(r.imagec.width);
    frame.cut_height = static_cast<int>(r.imagec.height);
    frame.sub_flag = r.sub_flag;
    frame.loop_pos = r.xp.loop_pos;
    frame.left = r.border[BORDER_LEFT];
    frame.top = r.border[BORDER_TOP];
    return frame;
}

int cut_images(Run& r) {
    r.image.width = static_cast<unsigned>(r.xp.width);
    r.image.height = static_cast<unsigned>(r.xp.height);
    r.image.size = static_cast<unsigned long>(r.image.width) * r.image.height;
    int status = get_new_format(r.image, r.imagec, r.xp.loop_pos, r.border, r.sub_flag);
    if (status != 0) return status;

    if (r.xp.background_flag) {
        ByteBuffer cut = ucvector(static_cast<long>(r.imagec.size));
        status = cut_border(r.image, r.xp.back_ptr, r.imagec, cut, r.xp.loop_pos,
                            r.xp.image_special, r.border, r.sub_flag, stdout);
        if (status != 0) return status;
        r.xp.back_ptr = std::move(cut);
    }
    r.xp.image_ptr.assign(r.n(), ByteBuffer());
    // Only the cross images read the input images again; without them an
    // input image is handed back as soon as it is cut, and its memory serves
    // the buffers that follow.
    const bool keep_inputs = r.xp.set_cross_flag == 1;
    return map_images(r.n(), [&r, keep_inputs](int q, int /*slot*/) {
        r.xp.image_ptr[q] = ucvector(static_cast<long>(r.imagec.size));
        const int status =
            cut_border(r.image, r.images[q], r.imagec, r.xp.image_ptr[q], r.xp.loop_pos,
                       r.xp.image_special, r.border, r.sub_flag, stdout);
        if (!keep_inputs) ByteBuffer().swap(r.images[q]);
        return status;
    });
}

// Loop extraction, the mean loop width and top, and the fit of the loop
// width over the angle.
int extract_loops(Run& r) {
    int status = get_loop(r.xp, r.imagec, r.shapes, &r.numimg_processed, &r.shape_type,
                          &r.shapes_reliability, r.log.stream(), &r.diagnostics);
    if (status != 0) return status;
    record_objects(r.xp.record, r.run_shapes());
    r.log.write("\n");
    std::vector<double> widths = vector(r.n());
    std::vector<double> weights = vector(r.n());
    long width_sum = 0;
    long top_sum = 0;
    for (int q = 0; q < r.n(); ++q) {
        const SHAPE_PARAMS& s = r.shapes[q];
        r.log.write("Box details %d %d %d %d %d\n\n", q, static_cast<int>(s.box_b),
                    static_cast<int>(s.box_l), static_cast<int>(s.box_r),
                    static_cast<int>(s.box_t));
        widths[q] = s.width;
        weights[q] = 1.0;
        width_sum += s.width;
        top_sum += s.box_t;
        r.log.write("%d  %d\n", q, static_cast<int>(s.width));
    }
    r.maxwidth = static_cast<int>(width_sum / r.n());
    r.forrightborder = static_cast<int>(top_sum / r.n());
    // A failed width fit leaves radius 0, which is all that is read of it.
    LeastSquares(r.mp, widths, r.angles, weights, r.n(), stdout);
    r.log.write("Estimated Width %f\n", r.mp.radius);
    return 0;
}

void report_empty_view(Run& r) {
    r.mp.y0 = r.imagec.height;
    r.precentring_flag = 1;
    r.log.write("\n\n# loop is ouside the image");
    warn_all_empty();
    record_precentring(r.xp.record, "empty_view",
                       "All images are empty: there is no loop in view, or it has to be moved "
                       "along the spindle axis into the view");
}

void report_pin_only(Run& r) {
    r.precentring_flag = 1;
    warn_pin_only();
    r.crystal_size = smallest_width(r.run_shapes(), r.cut_width());
    record_precentring(r.xp.record, "pin_only",
                       "The pin covers a wide area of the image: Y_CENTRE and X_CENTRE are the "
                       "tip of the pin");
}

void prepare_prealignment(Run& r) {
    r.precentring_flag = 1;
    record_precentring(r.xp.record, "prealign", nullptr);
    r.log.write("\n\n# loop width | crystal_size");
    r.crystal_size =
        narrowest_loop(r.run_shapes(), r.cut_width(), r.log, "\n# %2d: %4d").crystal_size;
    r.crystal_size *= 2;
}

void report_no_position(Run& r) {
    r.position_found = false;
    std::fprintf(stderr, "\n### ! No usable position was found in any image.");
    std::fprintf(stderr, "\n### ! 'Y_CENTRE' and 'X_CENTRE' are set to '-1'.\n");
    r.log.write("\n\n# no usable loop position");
    record_warning(r.xp.record, "no_position",
                   "No usable position was found in any image: Y_CENTRE and X_CENTRE are -1");
}

// The centre fit of a table, or no position at all when no row has one.
// stand_in names what the rows are when they are not crystal detections.
int fit_table(Run& r, ObservationTable& table, bool mark_angles, const char* stand_in = nullptr) {
    if (!table.has_position()) {
        report_no_position(r);
    } else {
        const int status = centre_fit(r.mp, table, r.numimg_processed, r.known_centre, r.x0_preset);
        if (status != 0) return status;
        record_observations(r.xp.record, table, cut_frame(r), stand_in);
    }
    log_fit_table(r.log, table, mark_angles);
    return 0;
}

int pin_or_prealignment_fit(Run& r) {
    if (r.xp.image_special == PREALIGN_SPECIAL) use_loop_tips(r.run_shapes());
    std::fprintf(stderr, "\n Modelling PIN/Pre-Alignment");
    // The pre-centring answer: the motion of the loop centres (or loop tips).
    ObservationTable table = loop_centre_observations(r.run_shapes(), r.angles);
    const char* stand_in = r.xp.image_special == PREALIGN_SPECIAL ? "loop_tip"
                           : r.shape_type == PIN_ONLY             ? "pin"
                                                                  : nullptr;
    const int status = fit_table(r, table, false, stand_in);
    r.reliability = r.shapes_reliability;
    return status;
}

// The narrowest loop gives the crystal-size estimate; a clear bulge in its
// outline is taken as the crystal and moves the loop centres towards it.
void narrowest_loop_and_bulge(Run& r) {
    r.log.write("\n\n# loop width | crystal_size");
    const NarrowestLoop narrowest =
        narrowest_loop(r.run_shapes(), r.cut_width(), r.log, "\n#%2d: %4d");
    int q_minwidth = narrowest.q_minwidth;
    r.crystal_size = narrowest.crystal_size;
    if (q_minwidth < 0) {
        q_minwidth = 0;
        r.crystal_size = static_cast<int>(r.shapes[0].width);
    }

    int y_bulge = -1, x_bulge = -1, max_width = -1;
    // Without a traced row there is no outline to search.
    if (r.shapes[q_minwidth].num_coord_left > 0)
        get_bulge_pos(r.shapes[q_minwidth], &y_bulge, &x_bulge, &max_width);
    r.log.write("\n\n# bulge determination");
    r.log.write(" for image: %d", q_minwidth);
    r.log.write("\t max_width: %d", max_width);
    r.log.write("\n# max_width/crystal_size: %.2f",
                r.crystal_size != 0 ? static_cast<double>(max_width) / r.crystal_size : 0.0);
    if (bulge_accepted(max_width, r.crystal_size) &&
        apply_bulge(r.run_shapes(), q_minwidth, x_bulge, y_bulge)) {
        r.log.write("\n# bulge correction activated, ");
        r.log.write("centre at: %d %d", x_bulge, y_bulge);
    }
}

void report_no_crystal(Run& r) {
    r.precentring_flag = 1;
    std::fprintf(stderr, "\n### ! No crystal was found in any image.");
    std::fprintf(stderr, "\n### ! 'PRECENTRING' is set to '1' in output file");
    std::fprintf(stderr, "\n### ! 'Y_CENTRE' and 'X_CENTRE' are taken from the loop centres.");
    std::fprintf(stderr, "\n### ! -------------------------------------------\n");
    r.log.write("\n\n# no crystal found, the loop centres are used");
    record_precentring(r.xp.record, "no_crystal",
                       "No crystal was found in any image: Y_CENTRE and X_CENTRE are taken from "
                       "the loop centres");
}

int locate_crystal(Run& r) {
    narrowest_loop_and_bulge(r);

    const int n = r.n();
    std::vector<int> width_flag = ivector(n);
    for (int& flag : width_flag) flag = 1;
    std::vector<int> x1 = ivector(n), y1 = ivector(n), x2 = ivector(n), y2 = ivector(n);
    std::vector<int> x3 = ivector(n), y3 = ivector(n);
    const int status =
        algo_1(n, width_flag, r.imagec, r.xp.image_ptr, r.run_shapes(), x1, y1, x2, y2, stdout);
    if (status != 0) return status;
    // A failing corner detector leaves its positions at 0: they are not used.
    twodf_all(n, width_flag, r.imagec, r.xp.image_ptr, r.run_shapes(), x3, y3, stdout);
    std::fprintf(stderr, "\n Modelling Xtal motion");

    if (r.numimg_processed <= 0) return 0;
    bool loop_centres = false;
    ObservationTable table =
        motion_observations(r.angles, r.run_shapes(), x1, y1, x2, y2, x3, y3, &loop_centres);
    if (loop_centres) {
        // Without any crystal position only a pre-centring on the loops is possible.
        report_no_crystal(r);
        r.reliability = r.shapes_reliability;
    }
    return fit_table(r, table, true);
}

// TRACK's answer: the trajectory of the best-supported object, or, when nothing
// moves like a crystal, the loop answer the default method gives without one.
int locate_crystal_track(Run& r) {
    // A series of three or more images where only one or two show a loop has
    // nothing to follow: TRACK says so below instead of guessing from two views.
    if (r.numimg_processed == 0 || (r.numimg_processed < 3 && r.n() < 3)) {
        std::fprintf(
            stderr, "\n TRACK needs three images with a loop; the default crystal search is used.");
        return locate_crystal(r);
    }
    narrowest_loop_and_bulge(r);
    TrackInput in;
    in.imc = r.imagec;
    in.images = &r.xp.image_ptr;
    in.shapes = r.run_shapes();
    in.angles = r.angles;
    in.half_resolution = r.sub_flag == 1;
    in.axis_known = r.known_centre;
    in.axis = r.x0_preset;
    TrackResult track;
    const int status = track_crystal(in, track);
    if (status != 0) return status;
    r.log.write("%s", track.log.c_str());
    std::fprintf(stderr, "\n Modelling Xtal motion");
    if (!track.crystal) {
        if (r.numimg_processed < 3)
            std::fprintf(stderr,
                         "\n TRACK: only %d of %d images %s a loop, too few to follow an object.",
                         r.numimg_processed, r.n(), r.numimg_processed == 1 ? "shows" : "show");
        report_track_no_crystal(r.log, track.angles_too_close);
        record_precentring(r.xp.record, "no_crystal",
                           track.angles_too_close
                               ? "TRACK: the images lie too close in angle to follow an object: "
                                 "Y_CENTRE and X_CENTRE are taken from the loop centres"
                               : "TRACK: nothing moves like a crystal through the series: Y_CENTRE "
                                 "and X_CENTRE are taken from the loop centres");
        r.precentring_flag = 1;
        r.reliability = track.reliability;
        r.reliability_fixed = true;
        ObservationTable table = loop_centre_observations(r.run_shapes(), r.angles);
        return fit_table(r, table, false);
    }
    const TrackAnswer answer = track_answer(track, r.mp, r.log);
    record_observations(r.xp.record, answer.table, cut_frame(r));
    r.crystal_size = answer.crystal_size;
    r.reliability = answer.reliability;
    r.reliability_fixed = true;
    return 0;
}

int finish(Run& r, ORVARESULT& result) {
    ResultContext ctx;
    ctx.num_images = r.n();
    ctx.width = r.xp.width;
    ctx.height = r.xp.height;
    ctx.frame = cut_frame(r);
    ctx.centre_coord = r.xp.centre_coord;
    ctx.numimg_processed = r.numimg_processed;
    ctx.crystal_size = r.crystal_size;
    ctx.maxwidth = r.maxwidth;
    ctx.forrightborder = r.forrightborder;
    ctx.precentring_flag = r.precentring_flag;
    ctx.position_found = r.position_found;
    ctx.reliability = r.reliability;
    ctx.reliability_fixed = r.reliability_fixed;
    ctx.set_cross_flag = r.xp.set_cross_flag;
    ctx.write_figures = logout_requested(r.xp);
    const int status = result_stage(r.mp, ctx, r.images, r.xp.angle, r.log, result);
    record_default_fit(r.xp.record, r.mp, ctx);
    return status;
}

int default_pipeline(Run& r, ORVARESULT& result) {
    int status =
        check_known_axis(r.xp.centre_coord, r.xp.loop_pos, r.border, r.xp.width, r.xp.height);
    if (status != 0) return status;
    r.sub_flag = subsampling_flag(r.xp.width, r.xp.height);
    record_default_start(r.xp.record, r.sub_flag, r.xp.background_flag, r.n());
    status = cut_images(r);
    if (status != 0) return status;
    r.known_centre = r.xp.centre_coord >= 1;
    r.x0_preset = preset_axis(r.xp.centre_coord, r.xp.loop_pos, r.border, r.sub_flag, r.imagec);

    status = extract_loops(r);
    if (status != 0) return status;

    if (r.numimg_processed == 0) {
        report_empty_view(r);
    } else if (r.shape_type == PIN_ONLY) {
        report_pin_only(r);
        status = pin_or_prealignment_fit(r);
    } else if (r.prealignment_flag) {
        prepare_prealignment(r);
        status = pin_or_prealignment_fit(r);
    } else if (r.xp.track_flag) {
        status = locate_crystal_track(r);
    } else {
        status = locate_crystal(r);
    }
    if (status != 0) return status;
    return finish(r, result);
}

}  // namespace

int orvafunc(ORVAPARAMS& params, std::vector<ByteBuffer>& images, ORVARESULT& result) {
    timeval start{};
    gettimeofday(&start, nullptr);
    std::fprintf(stderr, "\n Image Preparation");

    int status = check_loop_position(params.loop_pos);
    if (status != 0) return status;
    DriverLog log;
    Run run(params, images, log);
    adjust_borders(params.border, params.image_special, run.border);
    status = check_image_count(params.num_images);
    if (status == 0) status = check_image_list(params, images);
    if (status != 0) return status;

    const unsigned quadrants =
        normalise_angles(std::span<float>(params.angle).first(params.num_images));
    run.angles.assign(params.angle.begin(), params.angle.begin() + params.num_images);
    std::fprintf(stdout, "\n");
    if (logout_requested(params) && !log.open(DRIVER_LOG_NAME)) {
        std::fprintf(stderr, "\n Cannot open %s\n", DRIVER_LOG_NAME);
        report_output_failure(DRIVER_LOG_NAME, log.why());
        return DRIVER_LOG_ERROR;
    }
    warn_missing_quadrants(quadrants);
    record_missing_quadrants(params.record, quadrants);

    if (params.image_special == PREALIGN_SPECIAL) params.prealignment_flag = 1;
    run.prealignment_flag = params.prealignment_flag;

    CutImagesRelease release{params};
    if (params.track_flag) announce_track(params);
    const bool version23 =
        use_version23_method(params.num_images, params.centre_coord, run.prealignment_flag,
                             params.track_flag ? 0 : params.vers23_flag);
    record_method(params.record, params.num_images, params.centre_coord, params.vers23_flag,
                  version23, params.track_flag != 0 && run.prealignment_flag == 0);
    if (version23)
        status = run_version23_method(params, images, result, log.stream());
    else
        status = default_pipeline(run, result);
    run.diagnostics.finish();
    // A log that was asked for and came out incomplete fails the run like one
    // that could not be created.
    if (!log.close(seconds_since(start))) {
        report_output_failure(DRIVER_LOG_NAME, log.why());
        if (status == 0) status = DRIVER_LOG_ERROR;
    }
    return status;
}

}  // namespace orva
