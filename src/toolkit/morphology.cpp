// Binary closing with a 17x17 disc and outside-in peeling erosion of masks.
//
// The closing is computed on bit rows (64 pixels per word) of a frame 8 pixels
// wider than the image on every side. The disc is the union of its rows, each a
// horizontal run of half-width DISC_HALF_WIDTH[|dy|], so
//   dilation(v)  = OR  over dy of  (source row v - dy  spread by the run),
//   erosion(y)   = AND over dy of  (dilated row y + dy shrunk by the run).
// Spreading and shrinking a bit row by a run take a few word shifts, so the
// cost grows with the image area, with no factor for the 221 disc pixels. The
// result is the same as testing every disc offset: pixels outside the frame
// are never reached, and inside the frame they are set only by the dilation.
#include "toolkit/morphology.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "toolkit/errmsg.h"

namespace orva {
namespace {

constexpr int DISC_RADIUS = 8;
// Half-width of the disc row at vertical offset |dy| = 0..8.
constexpr std::array<int, DISC_RADIUS + 1> DISC_HALF_WIDTH = {8, 8, 8, 7, 7, 6, 5, 4, 2};
// The distinct half-widths, ascending, so each run is grown from the last.
constexpr std::array<int, 6> RUN_WIDTHS = {2, 4, 5, 6, 7, 8};

using Word = std::uint64_t;
constexpr int WORD_BITS = 64;

// A stack of bit rows; bit j of word k in a row is column 64 k + j.
class BitRows {
  public:
    BitRows(std::size_t rows, std::size_t cols)
        : words_((cols + WORD_BITS - 1) / WORD_BITS), bits_(rows * words_, 0) {}
    std::size_t words() const { return words_; }
    Word* row(std::size_t r) { return bits_.data() + r * words_; }
    const Word* row(std::size_t r) const { return bits_.data() + r * words_; }
    void set(std::size_t r, std::size_t c) { row(r)[c / WORD_BITS] |= Word{1} << (c % WORD_BITS); }

  private:
    std::size_t words_;
    std::vector<Word> bits_;
};

// Row moved k columns to the right (towards higher columns), 0 < k < 64.
Word moved_right(const Word* in, std::size_t k_word, int k) {
    Word w = in[k_word] << k;
    if (k_word > 0) w |= in[k_word - 1] >> (WORD_BITS - k);
    return w;
}

// Row moved k columns to the left, 0 < k < 64.
Word moved_left(const Word* in, std::size_t k_word, std::size_t words, int k) {
    Word w = in[k_word] >> k;
    if (k_word + 1 < words) w |= in[k_word + 1] << (WORD_BITS - k);
    return w;
}

// Scratch rows for change_half_width, reused across rows.
struct RowScratch {
    std::vector<Word> cur, next;
};

// Widens (spread) or narrows (shrink) every run of a row given as already
// spread/shrunk by half-width `from` so that it is by half-width `to`.
// A shift-combine by k is exact while k <= 2 * from + 1, so the step grows.
void change_half_width(const Word* in, Word* out, std::size_t words, int from, int to, bool spread,
                       RowScratch& scratch) {
    std::vector<Word>& cur = scratch.cur;
    std::vector<Word>& next = scratch.next;
    cur.assign(in, in + words);
    next.resize(words);
    while (from < to) {
        const int k = std::min(2 * from + 1, to - from);
        for (std::size_t w = 0; w < words; ++w) {
            const Word r = moved_right(cur.data(), w, k);
            const Word l = moved_left(cur.data(), w, words, k);
            next[w] = spread ? (cur[w] | r | l) : (cur[w] & r & l);
        }
        cur.swap(next);
        from += k;
    }
    std::copy(cur.begin(), cur.end(), out);
}

// For every row of `rows`, the versions spread (or shrunk) by each RUN_WIDTHS
// entry: result[i] holds the rows for RUN_WIDTHS[i].
std::vector<BitRows> runs_of(const BitRows& rows, std::size_t nrows, std::size_t cols,
                             bool spread) {
    std::vector<BitRows> result(RUN_WIDTHS.size(), BitRows(nrows, cols));
    RowScratch scratch;
    for (std::size_t r = 0; r < nrows; ++r) {
        const Word* prev = rows.row(r);
        int from = 0;
        for (std::size_t i = 0; i < RUN_WIDTHS.size(); ++i) {
            change_half_width(prev, result[i].row(r), rows.words(), from, RUN_WIDTHS[i], spread,
                              scratch);
            prev = result[i].row(r);
            from = RUN_WIDTHS[i];
        }
    }
    return result;
}

std::size_t run_index(int half_width) {
    std::size_t i = 0;
    while (RUN_WIDTHS[i] != half_width) ++i;
    return i;
}

bool fits(std::size_t buffer_size, const IMAGE& im, const char* rtn) {
    if (static_cast<unsigned long>(im.width) * im.height <= buffer_size) return true;
    errmsg(ERR_NOT_DEFINED, rtn, "buffer size", static_cast<int>(buffer_size));
    return false;
}

}  // namespace

int closing17x17(const IMAGE& im, std::span<unsigned char> bptr) {
    if (!fits(bptr.size(), im, "closing17x17")) return ERR_NOT_DEFINED;
    const std::size_t width = im.width;
    const std::size_t height = im.height;
    if (width == 0 || height == 0) return 0;
    const std::size_t frame_w = width + 2 * DISC_RADIUS;
    const std::size_t frame_h = height + 2 * DISC_RADIUS;

    // Mask rows in frame columns (x + 8); only image rows are held.
    BitRows source(height, frame_w);
    for (std::size_t y = 0; y < height; ++y)
        for (std::size_t x = 0; x < width; ++x)
            if (bptr[y * width + x]) source.set(y, x + DISC_RADIUS);
    const std::vector<BitRows> spread = runs_of(source, height, frame_w, true);

    // Dilation over the whole frame: frame row v gathers image rows v - 8 - dy.
    BitRows dilated(frame_h, frame_w);
    const std::size_t words = dilated.words();
    for (std::size_t v = 0; v < frame_h; ++v) {
        Word* out = dilated.row(v);
        for (int dy = -DISC_RADIUS; dy <= DISC_RADIUS; ++dy) {
            const long y = static_cast<long>(v) - DISC_RADIUS - dy;
            if (y < 0 || y >= static_cast<long>(height)) continue;
            const Word* in = spread[run_index(DISC_HALF_WIDTH[dy < 0 ? -dy : dy])].row(y);
            for (std::size_t w = 0; w < words; ++w) out[w] |= in[w];
        }
    }

    // Erosion back into the image: image row y sits at frame row y + 8.
    const std::vector<BitRows> shrunk = runs_of(dilated, frame_h, frame_w, false);
    std::vector<Word> kept(words);
    for (std::size_t y = 0; y < height; ++y) {
        std::fill(kept.begin(), kept.end(), ~Word{0});
        for (int dy = -DISC_RADIUS; dy <= DISC_RADIUS; ++dy) {
            const std::size_t v = y + DISC_RADIUS + dy;
            const Word* in = shrunk[run_index(DISC_HALF_WIDTH[dy < 0 ? -dy : dy])].row(v);
            for (std::size_t w = 0; w < words; ++w) kept[w] &= in[w];
        }
        for (std::size_t x = 0; x < width; ++x) {
            const std::size_t c = x + DISC_RADIUS;
            bptr[y * width + x] =
                static_cast<unsigned char>((kept[c / WORD_BITS] >> (c % WORD_BITS)) & 1u);
        }
    }
    return 0;
}

int erode_mask(const IMAGE& im, std::span<unsigned char> bptr, int strength) {
    if (!fits(bptr.size(), im, "erode_mask")) return ERR_NOT_DEFINED;
    const long width = im.width;
    const long height = im.height;
    const long s = strength;

    for (long y = 0; y < height; ++y) {
        unsigned char* row = bptr.data() + y * width;
        // From the left; a pixel close to the left edge is peeled alone.
        for (long x = 0; x < width; ++x) {
            if (!row[x]) continue;
            row[x] = 0;
            if (x > 4)
                for (long k = x + 1; k <= x + s - 1 && k < width; ++k) row[k] = 0;
            break;
        }
        // From the right; column 0 is neither searched nor cleared here.
        for (long x = width - 1; x >= 1; --x) {
            if (!row[x]) continue;
            row[x] = 0;
            if (x <= width - 5)
                for (long k = x - 1; k >= x - s + 1 && k > 0; --k) row[k] = 0;
            break;
        }
    }

    const long depth = s / 2 - 1;  // pixels cleared beside the outer one
    for (long x = 0; x < width; ++x) {
        unsigned char* col = bptr.data() + x;
        for (long y = 0; y < height; ++y) {
            if (!col[y * width]) continue;
            for (long k = y; k <= y + depth && k < height; ++k) col[k * width] = 0;
            col[y * width] = 0;
            break;
        }
        // Row 0 is neither searched nor cleared from the bottom.
        for (long y = height - 1; y >= 1; --y) {
            if (!col[y * width]) continue;
            col[y * width] = 0;
            for (long k = y - 1; k >= y - depth && k > 0; --k) col[k * width] = 0;
            break;
        }
    }
    return 0;
}

}  // namespace orva
