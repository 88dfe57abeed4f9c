// Run parameters handed from the job file to the analysis drivers, and the
// eight result values they hand back.
#pragma once

#include <vector>

#include "types.h"

namespace orva {

constexpr int MAX_NUMIMG = 40;  // capacity of the image list

struct RunRecord;  // run_record.h

// Indices into ORVAPARAMS::border.
enum BorderSide { BORDER_BOTTOM = 0, BORDER_TOP = 1, BORDER_LEFT = 2, BORDER_RIGHT = 3 };

struct ORVAPARAMS {
    int num_images = 0;                 // images actually loaded
    std::vector<ByteBuffer> image_ptr;  // the driver's own pre-processed images
    ByteBuffer back_ptr;                // background image (background_flag 1)
    int width = 1;                      // pixels
    int height = 1;                     // pixels
    std::vector<float> angle;           // degrees, one per loaded image, ascending
    int border[4] = {4, 4, 4, 4};       // bottom, top, left, right
    int set_cross_flag = 0;
    int image_special = 0;     // 0..6
    int loop_pos = 0;          // 0 bottom, 1 top, 2 left, 3 right
    int centre_coord = -1;     // known axis position in input pixels, -1 unknown
    int loop_type = 0;
    int prealignment_flag = 0;
    int background_flag = 0;
    int vers23_flag = 0;
    int reserved = 0;          // switches: LOGOUT_SWITCH
    RunRecord* record = nullptr;  // filled for the report when set
    int track_flag = 0;           // TRACK: find the crystal as the object moving through the series
};

// Bit of ORVAPARAMS::reserved set by LOGOUTX: write the run log and the
// figures file.
constexpr int LOGOUT_SWITCH = 1;
inline bool logout_requested(const ORVAPARAMS& xp) {
    return (xp.reserved & LOGOUT_SWITCH) != 0;
}

struct ORVARESULT {
    int x_centre = 0;      // axis position across the spindle, input pixels
    int y_centre = 0;      // crystal position along the spindle, input pixels
    int radius = 0;        // pixels
    int phi = 0;           // degrees, angle of largest excursion
    int loop_width = 0;    // pixels
    int right_border = 0;  // pixels
    int reliability = 0;   // percent, -1 when unknown
    int precentring_flag = 0;
};

}  // namespace orva
