// Per-image work on worker threads (std::thread), its text in index order.
//
// The calling thread only waits for the items in index order, writes their
// text out and runs in_order; the workers take the next index from an atomic
// counter and stop taking new ones past the lowest failing index. Fatal ends
// (end_program) on a worker are thrown back as ProgramEnd and carried out by
// the calling thread once the items before have been written.
#include "parallel/image_map.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "parallel/ordered_text.h"
#include "toolkit/program_end.h"

namespace orva {

namespace {

struct ProgramEnd {
    int status;
};

// Set while a thread runs map work that must hand a fatal end back.
thread_local bool hand_back_end = false;

void throw_program_end(int status) {
    if (hand_back_end) throw ProgramEnd{status};
}

// A positive integer up to MAX_THREADS, or 0.
int threads_from(const char* text) {
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 1) return 0;
    return static_cast<int>(std::min<long>(value, MAX_THREADS));
}

int affinity_cpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

struct Item {
    ItemText text;
    int status = 0;
    bool ended = false;  // the item ended the program with `status`
    std::exception_ptr error;
    bool done = false;  // guarded by Shared::mutex
    bool failed() const { return status != 0 || ended || error; }
};

struct Shared {
    explicit Shared(int n) : items(static_cast<std::size_t>(n)), stop(n) {}
    std::vector<Item> items;
    std::atomic<int> next{0};
    std::atomic<int> stop;  // items above this index are not started
    std::mutex mutex;
    std::condition_variable item_done;

    void stop_after(int index) {
        int current = stop.load();
        while (index < current && !stop.compare_exchange_weak(current, index)) {
        }
    }
};

// Runs one item, collecting its text and catching how it ends.
void run_item(const ItemWork& work, int index, int slot, Item& item) {
    CollectText collect(item.text);
    hand_back_end = true;
    try {
        item.status = work(index, slot);
    } catch (const ProgramEnd& end) {
        item.ended = true;
        item.status = end.status;
    } catch (...) {
        item.error = std::current_exception();
    }
    hand_back_end = false;
}

void worker(Shared& shared, const ItemWork& work, int slot) {
    const int n = static_cast<int>(shared.items.size());
    for (;;) {
        const int i = shared.next.fetch_add(1);
        if (i >= n || i > shared.stop.load()) return;
        Item& item = shared.items[static_cast<std::size_t>(i)];
        run_item(work, i, slot, item);
        if (item.failed()) shared.stop_after(i);
        {
            std::lock_guard<std::mutex> lock(shared.mutex);
            item.done = true;
        }
        shared.item_done.notify_all();
    }
}

int run_in_order(const InOrderStep& in_order, int index, Item& item) {
    hand_back_end = true;
    try {
        item.status = in_order(index);
    } catch (const ProgramEnd& end) {
        item.ended = true;
        item.status = end.status;
    } catch (...) {
        item.error = std::current_exception();
    }
    hand_back_end = false;
    return item.failed() ? 1 : 0;
}

int sequential_map(int n, const ItemWork& work, const InOrderStep& in_order) {
    for (int i = 0; i < n; ++i) {
        int status = work(i, 0);
        if (status == 0 && in_order) status = in_order(i);
        if (status != 0) return status;
    }
    return 0;
}

}  // namespace

int worker_count() {
    const int chosen = threads_from(std::getenv(THREADS_VARIABLE));
    return chosen > 0 ? chosen : std::min(affinity_cpus(), MAX_THREADS);
}

int map_slots(int n) {
    return std::max(1, std::min(worker_count(), n));
}

int map_images(int n, const ItemWork& work, const InOrderStep& in_order) {
    if (n <= 0) return 0;
    const int slots = map_slots(n);
    if (slots == 1 || !install_ordered_standard_streams()) return sequential_map(n, work, in_order);
    static const bool handler_set = (set_program_end_handler(throw_program_end), true);
    (void)handler_set;

    Shared shared(n);
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(slots));
    for (int slot = 0; slot < slots; ++slot)
        threads.emplace_back(worker, std::ref(shared), std::cref(work), slot);

    Item* last = nullptr;
    for (int i = 0; i < n; ++i) {
        Item& item = shared.items[static_cast<std::size_t>(i)];
        {
            std::unique_lock<std::mutex> lock(shared.mutex);
            shared.item_done.wait(lock, [&item] { return item.done; });
        }
        item.text.emit();
        if (!item.failed() && in_order) run_in_order(in_order, i, item);
        if (item.failed()) {
            shared.stop_after(i);
            last = &item;
            break;
        }
    }
    for (std::thread& t : threads) t.join();
    if (last == nullptr) return 0;
    if (last->error) std::rethrow_exception(last->error);
    if (last->ended) std::exit(last->status);
    return last->status;
}

}  // namespace orva
