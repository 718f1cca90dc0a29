// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/background_task.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QWindow>
#include <algorithm>
#include <malloc.h>

namespace platform {

BackgroundTask::BackgroundTask(Work work, std::function<void()> done)
    : done_(std::move(done)), link_(std::make_shared<Link>(Link{this})),
      thread_([this, link = link_, work = std::move(work)] {
          work(*this);
          // The thread's last act: the UI thread joins it when the call arrives.
          QMetaObject::invokeMethod(
              QCoreApplication::instance(),
              [link] {
                  if (link->task)
                      link->task->complete();
              },
              Qt::QueuedConnection);
      }) {}

BackgroundTask::~BackgroundTask() {
    link_->task = nullptr;
    cancel();
    if (thread_.joinable())
        thread_.join();
}

void BackgroundTask::cancel() {
    {
        const std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    wake_.notify_all();
}

bool BackgroundTask::sleepFor(std::chrono::milliseconds duration) const {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, duration, [this] { return cancelled_.load(); });
}

void BackgroundTask::complete() {
    link_->task = nullptr;
    thread_.join();
    // Taken out first, since done may destroy the task and with it done_.
    const std::function<void()> done = std::move(done_);
    if (done)
        done();
}

void WhenWindowsShown(QObject *context, std::function<void()> work) {
    const QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher)
        return;
    auto waiting = std::make_shared<QMetaObject::Connection>();
    *waiting = QObject::connect(
        dispatcher, &QAbstractEventDispatcher::aboutToBlock, context,
        [waiting, work = std::move(work)] {
            if (std::ranges::any_of(QGuiApplication::topLevelWindows(), [](const QWindow *window) {
                    return window->isVisible() && !window->isExposed();
                }))
                return;
            QObject::disconnect(*waiting);
            work();
        });
}

std::unique_ptr<BackgroundTask> FillFontDatabase() {
    return std::make_unique<BackgroundTask>(
        [](const BackgroundTask &) { static_cast<void>(QFontDatabase::families()); }, nullptr);
}

void SetUpAllocator() {
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 8 * 1024 * 1024);
}

void ReturnFreeMemory() {
    malloc_trim(0);
}

} // namespace platform
