// Jobs that may run beside the rest of the run (writing inspection files, say)
// on one background thread, in the order they were handed in.
//
// finish() (also called by the destructor) waits until every job is done and
// then writes the text the jobs wrote to standard output and error, in job
// order. With one thread (worker_count() == 1) no thread is started: submit
// runs the job at once and its text goes out at once.
// At most a few jobs wait at a time; submit blocks while the queue is full, so
// what the jobs hold stays bounded.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "parallel/ordered_text.h"

namespace orva {

class BackgroundQueue {
  public:
    BackgroundQueue() = default;
    ~BackgroundQueue();
    BackgroundQueue(const BackgroundQueue&) = delete;
    BackgroundQueue& operator=(const BackgroundQueue&) = delete;

    void submit(std::function<void()> job);
    void finish();

  private:
    static constexpr std::size_t kMaxWaiting = 4;
    void run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> jobs_;
    bool closing_ = false;
    ItemText text_;  // written by the background thread only
    std::thread thread_;
};

}  // namespace orva
