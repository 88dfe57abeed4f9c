// The loop record of one canonical image and the loop-shape classes.
//
// Coordinates are canonical-image pixels (pin entering from the bottom): x the
// column, y the row, row 0 at the top.
#pragma once

#include <vector>

namespace orva {

// Shape classes: which share of the object's rows, counted from the loop tip at
// the top, belongs to the loop (shape2percent).
enum ShapeClass {
    NO_OBJECT = 0,
    P100 = 1,
    P080 = 2,
    P060 = 3,
    P050 = 4,
    P040 = 5,
    P035 = 6,
    P030 = 7,
    P025 = 8,
    P020 = 9,
    P015 = 10,
    P010 = 11,
    P005 = 12,
    PIN_ONLY = 13,
    UV_IMAGE = 14,
    UNKNOWN = 15,
};
constexpr int NUM_SHAPE_CLASSES = 16;

// Loop share in percent of each class.
constexpr int shape2percent[NUM_SHAPE_CLASSES] = {0,  100, 80, 60, 50, 40, 35, 30,
                                                  25, 20,  15, 10, 5,  5,  75, 45};
// Printable class names.
constexpr const char* shape_name[NUM_SHAPE_CLASSES] = {
    "NO_OBJECT", "P100", "P080", "P060", "P050",     "P040",     "P035",    "P030",
    "P025",      "P020", "P015", "P010", "P005",     "PIN_ONLY", "UV_IMAGE", "UNKNOWN"};

struct SHAPE_PARAMS {
    int classif = 50;  // nearest prototype 0..49; 50 when not classified
    int type = NO_OBJECT;
    // Outline: top run (first row, left+1 .. right-1), flanks per object row from
    // top to bottom (entry i of left and right share the row), bottom run (last row).
    // Capacities: top and bottom imc.width, left and right imc.height.
    std::vector<unsigned int> x_coord_top, y_coord_top;
    std::vector<unsigned int> x_coord_left, y_coord_left;
    std::vector<unsigned int> x_coord_right, y_coord_right;
    std::vector<unsigned int> x_coord_bottom, y_coord_bottom;
    unsigned int num_coord_top = 0;
    unsigned int num_coord_left = 0;
    unsigned int num_coord_right = 0;  // always equal to num_coord_left
    unsigned int num_coord_bottom = 0;
    unsigned int num_coord_total = 0;  // closed outline: left + bottom + right + top
    unsigned int centre_x = 0, centre_y = 0;  // loop centre
    unsigned int width = 0;                   // mean loop width
    unsigned int box_l = 0, box_r = 0, box_t = 0, box_b = 0;  // loop part's bounding box
};

}  // namespace orva
