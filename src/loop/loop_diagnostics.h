// Diagnostic files of the loop extraction, for inspection only: a colour
// picture of each final object mask, the left and right object edges of every
// 10-row band, and the convex hull of the edge points.
//
// Every file is first written to a private temporary file (mkstemp) in the
// target directory and then renamed over its final name, so a planted
// symbolic link or a file of another user is replaced or left alone, never
// written through. A missing directory or any failure skips the file
// silently; nothing here can fail the analysis.
// Picture coordinates: the mask picture is W x H; the band and hull pictures
// are H wide and W high, a point (row, column) at x = row, y = column.
#pragma once

#include <span>
#include <string>

#include "types.h"

namespace orva {

constexpr const char* DIAGNOSTIC_DIR = "/dev/shm";
constexpr const char* DIAGNOSTIC_DIR_VARIABLE = "ORVA_DIAG_DIR";
constexpr int DIAGNOSTIC_JPEG_QUALITY = 100;
constexpr int BAND_ROWS = 10;
constexpr int MIN_BAND_SPREAD = 5;  // narrower band pairs are written as (0, 0)

// Per-run call counters, one per numbered file name.
struct DiagnosticCounters {
    int yvalues_txt = 0;
    int yvalues_jpg = 0;
    int hull_txt = 0;
    int hull_jpg = 0;
};

// The folder for the diagnostic files: ORVA_DIAG_DIR when it is set (an
// empty value turns the files off and gives ""), else DIAGNOSTIC_DIR.
std::string diagnostic_dir();

// Writes content to dir/name through a private temporary file; false when
// the file could not be written (it is then left as it was).
bool write_file_privately(const std::string& dir, const std::string& name,
                          const std::string& content);

// Writes an RGB picture (width x height x 3 bytes) as JPEG to dir/name the
// same way.
bool write_jpeg_privately(const std::string& dir, const std::string& name, int width, int height,
                          std::span<const unsigned char> rgb);

// The diagnostic files of image `index`: "diffmask_%02d.jpg",
// "masks2_yvalues_%d.txt", "masks2_max.txt", "masks2_yvalues_%d.jpg",
// "masks2_hull_%d.txt" and "masks2_hull_%d.jpg" in dir.
void write_loop_diagnostics(const std::string& dir, const IMAGE& imc,
                            std::span<const unsigned char> mask, int index,
                            DiagnosticCounters& counters);

}  // namespace orva
