// Per-image work on every core the process may use, with the same text, in
// the same order, at any number of threads.
//
// map_images runs work(i, slot) for the items i = 0 .. n-1 (images, say) on
// worker threads that take the items in index order. What an item writes to
// standard output, standard error or an ordered_stream (see ordered_text.h)
// is held back and written out in index order; after item i's text,
// in_order(i) runs on the calling thread, in index order, for whatever must
// follow the items one by one (a check against the items before, sums in a
// fixed order, handing results on). slot (0 .. map_slots(n) - 1) names the
// thread an item runs on: per-thread buffers indexed by slot are used by one
// item at a time and can be reused from item to item.
//
// The first nonzero status, of work(i) and then in_order(i) in index order,
// ends the map with that status, exactly as a plain loop that returns there:
// the text of later items is dropped, and their results must be left alone by
// the caller (work should write only its own item's results, or leave the
// handing on to in_order). An item that ends the program (end_program) or
// throws does so, from the calling thread, at its place in the order.
//
// Thread count: ORVA_THREADS when it holds a positive integer, else the
// number of CPUs in the process's affinity mask. With one thread no thread is
// started and nothing is held back: the items run in a plain loop.
#pragma once

#include <functional>

namespace orva {

constexpr const char* THREADS_VARIABLE = "ORVA_THREADS";
constexpr int MAX_THREADS = 256;

int worker_count();
// Slots a map over n items uses: min(worker_count(), n), at least 1.
int map_slots(int n);

using ItemWork = std::function<int(int index, int slot)>;
using InOrderStep = std::function<int(int index)>;

int map_images(int n, const ItemWork& work, const InOrderStep& in_order = nullptr);

}  // namespace orva
