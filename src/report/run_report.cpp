// Report layout: one function per member group, in the order of the README.
#include "report/run_report.h"

#include <cstdlib>
#include <sstream>

#include "report/json_writer.h"

namespace orva {

namespace {

struct StatusText {
    int status;
    const char* text;
};

// The exit statuses of the README, in its words.
constexpr StatusText STATUS_TEXTS[] = {
    {0, "success; the result file was written"},
    {1, "a run parameter is out of range (image count or loop position)"},
    {2, "memory for the image list or for an image could not be had"},
    {3, "two images without a background image: the loop cannot be found by comparing images"},
    {8, "the singular value decomposition in the analysis did not converge"},
    {11, "unsupported PGM/PPM or TIFF variant"},
    {12, "an image file vanished between the opening test and the type test"},
    {13, "unknown image type"},
    {14, "the images of the job (the background included) differ in size"},
    {15, "the result file could not be written"},
    {21, "the motion fit's normal matrix is singular"},
    {78, "the background image does not fit the images"},
    {92, "the run log logORVA.txt could not be created"},
    {99, "none of the listed images could be loaded"},
};

const char* coordinate_name(bool row) {
    return row ? "row" : "column";
}

// "column(angle) = axis + radius * cos(angle - phase); row = along" and its kin.
std::string model_text(const RecordedFit& fit) {
    const std::string moving = coordinate_name(fit.axis_is_row);
    const std::string fixed = coordinate_name(!fit.axis_is_row);
    if (fit.kind == "motion")
        return moving + "(angle) = axis " + (fit.sign < 0 ? "-" : "+") +
               " radius * cos(angle - phase); " + fixed + " = along";
    if (fit.kind == "mean")
        return "no motion fitted: axis is the mean " + moving +
               " of the observations, not the rotation axis; " + fixed + " = along";
    return "no position found";
}

void write_program(JsonWriter& w, const ReportInput& in) {
    w.key("program");
    w.begin_object();
    w.field("name", "orva");
    w.field("version", in.version);
    w.field("build", in.build);
    w.end_object();
}

void write_observation(JsonWriter& w, const RecordedObservation& o) {
    w.begin_object(true);
    w.field("detector", o.detector);
    w.field("column", o.column);
    w.field("row", o.row);
    w.field("weight", o.weight);
    w.field("rejected", o.rejected);
    w.end_object();
}

void write_image(JsonWriter& w, const ListedImage& image, const AnalysedImage* analysed) {
    w.begin_object();
    w.field("file", image.file);
    w.field("angle", image.angle);
    w.field("used", image.used);
    w.optional_field("reason", image.reason);
    w.key("empty");
    if (analysed == nullptr || analysed->empty < 0)
        w.null();
    else
        w.boolean(analysed->empty == 1);
    w.key("observations");
    w.begin_array();
    if (analysed != nullptr)
        for (const RecordedObservation& o : analysed->observations) write_observation(w, o);
    w.end_array();
    w.end_object();
}

// The listed images, each with the analysis of its loaded buffer.
void write_images(JsonWriter& w, const RunRecord& r) {
    int used = 0, with_object = 0, observations = 0;
    w.key("images");
    w.begin_array();
    std::size_t q = 0;  // index among the used images
    for (const ListedImage& image : r.images) {
        const AnalysedImage* analysed = nullptr;
        if (image.used) {
            ++used;
            if (q < r.analysed.size()) analysed = &r.analysed[q];
            ++q;
        }
        if (analysed != nullptr) {
            if (analysed->empty == 0) ++with_object;
            for (const RecordedObservation& o : analysed->observations)
                if (!o.rejected) ++observations;
        }
        write_image(w, image, analysed);
    }
    w.end_array();
    w.field("images_listed", static_cast<long>(r.images.size()));
    w.field("images_used", used);
    w.key("images_with_object");
    if (r.analysed.empty())
        w.null();
    else
        w.integer(with_object);
    w.field("observations_used", observations);
}

void write_background(JsonWriter& w, const RunRecord& r) {
    w.key("background");
    if (r.background_file.empty()) {
        w.null();
        return;
    }
    w.begin_object();
    w.field("file", r.background_file);
    w.field("loaded", r.background_loaded);
    w.field("used", r.background_used);
    std::string reason = r.background_reason;
    if (reason.empty() && r.background_loaded && !r.background_used && !r.method.empty())
        reason = "the " + r.method + " method does not use a background image";
    w.optional_field("reason", reason);
    w.end_object();
}

void write_fit(JsonWriter& w, const RunRecord& r) {
    w.key("fit");
    const RecordedFit& fit = r.fit;
    if (fit.kind.empty()) {
        w.null();
        return;
    }
    w.begin_object();
    w.field("kind", fit.kind);
    w.field("axis", fit.axis);
    w.field("along", fit.along);
    w.field("radius", fit.radius);
    w.field("phase", fit.phase);
    w.field("sign", fit.sign);
    w.field("axis_coordinate", coordinate_name(fit.axis_is_row));
    w.field("along_coordinate", coordinate_name(!fit.axis_is_row));
    w.field("axis_result_line", fit.axis_line);
    w.field("along_result_line", fit.along_line);
    w.field("model", model_text(fit));
    w.end_object();
}

// The result file's lines as numbers, in the file's order.
void write_result(JsonWriter& w, const std::string& text) {
    w.key("result");
    if (text.empty()) {
        w.null();
        return;
    }
    w.begin_object();
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string key;
        long value = 0;
        if (fields >> key >> value) w.field(key, value);
    }
    w.end_object();
}

// RELIABILITY and PRECENTRING as written, or null without a result.
void write_result_values(JsonWriter& w, const std::string& text, const RunRecord& r) {
    long reliability = 0, precentring = 0;
    bool found_r = false, found_p = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string key;
        long value = 0;
        if (!(fields >> key >> value)) continue;
        if (key == "RELIABILITY") reliability = value, found_r = true;
        if (key == "PRECENTRING") precentring = value, found_p = true;
    }
    w.key("reliability");
    if (found_r)
        w.integer(reliability);
    else
        w.null();
    w.key("precentring");
    if (found_p)
        w.boolean(precentring != 0);
    else
        w.null();
    w.optional_field("precentring_reason", found_p && precentring != 0 ? r.precentring_reason : "");
}

void write_warnings(JsonWriter& w, const RunRecord& r) {
    w.key("warnings");
    w.begin_array();
    for (const RecordedWarning& warning : r.warnings) {
        w.begin_object(true);
        w.field("code", warning.code);
        w.field("text", warning.text);
        w.end_object();
    }
    w.end_array();
}

}  // namespace

std::string status_text(int status) {
    for (const StatusText& s : STATUS_TEXTS)
        if (s.status == status) return s.text;
    return "an analysis stage failed with status " + std::to_string(status);
}

std::string report_json(const ReportInput& in) {
    static const RunRecord no_record;
    const RunRecord& r = in.record != nullptr ? *in.record : no_record;
    JsonWriter w;
    w.begin_object();
    w.field("report_version", REPORT_FORMAT_VERSION);
    write_program(w, in);
    w.field("job_file", in.job_file);
    w.field("result_file", in.result_file);
    w.field("status", in.status);
    w.field("success", in.status == 0);
    std::string message = status_text(in.status);
    if (in.status != 0 && !r.failure.empty()) message += ": " + r.failure;
    w.field("message", message);
    w.optional_field("method", r.method);
    w.optional_field("method_reason", r.method_reason);
    w.field("loop_position", in.loop_position);
    w.key("image_size");
    if (r.width > 0 && r.height > 0) {
        w.begin_object(true);
        w.field("width", r.width);
        w.field("height", r.height);
        w.end_object();
    } else {
        w.null();
    }
    w.optional_field("scale", r.scale == 1 ? "full" : r.scale == 2 ? "half" : "");
    write_images(w, r);
    write_background(w, r);
    write_fit(w, r);
    w.field("loop_width", r.loop_width);
    write_result(w, in.result_text);
    write_result_values(w, in.result_text, r);
    write_warnings(w, r);
    w.end_object();
    return w.text();
}

}  // namespace orva
