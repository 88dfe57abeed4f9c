// Loop extraction for a run of canonical images.
//
// Per image: an object mask by change (against the background image, or
// against partner images of the series), a 3x3 median and a 17x17 closing,
// flank trimming at edges of a multi-scale edge map (series path only, and not
// when the loop tip is wanted), outline tracing and shape classification, and
// the diagnostic files. After all images: one shape class for the run, then
// the loop part (centre, mean width, box) of every image. The images are
// worked on in parallel; counts, messages and diagnostic files follow image
// order.
// Canonical images: pin from the bottom, x column, y row, row 0 at the top.
// Status: 0; 3 without background and with fewer than 3 images; 78 for an
// unsuitable background; 5 when the images or records do not match the run.
#include "loop/loop_extraction.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "loop/feature_maps.h"
#include "loop/flank_trimming.h"
#include "loop/loop_diagnostics.h"
#include "loop/object_mask.h"
#include "loop/run_shape_class.h"
#include "loop/shape_classification.h"
#include "parallel/image_map.h"
#include "toolkit/arrays.h"
#include "toolkit/errmsg.h"
#include "toolkit/morphology.h"
#include "toolkit/rank_filters.h"

namespace orva {

namespace {

constexpr int EDGE_MODE = 1;  // get_feature: edge strength
constexpr int EDGE_LEVELS = 5;
constexpr int EDGE_DECIMATION = 1;
constexpr int MIN_SERIES_IMAGES = 3;
constexpr int TOO_FEW_IMAGES = 3;

bool logging(const ORVAPARAMS& xp, std::FILE* log) {
    return log != nullptr && logout_requested(xp);
}

const char* class_name(int type) {
    return type >= 0 && type < NUM_SHAPE_CLASSES ? shape_name[type] : "?";
}

// Every buffer the run needs is there and large enough.
bool run_matches(const ORVAPARAMS& xp, const IMAGE& imc, std::span<SHAPE_PARAMS> shapes) {
    const int n = xp.num_images;
    if (n < 1 || imc.width < 1 || imc.height < 1 ||
        imc.size != static_cast<unsigned long>(imc.width) * imc.height)
        return false;
    if (static_cast<std::size_t>(n) > shapes.size() ||
        static_cast<std::size_t>(n) > xp.image_ptr.size())
        return false;
    for (int q = 0; q < n; ++q)
        if (xp.image_ptr[q].size() < imc.size) return false;
    return !xp.background_flag || xp.back_ptr.size() >= imc.size;
}

void size_outline(SHAPE_PARAMS& s, const IMAGE& imc) {
    for (auto* v : {&s.x_coord_left, &s.y_coord_left, &s.x_coord_right, &s.y_coord_right})
        *v = uivector(imc.height);
    for (auto* v : {&s.x_coord_top, &s.y_coord_top, &s.x_coord_bottom, &s.y_coord_bottom})
        *v = uivector(imc.width);
}

void log_results(std::FILE* log, const ORVAPARAMS& xp, std::span<const SHAPE_PARAMS> shapes,
                 int run_type, int num_processed) {
    std::fprintf(log, "\n\n# results from shape classification");
    std::fprintf(log, "\n#  phi         type   class");
    for (std::size_t q = 0; q < shapes.size(); ++q) {
        const double angle = q < xp.angle.size() ? xp.angle[q] : 0.0;
        std::fprintf(log, "\n#%6.1f ", angle);
        std::fprintf(log, " %13s", class_name(shapes[q].type));
        std::fprintf(log, " %6d", shapes[q].classif);
    }
    std::fprintf(log, "\n# final:");
    std::fprintf(log, " %13s", class_name(run_type));
    std::fprintf(log, "\n# Number of processed images: %d", num_processed);
}

}  // namespace

int get_loop(ORVAPARAMS& xp, const IMAGE& imc, std::span<SHAPE_PARAMS> shapes, int* num_processed,
             int* sh_type, float* sh_reliability, std::FILE* logoutx,
             BackgroundQueue* diagnostics) {
    if (!run_matches(xp, imc, shapes))
        return errmsg(ERR_NOT_DEFINED, "get_loop", "num_images", xp.num_images);
    const int num_images = xp.num_images;
    const unsigned long size = imc.size;
    const bool with_background = xp.background_flag != 0;
    const std::span<const ByteBuffer> images(xp.image_ptr.data(), num_images);
    const std::span<SHAPE_PARAMS> run_shapes = shapes.first(num_images);

    // Set-up: (series path) the edge maps of all images, which every image's
    // comparisons read. They come first, even for a series too short to
    // compare, so their warnings precede the progress line.
    const int num_comp = number_of_comparisons(num_images);
    const bool series_possible = !with_background && num_images >= MIN_SERIES_IMAGES;
    // Difference scratch per thread: one row against the background, a row
    // per comparison within a series.
    // The scratch and the edge maps are allocated, and so first touched, on
    // the threads that use them.
    const int diff_rows = with_background ? 1 : std::max(num_comp, 0) + 1;
    std::vector<Matrix<std::int16_t>> diff_work(static_cast<std::size_t>(map_slots(num_images)));
    std::vector<ByteBuffer> grad_ptr;
    if (!with_background) {
        grad_ptr.resize(static_cast<std::size_t>(num_images));
        std::vector<FeatureWork> feature_work(static_cast<std::size_t>(map_slots(num_images)));
        map_images(num_images, [&](int q, int slot) {
            grad_ptr[q] = ucvector(static_cast<long>(size));
            return get_feature(imc, std::span<const unsigned char>(images[q]).first(size),
                               grad_ptr[q], EDGE_MODE, EDGE_LEVELS, EDGE_DECIMATION,
                               feature_work[slot]);
        });
    }

    // Per image: its object mask, outline and class, then in image order the
    // count and the diagnostic files.
    std::fprintf(stderr, "\n Processing Images:");
    std::vector<ByteBuffer> masks(static_cast<std::size_t>(num_images));
    auto extract = [&](int q, int slot) {
        std::fprintf(stderr, " %d", q);
        if (!with_background && !series_possible) {
            std::fprintf(stderr, "\nToo less images for precise analysis\n");
            return TOO_FEW_IMAGES;
        }
        Matrix<std::int16_t>& diff_ptr = diff_work[slot];
        if (diff_ptr.empty()) diff_ptr = smatrix(diff_rows, static_cast<long>(size));
        ByteBuffer& diffmask = masks[q];
        diffmask = ucvector(size);
        const std::span<const unsigned char> image =
            std::span<const unsigned char>(images[q]).first(size);
        if (with_background) {
            const int status = background_object_mask(
                imc, image, std::span<const unsigned char>(xp.back_ptr).first(size),
                diff_ptr.row(0), diffmask);
            if (status != 0) return status;
        } else {
            series_object_mask(imc, images, grad_ptr, q, num_comp, diff_ptr, diffmask);
        }

        median_filter(imc, diffmask);
        closing17x17(imc, diffmask);
        if (!with_background && xp.image_special != TIP_SPECIAL)
            trim_flanks(imc, diffmask, grad_ptr[q]);

        size_outline(shapes[q], imc);
        shape_classifier(imc, diffmask, xp.loop_type, shapes[q]);
        return 0;
    };
    int processed = 0;
    const std::string diag_dir = diagnostic_dir();
    const auto counters = std::make_shared<DiagnosticCounters>();
    auto inspect_and_count = [&](int q) {
        if (!diag_dir.empty()) {
            auto write = [diag_dir, imc, q, counters, mask = std::move(masks[q])] {
                write_loop_diagnostics(diag_dir, imc, mask, q, *counters);
            };
            if (diagnostics != nullptr)
                diagnostics->submit(std::move(write));
            else
                write();
        }
        ByteBuffer().swap(masks[q]);
        if (shapes[q].type == NO_OBJECT)
            std::fprintf(stderr, "\t Image seems to be empty !");
        else
            ++processed;
        return 0;
    };
    const int status = map_images(num_images, extract, inspect_and_count);
    if (status != 0) return status;

    const RunShape run = run_shape_class(run_shapes, xp.image_special, imc.height);
    const bool log_on = logging(xp, logoutx);
    if (log_on) {
        std::fprintf(logoutx, "\n# shapes_reliability: %f", run.reliability);
        std::fprintf(logoutx, "\n# shapes[0].y_coord_left[0]: %d",
                     static_cast<int>(shapes[0].y_coord_left[0]));
        std::fprintf(logoutx, "\t 0.03 * imc->height: %.0f", 0.03 * imc.height);
    }

    const bool uv = xp.image_special == UV_SPECIAL;
    for (int q = 0; q < num_images; ++q) {
        const LoopShare share = loop_part(shapes[q], run, imc, uv);
        if (q != 0 || !log_on) continue;
        if (share == LoopShare::Global) {
            std::fprintf(logoutx, "\n# use global shape type");
            std::fprintf(logoutx, " %13s", class_name(run.type));
        } else if (share == LoopShare::Local) {
            std::fprintf(logoutx, "\n# use local shape type");
        }
    }
    if (log_on) log_results(logoutx, xp, run_shapes, run.type, processed);

    *sh_reliability = run.reliability;
    *sh_type = run.type;
    *num_processed = processed;
    return 0;
}

}  // namespace orva
