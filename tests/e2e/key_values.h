// Reading "KEY value" files (result and truth files) and comparing angles.
#pragma once

#include <cmath>
#include <map>
#include <sstream>
#include <string>

namespace orva::testing {

// Lines "KEY number"; '#' lines and lines without a number are skipped.
inline std::map<std::string, double> key_values(const std::string& text) {
    std::map<std::string, double> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string key;
        double value = 0.0;
        if (fields >> key >> value) values[key] = value;
    }
    return values;
}

// Difference of two angles in degrees, folded into (-180, 180].
inline double angle_difference(double a, double b) {
    double d = std::fmod(a - b, 360.0);
    if (d <= -180.0) d += 360.0;
    if (d > 180.0) d -= 360.0;
    return d;
}

}  // namespace orva::testing
