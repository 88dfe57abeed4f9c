// Bounded byte input from a file for the hand-written image readers.
//
// Every read reports end of file or a failed seek instead of inventing zeros,
// and the file size is known up front so that offsets and sizes taken from a
// file can be checked before anything is allocated or read. Multi-byte numbers
// are decoded in the byte order the caller names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace orva {

enum class ByteOrder {
    MostSignificantFirst,   // "MM" TIFF files
    LeastSignificantFirst,  // "II" TIFF files
};

// Numbers stored in a byte array.
std::uint32_t decode_u16(const unsigned char* bytes, ByteOrder order);
std::uint32_t decode_u32(const unsigned char* bytes, ByteOrder order);

// Largest image, in pixels, any reader accepts; a larger size in a header is
// taken as damage rather than a reason to allocate gigabytes.
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{1} << 27;

class ByteReader {
  public:
    ByteReader() = default;
    // Reads from a stream the caller opened and keeps; it is not closed here.
    explicit ByteReader(std::FILE* borrowed) : file_(borrowed) {}
    ByteReader(const ByteReader&) = delete;
    ByteReader& operator=(const ByteReader&) = delete;
    ~ByteReader();

    // Opens `name` for binary reading; false with errno set on failure.
    bool open(const char* name);
    bool is_open() const { return file_ != nullptr; }
    // The underlying stream, for code that reads through it in turn.
    std::FILE* stream() const { return file_; }

    // Next byte (0 to 255), or EOF.
    int get();
    // Puts back the byte `get` returned; EOF is ignored.
    void unget(int c);
    // Reads exactly `n` bytes; false when the file ends first.
    bool read(unsigned char* dst, std::size_t n);
    // Reads up to `n` bytes and returns how many there were.
    std::size_t read_some(unsigned char* dst, std::size_t n);
    // Moves to `offset` from the start; false when that lies beyond the end.
    bool seek(std::uint64_t offset);

    bool read_u16(ByteOrder order, std::uint32_t& value);
    bool read_u32(ByteOrder order, std::uint32_t& value);

    // Size of a regular file in bytes; nothing for pipes and the like.
    std::optional<std::uint64_t> size() const;
    // Bytes left after the current position, when the size is known.
    std::optional<std::uint64_t> remaining() const;

    // Skips white space like "%s" and reads one word of at most `max_len`
    // characters (longer words are read whole and cut); false at end of file.
    bool read_word(std::string& word, std::size_t max_len);
    // Skips white space like "%d" and reads an optionally signed decimal
    // integer; false at end of file, without digits, or beyond `long`.
    bool read_decimal(long& value);

  private:
    std::FILE* file_ = nullptr;
    bool owned_ = false;
};

}  // namespace orva
