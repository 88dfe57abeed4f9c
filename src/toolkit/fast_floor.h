// floor() for the pixel loops, without the library call the compiler emits
// for std::floor on this target.
//
// floor_to_long(v) is static_cast<long>(std::floor(v)) for every v with
// |v| < 2^62: the truncation toward zero, one less for a negative value that
// is not an integer (from 2^52 on every double is an integer, so nothing is
// adjusted there). floor_to_byte(v) is std::floor(v) limited to 0 .. 255
// (NaN is not allowed).
#pragma once

namespace orva {

inline long floor_to_long(double v) {
    const long t = static_cast<long>(v);
    return static_cast<double>(t) > v ? t - 1 : t;
}

inline unsigned char floor_to_byte(double v) {
    if (v < 0.0) return 0;                 // floor(v) <= -1
    if (v >= 255.0) return 255;            // floor(v) >= 255
    return static_cast<unsigned char>(v);  // 0 <= v < 255 (or -0): truncation is floor
}

}  // namespace orva
