// TELKU crystal detector: the grid loop, the contrast stretch and the
// clustering of the grids' maxima into two candidates.
//
// Method: the image is contrast-stretched, then `detection` runs on 2 s - 1
// grids shifted by whole pixels (s = sub-sampling factor). Every grid gives up
// to two maxima; when there are more than num_tests + 2 of them they are
// clustered (a histogram of pairwise distances first decides which candidates
// are dense enough, then two seeds grow by nearest neighbour) and the cluster
// means are the two candidates. A cluster's merit per axis is high when its
// members agree (small spread against the object thickness) and when many
// grids contributed (scale (num_tests + count) / (2 num_tests)).
// Conventions: x column, y row, image pixels; merits in single precision.
// Degenerate input: too few maxima give both candidates absent (-1, merit 0);
// an empty cluster 2 gives the second candidate absent.
#include "v23/telku.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include "toolkit/heap_sort.h"
#include "v23/telku_clusters.h"
#include "v23/telku_detection.h"

namespace orva {
namespace {

constexpr int HIST_BINS = 10;
constexpr double NO_DISTANCE = 999999.0;

struct Cluster {
    std::vector<int> members;  // slot numbers
    double xmean = 0.0;
    double ymean = 0.0;
    double xvar = 0.0;
    double yvar = 0.0;
    float fomx = 0.0f;
    float fomy = 0.0f;
    int count_flag1 = 0;
    int count_flag2 = 0;
};

double squared_distance(const TelkuCandidates& c, int i, int j) {
    const double dx = c.xco[i] - c.xco[j];
    const double dy = c.yco[i] - c.yco[j];
    return dx * dx + dy * dy;
}

// Nearest-neighbour growth of two clusters from the farthest candidates.
void two_seed_clustering(const TelkuCandidates& c, int num_slots, std::vector<bool>& remaining,
                         double xmean_all, double ymean_all, Cluster& c1, Cluster& c2) {
    const int n = c.cnt_all;
    std::vector<double> dist(static_cast<std::size_t>(num_slots), 0.0);
    std::vector<unsigned long> pos(static_cast<std::size_t>(num_slots), 0);
    for (int i = 0; i < n; ++i)
        if (remaining[i]) {
            const double dx = c.xco[i] - xmean_all;
            const double dy = c.yco[i] - ymean_all;
            dist[i] = dx * dx + dy * dy;
        }
    heap_sort_d(static_cast<unsigned long>(num_slots), dist, pos);
    // The last entry of the sort; when that is an empty slot (every remaining
    // candidate sits on the mean) the last remaining one before it.
    int seed1 = -1;
    for (int k = num_slots - 1; k >= 0 && seed1 < 0; --k) {
        const int slot = static_cast<int>(pos[k]);
        if (slot < n && remaining[slot]) seed1 = slot;
    }
    if (seed1 < 0) return;
    c1.members.push_back(seed1);
    remaining[seed1] = false;

    int seed2 = -1;
    double far = 0.0;
    for (int i = 0; i < n; ++i)
        if (remaining[i] && squared_distance(c, i, seed1) > far) {
            far = squared_distance(c, i, seed1);
            seed2 = i;
        }
    if (seed2 >= 0) {
        c2.members.push_back(seed2);
        remaining[seed2] = false;
    }

    for (;;) {
        double best = NO_DISTANCE;
        int chosen = -1;
        Cluster* target = nullptr;
        bool left = false;
        for (int i = 0; i < n; ++i) {
            if (!remaining[i]) continue;
            left = true;
            for (Cluster* cl : {&c1, &c2})
                for (int m : cl->members) {
                    const double d = squared_distance(c, i, m);
                    if (d < best) {
                        best = d;
                        chosen = i;
                        target = cl;
                    }
                }
        }
        if (!left) return;
        if (chosen < 0) {
            // Nothing near either cluster: the rest stays unassigned.
            std::fprintf(stderr, "\n\n Something wrong!, selected cluster = 0");
            return;
        }
        target->members.push_back(chosen);
        remaining[chosen] = false;
    }
}

void cluster_statistics(const TelkuCandidates& c, Cluster& cl) {
    if (cl.members.empty()) return;
    double sx = 0.0, sy = 0.0, sxx = 0.0, syy = 0.0;
    for (int m : cl.members) {
        sx += c.xco[m];
        sy += c.yco[m];
        sxx += static_cast<double>(c.xco[m]) * c.xco[m];
        syy += static_cast<double>(c.yco[m]) * c.yco[m];
        if (c.flag[m] == 1) ++cl.count_flag1;
        if (c.flag[m] == 2) ++cl.count_flag2;
    }
    const double cnt = static_cast<double>(cl.members.size());
    cl.xmean = sx / cnt;
    cl.ymean = sy / cnt;
    // Rounding can leave a tiny negative variance for coinciding members.
    cl.xvar = std::max(0.0, sxx / cnt - cl.xmean * cl.xmean);
    cl.yvar = std::max(0.0, syy / cnt - cl.ymean * cl.ymean);
}

float merit(int j, float scale, double variance) {
    const float fj = static_cast<float>(j);
    const float denominator = std::sqrt(static_cast<float>(variance)) + fj;
    return denominator > 0.0f ? fj * scale / denominator : 0.0f;
}

void cluster_merits(Cluster& cl, int num_tests, int j) {
    const int num_tests_2 = 2 * num_tests;
    const int votes = cl.count_flag2 < cl.count_flag1 ? cl.count_flag1 : cl.count_flag2;
    const float scale = static_cast<float>(num_tests + votes) / static_cast<float>(num_tests_2);
    cl.fomx = merit(j, scale, cl.xvar);
    cl.fomy = merit(j, scale, cl.yvar);
}

int round_half_up(double v) {
    return static_cast<int>(std::floor(v + 0.5));
}

// Mean position of the first n candidates.
void candidate_mean(const TelkuCandidates& c, int n, double& xmean, double& ymean) {
    xmean = 0.0;
    ymean = 0.0;
    for (int i = 0; i < n; ++i) {
        xmean += c.xco[i];
        ymean += c.yco[i];
    }
    xmean /= n;
    ymean /= n;
}

// Per candidate, how many candidates lie at each distance (whole pixels) in
// ninths of the largest distance between any two.
using DistanceHistogram = std::array<unsigned char, HIST_BINS>;

std::vector<DistanceHistogram> distance_histograms(const TelkuCandidates& c, int n) {
    std::vector<int> idist(static_cast<std::size_t>(n) * n, 0);
    int max_dist = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const int d = static_cast<int>(std::sqrt(squared_distance(c, i, j)));
            idist[static_cast<std::size_t>(i) * n + j] = d;
            max_dist = std::max(max_dist, d);
        }
    std::vector<DistanceHistogram> hist(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        hist[i].fill(0);
        for (int j = 0; j < n; ++j) {
            const int k =
                max_dist > 0 ? idist[static_cast<std::size_t>(i) * n + j] * 9 / max_dist : 0;
            ++hist[i][k];
        }
    }
    return hist;
}

// The first bins of the histograms: how many hold exactly num_tests, their
// largest count and the next smaller one.
struct FirstBins {
    int num_9 = 0;
    int max_val = 0;
    int max_val2 = 0;
};

FirstBins first_bins(const std::vector<DistanceHistogram>& hist, int num_tests) {
    FirstBins f;
    for (const DistanceHistogram& h : hist) {
        const int h0 = h[0];
        if (h0 == num_tests) ++f.num_9;
        if (h0 > f.max_val) {
            f.max_val2 = f.max_val;
            f.max_val = h0;
        } else if (h0 != f.max_val && h0 > f.max_val2) {
            f.max_val2 = h0;
        }
    }
    return f;
}

// Exactly num_tests candidates agree closely: those with the densest first
// bin are cluster 1; those with the next densest, and the same second bin as
// the first of them, cluster 2.
void dense_clusters(const std::vector<DistanceHistogram>& hist, const FirstBins& first, Cluster& c1,
                    Cluster& c2) {
    int num_2nd_bin = -1;
    for (int i = 0; i < static_cast<int>(hist.size()); ++i) {
        if (hist[i][0] == first.max_val) c1.members.push_back(i);
        if (hist[i][0] == first.max_val2) {
            if (num_2nd_bin < 0) num_2nd_bin = hist[i][1];
            if (hist[i][1] == num_2nd_bin) c2.members.push_back(i);
        }
    }
}

// The first-bin count a candidate needs to take part in the two-seed growth.
int least_first_bin(const FirstBins& first, int num_tests) {
    if (first.num_9 == 2 * num_tests) return 0;
    if (first.num_9 > num_tests) return (2 * num_tests) / 3;
    return (2 * first.max_val) / 3;
}

TelkuChoice choice_of(const Cluster& c1, const Cluster& c2) {
    TelkuChoice out;
    out.xc[0] = round_half_up(c1.xmean);
    out.yc[0] = round_half_up(c1.ymean);
    out.fomx[0] = c1.fomx;
    out.fomy[0] = c1.fomy;
    if (!c2.members.empty()) {
        out.xc[1] = round_half_up(c2.xmean);
        out.yc[1] = round_half_up(c2.ymean);
        out.fomx[1] = c2.fomx;
        out.fomy[1] = c2.fomy;
    }
    return out;
}

}  // namespace

void TelkuContext::set_image(int q) {
    std::snprintf(base_name, sizeof base_name, "telku%d", q);
}

int telku_subsampling(unsigned int width, unsigned int height) {
    const int s = static_cast<int>(std::floor(std::min(width, height) / 120.0 + 0.5));
    return std::clamp(s, 1, MAX_SUBS);
}

void telku_stretch(std::span<unsigned char> cptr) {
    long hist[256] = {};
    for (unsigned char v : cptr) ++hist[v];
    int min_val = 0;
    for (int v = 0; v < 256; ++v)
        if (hist[v] > 1) {
            min_val = v;
            break;
        }
    int max_val = 1;
    for (int v = 255; v >= 1; --v)
        if (hist[v] > 1) {
            max_val = v;
            break;
        }
    if (max_val <= min_val) return;  // one repeated level: nothing to stretch
    const double scale = 255.0 / (max_val - min_val);
    std::array<unsigned char, 256> stretched;  // the new value of each level
    for (int level = 0; level < 256; ++level) {
        double v = (level - min_val) * scale;
        v = std::clamp(v, 0.0, 255.0);
        stretched[level] = static_cast<unsigned char>(v);
    }
    for (unsigned char& p : cptr) p = stretched[p];
}

void telku_add_grid(TelkuCandidates& cand, int s, int t, int x_coor, int y_coor, int x_coor2,
                    int y_coor2) {
    if (t < 0 || t >= MAX_NUM || x_coor < 1 || y_coor < 1) return;
    int& k = cand.cnt_all;
    if (k >= 2 * MAX_NUM) return;
    cand.xco[k] = x_coor * s + TELKU_XOFF[t];
    cand.yco[k] = y_coor * s + TELKU_YOFF[t];
    cand.flag[k] = 1;
    ++k;
    if (x_coor2 > 0 && y_coor2 > 0 && k < 2 * MAX_NUM) {
        cand.xco[k] = x_coor2 * s + TELKU_XOFF[t];
        cand.yco[k] = y_coor2 * s + TELKU_YOFF[t];
        cand.flag[k] = 2;
        ++k;
    }
}

TelkuChoice telku_cluster(const TelkuCandidates& c, int num_tests, int mean_width,
                          int mean_height) {
    if (num_tests < 1 || num_tests > MAX_NUM) return TelkuChoice{};
    const int num_tests_2 = 2 * num_tests;
    const int n = std::min(c.cnt_all, num_tests_2);
    if (n <= num_tests + 2) return TelkuChoice{};

    const std::vector<DistanceHistogram> hist = distance_histograms(c, n);
    const FirstBins first = first_bins(hist, num_tests);
    Cluster c1;
    Cluster c2;
    if (first.num_9 == num_tests) {
        dense_clusters(hist, first, c1, c2);
    } else {
        const int min_h0 = least_first_bin(first, num_tests);
        std::vector<bool> remaining(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) remaining[i] = hist[i][0] >= min_h0;
        double xmean_all = 0.0;
        double ymean_all = 0.0;
        candidate_mean(c, n, xmean_all, ymean_all);
        two_seed_clustering(c, num_tests_2, remaining, xmean_all, ymean_all, c1, c2);
    }

    cluster_statistics(c, c1);
    cluster_statistics(c, c2);
    const int j = std::min(mean_width, mean_height);
    cluster_merits(c1, num_tests, j);
    if (!c2.members.empty()) cluster_merits(c2, num_tests, j);
    // The cluster made of more second maxima is the weaker one.
    if (!c2.members.empty() && c1.count_flag1 < c1.count_flag2) std::swap(c1, c2);
    return choice_of(c1, c2);
}

int telku(std::span<unsigned char> cptr, IMAGE& im, std::FILE* logfile, int* xc, int* yc,
          float* fomx, float* fomy, int* owidth, int* oheight, int* oarea) {
    if (!xc || !yc || !fomx || !fomy || !owidth || !oheight || !oarea) return 0;
    for (int k = 0; k < CANDIDATES; ++k) {
        xc[k] = yc[k] = -1;
        fomx[k] = fomy[k] = 0.0f;
    }
    *owidth = *oheight = *oarea = 0;
    im.size = static_cast<unsigned long>(im.width) * im.height;
    if (cptr.size() < im.size || im.size == 0) return 0;

    const int s = telku_subsampling(im.width, im.height);
    telku_stretch(cptr.first(im.size));

    const int num_tests = 2 * s - 1;
    TelkuCandidates cand;
    std::array<int, MAX_NUM> area{};
    long width_sum = 0;
    long height_sum = 0;
    for (int t = 0; t < num_tests; ++t) {
        cand.flag[2 * t] = 0;
        cand.flag[2 * t + 1] = 0;
        std::array<int, 3> box{};
        int x1 = -1, y1 = -1, x2 = -1, y2 = -1;
        const int err =
            detection(im, cptr, s, TELKU_XOFF[t], TELKU_YOFF[t], box, x1, y1, x2, y2, logfile);
        if (err != 0) return 0;
        telku_add_grid(cand, s, t, x1, y1, x2, y2);
        height_sum += box[1];
        width_sum += box[0];
        area[t] = box[2];
    }
    const int mean_width =
        static_cast<int>(std::floor(static_cast<double>(width_sum) / num_tests + 0.5));
    const int mean_height =
        static_cast<int>(std::floor(static_cast<double>(height_sum) / num_tests + 0.5));

    const TelkuChoice choice = telku_cluster(cand, num_tests, mean_width, mean_height);
    for (int k = 0; k < CANDIDATES; ++k) {
        xc[k] = choice.xc[k];
        yc[k] = choice.yc[k];
        fomx[k] = choice.fomx[k];
        fomy[k] = choice.fomy[k];
    }

    *owidth = mean_width * s;
    *oheight = mean_height * s;
    std::sort(area.begin(), area.begin() + num_tests, std::greater<int>());
    *oarea = area[num_tests / 2] * s * s;
    return 0;
}

}  // namespace orva
