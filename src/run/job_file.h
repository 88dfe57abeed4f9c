// The job file: keyword lines and the list of images with their rotation angles.
//
// A job file is read line by line (at most MAX_LEN - 1 characters per read, a
// longer line is read as several lines). Lines starting with "#" and lines
// without a printable character are skipped; the first field of every other line
// is a keyword, its value the second field. The image list is given either
// between DATA_START and DATA_END (one "angle name" line per image, the count
// announced by NUMBER_OF_IMAGES) or as DATA lines. Angles are degrees; a
// negative angle has 360 added once. After reading, the list is sorted by
// ascending angle, equal angles keeping their order.
//
// read_job_file returns 0, or 1 after its message on standard error.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "run_record.h"

namespace orva {

constexpr int MAX_LEN = 1024;      // line buffer: a read takes at most MAX_LEN - 1 characters
constexpr int MAX_NAME_LEN = 499;  // longest image file name
constexpr int MAX_ANNOUNCED = 36;  // largest NUMBER_OF_IMAGES value
constexpr int JOB_FILE_ERROR = 1;  // status of every job-file failure

struct ImageEntry {
    float angle = 0.0f;  // degrees
    std::string name;
};

// Everything the job file sets, with its defaults.
struct JobSettings {
    int border[4] = {4, 4, 4, 4};  // bottom, top, left, right
    int set_cross_flag = 0;
    int image_special = 0;
    int uv_flag = 0;  // IMAGE_SPECIAL 3: UV-light images, passed to the TIFF reader
    int loop_pos = 0;
    int centre_coord = -1;
    int loop_type = 0;
    int prealignment_flag = 0;
    int background_flag = 0;
    int vers23_flag = 0;
    int logout_flag = 0;             // LOGOUTX
    int numimg = 0;                  // announced count, or the number of DATA lines
    std::vector<ImageEntry> images;  // the entries to load, in ascending angle after reading
    std::string back_name;           // background image (background_flag 1)
    // For the report: its file (REPORT, empty for none), the job file's own
    // name (for hints about image names) and the job file's warnings.
    std::string report_name;
    std::string job_file;
    std::vector<RecordedWarning> warnings;
    int track_flag = 0;  // TRACK
};

// First character of the n-th field of `line` (n from 1), fields being separated by
// runs of space, tab, carriage return and line feed; `line` itself when there are
// fewer than n fields; null for a null line.
const char* get_nth_field(const char* line, int n);

// 1 when the line holds no byte in the range 33 to 127, else 0.
int blank_line(const char* line);

// Adds 360 once to a negative angle.
float normalise_angle(float angle);

// Stable exchange sort by ascending angle; names move with their angles.
void sort_by_angle(std::vector<ImageEntry>& images);

// Reads the job file `name` into `job`. Returns 0, or 1 after a message.
int read_job_file(const char* name, JobSettings& job);

// The same from an open stream; `name` is used in messages only.
int read_job_stream(std::FILE* in, const char* name, JobSettings& job);

}  // namespace orva
