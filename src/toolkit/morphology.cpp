// Binary closing with a 17x17 disc and outside-in peeling erosion of masks.
//
// The closing is computed on bit rows (64 pixels per word) of a frame 8 pixels
// wider on every side than the box of the set pixels (a pixel outside the box
// lies in a disc clear of the box, so the closing never reaches beyond it). The disc is
// the union of its rows, each a horizontal run of half-width
// DISC_HALF_WIDTH[|dy|], so
//   dilation(v)  = OR  over dy of  (source row v - dy  spread by the run),
//   erosion(y)   = AND over dy of  (dilated row y + dy shrunk by the run).
// Spreading and shrinking a bit row by a run take a few word shifts, so the
// cost grows with the box area, with no factor for the 221 disc pixels. The
// result is the same as testing every disc offset: pixels outside the frame
// are never reached, and inside the frame they are set only by the dilation.
//
// The erosion peels rows first, then columns; the column peel finds the first
// and last set row of every column in one row-wise sweep instead of walking
// each column down the image.
#include "toolkit/morphology.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "toolkit/byte_scan.h"
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

// A rectangle of the image: columns x0 .. x1, rows y0 .. y1, inclusive.
struct Window {
    std::size_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
};

// Box of the set pixels; false for an empty mask.
bool set_box(const unsigned char* mask, std::size_t width, std::size_t height, Window& box) {
    bool any = false;
    for (std::size_t y = 0; y < height; ++y) {
        const unsigned char* row = mask + y * width;
        const std::size_t first = first_nonzero(row, width);
        if (first == width) continue;
        const std::size_t last = last_nonzero(row, width);
        if (!any) {
            box = {first, last, y, y};
            any = true;
        }
        box.x0 = std::min(box.x0, first);
        box.x1 = std::max(box.x1, last);
        box.y1 = y;
    }
    return any;
}

// Eight pixels at a time: frame column x + 8 is bit x % 8 of byte x / 8 + 1
// of a row (the words hold their low byte first on this little-endian
// target), so the bits of pixels x .. x + 7 with x % 8 == 0 form one byte.
static_assert(DISC_RADIUS == 8, "the frame offset is one byte of bits");
static_assert(std::endian::native == std::endian::little, "bytes of a word, low first");
constexpr Word kLowBits = 0x0101010101010101ull;
constexpr Word kHighBits = 0x8080808080808080ull;
constexpr Word kSevenBits = 0x7f7f7f7f7f7f7f7full;

// Row of mask bytes (set: not 0) into frame row r of rows.
void pack_row(const unsigned char* in, std::size_t width, BitRows& rows, std::size_t r) {
    auto* bytes = reinterpret_cast<unsigned char*>(rows.row(r));
    std::size_t x = 0;
    for (; x + 8 <= width; x += 8) {
        Word v;
        std::memcpy(&v, in + x, 8);
        // High bit of every byte that is not 0, then those eight bits
        // gathered into the top byte (the products never overlap).
        const Word set = (((v & kSevenBits) + kSevenBits) | v) & kHighBits;
        bytes[x / 8 + 1] = static_cast<unsigned char>(((set >> 7) * 0x0102040810204080ull) >> 56);
    }
    for (; x < width; ++x)
        if (in[x]) rows.set(r, x + DISC_RADIUS);
}

// Bits of frame columns 8 .. width + 7 of a row into width bytes of 0 or 1.
void unpack_row(const Word* row, std::size_t width, unsigned char* out) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(row);
    std::size_t x = 0;
    for (; x + 8 <= width; x += 8) {
        // The byte in all eight places, bit k kept in byte k, then 1 where set.
        const Word picked = (bytes[x / 8 + 1] * kLowBits) & 0x8040201008040201ull;
        const Word v = ((picked + kSevenBits) >> 7) & kLowBits;
        std::memcpy(out + x, &v, 8);
    }
    for (; x < width; ++x) {
        const std::size_t c = x + DISC_RADIUS;
        out[x] = static_cast<unsigned char>((row[c / WORD_BITS] >> (c % WORD_BITS)) & 1u);
    }
}

// Closing of the window's pixels, the plane around it taken as empty.
void close_window(unsigned char* mask, std::size_t stride, const Window& win) {
    const std::size_t width = win.x1 - win.x0 + 1;
    const std::size_t height = win.y1 - win.y0 + 1;
    const std::size_t frame_w = width + 2 * DISC_RADIUS;
    const std::size_t frame_h = height + 2 * DISC_RADIUS;
    unsigned char* origin = mask + win.y0 * stride + win.x0;

    // Mask rows in frame columns (x + 8); only window rows are held.
    BitRows source(height, frame_w);
    for (std::size_t y = 0; y < height; ++y) pack_row(origin + y * stride, width, source, y);
    const std::vector<BitRows> spread = runs_of(source, height, frame_w, true);

    // Dilation over the whole frame: frame row v gathers window rows v - 8 - dy.
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

    // Erosion back into the window: window row y sits at frame row y + 8.
    const std::vector<BitRows> shrunk = runs_of(dilated, frame_h, frame_w, false);
    std::vector<Word> kept(words);
    for (std::size_t y = 0; y < height; ++y) {
        std::fill(kept.begin(), kept.end(), ~Word{0});
        for (int dy = -DISC_RADIUS; dy <= DISC_RADIUS; ++dy) {
            const std::size_t v = y + DISC_RADIUS + dy;
            const Word* in = shrunk[run_index(DISC_HALF_WIDTH[dy < 0 ? -dy : dy])].row(v);
            for (std::size_t w = 0; w < words; ++w) kept[w] &= in[w];
        }
        unpack_row(kept.data(), width, origin + y * stride);
    }
}

// Rows and columns that can still hold set pixels after the row peeling.
struct PeelSpan {
    long top = 0, bottom = -1, left = 0, right = -1;
};

// Peels every row from the left and from the right. A row without set pixels
// is skipped: neither side would find anything in it.
void peel_rows(unsigned char* mask, long width, long height, long s, PeelSpan& span) {
    bool any = false;
    for (long y = 0; y < height; ++y) {
        unsigned char* row = mask + y * width;
        const long first = static_cast<long>(first_nonzero(row, static_cast<std::size_t>(width)));
        if (first == width) continue;
        // From the left; a pixel close to the left edge is peeled alone.
        row[first] = 0;
        if (first > 4)
            for (long k = first + 1; k <= first + s - 1 && k < width; ++k) row[k] = 0;
        // From the right; column 0 is neither searched nor cleared here.
        const std::size_t n = static_cast<std::size_t>(width - 1);
        const std::size_t found = width > 1 ? last_nonzero(row + 1, n) : n;
        if (found == n) continue;  // the row is empty now
        const long last = static_cast<long>(found) + 1;
        row[last] = 0;
        if (last <= width - 5)
            for (long k = last - 1; k >= last - s + 1 && k > 0; --k) row[k] = 0;
        // What is left of the row lies between the two peeled pixels.
        if (!any) {
            span = {y, y, first, last};
            any = true;
        }
        span.bottom = y;
        span.left = std::min(span.left, first);
        span.right = std::max(span.right, last);
    }
}

// Peels every column from the top (the outer pixel and depth more below it)
// and then from the bottom (the outer pixel and depth more above it, row 0
// neither searched nor cleared). The first and last set rows of all columns
// are found in one row-wise sweep; the bottom peel then finds the column's
// last pixel unless the top peel already cleared it, which empties the column.
void peel_columns(unsigned char* mask, long width, long height, long depth, const PeelSpan& span) {
    const long ncols = span.right - span.left + 1;
    std::vector<long> first(static_cast<std::size_t>(ncols), -1);
    std::vector<long> last(static_cast<std::size_t>(ncols), -1);
    for (long y = span.top; y <= span.bottom; ++y) {
        const unsigned char* row = mask + y * width + span.left;
        for (long c = 0; c < ncols; ++c) {
            if (row[c] == 0) continue;
            if (first[c] < 0) first[c] = y;
            last[c] = y;
        }
    }
    const long top_depth = std::max(depth, 0L);
    for (long c = 0; c < ncols; ++c) {
        if (first[c] < 0) continue;
        unsigned char* col = mask + span.left + c;
        for (long k = first[c]; k <= first[c] + top_depth && k < height; ++k) col[k * width] = 0;
        if (last[c] <= first[c] + top_depth) continue;
        col[last[c] * width] = 0;
        for (long k = last[c] - 1; k >= last[c] - depth && k > 0; --k) col[k * width] = 0;
    }
}

}  // namespace

int closing17x17(const IMAGE& im, std::span<unsigned char> bptr) {
    if (!fits(bptr.size(), im, "closing17x17")) return ERR_NOT_DEFINED;
    if (im.width == 0 || im.height == 0) return 0;
    // Beyond the box of the set pixels a whole disc fits between the pixel and
    // the box, so the closing is 0 there, as the mask already is.
    Window box;
    if (!set_box(bptr.data(), im.width, im.height, box)) return 0;
    close_window(bptr.data(), im.width, box);
    return 0;
}

int erode_mask(const IMAGE& im, std::span<unsigned char> bptr, int strength) {
    if (!fits(bptr.size(), im, "erode_mask")) return ERR_NOT_DEFINED;
    const long width = im.width;
    const long height = im.height;
    const long s = strength;
    PeelSpan span;
    peel_rows(bptr.data(), width, height, s, span);
    if (span.top <= span.bottom && span.left <= span.right)
        peel_columns(bptr.data(), width, height, s / 2 - 1, span);
    return 0;
}

}  // namespace orva
