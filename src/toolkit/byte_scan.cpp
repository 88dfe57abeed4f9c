// Zero-skipping byte scans (see byte_scan.h): whole 64-bit words of zeros are
// passed over, and the first word holding a nonzero byte names its place by
// its lowest (or highest) set bit; the bytes are little-endian.
#include "toolkit/byte_scan.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace orva {
namespace {

static_assert(std::endian::native == std::endian::little, "byte i of a word is bits 8i .. 8i + 7");

using Word = std::uint64_t;
constexpr std::size_t kWordBytes = sizeof(Word);

bool zero_word(const unsigned char* p) {
    Word w;
    std::memcpy(&w, p, kWordBytes);
    return w == 0;
}

// Four words at once: one test per 32 bytes of an empty row.
constexpr std::size_t kBlockBytes = 4 * kWordBytes;

bool zero_block(const unsigned char* p) {
    Word w[4];
    std::memcpy(w, p, kBlockBytes);
    return (w[0] | w[1] | w[2] | w[3]) == 0;
}

}  // namespace

std::size_t first_nonzero(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    while (i + kBlockBytes <= n && zero_block(p + i)) i += kBlockBytes;
    while (i + kWordBytes <= n && zero_word(p + i)) i += kWordBytes;
    if (i + kWordBytes <= n) {
        // The word holds a nonzero byte: the lowest one comes first.
        Word w;
        std::memcpy(&w, p + i, kWordBytes);
        return i + static_cast<std::size_t>(__builtin_ctzll(w)) / 8;
    }
    while (i < n && p[i] == 0) ++i;
    return i;
}

std::size_t last_nonzero(const unsigned char* p, std::size_t n) {
    std::size_t end = n;  // bytes [end, n) are known to be 0
    while (end >= kBlockBytes && zero_block(p + end - kBlockBytes)) end -= kBlockBytes;
    while (end >= kWordBytes && zero_word(p + end - kWordBytes)) end -= kWordBytes;
    if (end >= kWordBytes) {
        // The word holds a nonzero byte: the highest one comes last.
        Word w;
        std::memcpy(&w, p + end - kWordBytes, kWordBytes);
        return end - 1 - static_cast<std::size_t>(__builtin_clzll(w)) / 8;
    }
    while (end > 0 && p[end - 1] == 0) --end;
    return end == 0 ? n : end - 1;
}

}  // namespace orva
