// Passing streams (fopencookie) and the per-thread collection of their text.
//
// A passing stream is unbuffered, so every write reaches pass_on at once, on
// the writing thread and under the stream's lock; the original streams keep
// their own buffering. The streams and their registry are never destroyed:
// work may still write while the program ends.
#include "parallel/ordered_text.h"

#include <sys/types.h>

#include <map>
#include <mutex>

namespace orva {

namespace {

thread_local ItemText* collecting = nullptr;

ssize_t pass_on(void* cookie, const char* data, std::size_t n) {
    std::FILE* target = static_cast<std::FILE*>(cookie);
    if (collecting != nullptr) {
        collecting->append(target, data, n);
        return static_cast<ssize_t>(n);
    }
    return static_cast<ssize_t>(std::fwrite(data, 1, n, target));
}

std::FILE* open_passing_stream(std::FILE* target) {
    cookie_io_functions_t io{};
    io.write = pass_on;
    std::FILE* stream = fopencookie(target, "w", io);
    if (stream != nullptr) std::setvbuf(stream, nullptr, _IONBF, 0);
    return stream;
}

struct Registry {
    std::mutex mutex;
    std::map<std::FILE*, std::FILE*> streams;  // target -> passing stream
};

Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

}  // namespace

void ItemText::append(std::FILE* target, const char* data, std::size_t n) {
    if (segments_.empty() || segments_.back().target != target) segments_.push_back({target, {}});
    segments_.back().text.append(data, n);
}

void ItemText::emit() {
    for (const Segment& s : segments_) std::fwrite(s.text.data(), 1, s.text.size(), s.target);
    segments_.clear();
}

bool install_ordered_standard_streams() {
    static const bool installed = [] {
        std::FILE* out = ordered_stream(stdout);
        std::FILE* err = ordered_stream(stderr);
        if (out == stdout || err == stderr) return false;
        stdout = out;
        stderr = err;
        return true;
    }();
    return installed;
}

CollectText::CollectText(ItemText& text) : previous_(collecting) {
    collecting = &text;
}

CollectText::~CollectText() {
    collecting = previous_;
}

std::FILE* ordered_stream(std::FILE* target) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const auto& [t, stream] : r.streams)
        if (stream == target) return target;  // already a passing stream
    auto it = r.streams.find(target);
    if (it != r.streams.end()) return it->second;
    std::FILE* stream = open_passing_stream(target);
    if (stream == nullptr) return target;
    r.streams.emplace(target, stream);
    return stream;
}

}  // namespace orva
