// Text written while an item of per-image work runs on a worker thread, held
// back so that it can be written out in image order.
//
// Standard output and standard error are replaced, once, by streams that pass
// every write straight on to the original ones, except on a thread that is
// collecting: there the text goes into that thread's ItemText instead, with the
// stream it was meant for. Writing the collected segments out later gives the
// same bytes in the same order on each stream, and the same interleaving of
// the streams, as writing them at once. Library messages (libjpeg, libpng,
// perror) reach the same streams and are collected too.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace orva {

class ItemText {
  public:
    void append(std::FILE* target, const char* data, std::size_t n);
    // Writes the segments to their streams in order and forgets them.
    void emit();
    bool empty() const { return segments_.empty(); }

  private:
    struct Segment {
        std::FILE* target;
        std::string text;
    };
    std::vector<Segment> segments_;
};

// Replaces stdout and stderr by the passing streams; later calls do nothing.
// Call it before the first thread is started. False when the streams could
// not be made (text then cannot be held back).
bool install_ordered_standard_streams();

// While alive, writes on this thread through a passing stream go into `text`.
class CollectText {
  public:
    explicit CollectText(ItemText& text);
    ~CollectText();
    CollectText(const CollectText&) = delete;
    CollectText& operator=(const CollectText&) = delete;

  private:
    ItemText* previous_;
};

// A passing stream for `target` (a log file, say): for work items to write to
// so that their text lands in image order. The stream lives as long as the
// program; it must not be closed.
std::FILE* ordered_stream(std::FILE* target);

}  // namespace orva
