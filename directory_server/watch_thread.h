// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace directory {

// The thread a store watches for changes on: it waits through stoppedBy(),
// which wakes at once when the store stops it.
class WatchThread {
public:
    WatchThread() = default;
    ~WatchThread() { stop(); }

    WatchThread(const WatchThread &) = delete;
    WatchThread &operator=(const WatchThread &) = delete;

    void start(std::function<void()> work) { thread_ = std::thread(std::move(work)); }

    // Waits until the time; true when the thread is to end.
    bool stoppedBy(std::chrono::steady_clock::time_point until) {
        std::unique_lock lock(mutex_);
        return stopped_.wait_until(lock, until, [this] { return stopping_; });
    }

    // Ends the thread and waits for it.
    void stop() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        stopped_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace directory
