// Object masks by change against a background image or between the images of
// one rotation series.
//
// Background path: the signed difference image - background is centred on its
// most frequent value; a noise peak and a decaying threshold above it split
// object from background. Series path: each image is compared with a few
// partners spread through the series; every smoothed, centred difference gets
// the change of the edge maps added, and a triangle threshold over all
// comparisons decides. Partners at nearly the same rotation (a fifth of the
// average summed difference) carry no information and are ignored.
// Row-major buffers, pixel (x, y) at y * width + x; masks 1 object, 0 background.
#include "loop/object_mask.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "toolkit/vector_clones.h"

namespace orva {

namespace {

constexpr int PEAK_SEARCH_END = 63;      // last lower bin of a peak pair
constexpr int THRESHOLD_MAX_STEPS = 32;  // threshold at most this far past the peak
constexpr int THRESHOLD_LIMIT = 255;
constexpr double DECAY_SCALE = 400.0;  // peak-pair divisor 400 e^(-0.05 d) + 20
constexpr double DECAY_RATE = 0.05;
constexpr unsigned int DECAY_FLOOR = 20;
constexpr int TRIANGLE_SEARCH_END = 199;  // last bin searched for the chord's foot
constexpr unsigned long SIMILAR_FACTOR = 5;
constexpr int EDGE_CHANGE_SHIFT = 3;
// Differences are centred and counted in pieces of this many values, which
// stay in the first-level cache; their sums then fit 32 bits.
constexpr std::size_t PIECE = 8192;

// Counts of v + offset, gathered over any number of spans of differences
// and then added to a histogram of DIFF_BINS bins. Most differences are the
// same few values, so the increments go to eight partial counts in turn
// (padded apart, so that their bins never share an address modulo the page)
// and are not held up by the increment of the same bin just before.
class DifferenceCounts {
  public:
    explicit DifferenceCounts(int offset) {
        for (int k = 0; k < kParts; ++k) h_[k] = part_.data() + k * kStride + offset;
    }
    DifferenceCounts(const DifferenceCounts&) = delete;
    DifferenceCounts& operator=(const DifferenceCounts&) = delete;

    void add(const std::int16_t* v, std::size_t n) {
        std::size_t p = 0;
        for (; p + kParts <= n; p += kParts) {
            ++h_[0][v[p]];
            ++h_[1][v[p + 1]];
            ++h_[2][v[p + 2]];
            ++h_[3][v[p + 3]];
            ++h_[4][v[p + 4]];
            ++h_[5][v[p + 5]];
            ++h_[6][v[p + 6]];
            ++h_[7][v[p + 7]];
        }
        for (; p < n; ++p) ++h_[0][v[p]];
    }
    void add_to(std::span<unsigned int> hist) const {
        for (std::size_t i = 0; i < DIFF_BINS; ++i) {
            unsigned int sum = 0;
            for (int k = 0; k < kParts; ++k) sum += part_[k * kStride + i];
            hist[i] += sum;
        }
    }

  private:
    static constexpr int kParts = 8;
    static constexpr std::size_t kStride = DIFF_BINS + 16;
    alignas(64) std::array<unsigned int, kParts * kStride> part_{};
    unsigned int* h_[kParts];
};

// Counts of the values kLow .. kLow + kBins - 1 and of all values together,
// which name the most frequent value whenever one of the window is more
// frequent than all values outside it together (smoothed differences of a
// series mostly are: the background hardly changes). Four compares per 16
// values in 16-bit lanes instead of a count per value.
class WindowCounts {
  public:
    [[gnu::always_inline]] void add(const std::int16_t* v, std::size_t n) {
        typedef std::int16_t Lanes __attribute__((vector_size(32)));
        constexpr std::size_t kLanes = sizeof(Lanes) / sizeof(std::int16_t);
        constexpr std::size_t kChunk = kLanes * 32767;  // a lane counts at most 32767
        total_ += n;
        std::size_t p = 0;
        while (n - p >= kLanes) {
            const std::size_t end = p + std::min(kChunk, (n - p) / kLanes * kLanes);
            Lanes acc[kBins] = {};
            for (; p < end; p += kLanes) {
                Lanes x;
                std::memcpy(&x, v + p, sizeof x);
                for (int b = 0; b < kBins; ++b) {
                    const auto value = static_cast<std::int16_t>(kLow + b);
                    acc[b] -= x == Lanes{} + value;
                }
            }
            for (int b = 0; b < kBins; ++b)
                for (std::size_t l = 0; l < kLanes; ++l)
                    bins_[b] += static_cast<std::uint16_t>(acc[b][l]);
        }
        for (; p < n; ++p) {
            const unsigned b = static_cast<unsigned>(v[p] - kLow);
            if (b < kBins) ++bins_[b];
        }
    }
    // The most frequent value (the lowest of equals), when the window names it.
    bool mode(int& value) const {
        std::uint64_t inside = 0;
        int best = 0;
        for (int b = 0; b < kBins; ++b) {
            inside += bins_[b];
            if (bins_[b] > bins_[best]) best = b;
        }
        if (bins_[best] <= total_ - inside) return false;
        value = kLow + best;
        return true;
    }

  private:
    static constexpr int kLow = -2;
    static constexpr int kBins = 4;
    std::uint64_t bins_[kBins] = {};
    std::uint64_t total_ = 0;
};

// Adds the counts of v + offset to hist.
void add_counts(std::span<const std::int16_t> d, int offset, std::span<unsigned int> hist) {
    DifferenceCounts counts(offset);
    counts.add(d.data(), d.size());
    counts.add_to(hist);
}

// Histogram of v + DIFF_OFFSET for signed differences.
void signed_histogram(std::span<const std::int16_t> d, std::span<unsigned int> hist) {
    std::fill(hist.begin(), hist.end(), 0u);
    add_counts(d, DIFF_OFFSET, hist);
}

// Replaces every difference v by |v - offset| and returns the sum of these;
// then adds the change of the edge maps (shifted down by EDGE_CHANGE_SHIFT),
// at most DIFF_MAX. Differences and offset lie within +-255 (smoothed byte
// differences and a bin of their histogram), so every step fits 16 bits, and
// the sum 32 bits for a piece of at most PIECE values.
ORVA_VECTOR_CLONES
unsigned long centre_and_add_edges(std::span<std::int16_t> diff, int offset,
                                   const unsigned char* __restrict g_q,
                                   const unsigned char* __restrict g_p) {
    std::int16_t* __restrict d = diff.data();
    const auto off = static_cast<std::int16_t>(offset);
    unsigned int sum = 0;
    for (std::size_t p = 0; p < diff.size(); ++p) {
        const auto centred =
            static_cast<std::int16_t>(std::abs(static_cast<std::int16_t>(d[p] - off)));
        sum += static_cast<std::uint16_t>(centred);
        const auto edge = static_cast<std::int16_t>(std::abs(g_q[p] - g_p[p]) >> EDGE_CHANGE_SHIFT);
        const auto v = static_cast<std::int16_t>(centred + edge);
        d[p] = v > DIFF_MAX ? static_cast<std::int16_t>(DIFF_MAX) : v;
    }
    return sum;
}

// Clears the mask (0/1 values) wherever either of two rows of differences is
// not above t; 16-bit compares, twice as wide as in int.
ORVA_VECTOR_CLONES
void clear_unchanged(const std::int16_t* __restrict d1, const std::int16_t* __restrict d2,
                     unsigned char* __restrict mask, std::size_t n, std::int16_t t) {
    for (std::size_t p = 0; p < n; ++p)
        mask[p] = static_cast<unsigned char>(mask[p] & (d1[p] > t) & (d2[p] > t));
}

}  // namespace

int number_of_comparisons(int num_images) {
    return num_images < 6 ? num_images - 1 : NUM_COMPARE;
}

std::vector<int> comparison_partners(int q, int num_images, int num_comp) {
    std::vector<int> partners;
    if (num_images < 1 || num_comp < 1) return partners;
    const int step = num_images / num_comp;
    for (int j = 1; j <= num_comp; ++j) {
        if (j < num_comp)
            partners.push_back((q + j * step) % num_images);
        else
            partners.push_back((q + num_images - 1) % num_images);
    }
    return partners;
}

int histogram_offset(std::span<const unsigned int> hist) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < hist.size(); ++i)
        if (hist[i] > hist[best]) best = i;
    return static_cast<int>(best) - DIFF_OFFSET;
}

int background_threshold(std::span<const unsigned int> hist) {
    // Noise peak: the first highest pair of neighbouring bins, checked from (0, 1).
    unsigned int peak_sum = hist[0] + hist[1];
    int k = 1;
    for (int i = 1; i <= PEAK_SEARCH_END; ++i) {
        const unsigned int sum = hist[i] + hist[i + 1];
        if (sum > peak_sum) {
            peak_sum = sum;
            k = i;
        }
    }
    if (hist[k] < hist[k + 1]) ++k;

    // First pair past the peak that drops below the peak sum over the divisor.
    int t = k + 1;
    for (; t < k + THRESHOLD_MAX_STEPS && t < THRESHOLD_LIMIT; ++t) {
        const auto divisor =
            static_cast<unsigned int>(std::floor(DECAY_SCALE * std::exp(-DECAY_RATE * (t - k)))) +
            DECAY_FLOOR;
        if (hist[t] + hist[t + 1] < peak_sum / divisor) break;
    }
    return t;
}

int triangle_threshold(std::span<const unsigned int> hist) {
    const unsigned int h1 = hist[1];
    int m = 1;
    unsigned int lowest = h1;
    for (int i = 2; i <= TRIANGLE_SEARCH_END; ++i) {
        if (hist[i] < lowest) {
            lowest = hist[i];
            m = i;
        }
    }
    if (m == 1) return 1;

    // Chord from (0, hist[1]) to (m, hist[m]), single precision.
    const float slope = static_cast<float>(h1 - hist[m]) / static_cast<float>(0 - m);
    int threshold = 1;
    long best_distance = 0;
    for (int i = 1; i < m; ++i) {
        const float chord = static_cast<float>(h1) + static_cast<float>(i) * slope;
        const long distance = static_cast<long>(chord) - static_cast<long>(hist[i]);
        if (distance > best_distance) {
            best_distance = distance;
            threshold = i;
        }
    }
    return threshold;
}

namespace {

// smooth_difference, calling row_done(first, n) for every run of final
// values out[first .. first + n - 1] as soon as it is written: the interior
// of each row as it comes, the border last.
template <class RowDone>
[[gnu::always_inline]] inline void smooth_difference_rows(
    const IMAGE& im, std::span<const unsigned char> a, std::span<const unsigned char> b,
    std::span<std::int16_t> out, std::vector<std::int16_t>& column, RowDone row_done) {
    const long w = im.width;
    const long h = im.height;
    if (w < 3 || h < 3) {
        for (long p = 0; p < w * h; ++p) out[p] = static_cast<std::int16_t>(a[p] - b[p]);
        row_done(0L, w * h);
        return;
    }
    // The 3x3 weights are (1 2 1) down a column times (1 2 1) along a row, so
    // each row sums the weighted columns around it; integer sums are exact in
    // any order. The sums stay within +-4080, so they are kept in 16 bits,
    // which lets twice as many go through the vector unit at once.
    column.resize(static_cast<std::size_t>(w));
    std::int16_t* col = column.data();
    for (long y = 1; y < h - 1; ++y) {
        const unsigned char* a0 = a.data() + (y - 1) * w;
        const unsigned char* b0 = b.data() + (y - 1) * w;
        for (long x = 0; x < w; ++x)
            col[x] = static_cast<std::int16_t>((a0[x] - b0[x]) + 2 * (a0[x + w] - b0[x + w]) +
                                               (a0[x + 2 * w] - b0[x + 2 * w]));
        std::int16_t* row = out.data() + y * w;
        for (long x = 1; x < w - 1; ++x) {
            const auto t = static_cast<std::int16_t>(col[x - 1] + 2 * col[x] + col[x + 1] + 8);
            // Division by 16 truncating towards zero, as the integer division.
            const auto bias = static_cast<std::int16_t>((t >> 15) & 15);
            row[x] = static_cast<std::int16_t>(static_cast<std::int16_t>(t + bias) >> 4);
        }
        row_done(y * w + 1, w - 2);
    }
    for (long y = 1; y < h - 1; ++y) {
        out[y * w] = out[y * w + 1];
        out[y * w + w - 1] = out[y * w + w - 2];
        row_done(y * w, 1L);
        row_done(y * w + w - 1, 1L);
    }
    for (long x = 0; x < w; ++x) {
        out[x] = out[w + x];
        out[(h - 1) * w + x] = out[(h - 2) * w + x];
    }
    row_done(0L, w);
    row_done((h - 1) * w, w);
}

}  // namespace

ORVA_VECTOR_CLONES
void smooth_difference(const IMAGE& im, std::span<const unsigned char> a,
                       std::span<const unsigned char> b, std::span<std::int16_t> out) {
    std::vector<std::int16_t> column;
    smooth_difference_rows(im, a, b, out, column, [](long, long) {});
}

namespace {

// smooth_difference, with the window counts of its values gathered row by
// row while the rows are still at hand.
ORVA_VECTOR_CLONES
void smooth_difference_counted(const IMAGE& im, std::span<const unsigned char> a,
                               std::span<const unsigned char> b, std::span<std::int16_t> out,
                               std::vector<std::int16_t>& column, WindowCounts& counts) {
    smooth_difference_rows(im, a, b, out, column, [&](long first, long n) {
        counts.add(out.data() + first, static_cast<std::size_t>(n));
    });
}

}  // namespace

ORVA_VECTOR_CLONES
int background_object_mask(const IMAGE& im, std::span<const unsigned char> image,
                           std::span<const unsigned char> background, std::span<std::int16_t> diff,
                           std::span<unsigned char> mask) {
    const unsigned long size = im.size;
    const std::span<std::int16_t> d = diff.first(size);
    for (unsigned long p = 0; p < size; ++p)
        d[p] = static_cast<std::int16_t>(image[p] - background[p]);

    std::vector<unsigned int> hist(DIFF_BINS, 0u);
    signed_histogram(d, hist);
    const int offset = histogram_offset(hist);
    std::fill(hist.begin(), hist.end(), 0u);
    for (std::int16_t& v : d) v = static_cast<std::int16_t>(std::abs(v - offset));
    add_counts(d, 0, hist);

    // Pixels below the threshold are the counts of the bins below it.
    const int t = background_threshold(hist);
    const unsigned long background_pixels = std::accumulate(hist.begin(), hist.begin() + t, 0ul);
    if (background_pixels < (size >> 1)) {
        std::fprintf(stderr, "\n\n|---------------------------------");
        std::fprintf(stderr, "\n| estimated percentage of background: %f",
                     static_cast<double>(background_pixels) * 50 / static_cast<double>(size));
        std::fprintf(stderr, "\n| background image does not seem to be appropriate");
        std::fprintf(stderr, "\n|---------------------------------\n");
        return BACKGROUND_UNSUITABLE;
    }
    for (unsigned long p = 0; p < size; ++p) mask[p] = d[p] > t ? 1 : 0;
    return 0;
}

void series_object_mask(const IMAGE& im, std::span<const ByteBuffer> images,
                        std::span<const ByteBuffer> grad, int q, int num_comp,
                        Matrix<std::int16_t>& diff, std::span<unsigned char> mask) {
    const unsigned long size = im.size;
    const int num_images = static_cast<int>(images.size());
    const std::vector<int> partners = comparison_partners(q, num_images, num_comp);
    std::vector<unsigned int> hist(DIFF_BINS, 0u);
    std::vector<unsigned long> sum_diff(num_comp + 1, 0ul);

    // Smoothed difference to each partner, centred on its most frequent value,
    // then raised by the change of the edge maps; all comparisons are counted
    // together. The counts are taken in pieces while the values are at hand.
    std::vector<std::int16_t> column;
    DifferenceCounts total_counts(0);
    for (int j = 1; j <= num_comp; ++j) {
        const std::span<std::int16_t> d = diff.row(j).first(size);
        const int p = partners[j - 1];
        WindowCounts window;
        smooth_difference_counted(im, images[q], images[p], d, column, window);
        int offset = 0;
        if (!window.mode(offset)) {
            // The most frequent value lies elsewhere: all values are counted.
            DifferenceCounts counts(DIFF_OFFSET);
            counts.add(d.data(), d.size());
            std::fill(hist.begin(), hist.end(), 0u);
            counts.add_to(hist);
            offset = histogram_offset(hist);
        }
        unsigned long sum = 0;
        for (std::size_t first = 0; first < size; first += PIECE) {
            const std::size_t n = std::min<std::size_t>(PIECE, size - first);
            sum += centre_and_add_edges(d.subspan(first, n), offset, grad[q].data() + first,
                                        grad[p].data() + first);
            total_counts.add(d.data() + first, n);
        }
        sum_diff[j] = sum;
    }
    std::vector<unsigned int> total(DIFF_BINS, 0u);
    total_counts.add_to(total);

    const std::vector<char> sim_flag =
        similar_pairs(std::span<const unsigned long>(sum_diff).subspan(1));
    const int diff_threshold = triangle_threshold(total);

    comparison_mask(diff, num_comp, sim_flag, diff_threshold, mask.first(size));
}

std::vector<char> similar_pairs(std::span<const unsigned long> sum_diff) {
    std::vector<char> sim_flag(sum_diff.size(), 0);
    if (sum_diff.empty()) return sim_flag;
    unsigned long total = 0;
    for (const unsigned long s : sum_diff) total += s;
    const unsigned long average = total / sum_diff.size();
    for (std::size_t j = 0; j < sum_diff.size(); ++j)
        sim_flag[j] = SIMILAR_FACTOR * sum_diff[j] < average;
    return sim_flag;
}

void comparison_mask(const Matrix<std::int16_t>& diff, int num_comp, std::span<const char> sim_flag,
                     int threshold, std::span<unsigned char> mask) {
    std::fill(mask.begin(), mask.end(), 1);
    std::vector<const std::int16_t*> rows;
    for (int j = 1; j <= num_comp; ++j)
        if (!sim_flag[j - 1]) rows.push_back(diff[j]);
    if (rows.empty()) return;
    if (threshold < INT16_MIN || threshold >= INT16_MAX) {
        // Nothing is above the top of the range; everything above its foot.
        if (threshold >= INT16_MAX) std::fill(mask.begin(), mask.end(), 0);
        return;
    }
    // Two rows a pass; an odd last row goes with itself.
    for (std::size_t k = 0; k < rows.size(); k += 2)
        clear_unchanged(rows[k], rows[std::min(k + 1, rows.size() - 1)], mask.data(), mask.size(),
                        static_cast<std::int16_t>(threshold));
}

}  // namespace orva
