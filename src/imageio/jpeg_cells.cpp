// JPEG files of mostly single-colour RGB pictures (see the header).
//
// Coefficient layout as the library's: per block 64 coefficients in
// row-major (natural) order, coded in zigzag order. Luminance has two blocks
// per cell in each direction, each chroma component one. The blocks the
// library keeps for the picture are luminance ceil(W / 8) x ceil(H / 8) and
// chroma ceil(W / 16) x ceil(H / 16); the luminance blocks of a cell that
// fall past them are padding, coded like the library's padding blocks.
#include "imageio/jpeg_cells.h"

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <unordered_map>
#include <utility>

#include "imageio/jpeg_transform.h"

namespace orva {

namespace {

constexpr int kCell = 16;                // pixels per cell side
constexpr int kCoefs = DCTSIZE2;         // coefficients per block
constexpr int kCellBlocks = 6;           // 4 luminance + 2 chroma blocks
constexpr int kStripCells = 256;         // cells per strip row (4096 pixels)
constexpr std::size_t kMaxColours = 64;  // more colours: the cell counts as mixed

// Errors of the strip coding end it quietly: the rows path is then taken.
struct QuietTrap {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void quiet_error_exit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<QuietTrap*>(cinfo->err)->jump, 1);
}

void quiet_message(j_common_ptr, int) {}
void quiet_output(j_common_ptr) {}

void install_quiet_trap(QuietTrap& trap) {
    jpeg_std_error(&trap.pub);
    trap.pub.error_exit = quiet_error_exit;
    trap.pub.emit_message = quiet_message;
    trap.pub.output_message = quiet_output;
}

std::uint32_t colour_at(const unsigned char* px) {
    return std::uint32_t{px[0]} << 16 | std::uint32_t{px[1]} << 8 | px[2];
}

// The cell entry of a single-colour cell, -1 - the colour's place in the
// palette, adding the colour while the palette has room; 0 when it is full.
int palette_entry(std::vector<std::uint32_t>& colours, std::uint32_t c) {
    auto it = std::find(colours.begin(), colours.end(), c);
    if (it == colours.end()) {
        if (colours.size() >= kMaxColours) return 0;
        it = colours.insert(colours.end(), c);
    }
    return -1 - static_cast<int>(it - colours.begin());
}

// Whether the cell's pixels inside the picture all have the colour of its
// first pixel: its first row is its own copy shifted by one pixel, and every
// other row equals the first.
bool single_colour(const unsigned char* img, int width, int height, int cx, int cy) {
    const int x0 = cx * kCell;
    const int y0 = cy * kCell;
    const int w = std::min(kCell, width - x0);
    const int h = std::min(kCell, height - y0);
    const std::size_t stride = 3 * std::size_t(width);
    const unsigned char* first = img + 3 * (std::size_t(y0) * width + x0);
    if (w == kCell) {
        // The usual cell, with sizes the compiler compares inline.
        if (std::memcmp(first + 3, first, 3 * (kCell - 1)) != 0) return false;
        for (int y = 1; y < h; ++y)
            if (std::memcmp(first + y * stride, first, 3 * kCell) != 0) return false;
        return true;
    }
    if (std::memcmp(first + 3, first, 3 * std::size_t(w - 1)) != 0) return false;
    for (int y = 1; y < h; ++y)
        if (std::memcmp(first + y * stride, first, 3 * std::size_t(w)) != 0) return false;
    return true;
}

// The pixels of a cell inside the picture, row by row.
struct CellPixels {
    const unsigned char* first;
    std::size_t stride;
    int row_bytes;
    int rows;
    CellPixels(const unsigned char* img, int width, int height, int cx, int cy)
        : first(img + 3 * (std::size_t(cy) * kCell * width + std::size_t(cx) * kCell)),
          stride(3 * std::size_t(width)),
          row_bytes(3 * std::min(kCell, width - cx * kCell)),
          rows(std::min(kCell, height - cy * kCell)) {}
    // A tile of its own (rows of 16 pixels).
    CellPixels(const unsigned char* tile, int w, int h)
        : first(tile), stride(3 * kCell), row_bytes(3 * w), rows(h) {}
    // Whether all pixels have the colour of the first.
    bool uniform() const {
        if (std::memcmp(first + 3, first, std::size_t(row_bytes) - 3) != 0) return false;
        for (int y = 1; y < rows; ++y)
            if (std::memcmp(first + y * stride, first, std::size_t(row_bytes)) != 0) return false;
        return true;
    }
    std::uint64_t hash() const {
        std::uint64_t h = 0xcbf29ce484222325ull ^ (std::uint64_t(row_bytes) << 8 | rows);
        for (int y = 0; y < rows; ++y) {
            const unsigned char* p = first + y * stride;
            int k = 0;
            for (; k + 8 <= row_bytes; k += 8) {
                std::uint64_t word;
                std::memcpy(&word, p + k, 8);
                h = (h ^ word) * 0x9E3779B97F4A7C15ull;
                h ^= h >> 29;
            }
            for (; k < row_bytes; ++k) h = (h ^ p[k]) * 0x100000001b3ull;
        }
        return h;
    }
    bool operator==(const CellPixels& o) const {
        if (row_bytes != o.row_bytes || rows != o.rows) return false;
        for (int y = 0; y < rows; ++y)
            if (std::memcmp(first + y * stride, o.first + y * o.stride, row_bytes) != 0)
                return false;
        return true;
    }
};

// The cells that go into one strip picture, each with the place its blocks
// go in FlatCells::mixed, or the colour (-1 - colour) it stands for.
struct Strip {
    std::vector<CellPixels> cells;
    std::vector<int> slot;
    int rows = kCell;  // pixel rows of every cell
};

// The strip's pixels: cells side by side, kStripCells to a row of cells;
// columns past a cell's right edge repeat its last column, as the library
// completes a picture.
std::vector<unsigned char> strip_pixels(const Strip& strip, int& strip_width, int& strip_height) {
    const int n = static_cast<int>(strip.cells.size());
    const int across = std::min(n, kStripCells);
    const int down = (n + kStripCells - 1) / kStripCells;
    strip_width = across * kCell;
    strip_height = down * strip.rows;
    std::vector<unsigned char> rgb(3 * std::size_t(strip_width) * strip_height, 0);
    for (int k = 0; k < n; ++k) {
        const CellPixels& cell = strip.cells[k];
        unsigned char* dst =
            rgb.data() + 3 * (std::size_t(k / kStripCells) * strip.rows * strip_width +
                              std::size_t(k % kStripCells) * kCell);
        for (int y = 0; y < strip.rows; ++y, dst += 3 * std::size_t(strip_width)) {
            const unsigned char* src = cell.first + y * cell.stride;
            std::memcpy(dst, src, std::size_t(cell.row_bytes));
            for (int x = cell.row_bytes; x < 3 * kCell; x += 3)
                std::memcpy(dst + x, src + cell.row_bytes - 3, 3);
        }
    }
    return rgb;
}

// Encodes the strip pixels with the library and reads the coefficients back.
// `coded` holds the library's output buffer, freed by the caller. Only
// trivially destructible objects live here: library errors jump back.
bool code_strip(int quality, int width, int height, const unsigned char* rgb, int cells, JCOEF* out,
                unsigned char** coded, unsigned long* coded_size) {
    jpeg_compress_struct c;
    jpeg_decompress_struct d;
    QuietTrap trap;
    install_quiet_trap(trap);
    c.err = &trap.pub;
    d.err = &trap.pub;
    // Changed after setjmp and read after a jump back: volatile.
    volatile bool have_c = false, have_d = false;
    if (setjmp(trap.jump)) {
        if (have_c) jpeg_destroy_compress(&c);
        if (have_d) jpeg_destroy_decompress(&d);
        return false;
    }
    jpeg_create_compress(&c);
    have_c = true;
    jpeg_mem_dest(&c, coded, coded_size);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    const std::size_t stride = 3 * std::size_t(width);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(rgb + c.next_scanline * stride);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    have_c = false;

    jpeg_create_decompress(&d);
    have_d = true;
    jpeg_mem_src(&d, *coded, *coded_size);
    jpeg_read_header(&d, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&d);
    j_common_ptr common = reinterpret_cast<j_common_ptr>(&d);
    for (int ci = 0; ci < 3; ++ci) {
        const int per_cell = ci == 0 ? 2 : 1;  // blocks per cell side
        const int first_block = ci == 0 ? 0 : 3 + ci;
        const JDIMENSION rows = d.comp_info[ci].height_in_blocks;
        for (JDIMENSION r = 0; r < rows; ++r) {
            JBLOCKARRAY line = (*d.mem->access_virt_barray)(common, arrays[ci], r, 1, FALSE);
            const int cell_row = static_cast<int>(r) / per_cell;
            const int block_row = static_cast<int>(r) % per_cell;
            for (int k = cell_row * kStripCells; k < std::min(cells, (cell_row + 1) * kStripCells);
                 ++k)
                for (int bx = 0; bx < per_cell; ++bx) {
                    const int col = (k % kStripCells) * per_cell + bx;
                    JCOEF* dst = out + (std::size_t(k) * kCellBlocks + first_block +
                                        block_row * per_cell + bx) *
                                           kCoefs;
                    std::memcpy(dst, line[0][col], sizeof(JBLOCK));
                }
        }
    }
    jpeg_destroy_decompress(&d);
    return true;
}

// Whether the library codes pictures at `quality` as cell_coefficients
// computes their cells; fills `q` when it does.
bool direct_quantisers(int quality, CellQuantisers& q) {
    jpeg_compress_struct c;
    QuietTrap trap;
    install_quiet_trap(trap);
    c.err = &trap.pub;
    volatile bool have_c = false;
    if (setjmp(trap.jump)) {
        if (have_c) jpeg_destroy_compress(&c);
        return false;
    }
    jpeg_create_compress(&c);
    have_c = true;
    c.image_width = kCell;
    c.image_height = kCell;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    const bool exact = exact_cell_quantisers(c, q);
    jpeg_destroy_compress(&c);
    return exact;
}

// The coefficients of the strip's cells: worked out here when `direct` is
// given, else coded and read back by the library.
bool code_strip(int quality, const CellQuantisers* direct, const Strip& strip,
                std::vector<JCOEF>& out) {
    if (strip.cells.empty()) return true;
    if (direct != nullptr) {
        out.resize(strip.cells.size() * kCellBlocks * kCoefs);
        for (std::size_t k = 0; k < strip.cells.size(); ++k) {
            const CellPixels& cell = strip.cells[k];
            cell_coefficients(cell.first, cell.stride, cell.row_bytes / 3, cell.rows, *direct,
                              out.data() + k * kCellBlocks * kCoefs);
        }
        return true;
    }
    int sw = 0, sh = 0;
    const std::vector<unsigned char> rgb = strip_pixels(strip, sw, sh);
    out.assign(strip.cells.size() * kCellBlocks * kCoefs, 0);
    unsigned char* coded = nullptr;
    unsigned long coded_size = 0;
    const bool ok = code_strip(quality, sw, sh, rgb.data(), static_cast<int>(strip.cells.size()),
                               out.data(), &coded, &coded_size);
    std::free(coded);
    return ok;
}

// The distinct mixed cells of a picture: each is coded once, and equal cells
// share its slot.
struct MixedCells {
    std::unordered_map<std::uint64_t, std::vector<int>> seen;  // pixel hash -> slots
    std::vector<CellPixels> kept;

    // The slot of an equal cell seen before, or a new one queued in strip.
    int slot(const CellPixels& pixels, Strip& strip) {
        std::vector<int>& same_hash = seen[pixels.hash()];
        for (int k : same_hash)
            if (kept[std::size_t(k)] == pixels) return k;
        const int entry = static_cast<int>(kept.size());
        same_hash.push_back(entry);
        kept.push_back(pixels);
        strip.cells.push_back(pixels);
        strip.slot.push_back(entry);
        return entry;
    }
};

// Sorts the cells into single-colour ones and strips, coding each distinct
// mixed cell (pixels and extent) once; false when fewer than half have one
// colour.
bool sort_cells(const unsigned char* img, FlatCells& cells, std::vector<std::uint32_t>& colours,
                Strip& full, Strip& last_row) {
    const int last_rows = cells.height - (cells.cells_high - 1) * kCell;
    last_row.rows = last_rows;
    int flat = 0, mixed = 0;
    MixedCells distinct;
    for (int cy = 0; cy < cells.cells_high; ++cy)
        for (int cx = 0; cx < cells.cells_wide; ++cx) {
            int& entry = cells.cell[std::size_t(cy) * cells.cells_wide + cx];
            if (single_colour(img, cells.width, cells.height, cx, cy)) {
                entry = palette_entry(
                    colours,
                    colour_at(img + 3 * (std::size_t(cy) * kCell * cells.width + cx * kCell)));
                if (entry < 0) {
                    ++flat;
                    continue;
                }
            }
            ++mixed;
            const CellPixels pixels(img, cells.width, cells.height, cx, cy);
            entry = distinct.slot(
                pixels, cy == cells.cells_high - 1 && last_rows < kCell ? last_row : full);
        }
    if (2 * flat < flat + mixed) return false;
    cells.mixed.assign(distinct.kept.size() * kCellBlocks * kCoefs, 0);
    return true;
}

// Bytes out through the library's destination manager, so that a failed
// write leaves through the library's error exit with its own message, as
// when the library writes.
struct ByteOut {
    jpeg_compress_struct& cinfo;
    void byte(unsigned v) {
        if (cinfo.dest->free_in_buffer == 0) (*cinfo.dest->empty_output_buffer)(&cinfo);
        *cinfo.dest->next_output_byte++ = static_cast<JOCTET>(v & 0xFF);
        --cinfo.dest->free_in_buffer;
    }
    void two(unsigned v) {
        byte(v >> 8);
        byte(v);
    }
    void marker(unsigned code) {
        byte(0xFF);
        byte(code);
    }
    void bytes(const unsigned char* p, std::size_t n) {
        while (n > 0) {
            if (cinfo.dest->free_in_buffer == 0) (*cinfo.dest->empty_output_buffer)(&cinfo);
            const std::size_t k = std::min(n, cinfo.dest->free_in_buffer);
            std::memcpy(cinfo.dest->next_output_byte, p, k);
            cinfo.dest->next_output_byte += k;
            cinfo.dest->free_in_buffer -= k;
            p += k;
            n -= k;
        }
    }
};

// Zigzag position -> natural (row-major) position in a block.
struct Zigzag {
    int natural[kCoefs];
    Zigzag() {
        int k = 0;
        for (int s = 0; s < 15; ++s)
            for (int i = 0; i <= s; ++i) {
                const int row = s % 2 ? i : s - i;  // odd diagonals run down, even ones up
                const int col = s - row;
                if (row < 8 && col < 8) natural[k++] = row * 8 + col;
            }
    }
};
const Zigzag kZigzag;

// Marker segments in the order and form the library writes them for a
// baseline picture: start of image, JFIF header, quantisation tables,
// frame header, Huffman tables, scan header.
void write_headers(const jpeg_compress_struct& c, ByteOut& out) {
    out.marker(0xD8);
    if (c.write_JFIF_header) {
        out.marker(0xE0);
        out.two(16);
        for (unsigned v : {'J', 'F', 'I', 'F', '\0'}) out.byte(v);
        out.byte(c.JFIF_major_version);
        out.byte(c.JFIF_minor_version);
        out.byte(c.density_unit);
        out.two(c.X_density);
        out.two(c.Y_density);
        out.two(0);  // no thumbnail
    }
    bool sent_quant[NUM_QUANT_TBLS] = {};
    for (int ci = 0; ci < c.num_components; ++ci) {
        const int t = c.comp_info[ci].quant_tbl_no;
        if (sent_quant[t]) continue;
        sent_quant[t] = true;
        out.marker(0xDB);
        out.two(kCoefs + 3);
        out.byte(static_cast<unsigned>(t));
        for (int k = 0; k < kCoefs; ++k)
            out.byte(c.quant_tbl_ptrs[t]->quantval[kZigzag.natural[k]]);
    }
    out.marker(0xC0);
    out.two(8 + 3 * c.num_components);
    out.byte(8);
    out.two(c.image_height);
    out.two(c.image_width);
    out.byte(static_cast<unsigned>(c.num_components));
    for (int ci = 0; ci < c.num_components; ++ci) {
        const jpeg_component_info& comp = c.comp_info[ci];
        out.byte(static_cast<unsigned>(comp.component_id));
        out.byte(static_cast<unsigned>(comp.h_samp_factor << 4 | comp.v_samp_factor));
        out.byte(static_cast<unsigned>(comp.quant_tbl_no));
    }
    bool sent_huff[2][NUM_HUFF_TBLS] = {};
    for (int ci = 0; ci < c.num_components; ++ci)
        for (int ac = 0; ac < 2; ++ac) {
            const int t = ac ? c.comp_info[ci].ac_tbl_no : c.comp_info[ci].dc_tbl_no;
            if (sent_huff[ac][t]) continue;
            sent_huff[ac][t] = true;
            const JHUFF_TBL* table = ac ? c.ac_huff_tbl_ptrs[t] : c.dc_huff_tbl_ptrs[t];
            unsigned count = 0;
            for (int l = 1; l <= 16; ++l) count += table->bits[l];
            out.marker(0xC4);
            out.two(2 + 1 + 16 + count);
            out.byte(static_cast<unsigned>(t + (ac ? 0x10 : 0)));
            for (int l = 1; l <= 16; ++l) out.byte(table->bits[l]);
            for (unsigned k = 0; k < count; ++k) out.byte(table->huffval[k]);
        }
    out.marker(0xDA);
    out.two(6 + 2 * c.num_components);
    out.byte(static_cast<unsigned>(c.num_components));
    for (int ci = 0; ci < c.num_components; ++ci) {
        const jpeg_component_info& comp = c.comp_info[ci];
        out.byte(static_cast<unsigned>(comp.component_id));
        out.byte(static_cast<unsigned>(comp.dc_tbl_no << 4 | comp.ac_tbl_no));
    }
    out.byte(0);   // spectral selection start
    out.byte(63);  // and end
    out.byte(0);   // no successive approximation
}

// Code and length of every symbol of a Huffman table, assigned in the
// canonical order of the code lengths.
struct HuffmanCodes {
    unsigned code[256] = {};
    int size[256] = {};
    explicit HuffmanCodes(const JHUFF_TBL& table) {
        unsigned next = 0;
        int k = 0;
        for (int length = 1; length <= 16; ++length, next <<= 1)
            for (int n = 0; n < table.bits[length]; ++n, ++k, ++next) {
                code[table.huffval[k]] = next;
                size[table.huffval[k]] = length;
            }
    }
};

// The entropy-coded bits, most significant first, with a 0 byte stuffed
// after every 0xFF byte; the last byte is filled up with 1 bits. Whole bytes
// are gathered here and handed on in runs.
class BitOut {
  public:
    explicit BitOut(ByteOut& out) : out_(out) {}
    // n <= 32 bits.
    void put(std::uint64_t bits, int n) {
        acc_ = acc_ << n | (bits & ((std::uint64_t{1} << n) - 1));
        count_ += n;
        if (count_ >= 32) emit_word();
    }
    void flush() {
        emit_whole_bytes();
        if (count_ > 0) put(0x7F, 8 - count_);
        emit_whole_bytes();
        out_.bytes(buffer_, length_);
        length_ = 0;
    }

  private:
    // The oldest 32 bits, at once when none of their bytes is 0xFF.
    void emit_word() {
        const auto word = static_cast<std::uint32_t>(acc_ >> (count_ - 32));
        const std::uint32_t inverted = ~word;
        if (((inverted - 0x01010101u) & ~inverted & 0x80808080u) != 0) {
            emit_whole_bytes();
            return;
        }
        count_ -= 32;
        buffer_[length_] = static_cast<unsigned char>(word >> 24);
        buffer_[length_ + 1] = static_cast<unsigned char>(word >> 16);
        buffer_[length_ + 2] = static_cast<unsigned char>(word >> 8);
        buffer_[length_ + 3] = static_cast<unsigned char>(word);
        length_ += 4;
        if (length_ > kBuffer - 16) {
            out_.bytes(buffer_, length_);
            length_ = 0;
        }
    }
    void emit_whole_bytes() {
        while (count_ >= 8) {
            count_ -= 8;
            const unsigned char b = static_cast<unsigned char>(acc_ >> count_);
            buffer_[length_++] = b;
            if (b == 0xFF) buffer_[length_++] = 0;
        }
        if (length_ > kBuffer - 16) {
            out_.bytes(buffer_, length_);
            length_ = 0;
        }
    }

    static constexpr std::size_t kBuffer = 4096;
    ByteOut& out_;
    std::uint64_t acc_ = 0;
    int count_ = 0;
    std::size_t length_ = 0;
    unsigned char buffer_[kBuffer];
};

// Magnitude category of v (bits of |v|) and the bits that code v in it.
inline int category(int v, unsigned& bits) {
    const unsigned magnitude = static_cast<unsigned>(v < 0 ? -v : v);
    bits = static_cast<unsigned>(v < 0 ? v - 1 : v);
    return magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
}

void encode_block(BitOut& bits, const JCOEF* block, int& last_dc, const HuffmanCodes& dc,
                  const HuffmanCodes& ac) {
    unsigned extra = 0;
    int n = category(block[0] - last_dc, extra);
    last_dc = block[0];
    bits.put(dc.code[n], dc.size[n]);
    if (n > 0) bits.put(extra, n);
    int run = 0;
    for (int k = 1; k < kCoefs; ++k) {
        const int v = block[kZigzag.natural[k]];
        if (v == 0) {
            ++run;
            continue;
        }
        for (; run > 15; run -= 16) bits.put(ac.code[0xF0], ac.size[0xF0]);
        n = category(v, extra);
        const int symbol = run << 4 | n;
        bits.put(std::uint64_t{ac.code[symbol]} << n | (extra & ((1u << n) - 1)),
                 ac.size[symbol] + n);
        run = 0;
    }
    if (run > 0) bits.put(ac.code[0], ac.size[0]);
}

// A block of the cell for a single-colour cell, or a padding block past the
// picture: the DC coefficient alone.
void encode_dc_only(BitOut& bits, int dc_value, int& last_dc, const HuffmanCodes& dc,
                    const HuffmanCodes& ac) {
    unsigned extra = 0;
    const int n = category(dc_value - last_dc, extra);
    last_dc = dc_value;
    bits.put(dc.code[n], dc.size[n]);
    if (n > 0) bits.put(extra, n);
    bits.put(ac.code[0], ac.size[0]);
}

// One interleaved scan over the cells in rows: four luminance blocks, then
// the two chroma blocks. Luminance blocks past the picture (of a last cell
// column or row half outside) repeat the DC coefficient of the block before
// them, as the library pads.
void write_scan(const jpeg_compress_struct& c, const FlatCells& cells, ByteOut& out) {
    const HuffmanCodes dc_luma(*c.dc_huff_tbl_ptrs[c.comp_info[0].dc_tbl_no]);
    const HuffmanCodes ac_luma(*c.ac_huff_tbl_ptrs[c.comp_info[0].ac_tbl_no]);
    const HuffmanCodes dc_chroma[2] = {HuffmanCodes(*c.dc_huff_tbl_ptrs[c.comp_info[1].dc_tbl_no]),
                                       HuffmanCodes(*c.dc_huff_tbl_ptrs[c.comp_info[2].dc_tbl_no])};
    const HuffmanCodes ac_chroma[2] = {HuffmanCodes(*c.ac_huff_tbl_ptrs[c.comp_info[1].ac_tbl_no]),
                                       HuffmanCodes(*c.ac_huff_tbl_ptrs[c.comp_info[2].ac_tbl_no])};
    const int luma_wide = (cells.width + 7) / 8;
    const int luma_high = (cells.height + 7) / 8;
    // A single-colour cell of the colour of the blocks before it (padding
    // blocks included) is six times a DC difference of 0 and an end of block.
    std::uint64_t same_bits = 0;
    int same_length = 0;
    auto append = [&](const HuffmanCodes& codes, int symbol) {
        same_bits = same_bits << codes.size[symbol] | codes.code[symbol];
        same_length += codes.size[symbol];
    };
    for (int b = 0; b < 4; ++b) append(dc_luma, 0), append(ac_luma, 0);
    for (int c = 0; c < 2; ++c) append(dc_chroma[c], 0), append(ac_chroma[c], 0);
    BitOut bits(out);
    int last_dc[3] = {0, 0, 0};
    for (int cy = 0; cy < cells.cells_high; ++cy)
        for (int cx = 0; cx < cells.cells_wide; ++cx) {
            const int cell = cells.cell[std::size_t(cy) * cells.cells_wide + cx];
            const JCOEF* blocks =
                cell >= 0 ? cells.mixed.data() + std::size_t(cell) * kCellBlocks * kCoefs : nullptr;
            const JCOEF* colour =
                cell < 0 ? cells.colour_dc.data() + std::size_t(-1 - cell) * 3 : nullptr;
            if (colour != nullptr && same_length <= 32 && colour[0] == last_dc[0] &&
                colour[1] == last_dc[1] && colour[2] == last_dc[2]) {
                bits.put(same_bits, same_length);
                continue;
            }
            for (int b = 0; b < 4; ++b) {
                const bool inside = 2 * cx + b % 2 < luma_wide && 2 * cy + b / 2 < luma_high;
                if (!inside)
                    encode_dc_only(bits, last_dc[0], last_dc[0], dc_luma, ac_luma);
                else if (blocks != nullptr)
                    encode_block(bits, blocks + b * kCoefs, last_dc[0], dc_luma, ac_luma);
                else
                    encode_dc_only(bits, colour[0], last_dc[0], dc_luma, ac_luma);
            }
            for (int ci = 1; ci < 3; ++ci) {
                if (blocks != nullptr)
                    encode_block(bits, blocks + (3 + ci) * kCoefs, last_dc[ci], dc_chroma[ci - 1],
                                 ac_chroma[ci - 1]);
                else
                    encode_dc_only(bits, colour[ci], last_dc[ci], dc_chroma[ci - 1],
                                   ac_chroma[ci - 1]);
            }
        }
    bits.flush();
}

}  // namespace

namespace {

bool sizes_fit(int ncols, int nrows) {
    // Sizes the library refuses are left to it, to be reported as it does.
    return ncols >= 1 && nrows >= 1 && ncols <= JPEG_MAX_DIMENSION && nrows <= JPEG_MAX_DIMENSION;
}

void start_cells(int ncols, int nrows, FlatCells& cells) {
    cells.width = ncols;
    cells.height = nrows;
    cells.cells_wide = (ncols + kCell - 1) / kCell;
    cells.cells_high = (nrows + kCell - 1) / kCell;
    cells.cell.assign(std::size_t(cells.cells_wide) * cells.cells_high, 0);
}

// Codes the strips (a cell of each colour leading the full-height one) and
// takes their coefficients into `cells`.
bool code_cells(int quality, const std::vector<std::uint32_t>& colours, const Strip& full,
                const Strip& last_row, FlatCells& cells) {
    std::vector<unsigned char> colour_tiles(colours.size() * 3 * kCell * kCell);
    Strip with_colours;
    for (std::size_t c = 0; c < colours.size(); ++c) {
        unsigned char* tile = colour_tiles.data() + c * 3 * kCell * kCell;
        for (int k = 0; k < kCell * kCell; ++k) {
            tile[3 * k] = static_cast<unsigned char>(colours[c] >> 16);
            tile[3 * k + 1] = static_cast<unsigned char>(colours[c] >> 8);
            tile[3 * k + 2] = static_cast<unsigned char>(colours[c]);
        }
        with_colours.cells.emplace_back(tile, kCell, kCell);
        with_colours.slot.push_back(-1 - static_cast<int>(c));
    }
    with_colours.cells.insert(with_colours.cells.end(), full.cells.begin(), full.cells.end());
    with_colours.slot.insert(with_colours.slot.end(), full.slot.begin(), full.slot.end());

    cells.colour_dc.assign(colours.size() * 3, 0);
    CellQuantisers quantisers;
    const CellQuantisers* direct = direct_quantisers(quality, quantisers) ? &quantisers : nullptr;
    for (const Strip* strip : {static_cast<const Strip*>(&with_colours), &last_row}) {
        std::vector<JCOEF> coefs;
        if (!code_strip(quality, direct, *strip, coefs)) return false;
        for (std::size_t k = 0; k < strip->slot.size(); ++k) {
            const JCOEF* blocks = coefs.data() + k * kCellBlocks * kCoefs;
            const int slot = strip->slot[k];
            if (slot < 0) {
                JCOEF* dc = cells.colour_dc.data() + std::size_t(-1 - slot) * 3;
                dc[0] = blocks[0];
                dc[1] = blocks[4 * kCoefs];
                dc[2] = blocks[5 * kCoefs];
            } else {
                std::copy_n(blocks, kCellBlocks * kCoefs,
                            cells.mixed.data() + std::size_t(slot) * kCellBlocks * kCoefs);
            }
        }
    }
    return true;
}

}  // namespace

bool flat_cells(int quality, int ncols, int nrows, const unsigned char* img, FlatCells& cells) {
    if (img == nullptr || !sizes_fit(ncols, nrows)) return false;
    try {
        start_cells(ncols, nrows, cells);
        std::vector<std::uint32_t> colours;
        Strip full, last_row;
        if (!sort_cells(img, cells, colours, full, last_row)) return false;
        return code_cells(quality, colours, full, last_row, cells);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool point_cells(int quality, int ncols, int nrows, const unsigned char* background,
                 const unsigned char* ink, std::span<const std::pair<int, int>> points,
                 FlatCells& cells) {
    if (!sizes_fit(ncols, nrows)) return false;
    try {
        start_cells(ncols, nrows, cells);
        // The points of every cell, cell by cell.
        std::vector<std::pair<int, int>> by_cell;  // (cell, point index)
        for (std::size_t k = 0; k < points.size(); ++k) {
            const auto [x, y] = points[k];
            if (x < 0 || x >= ncols || y < 0 || y >= nrows) continue;
            by_cell.emplace_back((y / kCell) * cells.cells_wide + x / kCell, static_cast<int>(k));
        }
        std::sort(by_cell.begin(), by_cell.end());
        std::size_t marked = 0;
        for (std::size_t k = 0; k < by_cell.size(); ++k)
            marked += k == 0 || by_cell[k].first != by_cell[k - 1].first;
        std::vector<unsigned char> tiles(marked * 3 * kCell * kCell);

        std::vector<std::uint32_t> colours = {colour_at(background)};
        const int last_rows = nrows - (cells.cells_high - 1) * kCell;
        Strip full, last_row;
        last_row.rows = last_rows;
        MixedCells distinct;
        std::size_t next = 0, tile_count = 0;
        long mixed = 0;
        const long total = long(cells.cells_wide) * cells.cells_high;
        for (int index = 0; index < total; ++index) {
            int& entry = cells.cell[std::size_t(index)];
            entry = -1;  // the background
            if (next == by_cell.size() || by_cell[next].first != index) continue;
            const int cx = index % cells.cells_wide, cy = index / cells.cells_wide;
            const int w = std::min(kCell, ncols - cx * kCell);
            const int h = std::min(kCell, nrows - cy * kCell);
            unsigned char* tile = tiles.data() + tile_count++ * 3 * kCell * kCell;
            for (int k = 0; k < kCell * kCell; ++k) std::memcpy(tile + 3 * k, background, 3);
            for (; next < by_cell.size() && by_cell[next].first == index; ++next) {
                const auto [x, y] = points[std::size_t(by_cell[next].second)];
                std::memcpy(tile + 3 * ((y - cy * kCell) * kCell + x - cx * kCell), ink, 3);
            }
            const CellPixels pixels(tile, w, h);
            if (pixels.uniform()) {
                entry = palette_entry(colours, colour_at(tile));  // two colours at most
                continue;
            }
            ++mixed;
            entry = distinct.slot(
                pixels, cy == cells.cells_high - 1 && last_rows < kCell ? last_row : full);
        }
        if (2 * mixed > total) return false;
        cells.mixed.assign(distinct.kept.size() * kCellBlocks * kCoefs, 0);
        return code_cells(quality, colours, full, last_row, cells);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool drawn_cells(int quality, int ncols, int nrows, const DrawnPicture& picture, FlatCells& cells) {
    if (!sizes_fit(ncols, nrows)) return false;
    try {
        start_cells(ncols, nrows, cells);
        // Each cell is drawn into the scratch tile; distinct mixed cells get a
        // tile of their own, where the strips read them.
        constexpr std::size_t kTileBytes = 3 * kCell * kCell;
        unsigned char scratch[kTileBytes];
        std::vector<std::unique_ptr<unsigned char[]>> kept_tiles;
        std::vector<std::uint32_t> colours;
        const int last_rows = nrows - (cells.cells_high - 1) * kCell;
        Strip full, last_row;
        last_row.rows = last_rows;
        MixedCells distinct;
        long flat = 0, mixed = 0;
        for (int cy = 0; cy < cells.cells_high; ++cy)
            for (int cx = 0; cx < cells.cells_wide; ++cx) {
                int& entry = cells.cell[std::size_t(cy) * cells.cells_wide + cx];
                const int w = std::min(kCell, ncols - cx * kCell);
                const int h = std::min(kCell, nrows - cy * kCell);
                const bool named = picture.flat(cx, cy, scratch);
                if (!named) picture.draw(cx, cy, scratch);
                if (named || CellPixels(scratch, w, h).uniform()) {
                    entry = palette_entry(colours, colour_at(scratch));
                    if (entry < 0) {
                        ++flat;
                        continue;
                    }
                    // Coded as a mixed cell after all: its pixels are needed.
                    if (named) picture.draw(cx, cy, scratch);
                }
                ++mixed;
                Strip& strip = cy == cells.cells_high - 1 && last_rows < kCell ? last_row : full;
                const std::size_t known = distinct.kept.size();
                entry = distinct.slot(CellPixels(scratch, w, h), strip);
                if (distinct.kept.size() == known) continue;
                // A new cell: its pixels move from the scratch tile to a tile of their own.
                kept_tiles.push_back(std::make_unique_for_overwrite<unsigned char[]>(kTileBytes));
                std::memcpy(kept_tiles.back().get(), scratch, kTileBytes);
                distinct.kept.back().first = kept_tiles.back().get();
                strip.cells.back().first = kept_tiles.back().get();
            }
        if (2 * flat < flat + mixed) return false;
        cells.mixed.assign(distinct.kept.size() * kCellBlocks * kCoefs, 0);
        return code_cells(quality, colours, full, last_row, cells);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void write_cells(jpeg_compress_struct& cinfo, const FlatCells& cells) {
    (*cinfo.dest->init_destination)(&cinfo);
    ByteOut out{cinfo};
    write_headers(cinfo, out);
    write_scan(cinfo, cells, out);
    out.marker(0xD9);  // end of image
    (*cinfo.dest->term_destination)(&cinfo);
}

}  // namespace orva
