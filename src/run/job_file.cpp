// Job-file reader: keywords, the image list, angle normalisation and sorting.
//
// Values are read with checked conversions that behave like the formatted reads
// "%d", "%f" and "%s": leading white space is skipped and the conversion stops at
// the first character that does not fit. A value that is missing or cannot be read
// leaves its target unchanged; an integer outside the range of int counts as
// unreadable. A keyword whose value is missing altogether gets a message ("BACK
// needs a file name") and leaves its setting as it was; a list entry or DATA
// line without a file name, and a negative border, are job-file errors.
//
// The file is opened without waiting on a FIFO with no writer (a pipe from the
// caller is fine, a directory or device is not), and reading stops after
// MAX_JOB_READS lines, so that an endless stream cannot hold the run.
//
// Every failure writes its message to standard error and returns 1.
#include "run/job_file.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "orva_defines.h"
#include "run/keyword_hint.h"
#include "toolkit/safe_files.h"

namespace orva {

namespace {

constexpr const char* FIELD_SEPARATORS = " \t\r\n";
constexpr unsigned char CARRIAGE_RETURN = 13;
constexpr unsigned char LINE_FEED = 10;
constexpr int IMAGE_SPECIAL_TOP_STRIP = 2;  // also widens the top border
constexpr int BORDER_T_FOR_SPECIAL_2 = 18;
constexpr int IMAGE_SPECIAL_UV = 3;  // UV-light fluorescence images
constexpr int IMAGE_SPECIAL_SHADOW = 6;
// Far more lines than any job file holds (40 entries and a few keywords).
constexpr int MAX_JOB_READS = 100000;

// Like "%s": skips white space and takes the following run of non-white characters.
std::optional<std::string> scan_string(const char* p) {
    if (p == nullptr) return std::nullopt;
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
    const char* start = p;
    while (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (p == start) return std::nullopt;
    return std::string(start, p);
}

// Like "%d", but a number outside the range of int is refused instead of wrapping.
bool scan_int(const char* p, int& value) {
    if (p == nullptr) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(p, &end, 10);
    if (end == p || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    value = static_cast<int>(v);
    return true;
}

// Like "%f".
bool scan_float(const char* p, float& value) {
    if (p == nullptr) return false;
    char* end = nullptr;
    const float v = std::strtof(p, &end);
    if (end == p) return false;
    value = v;
    return true;
}

bool has_bare_carriage_return(const char* line) {
    const long len = static_cast<long>(std::strlen(line));
    // The first and the last character are not examined, so "\r\n" passes.
    for (long j = 1; j <= len - 2; ++j) {
        if (static_cast<unsigned char>(line[j]) == CARRIAGE_RETURN &&
            static_cast<unsigned char>(line[j - 1]) != LINE_FEED &&
            static_cast<unsigned char>(line[j + 1]) != LINE_FEED)
            return true;
    }
    return false;
}

void report_carriage_return(const char* name, bool in_list) {
    std::fprintf(stderr, "\n\n*************************************************************\n");
    std::fprintf(stderr, " '%s' contains carriage return (ASCII: 13)", name);
    if (in_list)
        std::fprintf(stderr, " without\n additional newline character (ASCII: 10) ");
    else
        std::fprintf(stderr, " without\n\t additional newline character (ASCII: 10) ");
    std::fprintf(stderr, "\n Cannot process this file properly! ");
    std::fprintf(stderr, "\n Please check creation of %s!\n", name);
    std::fprintf(stderr, "*************************************************************\n");
}

enum class Outcome { CONTINUE, END, FAIL };

struct Reader {
    std::FILE* in;
    const char* name;
    JobSettings& job;
    int data_lines = 0;
    int reads = 0;
};

// Reads one line of at most MAX_LEN - 1 characters. On end of file or a read
// error it reports and returns false.
bool read_line(Reader& r, char (&line)[MAX_LEN]) {
    if (++r.reads > MAX_JOB_READS) {
        std::fprintf(stderr, "\n %s has more than %d lines: not a job file\n", r.name,
                     MAX_JOB_READS);
        return false;
    }
    errno = 0;
    if (std::fgets(line, MAX_LEN, r.in) != nullptr) return true;
    std::perror("");
    if (std::feof(r.in)) std::fprintf(stderr, "\n End of file reached!\n");
    return false;
}

// The n-th field (n from 2), or null when the line has fewer fields; the
// n-th field can never start at the line's first character.
const char* value_field(const char* line, int n) {
    const char* p = get_nth_field(line, n);
    return p == line ? nullptr : p;
}

// The line without its line end, for messages.
std::string line_text(const char* line) {
    return std::string(line, std::strcspn(line, "\r\n"));
}

bool name_fits(const Reader& r, const std::string& file) {
    if (file.size() <= static_cast<std::size_t>(MAX_NAME_LEN)) return true;
    std::fprintf(stderr, "\n File name longer than %d characters in %s:\n %s\n", MAX_NAME_LEN,
                 r.name, file.c_str());
    return false;
}

Outcome add_entry(Reader& r, float angle, const std::string& file) {
    if (r.job.images.size() >= static_cast<std::size_t>(MAX_NUMIMG)) {
        std::fprintf(stderr, "\n Too many images in %s: at most %d can be processed\n", r.name,
                     MAX_NUMIMG);
        return Outcome::FAIL;
    }
    if (!name_fits(r, file)) return Outcome::FAIL;
    if (!std::isfinite(angle)) {
        // "nan" and "inf" read as numbers, but no rotation can be computed from them.
        std::fprintf(stderr, "\n The angle of %s in %s is not a finite number\n", file.c_str(),
                     r.name);
        return Outcome::FAIL;
    }
    r.job.images.push_back({normalise_angle(angle), file});
    return Outcome::CONTINUE;
}

// The keyword's number, when the line has one.
std::optional<int> int_value(const char* line, const std::string& keyword) {
    const char* field = value_field(line, 2);
    if (field == nullptr) {
        std::fprintf(stderr, "\n %s needs a number\n", keyword.c_str());
        return std::nullopt;
    }
    int value = 0;
    if (!scan_int(field, value)) return std::nullopt;
    return value;
}

void read_int_value(const char* line, const std::string& keyword, int& target) {
    if (const std::optional<int> value = int_value(line, keyword)) target = *value;
}

// BORDER sets all four borders, BORDER_B, _T, _L and _R one (side >= 0).
Outcome set_border(const char* line, const std::string& keyword, int side, int* border) {
    const std::optional<int> value = int_value(line, keyword);
    if (!value) return Outcome::CONTINUE;
    if (*value < 0) {
        std::fprintf(stderr, "\n %s %d: a border cannot be negative\n", keyword.c_str(), *value);
        return Outcome::FAIL;
    }
    if (side >= 0)
        border[side] = *value;
    else
        for (int i = 0; i < 4; ++i) border[i] = *value;
    return Outcome::CONTINUE;
}

void set_image_special(Reader& r, const char* line) {
    read_int_value(line, "IMAGE_SPECIAL", r.job.image_special);
    if (r.job.image_special == IMAGE_SPECIAL_TOP_STRIP)
        r.job.border[BORDER_TOP] = BORDER_T_FOR_SPECIAL_2;
    // Once marked as UV-light images, the images stay so for the TIFF reader.
    if (r.job.image_special == IMAGE_SPECIAL_UV) r.job.uv_flag = 1;
}

Outcome set_image_count(Reader& r, const char* line, const std::string& keyword) {
    read_int_value(line, keyword, r.job.numimg);
    if (r.job.numimg < 1 || r.job.numimg > MAX_ANNOUNCED) {
        std::fprintf(stderr, "\nNUMBER_OF_IMAGES: value must be in the range of 1...36\n");
        return Outcome::FAIL;
    }
    return Outcome::CONTINUE;
}

Outcome add_data_line(Reader& r, const char* line) {
    const std::optional<std::string> file = scan_string(value_field(line, 3));
    if (!file) {
        std::fprintf(stderr, "\n DATA line without a file name in %s: %s\n", r.name,
                     line_text(line).c_str());
        return Outcome::FAIL;
    }
    float angle = 0.0f;
    scan_float(get_nth_field(line, 2), angle);
    ++r.data_lines;
    return add_entry(r, angle, *file);
}

Outcome set_report(Reader& r, const char* line) {
    const std::optional<std::string> file = scan_string(value_field(line, 2));
    if (!file) {
        // Without a name there is nothing to write to; the setting stays as it was.
        std::fprintf(stderr, "\n REPORT needs a file name\n");
        r.job.warnings.push_back({"report_without_name", "REPORT needs a file name"});
        return Outcome::CONTINUE;
    }
    if (!name_fits(r, *file)) return Outcome::FAIL;
    r.job.report_name = *file;
    return Outcome::CONTINUE;
}

// The unknown-keyword message, with a hint when the word is close to a keyword.
void report_unknown_keyword(Reader& r, const std::string& keyword) {
    std::fprintf(stderr, "\n\n ===> Unknown keyword: %s !", keyword.c_str());
    std::string text = "Unknown keyword: " + keyword;
    if (const char* hint = closest_keyword(keyword)) {
        std::fprintf(stderr, "\n      Did you mean %s?", hint);
        text += std::string(" (did you mean ") + hint + "?)";
    }
    r.job.warnings.push_back({"unknown_keyword", text});
}

Outcome set_background(Reader& r, const char* line) {
    const std::optional<std::string> file = scan_string(value_field(line, 2));
    if (!file) {
        std::fprintf(stderr, "\n BACK needs a file name\n");
        r.job.warnings.push_back({"background_without_name", "BACK needs a file name"});
        return Outcome::CONTINUE;
    }
    if (!name_fits(r, *file)) return Outcome::FAIL;
    r.job.back_name = *file;
    r.job.background_flag = 1;
    return Outcome::CONTINUE;
}

// The list after DATA_START: as many lines as announced at this moment.
Outcome read_image_list(Reader& r) {
    const int announced = r.job.numimg;
    char line[MAX_LEN];
    for (int i = 0; i < announced; ++i) {
        if (!read_line(r, line)) return Outcome::FAIL;
        if (has_bare_carriage_return(line)) {
            report_carriage_return(r.name, true);
            return Outcome::FAIL;
        }
        const std::optional<std::string> first = scan_string(get_nth_field(line, 1));
        if (!first) {
            // An entry without any field would have no file name.
            std::fprintf(stderr, "\n Blank line in the image list of %s (entry %d)\n", r.name,
                         i + 1);
            return Outcome::FAIL;
        }
        if (*first == "DATA_END") {
            std::fprintf(stderr, "\n ====================================");
            std::fprintf(stderr, "\n Wrong value for NUM_IMG keyword (%d)", announced);
            std::fprintf(stderr, "\n Only %d images in data file", i);
            std::fprintf(stderr, "\n ====================================\n");
            r.job.warnings.push_back({"short_image_list", "Wrong value for NUM_IMG keyword (" +
                                                              std::to_string(announced) +
                                                              "): only " + std::to_string(i) +
                                                              " images in data file"});
            r.job.numimg = i;
            return Outcome::END;
        }
        const std::optional<std::string> file = scan_string(value_field(line, 2));
        if (!file) {
            std::fprintf(stderr, "\n Entry %d of the image list of %s has no file name: %s\n",
                         i + 1, r.name, line_text(line).c_str());
            return Outcome::FAIL;
        }
        const float angle = static_cast<float>(std::strtod(line, nullptr));
        if (add_entry(r, angle, *file) == Outcome::FAIL) return Outcome::FAIL;
    }
    return Outcome::CONTINUE;
}

// Keywords are compared exactly, in this order; the first match acts.
Outcome act_on_line(Reader& r, const char* line) {
    JobSettings& job = r.job;
    const std::string keyword = scan_string(get_nth_field(line, 1)).value_or("");
    if (keyword == "SET_CROSS")
        job.set_cross_flag = 1;
    else if (keyword == "LOGOUTX")
        job.logout_flag = 1;
    else if (keyword == "BORDER")
        return set_border(line, keyword, -1, job.border);
    else if (keyword == "BORDER_L")
        return set_border(line, keyword, BORDER_LEFT, job.border);
    else if (keyword == "BORDER_R")
        return set_border(line, keyword, BORDER_RIGHT, job.border);
    else if (keyword == "BORDER_B")
        return set_border(line, keyword, BORDER_BOTTOM, job.border);
    else if (keyword == "BORDER_T")
        return set_border(line, keyword, BORDER_TOP, job.border);
    else if (keyword == "IMAGE_SPECIAL")
        set_image_special(r, line);
    else if (keyword == "LOOP_TYPE")
        read_int_value(line, keyword, job.loop_type);
    else if (keyword == "SHADOW")
        job.image_special = IMAGE_SPECIAL_SHADOW;
    else if (keyword == "PREALIGN")
        job.prealignment_flag = 1;
    else if (keyword == "VERS23")
        job.vers23_flag = 1;
    else if (keyword == "TRACK")
        job.track_flag = 1;
    else if (keyword == "LOOP_POS" || keyword == "LOOP_POSITION")
        read_int_value(line, keyword, job.loop_pos);
    else if (keyword == "CENTRE_COORD")
        read_int_value(line, keyword, job.centre_coord);
    else if (keyword == "NUMBER_OF_IMAGES" || keyword == "NUM_IMG")
        return set_image_count(r, line, keyword);
    else if (keyword == "DATA")
        return add_data_line(r, line);
    else if (keyword == "BACK")
        return set_background(r, line);
    else if (keyword == "DATA_START")
        return read_image_list(r);
    else if (keyword == "DATA_END")
        return Outcome::END;
    else if (keyword == "REPORT")
        return set_report(r, line);
    else
        report_unknown_keyword(r, keyword);
    return Outcome::CONTINUE;
}

// The entries to load: with DATA lines every entry read, else as many as announced
// (never more than were listed, so no entry is left without a name).
void settle_image_count(Reader& r) {
    JobSettings& job = r.job;
    if (r.data_lines == 0 && job.images.size() > static_cast<std::size_t>(job.numimg))
        job.images.resize(static_cast<std::size_t>(job.numimg));
    job.numimg = static_cast<int>(job.images.size());
}

}  // namespace

const char* get_nth_field(const char* line, int n) {
    if (line == nullptr) return nullptr;
    const char* p = line;
    for (int field = 1;; ++field) {
        p += std::strspn(p, FIELD_SEPARATORS);
        if (*p == '\0') return line;
        if (field == n) return p;
        p += std::strcspn(p, FIELD_SEPARATORS);
    }
}

int blank_line(const char* line) {
    if (line == nullptr) return 1;
    for (const char* p = line; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 33 && c <= 127) return 0;
    }
    return 1;
}

float normalise_angle(float angle) {
    return angle < 0.0f ? angle + 360.0f : angle;
}

void sort_by_angle(std::vector<ImageEntry>& images) {
    const std::size_t n = images.size();
    for (std::size_t pass = 1; pass < n; ++pass)
        for (std::size_t j = 0; j + pass < n; ++j)
            if (images[j + 1].angle < images[j].angle) std::swap(images[j], images[j + 1]);
}

int read_job_stream(std::FILE* in, const char* name, JobSettings& job) {
    Reader r{in, name, job};
    char line[MAX_LEN];
    for (;;) {
        if (!read_line(r, line)) return JOB_FILE_ERROR;
        if (has_bare_carriage_return(line)) {
            report_carriage_return(name, false);
            return JOB_FILE_ERROR;
        }
        if (line[0] == '#' || blank_line(line)) continue;
        const Outcome outcome = act_on_line(r, line);
        if (outcome == Outcome::FAIL) return JOB_FILE_ERROR;
        if (outcome == Outcome::END) break;
    }
    settle_image_count(r);
    sort_by_angle(job.images);
    return 0;
}

int read_job_file(const char* name, JobSettings& job) {
    std::string reason;
    std::FILE* in = open_input_stream(name, true, reason);
    if (in == nullptr) {
        const bool refused = errno == EISDIR || errno == EINVAL;
        std::fprintf(stderr, "\n*************************************************************\n");
        std::fprintf(stderr, "Cannot open %s \n", name);
        if (refused)
            std::fprintf(stderr, "%s, not a job file\n", reason.c_str());
        else
            std::perror("");
        std::fprintf(stderr, "*************************************************************\n");
        return JOB_FILE_ERROR;
    }
    job.job_file = name;
    const int status = read_job_stream(in, name, job);
    std::fclose(in);
    return status;
}

}  // namespace orva
