// Parts of the TELKU detector around the per-grid detection: the sub-sampling
// factor, the contrast stretch and the clustering of all grids' maxima into
// two candidates with figures of merit.
#pragma once

#include <array>
#include <span>

namespace orva {

inline constexpr int CANDIDATES = 2;              // candidates per image
inline constexpr int MAX_SUBS = 9;                // largest sub-sampling factor
inline constexpr int MAX_NUM = MAX_SUBS * 2 - 1;  // largest number of grids

// Grid offsets: grid t samples columns xoff[t] + k * s and rows yoff[t] + k * s.
inline constexpr std::array<int, MAX_NUM> TELKU_XOFF = {0, 0, 1, 0, 2, 0, 3, 0, 4,
                                                        0, 5, 0, 6, 0, 7, 0, 8};
inline constexpr std::array<int, MAX_NUM> TELKU_YOFF = {0, 1, 0, 2, 0, 3, 0, 4, 0,
                                                        5, 0, 6, 0, 7, 0, 8, 0};

// Maxima of all grids, filled densely in grid order (image pixels); flag 1 for
// the highest maximum of its grid, 2 for the second.
struct TelkuCandidates {
    std::array<int, 2 * MAX_NUM> xco{};
    std::array<int, 2 * MAX_NUM> yco{};
    std::array<int, 2 * MAX_NUM> flag{};
    int cnt_all = 0;
};

// Adds grid t's maxima (map coordinates, -1 when absent) as image-pixel
// candidates: none when the highest is not at x, y >= 1; the second only when
// both its coordinates are positive.
void telku_add_grid(TelkuCandidates& cand, int s, int t, int x_coor, int y_coor, int x_coor2,
                    int y_coor2);

// Two candidates (image pixels, -1 when absent) and their merits (0 when absent).
struct TelkuChoice {
    std::array<int, CANDIDATES> xc = {-1, -1};
    std::array<int, CANDIDATES> yc = {-1, -1};
    std::array<float, CANDIDATES> fomx = {0.0f, 0.0f};
    std::array<float, CANDIDATES> fomy = {0.0f, 0.0f};
};

// floor(min(width, height) / 120 + 0.5), limited to 1 .. MAX_SUBS.
int telku_subsampling(unsigned int width, unsigned int height);

// Stretches the levels between the lowest and the highest level that occur
// more than once to 0 .. 255, in place. An image whose only repeated level is
// one single level is left as it is.
void telku_stretch(std::span<unsigned char> cptr);

// Clusters the candidates of num_tests grids (1 .. MAX_NUM) into two; too few
// candidates (at most num_tests + 2) give both absent.
TelkuChoice telku_cluster(const TelkuCandidates& cand, int num_tests, int mean_width,
                          int mean_height);

}  // namespace orva
