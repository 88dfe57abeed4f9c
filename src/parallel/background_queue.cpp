// One background thread working through a queue of jobs.
#include "parallel/background_queue.h"

#include "parallel/image_map.h"

namespace orva {

BackgroundQueue::~BackgroundQueue() {
    finish();
}

void BackgroundQueue::submit(std::function<void()> job) {
    if (!thread_.joinable()) {
        if (worker_count() == 1 || !install_ordered_standard_streams()) {
            job();
            return;
        }
        thread_ = std::thread(&BackgroundQueue::run, this);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return jobs_.size() < kMaxWaiting; });
    jobs_.push_back(std::move(job));
    changed_.notify_all();
}

void BackgroundQueue::run() {
    CollectText collect(text_);
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return closing_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        changed_.notify_all();
        job();
    }
}

void BackgroundQueue::finish() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
    text_.emit();
    closing_ = false;
}

}  // namespace orva
