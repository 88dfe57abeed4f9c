// Bounded byte input: thin layer over a stdio stream that never hides the end
// of the file (see byte_reader.h).
#include "imageio/byte_reader.h"

#include <sys/stat.h>

#include <cctype>
#include <climits>

#include "toolkit/safe_files.h"

namespace orva {

std::uint32_t decode_u16(const unsigned char* bytes, ByteOrder order) {
    if (order == ByteOrder::MostSignificantFirst) return (std::uint32_t{bytes[0]} << 8) | bytes[1];
    return (std::uint32_t{bytes[1]} << 8) | bytes[0];
}

std::uint32_t decode_u32(const unsigned char* bytes, ByteOrder order) {
    if (order == ByteOrder::MostSignificantFirst)
        return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
               (std::uint32_t{bytes[2]} << 8) | bytes[3];
    return (std::uint32_t{bytes[3]} << 24) | (std::uint32_t{bytes[2]} << 16) |
           (std::uint32_t{bytes[1]} << 8) | bytes[0];
}

ByteReader::~ByteReader() {
    if (owned_ && file_ != nullptr) std::fclose(file_);
}

bool ByteReader::open(const char* name) {
    if (owned_ && file_ != nullptr) std::fclose(file_);
    // Never waits on a FIFO and never reads a device or directory.
    std::string reason;
    file_ = open_input_stream(name, false, reason);
    owned_ = file_ != nullptr;
    return owned_;
}

int ByteReader::get() {
    return file_ != nullptr ? std::getc(file_) : EOF;
}

void ByteReader::unget(int c) {
    if (c != EOF && file_ != nullptr) std::ungetc(c, file_);
}

bool ByteReader::read(unsigned char* dst, std::size_t n) {
    return read_some(dst, n) == n;
}

std::size_t ByteReader::read_some(unsigned char* dst, std::size_t n) {
    if (file_ == nullptr || n == 0) return 0;
    return std::fread(dst, 1, n, file_);
}

bool ByteReader::seek(std::uint64_t offset) {
    const auto total = size();
    if (file_ == nullptr || !total || offset > *total) return false;
    if (offset > static_cast<std::uint64_t>(LONG_MAX)) return false;
    return std::fseek(file_, static_cast<long>(offset), SEEK_SET) == 0;
}

bool ByteReader::read_u16(ByteOrder order, std::uint32_t& value) {
    unsigned char bytes[2];
    if (!read(bytes, 2)) return false;
    value = decode_u16(bytes, order);
    return true;
}

bool ByteReader::read_u32(ByteOrder order, std::uint32_t& value) {
    unsigned char bytes[4];
    if (!read(bytes, 4)) return false;
    value = decode_u32(bytes, order);
    return true;
}

std::optional<std::uint64_t> ByteReader::size() const {
    struct stat info {};
    if (file_ == nullptr || fstat(fileno(file_), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

std::optional<std::uint64_t> ByteReader::remaining() const {
    const auto total = size();
    if (!total) return std::nullopt;
    const long here = std::ftell(file_);
    if (here < 0) return std::nullopt;
    const auto position = static_cast<std::uint64_t>(here);
    return position < *total ? *total - position : 0;
}

bool ByteReader::read_word(std::string& word, std::size_t max_len) {
    int c = get();
    while (c != EOF && std::isspace(c)) c = get();
    if (c == EOF) return false;
    word.clear();
    while (c != EOF && !std::isspace(c)) {
        if (word.size() < max_len) word.push_back(static_cast<char>(c));
        c = get();
    }
    unget(c);
    return true;
}

bool ByteReader::read_decimal(long& value) {
    int c = get();
    while (c != EOF && std::isspace(c)) c = get();
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = get();
    }
    if (c == EOF || !std::isdigit(c)) {
        unget(c);
        return false;
    }
    long magnitude = 0;
    bool overflow = false;
    while (c != EOF && std::isdigit(c)) {
        const int digit = c - '0';
        if (magnitude > (LONG_MAX - digit) / 10)
            overflow = true;
        else
            magnitude = magnitude * 10 + digit;
        c = get();
    }
    unget(c);
    if (overflow) return false;
    value = negative ? -magnitude : magnitude;
    return true;
}

}  // namespace orva
