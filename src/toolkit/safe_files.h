// Opening files without being led astray by what lies at their names.
//
// Output files the program names itself (the marker, the run logs, the cross
// pictures) live in the working directory, where anyone who can write there may
// have planted something. open_output_fd never writes through a link: a
// symbolic link, or a regular file with a second hard link, is removed and a new
// file created in its place; a regular file is truncated in place and keeps its
// permission bits; a directory, FIFO, device or socket is refused and left as it
// is, and nothing here waits for the other end of a FIFO.
//
// Input files are opened without blocking and checked for their type, so a FIFO
// with no writer, a device or a directory named as an input is refused at once
// instead of hanging the run or being read as data.
//
// Failures come back as a reason text ("No space left on device", "it is a
// FIFO (named pipe)") for the caller's own message.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace orva {

// Status of a run whose run log ("logORVA.txt") or figures file
// ("log_res2.txt") cannot be created or written completely.
constexpr int LOG_FILE_ERROR = 92;

// What a file of this mode is, for messages: "a directory", "a FIFO (named
// pipe)", "a character device", "a block device", "a socket", "a symbolic link",
// "a regular file" or "a file of unknown type".
const char* file_kind(mode_t mode);

// Opens `name` for writing as an empty regular file (see above). Returns the
// descriptor, or -1 with `reason` set.
int open_output_fd(const char* name, std::string& reason);

// The same as a stdio stream; null with `reason` set.
std::FILE* open_output_stream(const char* name, std::string& reason);

// Flushes and closes a stream from open_output_stream; false with `reason` set
// when any write into it or the close failed. The stream is closed either way.
bool close_output_stream(std::FILE* file, std::string& reason);

// Writes the whole of `content` to `fd`, going on after interruptions; false
// with errno set.
bool write_fully(int fd, std::string_view content);

// Writes `content` as the whole file `name`, through open_output_fd. A failure
// after the file was opened leaves it truncated, never with its old content.
bool write_output_file(const char* name, std::string_view content, std::string& reason);

// "\nORVA: Cannot write <name>: <reason>\n" on standard error.
void report_output_failure(const char* name, const std::string& reason);

// Opens `name` for reading: a regular file, or also a FIFO when `allow_fifo`
// (reading it then ends at once when nobody writes). Returns the descriptor, or
// -1 with `reason` set and errno set (EISDIR for a directory, EINVAL for other
// refused kinds).
int open_input_fd(const char* name, bool allow_fifo, std::string& reason);

// The same as a stdio stream for binary reading; null with `reason` and errno set.
std::FILE* open_input_stream(const char* name, bool allow_fifo, std::string& reason);

}  // namespace orva
