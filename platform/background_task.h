// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QObject;

namespace platform {

// A piece of work on a thread of its own, made, cancelled and destroyed on the
// UI thread, which learns through a queued call when the work has returned.
//
// When the thread is joined: on the UI thread only, and never while the work
// may still run for long. The thread's last act is to post its completion, and
// the completion joins it, which then returns at once; only after that is the
// done function called. A task that is no longer wanted is cancelled and left
// to end on its own: nothing waits for it. Destroying a task cancels it and
// joins it; the work looks at the cancel flag at every step that can take long
// (transfers do within a fraction of a second, sleepFor wakes at once), so this
// join is short. The thread therefore never outlives the task, so the work may
// use its owner's members; and the completion reaches the task through a link
// that the task cuts when it is destroyed, so a completion that arrives after
// the task is gone is dropped and touches nothing.
class BackgroundTask {
public:
    // Runs on the task's thread; it may use the task to look at the cancel flag
    // or to wait.
    using Work = std::function<void(const BackgroundTask &task)>;

    // Starts work at once. done runs on the UI thread after work has returned,
    // unless the task is destroyed first; done may destroy the task.
    BackgroundTask(Work work, std::function<void()> done);
    ~BackgroundTask();

    BackgroundTask(const BackgroundTask &) = delete;
    BackgroundTask &operator=(const BackgroundTask &) = delete;

    void cancel();

    // From the work's thread or any other.
    const std::atomic<bool> &cancelFlag() const { return cancelled_; }
    bool isCancelled() const { return cancelled_.load(); }
    // Waits for the duration; false when the task was cancelled meanwhile.
    bool sleepFor(std::chrono::milliseconds duration) const;

private:
    // What a posted completion reaches the task through; read and cleared on
    // the UI thread only.
    struct Link {
        BackgroundTask *task = nullptr;
    };

    void complete();

    std::function<void()> done_;
    std::shared_ptr<Link> link_;
    std::atomic<bool> cancelled_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable wake_;
    std::thread thread_; // last: started once everything above is set up
};

// Calls work once this thread's event loop is about to wait and no visible
// window waits for its first paint any more: work that the first window does
// not need then does not slow its start. Never called once context is gone,
// nor without an event loop.
void WhenWindowsShown(QObject *context, std::function<void()> work);

// Starts filling Qt's font database from fontconfig on a thread of its own.
// Qt fills it the first time text is measured, some ten milliseconds that the
// first window's making need not wait for. For the program's main(), right
// after the application object; the task is kept until main() returns.
std::unique_ptr<BackgroundTask> FillFontDatabase();

// Sets the allocator up for tasks whose large results (a parsed page, its
// text) the UI thread frees: all threads share one allocator area, so that
// what one thread frees another can use and ReturnFreeMemory can give back
// (the area of a task's own thread would keep it), and every block of 8 MiB
// or more (a large page's bytes and texts) is mapped on its own and given
// back as soon as it is freed (by default that size grows with the largest
// block freed so far, and those buffers would then stay with the
// allocator). Called first thing in main(), before any thread starts.
void SetUpAllocator();

// Gives the system back the free memory the allocator keeps.
void ReturnFreeMemory();

} // namespace platform
