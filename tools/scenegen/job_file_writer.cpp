// Builds the job file text for a series (see job_file_writer.h).
#include "job_file_writer.h"

#include <cstdio>

namespace orva::scenegen {

namespace {

std::string format_line(const char* fmt, int value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, value);
    return buf;
}

}  // namespace

std::string job_file_text(const Scene& scene, const JobImages& images, int centre_coord) {
    const SceneOptions& o = scene.opt;
    std::vector<std::string> lines;
    lines.push_back("# rotation series written by scenegen, seed " + std::to_string(o.seed));
    const int n = static_cast<int>(scene.angles.size());
    if (!o.data_lines) lines.push_back(format_line("NUMBER_OF_IMAGES %d", n));
    if (o.loop_position != 0) lines.push_back(format_line("LOOP_POSITION %d", o.loop_position));
    if (o.border) lines.push_back(format_line("BORDER %d", *o.border));
    static const char* const side_keyword[4] = {"BORDER_B %d", "BORDER_T %d", "BORDER_L %d",
                                                "BORDER_R %d"};
    for (int side = 0; side < 4; ++side) {
        if (o.border_side[side]) {
            lines.push_back(format_line(side_keyword[side], *o.border_side[side]));
        } else if (!o.border && o.stripes[side] > 0) {
            // Painted stripes are excluded with a little margin unless told otherwise.
            lines.push_back(format_line(side_keyword[side], o.stripes[side] + 4));
        }
    }
    if (!images.background.empty()) lines.push_back("BACK " + images.background);
    if (o.centre_coord_value)
        lines.push_back(format_line("CENTRE_COORD %d", *o.centre_coord_value));
    else if (o.centre_coord)
        lines.push_back(format_line("CENTRE_COORD %d", centre_coord));
    if (o.prealign) lines.push_back("PREALIGN");
    if (o.vers23) lines.push_back("VERS23");
    if (o.set_cross) lines.push_back("SET_CROSS");
    if (o.logoutx) lines.push_back("LOGOUTX");
    for (const std::string& extra : o.extra_lines) lines.push_back(extra);

    char buf[64];
    if (!o.data_lines) lines.push_back("DATA_START");
    for (int i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%.2f ", scene.angles[i]);
        lines.push_back((o.data_lines ? std::string("DATA ") : std::string()) + buf +
                        images.names[i]);
    }
    lines.push_back("DATA_END");

    std::string text;
    for (const std::string& line : lines) text += line + (o.crlf ? "\r\n" : "\n");
    return text;
}

}  // namespace orva::scenegen
