// Banner, usage and help texts, and the choice between them from the arguments.
#include "run/command_line.h"

#include <cstdio>
#include <cstring>

namespace orva {

namespace {

constexpr const char* BUILD_ID = __DATE__ " " __TIME__;
constexpr const char* STAR_LINE_A = "\n***************************************";
constexpr const char* STAR_LINE_B = "*******************";

void write_frame_line() {
    std::fprintf(stderr, "\n#=======================================");
    std::fprintf(stderr, "=============================#");
}

// argv[0] can be missing when the program is started without any argument vector.
const char* program_name(int argc, char** argv) {
    return argc > 0 && argv[0] != nullptr ? argv[0] : "orva";
}

const char* const HELP_LINES[] = {
    "NUMBER_OF_IMAGES  <number> (compulsory)\n",
    "\t\t Specifies the number of images to be processed.\n",
    "DATA_START  (compulsory)\n",
    "\t\t Opens an input list containing rotation angles\n",
    "\t\t and corresponding filenames of the images.\n",
    "DATA_END  (compulsory)\n",
    "\t\t  Closes the input list.\n",
    "\n",
    "LOOP_POSITION <number> (optional)\n",
    "\t\tIndicates the position of the loop\n",
    "\t\t\t 0 - from the bottom (default), \n",
    "\t\t\t 1 - from the top, \n",
    "\t\t\t 2 - from the left, \n",
    "\t\t\t 3 - from the right, \n",
    "IMAGE_SPECIAL <number> (optional)\n",
    "\t\t This defines some special cases,\n",
    "\t\t e.g. black markers to be masked out by ORVA\n",
    "\t\t\t 0 - nothing special (default)\n",
    "\t\t\t 1 - MAR dtb images\n",
    "\t\t\t 2 - not used\n",
    "\t\t\t 3 - UV-light fluorescence images\n",
    "\t\t\t 4 - Find tip of loop object\n",
    "\t\t\t 5 - remove crosshairs\n",
    "BORDER <number> (optional)\n",
    "\t\t number of columns to be excluded at all borders\n",
    "\t\t This may be necessary in cases when there are\n",
    "\t\t black stripes at the borders. Default is 4.\n",
    "BORDER_L <number> (optional)\n",
    "\t\t number of columns to be excluded at left border.\n",
    "BORDER_R <number> (optional)\n",
    "\t\t number of columns to be excluded at right border.\n",
    "BORDER_B <number> (optional)\n",
    "\t\t number of columns to be excluded at bottom border.\n",
    "BORDER_T <number> (optional)\n",
    "\t\t number of columns to be excluded at top border.\n",
    "BACK  <string> (optional)\n",
    "\t\t Specifies the background image.\n",
    "\t\t Can speed up the pre-alignment and centring procedure.\n",
    "CENTRE_COORD <number> (optional)\n",
    "\t\t specifies the centre of circular movement in pixels\n",
    "\t\t increases the ratio of observations to parameters\n",
    "PREALIGN  (optional)\n",
    "\t\t enables a quick pre-alignment of the loop\n",
    "SET_CROSS (optional)\n",
    "\t\t This keyword is for testing purposes.\n",
    "\t\t It enables the output of images with a red cross indicating\n",
    "\t\t the position the crystal centre as calculated by ORVA.\n",
    "VERS23  (optional)\n",
    "\t\t enables old version 2.3 for crystal centring\n",
    "SHADOW (in combintion with VERS23 only)\n",
    "\t\t This keyword is for the cases when a shadow \n",
    "\t\t (e.g. from a cryo head) comes into the field of view \n",
};

}  // namespace

const char* build_id() {
    return BUILD_ID;
}

bool is_version_request(int argc, char** argv) {
    return argc == 2 && argv[1] != nullptr && std::strcmp(argv[1], "--version") == 0;
}

void write_version() {
    std::printf("orva %.1f (built %s)\n", VERSION_NUMBER, BUILD_ID);
}

void write_banner() {
    write_frame_line();
    std::fprintf(stderr, "\n#%28s ORVA %.1f  ", " ", VERSION_NUMBER);
    std::fprintf(stderr, "%29s#", " ");
    write_frame_line();
    std::fprintf(stderr, "\n# sub-version: %s %32s#", BUILD_ID, " ");
    write_frame_line();
}

void write_usage(const char* prog) {
    std::fprintf(stderr, "%s%s", STAR_LINE_A, STAR_LINE_B);
    std::fprintf(stderr, "\nUsage : %s data_file_name result_file_name", prog);
    std::fprintf(stderr, "%s%s", STAR_LINE_A, STAR_LINE_B);
    std::fprintf(stderr, "\n%s -help\n", prog);
}

void write_help(const char* prog) {
    std::fprintf(stderr, "%s%s", STAR_LINE_A, STAR_LINE_B);
    std::fprintf(stderr, "\nUsage : %s data_file_name result_file_name", prog);
    std::fprintf(stderr, "%s%s\n\n", STAR_LINE_A, STAR_LINE_B);
    for (const char* text : HELP_LINES) std::fputs(text, stderr);
}

int check_command_line(int argc, char** argv) {
    const char* prog = program_name(argc, argv);
    if (argc < 2) {
        write_usage(prog);
        return USAGE_ERROR;
    }
    const bool help = std::strcmp(argv[1], "-help") == 0;
    if (argc == 2 && !help) {
        write_usage(prog);
        return USAGE_ERROR;
    }
    if (help) {
        write_help(prog);
        return USAGE_ERROR;
    }
    return 0;
}

}  // namespace orva
