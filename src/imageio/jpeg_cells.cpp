// JPEG coefficients of mostly single-colour RGB pictures (see the header).
//
// Coefficient layout as the library's: per component a row-major grid of
// 8 x 8 blocks of 64 coefficients in zigzag order. Luminance has two blocks
// per cell in each direction, each chroma component one. Only the blocks the
// library keeps for the picture are filled (luminance ceil(W / 8) x
// ceil(H / 8), chroma ceil(W / 16) x ceil(H / 16)); the library makes the
// padding blocks of the last cell row and column itself.
#include "imageio/jpeg_cells.h"

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

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

// Whether the cell's pixels inside the picture all have the colour of its
// first pixel.
bool single_colour(const unsigned char* img, int width, int height, int cx, int cy) {
    const int x0 = cx * kCell;
    const int y0 = cy * kCell;
    const int w = std::min(kCell, width - x0);
    const int h = std::min(kCell, height - y0);
    const unsigned char* first = img + 3 * (std::size_t(y0) * width + x0);
    unsigned char row[3 * kCell];
    for (int x = 0; x < w; ++x) std::memcpy(row + 3 * x, first, 3);
    for (int y = 0; y < h; ++y)
        if (std::memcmp(first + 3 * std::size_t(y) * width, row, 3 * std::size_t(w)) != 0)
            return false;
    return true;
}

// The cells that go into one strip picture: pictures cells (cx, cy), or a
// cell filled with one colour (cx = -1, cy = the colour).
struct Strip {
    std::vector<std::pair<int, int>> cells;
    std::vector<int> slot;  // where each cell's blocks go in FlatCells::mixed, or the colour
    int rows = kCell;       // pixel rows of every cell
};

// The strip's pixels: cells side by side, kStripCells to a row of cells;
// columns past the picture's right edge repeat its last column.
std::vector<unsigned char> strip_pixels(const unsigned char* img, int width, const Strip& strip,
                                        int& strip_width, int& strip_height) {
    const int n = static_cast<int>(strip.cells.size());
    const int across = std::min(n, kStripCells);
    const int down = (n + kStripCells - 1) / kStripCells;
    strip_width = across * kCell;
    strip_height = down * strip.rows;
    std::vector<unsigned char> rgb(3 * std::size_t(strip_width) * strip_height, 0);
    for (int k = 0; k < n; ++k) {
        const auto [cx, cy] = strip.cells[k];
        unsigned char* dst =
            rgb.data() + 3 * (std::size_t(k / kStripCells) * strip.rows * strip_width +
                              std::size_t(k % kStripCells) * kCell);
        for (int y = 0; y < strip.rows; ++y, dst += 3 * std::size_t(strip_width)) {
            if (cx < 0) {
                const unsigned char c[3] = {static_cast<unsigned char>(cy >> 16),
                                            static_cast<unsigned char>(cy >> 8),
                                            static_cast<unsigned char>(cy)};
                for (int x = 0; x < kCell; ++x) std::memcpy(dst + 3 * x, c, 3);
                continue;
            }
            const int x0 = cx * kCell;
            const int w = std::min(kCell, width - x0);
            const unsigned char* src = img + 3 * ((std::size_t(cy) * kCell + y) * width + x0);
            std::memcpy(dst, src, 3 * std::size_t(w));
            for (int x = w; x < kCell; ++x) std::memcpy(dst + 3 * x, src + 3 * (w - 1), 3);
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

bool code_strip(int quality, const unsigned char* img, int width, const Strip& strip,
                std::vector<JCOEF>& out) {
    if (strip.cells.empty()) return true;
    int sw = 0, sh = 0;
    const std::vector<unsigned char> rgb = strip_pixels(img, width, strip, sw, sh);
    out.assign(strip.cells.size() * kCellBlocks * kCoefs, 0);
    unsigned char* coded = nullptr;
    unsigned long coded_size = 0;
    const bool ok = code_strip(quality, sw, sh, rgb.data(), static_cast<int>(strip.cells.size()),
                               out.data(), &coded, &coded_size);
    std::free(coded);
    return ok;
}

// Sorts the cells into single-colour ones and strips; false when fewer than
// half have one colour.
bool sort_cells(const unsigned char* img, FlatCells& cells, std::vector<std::uint32_t>& colours,
                Strip& full, Strip& last_row) {
    const int last_rows = cells.height - (cells.cells_high - 1) * kCell;
    last_row.rows = last_rows;
    int flat = 0, mixed = 0;
    for (int cy = 0; cy < cells.cells_high; ++cy)
        for (int cx = 0; cx < cells.cells_wide; ++cx) {
            int& entry = cells.cell[std::size_t(cy) * cells.cells_wide + cx];
            if (single_colour(img, cells.width, cells.height, cx, cy)) {
                const std::uint32_t c =
                    colour_at(img + 3 * (std::size_t(cy) * kCell * cells.width + cx * kCell));
                auto it = std::find(colours.begin(), colours.end(), c);
                if (it != colours.end() || colours.size() < kMaxColours) {
                    if (it == colours.end()) it = colours.insert(colours.end(), c);
                    entry = -1 - static_cast<int>(it - colours.begin());
                    ++flat;
                    continue;
                }
            }
            entry = mixed++;
            Strip& strip = cy == cells.cells_high - 1 && last_rows < kCell ? last_row : full;
            strip.cells.emplace_back(cx, cy);
            strip.slot.push_back(entry);
        }
    if (2 * flat < flat + mixed) return false;
    cells.mixed.assign(std::size_t(mixed) * kCellBlocks * kCoefs, 0);
    return true;
}

// Luminance block (bx, by) or chroma block (cx, cy) of component ci.
void fill_block(const FlatCells& cells, int ci, int bx, int by, JCOEF* block) {
    const int per_cell = ci == 0 ? 2 : 1;
    const int cell = cells.cell[std::size_t(by / per_cell) * cells.cells_wide + bx / per_cell];
    if (cell < 0) {
        std::memset(block, 0, sizeof(JBLOCK));
        block[0] = cells.colour_dc[std::size_t(-1 - cell) * 3 + ci];
        return;
    }
    const int within = ci == 0 ? (by % 2) * 2 + bx % 2 : 3 + ci;
    std::memcpy(block, cells.mixed.data() + (std::size_t(cell) * kCellBlocks + within) * kCoefs,
                sizeof(JBLOCK));
}

}  // namespace

bool flat_cells(int quality, int ncols, int nrows, const unsigned char* img, FlatCells& cells) {
    if (img == nullptr || ncols < 1 || nrows < 1) return false;
    try {
        cells.width = ncols;
        cells.height = nrows;
        cells.cells_wide = (ncols + kCell - 1) / kCell;
        cells.cells_high = (nrows + kCell - 1) / kCell;
        cells.cell.assign(std::size_t(cells.cells_wide) * cells.cells_high, 0);
        std::vector<std::uint32_t> colours;
        Strip full, last_row;
        if (!sort_cells(img, cells, colours, full, last_row)) return false;
        // One cell of each colour leads the full-height strip.
        Strip with_colours;
        for (std::size_t c = 0; c < colours.size(); ++c) {
            with_colours.cells.emplace_back(-1, static_cast<int>(colours[c]));
            with_colours.slot.push_back(-1 - static_cast<int>(c));
        }
        with_colours.cells.insert(with_colours.cells.end(), full.cells.begin(), full.cells.end());
        with_colours.slot.insert(with_colours.slot.end(), full.slot.begin(), full.slot.end());

        cells.colour_dc.assign(colours.size() * 3, 0);
        for (const Strip* strip : {&with_colours, &last_row}) {
            std::vector<JCOEF> coefs;
            if (!code_strip(quality, img, ncols, *strip, coefs)) return false;
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
    } catch (const std::bad_alloc&) {
        return false;
    }
}

jvirt_barray_ptr* cell_coefficients(jpeg_compress_struct& cinfo, const FlatCells& cells) {
    j_common_ptr common = reinterpret_cast<j_common_ptr>(&cinfo);
    auto* arrays = static_cast<jvirt_barray_ptr*>(
        (*cinfo.mem->alloc_small)(common, JPOOL_IMAGE, 3 * sizeof(jvirt_barray_ptr)));
    JDIMENSION wide[3], high[3], rows[3];
    for (int ci = 0; ci < 3; ++ci) {
        const jpeg_component_info& comp = cinfo.comp_info[ci];
        const int per_cell = ci == 0 ? 2 : 1;
        const int block = kCell / per_cell;
        wide[ci] = static_cast<JDIMENSION>((cells.width + block - 1) / block);
        high[ci] = static_cast<JDIMENSION>((cells.height + block - 1) / block);
        const JDIMENSION v = static_cast<JDIMENSION>(comp.v_samp_factor);
        const JDIMENSION h = static_cast<JDIMENSION>(comp.h_samp_factor);
        rows[ci] = (high[ci] + v - 1) / v * v;
        arrays[ci] = (*cinfo.mem->request_virt_barray)(common, JPOOL_IMAGE, FALSE,
                                                       (wide[ci] + h - 1) / h * h, rows[ci], v);
    }
    (*cinfo.mem->realize_virt_arrays)(common);
    for (int ci = 0; ci < 3; ++ci)
        // Every row is written, so that the library may read the rows it
        // pads with; the blocks past the picture are never read.
        for (JDIMENSION r = 0; r < rows[ci]; ++r) {
            JBLOCKARRAY line = (*cinfo.mem->access_virt_barray)(common, arrays[ci], r, 1, TRUE);
            if (r >= high[ci]) continue;
            for (JDIMENSION b = 0; b < wide[ci]; ++b)
                fill_block(cells, ci, static_cast<int>(b), static_cast<int>(r), line[0][b]);
        }
    return arrays;
}

}  // namespace orva
