// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/answer_writer.h"

#include "directory_server/sockets.h"

#include <cerrno>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <unordered_map>

namespace directory {

namespace {

using Clock = std::chrono::steady_clock;

// How often the writer looks for stalled clients when nothing else happens.
constexpr int kSweepMs = 250;

enum class Progress { Done, Blocked, Gone };

} // namespace

struct AnswerWriter::Pending {
    Rest rest;
    std::size_t headSent = 0;
    std::size_t tailSent = 0;
    Clock::time_point lastProgress = Clock::now();

    // Sends what the socket takes now.
    Progress push() {
        for (auto [text, sent] :
             {std::pair{std::string_view(rest.head), &headSent}, std::pair{rest.tail, &tailSent}}) {
            while (*sent < text.size()) {
                const ssize_t count = SendNow(rest.fd, text.substr(*sent));
                if (count < 0) {
                    return errno == EAGAIN || errno == EINTR ? Progress::Blocked : Progress::Gone;
                }
                *sent += static_cast<std::size_t>(count);
                lastProgress = Clock::now();
            }
        }
        return Progress::Done;
    }
};

AnswerWriter::AnswerWriter(std::chrono::milliseconds stalled)
    : stalled_(stalled), epoll_(epoll_create1(EPOLL_CLOEXEC)),
      wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = wake_;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
    thread_ = std::thread([this] { run(); });
}

AnswerWriter::~AnswerWriter() {
    stop();
    thread_.join();
    close(wake_);
    close(epoll_);
}

bool AnswerWriter::send(Rest &rest) {
    auto pending = std::make_unique<Pending>();
    pending->rest = std::move(rest);
    const Progress progress = pending->push();
    if (progress == Progress::Done) {
        rest = std::move(pending->rest);
        return true;
    }
    if (progress == Progress::Gone) {
        close(pending->rest.fd);
        return false;
    }
    {
        const std::lock_guard lock(mutex_);
        if (!stopping_) {
            arriving_.push_back(std::move(pending));
        }
    }
    if (pending) { // stopping
        close(pending->rest.fd);
        return false;
    }
    const std::uint64_t one = 1;
    (void)!write(wake_, &one, sizeof one);
    return false;
}

void AnswerWriter::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    const std::uint64_t one = 1;
    (void)!write(wake_, &one, sizeof one);
}

void AnswerWriter::run() {
    std::unordered_map<int, std::unique_ptr<Pending>> writing;
    auto drop = [&](auto found) {
        epoll_ctl(epoll_, EPOLL_CTL_DEL, found->first, nullptr);
        close(found->first);
        return writing.erase(found);
    };
    epoll_event events[64];
    while (true) {
        const int count = epoll_wait(epoll_, events, 64, kSweepMs);
        for (int i = 0; i < count; ++i) {
            const int fd = events[i].data.fd;
            if (fd == wake_) {
                std::uint64_t ignored = 0;
                (void)!read(wake_, &ignored, sizeof ignored);
                std::vector<std::unique_ptr<Pending>> arrived;
                bool stopping = false;
                {
                    const std::lock_guard lock(mutex_);
                    arrived.swap(arriving_);
                    stopping = stopping_;
                }
                for (std::unique_ptr<Pending> &pending : arrived) {
                    epoll_event event{};
                    event.events = EPOLLOUT;
                    event.data.fd = pending->rest.fd;
                    epoll_ctl(epoll_, EPOLL_CTL_ADD, pending->rest.fd, &event);
                    writing.emplace(pending->rest.fd, std::move(pending));
                }
                if (stopping) {
                    for (auto found = writing.begin(); found != writing.end();) {
                        found = drop(found);
                    }
                    return;
                }
                continue;
            }
            const auto found = writing.find(fd);
            if (found == writing.end()) {
                continue;
            }
            const Progress progress = found->second->push();
            if (progress == Progress::Done) {
                epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
                const std::unique_ptr<Pending> done = std::move(found->second);
                writing.erase(found);
                done->rest.sent(fd);
            } else if (progress == Progress::Gone) {
                drop(found);
            }
        }
        const Clock::time_point now = Clock::now();
        for (auto found = writing.begin(); found != writing.end();) {
            found = now - found->second->lastProgress > stalled_ ? drop(found) : std::next(found);
        }
    }
}

} // namespace directory
