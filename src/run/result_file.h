// The result file, the progress marker file and the closing line of a run.
//
// The result file holds eight "KEYWORD<tab>value" lines. It is replaced as a
// whole: the text goes to a new file beside it, which is then renamed over the
// old one, so a reader never sees a half-written file and a failed write leaves
// the old file as it was. The marker file "Orva_check.txt" in the working
// directory holds "0" while a run is under way and "1" once it has ended.
#pragma once

#include <string>

#include "orva_defines.h"

namespace orva {

constexpr const char* MARKER_FILE = "Orva_check.txt";
constexpr const char* MARKER_STARTED = "0";
constexpr const char* MARKER_ENDED = "1";
constexpr int RESULT_WRITE_ERROR = 15;  // the result file could not be written

// The text of the result file. Angles from 360 on or below -360 give the zero
// variant, whose spacing differs from the normal one.
std::string format_result(const ORVARESULT& result);

// Writes the result file. Returns 0, or RESULT_WRITE_ERROR after a message.
int write_result_file(const char* name, const ORVARESULT& result);

// Replaces the marker file's content by `content` (no line end). A failure is
// reported and otherwise ignored; returns 0 or 1.
int write_marker(const char* content);

// End of a run: the result file when `status` is 0, the marker "1" and the
// closing line. Returns the exit status (RESULT_WRITE_ERROR when the result file
// could not be written).
int finish_run(int status, const char* result_name, const ORVARESULT& result);

}  // namespace orva
